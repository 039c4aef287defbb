// The notice dialog, in English, Traditional Chinese or Korean by the
// system's language.
#include <vcl.h>
#include <windows.h>

#include "Dialog.h"
#include "setup.h"

TDialogForm *DialogForm = NULL;

namespace {

// The notice icon: a yellow triangle with an exclamation mark.
void DrawNoticeIcon(TBitmap *bitmap)
{
    bitmap->SetSize(41, 33);
    bitmap->Transparent = true;
    TCanvas *canvas = bitmap->Canvas;
    canvas->Pen->Color = (TColor)0x00C0FF;
    canvas->Pen->Width = 2;
    canvas->MoveTo(20, 2);
    canvas->LineTo(38, 30);
    canvas->LineTo(2, 30);
    canvas->LineTo(20, 2);
    canvas->Pen->Color = clBlack;
    canvas->Pen->Width = 3;
    canvas->MoveTo(20, 10);
    canvas->LineTo(20, 21);
    canvas->MoveTo(20, 25);
    canvas->LineTo(20, 27);
}

}  // namespace

__fastcall TDialogForm::TDialogForm(TComponent *Owner) : TForm(Owner)
{
    Name = "DialogForm";
    BorderStyle = bsSizeable;
    BorderIcons = TBorderIcons() << biSystemMenu << biMinimize;
    Width = 658;
    Height = 201;

    Panel1 = new TPanel(this);
    Panel1->Name = "Panel1";
    Panel1->Parent = this;
    Panel1->Align = alClient;
    Panel1->BevelOuter = bvNone;

    Image1 = new TImage(this);
    Image1->Name = "Image1";
    Image1->Parent = Panel1;
    Image1->SetBounds(16, 32, 41, 33);
    Image1->Transparent = true;
    DrawNoticeIcon(Image1->Picture->Bitmap);

    TLabel **labels[3] = {&Label1, &Label2, &Label3};
    const char *names[3] = {"Label1", "Label2", "Label3"};
    for (int i = 0; i < 3; ++i) {
        TLabel *label = new TLabel(this);
        label->Name = names[i];
        label->Parent = Panel1;
        label->Left = 72;
        label->Top = 16 + 32 * i;
        label->Font->Name = AnsiString(L"新細明體");
        label->Font->Height = -16;
        *labels[i] = label;
    }

    Button1 = new TButton(this);
    Button1->Name = "Button1";
    Button1->Parent = Panel1;
    Button1->SetBounds(187, 0, 262, 41);
    Button1->Caption = "OK";
    Button1->OnClick = &TDialogForm::Button1Click;

    OnCreate = &TDialogForm::FormCreate;
    OnShow = &TDialogForm::FormShow;
}

void __fastcall TDialogForm::FormCreate(TObject *Sender)
{
    Button1->Top = Panel1->Height - Button1->Height - 4;
}

void __fastcall TDialogForm::FormShow(TObject *Sender)
{
    int language = 0;
    const LANGID system = GetSystemDefaultLangID();
    if (system == 0x0404)
        language = 1;
    else if (system == 0x0412 || system == 0x0812)
        language = 2;
    if (language == 2) {
        Width = Width + 140;
        Button1->Left = (Width - Button1->Width) / 2;
    }
    Left = (Screen->Width - Width) / 2;
    Top = (Screen->Height - Height) / 2;
    Label1->Caption = SetupText(InstalledLine, language);
    Label2->Caption = SetupText(RestartLine, language);
    Label3->Caption = SetupText(PlugInLine, language);
    Caption = SetupText(NoticeCaption, language);
}

void __fastcall TDialogForm::Button1Click(TObject *Sender)
{
    ModalResult = mrOk;
}
