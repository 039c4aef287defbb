// PC/SC types of the smart-card resource manager (WINSCARD), ANSI forms: the
// handles and the reader state record that a program keeps between calls.
// The resource manager's functions come with the PC/SC part of the stand-in.
#pragma once

#include <windef.h>

typedef ULONG_PTR SCARDCONTEXT;
typedef SCARDCONTEXT* PSCARDCONTEXT;
typedef SCARDCONTEXT* LPSCARDCONTEXT;
typedef ULONG_PTR SCARDHANDLE;
typedef SCARDHANDLE* PSCARDHANDLE;
typedef SCARDHANDLE* LPSCARDHANDLE;

typedef struct {
  LPCSTR szReader;
  LPVOID pvUserData;
  DWORD dwCurrentState;
  DWORD dwEventState;
  DWORD cbAtr;
  BYTE rgbAtr[36];
} SCARD_READERSTATEA, *PSCARD_READERSTATEA, *LPSCARD_READERSTATEA;
typedef SCARD_READERSTATEA SCARD_READERSTATE;

