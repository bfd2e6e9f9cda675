// The toolkit itself: what the uninstaller relies on that its own tests do not
// pin down. A small form of its own drives the controls.
#include "TestSupport.h"
#include <filesystem>

using namespace uninstall_test;

namespace
{
    class TProbeForm : public TForm
    {
    __published:
        TListView* List;
        TButton* Button;
        TCheckBox* Box;
        void ListClick(TObject* Sender);
        void ListDblClick(TObject* Sender);
        void ButtonClick(TObject* Sender);
        void BoxClick(TObject* Sender);

    public:
        TProbeForm(TComponent* Owner, const TFormResource& Resource);
        explicit TProbeForm(TComponent* Owner);

        std::vector<std::vector<bool>> TicksAtListClicks; // the ticks each OnClick saw
        int ListDblClicks = 0;
        int ButtonClicks = 0;
        std::vector<bool> BoxAtClicks; // the tick each OnClick saw
        std::function<void()> ButtonAction;
    };

    const TPublishedTable<TProbeForm> ProbePublished = {
        .Fields = {{L"List", &TProbeForm::List}, {L"Button", &TProbeForm::Button}, {L"Box", &TProbeForm::Box}},
        .Methods = {{L"ListClick", &TProbeForm::ListClick},
                    {L"ListDblClick", &TProbeForm::ListDblClick},
                    {L"ButtonClick", &TProbeForm::ButtonClick},
                    {L"BoxClick", &TProbeForm::BoxClick}},
    };

    const TFormResource ProbeResource = {
        .ClassName = L"TProbeForm",
        .Name = L"Probe",
        .ClientWidth = 300,
        .ClientHeight = 200,
        .Caption = L"Probe",
        .Controls =
            {
                {.ClassName = L"TCheckBox", .Name = L"Box", .Left = 8, .Top = 170, .Width = 100, .Height = 17,
                 .Caption = L"Box", .TabOrder = 2, .OnClick = L"BoxClick"},
                {.ClassName = L"TListView", .Name = L"List", .Left = 8, .Top = 8, .Width = 284, .Height = 150,
                 .TabOrder = 0, .ViewStyle = vsReport, .Checkboxes = true, .Columns = {200},
                 .ShowColumnHeaders = false, .ReadOnly = true, .RowSelect = true, .OnClick = L"ListClick",
                 .OnDblClick = L"ListDblClick"},
                {.ClassName = L"TButton", .Name = L"Button", .Left = 200, .Top = 166, .Width = 90, .Height = 25,
                 .Caption = L"Go", .TabOrder = 1, .OnClick = L"ButtonClick"},
            },
    };

    TProbeForm::TProbeForm(TComponent* Owner, const TFormResource& Resource)
        : TForm(Owner), List(nullptr), Button(nullptr), Box(nullptr)
    {
        InitInheritedComponent(this, Resource, ProbePublished);
    }

    TProbeForm::TProbeForm(TComponent* Owner) : TProbeForm(Owner, ProbeResource) {}

    void TProbeForm::ListClick(TObject*)
    {
        std::vector<bool> Ticks;
        for (int i = 0; i < List->Items->Count; ++i)
            Ticks.push_back(List->Items->Item[i]->Checked);
        TicksAtListClicks.push_back(Ticks);
    }

    void TProbeForm::ListDblClick(TObject*)
    {
        ++ListDblClicks;
    }

    void TProbeForm::ButtonClick(TObject*)
    {
        ++ButtonClicks;
        if (ButtonAction)
            ButtonAction();
    }

    void TProbeForm::BoxClick(TObject*)
    {
        BoxAtClicks.push_back(Box->Checked);
    }

    class VclTest : public TUninstallTest
    {
    protected:
        TProbeForm* Form = nullptr;
        void Open(int Items = 0)
        {
            Application->CreateForm(&Form);
            for (int i = 0; i < Items; ++i)
                Form->List->Items->Add()->Caption = L"Item" + std::to_wstring(i);
            Application->ProcessMessages();
        }
        std::vector<std::wstring> ControlCaptions() const
        {
            std::vector<std::wstring> Result;
            const HWND Window = Form->List->Handle;
            for (int i = 0; i < SendMessageW(Window, LVM_GETITEMCOUNT, 0, 0); ++i)
            {
                wchar_t Text[64] = {};
                LVITEMW Item = {};
                Item.pszText = Text;
                Item.cchTextMax = 64;
                SendMessageW(Window, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&Item));
                Result.push_back(Text);
            }
            return Result;
        }
    };

    TEST_F(VclTest, FormBuilderMakesTheLayoutsControlsAndBindsThem)
    {
        Open();
        const struct
        {
            TWinControl* Control;
            const wchar_t* Name;
            const wchar_t* WindowClass;
        } Expected[] = {{Form->List, L"List", WC_LISTVIEWW},
                        {Form->Button, L"Button", WC_BUTTONW},
                        {Form->Box, L"Box", WC_BUTTONW}};
        EXPECT_EQ(3, int(Form->ComponentCount));
        for (const auto& E : Expected)
        {
            ASSERT_NE(nullptr, E.Control);
            EXPECT_EQ(E.Control, Form->FindComponent(E.Name));
            EXPECT_EQ(static_cast<TComponent*>(Form), static_cast<TComponent*>(E.Control->Owner));
            EXPECT_EQ(HWND(Form->Handle), GetParent(E.Control->Handle));
            wchar_t Class[64] = {};
            GetClassNameW(E.Control->Handle, Class, 64);
            EXPECT_STREQ(E.WindowClass, Class);
        }
        ClickCenter(Form->Button);
        EXPECT_EQ(1, Form->ButtonClicks);
    }

    TEST_F(VclTest, FormBuilderRejectsALayoutItCannotBind)
    {
        const struct
        {
            const char* Fault;
            std::function<void(TControlResource&)> Change;
            const wchar_t* Message;
        } Cases[] = {
            {"unknown class", [](TControlResource& C) { C.ClassName = L"TMemo"; }, L"Class TMemo not found"},
            {"unknown handler", [](TControlResource& C) { C.OnClick = L"Nope"; }, L"Method 'Nope' not found"},
            {"field of another class", [](TControlResource& C) { C.ClassName = L"TButton"; },
             L"Invalid class type for field Box"},
        };
        for (const auto& Case : Cases)
        {
            SCOPED_TRACE(Case.Fault);
            TFormResource Faulty = ProbeResource;
            Case.Change(Faulty.Controls[0]);
            try
            {
                new TProbeForm(Application, Faulty);
                ADD_FAILURE() << "no exception";
            }
            catch (const Exception& E)
            {
                EXPECT_EQ(String(Case.Message), E.Message);
            }
            EXPECT_EQ(0, int(Application->ComponentCount));
            EXPECT_EQ(nullptr, FindWindowW(L"TProbeForm", nullptr));
        }
    }

    TEST_F(VclTest, CheckBoxRaisesOnClickOnEveryRealChangeOfTheTick)
    {
        Open();
        // Set by program: raised only when the tick actually changes.
        for (bool Value : {true, true, false, false, true})
            Form->Box->Checked = Value;
        EXPECT_EQ((std::vector<bool>{true, false, true}), Form->BoxAtClicks);

        // By the user: the control flips the tick before the event.
        Form->BoxAtClicks.clear();
        ClickCenter(Form->Box);
        ClickCenter(Form->Box);
        EXPECT_EQ((std::vector<bool>{false, true}), Form->BoxAtClicks);
        EXPECT_TRUE(Form->Box->Checked);
    }

    TEST_F(VclTest, ListItemsAreAppendedDeletedAndCleared)
    {
        Open(4);
        EXPECT_EQ((std::vector<std::wstring>{L"Item0", L"Item1", L"Item2", L"Item3"}), ControlCaptions());
        TListItem* Third = Form->List->Items->Item[2];
        EXPECT_EQ(2, int(Third->Index));
        Third->SubItems->Add(L"command");
        Third->Checked = true;

        Form->List->Items->Delete(1);
        EXPECT_EQ(3, int(Form->List->Items->Count));
        EXPECT_EQ((std::vector<std::wstring>{L"Item0", L"Item2", L"Item3"}), ControlCaptions());
        EXPECT_EQ(Third, Form->List->Items->Item[1]);
        EXPECT_EQ(1, int(Third->Index));
        EXPECT_TRUE(Third->Checked);
        EXPECT_EQ(String(L"command"), String(Third->SubItems->Strings[0]));
        EXPECT_FALSE(Form->List->Items->Item[0]->Checked);

        EXPECT_THROW(Form->List->Items->Item[3], EListError);
        Form->List->Items->Clear();
        EXPECT_EQ(0, int(Form->List->Items->Count));
        EXPECT_TRUE(ControlCaptions().empty());
    }

    TEST_F(VclTest, ListEventsComeFromTheMouseOnceTheTickHasChanged)
    {
        Open(2);
        Form->List->Items->Item[0]->Checked = true;
        Form->List->Items->Item[0]->Checked = false;
        Application->ProcessMessages();
        EXPECT_TRUE(Form->TicksAtListClicks.empty());

        ClickItemCheckBox(Form->List, 1);
        EXPECT_EQ((std::vector<std::vector<bool>>{{false, true}}), Form->TicksAtListClicks);

        // The keyboard ticks the focused item too, but raises no click.
        LVITEMW Focus = {};
        Focus.stateMask = Focus.state = LVIS_FOCUSED | LVIS_SELECTED;
        SendMessageW(Form->List->Handle, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&Focus));
        SetFocus(Form->List->Handle);
        PostMessageW(Form->List->Handle, WM_KEYDOWN, VK_SPACE, 0);
        PostMessageW(Form->List->Handle, WM_KEYUP, VK_SPACE, 0xC0000000);
        Application->ProcessMessages();
        EXPECT_TRUE(Form->List->Items->Item[0]->Checked);
        EXPECT_EQ(1u, Form->TicksAtListClicks.size());

        const POINT Label = ItemLabelPoint(Form->List, 0);
        DoubleClickAt(Form->List->Handle, Label.x, Label.y);
        EXPECT_EQ(1, Form->ListDblClicks);
    }

    TEST_F(VclTest, RegistryOpensCreatesAndClosesKeys)
    {
        const std::wstring Parent = std::wstring(TarnwellburyKey) + L"\\VclTest";
        const std::wstring Nested = Parent + L"\\Inner\\Deeper";
        TRegistry Registry(KEY_READ);
        Registry.RootKey = HKEY_LOCAL_MACHINE;
        EXPECT_FALSE(Registry.OpenKey(Nested, false));
        EXPECT_FALSE(KeyExists(Parent));
        EXPECT_EQ(nullptr, static_cast<HKEY>(Registry.CurrentKey));
        EXPECT_TRUE(Registry.OpenKey(Nested, true));
        EXPECT_TRUE(KeyExists(Nested));
        EXPECT_NE(nullptr, static_cast<HKEY>(Registry.CurrentKey));

        // However the current key is given up, its handle is closed.
        const struct
        {
            const char* Way;
            std::function<void(std::unique_ptr<TRegistry>&)> GiveUp;
        } Ways[] = {
            {"CloseKey", [](std::unique_ptr<TRegistry>& R) { R->CloseKey(); }},
            {"opening another key", [&](std::unique_ptr<TRegistry>& R) { ASSERT_TRUE(R->OpenKey(Parent, false)); }},
            {"a new root key", [](std::unique_ptr<TRegistry>& R) { R->RootKey = HKEY_CURRENT_USER; }},
            {"destruction", [](std::unique_ptr<TRegistry>& R) { R.reset(); }},
        };
        for (const auto& Way : Ways)
        {
            SCOPED_TRACE(Way.Way);
            auto Opened = std::make_unique<TRegistry>();
            Opened->RootKey = HKEY_LOCAL_MACHINE;
            ASSERT_TRUE(Opened->OpenKey(Nested, false));
            const HKEY Handle = Opened->CurrentKey;
            EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(Handle, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                      nullptr, nullptr, nullptr, nullptr, nullptr));
            Way.GiveUp(Opened);
            EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryInfoKeyW(Handle, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
        }
    }

    TEST_F(VclTest, RegistryWithoutACurrentKeyFindsNothing)
    {
        SetString(TarnwellburyKey, L"Value", L"data");
        TRegistry Registry;
        Registry.RootKey = HKEY_LOCAL_MACHINE;
        TStringList Names;
        Names.Add(L"stale");
        Registry.GetValueNames(&Names);
        EXPECT_EQ(0, int(Names.Count));
        EXPECT_FALSE(Registry.ValueExists(L"Value"));
        EXPECT_EQ(String(), Registry.ReadString(L"Value"));

        ASSERT_TRUE(Registry.OpenKey(TarnwellburyKey, false));
        EXPECT_TRUE(Registry.ValueExists(L"VALUE"));
        EXPECT_FALSE(Registry.ValueExists(L"Other"));
    }

    TEST_F(VclTest, PathAndTextHelpers)
    {
        const std::pair<const wchar_t*, const wchar_t*> Delimited[] = {
            {L"C:\\Users\\me\\Documents", L"C:\\Users\\me\\Documents\\"},
            {L"C:\\Users\\me\\Documents\\", L"C:\\Users\\me\\Documents\\"},
            {L"C:\\", L"C:\\"},
            {L"", L"\\"},
        };
        for (const auto& [Path, Expected] : Delimited)
            EXPECT_EQ(String(Expected), IncludeTrailingPathDelimiter(Path));

        const std::wstring Folder = WorkDirectory() + L"\\Folder.exe";
        const std::wstring File = WorkDirectory() + L"\\File.exe";
        CreateFolders(Folder);
        CopyFakeUninstaller(File);
        EXPECT_TRUE(FileExists(File));
        EXPECT_FALSE(FileExists(Folder));
        EXPECT_FALSE(FileExists(WorkDirectory() + L"\\Missing.exe"));

        const struct
        {
            const wchar_t* A;
            const wchar_t* B;
            bool Same;
        } Names[] = {{L"Common", L"Common", true}, {L"Common", L"cOMMON", true}, {L"Common", L"Commons", false},
                     {L"Общий", L"ОБЩИЙ", true},   {L"", L"", true},               {L"Common", L"", false}};
        for (const auto& N : Names)
            EXPECT_EQ(N.Same, SameText(N.A, N.B)) << std::wstring(N.A).size() << " " << std::wstring(N.B).size();

        EXPECT_EQ(String(L"Invalid data type for 'X'"), Format(L"Invalid data type for '%s'", {L"X"}));
        EXPECT_EQ(String(L"100% of a, b"), Format(L"100%% of %s, %s", {L"a", L"b"}));
        EXPECT_THROW(Format(L"%s and %s", {L"a"}), Exception);
    }

    TEST_F(VclTest, ApplicationTitleIsTheProgramNameUntilSet)
    {
        EXPECT_EQ(String(L"uninstall_tests"), String(Application->Title));
        Application->Title = L"Uninstall";
        EXPECT_EQ(String(L"Uninstall"), String(Application->Title));
    }

    TEST_F(VclTest, ExceptionLeavingAHandlerGoesToTheStandardErrorBox)
    {
        const struct
        {
            const char* Thrown;
            std::function<void()> Throw;
            std::wstring Text;
        } Cases[] = {
            {"an Exception", [] { throw ERegistryException(L"Invalid data type for 'Size'"); },
             L"Invalid data type for 'Size'"},
            {"anything else", [] { throw 42; }, L""},
        };
        for (const auto& Case : Cases)
        {
            SCOPED_TRACE(Case.Thrown);
            NewApplication();
            Application->Title = L"Probe title";
            Open();
            Form->ButtonAction = Case.Throw;

            // With OnException set, the handler gets it and no box is shown.
            ClickCenter(Form->Button);
            EXPECT_EQ(std::vector<String>{Case.Text}, Errors);

            Application->OnException = nullptr;
            TMessageBoxCatcher Box;
            ClickCenter(Form->Button);
            ASSERT_TRUE(Box.Record().Shown);
            EXPECT_EQ(L"Probe title", Box.Record().Caption);
            EXPECT_EQ(Case.Text, Box.Record().Text);
            EXPECT_TRUE(Box.Record().ErrorIcon);
            EXPECT_EQ(2, Form->ButtonClicks);
            Errors.clear();
        }
    }

    TEST_F(VclTest, ClosingTheMainFormEndsTheApplicationOnceBackInTheLoop)
    {
        const struct
        {
            const char* Way;
            std::function<void(TForm*)> Close;
        } Ways[] = {
            {"Close", [](TForm* F) { F->Close(); }},
            {"the system menu's Close command", [](TForm* F) { PostMessageW(F->Handle, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        };
        for (const auto& Way : Ways)
        {
            SCOPED_TRACE(Way.Way);
            NewApplication();
            Open();
            TProbeForm* Other = new TProbeForm(Application);
            Other->Show();
            Way.Close(Other);
            Application->ProcessMessages();
            EXPECT_FALSE(Other->Visible);
            EXPECT_FALSE(Application->Terminated);

            Way.Close(Form);
            EXPECT_TRUE(IsWindow(Form->Handle));
            Application->ProcessMessages();
            EXPECT_TRUE(Application->Terminated);
            EXPECT_TRUE(IsWindow(Form->Handle));
        }
    }
}
