// The diagnostic run's helpers: report lines, file versions, the service and
// process checks, the INF search, WOW64 redirection, week-day names and the
// ATR text.
#ifndef MainRunH
#define MainRunH

#include <vcl.h>
#include <windows.h>

// Kinds of driver file that CheckDriverFiles looks for.
const int DriverFileInf = 0;
const int DriverFileSys = 1;

// The search of FindNameInFiles reads at most this many bytes of a file.
const int MaxNameSearchBytes = 1024;

// Appends one line to the report (the log window's memo).
void AppendReportLine(const AnsiString &line);

// The two words of the file's fixed version information; on failure one
// version failure line is appended and false returned.
bool GetFileVersion(const char *path, DWORD &ms, DWORD &ls);
// True when MS >= minMS and LS >= minLS, each word compared by itself.
bool FileVersionAtLeast(const char *path, DWORD minMS, DWORD minLS);

bool IsServiceRunning(const char *name);
// Compares the snapshot's executable names (full paths on Windows 9x)
// without regard to case.
bool IsProcessRunning(const char *name);

// True when a file matching *.ext under dir (and its subfolders matching the
// same pattern) holds name, upper-case, within its first n bytes.
bool FindNameInFiles(AnsiString dir, AnsiString ext, AnsiString name, int n);

bool DisableFsRedirection();
bool RevertFsRedirection();

const char *WeekdayName(int dayOfWeek);

// "3B 8F " for {0x3B, 0x8F}: two upper-case digits and a blank per byte.
AnsiString FormatAtrHex(const BYTE *bytes, DWORD n);

// True when the path names an existing file (opened for an existence check
// only; no handle stays open).
bool FileIsThere(const char *path);

// a + b + c + d into out, cut to its size (always zero-terminated).
void JoinPath(char *out, size_t size, const char *a, const char *b, const char *c = "", const char *d = "");

#endif
