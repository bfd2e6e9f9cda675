// The window: its layout, the list filled from the registry, and the rules that
// keep "All applications" and "Uninstall" consistent with the ticks. Ticks are
// set with mouse clicks posted to the real controls.
#include "Main.h"
#include "TestSupport.h"

using namespace uninstall_test;

namespace
{
    using WindowTest = TFormTest;

    // Left, top, right and bottom in the parent's client area.
    std::vector<LONG> RectInParent(HWND Window)
    {
        RECT Rect = {};
        GetWindowRect(Window, &Rect);
        MapWindowPoints(nullptr, GetParent(Window), reinterpret_cast<POINT*>(&Rect), 2);
        return {Rect.left, Rect.top, Rect.right, Rect.bottom};
    }

    std::wstring TextOf(HWND Window)
    {
        wchar_t Text[256] = {};
        GetWindowTextW(Window, Text, 256);
        return Text;
    }

    std::wstring ClassOf(HWND Window)
    {
        wchar_t Name[256] = {};
        GetClassNameW(Window, Name, 256);
        return Name;
    }

    TEST_F(WindowTest, FormFollowsItsLayout)
    {
        Open();
        const HWND Window = Form->Handle;
        EXPECT_EQ(L"TfrmMain", ClassOf(Window));
        EXPECT_EQ(L"Uninstall", TextOf(Window));
        RECT Client = {};
        GetClientRect(Window, &Client);
        EXPECT_EQ(358, Client.right);
        EXPECT_EQ(254, Client.bottom);

        const LONG Style = GetWindowLongW(Window, GWL_STYLE);
        EXPECT_EQ(LONG(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
                  Style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
        EXPECT_TRUE(GetWindowLongW(Window, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);

        RECT Frame = {};
        GetWindowRect(Window, &Frame);
        EXPECT_NEAR(GetSystemMetrics(SM_CXSCREEN) / 2, (Frame.left + Frame.right) / 2, 1);
        EXPECT_NEAR(GetSystemMetrics(SM_CYSCREEN) / 2, (Frame.top + Frame.bottom) / 2, 1);

        const struct
        {
            TWinControl* Control;
            const wchar_t* WindowClass;
            std::vector<LONG> Bounds;
            const wchar_t* Caption;
        } Controls[] = {
            {Form->lvApp, WC_LISTVIEWW, {11, 12, 11 + 336, 12 + 194}, L""},
            {Form->btnProcess, WC_BUTTONW, {210, 218, 210 + 137, 218 + 25}, L"Uninstall"},
            {Form->chAll, WC_BUTTONW, {11, 222, 11 + 144, 222 + 17}, L"All applications"},
        };
        for (const auto& Expected : Controls)
        {
            SCOPED_TRACE(testing::Message() << std::string(Expected.Control->Name.begin(), Expected.Control->Name.end()));
            const HWND Control = Expected.Control->Handle;
            EXPECT_EQ(Window, GetParent(Control));
            EXPECT_EQ(Expected.Bounds, RectInParent(Control));
            EXPECT_EQ(Expected.Caption, TextOf(Control));
            EXPECT_TRUE(GetWindowLongW(Control, GWL_STYLE) & WS_VISIBLE);
            LOGFONTW Font = {};
            ASSERT_TRUE(GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Control, WM_GETFONT, 0, 0)), sizeof(Font),
                                   &Font));
            EXPECT_STREQ(L"Tahoma", Font.lfFaceName);
            EXPECT_EQ(-11, Font.lfHeight);
        }

        // Tab order: the list, the button, the check box, each a tab stop.
        std::vector<HWND> Order;
        for (HWND Child = GetWindow(Window, GW_CHILD); Child; Child = GetWindow(Child, GW_HWNDNEXT))
        {
            Order.push_back(Child);
            EXPECT_TRUE(GetWindowLongW(Child, GWL_STYLE) & WS_TABSTOP);
        }
        EXPECT_EQ((std::vector<HWND>{Form->lvApp->Handle, Form->btnProcess->Handle, Form->chAll->Handle}), Order);

        EXPECT_EQ(BS_PUSHBUTTON, GetWindowLongW(Form->btnProcess->Handle, GWL_STYLE) & BS_TYPEMASK);
        const LONG CheckStyle = GetWindowLongW(Form->chAll->Handle, GWL_STYLE) & BS_TYPEMASK;
        EXPECT_TRUE(CheckStyle == BS_CHECKBOX || CheckStyle == BS_AUTOCHECKBOX);

        // A read-only report with check boxes, whole-row selection, one 300-pixel column and no header.
        const HWND List = Form->lvApp->Handle;
        const LONG ListStyle = GetWindowLongW(List, GWL_STYLE);
        EXPECT_EQ(LVS_REPORT, ListStyle & LVS_TYPEMASK);
        EXPECT_TRUE(ListStyle & LVS_NOCOLUMNHEADER);
        EXPECT_FALSE(ListStyle & LVS_EDITLABELS);
        const LRESULT Extended = SendMessageW(List, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
        EXPECT_EQ(LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT, Extended & (LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT));
        EXPECT_EQ(300, SendMessageW(List, LVM_GETCOLUMNWIDTH, 0, 0));
        LVCOLUMNW Second = {};
        Second.mask = LVCF_WIDTH;
        EXPECT_FALSE(SendMessageW(List, LVM_GETCOLUMNW, 1, reinterpret_cast<LPARAM>(&Second)));
    }

    TEST_F(WindowTest, ListsTheApplicationsInRegistryOrderLeavingCommonOut)
    {
        // The registry matches value names without regard to case, so every
        // spelling of "Common" is the common uninstaller.
        for (const wchar_t* Common : {L"Common", L"COMMON", L"common"})
        {
            SCOPED_TRACE(testing::Message() << std::wstring(Common).c_str());
            DeleteKeyTree(TarnwellburyKey);
            SetString(UninstallPathsKey, L"Vorn Player", L"\"C:\\Vorn\\unins000.exe\"");
            SetString(UninstallPathsKey, Common, L"\"C:\\Suite\\common.exe\"");
            SetString(UninstallPathsKey, L"Quill Tagger", L"%ProgramFiles%\\Quill\\uninstall.exe /q", REG_EXPAND_SZ);
            SetString(UninstallPathsKey, L"Broken", L"");

            std::vector<std::pair<String, String>> Expected;
            {
                TStringList Names;
                TRegistry Registry(KEY_READ);
                Registry.RootKey = HKEY_LOCAL_MACHINE;
                ASSERT_TRUE(Registry.OpenKey(UninstallPathsKey, false));
                Registry.GetValueNames(&Names);
                for (int i = 0; i < Names.Count; ++i)
                    if (String(Names.Strings[i]) != Common)
                        Expected.push_back({Names.Strings[i], Registry.ReadString(Names.Strings[i])});
            }
            ASSERT_EQ(3u, Expected.size());

            Open();
            std::vector<std::pair<String, String>> Listed;
            for (int i = 0; i < Form->lvApp->Items->Count; ++i)
            {
                TListItem* Item = Form->lvApp->Items->Item[i];
                ASSERT_EQ(1, int(Item->SubItems->Count));
                Listed.push_back({Item->Caption, Item->SubItems->Strings[0]});
                EXPECT_FALSE(Item->Checked);
            }
            EXPECT_EQ(Expected, Listed);
            EXPECT_EQ(3, SendMessageW(Form->lvApp->Handle, LVM_GETITEMCOUNT, 0, 0));
            EXPECT_EQ((TStates{false, true, false}), States());
            delete Form;
        }
    }

    TEST_F(WindowTest, EmptyKeyOrNoneGivesAnEmptyWindowWithBothControlsDisabled)
    {
        const struct
        {
            const char* Situation;
            std::function<void()> Prepare;
            bool KeyAfterwards; // a missing key is created on the way
        } Cases[] = {
            {"no key", [] {}, true},
            {"empty key", [] { CreateKey(UninstallPathsKey); }, true},
            {"only Common", [] { SetString(UninstallPathsKey, L"Common", FakeCommand(L"Common")); }, true},
            {"a key that can be neither opened nor created", [] { CreateUnreachableKey(UninstallPathsKey); }, false},
        };
        for (const auto& Case : Cases)
        {
            SCOPED_TRACE(Case.Situation);
            DeleteKeyTree(TarnwellburyKey);
            Case.Prepare();
            Open();
            EXPECT_EQ(0, int(Form->lvApp->Items->Count));
            EXPECT_EQ((TStates{false, false, false}), States());
            EXPECT_EQ(Case.KeyAfterwards, KeyExists(UninstallPathsKey));
            delete Form;
        }
    }

    TEST_F(WindowTest, NonStringValueStopsTheWindowFromBeingMade)
    {
        SetString(UninstallPathsKey, L"AppA", FakeCommand(L"AppA"));
        SetDword(UninstallPathsKey, L"AppB", 7);
        try
        {
            Application->CreateForm(&Form);
            ADD_FAILURE() << "no exception";
        }
        catch (const ERegistryException& E)
        {
            EXPECT_EQ(String(L"Invalid data type for 'AppB'"), E.Message);
        }
        EXPECT_EQ(nullptr, static_cast<TForm*>(Application->MainForm));
        EXPECT_EQ(0, int(Application->ComponentCount));
        EXPECT_EQ(nullptr, FindWindowW(L"TfrmMain", nullptr));
    }

    TEST_F(WindowTest, ControlsFollowTheTicks)
    {
        const struct
        {
            const char* Situation;
            int Applications;
            std::vector<int> Clicks; // check boxes clicked, in order
            TStates Expected;
        } Cases[] = {
            {"empty list", 0, {}, {false, false, false}},
            {"nothing ticked", 3, {}, {false, true, false}},
            {"some ticked", 3, {1}, {false, true, true}},
            {"every item ticked", 3, {0, 1, 2}, {true, true, true}},
            {"the only item ticked", 1, {0}, {true, true, true}},
            {"ticked and unticked again", 3, {2, 2}, {false, true, false}},
        };
        for (const auto& Case : Cases)
        {
            SCOPED_TRACE(Case.Situation);
            DeleteKeyTree(TarnwellburyKey);
            AddApplications(Case.Applications);
            Open();
            for (int Index : Case.Clicks)
                ClickItemCheckBox(Form->lvApp, Index);
            EXPECT_EQ(Case.Expected, States());
            delete Form;
        }
    }

    TEST_F(WindowTest, TickingEveryItemTicksAllApplicationsAndUntickingOneLeavesTheRest)
    {
        AddApplications(3);
        Open();
        ClickItemCheckBox(Form->lvApp, 0);
        ClickItemCheckBox(Form->lvApp, 2);
        EXPECT_EQ((TStates{false, true, true}), States());
        ClickItemCheckBox(Form->lvApp, 1);
        EXPECT_EQ((TStates{true, true, true}), States());
        EXPECT_EQ((std::vector<bool>{true, true, true}), Ticks());

        ClickItemCheckBox(Form->lvApp, 1);
        EXPECT_EQ((TStates{false, true, true}), States());
        EXPECT_EQ((std::vector<bool>{true, false, true}), Ticks());
    }

    TEST_F(WindowTest, AllApplicationsTicksAndUnticksEveryItem)
    {
        AddApplications(3);
        Open();
        ClickItemCheckBox(Form->lvApp, 1);
        ClickCenter(Form->chAll);
        EXPECT_EQ((std::vector<bool>{true, true, true}), Ticks());
        EXPECT_EQ((TStates{true, true, true}), States());

        ClickCenter(Form->chAll);
        EXPECT_EQ((std::vector<bool>{false, false, false}), Ticks());
        EXPECT_EQ((TStates{false, true, false}), States());
    }

    TEST_F(WindowTest, DoubleClickOnTheListReevaluatesTheControls)
    {
        AddApplications(2);
        Open();
        // A tick set by program raises no event of the list...
        Form->lvApp->Items->Item[1]->Checked = true;
        Application->ProcessMessages();
        EXPECT_EQ((TStates{false, true, false}), States());
        // ...until the list reports a double click.
        const POINT Label = ItemLabelPoint(Form->lvApp, 0);
        PostMessageW(Form->lvApp->Handle, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(Label.x, Label.y));
        PostMessageW(Form->lvApp->Handle, WM_LBUTTONUP, 0, MAKELPARAM(Label.x, Label.y));
        Application->ProcessMessages();
        EXPECT_EQ((TStates{false, true, true}), States());
    }
}
