// The process list of the service control window: a tool help snapshot on
// old Windows, the process status library (loaded for each listing) on the
// NT family, with the smart card service's process highlighted.
#include <vcl.h>
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <stdio.h>
#include <string.h>

#include "PathText.h"
#include "Public.h"
#include "SCM_Main.h"

using namespace Scm_main;

namespace {

const char kUnknownName[] = "<unknown>";
const int kMaxProcessIds = 1024;

typedef BOOL(WINAPI *EnumProcessesFunc)(DWORD *, DWORD, LPDWORD);
typedef BOOL(WINAPI *EnumProcessModulesExFunc)(HANDLE, HMODULE *, DWORD, LPDWORD, DWORD);
typedef BOOL(WINAPI *EnumProcessModulesFunc)(HANDLE, HMODULE *, DWORD, LPDWORD);
typedef DWORD(WINAPI *GetModuleBaseNameAFunc)(HANDLE, HMODULE, LPSTR, DWORD);

HMODULE PsapiLibrary = NULL;
EnumProcessesFunc EnumProcessesPtr = NULL;
EnumProcessModulesExFunc EnumProcessModulesExPtr = NULL;
EnumProcessModulesFunc EnumProcessModulesPtr = NULL;
GetModuleBaseNameAFunc GetModuleBaseNameAPtr = NULL;
DWORD ProcessIds[kMaxProcessIds];
char NameBuffer[MAX_PATH];
bool PsapiListing = false;       // a listing that lets messages through is under way
bool PsapiListingAsked = false;  // and another was asked for meanwhile
// Listings run in a row, each for the requests that came during the one
// before; a request after the last of them stays asked for and is served
// with the next listing.
const int kListingsInARow = 8;

bool NeedsModulesEx() { return ProcessorArchCode == 64 && OsVersionCode >= 13; }
bool NeedsModules() { return ProcessorArchCode == 86 && OsVersionCode >= 8; }

void ResetLibrary()
{
    PsapiLibrary = NULL;
    EnumProcessesPtr = NULL;
    EnumProcessModulesExPtr = NULL;
    EnumProcessModulesPtr = NULL;
    GetModuleBaseNameAPtr = NULL;
}

}  // namespace

void __fastcall TfrmSCM::HighlightRow(int index)
{
    TListItem *item = lstview_Process->Items->Item[index];
    item->Selected = true;
    item->MakeVisible(true);
    if (index + 1 < lstview_Process->Items->Count)
        lstview_Process->Items->Item[index + 1]->MakeVisible(true);
}

void __fastcall TfrmSCM::ListProcessesToolhelp()
{
    lstview_Process->Items->Clear();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE || snapshot == NULL)
        return;

    PROCESSENTRY32 entry;
    memset(&entry, 0, sizeof entry);
    entry.dwSize = sizeof(PROCESSENTRY32);
    if (!Process32First(snapshot, &entry)) {
        CloseHandle(snapshot);
        return;
    }
    // Bounded by the snapshot's entries.
    do {
        if (DebugMarkerPresent()) {
            memset(FormatBuffer, 0, sizeof FormatBuffer);
            snprintf(FormatBuffer, sizeof FormatBuffer, "\nPROCESS NAME:  %s", entry.szExeFile);
            rchedt_Info->Lines->Add(FormatBuffer);
            rchedt_Info->Perform(EM_SCROLLCARET, 0, 0);
            HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, entry.th32ProcessID);
            if (process == NULL) {
                ReportLastError("OpenProcess");
            } else {
                if (GetPriorityClass(process) == 0)
                    ReportLastError("GetPriorityClass");
                CloseHandle(process);
            }
        }
        TListItem *item = lstview_Process->Items->Add();
        lstview_Process->Column[0]->Width = 100;
        memset(FormatBuffer, 0, sizeof FormatBuffer);
        snprintf(FormatBuffer, sizeof FormatBuffer, "0x%08X", (unsigned int)entry.th32ProcessID);
        item->Caption = FormatBuffer;
        item->SubItems->Add(FileNamePart(entry.szExeFile));
    } while (Process32Next(snapshot, &entry));

    const int count = lstview_Process->Items->Count;
    for (int i = 0; i < count; ++i) {
        const AnsiString name = lstview_Process->Items->Item[i]->SubItems->Strings[0];
        if (name == "SCardSvr.exe" || name == "SCARDSVR.EXE") {
            ScardSvrSeen = true;
            HighlightRow(i);
        }
    }
    for (int i = 0; i < count; ++i) {
        const AnsiString name = lstview_Process->Items->Item[i]->SubItems->Strings[0];
        if (name == "Vqscmon.exe" || name == "VQSCMON.EXE") {
            VqscmonSeen = true;
            HighlightRow(i);
        }
    }
    for (int i = 0; i < count; ++i) {
        const AnsiString name = lstview_Process->Items->Item[i]->SubItems->Strings[0];
        if (name == "Svcwatch.exe" || name == "SVCWATCH.EXE") {
            SvcwatchSeen = true;
            HighlightRow(i);
        }
    }
    CloseHandle(snapshot);
}

void __fastcall TfrmSCM::ListProcessesPsapi()
{
    // The listing lets the window handle its messages between processes. A
    // listing asked for meanwhile (a timer tick, a click, the end of an
    // apply) is not run over this one, whose library and entry points are
    // in use, but once this one has ended: the processes may have changed.
    if (PsapiListing) {
        PsapiListingAsked = true;
        return;
    }
    PsapiListing = true;
    // Bounded by kListingsInARow.
    for (int i = 0; i < kListingsInARow; ++i) {
        PsapiListingAsked = false;
        ListProcessesPsapiOnce();
        if (!PsapiListingAsked)
            break;
    }
    PsapiListing = false;
}

void __fastcall TfrmSCM::ListProcessesPsapiOnce()
{
    ResetLibrary();
    memset(ProcessIds, 0, sizeof ProcessIds);
    if (OsVersionCode < 8)
        return;

    PsapiLibrary = LoadLibraryA("Psapi.dll");
    if (PsapiLibrary == NULL)
        return;
    EnumProcessesPtr = (EnumProcessesFunc)GetProcAddress(PsapiLibrary, "EnumProcesses");
    EnumProcessModulesExPtr = (EnumProcessModulesExFunc)GetProcAddress(PsapiLibrary, "EnumProcessModulesEx");
    EnumProcessModulesPtr = (EnumProcessModulesFunc)GetProcAddress(PsapiLibrary, "EnumProcessModules");
    GetModuleBaseNameAPtr = (GetModuleBaseNameAFunc)GetProcAddress(PsapiLibrary, "GetModuleBaseNameA");

    if (EnumProcessesPtr == NULL || GetModuleBaseNameAPtr == NULL
        || (NeedsModulesEx() && EnumProcessModulesExPtr == NULL)
        || (NeedsModules() && EnumProcessModulesPtr == NULL)) {
        FreeLibrary(PsapiLibrary);
        ResetLibrary();
        return;
    }

    DWORD bytes = 0;
    if (!EnumProcessesPtr(ProcessIds, sizeof ProcessIds, &bytes)) {
        FreeLibrary(PsapiLibrary);
        ResetLibrary();
        return;
    }

    lstview_Process->Items->Clear();
    DWORD count = bytes / sizeof(DWORD);
    if (count > (DWORD)kMaxProcessIds)
        count = kMaxProcessIds;
    memset(FormatBuffer, 0, sizeof FormatBuffer);
    snprintf(FormatBuffer, sizeof FormatBuffer, "%u", (unsigned int)count);
    edt_TotalProcessCnt->Text = FormatBuffer;

    for (DWORD i = 0; i < count; ++i) {
        if (ProcessIds[i] == 0)
            continue;
        Application->ProcessMessages();
        AddProcessEntry(ProcessIds[i]);
    }

    for (int i = 0; i < lstview_Process->Items->Count; ++i)
        if (lstview_Process->Items->Item[i]->SubItems->Strings[0] == "SCardSvr.exe")
            HighlightRow(i);

    memset(FormatBuffer, 0, sizeof FormatBuffer);
    snprintf(FormatBuffer, sizeof FormatBuffer, "%d", (int)lstview_Process->Items->GetCount());
    edt_ListViewProcessCnt->Text = FormatBuffer;

    FreeLibrary(PsapiLibrary);
    ResetLibrary();
}

void __fastcall TfrmSCM::AddProcessEntry(DWORD processId)
{
    memset(NameBuffer, 0, sizeof NameBuffer);
    strcpy(NameBuffer, kUnknownName);

    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process == NULL) {
        if (GetLastError() != ERROR_ACCESS_DENIED)
            return;
        HANDLE token = NULL;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
            return;
        const BOOL enabled = SetPrivilege(token, SE_DEBUG_NAME, TRUE);
        CloseHandle(token);
        if (!enabled)
            return;
        process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, processId);
        if (process == NULL)
            return;
    }

    HMODULE module = NULL;
    DWORD needed = 0;
    bool listed = GetModuleBaseNameAPtr != NULL;
    if (listed && NeedsModulesEx())
        listed = EnumProcessModulesExPtr != NULL
            && EnumProcessModulesExPtr(process, &module, sizeof module, &needed, LIST_MODULES_ALL) != FALSE;
    else if (listed && NeedsModules())
        listed = EnumProcessModulesPtr != NULL
            && EnumProcessModulesPtr(process, &module, sizeof module, &needed) != FALSE;
    if (!listed) {
        CloseHandle(process);
        return;
    }

    GetModuleBaseNameAPtr(process, module, NameBuffer, sizeof NameBuffer);
    CloseHandle(process);
    NameBuffer[sizeof NameBuffer - 1] = '\0';
    if (strcmp(NameBuffer, kUnknownName) == 0)
        return;

    TListItem *item = lstview_Process->Items->Add();
    memset(FormatBuffer, 0, sizeof FormatBuffer);
    snprintf(FormatBuffer, sizeof FormatBuffer, "%u", (unsigned int)processId);
    item->Caption = FormatBuffer;
    item->SubItems->Add(NameBuffer);
}

BOOL __fastcall TfrmSCM::SetPrivilege(HANDLE token, LPCSTR privilege, BOOL enable)
{
    LUID luid;
    if (!LookupPrivilegeValueA(NULL, privilege, &luid)) {
        printf("LookupPrivilegeValue error: %u\n", (unsigned int)GetLastError());
        return FALSE;
    }
    TOKEN_PRIVILEGES privileges;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid = luid;
    privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    if (!AdjustTokenPrivileges(token, FALSE, &privileges, sizeof(TOKEN_PRIVILEGES), NULL, NULL)) {
        printf("AdjustTokenPrivileges error: %u\n", (unsigned int)GetLastError());
        return FALSE;
    }
    if (GetLastError() == ERROR_NOT_ALL_ASSIGNED) {
        printf("The token does not have the specified privilege. \n");
        return FALSE;
    }
    return TRUE;
}

void __fastcall TfrmSCM::ReportLastError(LPCSTR callName)
{
    const DWORD code = GetLastError();
    char text[256];
    SystemMessageText(code, text, sizeof text);

    char *p = text;
    while (*p != '\0' && ((signed char)*p >= 0x20 || *p == '\t'))
        ++p;
    *p = '\0';
    size_t length = strlen(text);
    while (length > 0 && (text[length - 1] == '.' || (signed char)text[length - 1] < 0x21))
        text[--length] = '\0';

    memset(FormatBuffer, 0, sizeof FormatBuffer);
    snprintf(FormatBuffer, sizeof FormatBuffer, "\n  WARNING: %s failed with error %d (%s)", callName, (int)code,
             text);
    rchedt_Info->Lines->Add(FormatBuffer);
    rchedt_Info->Lines->Add(Repeated('-', 54));
    rchedt_Info->Perform(EM_SCROLLCARET, 0, 0);
}
