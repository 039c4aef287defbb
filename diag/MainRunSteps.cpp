// Steps 1 to 3 of the diagnostic run: base components, the smart card
// service, the reader's driver files.
#include <vcl.h>
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "Main.h"
#include "MainRun.h"
#include "MainRunSteps.h"
#include "Public.h"
#include "ReaderModel.h"

namespace {

const char kBlanks[] = "           ";  // the indent of item and note lines

const char *Verdict(int pass)
{
    return pass == 1 ? "PASSED" : "FAILED";
}

void WindowsPath(char *path, size_t size, const char *tail)
{
    char dir[MAX_PATH];
    memset(dir, 0, sizeof dir);
    GetWindowsDirectoryA(dir, MAX_PATH);
    JoinPath(path, size, dir, tail);
}

void ShowSystemErrorText(DWORD error)
{
    char text[512];
    memset(text, 0, sizeof text);
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, 0, text,
                   sizeof text - 1, NULL);
    ShowMessage(text);
}

// The driver row (row 3) or the IFD row (row 4) of step 3 for the base name.
int DriverRow(TSelfForm *form, const char *base, TLabel *label)
{
    const bool wide = form->ArchCode == 64;
    const AnsiString fileBase = wide ? AnsiString(base) + "64" : AnsiString(base);
    const int present = form->CheckDriverFiles(fileBase, DriverFileSys) ? 1 : 0;
    int pass = present;

    char path[255];
    WindowsPath(path, sizeof path, ("\\system32\\drivers\\" + fileBase + ".sys").c_str());
    if (wide && !FileIsThere(path))
        WindowsPath(path, sizeof path, ("\\SysWOW64\\drivers\\" + fileBase + ".sys").c_str());

    const AnsiString reportName = fileBase.UpperCase() + ".SYS";
    label->Caption = reportName + " " + Repeated('.', 46);
    DWORD ms = 0, ls = 0;
    AnsiString line;
    if (pass == 1 && GetFileVersion(path, ms, ls)) {
        line.sprintf("%s%s(%d.%d.%d)%s%s", kBlanks, reportName.c_str(), (int)(ms & 0xFFFF), (int)(ls >> 16),
                     (int)(ls & 0xFFFF), Repeated('.', 35).c_str(), Verdict(present));
    } else {
        pass = 0;
        line.sprintf("%s%s%s%s", kBlanks, reportName.c_str(), Repeated('.', 42).c_str(), Verdict(present));
    }
    AppendReportLine(line);
    return pass;
}

}  // namespace

void RunBaseComponentStep(TSelfForm *form, int &ok)
{
    AppendReportLine("<1>. Smart Card Base Component Verification");

    char systemDir[MAX_PATH];
    memset(systemDir, 0, sizeof systemDir);
    GetSystemDirectoryA(systemDir, MAX_PATH);
    char path[255];
    JoinPath(path, sizeof path, systemDir, form->OsVersionCode > 12 ? "\\SCardSvr.dll" : "\\scardsvr.exe");

    int pass;
    AnsiString line;
    if (!FileIsThere(path)) {
        AppendReportLine("           Resource Manager...................................FAILED");
        pass = 0;
        ok = 0;
    } else {
        pass = 1;
        DWORD ms = 0, ls = 0;
        if (GetFileVersion(path, ms, ls)) {
            if (form->OsVersionCode >= 8 && !FileVersionAtLeast(path, 0x00050000, 0x06AC0002))
                pass = 0;
            line.sprintf("           Resource Manager(%d.%d.%d.%d).......................%s", (int)(ms >> 16),
                         (int)(ms & 0xFFFF), (int)(ls >> 16), (int)(ls & 0xFFFF), Verdict(pass));
            AppendReportLine(line);
        } else {
            AppendReportLine("           Resource Manager...................................PASSED");
        }
    }
    form->ShowStepMark(pass, 0);

    pass = 0;
    WindowsPath(path, sizeof path, "\\system32\\drivers\\smclib.sys");
    if (!FileIsThere(path)) {
        const DWORD error = GetLastError();
        AppendReportLine(line.sprintf("           Smart Card Library.................................%s",
                                      Verdict(0)));
        ShowSystemErrorText(error);
    } else {
        if (FileVersionAtLeast(path, 0x00050000, 0x07820000))
            pass = 1;
        DWORD ms = 0, ls = 0;
        if (GetFileVersion(path, ms, ls))
            line.sprintf("%sSmart Card Library(%d.%d.%d.%d)%s%s", kBlanks, (int)(ms >> 16), (int)(ms & 0xFFFF),
                         (int)(ls >> 16), (int)(ls & 0xFFFF), Repeated('.', 21).c_str(), Verdict(pass));
        else
            line.sprintf("           Smart Card Library.................................%s", Verdict(pass));
        AppendReportLine(line);
    }
    AppendReportLine("");
    if (pass == 0)
        ok = 0;
    form->ShowStepMark(pass, 1);
}

void RunServiceStep(TSelfForm *form, int &ok, int &active)
{
    AppendReportLine("<2>. Smart Card Service Activation");
    int pass = 0;
    form->ServiceRunning = 0;

    bool running;
    if (form->OsVersionCode > 6) {
        running = IsServiceRunning("SCardSvr") || IsProcessRunning("SCardSvr.exe");
    } else {
        char systemDir[MAX_PATH];
        memset(systemDir, 0, sizeof systemDir);
        GetSystemDirectoryA(systemDir, MAX_PATH);
        char path[255];
        JoinPath(path, sizeof path, systemDir, "\\scardsvr.exe");
        running = IsProcessRunning(path);
    }
    if (running) {
        form->ServiceRunning = 1;
        pass = 1;
        AppendReportLine("           SCARDSVR.EXE........................................PASSED");
    } else {
        AppendReportLine("           SCARDSVR.EXE........................................FAILED");
        ok = 0;
        if (form->OsVersionCode > 6)
            active = 0;
    }
    AppendReportLine("");
    form->ShowStepMark(pass, 2);
}

void RunDriverFileStep(TSelfForm *form, int &ok)
{
    const TReaderModel &model = ReaderModel[form->cbobox_SelectReader->ItemIndex];
    AppendReportLine("<3>. Reader Driver Installation");

    int pass = DriverRow(form, model.DriverBase, form->Label3);
    if (pass == 0)
        ok = 0;
    form->ShowStepMark(pass, 3);

    if (!model.SecondIsIfd) {
        const AnsiString upper = AnsiString(model.SecondBase).UpperCase();
        const int present = form->CheckDriverFiles(model.SecondBase, DriverFileInf) ? 1 : 0;
        form->Label4->Caption = upper + ".INF " + Repeated('.', 46);
        AnsiString line;
        AppendReportLine(line.sprintf("%s%s.INF%s%s", kBlanks, upper.c_str(), Repeated('.', 42).c_str(), Verdict(present)));
        pass = present;
        AppendReportLine("");
    } else {
        pass = DriverRow(form, model.SecondBase, form->Label4);
        if (pass == 0)
            ok = 0;
    }
    form->ShowStepMark(pass, 4);

    if (form->ArchCode == 64)
        RevertFsRedirection();
    form->pnl_Info->Visible = false;
    AppendReportLine("");
}
