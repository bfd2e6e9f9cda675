// What the uninstaller's tests share: the registry keys it reads, the fake
// uninstaller and its log, mouse clicks on real controls, and message boxes.
#pragma once

#include <vcl.h>
#include "Main.h"
#include <gtest/gtest.h>
#include <atomic>
#include <functional>
#include <thread>
#include <string>
#include <vector>

namespace uninstall_test
{
    extern const wchar_t TarnwellburyKey[];
    extern const wchar_t UninstallPathsKey[];
    extern const wchar_t LinksKey[];

    // HKEY_LOCAL_MACHINE, as the program reads it.
    bool KeyExists(const std::wstring& Key);
    void CreateKey(const std::wstring& Key);
    // A registry link at Key to a place where no key can be made: Key can then be
    // neither opened nor created. DeleteKeyTree removes it.
    void CreateUnreachableKey(const std::wstring& Key);
    void DeleteKeyTree(const std::wstring& Key);
    void SetValue(const std::wstring& Key, const std::wstring& Name, DWORD Type, const void* Data, DWORD Size);
    void SetString(const std::wstring& Key, const std::wstring& Name, const std::wstring& Data, DWORD Type = REG_SZ);
    void SetDword(const std::wstring& Key, const std::wstring& Name, DWORD Data);

    // A registry value that a test changes and puts back as it was. A value that
    // still names this program's folder was left by a run killed halfway: the
    // system's default (type and text) is put back instead.
    class TSavedValue
    {
    public:
        TSavedValue(HKEY Root, std::wstring Key, std::wstring Name, DWORD DefaultType, const std::wstring& Default);
        ~TSavedValue();
        void Set(DWORD Type, const std::wstring& Data);

    private:
        HKEY FRoot;
        std::wstring FKey;
        std::wstring FName;
        bool FExisted = false;
        DWORD FType = REG_NONE;
        std::vector<BYTE> FData;
    };

    // Folders and files of this test run, below the test program's own folder.
    std::wstring TestDirectory();
    std::wstring WorkDirectory(); // emptied by each test
    std::wstring FakeUninstaller();
    std::wstring Quote(const std::wstring& Path);
    // The command line of the fake uninstaller with these arguments.
    std::wstring FakeCommand(const std::wstring& Arguments);
    void CreateFolders(const std::wstring& Path);
    void CopyFakeUninstaller(const std::wstring& Destination);
    bool RepresentableInAnsi(const std::wstring& Text);

    // The log the fake uninstaller writes; its path is in UNINSTALL_TEST_LOG.
    class TRunLog
    {
    public:
        // Starts a new, empty log: programs still running write to the old one.
        void Restart();
        std::vector<std::wstring> Lines() const;
        // Waits until the log has at least Count lines or the time is up.
        std::vector<std::wstring> WaitForLines(size_t Count, DWORD TimeoutMs = 30000) const;

    private:
        std::wstring FPath;
        int FNumber = 0;
    };

    // A line of the log for a run of the fake uninstaller itself.
    std::wstring FakeRun(const std::wstring& Arguments);

    // Posts a left click at a point of a window's client area and dispatches it.
    void ClickAt(HWND Window, int X, int Y);
    void DoubleClickAt(HWND Window, int X, int Y);
    void ClickCenter(TWinControl* Control);
    // Clicks the check box of a list view's item.
    void ClickItemCheckBox(TListView* List, int Index);
    POINT ItemLabelPoint(TListView* List, int Index);

    // Calls Action on this thread's message loop every 50 ms until it returns true,
    // also inside a modal loop such as a message box's.
    class TThreadTimer
    {
    public:
        explicit TThreadTimer(std::function<bool()> Action);
        ~TThreadTimer();

    private:
        static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);
        static TThreadTimer* Current;
        std::function<bool()> FAction;
        UINT_PTR FTimer;
        bool FDone = false;
    };

    // Answers the first message box of this thread and keeps what it showed.
    struct TMessageBoxRecord
    {
        bool Shown = false;
        std::wstring Caption;
        std::wstring Text;
        bool ErrorIcon = false;
        std::vector<std::wstring> OtherWindowClasses; // this thread's other windows at the time
    };
    class TMessageBoxCatcher
    {
    public:
        TMessageBoxCatcher();
        const TMessageBoxRecord& Record() const { return FRecord; }

    private:
        TMessageBoxRecord FRecord;
        TThreadTimer FTimer;
    };

    // Samples a menu command's state from another thread, so that it can be seen
    // while the GUI thread waits for a child process.
    class TMenuStateWatcher
    {
    public:
        TMenuStateWatcher(HMENU Menu, UINT Command);
        ~TMenuStateWatcher();
        // Stops sampling; true when the command was ever seen disabled.
        bool SawDisabled();

    private:
        std::atomic<bool> FStop{false};
        std::atomic<bool> FSawDisabled{false};
        std::thread FThread;
    };
    bool CommandEnabled(HMENU Menu, UINT Command);

    // A fresh application object per test, an emptied Tarnwellbury key, an empty
    // log and work folder, and no quit message left behind. Exceptions that leave
    // event handlers are collected in Errors instead of the standard error box.
    class TUninstallTest : public testing::Test
    {
    protected:
        void SetUp() override;
        void TearDown() override;
        // Replaces the application object (destroying its forms) with a fresh one.
        void NewApplication();

        TApplication* FSavedApplication = nullptr;
        std::unique_ptr<TApplication> FApplication;
        TRunLog Log;
        std::vector<String> Errors;
    };

    struct TStates
    {
        bool AllTicked;
        bool AllEnabled;
        bool ButtonEnabled;
        bool operator==(const TStates&) const = default;
    };
    std::ostream& operator<<(std::ostream& Out, const TStates& S);

    // Drives TfrmMain. The form stays hidden: clicks are posted to the controls,
    // and hidden windows go without waiting for a window manager Xvfb does not have.
    class TFormTest : public TUninstallTest
    {
    protected:
        TfrmMain* Form = nullptr;

        void Open();
        // Applications "App0", "App1", ... whose uninstaller is the fake one.
        void AddApplications(int Count);
        TStates States() const;
        std::vector<bool> Ticks() const;
        std::vector<std::wstring> Captions() const;
        bool CloseCommandEnabled() const;
    };
}
