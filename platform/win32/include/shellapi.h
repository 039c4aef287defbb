// Shell functions: opening a file with a program.
#pragma once

#include <windef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Results of ShellExecuteA of 32 or less: failures.
#define SE_ERR_FNF 2
#define SE_ERR_PNF 3
#define SE_ERR_ACCESSDENIED 5
#define SE_ERR_OOM 8
#define SE_ERR_NOASSOC 31

HINSTANCE WINAPI ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                               LPCSTR lpDirectory, INT nShowCmd);

#ifdef __cplusplus
}
#endif
