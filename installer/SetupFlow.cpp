// The driver installation flow behind the welcome window's Yes: refusals,
// the Windows 98/ME flow and the Windows NT 4.0 flow.
#include <vcl.h>
#include <windows.h>

#include <string.h>

#include "ProgramFolder.h"
#include "setup.h"

namespace {

enum Base { WindowsFolder, SystemFolder };
enum OnFailure { Abort, Ignore, ReportAndGoOn };

struct CopyRow {
    const char *Source;
    Base DestinationBase;
    const char *Destination;  // appended to the base folder
    const char *Name;         // in the error text
    OnFailure Failure;
};

const CopyRow Windows9xCopies[] = {
    {".\\drivers\\VQUSB.ncp", WindowsFolder, "\\inf\\VQUSB.inf", "VQUSB.inf", Abort},
    {".\\drivers\\vqusb98.cat", WindowsFolder, "\\system32\\drivers\\vqusb98.cat", "", Ignore},
    {".\\drivers\\VQUSB.sys", WindowsFolder, "\\system32\\drivers\\VQUSB.sys", "VQUSB.sys", Abort},
    {".\\smclib\\smclib.sys", WindowsFolder, "\\system32\\drivers\\smclib.sys", "smclib.sys", Abort},
    {".\\smclib\\smclib.vxd", SystemFolder, "\\smclib.vxd", "smclib.vxd", Abort},
    {".\\drivers\\vqscmon.exe", SystemFolder, "\\vqscmon.exe", "vqscmon.exe", ReportAndGoOn},
    {".\\drivers\\svcwatch.exe", SystemFolder, "\\svcwatch.exe", "svcwatch.exe", ReportAndGoOn},
};

const CopyRow WindowsNT4Copies[] = {
    {".\\smclib\\smclib.sys", WindowsFolder, "\\system32\\drivers\\smclib.sys", "smclib.sys", Abort},
    {".\\smclib\\advpack.dll", WindowsFolder, "\\System32\\advpack.dll", "advpack.dll", Abort},
    {".\\drivers\\winnt4\\vqusb.sys", WindowsFolder, "\\system32\\drivers\\vqusb.sys", "vqusb.sys", Abort},
    {".\\drivers\\winnt4\\wdusbd.sys", WindowsFolder, "\\system32\\drivers\\wdusbd.sys", "wdusbd.sys", Abort},
    {".\\drivers\\winnt4\\windrvr.sys", WindowsFolder, "\\system32\\drivers\\windrvr.sys", "windrvr.sys", Abort},
};

// The package files copied into the scbase folder: {destination, source}.
const char *const PackageFiles[][2] = {
    {"ADVPACK.DLL", "ADVPACK.DLL"},   {"MFC42.DLL", "MFC42.DLL"},       {"MSVCRT.DLL", "MSVCRT.DLL"},
    {"SCardDat.DLL", "SCardDat.dll"}, {"SCardDlg.DLL", "SCardDlg.dll"}, {"SCardMgr.DLL", "SCardMgr.dll"},
    {"SCardSrv.DLL", "SCardSrv.dll"}, {"SCardSvr.exe", "SCardSvr.exe"}, {"SCNtvSSP.DLL", "SCNtvSSP.dll"},
    {"SMCLIB.SYS", "SMCLIB.SYS"},     {"SMCLIB.Vxd", "SMCLIB.VXD"},     {"W95INF16.DLL", "W95INF16.DLL"},
    {"W95INF32.DLL", "W95INF32.DLL"}, {"WinSCard.DLL", "WinSCard.dll"}, {"SCBASE.INF", "SCBASE.INF"},
};

struct NtService {
    const char *Key;
    DWORD Start;
    const char *ImagePath;  // NULL: none
    const char *DisplayName;
    const char *Group;
};

const NtService NtServices[] = {
    {"Smclib", 2, NULL, "Smardcard Library", "Extended base"},
    {"WDUSBD", 1, NULL, "wdusbd", "Extended base"},
    {"WINDRIVER", 1, "\\SystemRoot\\System32\\Drivers\\windrvr.sys", "WinDriver", "Extended base"},
    {"VQUSB", 2, NULL, "VQUSB PC/SC Smart Card Reader Driver", "Smart Card Reader"},
};

}  // namespace

// One copy step of a table; false when the flow must stop.
static bool CopyStep(TSetupForm *form, const CopyRow &row, const char *windowsDir, const char *systemDir)
{
    char destination[PathBufferSize];
    bool copied;
    if (!JoinPath(destination, sizeof destination,
                  row.DestinationBase == WindowsFolder ? windowsDir : systemDir, row.Destination)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        copied = false;
    } else {
        copied = CopyNormal(row.Source, destination);
    }
    if (copied || row.Failure == Ignore)
        return true;
    if (row.Failure == ReportAndGoOn && GetLastError() == ERROR_SHARING_VIOLATION)
        return true;  // the program is running: its copy stays
    const char *text = FormatCopyError(row.Name, form->LanguageIndex);
    form->DelayTimer->Enabled = false;
    MessageBoxA(form->Handle, text, "Error", MB_ICONQUESTION);
    return row.Failure != Abort;
}

// The Windows and system folders (PathBufferSize buffers), then the copy
// steps of a table in order; false when one of them stopped the flow.
static bool CopyTable(TSetupForm *form, const CopyRow *rows, size_t count, char *windowsDir, char *systemDir)
{
    GetWindowsDirectoryA(windowsDir, PathBufferSize);
    GetSystemDirectoryA(systemDir, PathBufferSize);
    for (size_t i = 0; i < count; ++i)
        if (!CopyStep(form, rows[i], windowsDir, systemDir))
            return false;
    return true;
}

void __fastcall TSetupForm::lblYesClick(TObject *Sender)
{
    ProgressBar1->Position = 0;
    const int kind = GetOsKind();
    if (kind == OsWindows95) {
        MessageBoxA(Handle, "Cannot Support on Windows 95!", "Error", MB_OK);
        Application->Terminate();
        return;
    }
    if (kind != OsWindows98 && kind != OsWindowsMe && kind != OsWindowsNT4) {
        MessageBoxA(Handle, "Cannot Run on Windows NT 5.0", "Error", MB_OK);
        Application->Terminate();
        return;
    }
    if (kind == OsWindowsNT4)
        InstallWindowsNT4();
    else
        InstallWindows9x();
}

void TSetupForm::InstallWindows9x()
{
    lblYes->Enabled = false;
    Sleep(1000);
    DelayTimer->Interval = 1000;
    DelayTimer->Enabled = true;

    char windowsDir[PathBufferSize] = {0};
    char systemDir[PathBufferSize] = {0};
    if (!CopyTable(this, Windows9xCopies, sizeof Windows9xCopies / sizeof Windows9xCopies[0], windowsDir, systemDir))
        return;
    ProgressBar1->Position = 1;

    char value[PathBufferSize];
    HKEY key = NULL;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup", &key) == ERROR_SUCCESS) {
        if (JoinPath(value, sizeof value, windowsDir, "\\System32\\drivers"))
            SetStringValue(key, "SourcePath", value);
        RegCloseKey(key);
    }
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\VxD\\SMCLIB", &key) == ERROR_SUCCESS) {
        SetStringValue(key, "StaticVxD", "smclib.vxd");
        const BYTE start = 0;
        RegSetValueExA(key, "Start", 0, REG_BINARY, &start, 1);
        RegCloseKey(key);
    }
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\VxD\\SMCLIB\\Devices", &key)
        == ERROR_SUCCESS)
        RegCloseKey(key);
    RemoveStaleUsbEnum();
    RemoveSerialEnum();
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Tervane\\VqReader\\VQUSB", &key) == ERROR_SUCCESS) {
        SetDwordValue(key, "Type", 3);
        SetStringValue(key, "Driver", "VQUSB.SYS");
        RegCloseKey(key);
    }
    SetVqscmonAutostart();
    SetRunValue("Svcwatch", "Svcwatch.exe");
    ProgressBar1->Position = 2;

    char scbase[LongPathBufferSize] = {0};
    char longWindowsDir[LongPathBufferSize] = {0};
    GetWindowsDirectoryA(longWindowsDir, LongPathBufferSize);
    if (JoinPath(scbase, sizeof scbase, longWindowsDir, "\\scbase")) {
        CreateDir(scbase);
        for (size_t i = 0; i < sizeof PackageFiles / sizeof PackageFiles[0]; ++i) {
            char from[LongPathBufferSize];
            char to[LongPathBufferSize];
            if (JoinPath(from, sizeof from, ".\\smclib\\", PackageFiles[i][1])
                && JoinPath(to, sizeof to, scbase, "\\", PackageFiles[i][0]))
                CopyFileA(from, to, FALSE);
        }
    }
    InstallProgramFolder(this);
    ProgressBar1->Position = 3;
    if (scbase[0] != '\0')
        CopyFolderFiles(".\\smclib", scbase);
}

void TSetupForm::InstallWindowsNT4()
{
    DelayTimer->Interval = 1000;
    DelayTimer->Enabled = true;

    char windowsDir[PathBufferSize] = {0};
    char systemDir[PathBufferSize] = {0};
    if (!CopyTable(this, WindowsNT4Copies, sizeof WindowsNT4Copies / sizeof WindowsNT4Copies[0], windowsDir,
                   systemDir))
        return;
    char path[PathBufferSize];
    if (JoinPath(path, sizeof path, windowsDir, "\\inf\\vqusbunst.inf"))
        CopyNormal(".\\drivers\\winnt4\\vqusbunst.inf", path);
    ProgressBar1->Position = 1;

    HKEY key = NULL;
    for (size_t i = 0; i < sizeof NtServices / sizeof NtServices[0]; ++i) {
        const NtService &service = NtServices[i];
        if (!JoinPath(path, sizeof path, "SYSTEM\\CurrentControlSet\\Services\\", service.Key)
            || RegCreateKeyA(HKEY_LOCAL_MACHINE, path, &key) != ERROR_SUCCESS)
            continue;
        SetDwordValue(key, "Start", service.Start);
        SetDwordValue(key, "Type", 1);
        SetDwordValue(key, "ErrorControl", 1);
        if (service.ImagePath != NULL)
            SetStringValue(key, "ImagePath", service.ImagePath);
        SetStringValue(key, "DisplayName", service.DisplayName);
        SetStringValue(key, "Group", service.Group);
        RegCloseKey(key);
    }
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\VQUSB", &key)
        == ERROR_SUCCESS) {
        if (JoinPath(path, sizeof path, windowsDir, "\\System32\\drivers\\vqusb.sys"))
            SetStringValue(key, "EventMessageFile", path);
        SetDwordValue(key, "TypesSupported", 7);
        RegCloseKey(key);
    }
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VQUSB", &key)
        == ERROR_SUCCESS) {
        AnsiString uninstall = AnsiString("RunDll32 advpack.dll,LaunchINFSection ") + windowsDir
                               + "\\inf\\vqusbunst.inf" + ", DefaultUninstall.NT";
        SetStringValue(key, "UninstallString", uninstall.c_str());
        SetStringValue(key, "DisplayName", "VQUSB PC/SC Smart Card Reader Driver");
        RegCloseKey(key);
    }
    ProgressBar1->Position = 2;
    InstallProgramFolder(this);
    ProgressBar1->Position = 3;
}
