// Owners for Windows resources: each frees its resource exactly once, on every
// path, and can hand it over (release) or be reset.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>
#include <objbase.h>
#include <utility>

namespace wil
{
    namespace details
    {
        template <typename T>
        struct null_value { static T get() noexcept { return nullptr; } };
        struct invalid_handle_value { static HANDLE get() noexcept { return INVALID_HANDLE_VALUE; } };
    }

    // A unique owner of a handle-like value with a close function and an invalid value.
    template <typename T, typename Close, typename InvalidValue = details::null_value<T>>
    class unique_any
    {
    public:
        unique_any() noexcept = default;
        explicit unique_any(T value) noexcept : m_value(value) {}
        unique_any(const unique_any&) = delete;
        unique_any& operator=(const unique_any&) = delete;
        unique_any(unique_any&& other) noexcept : m_value(other.release()) {}
        unique_any& operator=(unique_any&& other) noexcept
        {
            if (this != &other)
                reset(other.release());
            return *this;
        }
        ~unique_any() { reset(); }

        T get() const noexcept { return m_value; }
        explicit operator bool() const noexcept { return m_value != InvalidValue::get(); }

        void reset(T value = InvalidValue::get()) noexcept
        {
            T old = m_value;
            m_value = value;
            if (old != InvalidValue::get())
                Close()(old);
        }
        T release() noexcept { return std::exchange(m_value, InvalidValue::get()); }

        // For out parameters: frees the current value first.
        T* put() noexcept
        {
            reset();
            return &m_value;
        }
        T* addressof() noexcept { return &m_value; }

    private:
        T m_value = InvalidValue::get();
    };

    namespace details
    {
        struct close_handle { void operator()(HANDLE h) const noexcept { ::CloseHandle(h); } };
        struct find_close { void operator()(HANDLE h) const noexcept { ::FindClose(h); } };
        struct reg_close_key { void operator()(HKEY h) const noexcept { ::RegCloseKey(h); } };
        struct free_library { void operator()(HMODULE h) const noexcept { ::FreeLibrary(h); } };
        struct sys_free_string { void operator()(BSTR s) const noexcept { ::SysFreeString(s); } };
    }

    using unique_handle = unique_any<HANDLE, details::close_handle>;
    using unique_hfile = unique_any<HANDLE, details::close_handle, details::invalid_handle_value>;
    using unique_hfind = unique_any<HANDLE, details::find_close, details::invalid_handle_value>;
    using unique_hkey = unique_any<HKEY, details::reg_close_key>;
    using unique_hmodule = unique_any<HMODULE, details::free_library>;
    using unique_bstr = unique_any<BSTR, details::sys_free_string>;

    // Allocates a BSTR from a NUL-terminated wide string (the copy ends at the first NUL).
    inline unique_bstr make_bstr_nothrow(const wchar_t* text) noexcept
    {
        return unique_bstr(::SysAllocString(text));
    }

    // Owns one CoInitializeEx on this thread: CoUninitialize runs only when it succeeded.
    class unique_couninitialize_call
    {
    public:
        explicit unique_couninitialize_call(DWORD coinit = COINIT_APARTMENTTHREADED) noexcept
            : m_hr(::CoInitializeEx(nullptr, coinit))
        {
        }
        ~unique_couninitialize_call()
        {
            if (SUCCEEDED(m_hr))
                ::CoUninitialize();
        }
        unique_couninitialize_call(const unique_couninitialize_call&) = delete;
        unique_couninitialize_call& operator=(const unique_couninitialize_call&) = delete;
        HRESULT Result() const noexcept { return m_hr; }

    private:
        HRESULT m_hr;
    };

    // A COM interface pointer that holds one reference.
    template <typename T>
    class com_ptr
    {
    public:
        com_ptr() noexcept = default;
        com_ptr(std::nullptr_t) noexcept {}
        com_ptr(T* p) noexcept : m_ptr(p)
        {
            if (m_ptr)
                m_ptr->AddRef();
        }
        com_ptr(const com_ptr& other) noexcept : com_ptr(other.m_ptr) {}
        com_ptr(com_ptr&& other) noexcept : m_ptr(std::exchange(other.m_ptr, nullptr)) {}
        com_ptr& operator=(com_ptr other) noexcept
        {
            std::swap(m_ptr, other.m_ptr);
            return *this;
        }
        ~com_ptr() { reset(); }

        T* get() const noexcept { return m_ptr; }
        T* operator->() const noexcept { return m_ptr; }
        explicit operator bool() const noexcept { return m_ptr != nullptr; }

        void reset() noexcept
        {
            if (T* old = std::exchange(m_ptr, nullptr))
                old->Release();
        }
        // Takes over a reference the caller already owns.
        void attach(T* p) noexcept
        {
            reset();
            m_ptr = p;
        }
        T* detach() noexcept { return std::exchange(m_ptr, nullptr); }

        T** put() noexcept
        {
            reset();
            return &m_ptr;
        }
        void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
        IUnknown** put_unknown() noexcept { return reinterpret_cast<IUnknown**>(put()); }

        template <typename U>
        HRESULT query_to(U** result) const noexcept
        {
            return m_ptr->QueryInterface(__uuidof(U), reinterpret_cast<void**>(result));
        }
        HRESULT query_to(REFIID riid, void** result) const noexcept
        {
            return m_ptr->QueryInterface(riid, result);
        }

    private:
        T* m_ptr = nullptr;
    };
}
