// Program entry of VQUSBSetup: the three windows in their order, then the loop.
#include <vcl.h>
#include <windows.h>

#include "Dialog.h"
#include "VQUSBSetup.h"
#include "license.h"
#include "setup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    try {
        Application->Initialize();
        Application->CreateForm(__classid(TSetupForm), &SetupForm);
        Application->CreateForm(__classid(TLicenseForm), &LicenseForm);
        Application->CreateForm(__classid(TDialogForm), &DialogForm);
        Application->Run();
    } catch (Exception &exception) {
        Application->ShowException(&exception);
    } catch (...) {
        Exception empty("");
        Application->ShowException(&empty);
    }
    return 0;
}
