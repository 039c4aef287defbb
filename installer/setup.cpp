// The welcome window: language, captions, Yes and No, hover colours, keys,
// and the Windows classification.
#include <vcl.h>
#include <windows.h>

#include <string.h>

#include "license.h"
#include "setup.h"

TSetupForm *SetupForm = NULL;

namespace {

const TColor LabelColor = (TColor)0x18A652;

// The medium's background picture: the window's colour with a lighter band
// under the title and a frame.
void DrawBackground(TBitmap *bitmap)
{
    bitmap->SetSize(530, 190);
    TCanvas *canvas = bitmap->Canvas;
    canvas->Brush->Color = (TColor)12770000;
    canvas->FillRect(Rect(0, 0, 530, 190));
    canvas->Brush->Color = (TColor)0xE4EEEA;
    canvas->FillRect(Rect(30, 36, 500, 120));
    canvas->Pen->Color = (TColor)0x8AA898;
    canvas->Rectangle(30, 36, 500, 120);
}

void PlainLabel(TLabel *label)
{
    label->Font->Color = LabelColor;
    label->Font->Style = TFontStyles();
}

void HighlightLabel(TLabel *label)
{
    label->Font->Color = clBlue;
    label->Font->Style = TFontStyles() << fsBold << fsUnderline;
}

}  // namespace

__fastcall TSetupForm::TSetupForm(TComponent *Owner) : TForm(Owner), LanguageIndex(0)
{
    Name = "SetupForm";
    BorderStyle = bsSingle;
    BorderIcons = TBorderIcons() << biSystemMenu << biMinimize;
    ClientWidth = 525;
    ClientHeight = 186;
    Color = (TColor)12770000;
    Font->Name = "System";
    Font->Style = TFontStyles() << fsBold;
    Scaled = false;
    KeyPreview = true;

    Image1 = new TImage(this);
    Image1->Name = "Image1";
    Image1->Parent = this;
    Image1->SetBounds(0, 0, 530, 190);
    DrawBackground(Image1->Picture->Bitmap);
    Image1->AutoSize = true;
    Image1->OnMouseMove = &TSetupForm::Image1MouseMove;

    LblBK = new TLabel(this);
    LblBK->Name = "LblBK";
    LblBK->Parent = this;
    LblBK->AutoSize = false;
    LblBK->SetBounds(48, 48, 425, 24);
    LblBK->Alignment = taCenter;
    LblBK->Transparent = true;
    LblBK->Font->Name = "Microsoft Sans Serif";
    LblBK->Font->Height = -19;
    LblBK->Font->Style = TFontStyles() << fsBold;

    lblYes = new TLabel(this);
    lblYes->Name = "lblYes";
    lblNo = new TLabel(this);
    lblNo->Name = "lblNo";
    TLabel *buttons[2] = {lblYes, lblNo};
    const int lefts[2] = {292, 396};
    for (int i = 0; i < 2; ++i) {
        buttons[i]->Parent = this;
        buttons[i]->AutoSize = false;
        buttons[i]->SetBounds(lefts[i], 134, 73, 25);
        buttons[i]->Alignment = taCenter;
        buttons[i]->Transparent = true;
        buttons[i]->Cursor = crHandPoint;
        buttons[i]->Font->Name = "MS Sans Serif";
        buttons[i]->Font->Height = -16;
        buttons[i]->Font->Style = TFontStyles();
    }
    lblYes->OnClick = &TSetupForm::lblYesClick;
    lblYes->OnMouseMove = &TSetupForm::lblYesMouseMove;
    lblNo->OnClick = &TSetupForm::lblNoClick;
    lblNo->OnMouseMove = &TSetupForm::lblNoMouseMove;

    ProgressBar1 = new TProgressBar(this);
    ProgressBar1->Name = "ProgressBar1";
    ProgressBar1->Parent = this;
    ProgressBar1->SetBounds(50, 105, 426, 8);
    ProgressBar1->Min = 0;
    ProgressBar1->Max = 4;
    ProgressBar1->Step = 1;

    DelayTimer = new TTimer(this);
    DelayTimer->Name = "DelayTimer";
    DelayTimer->Enabled = false;
    DelayTimer->Interval = 1000;
    DelayTimer->OnTimer = &TSetupForm::DelayTimerTimer;

    OnCreate = &TSetupForm::FormCreate;
    OnShow = &TSetupForm::FormShow;
    OnKeyPress = &TSetupForm::FormKeyPress;
}

int GetOsKind()
{
    OSVERSIONINFOEXA info;
    memset(&info, 0, 156);
    info.dwOSVersionInfoSize = 156;
    if (!GetVersionExA((LPOSVERSIONINFOA)&info)) {
        info.dwOSVersionInfoSize = 148;
        if (!GetVersionExA((LPOSVERSIONINFOA)&info))
            return OsUnknown;
    }
    if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        if (info.dwMajorVersion == 4 && info.dwMinorVersion == 0)
            return OsWindows95;
        if (info.dwMajorVersion == 4 && info.dwMinorVersion == 10)
            return OsWindows98;
        if (info.dwMajorVersion == 4 && info.dwMinorVersion == 90)
            return OsWindowsMe;
        return OsUnknown;
    }
    if (info.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        if (info.dwMajorVersion <= 4)
            return OsWindowsNT4;
        if (info.dwMajorVersion == 5)
            return info.dwMinorVersion == 0 ? OsWindows2000 : OsWindowsNT51;
        return OsWindowsNT6;
    }
    return OsUnknown;
}

void __fastcall TSetupForm::FormCreate(TObject *Sender)
{
    // A Korean system gets English here; only the notice dialog speaks Korean.
    LanguageIndex = GetSystemDefaultLangID() == 0x0404 ? 1 : 0;
    FillKoreanTexts();
    Caption = SetupText(SetupCaption, LanguageIndex);
    LblBK->Caption = SetupText(SetupTitle, LanguageIndex);
    lblYes->Caption = SetupText(YesCaption, LanguageIndex);
    lblNo->Caption = SetupText(NoCaption, LanguageIndex);
    if (LanguageIndex == 0 && GetOsKind() == OsWindows95)
        lblYes->Visible = false;
}

void __fastcall TSetupForm::FormShow(TObject *Sender)
{
    Left = (Screen->Width - Width) / 2;
    Top = (Screen->Height - Height) / 2;
    LblBK->Font->Color = clGreen;
    lblYes->Font->Color = LabelColor;
    lblNo->Font->Color = LabelColor;
}

void __fastcall TSetupForm::lblYesMouseMove(TObject *Sender, TShiftState Shift, int X, int Y)
{
    HighlightLabel(lblYes);
    lblNo->Font->Color = LabelColor;
}

void __fastcall TSetupForm::lblNoMouseMove(TObject *Sender, TShiftState Shift, int X, int Y)
{
    HighlightLabel(lblNo);
    lblYes->Font->Color = LabelColor;
}

void __fastcall TSetupForm::Image1MouseMove(TObject *Sender, TShiftState Shift, int X, int Y)
{
    Screen->Cursor = crDefault;
    PlainLabel(lblYes);
    PlainLabel(lblNo);
}

void __fastcall TSetupForm::lblNoClick(TObject *Sender)
{
    lblNo->Left = lblNo->Left + 1;
    lblNo->Top = lblNo->Top + 1;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 200)
        Application->ProcessMessages();
    lblNo->Left = lblNo->Left - 1;
    lblNo->Top = lblNo->Top - 1;
    Application->Terminate();
}

void __fastcall TSetupForm::FormKeyPress(TObject *Sender, char &Key)
{
    if (Key == 'Y' || Key == 'y')
        lblYesClick(this);
    else if (Key == 'N' || Key == 'n')
        lblNoClick(this);
}

void __fastcall TSetupForm::DelayTimerTimer(TObject *Sender)
{
    DelayTimer->Enabled = false;
    LicenseForm->Memo3->Text = SetupText(BaseComponentsNotice, LanguageIndex);
    LicenseForm->YesBtn->Caption = SetupText(AcceptCaption, LanguageIndex);
    LicenseForm->NoBtn->Caption = SetupText(RejectCaption, LanguageIndex);
    LicenseForm->ShowModal();
}
