// Program entry of vqdiag.
#ifndef vqdiagH
#define vqdiagH

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

// The start-up of the program's units, which comes before any window, and
// their finish, which comes after the last window is destroyed; WinMain runs
// them around its windows and its message loop.
void StartProgramUnits();
void FinishProgramUnits();

// The program's four windows in their order: the diagnostic window, the log
// window, the about box and the service control window.
void CreateProgramWindows();

// Shows the exception being handled as the program entry does; call it from
// a catch block.
void ShowEscapedException();

#endif
