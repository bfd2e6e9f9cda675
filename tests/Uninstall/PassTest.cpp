// The uninstall pass: a click on "Uninstall" runs the ticked items' uninstallers
// one at a time, in list order, with " /silent" appended. The log is read right
// after the click returns, so each run must have ended by then.
#include "TestSupport.h"

using namespace uninstall_test;

namespace
{
    enum class TCommand
    {
        Runs,          // the fake uninstaller, which succeeds
        EndsWithError, // the fake uninstaller, exit code 1
        CannotStart,   // names no program
        Empty,         // no command line at all
    };

    struct TItem
    {
        const wchar_t* Name;
        TCommand Command;
        bool Ticked;
    };

    class PassTest : public TFormTest
    {
    protected:
        // Also configures the finishing phase: a fake common uninstaller, and a
        // link that names no file, so opening it shows and starts nothing.
        void Prepare(const std::vector<TItem>& Items)
        {
            for (const TItem& Item : Items)
            {
                std::wstring Command;
                switch (Item.Command)
                {
                case TCommand::Runs: Command = FakeCommand(Item.Name); break;
                case TCommand::EndsWithError: Command = FakeCommand(std::wstring(Item.Name) + L" fail"); break;
                case TCommand::CannotStart: Command = Quote(WorkDirectory() + L"\\missing.exe") + L" " + Item.Name; break;
                case TCommand::Empty: break;
                }
                SetString(UninstallPathsKey, Item.Name, Command);
            }
            SetString(UninstallPathsKey, L"Common", FakeCommand(L"Common"));
            SetString(LinksKey, L"Uninstall", WorkDirectory() + L"\\no-such-page.html");
            Open();
            // Names are chosen so that the registry's order is the table's.
            std::vector<std::wstring> Names;
            for (const TItem& Item : Items)
                Names.push_back(Item.Name);
            ASSERT_EQ(Names, Captions());
            for (size_t i = 0; i < Items.size(); ++i)
                if (Items[i].Ticked)
                    ClickItemCheckBox(Form->lvApp, static_cast<int>(i));
        }
    };

    TEST_F(PassTest, RunsTheTickedItemsAndKeepsWhatCannotGo)
    {
        const struct
        {
            const char* Situation;
            std::vector<TItem> Items;
            std::vector<std::wstring> Runs; // the log right after the click
            std::vector<std::pair<std::wstring, bool>> Remaining; // caption and tick
            TStates After;
        } Cases[] = {
            {"ticked neighbours all run, then the common uninstaller",
             {{L"AppA", TCommand::Runs, true}, {L"AppB", TCommand::Runs, true}, {L"AppC", TCommand::Runs, true}},
             {FakeRun(L"AppA /silent"), FakeRun(L"AppB /silent"), FakeRun(L"AppC /silent"),
              FakeRun(L"Common /silent")},
             {},
             {false, false, false}},
            {"an item that cannot be started stays ticked while the others run",
             {{L"AppA", TCommand::Runs, true}, {L"AppB", TCommand::CannotStart, true}, {L"AppC", TCommand::Runs, true}},
             {FakeRun(L"AppA /silent"), FakeRun(L"AppC /silent")},
             {{L"AppB", true}},
             {true, true, true}},
            {"an unticked item stays and keeps the finishing phase away",
             {{L"AppA", TCommand::Runs, true}, {L"AppB", TCommand::Runs, false}, {L"AppC", TCommand::Runs, true}},
             {FakeRun(L"AppA /silent"), FakeRun(L"AppC /silent")},
             {{L"AppB", false}},
             {false, true, false}},
            {"an empty command line is never started and keeps its item",
             {{L"AppA", TCommand::Empty, true}, {L"AppB", TCommand::Runs, true}},
             {FakeRun(L"AppB /silent")},
             {{L"AppA", true}},
             {true, true, true}},
            {"an uninstaller that ends with an error leaves the list all the same",
             {{L"AppA", TCommand::EndsWithError, true}, {L"AppB", TCommand::Runs, true}},
             {FakeRun(L"AppA fail /silent"), FakeRun(L"AppB /silent"), FakeRun(L"Common /silent")},
             {},
             {false, false, false}},
        };
        for (const auto& Case : Cases)
        {
            SCOPED_TRACE(Case.Situation);
            DeleteKeyTree(TarnwellburyKey);
            Log.Restart();
            Prepare(Case.Items);
            ASSERT_TRUE(Form->btnProcess->Enabled);

            ClickCenter(Form->btnProcess);

            EXPECT_EQ(Case.Runs, Log.Lines());
            std::vector<std::pair<std::wstring, bool>> Remaining;
            for (int i = 0; i < Form->lvApp->Items->Count; ++i)
                Remaining.push_back({Captions()[i], Ticks()[i]});
            EXPECT_EQ(Case.Remaining, Remaining);
            EXPECT_EQ(Case.After, States());
            // The finishing phase, and only it, closes the window.
            EXPECT_EQ(Case.Remaining.empty(), bool(Application->Terminated));
            EXPECT_TRUE(IsWindow(Form->Handle));
            EXPECT_TRUE(CloseCommandEnabled());
            EXPECT_TRUE(Errors.empty());
            NewApplication();
        }
    }

    TEST_F(PassTest, CloseCommandIsDisabledWhileThePassRuns)
    {
        Prepare({{L"AppA", TCommand::Runs, true}, {L"AppB", TCommand::Runs, false}});
        ASSERT_TRUE(CloseCommandEnabled());
        {
            TMenuStateWatcher Watcher(GetSystemMenu(Form->Handle, FALSE), SC_CLOSE);
            ClickCenter(Form->btnProcess);
            EXPECT_TRUE(Watcher.SawDisabled());
        }
        EXPECT_EQ((std::vector<std::wstring>{FakeRun(L"AppA /silent")}), Log.Lines());
        EXPECT_TRUE(CloseCommandEnabled());
    }

    TEST_F(PassTest, LaterClickTriesAnItemThatCouldNotBeStartedAgain)
    {
        Prepare({{L"AppA", TCommand::CannotStart, true}, {L"AppB", TCommand::Runs, false}});
        ClickCenter(Form->btnProcess);
        EXPECT_EQ((std::vector<std::wstring>{L"AppA", L"AppB"}), Captions());

        // The program appears meanwhile: the same item, still ticked, now runs.
        CopyFakeUninstaller(WorkDirectory() + L"\\missing.exe");
        ClickCenter(Form->btnProcess);
        EXPECT_EQ((std::vector<std::wstring>{L"missing.exe AppA /silent"}), Log.Lines());
        EXPECT_EQ((std::vector<std::wstring>{L"AppB"}), Captions());
        EXPECT_EQ((TStates{false, true, false}), States());
    }
}
