// The uninstaller's one window: the installed applications of the suite, ticked
// for removal, and the pass that runs their uninstallers.
#pragma once

#include <Classes.hpp>
#include <ComCtrls.hpp>
#include <Controls.hpp>
#include <Forms.hpp>
#include <StdCtrls.hpp>

class TfrmMain : public TForm
{
__published:
    TListView* lvApp;
    TButton* btnProcess;
    TCheckBox* chAll;
    void chAllClick(TObject* Sender);
    void lvAppClick(TObject* Sender);
    void btnProcessClick(TObject* Sender);

private:
    bool bUpdating; // set while lvAppClick sets chAll's tick: chAllClick then does nothing

    void Finish(STARTUPINFOW& StartupInfo, PROCESS_INFORMATION& ProcessInfo);
    void EndPass(HMENU SystemMenu);

public:
    explicit TfrmMain(TComponent* Owner);
};

extern TfrmMain* frmMain;

// Hands a file name or web address to the shell's default action.
void OpenDocument(const String& Target);
// Opens the address registered under SOFTWARE\Tarnwellbury\Links as Name, or the maker's home page.
void OpenLink(const String& Name);
