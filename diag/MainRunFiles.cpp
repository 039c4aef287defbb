// Driver and system files of the diagnostic run: presence, version
// information, the INF search and WOW64 file-system redirection.
#include <vcl.h>
#include <windows.h>
#include <share.h>

#include <stdio.h>
#include <string.h>

#include "Log.h"
#include "Main.h"
#include "MainRun.h"

namespace {

// The redirection value that DisableFsRedirection saved for the revert.
PVOID OldRedirectionValue = NULL;

typedef BOOL(WINAPI *DisableRedirectionProc)(PVOID *);
typedef BOOL(WINAPI *RevertRedirectionProc)(PVOID);

void VersionFailure(const char *call, const char *path)
{
    AnsiString line;
    line.sprintf("%s(%s) Failed", call, path);
    AppendReportLine(line);
}

// Reads the fixed version information; the failing call's name when it can't.
const char *ReadFixedVersion(const char *path, DWORD &ms, DWORD &ls)
{
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0)
        return "GetFileVersionInfoSize";
    BYTE *data = new BYTE[size];
    memset(data, 0, size);
    const char *failed = NULL;
    if (!GetFileVersionInfoA(path, handle, size, data)) {
        failed = "GetFileVersionInfo";
    } else {
        LPVOID block = NULL;
        UINT length = 0;
        // A root block shorter than the fixed record counts as unreadable.
        if (!VerQueryValueA(data, "\\", &block, &length) || block == NULL
            || length < sizeof(VS_FIXEDFILEINFO)) {
            failed = "VerQueryValue";
        } else {
            VS_FIXEDFILEINFO info;
            memcpy(&info, block, sizeof info);
            ms = info.dwFileVersionMS;
            ls = info.dwFileVersionLS;
        }
    }
    delete[] data;
    return failed;
}

AnsiString UpperText(const AnsiString &text)
{
    return text.UpperCase();
}

}  // namespace

void JoinPath(char *out, size_t size, const char *a, const char *b, const char *c, const char *d)
{
    const char *parts[4] = {a, b, c, d};
    size_t used = 0;
    for (int i = 0; i < 4 && size > 0; ++i)
        for (const char *p = parts[i]; p != NULL && *p != '\0' && used + 1 < size; ++p)
            out[used++] = *p;
    if (size > 0)
        out[used] = '\0';
}

bool FileIsThere(const char *path)
{
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

bool GetFileVersion(const char *path, DWORD &ms, DWORD &ls)
{
    const char *failed = ReadFixedVersion(path, ms, ls);
    if (failed != NULL) {
        VersionFailure(failed, path);
        return false;
    }
    return true;
}

bool FileVersionAtLeast(const char *path, DWORD minMS, DWORD minLS)
{
    DWORD ms = 0, ls = 0;
    if (!GetFileVersion(path, ms, ls))
        return false;
    return ms >= minMS && ls >= minLS;
}

bool __fastcall TSelfForm::CheckDriverFiles(AnsiString name, int kind)
{
    if (LanguageIndex != 0)
        pnl_Info->Caption = AnsiString(L"搜 尋 檔 案 中 ,  請 稍 後 ...");
    else
        pnl_Info->Caption = "Searching file, please wait...";
    Application->ProcessMessages();
    pnl_Info->Visible = true;

    char windowsDir[MAX_PATH];
    memset(windowsDir, 0, sizeof windowsDir);
    GetWindowsDirectoryA(windowsDir, MAX_PATH);
    char path[255];

    if (kind == DriverFileInf) {
        JoinPath(path, sizeof path, windowsDir, "\\inf\\", name.c_str(), ".inf");
        if (FileIsThere(path))
            return true;
        if (OsVersionCode >= 4 && OsVersionCode <= 6)
            return false;
        return FindNameInFiles(AnsiString(windowsDir) + "\\inf\\", "inf", UpperText(name), 64);
    }

    JoinPath(path, sizeof path, windowsDir, "\\system32\\drivers\\", name.c_str(), ".sys");
    if (FileIsThere(path))
        return true;
    if (ArchCode == 64) {
        JoinPath(path, sizeof path, windowsDir, "\\SysWOW64\\drivers\\", name.c_str(), ".sys");
        return FileIsThere(path);
    }
    return false;
}

bool FindNameInFiles(AnsiString dir, AnsiString ext, AnsiString name, int n)
{
    if (n > MaxNameSearchBytes)
        n = MaxNameSearchBytes;
    if (n < 0)
        n = 0;
    DWORD attributes = GetFileAttributesA(dir.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return false;
    if (dir.Length() == 0 || dir.c_str()[dir.Length() - 1] != '\\')
        dir += "\\";
    // A folder path past the longest Windows path is not searched further.
    if (dir.Length() >= MAX_PATH)
        return false;

    const AnsiString pattern = dir + "*." + ext;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return false;

    const int nameLength = name.Length();
    char buffer[MaxNameSearchBytes + 1];
    bool found = false;
    // Bounded by the folder's entries.
    do {
        Application->ProcessMessages();
        const AnsiString path = dir + entry.cFileName;
        if (entry.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY) {
            if (strcmp(entry.cFileName, ".") != 0 && strcmp(entry.cFileName, "..") != 0
                && FindNameInFiles(path, ext, name, n))
                found = true;
            continue;
        }
        // The file is opened with archive alone set, and given back the
        // attributes it had (read-only, hidden, system) once it is read.
        const DWORD kept = GetFileAttributesA(path.c_str());
        if (kept != INVALID_FILE_ATTRIBUTES)
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_ARCHIVE);
        FILE *file = _fsopen(path.c_str(), "rt", _SH_DENYNO);
        if (file != NULL) {
            memset(buffer, 0, sizeof buffer);
            fread(buffer, 1, (size_t)n, file);
            fclose(file);
        }
        if (kept != INVALID_FILE_ATTRIBUTES && kept != FILE_ATTRIBUTE_ARCHIVE)
            SetFileAttributesA(path.c_str(), kept);
        if (file == NULL)
            continue;
        for (int i = 0; i < n && buffer[i] != '\0'; ++i)
            if (buffer[i] >= 'a' && buffer[i] <= 'z')
                buffer[i] = (char)(buffer[i] - 'a' + 'A');
        // The name is compared only where it fits in the bytes read.
        for (int i = 0; i + nameLength <= n; ++i) {
            if (memcmp(buffer + i, name.c_str(), (size_t)nameLength) == 0) {
                found = true;
                break;
            }
        }
    } while (!found && FindNextFileA(search, &entry));
    FindClose(search);
    return found;
}

bool DisableFsRedirection()
{
    HMODULE kernel = GetModuleHandleA("kernel32");
    if (kernel == NULL)
        return false;
    DisableRedirectionProc disable =
        (DisableRedirectionProc)(void *)GetProcAddress(kernel, "Wow64DisableWow64FsRedirection");
    if (disable == NULL)
        return false;
    return disable(&OldRedirectionValue) == TRUE;
}

bool RevertFsRedirection()
{
    HMODULE kernel = GetModuleHandleA("kernel32");
    if (kernel == NULL)
        return false;
    RevertRedirectionProc revert =
        (RevertRedirectionProc)(void *)GetProcAddress(kernel, "Wow64RevertWow64FsRedirection");
    if (revert == NULL)
        return false;
    return revert(OldRedirectionValue) == TRUE;
}
