// Program entry of VQUSBSetup.
#ifndef VQUSBSetupH
#define VQUSBSetupH

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

#endif
