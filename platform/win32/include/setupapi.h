// Setup functions: the restart prompt.
#pragma once

#include <windef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef PVOID HSPFILEQ;

#define SPFILEQ_FILE_IN_USE 0x00000001
#define SPFILEQ_REBOOT_RECOMMENDED 0x00000002
#define SPFILEQ_REBOOT_IN_PROGRESS 0x00000004

// Asks whether to restart now (a message box with Yes and No); on Yes the
// machine records a restart. Returns the SPFILEQ_ bits, -1 on failure.
INT WINAPI SetupPromptReboot(HSPFILEQ FileQueue, HWND Owner, BOOL ScanOnly);

#ifdef __cplusplus
}
#endif
