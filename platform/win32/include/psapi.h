// The process status library (psapi.dll). Programs load it at run time and
// look its functions up by name; these are the functions' types.
#pragma once

#include <windef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LIST_MODULES_DEFAULT 0x00
#define LIST_MODULES_32BIT 0x01
#define LIST_MODULES_64BIT 0x02
#define LIST_MODULES_ALL 0x03

BOOL WINAPI EnumProcesses(DWORD* lpidProcess, DWORD cb, LPDWORD lpcbNeeded);
BOOL WINAPI EnumProcessModules(HANDLE hProcess, HMODULE* lphModule, DWORD cb, LPDWORD lpcbNeeded);
BOOL WINAPI EnumProcessModulesEx(HANDLE hProcess, HMODULE* lphModule, DWORD cb, LPDWORD lpcbNeeded,
                                 DWORD dwFilterFlag);
DWORD WINAPI GetModuleBaseNameA(HANDLE hProcess, HMODULE hModule, LPSTR lpBaseName, DWORD nSize);
DWORD WINAPI GetModuleFileNameExA(HANDLE hProcess, HMODULE hModule, LPSTR lpFilename, DWORD nSize);


#ifdef __cplusplus
}
#endif
