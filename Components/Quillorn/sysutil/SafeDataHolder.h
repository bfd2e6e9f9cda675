// Values guarded by their own Win32 critical section. Every read or write of
// the value happens inside the section; reads hand out copies.
#pragma once

#include <windows.h>
#include <utility>

namespace sysutil
{
    // Owns an initialised CRITICAL_SECTION for the lifetime of the object.
    class CCriticalSection
    {
    public:
        CCriticalSection() noexcept { ::InitializeCriticalSection(&m_cs); }
        ~CCriticalSection() { ::DeleteCriticalSection(&m_cs); }
        CCriticalSection(const CCriticalSection&) = delete;
        CCriticalSection& operator=(const CCriticalSection&) = delete;

        void Enter() noexcept { ::EnterCriticalSection(&m_cs); }
        void Leave() noexcept { ::LeaveCriticalSection(&m_cs); }
        bool TryEnter() noexcept { return ::TryEnterCriticalSection(&m_cs) != FALSE; }

    private:
        CRITICAL_SECTION m_cs;
    };

    // Holds a critical section from construction to destruction.
    class CCriticalSectionLock
    {
    public:
        explicit CCriticalSectionLock(CCriticalSection& cs) noexcept : m_cs(cs) { m_cs.Enter(); }
        ~CCriticalSectionLock() { m_cs.Leave(); }
        CCriticalSectionLock(const CCriticalSectionLock&) = delete;
        CCriticalSectionLock& operator=(const CCriticalSectionLock&) = delete;

    private:
        CCriticalSection& m_cs;
    };

    // A value with its own critical section; the value's owner decides what a
    // held pointer means (the holder never deletes it). Destroyed polymorphically.
    template <typename T>
    class CSafeDataHolder
    {
    public:
        CSafeDataHolder() : m_data() {}
        explicit CSafeDataHolder(const T& data) : m_data(data) {}
        virtual ~CSafeDataHolder() = default;
        CSafeDataHolder(const CSafeDataHolder&) = delete;
        CSafeDataHolder& operator=(const CSafeDataHolder&) = delete;

        T Get()
        {
            CCriticalSectionLock lock(m_cs);
            return m_data;
        }

        void Set(const T& data)
        {
            CCriticalSectionLock lock(m_cs);
            m_data = data;
        }

        // Runs action(T&) inside the critical section and returns its result.
        template <typename Action>
        decltype(auto) Locked(Action&& action)
        {
            CCriticalSectionLock lock(m_cs);
            return std::forward<Action>(action)(m_data);
        }

    private:
        CCriticalSection m_cs;
        T m_data;
    };

    // The same guarded value for plain fields that are never destroyed through a base.
    template <typename T>
    class CGuardedValue
    {
    public:
        CGuardedValue() : m_data() {}
        explicit CGuardedValue(const T& data) : m_data(data) {}
        CGuardedValue(const CGuardedValue&) = delete;
        CGuardedValue& operator=(const CGuardedValue&) = delete;

        T Get()
        {
            CCriticalSectionLock lock(m_cs);
            return m_data;
        }

        void Set(const T& data)
        {
            CCriticalSectionLock lock(m_cs);
            m_data = data;
        }

        template <typename Action>
        decltype(auto) Locked(Action&& action)
        {
            CCriticalSectionLock lock(m_cs);
            return std::forward<Action>(action)(m_data);
        }

    private:
        CCriticalSection m_cs;
        T m_data;
    };
}
