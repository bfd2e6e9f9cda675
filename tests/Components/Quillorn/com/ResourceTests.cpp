// What Quillorn.dll carries besides code: exactly its resources (type, id,
// language), their contents, and its exports by name and ordinal.
#include "ComTestSupport.h"

#include <set>
#include <tuple>

using namespace comtest;

namespace
{
    using ResourceId = std::tuple<std::wstring, std::wstring, WORD>; // type, name, language

    std::wstring IdText(LPCWSTR id) { return IS_INTRESOURCE(id) ? L"#" + std::to_wstring(LOWORD(id)) : id; }

    BOOL CALLBACK OnLanguage(HMODULE, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR param)
    {
        reinterpret_cast<std::set<ResourceId>*>(param)->insert({IdText(type), IdText(name), language});
        return TRUE;
    }
    BOOL CALLBACK OnName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param)
    {
        ::EnumResourceLanguagesW(module, type, name, OnLanguage, param);
        return TRUE;
    }
    BOOL CALLBACK OnType(HMODULE module, LPWSTR type, LONG_PTR param)
    {
        ::EnumResourceNamesW(module, type, OnName, param);
        return TRUE;
    }

    class Resources : public ::testing::Test
    {
    protected:
        void SetUp() override { ASSERT_TRUE(m_dll) << ::GetLastError(); }

        std::string Bytes(LPCWSTR type, LPCWSTR name, WORD language) const
        {
            HRSRC resource = ::FindResourceExW(m_dll.get(), type, name, language);
            if (!resource)
                return {};
            const auto* data = static_cast<const char*>(::LockResource(::LoadResource(m_dll.get(), resource)));
            return std::string(data, ::SizeofResource(m_dll.get(), resource));
        }

        wil::unique_hmodule m_dll{::LoadLibraryExW(QUILLORN_DLL_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE)};
    };
}

TEST_F(Resources, AreExactlyTheScriptsTypeLibraryStringsVersionAndManifest)
{
    std::set<ResourceId> found;
    ::EnumResourceTypesW(m_dll.get(), OnType, reinterpret_cast<LONG_PTR>(&found));
    const std::set<ResourceId> expected = {
        {L"REGISTRY", L"#101", 0x0409}, // AppID script
        {L"REGISTRY", L"#106", 0x0419}, // class script
        {L"TYPELIB", L"#1", 0x0409},
        {L"#6", L"#7", 0x0409},  // string table block holding id 100
        {L"#16", L"#1", 0x0409}, // version
        {L"#24", L"#2", 0x0409}, // manifest
    };
    EXPECT_EQ(expected, found);
}

TEST_F(Resources, StringTableNamesTheProject)
{
    wchar_t text[64] = {};
    ASSERT_GT(::LoadStringW(m_dll.get(), 100, text, 64), 0);
    EXPECT_STREQ(L"Quillorn", text);
}

TEST_F(Resources, TypeLibraryIsWidlsOutput)
{
    const std::string embedded = Bytes(L"TYPELIB", MAKEINTRESOURCEW(1), 0x0409);
    ASSERT_FALSE(embedded.empty());
    HANDLE file = ::CreateFileW(QUILLORN_TLB_PATH, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    wil::unique_handle owner(file);
    std::string onDisk(embedded.size() + 1, '\0');
    DWORD read = 0;
    ::ReadFile(file, onDisk.data(), static_cast<DWORD>(onDisk.size()), &read, nullptr);
    onDisk.resize(read);
    EXPECT_TRUE(embedded == onDisk) << embedded.size() << " vs " << onDisk.size();
}

TEST_F(Resources, ManifestRunsAsInvokerWithoutUiAccess)
{
    const std::string manifest = Bytes(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(2), 0x0409);
    EXPECT_NE(std::string::npos, manifest.find("level=\"asInvoker\"")) << manifest;
    EXPECT_NE(std::string::npos, manifest.find("uiAccess=\"false\"")) << manifest;
}

TEST_F(Resources, VersionIs1001ForQuillornDll)
{
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(QUILLORN_DLL_PATH, &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(::GetFileVersionInfoW(QUILLORN_DLL_PATH, 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(MAKELONG(0, 1), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(1, 0), fixed->dwFileVersionLS);
    EXPECT_EQ(MAKELONG(0, 1), fixed->dwProductVersionMS);
    EXPECT_EQ(MAKELONG(1, 0), fixed->dwProductVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);
    EXPECT_EQ(static_cast<DWORD>(VOS__WINDOWS32), fixed->dwFileOS);

    WORD* translation = nullptr;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                                 &length));
    ASSERT_EQ(4u, length);
    EXPECT_EQ(0x0409, translation[0]);
    EXPECT_EQ(0x04B0, translation[1]);

    for (const wchar_t* name : {L"InternalName", L"OriginalFilename"})
    {
        wchar_t* value = nullptr;
        ASSERT_TRUE(::VerQueryValueW(block.data(), (std::wstring(L"\\StringFileInfo\\040904B0\\") + name).c_str(),
                                     reinterpret_cast<void**>(&value), &length))
            << Narrow(name);
        EXPECT_STREQ(L"Quillorn.dll", value) << Narrow(name);
    }
}

TEST(Exports, AreNamedWithOrdinalsOneToFive)
{
    wil::unique_hmodule dll(::LoadLibraryW(QUILLORN_DLL_PATH));
    ASSERT_TRUE(dll);
    const char* const names[] = {"DllCanUnloadNow", "DllGetClassObject", "DllInstall", "DllRegisterServer",
                                 "DllUnregisterServer"};
    for (WORD ordinal = 1; ordinal <= 5; ++ordinal)
    {
        FARPROC byName = ::GetProcAddress(dll.get(), names[ordinal - 1]);
        EXPECT_NE(nullptr, byName) << names[ordinal - 1];
        EXPECT_EQ(byName, ::GetProcAddress(dll.get(), MAKEINTRESOURCEA(ordinal))) << names[ordinal - 1];
    }
    EXPECT_EQ(nullptr, ::GetProcAddress(dll.get(), MAKEINTRESOURCEA(6)));
}
