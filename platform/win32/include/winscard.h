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

// ---- the resource manager's calls ------------------------------------------

#include <scarderr.h>
#include <winsmcrd.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SCARD_SCOPE_USER 0
#define SCARD_SCOPE_TERMINAL 1
#define SCARD_SCOPE_SYSTEM 2

#define SCARD_STATE_UNAWARE 0x00000000
#define SCARD_STATE_IGNORE 0x00000001
#define SCARD_STATE_CHANGED 0x00000002
#define SCARD_STATE_UNKNOWN 0x00000004
#define SCARD_STATE_UNAVAILABLE 0x00000008
#define SCARD_STATE_EMPTY 0x00000010
#define SCARD_STATE_PRESENT 0x00000020
#define SCARD_STATE_ATRMATCH 0x00000040
#define SCARD_STATE_EXCLUSIVE 0x00000080
#define SCARD_STATE_INUSE 0x00000100
#define SCARD_STATE_MUTE 0x00000200

#define SCARD_SHARE_EXCLUSIVE 1
#define SCARD_SHARE_SHARED 2
#define SCARD_SHARE_DIRECT 3

#define SCARD_LEAVE_CARD 0
#define SCARD_RESET_CARD 1
#define SCARD_UNPOWER_CARD 2
#define SCARD_EJECT_CARD 3

#define SCARD_INFINITE 0xFFFFFFFF
#define SCARD_AUTOALLOCATE ((DWORD)-1)

LONG WINAPI SCardEstablishContext(DWORD dwScope, LPCVOID pvReserved1, LPCVOID pvReserved2,
                                  LPSCARDCONTEXT phContext);
LONG WINAPI SCardReleaseContext(SCARDCONTEXT hContext);
LONG WINAPI SCardListReadersA(SCARDCONTEXT hContext, LPCSTR mszGroups, LPSTR mszReaders,
                              LPDWORD pcchReaders);
LONG WINAPI SCardGetStatusChangeA(SCARDCONTEXT hContext, DWORD dwTimeout,
                                  LPSCARD_READERSTATEA rgReaderStates, DWORD cReaders);
LONG WINAPI SCardCancel(SCARDCONTEXT hContext);
LONG WINAPI SCardConnectA(SCARDCONTEXT hContext, LPCSTR szReader, DWORD dwShareMode,
                          DWORD dwPreferredProtocols, LPSCARDHANDLE phCard, LPDWORD pdwActiveProtocol);
LONG WINAPI SCardGetAttrib(SCARDHANDLE hCard, DWORD dwAttrId, LPBYTE pbAttr, LPDWORD pcbAttrLen);
LONG WINAPI SCardDisconnect(SCARDHANDLE hCard, DWORD dwDisposition);

#ifdef __cplusplus
}
#endif
