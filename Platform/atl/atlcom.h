// Objects of our COM server framework: the wrappers that give a class its
// IUnknown (plain, aggregated, contained), creators and the class factory,
// class identity and the object map entry, enumerators and connection points.
#pragma once

#include "atlbase.h"

#include <utility>
#include <vector>

namespace atl
{
    // -----------------------------------------------------------------------
    // IUnknown wrappers

    // A stand-alone object: its own count; holds a DLL lock while alive.
    template <class Base>
    class CComObject : public Base
    {
    public:
        explicit CComObject(void* = nullptr) noexcept { AtlModuleLock(); }
        // The unlock comes first, then the class's members, then its bases.
        virtual ~CComObject() { AtlModuleUnlock(); }

        STDMETHOD_(ULONG, AddRef)() override { return this->InternalAddRef(); }
        STDMETHOD_(ULONG, Release)() override { return this->ReleaseAndDeleteAtZero(this); }
        STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override { return this->_InternalQueryInterface(iid, ppv); }

        // A new object with count 0; the caller queries it for an interface.
        static HRESULT WINAPI CreateInstance(CComObject<Base>** pp) noexcept
        {
            RETURN_HR_IF_NULL(E_POINTER, pp);
            *pp = nullptr;
            try
            {
                *pp = new (std::nothrow) CComObject<Base>();
                return *pp ? S_OK : E_OUTOFMEMORY;
            }
            CATCH_RETURN()
        }
    };

    // The part of an aggregated object that the outer object's clients see:
    // every interface delegates IUnknown to the outer object.
    template <class Base>
    class CComContainedObject : public Base
    {
    public:
        explicit CComContainedObject(void* pv) noexcept { this->m_pOuterUnknown = static_cast<IUnknown*>(pv); }

        STDMETHOD_(ULONG, AddRef)() override { return this->OuterAddRef(); }
        STDMETHOD_(ULONG, Release)() override { return this->OuterRelease(); }
        STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override { return this->OuterQueryInterface(iid, ppv); }
    };

    // An aggregated object: this is the inner, non-delegating IUnknown with
    // its own count; the class itself lives in m_contained.
    template <class contained>
    class CComAggObject : public IUnknown, public CComObjectRootEx<typename contained::_ThreadModel>
    {
    public:
        explicit CComAggObject(void* pv) : m_contained(pv) { AtlModuleLock(); }
        virtual ~CComAggObject() { AtlModuleUnlock(); }

        STDMETHOD_(ULONG, AddRef)() override { return this->InternalAddRef(); }
        STDMETHOD_(ULONG, Release)() override { return this->ReleaseAndDeleteAtZero(this); }
        STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
        {
            RETURN_HR_IF_NULL(E_POINTER, ppv);
            *ppv = nullptr;
            if (::InlineIsEqualGUID(iid, IID_IUnknown))
            {
                *ppv = static_cast<IUnknown*>(this);
                AddRef();
                return S_OK;
            }
            return m_contained._InternalQueryInterface(iid, ppv);
        }

        CComContainedObject<contained> m_contained;
    };

    // The cached class object: the cache's own reference does not lock the
    // DLL, every further one does (count 1 -> 2 locks, 2 -> 1 unlocks).
    template <class Base>
    class CComObjectCached : public Base
    {
    public:
        explicit CComObjectCached(void* = nullptr) noexcept {}
        virtual ~CComObjectCached() = default;

        STDMETHOD_(ULONG, AddRef)() override
        {
            const ULONG count = this->InternalAddRef();
            if (count == 2)
                AtlModuleLock();
            return count;
        }
        STDMETHOD_(ULONG, Release)() override
        {
            const ULONG count = this->InternalRelease();
            if (count == 0)
                delete this;
            else if (count == 1)
                AtlModuleUnlock();
            return count;
        }
        STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override { return this->_InternalQueryInterface(iid, ppv); }
    };

    // -----------------------------------------------------------------------
    // Creators

    template <class T1>
    class CComCreator
    {
    public:
        static HRESULT WINAPI CreateInstance(void* pv, REFIID riid, void** ppv) noexcept
        {
            RETURN_HR_IF_NULL(E_POINTER, ppv);
            *ppv = nullptr;
            try
            {
                T1* object = new (std::nothrow) T1(pv);
                RETURN_HR_IF_NULL(E_OUTOFMEMORY, object);
                object->SetVoid(pv);
                const HRESULT hr = object->QueryInterface(riid, ppv);
                if (FAILED(hr))
                    delete object; // nobody holds a reference yet
                return hr;
            }
            CATCH_RETURN()
        }
    };

    // T1 without an outer object, T2 with one.
    template <class T1, class T2>
    class CComCreator2
    {
    public:
        static HRESULT WINAPI CreateInstance(void* pv, REFIID riid, void** ppv) noexcept
        {
            return pv ? T2::CreateInstance(pv, riid, ppv) : T1::CreateInstance(pv, riid, ppv);
        }
    };

    // -----------------------------------------------------------------------
    // Class factory and class identity

    class ATL_NO_VTABLE CComClassFactory : public IClassFactory, public CComObjectRootEx<CComMultiThreadModel>
    {
    public:
        BEGIN_COM_MAP(CComClassFactory)
            COM_INTERFACE_ENTRY(IClassFactory)
        END_COM_MAP()

        STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override
        {
            RETURN_HR_IF_NULL(E_POINTER, ppvObject);
            *ppvObject = nullptr;
            RETURN_HR_IF(CLASS_E_NOAGGREGATION, pUnkOuter && !::InlineIsEqualGUID(riid, IID_IUnknown));
            return m_pfnCreateInstance(pUnkOuter, riid, ppvObject);
        }

        STDMETHOD(LockServer)(BOOL fLock) override
        {
            if (fLock)
                AtlModuleLock();
            else
                AtlModuleUnlock();
            return S_OK;
        }

        // The creator of the class this factory makes, from the object map.
        void SetVoid(void* pv) noexcept { m_pfnCreateInstance = reinterpret_cast<_ATL_CREATORFUNC*>(pv); }

    private:
        _ATL_CREATORFUNC* m_pfnCreateInstance = nullptr;
    };

#define DECLARE_CLASSFACTORY()                                                                       \
    using _ClassFactoryCreatorClass = ::atl::CComCreator<::atl::CComObjectCached<::atl::CComClassFactory>>;

#define DECLARE_AGGREGATABLE(x)                                                                      \
    using _CreatorClass = ::atl::CComCreator2<::atl::CComCreator<::atl::CComObject<x>>,              \
                                              ::atl::CComCreator<::atl::CComAggObject<x>>>;

    // What the object map needs to know of a creatable class.
    template <class T, const CLSID* pclsid>
    class CComCoClass
    {
    public:
        DECLARE_CLASSFACTORY()
        DECLARE_AGGREGATABLE(T)

        static const CLSID& WINAPI GetObjectCLSID() noexcept { return *pclsid; }
    };

// Adds the class to the module's object map.
#define OBJECT_ENTRY_AUTO(clsid, x)                                                                  \
    inline ::atl::_ATL_OBJMAP_ENTRY AtlObjMapEntry_##x = {                                           \
        &clsid, x::UpdateRegistry, x::_ClassFactoryCreatorClass::CreateInstance,                     \
        x::_CreatorClass::CreateInstance, x::ObjectMain, nullptr, nullptr};                          \
    inline ::atl::CObjectMapLink AtlObjMapLink_##x{AtlObjMapEntry_##x};

    // -----------------------------------------------------------------------
    // Enumerators

    // Copy policies: an enumerator owns one reference per element.
    template <class I>
    struct _CopyInterface
    {
        static void copy(I** to, I* const* from) noexcept
        {
            *to = *from;
            if (*to)
                (*to)->AddRef();
        }
        static void destroy(I** p) noexcept
        {
            if (*p)
                (*p)->Release();
        }
    };

    struct _CopyConnectData
    {
        static void copy(CONNECTDATA* to, const CONNECTDATA* from) noexcept
        {
            *to = *from;
            if (to->pUnk)
                to->pUnk->AddRef();
        }
        static void destroy(CONNECTDATA* p) noexcept
        {
            if (p->pUnk)
                p->pUnk->Release();
        }
    };

    // An enumerator over a snapshot; it keeps its owner alive and, being a
    // CComObject, holds a DLL lock.
    template <class Base, const IID* piid, class T, class Copy>
    class ATL_NO_VTABLE CComEnum : public Base, public CComObjectRootEx<CComSingleThreadModel>
    {
    public:
        BEGIN_COM_MAP(CComEnum)
            COM_INTERFACE_ENTRY_IID(*piid, Base)
        END_COM_MAP()

        ~CComEnum()
        {
            for (T& item : m_items)
                Copy::destroy(&item);
        }

        // Takes over `items`, whose references the caller already added.
        void Init(IUnknown* owner, std::vector<T>&& items, size_t position = 0) noexcept
        {
            m_owner = owner;
            m_items = std::move(items);
            m_position = position;
        }

        // Makes an enumerator with its own references to `items`.
        static HRESULT Create(IUnknown* owner, const T* items, size_t count, size_t position, Base** ppEnum) noexcept
        {
            RETURN_HR_IF_NULL(E_POINTER, ppEnum);
            *ppEnum = nullptr;
            try
            {
                std::vector<T> copies(count);
                CComObject<CComEnum>* object = nullptr;
                RETURN_IF_FAILED(CComObject<CComEnum>::CreateInstance(&object));
                for (size_t i = 0; i < count; ++i)
                    Copy::copy(&copies[i], &items[i]);
                object->Init(owner, std::move(copies), position);
                const HRESULT hr = object->QueryInterface(*piid, reinterpret_cast<void**>(ppEnum));
                if (FAILED(hr))
                    delete object;
                return hr;
            }
            CATCH_RETURN()
        }

        STDMETHOD(Next)(ULONG celt, T* rgelt, ULONG* pceltFetched) override
        {
            if (pceltFetched)
                *pceltFetched = 0;
            RETURN_HR_IF(E_POINTER, rgelt == nullptr || (celt > 1 && pceltFetched == nullptr));
            ULONG fetched = 0;
            while (fetched < celt && m_position < m_items.size())
                Copy::copy(&rgelt[fetched++], &m_items[m_position++]);
            if (pceltFetched)
                *pceltFetched = fetched;
            return fetched == celt ? S_OK : S_FALSE;
        }

        STDMETHOD(Skip)(ULONG celt) override
        {
            const size_t left = m_items.size() - m_position;
            if (celt > left)
            {
                m_position = m_items.size();
                return S_FALSE;
            }
            m_position += celt;
            return S_OK;
        }

        STDMETHOD(Reset)() override
        {
            m_position = 0;
            return S_OK;
        }

        STDMETHOD(Clone)(Base** ppEnum) override
        {
            return Create(m_owner.get(), m_items.data(), m_items.size(), m_position, ppEnum);
        }

    private:
        wil::com_ptr<IUnknown> m_owner;
        std::vector<T> m_items;
        size_t m_position = 0;
    };

    using CComEnumConnectionPoints =
        CComEnum<IEnumConnectionPoints, &IID_IEnumConnectionPoints, IConnectionPoint*, _CopyInterface<IConnectionPoint>>;
    using CComEnumConnections = CComEnum<IEnumConnections, &IID_IEnumConnections, CONNECTDATA, _CopyConnectData>;

    // -----------------------------------------------------------------------
    // Connection points

    // The connection point for dispinterface *piid of class T, which derives
    // from this template. The IConnectionPoint itself is a member: its
    // QueryInterface answers only for the point, while the class's table
    // answers for the object.
    template <class T, const IID* piid>
    class IConnectionPointImpl
    {
    public:
        IConnectionPoint* GetConnectionPoint() noexcept { return &m_point; }

    private:
        class Point : public IConnectionPoint
        {
        public:
            explicit Point(IConnectionPointImpl* impl) noexcept : m_impl(impl) {}

            STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
            {
                RETURN_HR_IF_NULL(E_POINTER, ppv);
                *ppv = nullptr;
                RETURN_HR_IF(E_NOINTERFACE, !::InlineIsEqualGUID(iid, IID_IConnectionPoint) &&
                                                !::InlineIsEqualGUID(iid, IID_IUnknown));
                AddRef();
                *ppv = static_cast<IConnectionPoint*>(this);
                return S_OK;
            }
            // The point lives inside the object: the object's count serves.
            STDMETHOD_(ULONG, AddRef)() override { return Owner()->AddRef(); }
            STDMETHOD_(ULONG, Release)() override { return Owner()->Release(); }

            STDMETHOD(GetConnectionInterface)(IID* pIID) override
            {
                RETURN_HR_IF_NULL(E_POINTER, pIID);
                *pIID = *piid;
                return S_OK;
            }

            STDMETHOD(GetConnectionPointContainer)(IConnectionPointContainer** ppCPC) override
            {
                RETURN_HR_IF_NULL(E_POINTER, ppCPC);
                *ppCPC = nullptr;
                return Owner()->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(ppCPC));
            }

            STDMETHOD(Advise)(IUnknown* pUnkSink, DWORD* pdwCookie) override
            {
                RETURN_HR_IF(E_POINTER, pUnkSink == nullptr || pdwCookie == nullptr);
                *pdwCookie = 0;
                wil::com_ptr<IUnknown> sink;
                const HRESULT hr = pUnkSink->QueryInterface(*piid, sink.put_void());
                RETURN_HR_IF(CONNECT_E_CANNOTCONNECT, hr == E_NOINTERFACE);
                RETURN_IF_FAILED(hr);
                try
                {
                    DWORD cookie = m_impl->m_nextCookie++;
                    if (cookie == 0)
                        cookie = m_impl->m_nextCookie++;
                    m_impl->m_sinks.emplace_back(cookie, std::move(sink));
                    *pdwCookie = cookie;
                    return S_OK;
                }
                catch (...)
                {
                    return CONNECT_E_ADVISELIMIT; // `sink` still owns the reference and drops it
                }
            }

            STDMETHOD(Unadvise)(DWORD dwCookie) override
            {
                auto& sinks = m_impl->m_sinks;
                for (auto it = sinks.begin(); it != sinks.end(); ++it)
                    if (it->first == dwCookie)
                    {
                        // Released after the list is consistent again.
                        wil::com_ptr<IUnknown> sink = std::move(it->second);
                        sinks.erase(it);
                        return S_OK;
                    }
                return CONNECT_E_NOCONNECTION;
            }

            STDMETHOD(EnumConnections)(IEnumConnections** ppEnum) override
            {
                RETURN_HR_IF_NULL(E_POINTER, ppEnum);
                *ppEnum = nullptr;
                try
                {
                    std::vector<CONNECTDATA> snapshot;
                    snapshot.reserve(m_impl->m_sinks.size());
                    for (const auto& sink : m_impl->m_sinks)
                        snapshot.push_back(CONNECTDATA{sink.second.get(), sink.first});
                    return CComEnumConnections::Create(static_cast<IConnectionPoint*>(this), snapshot.data(),
                                                       snapshot.size(), 0, ppEnum);
                }
                CATCH_RETURN()
            }

        private:
            T* Owner() noexcept { return static_cast<T*>(m_impl); }

            IConnectionPointImpl* m_impl;
        };

        Point m_point{this};
        std::vector<std::pair<DWORD, wil::com_ptr<IUnknown>>> m_sinks; // released when the object goes
        DWORD m_nextCookie = 1;
    };

    // One row of a class's connection-point map.
    struct _ATL_CONNMAP_ENTRY
    {
        const IID* piid;
        IConnectionPoint* (*pfnLocate)(void* owner);
    };

#define BEGIN_CONNECTION_POINT_MAP(x)                                                                \
    using _CPMapClass = x;                                                                           \
    static const ::atl::_ATL_CONNMAP_ENTRY* GetConnMap() noexcept                                    \
    {                                                                                                \
        static const ::atl::_ATL_CONNMAP_ENTRY entries[] = {

#define CONNECTION_POINT_ENTRY(iid)                                                                  \
    {&iid, [](void* owner) -> IConnectionPoint* {                                                    \
         return static_cast<::atl::IConnectionPointImpl<_CPMapClass, &iid>*>(                         \
                    static_cast<_CPMapClass*>(owner))                                                \
             ->GetConnectionPoint();                                                                 \
     }},

#define END_CONNECTION_POINT_MAP()                                                                   \
    {nullptr, nullptr}                                                                               \
    }                                                                                                \
    ;                                                                                                \
    return entries;                                                                                  \
    }

    template <class T>
    class ATL_NO_VTABLE IConnectionPointContainerImpl : public IConnectionPointContainer
    {
    public:
        STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints** ppEnum) override
        {
            RETURN_HR_IF_NULL(E_POINTER, ppEnum);
            *ppEnum = nullptr;
            try
            {
                std::vector<IConnectionPoint*> points;
                for (const _ATL_CONNMAP_ENTRY* entry = T::GetConnMap(); entry->piid; ++entry)
                    points.push_back(entry->pfnLocate(static_cast<T*>(this)));
                return CComEnumConnectionPoints::Create(static_cast<IConnectionPointContainer*>(this), points.data(),
                                                        points.size(), 0, ppEnum);
            }
            CATCH_RETURN()
        }

        STDMETHOD(FindConnectionPoint)(REFIID riid, IConnectionPoint** ppCP) override
        {
            RETURN_HR_IF_NULL(E_POINTER, ppCP);
            *ppCP = nullptr;
            for (const _ATL_CONNMAP_ENTRY* entry = T::GetConnMap(); entry->piid; ++entry)
                if (::InlineIsEqualGUID(riid, *entry->piid))
                {
                    IConnectionPoint* point = entry->pfnLocate(static_cast<T*>(this));
                    point->AddRef();
                    *ppCP = point;
                    return S_OK;
                }
            return CONNECT_E_NOCONNECTION;
        }
    };
}
