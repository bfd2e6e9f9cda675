#include "TestSupport.h"
#include <filesystem>

extern "C" LONG NTAPI NtDeleteKey(HANDLE Key); // ntdll
#include <fstream>
#include <sstream>

namespace uninstall_test
{
    const wchar_t TarnwellburyKey[] = L"SOFTWARE\\Tarnwellbury";
    const wchar_t UninstallPathsKey[] = L"SOFTWARE\\Tarnwellbury\\UninstallPaths";
    const wchar_t LinksKey[] = L"SOFTWARE\\Tarnwellbury\\Links";

    bool KeyExists(const std::wstring& Key)
    {
        wil::unique_hkey Opened;
        return RegOpenKeyExW(HKEY_LOCAL_MACHINE, Key.c_str(), 0, KEY_READ, Opened.put()) == ERROR_SUCCESS;
    }

    void CreateKey(const std::wstring& Key)
    {
        wil::unique_hkey Created;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, Key.c_str(), 0, nullptr, 0, KEY_READ, nullptr,
                                                 Created.put(), nullptr));
    }

    void CreateUnreachableKey(const std::wstring& Key)
    {
        wil::unique_hkey Link;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, Key.c_str(), 0, nullptr,
                                                 REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE,
                                                 KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, Link.put(), nullptr));
        const std::wstring Target = L"\\Registry\\Nowhere\\Key";
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(Link.get(), L"SymbolicLinkValue", 0, REG_LINK,
                                                reinterpret_cast<const BYTE*>(Target.data()),
                                                static_cast<DWORD>(Target.size() * sizeof(wchar_t))));
    }

    namespace
    {
        // Links below Key are removed as links; RegDeleteTree would follow them.
        void DeleteLinks(HKEY Parent, const std::wstring& Key)
        {
            wil::unique_hkey Opened;
            if (RegOpenKeyExW(Parent, Key.c_str(), REG_OPTION_OPEN_LINK, KEY_READ | DELETE, Opened.put()) !=
                ERROR_SUCCESS)
                return;
            DWORD Type = REG_NONE;
            if (RegQueryValueExW(Opened.get(), L"SymbolicLinkValue", nullptr, &Type, nullptr, nullptr) ==
                    ERROR_SUCCESS &&
                Type == REG_LINK)
            {
                NtDeleteKey(Opened.get());
                return;
            }
            std::vector<std::wstring> Children;
            wchar_t Name[256];
            for (DWORD i = 0, Length = 256;
                 RegEnumKeyExW(Opened.get(), i, Name, &Length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
                 ++i, Length = 256)
                Children.push_back(Name);
            for (const std::wstring& Child : Children)
                DeleteLinks(Opened.get(), Child);
        }
    }

    void DeleteKeyTree(const std::wstring& Key)
    {
        DeleteLinks(HKEY_LOCAL_MACHINE, Key);
        const LONG Status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, Key.c_str());
        ASSERT_TRUE(Status == ERROR_SUCCESS || Status == ERROR_FILE_NOT_FOUND) << Status;
        ASSERT_FALSE(KeyExists(Key));
    }

    void SetValue(const std::wstring& Key, const std::wstring& Name, DWORD Type, const void* Data, DWORD Size)
    {
        wil::unique_hkey Created;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, Key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                                 nullptr, Created.put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(Created.get(), Name.c_str(), 0, Type,
                                                static_cast<const BYTE*>(Data), Size));
    }

    void SetString(const std::wstring& Key, const std::wstring& Name, const std::wstring& Data, DWORD Type)
    {
        SetValue(Key, Name, Type, Data.c_str(), static_cast<DWORD>((Data.size() + 1) * sizeof(wchar_t)));
    }

    void SetDword(const std::wstring& Key, const std::wstring& Name, DWORD Data)
    {
        SetValue(Key, Name, REG_DWORD, &Data, sizeof(Data));
    }

    TSavedValue::TSavedValue(HKEY Root, std::wstring Key, std::wstring Name, DWORD DefaultType,
                             const std::wstring& Default)
        : FRoot(Root), FKey(std::move(Key)), FName(std::move(Name))
    {
        DWORD Size = 0;
        if (RegGetValueW(FRoot, FKey.c_str(), FName.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &FType, nullptr, &Size) ==
            ERROR_SUCCESS)
        {
            FData.resize(Size);
            FExisted = RegGetValueW(FRoot, FKey.c_str(), FName.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &FType,
                                    FData.data(), &Size) == ERROR_SUCCESS;
            FData.resize(Size);
        }
        const std::wstring Text(reinterpret_cast<const wchar_t*>(FData.data()), FData.size() / sizeof(wchar_t));
        if (!FExisted || Text.find(TestDirectory()) != std::wstring::npos)
        {
            FExisted = true;
            FType = DefaultType;
            const auto* Bytes = reinterpret_cast<const BYTE*>(Default.c_str());
            FData.assign(Bytes, Bytes + (Default.size() + 1) * sizeof(wchar_t));
        }
    }

    TSavedValue::~TSavedValue()
    {
        wil::unique_hkey Key;
        if (RegCreateKeyExW(FRoot, FKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, Key.put(), nullptr) !=
            ERROR_SUCCESS)
            return;
        if (FExisted)
            RegSetValueExW(Key.get(), FName.c_str(), 0, FType, FData.data(), static_cast<DWORD>(FData.size()));
        else
            RegDeleteValueW(Key.get(), FName.c_str());
    }

    void TSavedValue::Set(DWORD Type, const std::wstring& Data)
    {
        wil::unique_hkey Key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(FRoot, FKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                                 Key.put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(Key.get(), FName.c_str(), 0, Type,
                                                reinterpret_cast<const BYTE*>(Data.c_str()),
                                                static_cast<DWORD>((Data.size() + 1) * sizeof(wchar_t))));
    }

    std::wstring TestDirectory()
    {
        wchar_t Path[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, Path, MAX_PATH);
        *wcsrchr(Path, L'\\') = L'\0';
        return Path;
    }

    std::wstring WorkDirectory()
    {
        const testing::TestInfo* Test = testing::UnitTest::GetInstance()->current_test_info();
        std::string Name = Test ? std::string(Test->test_suite_name()) + "." + Test->name() : "none";
        for (char& C : Name)
            if (C == '/')
                C = '_';
        return TestDirectory() + L"\\work\\" + std::wstring(Name.begin(), Name.end());
    }

    std::wstring FakeUninstaller()
    {
        return TestDirectory() + L"\\uninstall_fake.exe";
    }

    std::wstring Quote(const std::wstring& Path)
    {
        return L"\"" + Path + L"\"";
    }

    std::wstring FakeCommand(const std::wstring& Arguments)
    {
        return Quote(FakeUninstaller()) + L" " + Arguments;
    }

    std::wstring FakeRun(const std::wstring& Arguments)
    {
        return L"uninstall_fake.exe " + Arguments;
    }

    void CreateFolders(const std::wstring& Path)
    {
        std::error_code Error;
        std::filesystem::create_directories(std::filesystem::path(Path), Error);
        ASSERT_FALSE(Error) << Error.message();
    }

    void CopyFakeUninstaller(const std::wstring& Destination)
    {
        CreateFolders(std::filesystem::path(Destination).parent_path().wstring());
        ASSERT_TRUE(CopyFileW(FakeUninstaller().c_str(), Destination.c_str(), FALSE)) << GetLastError();
    }

    bool RepresentableInAnsi(const std::wstring& Text)
    {
        BOOL UsedDefault = FALSE;
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, Text.c_str(), -1, nullptr, 0, nullptr, &UsedDefault);
        return !UsedDefault;
    }

    void TRunLog::Restart()
    {
        FPath = WorkDirectory() + L"\\runs-" + std::to_wstring(++FNumber) + L".log";
        SetEnvironmentVariableW(L"UNINSTALL_TEST_LOG", FPath.c_str());
    }

    std::vector<std::wstring> TRunLog::Lines() const
    {
        std::ifstream File(std::filesystem::path(FPath), std::ios::binary);
        std::vector<std::wstring> Result;
        std::string Line;
        while (std::getline(File, Line))
        {
            const int Size = MultiByteToWideChar(CP_UTF8, 0, Line.data(), static_cast<int>(Line.size()), nullptr, 0);
            std::wstring Wide(Size, L'\0');
            MultiByteToWideChar(CP_UTF8, 0, Line.data(), static_cast<int>(Line.size()), Wide.data(), Size);
            Result.push_back(Wide);
        }
        return Result;
    }

    std::vector<std::wstring> TRunLog::WaitForLines(size_t Count, DWORD TimeoutMs) const
    {
        const ULONGLONG Deadline = GetTickCount64() + TimeoutMs;
        std::vector<std::wstring> Result = Lines();
        while (Result.size() < Count && GetTickCount64() < Deadline)
        {
            Sleep(100);
            Result = Lines();
        }
        return Result;
    }

    void ClickAt(HWND Window, int X, int Y)
    {
        PostMessageW(Window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(X, Y));
        PostMessageW(Window, WM_LBUTTONUP, 0, MAKELPARAM(X, Y));
        Application->ProcessMessages();
    }

    void DoubleClickAt(HWND Window, int X, int Y)
    {
        PostMessageW(Window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(X, Y));
        PostMessageW(Window, WM_LBUTTONUP, 0, MAKELPARAM(X, Y));
        PostMessageW(Window, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(X, Y));
        PostMessageW(Window, WM_LBUTTONUP, 0, MAKELPARAM(X, Y));
        Application->ProcessMessages();
    }

    void ClickCenter(TWinControl* Control)
    {
        RECT Client = {};
        GetClientRect(Control->Handle, &Client);
        ClickAt(Control->Handle, Client.right / 2, Client.bottom / 2);
    }

    void ClickItemCheckBox(TListView* List, int Index)
    {
        RECT Bounds = {};
        Bounds.left = LVIR_BOUNDS;
        ASSERT_TRUE(SendMessageW(List->Handle, LVM_GETITEMRECT, Index, reinterpret_cast<LPARAM>(&Bounds)));
        const int Y = (Bounds.top + Bounds.bottom) / 2;
        for (int X = Bounds.left; X < Bounds.left + 40; ++X)
        {
            LVHITTESTINFO Hit = {};
            Hit.pt = {X, Y};
            SendMessageW(List->Handle, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&Hit));
            if (Hit.iItem == Index && (Hit.flags & LVHT_ONITEMSTATEICON))
            {
                ClickAt(List->Handle, X + 4, Y);
                return;
            }
        }
        FAIL() << "no check box found for item " << Index;
    }

    POINT ItemLabelPoint(TListView* List, int Index)
    {
        RECT Label = {};
        Label.left = LVIR_LABEL;
        SendMessageW(List->Handle, LVM_GETITEMRECT, Index, reinterpret_cast<LPARAM>(&Label));
        return {Label.left + 10, (Label.top + Label.bottom) / 2};
    }

    TThreadTimer* TThreadTimer::Current = nullptr;

    TThreadTimer::TThreadTimer(std::function<bool()> Action) : FAction(std::move(Action))
    {
        Current = this;
        FTimer = SetTimer(nullptr, 0, 50, OnTimer);
    }

    TThreadTimer::~TThreadTimer()
    {
        KillTimer(nullptr, FTimer);
        Current = nullptr;
    }

    void CALLBACK TThreadTimer::OnTimer(HWND, UINT, UINT_PTR, DWORD)
    {
        if (Current && !Current->FDone)
            Current->FDone = Current->FAction();
    }

    namespace
    {
        std::wstring ClassOf(HWND Window)
        {
            wchar_t Name[256] = {};
            GetClassNameW(Window, Name, 256);
            return Name;
        }

        BOOL CALLBACK AddWindow(HWND Window, LPARAM Windows)
        {
            reinterpret_cast<std::vector<HWND>*>(Windows)->push_back(Window);
            return TRUE;
        }

        std::vector<HWND> ThreadWindows()
        {
            std::vector<HWND> Windows;
            EnumThreadWindows(GetCurrentThreadId(), AddWindow, reinterpret_cast<LPARAM>(&Windows));
            return Windows;
        }

        bool ShowsErrorIcon(HWND Box)
        {
            std::vector<HWND> Children;
            EnumChildWindows(Box, AddWindow, reinterpret_cast<LPARAM>(&Children));
            const HICON Error = LoadIconW(nullptr, IDI_HAND);
            for (HWND Child : Children)
                if (ClassOf(Child) == L"Static" && (GetWindowLongW(Child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
                    reinterpret_cast<HICON>(SendMessageW(Child, STM_GETICON, 0, 0)) == Error)
                    return true;
            return false;
        }
    }

    TMessageBoxCatcher::TMessageBoxCatcher()
        : FTimer([this] {
              for (HWND Window : ThreadWindows())
              {
                  if (ClassOf(Window) != L"#32770" || !IsWindowVisible(Window))
                      continue;
                  wchar_t Text[1024] = {};
                  GetWindowTextW(Window, Text, 1024);
                  FRecord.Caption = Text;
                  GetDlgItemTextW(Window, 0xFFFF, Text, 1024);
                  FRecord.Text = Text;
                  FRecord.ErrorIcon = ShowsErrorIcon(Window);
                  for (HWND Other : ThreadWindows())
                      if (Other != Window)
                          FRecord.OtherWindowClasses.push_back(ClassOf(Other));
                  FRecord.Shown = true;
                  PostMessageW(Window, WM_COMMAND, IDOK, 0);
                  return true;
              }
              return false;
          })
    {
    }

    TMenuStateWatcher::TMenuStateWatcher(HMENU Menu, UINT Command)
        : FThread([this, Menu, Command] {
              while (!FStop)
              {
                  if (!CommandEnabled(Menu, Command))
                      FSawDisabled = true;
                  Sleep(5);
              }
          })
    {
    }

    TMenuStateWatcher::~TMenuStateWatcher()
    {
        SawDisabled();
    }

    bool TMenuStateWatcher::SawDisabled()
    {
        FStop = true;
        if (FThread.joinable())
            FThread.join();
        return FSawDisabled;
    }

    bool CommandEnabled(HMENU Menu, UINT Command)
    {
        const UINT State = GetMenuState(Menu, Command, MF_BYCOMMAND);
        return State != static_cast<UINT>(-1) && !(State & (MF_DISABLED | MF_GRAYED));
    }

    std::ostream& operator<<(std::ostream& Out, const TStates& S)
    {
        return Out << "{chAll ticked " << S.AllTicked << ", chAll enabled " << S.AllEnabled
                   << ", btnProcess enabled " << S.ButtonEnabled << "}";
    }

    void TFormTest::Open()
    {
        Application->CreateForm(&Form);
        Application->ProcessMessages();
    }

    void TFormTest::AddApplications(int Count)
    {
        for (int i = 0; i < Count; ++i)
            SetString(UninstallPathsKey, L"App" + std::to_wstring(i), FakeCommand(L"App" + std::to_wstring(i)));
    }

    TStates TFormTest::States() const
    {
        return {Form->chAll->Checked, Form->chAll->Enabled, Form->btnProcess->Enabled};
    }

    std::vector<bool> TFormTest::Ticks() const
    {
        std::vector<bool> Result;
        for (int i = 0; i < Form->lvApp->Items->Count; ++i)
            Result.push_back(Form->lvApp->Items->Item[i]->Checked);
        return Result;
    }

    std::vector<std::wstring> TFormTest::Captions() const
    {
        std::vector<std::wstring> Result;
        for (int i = 0; i < Form->lvApp->Items->Count; ++i)
            Result.push_back(String(Form->lvApp->Items->Item[i]->Caption));
        return Result;
    }

    bool TFormTest::CloseCommandEnabled() const
    {
        return CommandEnabled(GetSystemMenu(Form->Handle, FALSE), SC_CLOSE);
    }

    void TUninstallTest::SetUp()
    {
        FSavedApplication = Application;
        NewApplication();
        DeleteKeyTree(TarnwellburyKey);
        std::error_code Ignored;
        std::filesystem::remove_all(std::filesystem::path(WorkDirectory()), Ignored);
        CreateFolders(WorkDirectory());
        Log.Restart();
    }

    void TUninstallTest::NewApplication()
    {
        FApplication.reset();
        MSG Quit;
        while (PeekMessageW(&Quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        {
        }
        FApplication = std::make_unique<TApplication>(nullptr);
        Application = FApplication.get();
        Application->OnException = [this](TObject*, Exception* E) { Errors.push_back(E->Message); };
    }

    void TUninstallTest::TearDown()
    {
        FApplication.reset();
        Application = FSavedApplication;
        InitProc = nullptr;
        MSG Quit;
        while (PeekMessageW(&Quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        {
        }
        DeleteKeyTree(TarnwellburyKey);
    }
}
