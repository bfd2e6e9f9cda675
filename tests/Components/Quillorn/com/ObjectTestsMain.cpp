// The object tests run in a throwaway prefix on an STA main thread, with
// Quillorn.dll registered (type library and proxy/stub included) before the
// first test and loaded for the whole run.
#include "ServerDll.h"

HMODULE ServerDll::s_module = nullptr;

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    comtest::Apartment apartment;
    if (FAILED(apartment.Result()))
        return 1;
    wil::unique_hmodule dll(::LoadLibraryW(QUILLORN_DLL_PATH));
    if (!dll)
    {
        std::fprintf(stderr, "cannot load Quillorn.dll: %lu\n", ::GetLastError());
        return 1;
    }
    ServerDll::s_module = dll.get();
    const HRESULT hr = ServerDll::Call("DllRegisterServer");
    if (FAILED(hr))
    {
        std::fprintf(stderr, "DllRegisterServer failed: 0x%08lx\n", static_cast<unsigned long>(hr));
        return 1;
    }
    return RUN_ALL_TESTS();
}
