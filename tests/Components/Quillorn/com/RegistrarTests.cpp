// The registrar on its own: script syntax, replacements, the ForceRemove and
// NoRemove rules, and the per-user redirection of HKCR. Scripts run against
// a key of the throwaway prefix's registry.
#include "ComTestSupport.h"

#include <atlbase.h>

using namespace comtest;

namespace
{
    const wchar_t kTestKey[] = L"Software\\QuillornRegistrarTest";

    const wchar_t kScript[] = LR"(
HKCU
{
    NoRemove Software
    {
        QuillornRegistrarTest = s 'root default'
        {
            val Count = d 42
            val 'Odd ''name''' = s 'it''s %GREETING%, 100%% sure'
            'Key with spaces'
            {
                Leaf = s '%Module%'
            }
            ForceRemove Forced
            {
                val Marker = s 'fresh'
            }
            NoRemove Kept
        }
    }
}
)";

    const Tree kRegistered = {
        {L"",
         {{L"", {REG_SZ, L"root default"}},
          {L"Count", {REG_DWORD, L"42"}},
          {L"Odd 'name'", {REG_SZ, L"it's Hello, 100% sure"}}}},
        {L"Forced", {{L"Marker", {REG_SZ, L"fresh"}}}},
        {L"Kept", {}},
        {L"Key with spaces", {}},
        {L"Key with spaces\\Leaf", {{L"", {REG_SZ, L"C:\\some where\\it's.dll"}}}},
    };

    void CreateKey(HKEY root, const std::wstring& path)
    {
        wil::unique_hkey key;
        ASSERT_EQ(ERROR_SUCCESS,
                  ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr));
    }

    class Registrar : public ::testing::Test
    {
    protected:
        Registrar()
        {
            EXPECT_EQ(S_OK, m_registrar.AddReplacement(L"MODULE", L"C:\\some where\\it's.dll"));
            EXPECT_EQ(S_OK, m_registrar.AddReplacement(L"GREETING", L"Hello"));
        }
        void SetUp() override { Clean(); }
        void TearDown() override
        {
            Clean();
            atl::AtlSetPerUserRegistration(false);
        }
        static void Clean()
        {
            ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey);
            ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\QuillornRegistrarTest");
            ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"QuillornRegistrarTest");
        }

        atl::CRegObject m_registrar;
    };
}

TEST_F(Registrar, RegisteringWritesKeysValuesAndReplacements)
{
    ASSERT_EQ(S_OK, m_registrar.StringRegister(kScript));
    EXPECT_EQ(kRegistered, ReadTree(HKEY_CURRENT_USER, kTestKey)) << Describe(ReadTree(HKEY_CURRENT_USER, kTestKey));
}

TEST_F(Registrar, ForceRemoveRewritesItsKeyWhileOtherKeysKeepForeignContent)
{
    CreateKey(HKEY_CURRENT_USER, std::wstring(kTestKey) + L"\\Forced\\Foreign");
    CreateKey(HKEY_CURRENT_USER, std::wstring(kTestKey) + L"\\Key with spaces\\Foreign");

    ASSERT_EQ(S_OK, m_registrar.StringRegister(kScript));
    Tree expected = kRegistered;
    expected[L"Key with spaces\\Foreign"] = {};
    EXPECT_EQ(expected, ReadTree(HKEY_CURRENT_USER, kTestKey)) << Describe(ReadTree(HKEY_CURRENT_USER, kTestKey));
}

TEST_F(Registrar, UnregisteringDeletesNamedValuesAndKeysLeftEmptyExceptNoRemove)
{
    ASSERT_EQ(S_OK, m_registrar.StringRegister(kScript));
    CreateKey(HKEY_CURRENT_USER, std::wstring(kTestKey) + L"\\Key with spaces\\Foreign");

    ASSERT_EQ(S_OK, m_registrar.StringUnregister(kScript));
    // Kept is NoRemove, so its parent keeps a subkey and stays, without its values;
    // "Key with spaces" keeps the foreign subkey.
    const Tree expected = {{L"", {}}, {L"Kept", {}}, {L"Key with spaces", {}}, {L"Key with spaces\\Foreign", {}}};
    EXPECT_EQ(expected, ReadTree(HKEY_CURRENT_USER, kTestKey)) << Describe(ReadTree(HKEY_CURRENT_USER, kTestKey));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software"));

    // What is already gone is no error.
    EXPECT_EQ(S_OK, m_registrar.StringUnregister(kScript));
    Clean();
    EXPECT_EQ(S_OK, m_registrar.StringUnregister(kScript));
}

TEST_F(Registrar, MalformedScriptsWriteNothing)
{
    // Each starts with a good key, so a partial run would show.
    const struct
    {
        const char* what;
        const wchar_t* script;
    } cases[] = {
        {"unclosed block", L"HKCU { NoRemove Software { QuillornRegistrarTest = s 'v' }"},
        {"unknown root", L"HKCU { NoRemove Software { QuillornRegistrarTest } } HKXX { A }"},
        {"unterminated quote", L"HKCU { NoRemove Software { QuillornRegistrarTest = s 'v } }"},
        {"unknown value type", L"HKCU { NoRemove Software { QuillornRegistrarTest { A = x 'v' } } }"},
        {"unknown replacement", L"HKCU { NoRemove Software { QuillornRegistrarTest { A = s '%NOPE%' } } }"},
        {"unterminated replacement", L"HKCU { NoRemove Software { QuillornRegistrarTest { A = s '%MODULE' } } }"},
        {"val without =", L"HKCU { NoRemove Software { QuillornRegistrarTest { val A s 'v' } } }"},
        {"number that is not one", L"HKCU { NoRemove Software { QuillornRegistrarTest { val A = d 12x } } }"},
        {"stray closing brace", L"HKCU { NoRemove Software { QuillornRegistrarTest } } }"},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(atl::E_ATL_BAD_SCRIPT, m_registrar.StringRegister(c.script)) << c.what;
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kTestKey)) << c.what;
    }
}

TEST_F(Registrar, PerUserRegistrationRedirectsClassesRootOnly)
{
    const wchar_t script[] = L"HKCR { QuillornRegistrarTest = s 'classes' } "
                             L"HKCU { NoRemove Software { QuillornRegistrarTest = s 'user' } }";
    const struct
    {
        bool perUser;
        HKEY classesHive;
        HKEY otherHive;
    } cases[] = {
        {false, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER},
        {true, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE},
    };
    for (const auto& c : cases)
    {
        ASSERT_EQ(S_OK, atl::AtlSetPerUserRegistration(c.perUser));
        ASSERT_EQ(S_OK, m_registrar.StringRegister(script)) << c.perUser;
        EXPECT_EQ((Tree{{L"", {{L"", {REG_SZ, L"classes"}}}}}),
                  ReadTree(c.classesHive, L"Software\\Classes\\QuillornRegistrarTest"))
            << c.perUser;
        EXPECT_FALSE(KeyExists(c.otherHive, L"Software\\Classes\\QuillornRegistrarTest")) << c.perUser;
        EXPECT_EQ((Tree{{L"", {{L"", {REG_SZ, L"user"}}}}}), ReadTree(HKEY_CURRENT_USER, kTestKey)) << c.perUser;

        ASSERT_EQ(S_OK, m_registrar.StringUnregister(script)) << c.perUser;
        EXPECT_FALSE(KeyExists(c.classesHive, L"Software\\Classes\\QuillornRegistrarTest")) << c.perUser;
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kTestKey)) << c.perUser;
    }
}

TEST_F(Registrar, ScriptResourcesAreRunFromAModule)
{
    // Quillorn.dll's class script, run against its own resource.
    wil::unique_hmodule dll(::LoadLibraryExW(QUILLORN_DLL_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(dll);
    atl::CRegObject registrar;
    ASSERT_EQ(S_OK, registrar.AddReplacement(L"MODULE", L"C:\\q.dll"));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND),
              registrar.ResourceRegister(dll.get(), 999, L"REGISTRY"));

    ASSERT_EQ(S_OK, registrar.ResourceRegister(dll.get(), 106, L"REGISTRY"));
    const std::wstring key = std::wstring(L"Software\\Classes\\CLSID\\") + kClsid;
    EXPECT_EQ(L"C:\\q.dll", ReadTree(HKEY_LOCAL_MACHINE, key)[L"InprocServer32"][L""].second);
    ASSERT_EQ(S_OK, registrar.ResourceUnregister(dll.get(), 106, L"REGISTRY"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID"));
}
