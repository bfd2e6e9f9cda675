// The finishing phase, reached when a pass empties the list: the common
// uninstaller, the "Uninstall" link, closing the window, and the follow-up
// program from the documents folder.
#include "TestSupport.h"
#include <algorithm>
#include <filesystem>

using namespace uninstall_test;

namespace
{
    const wchar_t ShellFoldersKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    const wchar_t HomePage[] = L"https://www.tarnwellbury.com/";

    class FinishTest : public TFormTest
    {
    protected:
        // Web addresses go to the fake uninstaller, which logs "browser <address>",
        // and the documents folder is one of the test's own.
        TSavedValue Browser{HKEY_LOCAL_MACHINE, L"Software\\Classes\\https\\shell\\open\\command", L"", REG_SZ,
                            L"\"C:\\windows\\system32\\winebrowser.exe\" \"%1\""};
        TSavedValue Documents{HKEY_CURRENT_USER, ShellFoldersKey, L"Personal", REG_EXPAND_SZ,
                              L"%USERPROFILE%\\Documents"};

        void SetUp() override
        {
            TFormTest::SetUp();
            Browser.Set(REG_SZ, FakeCommand(L"browser %1"));
        }

        void UseDocumentsFolder(const std::wstring& Folder, bool WithFollowUp)
        {
            if (WithFollowUp)
                CopyFakeUninstaller(Folder + L"\\Tarnwellbury\\VornUninstall.exe");
            Documents.Set(REG_SZ, Folder);
        }

        // One application, ticked through "All applications", and a click on "Uninstall".
        void RunToTheEnd()
        {
            SetString(UninstallPathsKey, L"AppA", FakeCommand(L"AppA"));
            Open();
            ClickCenter(Form->chAll);
            ClickCenter(Form->btnProcess);
        }
    };

    TEST_F(FinishTest, RunsCommonOpensTheLinkClosesAndStartsTheFollowUp)
    {
        // No ANSI code page spells this, so an ANSI path would name no file.
        const wchar_t Unicode[] = L"Документы 文書 ไทย";
        ASSERT_FALSE(RepresentableInAnsi(Unicode));
        const std::wstring Link = L"https://example.test/after";
        enum TFolder { FolderWithFollowUp, EmptyFolder, NoFolder };
        const struct
        {
            const char* Situation;
            const wchar_t* Link; // null: no "Uninstall" value
            const wchar_t* Documents;
            TFolder Folder;
            std::vector<std::wstring> Later; // started without waiting, in any order
        } Cases[] = {
            {"registered link, follow-up present", Link.c_str(), L"Documents", FolderWithFollowUp,
             {FakeRun(L"browser " + Link), L"VornUninstall.exe"}},
            {"no link registered: the maker's home page", nullptr, L"Documents", FolderWithFollowUp,
             {FakeRun(L"browser ") + HomePage, L"VornUninstall.exe"}},
            {"documents path outside the ANSI code page", Link.c_str(), Unicode, FolderWithFollowUp,
             {FakeRun(L"browser " + Link), L"VornUninstall.exe"}},
            {"no follow-up program: the application ends as usual", Link.c_str(), L"Documents", EmptyFolder,
             {FakeRun(L"browser " + Link)}},
            {"a link the shell cannot open is not reported", L"Z:\\no\\such\\page.html", L"Documents",
             FolderWithFollowUp, {L"VornUninstall.exe"}},
            {"documents folder that cannot be found: no follow-up", Link.c_str(), L"Missing", NoFolder,
             {FakeRun(L"browser " + Link)}},
        };
        int Number = 0;
        for (const auto& Case : Cases)
        {
            SCOPED_TRACE(Case.Situation);
            DeleteKeyTree(TarnwellburyKey);
            Log.Restart();
            // Each case has a folder of its own: programs of the one before may still run.
            const std::wstring Folder =
                WorkDirectory() + L"\\case" + std::to_wstring(++Number) + L"\\" + Case.Documents;
            if (Case.Folder != NoFolder)
                CreateFolders(Folder);
            UseDocumentsFolder(Folder, Case.Folder == FolderWithFollowUp);
            if (Case.Link)
                SetString(LinksKey, L"Uninstall", Case.Link);
            SetString(UninstallPathsKey, L"Common", FakeCommand(L"Common"));

            RunToTheEnd();

            // The common uninstaller has run, last, when the click returns; the window
            // is closed but still there until the message loop ends.
            EXPECT_EQ((std::vector<std::wstring>{FakeRun(L"AppA /silent"), FakeRun(L"Common /silent")}), Log.Lines());
            EXPECT_TRUE(Application->Terminated);
            EXPECT_TRUE(IsWindow(Form->Handle));
            EXPECT_TRUE(CloseCommandEnabled());
            EXPECT_TRUE(Errors.empty());

            std::vector<std::wstring> Later = Log.WaitForLines(2 + Case.Later.size());
            Later.erase(Later.begin(), Later.begin() + std::min<size_t>(2, Later.size()));
            std::vector<std::wstring> Expected = Case.Later;
            std::sort(Later.begin(), Later.end());
            std::sort(Expected.begin(), Expected.end());
            EXPECT_EQ(Expected, Later);
            NewApplication();
        }
    }

    TEST_F(FinishTest, CommonIsRunOnceWhateverItsLetterCase)
    {
        SetString(UninstallPathsKey, L"common", FakeCommand(L"Common"));
        RunToTheEnd();
        EXPECT_EQ((std::vector<std::wstring>{FakeRun(L"AppA /silent"), FakeRun(L"Common /silent")}), Log.Lines());
        EXPECT_TRUE(Application->Terminated);
    }

    TEST_F(FinishTest, MissingCommonEndsThePhaseWithTheWindowOpen)
    {
        SetString(LinksKey, L"Uninstall", L"https://example.test/after");
        RunToTheEnd();
        EXPECT_EQ((std::vector<std::wstring>{FakeRun(L"AppA /silent")}), Log.Lines());
        EXPECT_FALSE(Application->Terminated);
        EXPECT_EQ(0, int(Form->lvApp->Items->Count));
        EXPECT_EQ((TStates{false, false, false}), States());
        EXPECT_TRUE(CloseCommandEnabled());
        EXPECT_TRUE(Errors.empty());
    }

    TEST_F(FinishTest, NonStringValueIsShownInTheStandardErrorBoxAndTheWindowStays)
    {
        const struct
        {
            const char* Situation;
            const wchar_t* Key;
            const wchar_t* Name;
            std::vector<std::wstring> Runs;
        } Cases[] = {
            {"Common", UninstallPathsKey, L"Common", {FakeRun(L"AppA /silent")}},
            {"the link, read after Common has run", LinksKey, L"Uninstall",
             {FakeRun(L"AppA /silent"), FakeRun(L"Common /silent")}},
        };
        for (const auto& Case : Cases)
        {
            SCOPED_TRACE(Case.Situation);
            DeleteKeyTree(TarnwellburyKey);
            Log.Restart();
            SetString(UninstallPathsKey, L"Common", FakeCommand(L"Common"));
            SetDword(Case.Key, Case.Name, 1);
            UseDocumentsFolder(WorkDirectory() + L"\\Documents", true);
            Application->Title = L"Uninstall"; // as the program entry sets it
            Application->OnException = nullptr;

            TMessageBoxCatcher Box;
            RunToTheEnd();

            ASSERT_TRUE(Box.Record().Shown);
            EXPECT_EQ(L"Uninstall", Box.Record().Caption);
            EXPECT_EQ(L"Invalid data type for '" + std::wstring(Case.Name) + L"'", Box.Record().Text);
            EXPECT_TRUE(Box.Record().ErrorIcon);
            EXPECT_EQ(Case.Runs, Log.Lines());
            EXPECT_FALSE(Application->Terminated);
            EXPECT_TRUE(CloseCommandEnabled());
            EXPECT_EQ((TStates{false, false, false}), States());
            NewApplication();
        }
    }
}
