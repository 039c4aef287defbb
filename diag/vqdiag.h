// Program entry of vqdiag.
#ifndef vqdiagH
#define vqdiagH

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

// Shows the exception being handled as the program entry does; call it from
// a catch block.
void ShowEscapedException();

#endif
