// Sharing modes of _fsopen, and _fsopen itself (a C runtime function that the
// Windows C library declares in stdio.h): opens a file of the current machine
// by its Windows path. Text mode ("r"/"rt") reads as the Windows C library
// does: CR LF becomes LF and a Ctrl-Z ends the file; "w"/"a" write LF as
// CR LF; "b" and the update modes ("+") pass the bytes as they are.
#pragma once

#include <cstdio>

#define _SH_DENYRW 0x10
#define _SH_DENYWR 0x20
#define _SH_DENYRD 0x30
#define _SH_DENYNO 0x40

extern "C" FILE* _fsopen(const char* filename, const char* mode, int shflag);
