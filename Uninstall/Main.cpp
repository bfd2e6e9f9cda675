#include "Main.h"
#include "Regedit.h"
#include <memory>
#include <shellapi.h>
#include <shlobj.h>
#include <wil/resource.h>

TfrmMain* frmMain;

namespace
{
    const wchar_t UninstallPathsKey[] = L"SOFTWARE\\Tarnwellbury\\UninstallPaths";
    const wchar_t LinksKey[] = L"SOFTWARE\\Tarnwellbury\\Links";
    const wchar_t HomePage[] = L"https://www.tarnwellbury.com/";
    const wchar_t SilentFlag[] = L" /silent";
    const wchar_t FollowUpProgram[] = L"Tarnwellbury\\VornUninstall.exe";

    const TFormResource frmMainResource = {
        .ClassName = L"TfrmMain",
        .Name = L"frmMain",
        .ClientWidth = 358,
        .ClientHeight = 254,
        .Caption = L"Uninstall",
        .BorderStyle = bsDialog,
        .BorderIcons = biSystemMenu | biMinimize,
        .Position = poScreenCenter,
        .Color = clBtnFace,
        .Font = {.Name = L"Tahoma", .Height = -11, .Charset = DEFAULT_CHARSET},
        .PixelsPerInch = 96,
        .Controls =
            {
                {.ClassName = L"TListView",
                 .Name = L"lvApp",
                 .Left = 11,
                 .Top = 12,
                 .Width = 336,
                 .Height = 194,
                 .TabOrder = 0,
                 .ViewStyle = vsReport,
                 .Checkboxes = true,
                 .Columns = {300},
                 .ShowColumnHeaders = false,
                 .ReadOnly = true,
                 .RowSelect = true,
                 .OnClick = L"lvAppClick",
                 .OnDblClick = L"lvAppClick"},
                {.ClassName = L"TButton",
                 .Name = L"btnProcess",
                 .Left = 210,
                 .Top = 218,
                 .Width = 137,
                 .Height = 25,
                 .Caption = L"Uninstall",
                 .TabOrder = 1,
                 .OnClick = L"btnProcessClick"},
                {.ClassName = L"TCheckBox",
                 .Name = L"chAll",
                 .Left = 11,
                 .Top = 222,
                 .Width = 144,
                 .Height = 17,
                 .Caption = L"All applications",
                 .TabOrder = 2,
                 .OnClick = L"chAllClick"},
            },
    };

    const TPublishedTable<TfrmMain> frmMainPublished = {
        .Fields = {{L"lvApp", &TfrmMain::lvApp}, {L"btnProcess", &TfrmMain::btnProcess}, {L"chAll", &TfrmMain::chAll}},
        .Methods = {{L"chAllClick", &TfrmMain::chAllClick},
                    {L"lvAppClick", &TfrmMain::lvAppClick},
                    {L"btnProcessClick", &TfrmMain::btnProcessClick}},
    };

    // Starts a command line and waits for it to end. False when it could not be started.
    bool ExecuteAndWait(String CommandLine, STARTUPINFOW& StartupInfo, PROCESS_INFORMATION& ProcessInfo)
    {
        if (!CreateProcessW(nullptr, CommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &StartupInfo,
                            &ProcessInfo))
            return false;
        wil::unique_handle Process(ProcessInfo.hProcess);
        wil::unique_handle Thread(ProcessInfo.hThread);
        WaitForSingleObject(Process.get(), INFINITE);
        Process.reset();
        Thread.reset();
        return true;
    }
}

TfrmMain::TfrmMain(TComponent* Owner)
    : TForm(Owner), lvApp(nullptr), btnProcess(nullptr), chAll(nullptr), bUpdating(false)
{
    InitInheritedComponent(this, frmMainResource, frmMainPublished);

    lvApp->Items->Clear();
    std::unique_ptr<TRegedit> Paths(new TRegedit(UninstallPathsKey, HKEY_LOCAL_MACHINE));
    std::unique_ptr<TStringList> Names(new TStringList);
    Paths->ReadValueNames(Names.get());
    for (int i = 0; i < Names->Count; ++i)
    {
        const String Name = Names->Strings[i];
        // The registry matches value names without regard to case, so any spelling
        // of "Common" is the common uninstaller that the finishing phase runs.
        if (SameText(Name, L"Common"))
            continue;
        const String CommandLine = Paths->ReadStringDefault(Name, L"");
        TListItem* Item = lvApp->Items->Add();
        Item->Checked = false;
        Item->Caption = Name;
        Item->SubItems->Add(CommandLine);
    }
    Paths.reset();
    Names.reset();
    lvAppClick(lvApp);
}

void TfrmMain::lvAppClick(TObject* Sender)
{
    int Ticked = 0;
    for (int i = 0; i < lvApp->Items->Count; ++i)
    {
        if (lvApp->Items->Item[i]->Checked)
        {
            btnProcess->Enabled = true;
            chAll->Enabled = true;
            ++Ticked;
        }
    }
    bUpdating = true;
    chAll->Checked = Ticked == lvApp->Items->Count;
    bUpdating = false;
    btnProcess->Enabled = Ticked > 0;
    if (lvApp->Items->Count == 0)
    {
        chAll->Checked = false;
        chAll->Enabled = false;
    }
}

void TfrmMain::chAllClick(TObject* Sender)
{
    if (bUpdating)
        return;
    for (int i = 0; i < lvApp->Items->Count; ++i)
        lvApp->Items->Item[i]->Checked = chAll->Checked;
    btnProcess->Enabled = chAll->Checked;
}

void TfrmMain::btnProcessClick(TObject* Sender)
{
    const HMENU SystemMenu = GetSystemMenu(Handle, FALSE);
    EnableMenuItem(SystemMenu, SC_CLOSE, MF_BYCOMMAND | MF_DISABLED);
    try
    {
        // One of each serves every start of this click.
        STARTUPINFOW StartupInfo = {};
        StartupInfo.cb = sizeof(StartupInfo);
        PROCESS_INFORMATION ProcessInfo = {};

        int i = 0;
        while (i < lvApp->Items->Count)
        {
            TListItem* Item = lvApp->Items->Item[i];
            const String CommandLine = Item->SubItems->Count > 0 ? Item->SubItems->Strings[0] : String();
            if (!Item->Checked || CommandLine.IsEmpty())
            {
                ++i;
                continue;
            }
            // Once run, the item leaves the list and the next one moves into position i.
            // One that cannot be started stays, ticked, for a later click.
            if (ExecuteAndWait(CommandLine + SilentFlag, StartupInfo, ProcessInfo))
                lvApp->Items->Delete(i);
            else
                ++i;
        }
        if (lvApp->Items->Count == 0)
            Finish(StartupInfo, ProcessInfo);
    }
    catch (...)
    {
        EndPass(SystemMenu);
        throw;
    }
    EndPass(SystemMenu);
}

void TfrmMain::EndPass(HMENU SystemMenu)
{
    EnableMenuItem(SystemMenu, SC_CLOSE, MF_BYCOMMAND | MF_ENABLED);
    lvAppClick(lvApp);
}

// Every application is gone: the suite's common uninstaller, the "Uninstall"
// link, and the follow-up program from the documents folder.
void TfrmMain::Finish(STARTUPINFOW& StartupInfo, PROCESS_INFORMATION& ProcessInfo)
{
    std::unique_ptr<TRegedit> Paths(new TRegedit(UninstallPathsKey, HKEY_LOCAL_MACHINE));
    const String Common = Paths->ReadStringDefault(L"Common", L"");
    Paths.reset();
    if (!ExecuteAndWait(Common + SilentFlag, StartupInfo, ProcessInfo))
        return;
    OpenLink(L"Uninstall");
    Close();

    // Asked in UTF-16: an ANSI path would lose a documents folder that the code page cannot spell.
    wchar_t Documents[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, Documents)))
        return;
    const String FollowUp = IncludeTrailingPathDelimiter(Documents) + FollowUpProgram;
    if (FileExists(FollowUp))
        ShellExecuteW(Handle, nullptr, FollowUp.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void OpenDocument(const String& Target)
{
    ShellExecuteW(nullptr, nullptr, Target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void OpenLink(const String& Name)
{
    std::unique_ptr<TRegedit> Links(new TRegedit(LinksKey, HKEY_LOCAL_MACHINE));
    OpenDocument(Links->ReadStringDefault(Name, HomePage));
}
