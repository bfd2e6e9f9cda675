// The non-template part of the module: termination list, registry scripts
// from this binary's resources, type library registration, and the cached
// type information behind IDispatchImpl.
#include "atlbase.h"

#include <string>

namespace atl
{
    namespace
    {
        HMODULE ThisModule() noexcept { return reinterpret_cast<HMODULE>(&__ImageBase); }

        // The full path of this binary. A path that does not fit MAX_PATH is
        // refused: registration writes nothing rather than a cut-off path.
        HRESULT ModulePath(wchar_t (&path)[MAX_PATH]) noexcept
        {
            const DWORD length = ::GetModuleFileNameW(ThisModule(), path, MAX_PATH);
            RETURN_HR_IF(HRESULT_FROM_WIN32(::GetLastError()), length == 0);
            RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), length >= MAX_PATH);
            return S_OK;
        }

        // The type library from the binary's TYPELIB 1 resource, else from
        // the .tlb file beside it; `loadedFrom` receives the path that worked.
        HRESULT LoadOwnTypeLib(ITypeLib** typeLib, std::wstring& loadedFrom) noexcept
        {
            wchar_t path[MAX_PATH];
            RETURN_IF_FAILED(ModulePath(path));
            try
            {
                loadedFrom = path;
                HRESULT hr = ::LoadTypeLibEx(loadedFrom.c_str(), REGKIND_NONE, typeLib);
                if (SUCCEEDED(hr))
                    return hr;
                const size_t dot = loadedFrom.find_last_of(L".\\/");
                if (dot != std::wstring::npos && loadedFrom[dot] == L'.')
                    loadedFrom.erase(dot);
                loadedFrom += L".tlb";
                return ::LoadTypeLibEx(loadedFrom.c_str(), REGKIND_NONE, typeLib);
            }
            CATCH_RETURN()
        }

        // Per-user type library functions are looked up by name: older systems
        // lack them, and then the per-machine ones serve.
        template <typename Fn>
        Fn OleAutFunction(const char* name) noexcept
        {
            bool perUser = false;
            AtlGetPerUserRegistration(&perUser);
            if (!perUser)
                return nullptr;
            HMODULE oleaut = ::GetModuleHandleW(L"OLEAUT32.DLL");
            if (!oleaut)
                return nullptr;
            return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(oleaut, name)));
        }
    }

    HRESULT CAtlModule::AddTermFunc(_ATL_TERMFUNC pFunc, void* pv) noexcept
    {
        auto* elem = new (std::nothrow) TermFuncElem{pFunc, pv, nullptr};
        RETURN_HR_IF_NULL(E_OUTOFMEMORY, elem);
        CComCritSecLock lock(m_csStaticDataInitAndTypeInfo);
        elem->pNext = m_pTermFuncs;
        m_pTermFuncs = elem;
        return S_OK;
    }

    void CAtlModule::Term() noexcept
    {
        if (m_bTerminated)
            return;
        while (TermFuncElem* elem = m_pTermFuncs)
        {
            m_pTermFuncs = elem->pNext;
            elem->pFunc(elem->pv);
            delete elem;
        }
        m_csStaticDataInitAndTypeInfo.Term();
        m_bTerminated = true;
    }

    HRESULT CAtlModule::UpdateRegistryFromResource(UINT nResID, BOOL bRegister, const _ATL_REGMAP_ENTRY* extra) noexcept
    {
        wchar_t path[MAX_PATH];
        RETURN_IF_FAILED(ModulePath(path));
        CRegObject registrar;
        RETURN_IF_FAILED(registrar.AddReplacement(L"MODULE", path));
        for (; extra && extra->szKey; ++extra)
            RETURN_IF_FAILED(registrar.AddReplacement(extra->szKey, extra->szData));
        RETURN_IF_FAILED(AddCommonRGSReplacements(registrar));
        return bRegister ? registrar.ResourceRegister(ThisModule(), nResID, L"REGISTRY")
                         : registrar.ResourceUnregister(ThisModule(), nResID, L"REGISTRY");
    }

    HRESULT CAtlModule::RegisterTypeLib() noexcept
    {
        using RegisterFn = HRESULT(WINAPI*)(ITypeLib*, LPOLESTR, LPOLESTR);
        wil::com_ptr<ITypeLib> typeLib;
        std::wstring path;
        RETURN_IF_FAILED(LoadOwnTypeLib(typeLib.put(), path));
        RegisterFn perUser = OleAutFunction<RegisterFn>("RegisterTypeLibForUser");
        return perUser ? perUser(typeLib.get(), path.data(), nullptr)
                       : ::RegisterTypeLib(typeLib.get(), path.data(), nullptr);
    }

    HRESULT CAtlModule::UnRegisterTypeLib() noexcept
    {
        using UnRegisterFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
        wil::com_ptr<ITypeLib> typeLib;
        std::wstring path;
        RETURN_IF_FAILED(LoadOwnTypeLib(typeLib.put(), path));
        TLIBATTR* attr = nullptr;
        RETURN_IF_FAILED(typeLib->GetLibAttr(&attr));
        const TLIBATTR copy = *attr;
        typeLib->ReleaseTLibAttr(attr);
        UnRegisterFn perUser = OleAutFunction<UnRegisterFn>("UnRegisterTypeLibForUser");
        return perUser ? perUser(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, copy.syskind)
                       : ::UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, copy.syskind);
    }

    HRESULT CComTypeInfoHolder::GetTI(LCID lcid) noexcept
    {
        if (m_pInfo)
            return S_OK;
        // Without a module (a test that links the class alone) the type
        // information is loaded unguarded and kept for the process.
        CAtlModule* module = _pAtlModule;
        if (module)
            module->m_csStaticDataInitAndTypeInfo.Lock();
        HRESULT hr = S_OK;
        if (!m_pInfo)
        {
            wil::com_ptr<ITypeLib> typeLib;
            wil::com_ptr<ITypeInfo> typeInfo;
            hr = ::LoadRegTypeLib(*m_plibid, m_wMajor, m_wMinor, lcid, typeLib.put());
            if (SUCCEEDED(hr))
                hr = typeLib->GetTypeInfoOfGuid(*m_pguid, typeInfo.put());
            if (SUCCEEDED(hr) && module)
                hr = module->AddTermFunc(&CComTypeInfoHolder::Cleanup, this);
            if (SUCCEEDED(hr))
                m_pInfo = typeInfo.detach();
        }
        if (module)
            module->m_csStaticDataInitAndTypeInfo.Unlock();
        return hr;
    }

    void WINAPI CComTypeInfoHolder::Cleanup(void* pv) noexcept
    {
        auto* holder = static_cast<CComTypeInfoHolder*>(pv);
        if (ITypeInfo* info = holder->m_pInfo)
        {
            holder->m_pInfo = nullptr;
            info->Release();
        }
    }
}
