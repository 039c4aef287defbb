// The service control window: its controls, the unit's state, creation,
// language, the opening lines and the numbered service messages.
#include <vcl.h>
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "Public.h"
#include "SCM_Main.h"
#include "SCM_Pictures.h"
#include "SCM_Texts.h"

TfrmSCM *frmSCM = NULL;

namespace Scm_main {

int LanguageIndex = 0;
int OsVersionCode = 0;
int ProcessorArchCode = 0;
AnsiString OsDisplayText;
bool ServiceFound = false;
bool ScardSvrSeen = false;
bool VqscmonSeen = false;
bool SvcwatchSeen = false;
AnsiString CurrentServiceName;
char ServiceStateChar = 0;
unsigned char StartTypeCode = 0;
char FormatBuffer[1024];
QueryServiceStatusExFunc QueryServiceStatusExPtr = NULL;
SC_HANDLE ManagerHandle = NULL;
SC_HANDLE ServiceHandle = NULL;
bool RecommendApplied = false;
int RecommendTicks = 0;

namespace {
int InitCount = 0;
}

void Initialization()
{
    if (InitCount++ != 0)
        return;
    OsDisplayText = "";
    CurrentServiceName = "";
    // Advapi32 is loaded with the program: looked up, not loaded.
    HMODULE advapi = GetModuleHandleA("Advapi32");
    QueryServiceStatusExPtr = advapi == NULL ? NULL
        : (QueryServiceStatusExFunc)GetProcAddress(advapi, "QueryServiceStatusEx");
}

void Finalization()
{
    if (InitCount == 0 || --InitCount != 0)
        return;
    OsDisplayText = "";
    CurrentServiceName = "";
}

bool DebugMarkerPresent()
{
    DWORD attributes = GetFileAttributesA("ShowProcessDbg.txt");
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void SystemMessageText(DWORD code, char *text, DWORD size)
{
    memset(text, 0, size);
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code,
                       0x0400, text, size - 1, NULL) == 0)
        text[0] = '\0';
    text[size - 1] = '\0';
}

}  // namespace Scm_main

using namespace Scm_main;

namespace {

void SetFont(TFont *font, const AnsiString &name, int pixels, bool bold)
{
    font->Name = name;
    font->Height = -pixels;
    font->Style = bold ? TFontStyles() << fsBold : TFontStyles();
}

void SetPointFont(TFont *font, const AnsiString &name, int points, bool bold)
{
    font->Name = name;
    font->Size = points;
    font->Style = bold ? TFontStyles() << fsBold : TFontStyles();
}

TLabel *NewLabel(TfrmSCM *form, const char *name, int left, int top, int width, int height,
                 const char *caption)
{
    TLabel *label = new TLabel(form);
    label->Name = name;
    label->Parent = form;
    label->SetBounds(left, top, width, height);
    label->Caption = caption;
    SetFont(label->Font, "Arial", 13, true);
    return label;
}

TComboBox *NewCombo(TfrmSCM *form, const char *name, int top, int tabOrder, TColor colour)
{
    TComboBox *box = new TComboBox(form);
    box->Name = name;
    box->Parent = form;
    box->SetBounds(8, top, 241, 26);
    box->TabOrder = tabOrder;
    box->Style = csDropDown;
    box->ItemHeight = 18;
    box->ImeMode = imClose;
    box->Text = "";
    SetFont(box->Font, "Verdana", 15, true);
    box->Font->Color = colour;
    return box;
}

TRadioGroup *NewGroup(TfrmSCM *form, const char *name, int left, int tabOrder, const char *caption)
{
    TRadioGroup *group = new TRadioGroup(form);
    group->Name = name;
    group->Parent = form;
    group->SetBounds(left, 8, 113, 169);
    group->TabOrder = tabOrder;
    group->Caption = caption;
    SetFont(group->Font, "Arial", 13, true);
    return group;
}

TBitBtn *NewButton(TfrmSCM *form, const char *name, int left, int width, int tabOrder)
{
    TBitBtn *button = new TBitBtn(form);
    button->Name = name;
    button->Parent = form;
    button->SetBounds(left, 408, width, 25);
    button->TabOrder = tabOrder;
    button->Cursor = crHandPoint;
    SetFont(button->Font, "Arial", 13, true);
    return button;
}

TEdit *NewDebugEdit(TfrmSCM *form, const char *name, int left, int width, int tabOrder)
{
    TEdit *edit = new TEdit(form);
    edit->Name = name;
    edit->Parent = form;
    edit->SetBounds(left, 0, width, 21);
    edit->TabOrder = tabOrder;
    edit->Text = "";
    edit->Visible = false;
    return edit;
}

// The system's text for an error code without its trailing blanks, control
// characters and full stops; empty when the system has none.
void SystemErrorText(DWORD code, char *text, DWORD size)
{
    SystemMessageText(code, text, size);
    size_t length = strlen(text);
    while (length > 0 && ((unsigned char)text[length - 1] <= 0x20 || text[length - 1] == '.'))
        text[--length] = '\0';
}

}  // namespace

__fastcall TfrmSCM::TfrmSCM(TComponent *Owner)
    : TForm(Owner)
{
    CreateControls();
}

void TfrmSCM::CreateControls()
{
    Name = "frmSCM";
    Caption = "Service Control Manager";
    BorderStyle = bsDialog;
    ClientWidth = 800;
    ClientHeight = 438;
    Color = clBtnFace;
    Font->Name = "MS Sans Serif";
    Font->Height = -11;
    Scaled = false;
    OnCreate = &TfrmSCM::FormCreate;
    OnShow = &TfrmSCM::FormShow;

    lbl_ServiceDisplayName = NewLabel(this, "lbl_ServiceDisplayName", 8, 12, 87, 16, "Display Name");
    cbbox_ServiceDisplayName = NewCombo(this, "cbbox_ServiceDisplayName", 32, 10, clBlue);
    cbbox_ServiceDisplayName->OnChange = &TfrmSCM::cbbox_ServiceDisplayNameChange;
    lbl_ServiceProcessName = NewLabel(this, "lbl_ServiceProcessName", 8, 68, 90, 16, "Process Name");
    cbbox_ServiceProcessName = NewCombo(this, "cbbox_ServiceProcessName", 88, 9, clFuchsia);
    cbbox_ServiceProcessName->OnChange = &TfrmSCM::cbbox_ServiceProcessNameChange;

    chkbox_AutoRefresh = new TCheckBox(this);
    chkbox_AutoRefresh->Name = "chkbox_AutoRefresh";
    chkbox_AutoRefresh->Parent = this;
    chkbox_AutoRefresh->SetBounds(8, 140, 113, 17);
    chkbox_AutoRefresh->TabOrder = 7;
    chkbox_AutoRefresh->Caption = "Auto refresh";
    SetFont(chkbox_AutoRefresh->Font, "Arial", 13, true);

    edt_RefreshTime = new TEdit(this);
    edt_RefreshTime->Name = "edt_RefreshTime";
    edt_RefreshTime->Parent = this;
    edt_RefreshTime->SetBounds(112, 132, 49, 24);
    edt_RefreshTime->TabOrder = 8;
    edt_RefreshTime->Text = "5000";
    edt_RefreshTime->Enabled = false;
    edt_RefreshTime->ImeMode = imClose;
    SetFont(edt_RefreshTime->Font, "Arial", 13, true);
    edt_RefreshTime->Font->Color = clNavy;

    lbl_millsec = NewLabel(this, "lbl_millsec", 176, 140, 26, 16, "(ms)");

    rdogp_Status = NewGroup(this, "rdogp_Status", 256, 0, "Status");
    rdogp_Status->Items->Add("START");
    rdogp_Status->Items->Add("STOP");
    rdogp_Status->Items->Add("SUSPEND");
    rdogp_Status->Items->Add("RESUME");
    rdogp_Status->ItemIndex = -1;
    rdogp_Type = NewGroup(this, "rdogp_Type", 376, 1, "Type");
    rdogp_Type->Items->Add("AUTO");
    rdogp_Type->Items->Add("MANUAL");
    rdogp_Type->Items->Add("DISABLE");
    rdogp_Type->ItemIndex = -1;

    lbl_Info = NewLabel(this, "lbl_Info", 8, 176, 73, 16, "Information");

    rchedt_Info = new TRichEdit(this);
    rchedt_Info->Name = "rchedt_Info";
    rchedt_Info->Parent = this;
    rchedt_Info->SetBounds(8, 192, 481, 185);
    rchedt_Info->TabOrder = 4;
    rchedt_Info->ReadOnly = true;
    rchedt_Info->ScrollBars = ssBoth;
    rchedt_Info->ImeMode = imClose;
    rchedt_Info->Font->Name = "Arial";
    rchedt_Info->Font->Height = -15;
    rchedt_Info->Font->Charset = CHINESEBIG5_CHARSET;
    rchedt_Info->Lines->Clear();
    rchedt_Info->OnKeyPress = &TfrmSCM::rchedt_InfoKeyPress;

    pgsbar_SCM = new TProgressBar(this);
    pgsbar_SCM->Name = "pgsbar_SCM";
    pgsbar_SCM->Parent = this;
    pgsbar_SCM->SetBounds(8, 384, 481, 16);
    pgsbar_SCM->TabOrder = 5;
    pgsbar_SCM->Min = 0;
    pgsbar_SCM->Max = 100;
    pgsbar_SCM->Position = 0;

    bbtn_Refresh = NewButton(this, "bbtn_Refresh", 8, 121, 6);
    bbtn_Refresh->Caption = "Refresh";
    DrawRefreshGlyph(bbtn_Refresh->Glyph);
    bbtn_Refresh->NumGlyphs = 2;
    bbtn_Refresh->OnClick = &TfrmSCM::bbtn_RefreshClick;
    bbtn_Recommend = NewButton(this, "bbtn_Recommend", 160, 121, 12);
    bbtn_Recommend->Caption = "Recommend";
    DrawRecommendGlyph(bbtn_Recommend->Glyph);
    bbtn_Recommend->NumGlyphs = 2;
    bbtn_Recommend->OnClick = &TfrmSCM::bbtn_RecommendClick;
    bbtn_Apply = NewButton(this, "bbtn_Apply", 304, 75, 2);
    bbtn_Apply->Kind = bkOK;
    DrawOkGlyph(bbtn_Apply->Glyph);
    bbtn_Apply->NumGlyphs = 2;
    bbtn_Apply->OnClick = &TfrmSCM::bbtn_ApplyClick;
    bbtn_Cancel = NewButton(this, "bbtn_Cancel", 400, 89, 3);
    bbtn_Cancel->Kind = bkCancel;
    DrawCancelGlyph(bbtn_Cancel->Glyph);
    bbtn_Cancel->NumGlyphs = 2;
    bbtn_Cancel->OnClick = &TfrmSCM::bbtn_CancelClick;

    lbl_ProcessList = NewLabel(this, "lbl_ProcessList", 504, 5, 75, 16, "Process List");

    lstview_Process = new TListView(this);
    lstview_Process->Name = "lstview_Process";
    lstview_Process->Parent = this;
    lstview_Process->SetBounds(504, 24, 289, 409);
    lstview_Process->TabOrder = 11;
    lstview_Process->ViewStyle = vsReport;
    TListColumn *column = lstview_Process->Columns->Add();
    column->Caption = "ID";
    column->Width = 50;
    column = lstview_Process->Columns->Add();
    column->Caption = "Process";
    column->Width = 200;
    lstview_Process->GridLines = true;
    lstview_Process->RowSelect = true;
    lstview_Process->MultiSelect = true;
    lstview_Process->HideSelection = false;
    lstview_Process->ReadOnly = true;
    lstview_Process->Color = clCream;
    lstview_Process->Font->Name = "Verdana";
    lstview_Process->Font->Height = -13;
    lstview_Process->Font->Color = clMaroon;
    lstview_Process->Items->Add();

    edt_Debug = NewDebugEdit(this, "edt_Debug", 584, 73, 15);
    edt_OS = NewDebugEdit(this, "edt_OS", 656, 57, 16);
    edt_TotalProcessCnt = NewDebugEdit(this, "edt_TotalProcessCnt", 712, 41, 13);
    edt_ListViewProcessCnt = NewDebugEdit(this, "edt_ListViewProcessCnt", 752, 41, 14);

    tmrStatus = new TTimer(this);
    tmrStatus->Name = "tmrStatus";
    tmrStatus->Enabled = false;
    tmrStatus->Interval = 5000;
    tmrStatus->OnTimer = &TfrmSCM::tmrStatusTimer;
    tmrAutoProcess = new TTimer(this);
    tmrAutoProcess->Name = "tmrAutoProcess";
    tmrAutoProcess->Enabled = false;
    tmrAutoProcess->OnTimer = &TfrmSCM::tmrAutoProcessTimer;

    chkbox_AutoRefresh->OnClick = &TfrmSCM::chkbox_AutoRefreshClick;
    edt_RefreshTime->OnChange = &TfrmSCM::edt_RefreshTimeChange;
}

void __fastcall TfrmSCM::FormCreate(TObject *Sender)
{
    LanguageIndex = GetUILanguageCode();
    OsVersionCode = GetOSVersionCode();
    OsDisplayText = GetOSDisplayString();
    ProcessorArchCode = GetProcessorArchCode();

    switch (ProcessorArchCode) {
    case 60: Width = 808; break;
    case 64: Width = 505; break;
    case 86: Width = 808; break;
    default: break;
    }

    if (DebugMarkerPresent()) {
        edt_Debug->Visible = true;
        edt_OS->Visible = true;
        edt_TotalProcessCnt->Visible = true;
        edt_ListViewProcessCnt->Visible = true;
        memset(FormatBuffer, 0, sizeof FormatBuffer);
        snprintf(FormatBuffer, sizeof FormatBuffer, "OS : %d", OsVersionCode);
        edt_OS->Text = FormatBuffer;
        if (LanguageIndex == 1)
            edt_Debug->Text = "Lang : TC";
        else if (LanguageIndex == 0)
            edt_Debug->Text = "Lang : EN";
    } else {
        edt_Debug->Visible = false;
        edt_TotalProcessCnt->Visible = false;
        edt_ListViewProcessCnt->Visible = false;
    }

    CentreOnScreen(this);

    ApplyLanguage(LanguageIndex == 1 ? "ChineseTraditional" : "English");

    ServiceFound = false;
    ScardSvrSeen = false;
    VqscmonSeen = false;
    SvcwatchSeen = false;

    if (OsVersionCode > 6) {
        FillServiceLists();
        ListProcessesPsapi();
    } else {
        ListProcessesToolhelp();
    }

    if (OsVersionCode > 6) {
        for (int i = 0; i < cbbox_ServiceProcessName->Items->Count; ++i) {
            if (cbbox_ServiceProcessName->Items->Strings[i] == "SCardSvr") {
                cbbox_ServiceDisplayName->ItemIndex = i;
                cbbox_ServiceProcessName->ItemIndex = i;
                ServiceFound = true;
                break;
            }
        }
    } else {
        ServiceFound = ScardSvrSeen && VqscmonSeen && SvcwatchSeen;
    }

    CurrentServiceName = cbbox_ServiceProcessName->Text;
}

void __fastcall TfrmSCM::ApplyLanguage(AnsiString language)
{
    const bool chinese = language == "ChineseTraditional";
    const char *face = chinese ? "Verdana" : "Arial";
    TFont *plain[] = {lbl_ServiceDisplayName->Font, NULL, lbl_ServiceProcessName->Font, NULL,
                      chkbox_AutoRefresh->Font, lbl_millsec->Font, bbtn_Refresh->Font,
                      bbtn_Recommend->Font, lbl_ProcessList->Font};
    plain[1] = cbbox_ServiceDisplayName->Font;
    plain[3] = cbbox_ServiceProcessName->Font;
    for (int i = 0; i < 9; ++i) {
        if (i == 1 || i == 3)
            SetPointFont(plain[i], "Verdana", 10, !chinese);
        else
            SetPointFont(plain[i], face, 10, !chinese);
    }

    // The window's language index picks the texts; the language named here
    // decides between them.
    const int saved = LanguageIndex;
    LanguageIndex = chinese ? 1 : 0;

    rdogp_Status->Items->Clear();
    for (int i = 0; i < 4; ++i)
        rdogp_Status->Items->Add(ScmText(ScmStatusItems[i]));
    SetPointFont(rdogp_Status->Font, face, 10, !chinese);
    rdogp_Type->Items->Clear();
    for (int i = 0; i < 3; ++i)
        rdogp_Type->Items->Add(ScmText(ScmTypeItems[i]));
    SetPointFont(rdogp_Type->Font, face, 10, !chinese);

    SetPointFont(lbl_Info->Font, face, 10, !chinese);
    SetPointFont(bbtn_Apply->Font, face, 10, !chinese);
    SetPointFont(bbtn_Cancel->Font, face, 10, !chinese);
    SetPointFont(rchedt_Info->Font, "Verdana", 11, false);

    memset(FormatBuffer, 0, sizeof FormatBuffer);
    snprintf(FormatBuffer, sizeof FormatBuffer, ScmText(ScmCaptionText).c_str(), OsDisplayText.c_str());
    Caption = FormatBuffer;

    lbl_ServiceDisplayName->Caption = ScmText(ScmDisplayNameText);
    lbl_ServiceProcessName->Caption = ScmText(ScmServiceNameText);
    chkbox_AutoRefresh->Caption = ScmText(ScmAutoRefreshText);
    lbl_millsec->Caption = ScmText(ScmMillisecondsText);
    bbtn_Refresh->Caption = ScmText(ScmRefreshText);
    bbtn_Recommend->Caption = ScmText(ScmRecommendText);
    rdogp_Status->Caption = ScmText(ScmStatusText);
    rdogp_Type->Caption = ScmText(ScmTypeText);
    lbl_Info->Caption = ScmText(ScmInfoText);
    bbtn_Apply->Caption = ScmText(ScmApplyText);
    bbtn_Cancel->Caption = ScmText(ScmCancelText);
    lbl_ProcessList->Caption = ScmText(ScmProcessListText);

    LanguageIndex = saved;
}

void __fastcall TfrmSCM::SetServiceControlsEnabled(bool enabled)
{
    cbbox_ServiceDisplayName->Enabled = enabled;
    cbbox_ServiceProcessName->Enabled = enabled;
    rdogp_Status->Enabled = enabled;
    rdogp_Type->Enabled = enabled;
    chkbox_AutoRefresh->Enabled = enabled;
    edt_RefreshTime->Enabled = enabled;
    bbtn_Recommend->Enabled = enabled;
    bbtn_Apply->Enabled = enabled;
    bbtn_Refresh->Enabled = enabled;
}

void __fastcall TfrmSCM::FormShow(TObject *Sender)
{
    ApplyLanguage(LanguageIndex == 1 ? "ChineseTraditional" : "English");
    rchedt_Info->Clear();

    if (!ServiceFound || OsVersionCode <= 6) {
        if (!ServiceFound && OsVersionCode > 6) {
            for (int i = 0; i < 5; ++i)
                AddInfoLine(ScmText(ScmNotFoundLines[i]), i == 0 ? InfoRed : InfoBlack);
        } else if (!ServiceFound) {
            for (int i = 0; i < 3; ++i)
                AddInfoLine(ScmText(ScmMissingLines[i]), i == 0 ? InfoRed : InfoBlack);
        } else {
            for (int i = 0; i < 3; ++i)
                AddInfoLine(ScmText(ScmPerfectLines[i]), InfoGreen);
        }
        cbbox_ServiceDisplayName->Text = "Smart Card";
        cbbox_ServiceProcessName->Text = "SCardSvr";
        SetServiceControlsEnabled(false);
        return;
    }

    SetServiceControlsEnabled(true);
    bbtn_RefreshClick(Sender);
    if (rdogp_Status->ItemIndex != 0 || rdogp_Type->ItemIndex != 0) {
        AddInfoLine(ScmText(ScmSettingLines[0]), InfoRed);
        AddInfoLine(ScmText(ScmSettingLines[1]), InfoBlack);
        AddInfoLine(Repeated('-', 52), InfoRed);
        bbtn_RecommendClick(Sender);
    } else {
        for (int i = 0; i < 3; ++i)
            AddInfoLine(ScmText(ScmPerfectLines[i]), InfoGreen);
    }
}

void __fastcall TfrmSCM::ShowServiceMessage(unsigned char code)
{
    const DWORD lastError = GetLastError();
    char systemText[256];
    memset(FormatBuffer, 0, sizeof FormatBuffer);
    if (code >= 1 && code <= 17) {
        SystemErrorText(lastError, systemText, sizeof systemText);
        const AnsiString format = ScmText(ScmServiceMessages[code]);
        if (format.Pos("%s") > 0)
            snprintf(FormatBuffer, sizeof FormatBuffer, format.c_str(), systemText);
        else
            snprintf(FormatBuffer, sizeof FormatBuffer, "%s", format.c_str());
    }
    rchedt_Info->SelAttributes->Color = (TColor)(code > 9 ? InfoBlue : InfoRed);
    rchedt_Info->Lines->Add(FormatBuffer);
    rchedt_Info->Perform(EM_SCROLLCARET, 0, 0);
}

void __fastcall TfrmSCM::bbtn_CancelClick(TObject *Sender)
{
    frmSCM->Hide();
}

void __fastcall TfrmSCM::cbbox_ServiceDisplayNameChange(TObject *Sender)
{
    cbbox_ServiceProcessName->ItemIndex = cbbox_ServiceDisplayName->ItemIndex;
}

void __fastcall TfrmSCM::cbbox_ServiceProcessNameChange(TObject *Sender)
{
    cbbox_ServiceDisplayName->ItemIndex = cbbox_ServiceProcessName->ItemIndex;
}

void __fastcall TfrmSCM::rchedt_InfoKeyPress(TObject *Sender, char &Key)
{
    if (Key == 27)
        rchedt_Info->Clear();
}
