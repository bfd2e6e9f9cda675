// The program entry, run in-process, and the resources of Uninstall.exe.
#include "TestSupport.h"
#include <algorithm>
#include <regex>

// Declared as the system headers declare wWinMain.
extern "C" int WINAPI UninstallEntry(HINSTANCE, HINSTANCE, LPWSTR, int);

using namespace uninstall_test;

namespace
{
    class ProgramEntryTest : public TUninstallTest
    {
    protected:
        void SetUp() override
        {
            TUninstallTest::SetUp();
            frmMain = nullptr;
        }
        int RunEntry() { return UninstallEntry(GetModuleHandleW(nullptr), nullptr, const_cast<wchar_t*>(L""), SW_SHOWNORMAL); }
    };

    TEST_F(ProgramEntryTest, ShowsTheWindowAndEndsWhenTheUserClosesIt)
    {
        SetString(UninstallPathsKey, L"AppA", FakeCommand(L"AppA"));
        bool Shown = false;
        TThreadTimer User([&] {
            if (!frmMain || !IsWindowVisible(frmMain->Handle))
                return false;
            Shown = true;
            PostMessageW(frmMain->Handle, WM_SYSCOMMAND, SC_CLOSE, 0);
            return true;
        });

        EXPECT_EQ(0, RunEntry());

        EXPECT_TRUE(Shown);
        EXPECT_EQ(String(L"Uninstall"), String(Application->Title));
        ASSERT_NE(nullptr, frmMain);
        EXPECT_EQ(static_cast<TForm*>(frmMain), static_cast<TForm*>(Application->MainForm));
        EXPECT_EQ((std::vector<String>{L"AppA"}), (std::vector<String>{frmMain->lvApp->Items->Item[0]->Caption}));
        EXPECT_TRUE(Log.Lines().empty());
    }

    TEST_F(ProgramEntryTest, StartUpErrorsAreShownInTheStandardErrorBox)
    {
        const String ProgramName = Application->Title; // the title until the entry sets one
        const struct
        {
            const char* Situation;
            std::function<void()> Arrange;
            std::wstring Caption;
            std::wstring Text;
        } Cases[] = {
            {"non-string value under UninstallPaths",
             [] {
                 SetString(UninstallPathsKey, L"AppA", FakeCommand(L"AppA"));
                 SetDword(UninstallPathsKey, L"AppB", 3);
             },
             L"Uninstall", L"Invalid data type for 'AppB'"},
            {"anything other than an Exception", [] { InitProc = [] { throw 42; }; }, ProgramName, L""},
        };
        for (const auto& Case : Cases)
        {
            SCOPED_TRACE(Case.Situation);
            DeleteKeyTree(TarnwellburyKey);
            NewApplication();
            Case.Arrange();
            TMessageBoxCatcher Box;

            EXPECT_EQ(0, RunEntry());

            ASSERT_TRUE(Box.Record().Shown);
            EXPECT_EQ(Case.Caption, Box.Record().Caption);
            EXPECT_EQ(Case.Text, Box.Record().Text);
            EXPECT_TRUE(Box.Record().ErrorIcon);
            // The window was never made.
            for (const std::wstring& Class : Box.Record().OtherWindowClasses)
                EXPECT_NE(L"TfrmMain", Class);
            EXPECT_EQ(0, int(Application->ComponentCount));
            InitProc = nullptr;
        }
    }

    // Uninstall.exe itself, loaded as data.
    class ProgramResourcesTest : public testing::Test
    {
    protected:
        void SetUp() override
        {
            wchar_t Path[MAX_PATH] = {};
            ASSERT_TRUE(GetEnvironmentVariableW(L"UNINSTALL_EXE", Path, MAX_PATH)) << "UNINSTALL_EXE is not set";
            std::replace(Path, Path + wcslen(Path), L'/', L'\\');
            Program.reset(LoadLibraryExW(Path, nullptr, LOAD_LIBRARY_AS_DATAFILE));
            ASSERT_TRUE(Program) << GetLastError();
        }

        std::string Resource(const wchar_t* Type, const wchar_t* Name, WORD Language) const
        {
            const HRSRC Found = FindResourceExW(Program.get(), Type, Name, Language);
            if (!Found)
                return {};
            const char* Data = static_cast<const char*>(LockResource(LoadResource(Program.get(), Found)));
            return std::string(Data, SizeofResource(Program.get(), Found));
        }

        wil::unique_hmodule Program;
    };

    // The attributes of each element named Element, in order.
    std::vector<std::string> Elements(const std::string& Xml, const std::string& Element)
    {
        std::vector<std::string> Result;
        const std::regex Pattern("<" + Element + "\\s([^>]*)>");
        for (auto It = std::sregex_iterator(Xml.begin(), Xml.end(), Pattern); It != std::sregex_iterator(); ++It)
            Result.push_back((*It)[1]);
        return Result;
    }

    bool HasAttribute(const std::string& Attributes, const std::string& Name, const std::string& Value)
    {
        return std::regex_search(Attributes, std::regex("(^|\\s)" + Name + "=\"" + Value + "\""));
    }

    TEST_F(ProgramResourcesTest, ManifestRequiresAdministratorAndCommonControls6)
    {
        const std::string Manifest =
            Resource(RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
        ASSERT_FALSE(Manifest.empty());

        const auto Levels = Elements(Manifest, "requestedExecutionLevel");
        ASSERT_EQ(1u, Levels.size());
        EXPECT_TRUE(HasAttribute(Levels[0], "level", "requireAdministrator"));
        EXPECT_TRUE(HasAttribute(Levels[0], "uiAccess", "false"));

        const auto Identities = Elements(Manifest, "assemblyIdentity");
        ASSERT_EQ(2u, Identities.size());
        EXPECT_TRUE(HasAttribute(Identities[0], "type", "win32"));
        EXPECT_TRUE(HasAttribute(Identities[0], "version", "1.0.0.0"));
        EXPECT_TRUE(HasAttribute(Identities[0], "processorArchitecture", "\\*"));
        for (const auto& [Name, Value] : std::vector<std::pair<std::string, std::string>>{
                 {"type", "win32"},
                 {"name", "Microsoft\\.Windows\\.Common-Controls"},
                 {"version", "6\\.0\\.0\\.0"},
                 {"processorArchitecture", "\\*"},
                 {"publicKeyToken", "6595b64144ccf1df"},
                 {"language", "\\*"}})
            EXPECT_TRUE(HasAttribute(Identities[1], Name, Value)) << Name;
    }

    TEST_F(ProgramResourcesTest, CommonControls6AreInEffect)
    {
        // The tests carry the program's manifest: with version 6, comctl32 makes the buttons.
        WNDCLASSEXW Button = {};
        Button.cbSize = sizeof(Button);
        ASSERT_TRUE(GetClassInfoExW(nullptr, WC_BUTTONW, &Button));
        HMODULE Owner = nullptr;
        ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                       reinterpret_cast<LPCWSTR>(Button.lpfnWndProc), &Owner));
        wchar_t Path[MAX_PATH] = {};
        GetModuleFileNameW(Owner, Path, MAX_PATH);
        EXPECT_NE(nullptr, wcsstr(CharLowerW(Path), L"comctl32")) << std::wstring(Path).c_str();
    }

#pragma pack(push, 2)
    struct TIconDirEntry
    {
        BYTE Width;
        BYTE Height;
        BYTE ColorCount;
        BYTE Reserved;
        WORD Planes;
        WORD BitCount;
        DWORD BytesInRes;
        WORD Id;
    };
    struct TIconDir
    {
        WORD Reserved;
        WORD Type;
        WORD Count;
        TIconDirEntry Entries[1];
    };
#pragma pack(pop)

    BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD Language, LONG_PTR Languages)
    {
        reinterpret_cast<std::vector<WORD>*>(Languages)->push_back(Language);
        return TRUE;
    }

    TEST_F(ProgramResourcesTest, MainIconHasFourImagesInRussian)
    {
        const WORD Russian = MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT);
        ASSERT_EQ(1049, Russian);
        std::vector<WORD> Languages;
        EnumResourceLanguagesW(Program.get(), RT_GROUP_ICON, L"MAINICON", AddLanguage,
                               reinterpret_cast<LONG_PTR>(&Languages));
        EXPECT_EQ(std::vector<WORD>{Russian}, Languages);

        const std::string Group = Resource(RT_GROUP_ICON, L"MAINICON", Russian);
        ASSERT_GE(Group.size(), sizeof(TIconDir));
        const auto* Directory = reinterpret_cast<const TIconDir*>(Group.data());
        ASSERT_EQ(4, Directory->Count);
        std::vector<std::pair<int, int>> Images; // size and bits per pixel
        for (int i = 0; i < Directory->Count; ++i)
        {
            const TIconDirEntry& Entry = Directory->Entries[i];
            const std::string Image = Resource(RT_ICON, MAKEINTRESOURCEW(Entry.Id), Russian);
            ASSERT_GE(Image.size(), sizeof(BITMAPINFOHEADER));
            const auto* Header = reinterpret_cast<const BITMAPINFOHEADER*>(Image.data());
            EXPECT_EQ(Entry.Width, Header->biWidth);
            EXPECT_EQ(2 * Header->biWidth, Header->biHeight); // colour and mask
            EXPECT_EQ(Entry.BitCount, Header->biBitCount);
            Images.push_back({Header->biWidth, Header->biBitCount});
        }
        std::sort(Images.begin(), Images.end());
        EXPECT_EQ((std::vector<std::pair<int, int>>{{16, 4}, {16, 8}, {32, 4}, {32, 8}}), Images);
    }
}
