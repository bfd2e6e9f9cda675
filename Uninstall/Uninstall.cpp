// The program entry: the application object with its one window.
#include <vcl.h>
#include "Main.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    try
    {
        Application->Initialize();
        Application->Title = L"Uninstall";
        Application->CreateForm(&frmMain);
        Application->Run();
    }
    catch (Exception& exception)
    {
        Application->ShowException(&exception);
    }
    catch (...)
    {
        Exception exception(L"");
        Application->ShowException(&exception);
    }
    return 0;
}
