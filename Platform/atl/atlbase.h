// The base of our small COM server framework: threading models, the object
// root with its interface table, the module (lock count, termination list,
// registration) and IDispatch over a registered type library.
//
// A class states what it is through its base list and its maps; the templates
// here and in atlcom.h supply IUnknown, creation and registration.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <new>

#include <wil/resource.h>
#include <wil/result.h>

#include "atlregistrar.h"

// GCC has no novtable layout optimisation; the marker stays for the reader.
#ifndef ATL_NO_VTABLE
#define ATL_NO_VTABLE
#endif

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace atl
{
    // -----------------------------------------------------------------------
    // Critical sections and threading models

    // A Win32 critical section whose initialisation can fail without throwing.
    class CComCriticalSection
    {
    public:
        CComCriticalSection() noexcept = default;
        ~CComCriticalSection() { Term(); }
        CComCriticalSection(const CComCriticalSection&) = delete;
        CComCriticalSection& operator=(const CComCriticalSection&) = delete;

        HRESULT Init() noexcept
        {
            if (!::InitializeCriticalSectionAndSpinCount(&m_sec, 0))
                return HRESULT_FROM_WIN32(::GetLastError());
            m_initialised = true;
            return S_OK;
        }
        void Term() noexcept
        {
            if (m_initialised)
                ::DeleteCriticalSection(&m_sec);
            m_initialised = false;
        }
        void Lock() noexcept { ::EnterCriticalSection(&m_sec); }
        void Unlock() noexcept { ::LeaveCriticalSection(&m_sec); }

    private:
        CRITICAL_SECTION m_sec{};
        bool m_initialised = false;
    };

    class CComCritSecLock
    {
    public:
        explicit CComCritSecLock(CComCriticalSection& cs) noexcept : m_cs(cs) { m_cs.Lock(); }
        ~CComCritSecLock() { m_cs.Unlock(); }
        CComCritSecLock(const CComCritSecLock&) = delete;
        CComCritSecLock& operator=(const CComCritSecLock&) = delete;

    private:
        CComCriticalSection& m_cs;
    };

    // Apartment objects: only their own thread touches the count.
    struct CComSingleThreadModel
    {
        static ULONG WINAPI Increment(LONG* p) noexcept { return static_cast<ULONG>(++*p); }
        static ULONG WINAPI Decrement(LONG* p) noexcept { return static_cast<ULONG>(--*p); }
    };

    // Objects reached from any thread (class factories).
    struct CComMultiThreadModel
    {
        static ULONG WINAPI Increment(LONG* p) noexcept { return static_cast<ULONG>(::InterlockedIncrement(p)); }
        static ULONG WINAPI Decrement(LONG* p) noexcept { return static_cast<ULONG>(::InterlockedDecrement(p)); }
    };

    // -----------------------------------------------------------------------
    // The object root and the interface table

    // One row of a class's interface table: the IID and the offset of the
    // base class that answers it.
    struct _ATL_INTMAP_ENTRY
    {
        const IID* piid;
        DWORD_PTR offset;
    };

    class CComObjectRootBase
    {
    public:
        // Per-class start-up and shutdown hook run by the module; nothing by default.
        static void WINAPI ObjectMain(bool /*starting*/) noexcept {}
        // Creation argument for classes that need one (the class factory).
        void SetVoid(void* /*pv*/) noexcept {}

        ULONG OuterAddRef() noexcept { return m_pOuterUnknown->AddRef(); }
        ULONG OuterRelease() noexcept { return m_pOuterUnknown->Release(); }
        HRESULT OuterQueryInterface(REFIID iid, void** ppv) noexcept
        {
            return m_pOuterUnknown->QueryInterface(iid, ppv);
        }

        // Walks the table in order; IUnknown is the first row, the identity.
        static HRESULT WINAPI InternalQueryInterface(void* pThis, const _ATL_INTMAP_ENTRY* entries, REFIID iid,
                                                     void** ppv) noexcept
        {
            RETURN_HR_IF_NULL(E_POINTER, ppv);
            *ppv = nullptr;
            const _ATL_INTMAP_ENTRY* found = nullptr;
            if (::InlineIsEqualGUID(iid, IID_IUnknown))
                found = entries;
            else
                for (const _ATL_INTMAP_ENTRY* entry = entries; entry->piid; ++entry)
                    if (::InlineIsEqualGUID(iid, *entry->piid))
                    {
                        found = entry;
                        break;
                    }
            RETURN_HR_IF(E_NOINTERFACE, found == nullptr || found->piid == nullptr);
            auto* unknown = reinterpret_cast<IUnknown*>(static_cast<BYTE*>(pThis) + found->offset);
            unknown->AddRef();
            *ppv = unknown;
            return S_OK;
        }

    protected:
        LONG m_dwRef = 0;
        IUnknown* m_pOuterUnknown = nullptr; // set only inside an aggregate
    };

    template <class ThreadModel>
    class CComObjectRootEx : public CComObjectRootBase
    {
    public:
        using _ThreadModel = ThreadModel;

        ULONG InternalAddRef() noexcept { return ThreadModel::Increment(&m_dwRef); }
        ULONG InternalRelease() noexcept { return ThreadModel::Decrement(&m_dwRef); }

    protected:
        // Drops one reference of the outermost object; at zero it deletes itself,
        // with the count pinned at 1 so AddRef/Release pairs made during
        // destruction cannot reach zero a second time.
        template <class Self>
        static ULONG ReleaseAndDeleteAtZero(Self* self)
        {
            const ULONG count = self->InternalRelease();
            if (count == 0)
            {
                self->m_dwRef = 1;
                delete self;
            }
            return count;
        }
    };

// Offset of base class `base` inside `derived`, computed on a dummy address
// so that multiple inheritance adjustments show up.
#define offsetofclass(base, derived)                                                                 \
    (reinterpret_cast<DWORD_PTR>(static_cast<base*>(reinterpret_cast<derived*>(8))) - 8)

// The interface table. END_COM_MAP also leaves IUnknown abstract in the class:
// the wrappers of atlcom.h (plain, aggregated, contained) decide what it does.
#define BEGIN_COM_MAP(x)                                                                             \
public:                                                                                              \
    using _ComMapClass = x;                                                                          \
    HRESULT _InternalQueryInterface(REFIID iid, void** ppv) noexcept                                 \
    {                                                                                                \
        return ::atl::CComObjectRootBase::InternalQueryInterface(this, _GetEntries(), iid, ppv);     \
    }                                                                                                \
    static const ::atl::_ATL_INTMAP_ENTRY* WINAPI _GetEntries() noexcept                             \
    {                                                                                                \
        static const ::atl::_ATL_INTMAP_ENTRY entries[] = {

#define COM_INTERFACE_ENTRY(x) {&IID_##x, offsetofclass(x, _ComMapClass)},
#define COM_INTERFACE_ENTRY_IID(iid, x) {&(iid), offsetofclass(x, _ComMapClass)},
// Answers `x` with the `x` part of base `x2` (for an interface inherited twice).
#define COM_INTERFACE_ENTRY2(x, x2)                                                                  \
    {&IID_##x, reinterpret_cast<DWORD_PTR>(static_cast<x*>(static_cast<x2*>(                         \
                   reinterpret_cast<_ComMapClass*>(8)))) - 8},

#define END_COM_MAP()                                                                                \
    {nullptr, 0}                                                                                     \
    }                                                                                                \
    ;                                                                                                \
    return entries;                                                                                  \
    }                                                                                                \
    STDMETHOD_(ULONG, AddRef)() = 0;                                                                 \
    STDMETHOD_(ULONG, Release)() = 0;                                                                \
    STDMETHOD(QueryInterface)(REFIID, void**) = 0;

    // -----------------------------------------------------------------------
    // The module

    // Runs at module destruction; registered with CAtlModule::AddTermFunc.
    using _ATL_TERMFUNC = void(WINAPI*)(void* pv);

    // Creates an object (or class object) for `pv` (outer unknown or creation
    // argument) and queries it for riid.
    typedef HRESULT WINAPI _ATL_CREATORFUNC(void* pv, REFIID riid, void** ppv);

    // One class of the server: filled in by OBJECT_ENTRY_AUTO.
    struct _ATL_OBJMAP_ENTRY
    {
        const CLSID* pclsid;
        HRESULT(WINAPI* pfnUpdateRegistry)(BOOL bRegister);
        _ATL_CREATORFUNC* pfnGetClassObject;
        _ATL_CREATORFUNC* pfnCreateInstance;
        void(WINAPI* pfnObjectMain)(bool starting);
        std::atomic<IUnknown*> pCF; // cached class object, made on first request
        _ATL_OBJMAP_ENTRY* pNext;
    };

    // The object map is a list built during static initialisation, so a class
    // joins it by naming itself in its own header (OBJECT_ENTRY_AUTO).
    inline _ATL_OBJMAP_ENTRY* g_pObjMapHead = nullptr;

    struct CObjectMapLink
    {
        explicit CObjectMapLink(_ATL_OBJMAP_ENTRY& entry) noexcept
        {
            _ATL_OBJMAP_ENTRY** tail = &g_pObjMapHead;
            while (*tail)
                tail = &(*tail)->pNext;
            *tail = &entry;
        }
    };

    class CAtlModule;
    // The one module of this binary; null until its constructor runs.
    inline CAtlModule* _pAtlModule = nullptr;

    class CAtlModule
    {
    public:
        static inline GUID m_libid = GUID_NULL;

        CAtlModule() noexcept
        {
            _pAtlModule = this;
            if (FAILED(m_csStaticDataInitAndTypeInfo.Init()))
                m_bInitFailed = true;
        }
        virtual ~CAtlModule()
        {
            Term();
            _pAtlModule = nullptr;
        }
        CAtlModule(const CAtlModule&) = delete;
        CAtlModule& operator=(const CAtlModule&) = delete;

        LONG Lock() noexcept { return ::InterlockedIncrement(&m_nLockCnt); }
        LONG Unlock() noexcept { return ::InterlockedDecrement(&m_nLockCnt); }
        LONG GetLockCount() const noexcept { return m_nLockCnt; }

        HRESULT AddTermFunc(_ATL_TERMFUNC pFunc, void* pv) noexcept;

        // Runs one REGISTRY resource of this module with %MODULE% and the
        // module's common replacements (APPID) plus `extra`.
        HRESULT UpdateRegistryFromResource(UINT nResID, BOOL bRegister,
                                           const _ATL_REGMAP_ENTRY* extra = nullptr) noexcept;

        HRESULT RegisterTypeLib() noexcept;
        HRESULT UnRegisterTypeLib() noexcept;

        virtual HRESULT AddCommonRGSReplacements(CRegObject& registrar) noexcept = 0;

        CComCriticalSection m_csStaticDataInitAndTypeInfo; // type information, termination list
        bool m_bInitFailed = false;

    protected:
        void Term() noexcept;

    private:
        struct TermFuncElem
        {
            _ATL_TERMFUNC pFunc;
            void* pv;
            TermFuncElem* pNext;
        };

        volatile LONG m_nLockCnt = 0;
        TermFuncElem* m_pTermFuncs = nullptr;
        bool m_bTerminated = false;
    };

    inline void AtlModuleLock() noexcept
    {
        if (_pAtlModule)
            _pAtlModule->Lock();
    }
    inline void AtlModuleUnlock() noexcept
    {
        if (_pAtlModule)
            _pAtlModule->Unlock();
    }

    inline HRESULT AtlUpdateRegistryFromResource(UINT nResID, BOOL bRegister) noexcept
    {
        RETURN_HR_IF_NULL(E_UNEXPECTED, _pAtlModule);
        return _pAtlModule->UpdateRegistryFromResource(nResID, bRegister);
    }

    // Registration runs under LOCALE_SYSTEM_DEFAULT; the caller's thread locale
    // comes back on every path.
    class CThreadLocaleScope
    {
    public:
        CThreadLocaleScope() noexcept : m_saved(::GetThreadLocale()) { ::SetThreadLocale(LOCALE_SYSTEM_DEFAULT); }
        ~CThreadLocaleScope() { ::SetThreadLocale(m_saved); }
        CThreadLocaleScope(const CThreadLocaleScope&) = delete;
        CThreadLocaleScope& operator=(const CThreadLocaleScope&) = delete;

    private:
        LCID m_saved;
    };

    template <class T>
    class CAtlModuleT : public CAtlModule
    {
    public:
        CAtlModuleT() noexcept { T::InitLibId(); }

        // Defaults for a module that declares no LIBID or AppID.
        static void InitLibId() noexcept {}
        static LPCOLESTR GetAppId() noexcept { return nullptr; }
        static HRESULT WINAPI UpdateRegistryAppId(BOOL /*bRegister*/) noexcept { return S_OK; }

        HRESULT AddCommonRGSReplacements(CRegObject& registrar) noexcept override
        {
            LPCOLESTR appId = T::GetAppId();
            return appId ? registrar.AddReplacement(L"APPID", appId) : S_OK;
        }

        // AppID script, then each class's script, then the type library.
        HRESULT RegisterServer(BOOL bRegTypeLib) noexcept
        {
            CThreadLocaleScope locale;
            RETURN_IF_FAILED(T::UpdateRegistryAppId(TRUE));
            for (_ATL_OBJMAP_ENTRY* entry = g_pObjMapHead; entry; entry = entry->pNext)
                RETURN_IF_FAILED(entry->pfnUpdateRegistry(TRUE));
            return bRegTypeLib ? RegisterTypeLib() : S_OK;
        }

        // The reverse: classes, type library, then the AppID script.
        HRESULT UnregisterServer(BOOL bUnRegTypeLib) noexcept
        {
            CThreadLocaleScope locale;
            for (_ATL_OBJMAP_ENTRY* entry = g_pObjMapHead; entry; entry = entry->pNext)
                RETURN_IF_FAILED(entry->pfnUpdateRegistry(FALSE));
            if (bUnRegTypeLib)
                RETURN_IF_FAILED(UnRegisterTypeLib());
            return T::UpdateRegistryAppId(FALSE);
        }
    };

    // The module of an in-process server: the bodies of the Dll* exports.
    template <class T>
    class CAtlDllModuleT : public CAtlModuleT<T>
    {
    public:
        CAtlDllModuleT() noexcept
        {
            if (FAILED(m_csObjMap.Init()))
                this->m_bInitFailed = true;
        }
        ~CAtlDllModuleT() override
        {
            for (_ATL_OBJMAP_ENTRY* entry = g_pObjMapHead; entry; entry = entry->pNext)
            {
                if (IUnknown* factory = entry->pCF.exchange(nullptr))
                    factory->Release();
                entry->pfnObjectMain(false);
            }
        }

        BOOL WINAPI DllMain(DWORD dwReason, LPVOID /*lpReserved*/) noexcept
        {
            if (dwReason == DLL_PROCESS_ATTACH)
            {
                if (this->m_bInitFailed)
                    return FALSE;
                for (_ATL_OBJMAP_ENTRY* entry = g_pObjMapHead; entry; entry = entry->pNext)
                    entry->pfnObjectMain(true);
            }
            return TRUE;
        }

        HRESULT DllCanUnloadNow() noexcept { return this->GetLockCount() == 0 ? S_OK : S_FALSE; }

        HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) noexcept
        {
            RETURN_HR_IF_NULL(E_POINTER, ppv);
            *ppv = nullptr;
            RETURN_HR_IF(E_UNEXPECTED, this->m_bInitFailed);
            for (_ATL_OBJMAP_ENTRY* entry = g_pObjMapHead; entry; entry = entry->pNext)
            {
                if (!::InlineIsEqualGUID(rclsid, *entry->pclsid))
                    continue;
                if (!entry->pCF.load())
                {
                    CComCritSecLock lock(m_csObjMap);
                    if (!entry->pCF.load())
                    {
                        IUnknown* factory = nullptr;
                        RETURN_IF_FAILED(entry->pfnGetClassObject(reinterpret_cast<void*>(entry->pfnCreateInstance),
                                                                  IID_IUnknown, reinterpret_cast<void**>(&factory)));
                        entry->pCF.store(factory);
                    }
                }
                const HRESULT hr = entry->pCF.load()->QueryInterface(riid, ppv);
                return (hr == S_OK && *ppv == nullptr) ? CLASS_E_CLASSNOTAVAILABLE : hr;
            }
            return CLASS_E_CLASSNOTAVAILABLE;
        }

        HRESULT DllRegisterServer(BOOL bRegTypeLib = TRUE) noexcept { return this->RegisterServer(bRegTypeLib); }
        HRESULT DllUnregisterServer(BOOL bUnRegTypeLib = TRUE) noexcept { return this->UnregisterServer(bUnRegTypeLib); }

    private:
        CComCriticalSection m_csObjMap; // guards creation of the cached class objects
    };

// Module-side declarations: the type library and the AppID script.
#define DECLARE_LIBID(libid)                                                                         \
    static void InitLibId() noexcept { ::atl::CAtlModule::m_libid = libid; }

#define DECLARE_REGISTRY_APPID_RESOURCEID(resid, appid)                                              \
    static LPCOLESTR GetAppId() noexcept { return OLESTR(appid); }                                   \
    static HRESULT WINAPI UpdateRegistryAppId(BOOL bRegister) noexcept                               \
    {                                                                                                \
        return ::atl::AtlUpdateRegistryFromResource(resid, bRegister);                               \
    }

// Class-side declaration: the class script.
#define DECLARE_REGISTRY_RESOURCEID(x)                                                               \
    static HRESULT WINAPI UpdateRegistry(BOOL bRegister) noexcept                                    \
    {                                                                                                \
        return ::atl::AtlUpdateRegistryFromResource(x, bRegister);                                   \
    }

    // -----------------------------------------------------------------------
    // IDispatch over the registered type library

    // The type information of one interface, loaded from the registered type
    // library on first use and released by the module's termination list.
    // One static instance per IDispatchImpl specialisation serves all objects.
    class CComTypeInfoHolder
    {
    public:
        const GUID* m_pguid;
        const GUID* m_plibid;
        WORD m_wMajor;
        WORD m_wMinor;
        ITypeInfo* m_pInfo;

        HRESULT GetTypeInfo(UINT itinfo, LCID lcid, ITypeInfo** pptinfo) noexcept
        {
            RETURN_HR_IF(DISP_E_BADINDEX, itinfo != 0);
            RETURN_HR_IF_NULL(E_POINTER, pptinfo);
            *pptinfo = nullptr;
            RETURN_IF_FAILED(GetTI(lcid));
            m_pInfo->AddRef();
            *pptinfo = m_pInfo;
            return S_OK;
        }

        HRESULT GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, DISPID* rgdispid, LCID lcid) noexcept
        {
            RETURN_IF_FAILED(GetTI(lcid));
            return ::DispGetIDsOfNames(m_pInfo, rgszNames, cNames, rgdispid);
        }

        HRESULT Invoke(IDispatch* instance, DISPID dispid, WORD wFlags, DISPPARAMS* params, VARIANT* result,
                       EXCEPINFO* excepinfo, UINT* argErr, LCID lcid) noexcept
        {
            RETURN_IF_FAILED(GetTI(lcid));
            return m_pInfo->Invoke(instance, dispid, wFlags, params, result, excepinfo, argErr);
        }

    private:
        HRESULT GetTI(LCID lcid) noexcept;
        static void WINAPI Cleanup(void* pv) noexcept;
    };

    template <class T, const IID* piid, const GUID* plibid, WORD wMajor = 1, WORD wMinor = 0>
    class ATL_NO_VTABLE IDispatchImpl : public T
    {
    public:
        STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override
        {
            RETURN_HR_IF_NULL(E_POINTER, pctinfo);
            *pctinfo = 1;
            return S_OK;
        }
        STDMETHOD(GetTypeInfo)(UINT itinfo, LCID lcid, ITypeInfo** pptinfo) override
        {
            return _tih.GetTypeInfo(itinfo, lcid, pptinfo);
        }
        STDMETHOD(GetIDsOfNames)(REFIID /*riid*/, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgdispid) override
        {
            return _tih.GetIDsOfNames(rgszNames, cNames, rgdispid, lcid);
        }
        STDMETHOD(Invoke)(DISPID dispid, REFIID /*riid*/, LCID lcid, WORD wFlags, DISPPARAMS* params, VARIANT* result,
                          EXCEPINFO* excepinfo, UINT* argErr) override
        {
            return _tih.Invoke(static_cast<T*>(this), dispid, wFlags, params, result, excepinfo, argErr, lcid);
        }

    protected:
        static CComTypeInfoHolder _tih;
    };

    template <class T, const IID* piid, const GUID* plibid, WORD wMajor, WORD wMinor>
    CComTypeInfoHolder IDispatchImpl<T, piid, plibid, wMajor, wMinor>::_tih = {piid, plibid, wMajor, wMinor, nullptr};
}

using namespace atl;
