#include <vcl.h>
#include <windows.h>

#include <string.h>

#include "Log.h"
#include "Main.h"
#include "MainRun.h"
#include "MainRunSteps.h"
#include "ReaderModel.h"
#include "service/SCM_Main.h"

namespace {

const char kRule[] = "==========================================================================";

void WarnNoReaderChosen(int languageIndex)
{
    if (languageIndex == 1) {
        // The Traditional Chinese texts are Big5 whatever the system's code page.
        char text[64], caption[16];
        memset(text, 0, sizeof text);
        memset(caption, 0, sizeof caption);
        WideCharToMultiByte(950, 0, L"請先選擇您的讀卡機 !", -1, text, sizeof text - 1, NULL, NULL);
        WideCharToMultiByte(950, 0, L"提示", -1, caption, sizeof caption - 1, NULL, NULL);
        Application->MessageBox(text, caption, MB_OK | MB_ICONWARNING);
    } else {
        Application->MessageBox("Please select your reader at first !", "Information",
                                MB_OK | MB_ICONWARNING);
    }
}

void AppendHeader(TSelfForm *form, const char *computerName, const char *userName)
{
    const SYSTEMTIME &t = form->RunTime;
    AnsiString line;
    AppendReportLine("             Diagnose Current Smart Card System v2.2");
    AppendReportLine(kRule);
    AppendReportLine("");
    AppendReportLine(line.sprintf("OS Version    : %s", form->OsName.c_str()));
    AppendReportLine(line.sprintf("Computer Name : %s", computerName));
    AppendReportLine(line.sprintf("Date          : %04d/%02d/%02d, %s", t.wYear, t.wMonth, t.wDay,
                                  WeekdayName(t.wDayOfWeek)));
    int hour = t.wHour % 12;
    if (hour == 0)
        hour = 12;
    AppendReportLine(line.sprintf("Time          : %s %02d:%02d:%02d", t.wHour < 12 ? "AM" : "PM", hour,
                                  t.wMinute, t.wSecond));
    AppendReportLine(line.sprintf("User Name     : %s", userName));
    AppendReportLine(line.sprintf("Target Reader : %s", form->cbobox_SelectReader->Text.get().c_str()));
    AppendReportLine("");
    AppendReportLine(kRule);
    AppendReportLine("");
}

}  // namespace

// The diagnostic run of "&Diagnostic": header, five steps, verdict.
void __fastcall TSelfForm::bbtn_CheckClick(TObject *Sender)
{
    if (cbobox_SelectReader->ItemIndex < 0 || cbobox_SelectReader->ItemIndex >= ReaderModelCount) {
        WarnNoReaderChosen(LanguageIndex);
        cbobox_SelectReader->SetFocus();
        return;
    }

    int ok = 1;
    int active = 1;

    pnlResult->Caption = "";
    pnlResult->Repaint();
    bbtn_Check->Enabled = false;
    bbtn_ViewLog->Enabled = true;
    HideStepMarks();
    Label13->Visible = false;
    Label15->Visible = false;
    Label14->Visible = false;

    GetLocalTime(&RunTime);
    char name[50];
    memset(name, 0, sizeof name);
    DWORD size = sizeof name;
    GetComputerNameA(name, &size);
    name[sizeof name - 1] = '\0';
    char computerName[50];
    memcpy(computerName, name, sizeof name);

    LogForm->DiagnosticMemo->Lines->Clear();

    memset(name, 0, sizeof name);
    size = sizeof name;
    GetUserNameA(name, &size);
    name[sizeof name - 1] = '\0';
    AppendHeader(this, computerName, name);

    if (ArchCode == 64)
        DisableFsRedirection();

    RunBaseComponentStep(this, ok);
    RunServiceStep(this, ok, active);
    RunDriverFileStep(this, ok);
    RunReaderRegistrationStep(this, ok, active);
    if (active)
        RunCommunicationStep(this, ok);

    AppendReportLine("");
    AppendReportLine("");
    if (ok == 1) {
        AppendReportLine("-> [Result] : PC/SC Smart Card Environment is proper(OK).");
        pnlResult->Caption = MainText(15, LanguageIndex);
    } else {
        AppendReportLine("-> [Result] : Some of PC/SC Smart Card Environment Failed.");
        pnlResult->Caption = MainText(16, LanguageIndex);
    }

    // On the NT family a service that isn't running with automatic start is
    // handed to the service control window's recommendation.
    if (OsVersionCode > 6 && (ServiceRunning == 0 || frmSCM->GetStartType("SCardSvr") != 2)) {
        frmSCM->Visible = true;
        frmSCM->BringToFront();
        frmSCM->bbtn_RecommendClick(Sender);
    }

    bbtn_Check->Enabled = true;
}
