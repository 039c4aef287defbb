// The Win32 stand-in: Win32's names and signatures over the current simulated
// PC (vqwin/Machine.h). Services, processes, the shell and PC/SC come in
// headers of their own; those that Windows' own windows.h pulls in are taken
// in here as soon as they exist.
#pragma once

#include <windef.h>
#include <winerror.h>
#include <winbase.h>
#include <winnls.h>
#include <winuser.h>
#include <winreg.h>
#include <winver.h>

#if __has_include(<processthreadsapi.h>)
#include <processthreadsapi.h>
#endif
#if __has_include(<winsvc.h>)
#include <winsvc.h>
#endif
#if __has_include(<shellapi.h>)
#include <shellapi.h>
#endif
