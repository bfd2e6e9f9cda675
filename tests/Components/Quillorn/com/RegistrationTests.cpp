// Registration of Quillorn.dll, run in a throwaway Wine prefix: regsvr32,
// DllInstall per user and per machine, and the refusal of long paths.
//
// Under Wine HKEY_CLASSES_ROOT is HKLM\Software\Classes and does not merge the
// per-user classes, so every check names the hive it reads explicitly.
// Each registration runs in a child process: DllInstall("user") switches the
// DLL to per-user registration for the rest of its process.
#include "ComTestSupport.h"
#include "ImportHook.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdio>

using namespace comtest;

namespace
{
    const std::wstring kClasses = L"Software\\Classes\\";
    const HRESULT kPathTooLong = static_cast<HRESULT>(0x8007007AL);

    // Everything registration writes, relative to Software\Classes.
    const wchar_t* const kWrittenKeys[] = {
        L"CLSID\\{7BC039E5-96E2-48C3-82AE-23889B9C969B}",
        L"CLSID\\{27CD670F-BDD6-43C9-90E2-6842AF2E9E65}",
        L"AppID\\5152DDA7-DCD6-40b7-9F0E-86E134A1BBA2",
        L"AppID\\Quillorn.DLL",
        L"TypeLib\\{F01017D6-62C2-4833-A7F6-8C518DD79B2D}",
        L"Interface\\{27CD670F-BDD6-43C9-90E2-6842AF2E9E65}",
        L"Interface\\{B5179B3B-8A06-4B20-9790-DB48FE706171}",
    };

    struct Hive
    {
        const char* name;
        HKEY key;
    };
    const Hive kHives[] = {{"HKLM", HKEY_LOCAL_MACHINE}, {"HKCU", HKEY_CURRENT_USER}};

    // What the two scripts write, key by key and value by value.
    Tree ExpectedClassTree(const std::wstring& dll)
    {
        return {
            {L"", {{L"", {REG_SZ, L"CQuillorn Class"}}}},
            {L"InprocServer32", {{L"", {REG_SZ, dll}}, {L"ThreadingModel", {REG_SZ, L"Apartment"}}}},
            {L"Programmable", {}},
            {L"TypeLib", {{L"", {REG_SZ, kLibid}}}},
            {L"Version", {{L"", {REG_SZ, L"1.0"}}}},
        };
    }
    const Tree kExpectedAppIdTree = {{L"", {{L"", {REG_SZ, L"Tarnwellbury.Quillorn"}}}}};
    const Tree kExpectedAppIdDllTree = {{L"", {{L"AppID", {REG_SZ, kAppIdKey}}}}};

    // Every written key in both hives, keyed "HIVE\path"; missing keys are left out.
    std::map<std::string, Tree> ReadState()
    {
        std::map<std::string, Tree> state;
        for (const Hive& hive : kHives)
            for (const wchar_t* key : kWrittenKeys)
            {
                Tree tree = ReadTree(hive.key, kClasses + key);
                if (!tree.empty())
                    state[std::string(hive.name) + "\\" + Narrow(key)] = std::move(tree);
            }
        return state;
    }

    std::string Describe(const std::map<std::string, Tree>& state)
    {
        std::string out;
        for (const auto& [location, tree] : state)
            out += location + "\n" + comtest::Describe(tree);
        return out;
    }

    // Deletes whatever an earlier test left, so every test starts unregistered.
    void Scrub()
    {
        for (const Hive& hive : kHives)
            for (const wchar_t* key : kWrittenKeys)
                ::RegDeleteTreeW(hive.key, (kClasses + key).c_str());
    }

    std::wstring SelfPath()
    {
        wchar_t path[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, path, MAX_PATH);
        return path;
    }

    DWORD Regsvr32(const std::wstring& switches, const std::wstring& dll = QUILLORN_DLL_PATH)
    {
        return RunProcess(Quote(SystemTool(L"regsvr32.exe")) + L" /s " + switches + L" " + Quote(dll));
    }

    struct CallResult
    {
        HRESULT hr;
        std::string output;
    };

    // Calls one export of `dll` in a child process (see CallExportMain).
    CallResult CallExport(const std::wstring& exportName, const std::wstring& dll, const std::wstring& arguments = L"")
    {
        CallResult result{};
        result.hr = static_cast<HRESULT>(
            RunProcess(Quote(SelfPath()) + L" --call " + exportName + L" " + Quote(dll) + L" " + arguments, &result.output));
        return result;
    }

    CallResult DllInstall(bool install, const std::wstring& commandLine)
    {
        return CallExport(L"DllInstall", QUILLORN_DLL_PATH, std::wstring(install ? L"1 " : L"0 ") + Quote(commandLine));
    }

    class Registration : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            Scrub();
            ASSERT_TRUE(ReadState().empty()) << Describe(ReadState());
        }
        void TearDown() override { Scrub(); }
    };
}

TEST_F(Registration, Regsvr32WritesTheScriptsTypeLibraryAndProxy)
{
    ASSERT_EQ(0u, Regsvr32(L""));

    const std::wstring dll = QUILLORN_DLL_PATH;
    EXPECT_EQ(ExpectedClassTree(dll), ReadTree(HKEY_LOCAL_MACHINE, kClasses + L"CLSID\\" + kClsid))
        << comtest::Describe(ReadTree(HKEY_LOCAL_MACHINE, kClasses + L"CLSID\\" + kClsid));

    // The AppID key is stored without braces and with the lower-case "b".
    EXPECT_EQ(std::wstring(kAppIdKey), StoredName(HKEY_LOCAL_MACHINE, kClasses + L"AppID", kAppIdKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kClasses + L"AppID\\{" + kAppIdKey + L"}"));
    EXPECT_EQ(kExpectedAppIdTree, ReadTree(HKEY_LOCAL_MACHINE, kClasses + L"AppID\\" + kAppIdKey));
    EXPECT_EQ(std::wstring(L"Quillorn.DLL"), StoredName(HKEY_LOCAL_MACHINE, kClasses + L"AppID", L"Quillorn.DLL"));
    EXPECT_EQ(kExpectedAppIdDllTree, ReadTree(HKEY_LOCAL_MACHINE, kClasses + L"AppID\\Quillorn.DLL"));

    // The type library, registered from the DLL itself.
    const Tree typeLib = ReadTree(HKEY_LOCAL_MACHINE, kClasses + L"TypeLib\\" + kLibid);
    ASSERT_TRUE(typeLib.count(L"1.0")) << comtest::Describe(typeLib);
    EXPECT_EQ((std::pair<DWORD, std::wstring>{REG_SZ, L"QuillornLib"}), typeLib.at(L"1.0").at(L""));
    ASSERT_TRUE(typeLib.count(L"1.0\\0\\win32")) << comtest::Describe(typeLib);
    EXPECT_EQ(dll, typeLib.at(L"1.0\\0\\win32").at(L"").second);

    // Both interfaces are marshalled by the merged proxy/stub, whose class is in the DLL.
    for (const wchar_t* iid : {kProxyClsid, kIidTagsEditor})
    {
        const Tree itf = ReadTree(HKEY_LOCAL_MACHINE, kClasses + L"Interface\\" + iid);
        ASSERT_TRUE(itf.count(L"ProxyStubClsid32")) << Narrow(iid) << "\n" << comtest::Describe(itf);
        EXPECT_EQ(std::wstring(kProxyClsid), itf.at(L"ProxyStubClsid32").at(L"").second) << Narrow(iid);
    }
    const Tree proxy = ReadTree(HKEY_LOCAL_MACHINE, kClasses + L"CLSID\\" + kProxyClsid);
    ASSERT_FALSE(proxy.empty());
    bool pointsAtDll = false;
    for (const auto& [path, values] : proxy)
        if (_wcsicmp(path.c_str(), L"InprocServer32") == 0)
            pointsAtDll = values.count(L"") && _wcsicmp(values.at(L"").second.c_str(), dll.c_str()) == 0;
    EXPECT_TRUE(pointsAtDll) << comtest::Describe(proxy);

    // Nothing per user, and no ProgID.
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kClasses + L"CLSID\\" + kClsid));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kClasses + L"Tarnwellbury.Quillorn"));
}

TEST_F(Registration, RegisteringAgainGivesTheSameState)
{
    ASSERT_EQ(0u, Regsvr32(L""));
    const auto first = ReadState();

    // ForceRemove: what was added below the class key does not survive.
    wil::unique_hkey stray;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                                               (kClasses + L"CLSID\\" + kClsid + L"\\Stray").c_str(), 0, nullptr, 0,
                                               KEY_WRITE, nullptr, stray.put(), nullptr));
    const wchar_t strayValue[] = L"x";
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(stray.get(), L"Stray", 0, REG_SZ,
                                              reinterpret_cast<const BYTE*>(strayValue), sizeof strayValue));
    stray.reset();

    ASSERT_EQ(0u, Regsvr32(L""));
    EXPECT_EQ(first, ReadState()) << "first:\n" << Describe(first) << "second:\n" << Describe(ReadState());
}

TEST_F(Registration, UnregisteringRemovesWhatWasWrittenAndKeepsClsidAndAppId)
{
    ASSERT_EQ(0u, Regsvr32(L""));
    ASSERT_FALSE(ReadState().empty());

    ASSERT_EQ(0u, Regsvr32(L"/u"));
    EXPECT_TRUE(ReadState().empty()) << Describe(ReadState());
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kClasses + L"CLSID"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kClasses + L"AppID"));
}

// ---------------------------------------------------------------------------
// What registration asks of the system, seen through the DLL's imports. The
// DLL is loaded here for one test at a time, so its per-user switch starts off.

namespace
{
    std::vector<LCID> g_localesSet;
    std::vector<std::string> g_proceduresLooked;
    HMODULE g_oleAut32 = nullptr;
    bool g_lookedInOleAut32 = false;

    BOOL WINAPI RecordSetThreadLocale(LCID locale)
    {
        g_localesSet.push_back(locale);
        return ::SetThreadLocale(locale);
    }

    FARPROC WINAPI RecordGetProcAddress(HMODULE module, LPCSTR name)
    {
        if (!IS_INTRESOURCE(name))
        {
            g_proceduresLooked.push_back(name);
            g_lookedInOleAut32 |= module == g_oleAut32 && std::string(name).find("TypeLibForUser") != std::string::npos;
        }
        return ::GetProcAddress(module, name);
    }

    class RegistrationCalls : public Registration
    {
    protected:
        void SetUp() override
        {
            Registration::SetUp();
            ASSERT_TRUE(m_dll);
            g_localesSet.clear();
            g_proceduresLooked.clear();
            g_lookedInOleAut32 = false;
            g_oleAut32 = ::GetModuleHandleW(L"OLEAUT32.DLL");
        }

        HRESULT Call(const char* name)
        {
            return reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(::GetProcAddress(m_dll.get(), name)))();
        }
        HRESULT Install(BOOL install, LPCWSTR commandLine)
        {
            using Fn = HRESULT(WINAPI*)(BOOL, LPCWSTR);
            return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(m_dll.get(), "DllInstall")))(
                install, commandLine);
        }

        wil::unique_hmodule m_dll{::LoadLibraryW(QUILLORN_DLL_PATH)};
    };
}

TEST_F(RegistrationCalls, RunUnderTheSystemLocaleAndGiveTheCallersBack)
{
    ImportHook hook(m_dll.get(), "KERNEL32.dll", "SetThreadLocale", reinterpret_cast<void*>(&RecordSetThreadLocale));
    ASSERT_TRUE(hook.Installed());
    const LCID callers = MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), SORT_DEFAULT);
    ASSERT_TRUE(::SetThreadLocale(callers));

    ASSERT_EQ(S_OK, Call("DllRegisterServer"));
    EXPECT_EQ((std::vector<LCID>{LOCALE_SYSTEM_DEFAULT, callers}), g_localesSet);
    EXPECT_EQ(callers, ::GetThreadLocale());

    g_localesSet.clear();
    ASSERT_EQ(S_OK, Call("DllUnregisterServer"));
    EXPECT_EQ((std::vector<LCID>{LOCALE_SYSTEM_DEFAULT, callers}), g_localesSet);
    EXPECT_EQ(callers, ::GetThreadLocale());
    ::SetThreadLocale(LOCALE_USER_DEFAULT);
}

TEST_F(RegistrationCalls, PerUserTypeLibraryFunctionsAreLookedUpByNameInOleAut32)
{
    ImportHook hook(m_dll.get(), "KERNEL32.dll", "GetProcAddress", reinterpret_cast<void*>(&RecordGetProcAddress));
    ASSERT_TRUE(hook.Installed());

    ASSERT_EQ(S_OK, Call("DllRegisterServer"));
    ASSERT_EQ(S_OK, Call("DllUnregisterServer"));
    EXPECT_EQ(0, std::count(g_proceduresLooked.begin(), g_proceduresLooked.end(), "RegisterTypeLibForUser"))
        << "per machine until DllInstall says user";

    ASSERT_EQ(S_OK, Install(TRUE, L"user"));
    ASSERT_EQ(S_OK, Install(FALSE, L"user"));
    EXPECT_EQ(1, std::count(g_proceduresLooked.begin(), g_proceduresLooked.end(), "RegisterTypeLibForUser"));
    EXPECT_EQ(1, std::count(g_proceduresLooked.begin(), g_proceduresLooked.end(), "UnRegisterTypeLibForUser"));
    EXPECT_TRUE(g_lookedInOleAut32);
}

// ---------------------------------------------------------------------------
// DllInstall: only the whole word "user", in any case, means per user.

struct InstallCase
{
    const char* name;
    const wchar_t* commandLine;
    bool perUser;
};

class DllInstallTest : public Registration, public ::testing::WithParamInterface<InstallCase>
{
};

TEST_P(DllInstallTest, InstallsAndUninstallsWhereTheCommandLineSays)
{
    const InstallCase& c = GetParam();
    const HKEY scripts = c.perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    const HKEY other = c.perUser ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;

    const CallResult install = DllInstall(true, c.commandLine);
    ASSERT_EQ(S_OK, install.hr) << install.output;

    EXPECT_EQ(ExpectedClassTree(QUILLORN_DLL_PATH), ReadTree(scripts, kClasses + L"CLSID\\" + kClsid))
        << comtest::Describe(ReadTree(scripts, kClasses + L"CLSID\\" + kClsid));
    EXPECT_EQ(kExpectedAppIdTree, ReadTree(scripts, kClasses + L"AppID\\" + kAppIdKey));
    EXPECT_EQ(kExpectedAppIdDllTree, ReadTree(scripts, kClasses + L"AppID\\Quillorn.DLL"));
    EXPECT_FALSE(KeyExists(other, kClasses + L"CLSID\\" + kClsid));
    EXPECT_FALSE(KeyExists(other, kClasses + L"AppID\\" + kAppIdKey));

    // Wine's RegisterTypeLibForUser writes per machine, so only "registered
    // somewhere" can be seen for the per-user case.
    const std::wstring typeLibKey = kClasses + L"TypeLib\\" + kLibid + L"\\1.0\\0\\win32";
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, typeLibKey) || KeyExists(HKEY_CURRENT_USER, typeLibKey));
    // The proxy/stub registers per machine either way.
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kClasses + L"Interface\\" + kIidTagsEditor + L"\\ProxyStubClsid32"));

    const CallResult uninstall = DllInstall(false, c.commandLine);
    ASSERT_EQ(S_OK, uninstall.hr) << uninstall.output;
    EXPECT_TRUE(ReadState().empty()) << Describe(ReadState());
}

INSTANTIATE_TEST_SUITE_P(CommandLines, DllInstallTest,
                         ::testing::Values(InstallCase{"user", L"user", true}, InstallCase{"USER", L"USER", true},
                                           InstallCase{"uSeR", L"uSeR", true}, InstallCase{"users", L"users", false},
                                           InstallCase{"user_space", L"user ", false},
                                           InstallCase{"empty", L"", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// A DLL path of MAX_PATH (260) characters or more is refused before anything
// is written; 259 still registers.

struct LongPathCase
{
    const char* name;
    size_t length;
    const wchar_t* call; // export and its arguments
    HRESULT expected;
};

class LongPathTest : public Registration, public ::testing::WithParamInterface<LongPathCase>
{
protected:
    // A copy of the DLL whose full path has exactly `length` characters.
    static std::wstring CopyDllTo(size_t length)
    {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        std::wstring path = std::wstring(temp) + L"QuillornLongPath" + std::to_wstring(length) + L"\\";
        ::CreateDirectoryW(path.c_str(), nullptr);
        while (length - path.size() > 200)
        {
            path += std::wstring(100, L'd') + L"\\";
            EXPECT_TRUE(::CreateDirectoryW((L"\\\\?\\" + path).c_str(), nullptr) ||
                        ::GetLastError() == ERROR_ALREADY_EXISTS);
        }
        path += std::wstring(length - path.size() - 4, L'q') + L".dll";
        EXPECT_EQ(length, path.size());
        EXPECT_TRUE(::CopyFileW(QUILLORN_DLL_PATH, (L"\\\\?\\" + path).c_str(), FALSE)) << ::GetLastError();
        return path;
    }
};

TEST_P(LongPathTest, RefusesPathsOfMaxPathOrMoreBeforeWritingAnything)
{
    const LongPathCase& c = GetParam();
    const std::wstring dll = CopyDllTo(c.length);
    const std::wstring call = c.call;
    const size_t space = call.find(L' ');
    const CallResult result =
        CallExport(call.substr(0, space), dll, space == std::wstring::npos ? L"" : call.substr(space + 1));

    // The child reports the path length as the loader gives it.
    EXPECT_NE(std::string::npos, result.output.find("module-path-length=" + std::to_string(c.length)))
        << result.output;
    EXPECT_EQ(c.expected, result.hr) << std::hex << result.hr << "\n" << result.output;
    if (FAILED(c.expected))
        EXPECT_TRUE(ReadState().empty()) << Describe(ReadState());
    else
        EXPECT_EQ(ExpectedClassTree(dll), ReadTree(HKEY_LOCAL_MACHINE, kClasses + L"CLSID\\" + kClsid));
}

INSTANTIATE_TEST_SUITE_P(Paths, LongPathTest,
                         ::testing::Values(LongPathCase{"register259", 259, L"DllRegisterServer", S_OK},
                                           LongPathCase{"register260", 260, L"DllRegisterServer", kPathTooLong},
                                           LongPathCase{"register300", 300, L"DllRegisterServer", kPathTooLong},
                                           LongPathCase{"install260", 260, L"DllInstall 1 \"\"", kPathTooLong},
                                           LongPathCase{"installUser260", 260, L"DllInstall 1 user", kPathTooLong}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Child mode: --call EXPORT DLL [INSTALL CMDLINE]. Loads the DLL, reports the
// length of its module path, calls the export and exits with its HRESULT.

namespace
{
    int CallExportMain(int argc, wchar_t** argv)
    {
        const std::wstring exportName = argv[2];
        const std::wstring dll = argv[3];
        Apartment apartment;
        wil::unique_hmodule module(::LoadLibraryW((dll.size() >= MAX_PATH ? L"\\\\?\\" + dll : dll).c_str()));
        if (!module)
        {
            std::printf("load-error=%lu\n", ::GetLastError());
            return static_cast<int>(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
        }
        std::vector<wchar_t> path(32768);
        const DWORD length = ::GetModuleFileNameW(module.get(), path.data(), static_cast<DWORD>(path.size()));
        std::printf("module-path-length=%lu\n", length);
        std::fflush(stdout);

        const std::string name = Narrow(exportName);
        FARPROC function = ::GetProcAddress(module.get(), name.c_str());
        if (!function)
            return static_cast<int>(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
        HRESULT hr;
        if (exportName == L"DllInstall")
        {
            using Install = HRESULT(WINAPI*)(BOOL, LPCWSTR);
            const BOOL install = argc > 4 && argv[4][0] == L'1';
            hr = reinterpret_cast<Install>(reinterpret_cast<void*>(function))(install, argc > 5 ? argv[5] : nullptr);
        }
        else
            hr = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(function))();
        return static_cast<int>(hr);
    }
}

int main(int argc, char** argv)
{
    int wargc = 0;
    wchar_t** wargv = ::CommandLineToArgvW(::GetCommandLineW(), &wargc);
    if (wargv && wargc >= 4 && std::wstring(wargv[1]) == L"--call")
        return CallExportMain(wargc, wargv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
