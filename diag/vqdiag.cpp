// Program entry of vqdiag: the four windows in their order, then the loop.
#include <vcl.h>
#include <windows.h>

#include "About.h"
#include "Log.h"
#include "Main.h"
#include "service/SCM_Main.h"
#include "vqdiag.h"

// The framework's standard display; an exception of another kind is shown
// as a framework exception with an empty message.
void ShowEscapedException()
{
    try {
        throw;
    } catch (Exception &exception) {
        Application->ShowException(&exception);
    } catch (...) {
        Exception empty("");
        Application->ShowException(&empty);
    }
}

void StartProgramUnits()
{
    Scm_main::Initialization();
}

void FinishProgramUnits()
{
    Scm_main::Finalization();
}

void CreateProgramWindows()
{
    // SelfForm first: the others read its LanguageIndex when created.
    Application->CreateForm(__classid(TSelfForm), &SelfForm);
    Application->CreateForm(__classid(TLogForm), &LogForm);
    Application->CreateForm(__classid(TFrmAbout), &FrmAbout);
    Application->CreateForm(__classid(TfrmSCM), &frmSCM);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    StartProgramUnits();
    try {
        Application->Initialize();
        CreateProgramWindows();
        Application->Run();
    } catch (...) {
        ShowEscapedException();
    }
    // Closing the program frees its windows, the last created first; the
    // units finish after the last of them.
    Application->DestroyComponents();
    SelfForm = NULL;
    LogForm = NULL;
    FrmAbout = NULL;
    frmSCM = NULL;
    FinishProgramUnits();
    return 0;
}
