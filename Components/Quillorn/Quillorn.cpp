// Quillorn.dll: the module object, its object map (CQuillorn joins it through
// OBJECT_ENTRY_AUTO in its header) and the exports COM calls.
#include "CQuillorn.h"
#include "resource.h"

#include <atlbase.h>
#include <atlcom.h>

// The merged proxy/stub for IInformation and ITagsEditor (QuillornProxy.c).
extern "C"
{
    BOOL WINAPI PrxDllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved);
    HRESULT WINAPI PrxDllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
    HRESULT WINAPI PrxDllCanUnloadNow();
    HRESULT WINAPI PrxDllRegisterServer();
    HRESULT WINAPI PrxDllUnregisterServer();
}

class CQuillornModule : public CAtlDllModuleT<CQuillornModule>
{
public:
    DECLARE_LIBID(LIBID_QuillornLib)
    DECLARE_REGISTRY_APPID_RESOURCEID(IDR_QUILLORN, "{06E3BA0F-88C5-4C17-A1A5-AD3BAFF84C0F}")
};

CQuillornModule _AtlModule;

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved)
{
    // The proxy/stub records the instance for its own registration.
    PrxDllMain(hInstance, dwReason, lpReserved);
    return _AtlModule.DllMain(dwReason, lpReserved);
}

STDAPI DllCanUnloadNow()
{
    const HRESULT hr = PrxDllCanUnloadNow();
    if (hr != S_OK)
        return hr;
    return _AtlModule.DllCanUnloadNow();
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    // The proxy/stub writes through ppv before looking at the class id.
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    if (PrxDllGetClassObject(rclsid, riid, ppv) == S_OK)
        return S_OK;
    return _AtlModule.DllGetClassObject(rclsid, riid, ppv);
}

// Scripts and type library first: type library registration points the
// interfaces at the type-library marshaler, the proxy/stub then takes them over.
STDAPI DllRegisterServer()
{
    RETURN_IF_FAILED(_AtlModule.DllRegisterServer());
    return PrxDllRegisterServer();
}

STDAPI DllUnregisterServer()
{
    RETURN_IF_FAILED(_AtlModule.DllUnregisterServer());
    // Unregistering the type library took the interfaces' keys with it;
    // registering the proxy/stub again gives its own unregistration a
    // complete set of keys to remove.
    RETURN_IF_FAILED(PrxDllRegisterServer());
    return PrxDllUnregisterServer();
}

// "user" (any case, nothing after it) turns on per-user registration for the
// rest of the process. A failed install undoes whatever it got to write.
STDAPI DllInstall(BOOL bInstall, LPCWSTR pszCmdLine)
{
    static const wchar_t kUserSwitch[] = L"user";
    if (pszCmdLine && _wcsnicmp(pszCmdLine, kUserSwitch, ARRAYSIZE(kUserSwitch)) == 0)
        AtlSetPerUserRegistration(true);

    if (!bInstall)
        return DllUnregisterServer();
    const HRESULT hr = DllRegisterServer();
    if (FAILED(hr))
        DllUnregisterServer();
    return hr;
}
