// Small routines of the diagnostic run: report lines, step marks, the
// service and process checks, week-day names and the ATR text.
#include <vcl.h>
#include <windows.h>
#include <winsvc.h>
#include <tlhelp32.h>

#include <string.h>

#include "Log.h"
#include "Main.h"
#include "MainRun.h"

void AppendReportLine(const AnsiString &line)
{
    LogForm->DiagnosticMemo->Lines->Add(line);
}

void __fastcall TSelfForm::ShowStepMark(int pass, int row)
{
    Sleep(100);
    if (row < 0 || row >= MarkRowCount)
        return;
    TImage *mark = pass == 1 ? StepMarks[row] : StepMarks[row + MarkRowCount];
    if (mark == NULL)
        return;
    mark->Left = (pass == 1 ? Image01 : Image02)->Left;
    mark->Top = MarkRowTop[row];
    mark->Visible = true;
    mark->Repaint();
}

void __fastcall TSelfForm::HideStepMarks()
{
    for (int i = 0; i < StepMarkCount; ++i)
        if (StepMarks[i] != NULL)
            StepMarks[i]->Visible = false;
}

bool IsServiceRunning(const char *name)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, STANDARD_RIGHTS_READ | SC_MANAGER_CONNECT);
    if (manager == NULL)
        return false;
    bool running = false;
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
    if (service != NULL) {
        SERVICE_STATUS status;
        memset(&status, 0, sizeof status);
        if (QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING)
            running = true;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return running;
}

bool IsProcessRunning(const char *name)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    const AnsiString wanted = AnsiString(name).UpperCase();
    PROCESSENTRY32 entry;
    memset(&entry, 0, sizeof entry);
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !found;
         more = Process32Next(snapshot, &entry)) {
        entry.szExeFile[MAX_PATH - 1] = '\0';
        if (AnsiString(entry.szExeFile).UpperCase() == wanted)
            found = true;
    }
    CloseHandle(snapshot);
    return found;
}

const char *WeekdayName(int dayOfWeek)
{
    switch (dayOfWeek) {
    case 0: return "Sunday";
    case 1: return "Monday";
    case 2: return "Tuesday";
    case 3: return "Wednesday";
    case 4: return "Thursday";
    case 5: return "Friday";
    default: return "Saturday";
    }
}

AnsiString FormatAtrHex(const BYTE *bytes, DWORD n)
{
    static const char digits[] = "0123456789ABCDEF";
    AnsiString text;
    for (DWORD i = 0; i < n; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
        text += ' ';
    }
    return text;
}
