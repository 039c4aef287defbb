// Refresh (by button or timer), automatic refresh, Apply and the
// recommended-setting sequence of the service control window.
#include <vcl.h>
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "Public.h"
#include "SCM_Main.h"
#include "SCM_Texts.h"

using namespace Scm_main;

namespace {

const int kRecommendTickLimit = 32;

// A line formatted with the service's name, in black.
void AttemptLine(const TextPair &text)
{
    memset(FormatBuffer, 0, sizeof FormatBuffer);
    snprintf(FormatBuffer, sizeof FormatBuffer, ScmText(text).c_str(), CurrentServiceName.c_str());
    AddInfoLine(FormatBuffer, InfoBlack);
}

}  // namespace

void __fastcall TfrmSCM::RefreshService()
{
    CurrentServiceName = cbbox_ServiceProcessName->Text;
    const unsigned char state = QueryServiceState(CurrentServiceName);

    if (OsVersionCode <= 6)
        ListProcessesToolhelp();
    else
        ListProcessesPsapi();

    if (state == 10) {
        rdogp_Status->ItemIndex = 0;
        ServiceStateChar = '0';
    } else if (state == 11) {
        rdogp_Status->ItemIndex = 1;
        ServiceStateChar = '1';
    } else {
        rdogp_Status->ItemIndex = -1;
        ShowServiceMessage(state);
    }

    const unsigned char type = GetStartType(CurrentServiceName);
    switch (type) {
    case 2:
        rdogp_Type->ItemIndex = 0;
        StartTypeCode = 2;
        break;
    case 3:
        rdogp_Type->ItemIndex = 1;
        StartTypeCode = 3;
        break;
    case 4:
        rdogp_Type->ItemIndex = 2;
        StartTypeCode = 4;
        break;
    default:
        rdogp_Type->ItemIndex = -1;
        break;
    }

    rdogp_Status->Enabled = !(rdogp_Status->ItemIndex == 1 && rdogp_Type->ItemIndex == 2);
}

void __fastcall TfrmSCM::bbtn_RefreshClick(TObject *Sender)
{
    RefreshService();
}

void __fastcall TfrmSCM::tmrStatusTimer(TObject *Sender)
{
    RefreshService();
}

void __fastcall TfrmSCM::chkbox_AutoRefreshClick(TObject *Sender)
{
    if (chkbox_AutoRefresh->Checked) {
        edt_RefreshTime->Enabled = true;
        bbtn_Refresh->Enabled = false;
        tmrStatus->Enabled = true;
    } else {
        edt_RefreshTime->Enabled = false;
        bbtn_Refresh->Enabled = true;
        tmrStatus->Enabled = false;
    }
}

void __fastcall TfrmSCM::edt_RefreshTimeChange(TObject *Sender)
{
    if (edt_RefreshTime->Text.IsEmpty())
        return;
    const int interval = StrToInt(edt_RefreshTime->Text);  // raises EConvertError
    if (interval <= 0)
        return;
    tmrStatus->Interval = interval;
}

void __fastcall TfrmSCM::bbtn_ApplyClick(TObject *Sender)
{
    CurrentServiceName = cbbox_ServiceProcessName->Text;

    if (rdogp_Status->Enabled) {
        switch (rdogp_Status->ItemIndex) {
        case 0:
            AttemptLine(ScmAttemptStartText);
            Application->ProcessMessages();
            if (StartServiceAndWait(CurrentServiceName) == 1)
                ServiceStateChar = '0';
            break;
        case 1:
            AttemptLine(ScmAttemptStopText);
            Application->ProcessMessages();
            if (StopServiceAndWait(CurrentServiceName) == 1)
                ServiceStateChar = '1';
            break;
        case 2:
            AddInfoLine(ScmText(ScmSuspendText), InfoRed);
            break;
        case 3:
            AddInfoLine(ScmText(ScmResumeText), InfoRed);
            break;
        default:
            break;
        }
    }

    const int typeIndex = rdogp_Type->ItemIndex;
    if (typeIndex == 0 || typeIndex == 1) {
        const int startType = typeIndex == 0 ? 2 : 3;
        AddInfoLine(ScmText(ScmStartTypeTexts[typeIndex]), InfoBlack);
        if (rdogp_Status->ItemIndex == 1) {
            if (EnableService(CurrentServiceName) == 1) {
                ServiceStateChar = '4';
                if (SetStartType(CurrentServiceName, startType) == 1) {
                    rdogp_Status->Enabled = true;
                    StartTypeCode = (unsigned char)startType;
                }
            }
        } else if (SetStartType(CurrentServiceName, startType) == 1) {
            StartTypeCode = (unsigned char)startType;
        }
    } else if (typeIndex == 2) {
        AddInfoLine(ScmText(ScmStartTypeTexts[2]), InfoBlack);
        if (SetStartType(CurrentServiceName, 4) == 1)
            StartTypeCode = 4;
        rdogp_Status->Enabled = rdogp_Status->ItemIndex != 1;
    }

    AddInfoLine(Repeated('-', 52), InfoBlack);
    ListProcessesPsapi();
}

void __fastcall TfrmSCM::bbtn_RecommendClick(TObject *Sender)
{
    RecommendTicks = 0;
    RecommendApplied = false;
    tmrAutoProcess->Interval = 250;
    tmrAutoProcess->Enabled = true;
}

void __fastcall TfrmSCM::tmrAutoProcessTimer(TObject *Sender)
{
    if (!RecommendApplied) {
        RecommendApplied = true;
        if (rdogp_Status->ItemIndex == 0 && rdogp_Type->ItemIndex == 0)
            return;
        if (rdogp_Status->Enabled && rdogp_Status->ItemIndex != 0)
            rdogp_Status->ItemIndex = 0;
        if (rdogp_Type->ItemIndex != 0)
            rdogp_Type->ItemIndex = 0;
        bbtn_ApplyClick(Sender);
        return;
    }

    if (rdogp_Status->ItemIndex == 1 && ServiceStateChar == '4' && StartTypeCode == 2) {
        RecommendApplied = false;
        return;
    }

    Application->ProcessMessages();
    if (ServiceStateChar == '0' && StartTypeCode == 2) {
        tmrAutoProcess->Enabled = false;
        AddInfoLine(ScmText(ScmPerfectLines[0]), InfoGreen);
        return;
    }
    ++RecommendTicks;
    if (RecommendTicks >= kRecommendTickLimit)
        tmrAutoProcess->Enabled = false;
}
