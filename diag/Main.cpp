#include <vcl.h>
#include <windows.h>

#include <string.h>

#include "Main.h"
#include "About.h"
#include "Log.h"
#include "MainPictures.h"
#include "Public.h"
#include "ReaderModel.h"
#include "service/SCM_Main.h"

TSelfForm *SelfForm = NULL;

int MarkRowTop[MarkRowCount];

namespace {

const int kMarkOffset = 4;
const int kTitleRowTop = 28;
const int kRowSpacing = 30;

// Font face of the Traditional Chinese texts, in the system's code page.
AnsiString ChineseFontName()
{
    return AnsiString(L"新細明體");
}

TFontStyles Bold()
{
    return TFontStyles() << fsBold;
}

void SetFont(TFont *font, const AnsiString &name, int pixels, TFontStyles style, TColor color)
{
    font->Name = name;
    font->Height = -pixels;
    font->Style = style;
    font->Color = color;
}

TLabel *NewLabel(TComponent *owner, TWinControl *parent, const AnsiString &caption)
{
    TLabel *label = new TLabel(owner);
    label->Parent = parent;
    label->Caption = caption;
    label->Transparent = true;
    return label;
}

TBitBtn *NewButton(TComponent *owner, TWinControl *parent, int left)
{
    TBitBtn *button = new TBitBtn(owner);
    button->Parent = parent;
    button->SetBounds(left, 5, 155, 57);
    button->Cursor = crHandPoint;
    return button;
}

}  // namespace

__fastcall TSelfForm::TSelfForm(TComponent *Owner)
    : TForm(Owner)
{
    CreateControls();

    OsName = "";
    ScardContext = 0;
    ReaderListLength = 0;
    ReaderCount = 0;
    ReaderList = NULL;
    memset(ReaderStates, 0, sizeof ReaderStates);
    memset(CardHandles, 0, sizeof CardHandles);
    memset(ActiveProtocols, 0, sizeof ActiveProtocols);
    SelectedReader = -1;
    LanguageIndex = 0;
    OsVersionCode = 0;
    ArchCode = 0;
    memset(&RunTime, 0, sizeof RunTime);
    for (int i = 0; i < StepMarkCount; ++i)
        StepMarks[i] = NULL;
    ServiceRunning = 0;
    NoServicePermission = 0;
}

__fastcall TSelfForm::~TSelfForm()
{
    delete[] ReaderList;
    OsName = "";
}

// The window as designed: three panels filling the client area (button bar,
// check area, result bar) and their controls.
void TSelfForm::CreateControls()
{
    Name = "SelfForm";
    Caption = "SelfForm";
    BorderStyle = bsSingle;
    BorderIcons = TBorderIcons() << biSystemMenu << biMinimize;
    Scaled = false;
    PixelsPerInch = 96;
    ClientWidth = 781;
    ClientHeight = 585;
    OnCreate = &TSelfForm::FormCreate;
    OnShow = &TSelfForm::FormShow;
    OnResize = &TSelfForm::FormResize;
    OnClose = &TSelfForm::FormClose;

    Panel3 = new TPanel(this);
    Panel3->Name = "Panel3";
    Panel3->Parent = this;
    Panel3->Align = alTop;
    Panel3->Height = 65;
    Panel3->Caption = "";
    Panel3->Color = RgbColour(0, 64, 128);

    bbtn_Check = NewButton(this, Panel3, 2);
    bbtn_Check->Name = "bbtn_Check";
    bbtn_Check->OnClick = &TSelfForm::bbtn_CheckClick;
    bbtn_ViewLog = NewButton(this, Panel3, 157);
    bbtn_ViewLog->Name = "bbtn_ViewLog";
    bbtn_ViewLog->Enabled = false;
    bbtn_ViewLog->Hint = "Detail";
    bbtn_ViewLog->ShowHint = true;
    bbtn_ViewLog->OnClick = &TSelfForm::bbtn_ViewLogClick;
    bbtn_FAQ = NewButton(this, Panel3, 312);
    bbtn_FAQ->Name = "bbtn_FAQ";
    bbtn_FAQ->OnClick = &TSelfForm::bbtn_FAQClick;
    bbtn_SCM = NewButton(this, Panel3, 467);
    bbtn_SCM->Name = "bbtn_SCM";
    bbtn_SCM->OnClick = &TSelfForm::bbtn_SCMClick;
    ExitBitBtn = NewButton(this, Panel3, 622);
    ExitBitBtn->Name = "ExitBitBtn";
    ExitBitBtn->OnClick = &TSelfForm::ExitBitBtnClick;
    AboutBitBtn = NewButton(this, Panel3, 622);
    AboutBitBtn->Name = "AboutBitBtn";
    AboutBitBtn->OnClick = &TSelfForm::AboutBitBtnClick;

    pnlResult = new TPanel(this);
    pnlResult->Name = "pnlResult";
    pnlResult->Parent = this;
    pnlResult->Align = alBottom;
    pnlResult->Height = 43;
    pnlResult->Caption = "";
    pnlResult->Color = clGreen;
    SetFont(pnlResult->Font, ChineseFontName(), 24, Bold(), clLime);

    pnl_Info = new TPanel(this);
    pnl_Info->Name = "pnl_Info";
    pnl_Info->Parent = pnlResult;
    pnl_Info->SetBounds(232, 2, 313, 39);
    pnl_Info->Caption = "Searching file, please wait...";
    pnl_Info->Color = clYellow;
    SetFont(pnl_Info->Font, "Verdana", 19, TFontStyles(), clRed);
    pnl_Info->Visible = false;

    Panel2 = new TPanel(this);
    Panel2->Name = "Panel2";
    Panel2->Parent = this;
    Panel2->Align = alClient;
    Panel2->BevelOuter = bvLowered;
    Panel2->Caption = "";
    Panel2->Color = RgbColour(128, 128, 192);

    Image1 = new TImage(this);
    Image1->Name = "Image1";
    Image1->Parent = Panel2;
    Image1->SetBounds(0, 0, 781, 478);
    DrawBackdrop(Image1->Picture->Bitmap, 781, 478);
    Image1->AutoSize = true;

    Panel1 = new TPanel(this);
    Panel1->Name = "Panel1";
    Panel1->Parent = Panel2;
    Panel1->SetBounds(50, 48, 456, 2);
    Panel1->Caption = "";
    Panel4 = new TPanel(this);
    Panel4->Name = "Panel4";
    Panel4->Parent = Panel2;
    Panel4->SetBounds(526, 48, 84, 2);
    Panel4->Caption = "";
    Panel5 = new TPanel(this);
    Panel5->Name = "Panel5";
    Panel5->Parent = Panel2;
    Panel5->SetBounds(630, 48, 85, 2);
    Panel5->Caption = "";

    lblCheckTitle = NewLabel(this, Panel2, "CHECKED ITEMS");
    lblCheckTitle->Name = "lblCheckTitle";
    SetFont(lblCheckTitle->Font, ChineseFontName(), 15, Bold(), clYellow);
    lblPass = NewLabel(this, Panel2, "PASSED");
    lblPass->Name = "lblPass";
    SetFont(lblPass->Font, ChineseFontName(), 15, Bold(), clGreen);
    lblFail = NewLabel(this, Panel2, "FAILED");
    lblFail->Name = "lblFail";
    SetFont(lblFail->Font, ChineseFontName(), 15, Bold(), clRed);
    TLabel *columnTitles[2] = {lblPass, lblFail};
    for (int i = 0; i < 2; ++i) {
        columnTitles[i]->AutoSize = false;
        columnTitles[i]->Alignment = taCenter;
        columnTitles[i]->Width = 73;
        columnTitles[i]->Height = 15;
    }

    struct {
        TLabel **label;
        const char *name;
        AnsiString caption;
        bool heading;
    } rows[] = {
        {&Label1, "Label1", "1. Smart Card Base Component Verification", true},
        {&Label9, "Label9", "2. Smart Card Service Activation", true},
        {&Label2, "Label2", "3. Reader Driver Installed", true},
        {&Label5, "Label5", "4. Reader Registration", true},
        {&Label12, "Label12", "5. Communication with Reader", true},
        {&Label13, "Label13", "    Communication with Reader (Second)", true},
        {&Label7, "Label7", AnsiString("Resource Manager ") + Repeated('.', 41), false},
        {&Label8, "Label8", AnsiString("Smart Card Library ") + Repeated('.', 40), false},
        {&Label3, "Label3", AnsiString("VQUSB.SYS ") + Repeated('.', 50), false},
        {&Label4, "Label4", AnsiString("VQUSB.INF ") + Repeated('.', 50), false},
        {&Label14, "Label14", "", false},
        {&Label15, "Label15", "", false},
    };
    for (unsigned i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        TLabel *label = NewLabel(this, Panel2, rows[i].caption);
        label->Name = rows[i].name;
        if (rows[i].heading)
            SetFont(label->Font, "Arial", 19, Bold(), clPurple);
        else
            SetFont(label->Font, "Arial", 16, Bold(), clNavy);
        *rows[i].label = label;
    }
    Label13->Visible = false;
    Label14->Visible = false;
    Label15->Visible = false;

    Image01 = new TImage(this);
    Image01->Name = "Image01";
    Image01->Parent = Panel2;
    Image01->SetBounds(552, 84, 20, 20);
    DrawPassMark(Image01->Picture->Bitmap);
    Image01->Transparent = true;
    Image01->Visible = false;
    Image02 = new TImage(this);
    Image02->Name = "Image02";
    Image02->Parent = Panel2;
    Image02->SetBounds(656, 84, 20, 20);
    DrawFailMark(Image02->Picture->Bitmap);
    Image02->Transparent = true;
    Image02->Visible = false;

    cbobox_SelectReader = new TComboBox(this);
    cbobox_SelectReader->Name = "cbobox_SelectReader";
    cbobox_SelectReader->Parent = Panel2;
    cbobox_SelectReader->SetBounds(516, 456, 265, 24);
    cbobox_SelectReader->Color = clLime;
    SetFont(cbobox_SelectReader->Font, "Verdana", 16, TFontStyles(), clBlack);
    cbobox_SelectReader->ItemHeight = 18;

    Timer1 = new TTimer(this);
    Timer1->Name = "Timer1";
    Timer1->Enabled = false;
    Timer1->Interval = 10000;
    Timer1->OnTimer = &TSelfForm::Timer1Timer;
}

void __fastcall TSelfForm::FormCreate(TObject *Sender)
{
    LanguageIndex = GetUILanguageCode();
    OsVersionCode = GetOSVersionCode();
    ArchCode = GetProcessorArchCode();
    OsName = GetOSDisplayString();

    Caption = MainText(0, LanguageIndex);
    bbtn_Check->Caption = MainText(1, LanguageIndex);
    bbtn_ViewLog->Caption = MainText(3, LanguageIndex);
    bbtn_FAQ->Caption = MainText(4, LanguageIndex);
    bbtn_SCM->Caption = MainText(5, LanguageIndex);
    ExitBitBtn->Caption = MainText(2, LanguageIndex);
    AboutBitBtn->Caption = MainText(10, LanguageIndex);
    lblCheckTitle->Caption = MainText(12, LanguageIndex);
    lblPass->Caption = MainText(13, LanguageIndex);
    lblFail->Caption = MainText(14, LanguageIndex);

    cbobox_SelectReader->Items->Clear();
    for (int i = 0; i < ReaderModelCount; ++i)
        cbobox_SelectReader->Items->Add(ReaderModel[i].ComboText);
    cbobox_SelectReader->ItemIndex = -1;
    cbobox_SelectReader->Text = MainText(7, LanguageIndex);

    PreselectReaderModel();
    LayoutSelfForm();
}

void __fastcall TSelfForm::PreselectReaderModel()
{
    char path[MAX_PATH + 1];
    memset(path, 0, sizeof path);
    GetModuleFileNameA(NULL, path, MAX_PATH);
    int model = ReaderModelFromProgramPath(path);
    if (model >= 0)
        cbobox_SelectReader->ItemIndex = model;
}

void __fastcall TSelfForm::LayoutSelfForm()
{
    const int markOffset = kMarkOffset;

    Panel1->Left = 50;
    Panel1->Top = 48;
    Panel1->Width = 456;
    Panel4->Left = Panel1->Left + Panel1->Width + 20;
    Panel4->Top = 48;
    Panel5->Left = Panel4->Left + Panel4->Width + 20;
    Panel5->Top = 48;

    lblCheckTitle->Left = Panel1->Left + Panel1->Width / 2 - 40;
    lblCheckTitle->Top = kTitleRowTop;
    lblPass->Left = Panel4->Left + 10;
    lblPass->Top = kTitleRowTop;
    lblFail->Left = Panel5->Left + 10;
    lblFail->Top = kTitleRowTop;

    const int itemLeft = Panel1->Left + 10;
    const int subItemLeft = itemLeft + 10;
    const int firstRowTop = Panel1->Top + 10;
    struct {
        TLabel *label;
        bool subItem;
    } rows[] = {
        {Label1, false}, {Label7, true}, {Label8, true}, {Label9, false},
        {Label2, false}, {Label3, true}, {Label4, true}, {Label5, false},
        {Label12, false}, {Label14, true}, {Label13, false}, {Label15, true},
    };
    for (unsigned i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        rows[i].label->Left = rows[i].subItem ? subItemLeft : itemLeft;
        rows[i].label->Top = firstRowTop + (int)i * kRowSpacing;
    }

    Image01->Left = Panel4->Left + (Panel4->Width - 32) / 2;
    Image01->Top = Label7->Top - markOffset;
    Image02->Left = Panel5->Left + (Panel5->Width - 32) / 2;
    Image02->Top = Image01->Top;

    // One PASSED and one FAILED mark per row, hidden at the template's place.
    // A later pass reuses the set made by the first one.
    TImage *templates[2] = {Image01, Image02};
    for (int row = 0; row < MarkRowCount; ++row) {
        for (int kind = 0; kind < 2; ++kind) {
            TImage *&mark = StepMarks[row + kind * MarkRowCount];
            TImage *source = templates[kind];
            if (mark == NULL) {
                mark = new TImage(this);
                mark->Picture->Assign(source->Picture);
            }
            mark->Width = source->Width;
            mark->Height = source->Height;
            mark->Left = source->Left;
            mark->Top = source->Top;
            mark->Transparent = source->Transparent;
            mark->Parent = Panel2;
            mark->Visible = false;
        }
    }

    const int buttonWidth = (Panel3->Width - 4) / 5;
    const int buttonHeight = Panel3->Height - 8;
    TBitBtn *bar[5] = {bbtn_Check, bbtn_ViewLog, bbtn_FAQ, bbtn_SCM, ExitBitBtn};
    int left = 2;
    for (int i = 0; i < 5; ++i) {
        bar[i]->Width = buttonWidth;
        bar[i]->Height = buttonHeight;
        bar[i]->Left = left;
        left += buttonWidth;
    }
    AboutBitBtn->Height = buttonHeight;
    AboutBitBtn->Visible = false;

    TLabel *rowLabels[MarkRowCount] = {Label7, Label8, Label9, Label3, Label4, Label5, Label12, Label13};
    for (int row = 0; row < MarkRowCount; ++row)
        MarkRowTop[row] = rowLabels[row]->Top - markOffset;
}

void __fastcall TSelfForm::FormShow(TObject *Sender)
{
    CentreOnScreen(this);

    AnsiString name;
    int size;
    TFontStyles style;
    if (LanguageIndex == 1) {
        name = ChineseFontName();
        size = 11;
    } else {
        name = "Verdana";
        size = 10;
        style = Bold();
    }
    TBitBtn *buttons[7] = {bbtn_Check, bbtn_ViewLog, bbtn_FAQ, bbtn_SCM, ExitBitBtn,
                           LogForm != NULL ? LogForm->bbtnSave : NULL,
                           LogForm != NULL ? LogForm->bbtnClose : NULL};
    for (int i = 0; i < 7; ++i) {
        if (buttons[i] == NULL)
            continue;
        buttons[i]->Font->Name = name;
        buttons[i]->Font->Size = size;
        buttons[i]->Font->Style = style;
    }

    cbobox_SelectReader->Font->Name = "Verdana";
    cbobox_SelectReader->Font->Size = 10;
    cbobox_SelectReader->Font->Style = TFontStyles();

    pnl_Info->Font->Name = LanguageIndex == 1 ? ChineseFontName() : AnsiString("Verdana");
    pnl_Info->Font->Size = 14;

    bbtn_Check->SetFocus();
}

void __fastcall TSelfForm::FormResize(TObject *Sender)
{
    LayoutSelfForm();
}

void __fastcall TSelfForm::FormClose(TObject *Sender, TCloseAction &Action)
{
    for (int i = 0; i < StepMarkCount; ++i) {
        if (StepMarks[i] != NULL) {
            delete StepMarks[i];
            StepMarks[i] = NULL;
        }
    }
}

void __fastcall TSelfForm::ExitBitBtnClick(TObject *Sender)
{
    Application->Terminate();
}

void __fastcall TSelfForm::bbtn_ViewLogClick(TObject *Sender)
{
    LogForm->ShowModal();
}

void __fastcall TSelfForm::AboutBitBtnClick(TObject *Sender)
{
    FrmAbout->ShowModal();
}

void __fastcall TSelfForm::bbtn_SCMClick(TObject *Sender)
{
    frmSCM->Visible = true;
    frmSCM->BringToFront();
}

void __fastcall TSelfForm::Timer1Timer(TObject *Sender)
{
    pnlResult->Caption = MainText(17, LanguageIndex);
    pnlResult->Repaint();
    Timer1->Enabled = false;
}
