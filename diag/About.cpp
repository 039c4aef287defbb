#include <vcl.h>
#include <windows.h>

#include "About.h"
#include "Main.h"
#include "Public.h"

TFrmAbout *FrmAbout = NULL;

namespace {

TLabel *NewAboutLabel(TComponent *owner, TWinControl *parent, const char *name,
                      const char *fontName, int left, int top, int width, const char *caption)
{
    TLabel *label = new TLabel(owner);
    label->Name = name;
    label->Parent = parent;
    label->AutoSize = false;
    label->Transparent = true;  // on the panel's colour
    label->SetBounds(left, top, width, 16);
    label->Font->Name = fontName;
    label->Font->Height = -13;
    label->Font->Style = TFontStyles() << fsBold;
    label->Font->Color = clAqua;
    label->Caption = caption;
    return label;
}

// The maker's logo: a white card with a chip on the panel's blue.
void DrawLogo(TBitmap *bitmap)
{
    bitmap->SetSize(71, 45);
    TCanvas *canvas = bitmap->Canvas;
    canvas->Brush->Color = clWhite;
    canvas->Pen->Color = clNavy;
    canvas->Rectangle(4, 4, 67, 41);
    canvas->Brush->Color = clYellow;
    canvas->Pen->Color = clOlive;
    canvas->Rectangle(12, 14, 28, 28);
    canvas->Pen->Color = clNavy;
    canvas->MoveTo(34, 16);
    canvas->LineTo(60, 16);
    canvas->MoveTo(34, 24);
    canvas->LineTo(54, 24);
}

}  // namespace

__fastcall TFrmAbout::TFrmAbout(TComponent *Owner)
    : TForm(Owner)
{
    CreateControls();
}

void TFrmAbout::CreateControls()
{
    Name = "FrmAbout";
    Caption = "FrmAbout";
    BorderStyle = bsSingle;
    BorderIcons = TBorderIcons() << biSystemMenu << biMinimize;
    Color = clSilver;
    Scaled = false;
    ClientWidth = 469;
    ClientHeight = 227;
    OnCreate = &TFrmAbout::FormCreate;

    Panel1 = new TPanel(this);
    Panel1->Name = "Panel1";
    Panel1->Parent = this;
    Panel1->SetBounds(4, 4, 461, 221);
    Panel1->BorderStyle = bsSingle;
    Panel1->Color = RgbColour(79, 119, 255);
    Panel1->Caption = "";
    Panel1->Font->Name = AnsiString(L"新細明體");
    Panel1->Font->Height = -16;
    Panel1->Font->Style = TFontStyles() << fsBold;

    Image1 = new TImage(this);
    Image1->Name = "Image1";
    Image1->Parent = Panel1;
    Image1->SetBounds(16, 24, 71, 45);
    DrawLogo(Image1->Picture->Bitmap);

    Label1 = NewAboutLabel(this, Panel1, "Label1", "MS Sans Serif", 92, 44, 341,
                           "VQ480T Smart Card Reader Diagnostics v 1.6");

    Panel2 = new TPanel(this);
    Panel2->Name = "Panel2";
    Panel2->Parent = Panel1;
    Panel2->SetBounds(24, 80, 417, 2);
    Panel2->Caption = "";

    Label2 = NewAboutLabel(this, Panel1, "Label2", "MS Sans Serif", 84, 92, 332,
                           "Tervane Technology Corporation");
    Label3 = NewAboutLabel(this, Panel1, "Label3", "Microsoft Sans Serif", 56, 112, 389,
                           "Tel : 0800-000-000  Mail : help@tervane.example");
    Label5 = NewAboutLabel(this, Panel1, "Label5", "MS Sans Serif", 108, 132, 257,
                           "http://www.tervane.example");

    BitBtn1 = new TBitBtn(this);
    BitBtn1->Name = "BitBtn1";
    BitBtn1->Parent = Panel1;
    BitBtn1->Kind = bkOK;
    BitBtn1->Caption = "&OK";
    BitBtn1->SetBounds(170, 168, 121, 29);
}

void __fastcall TFrmAbout::FormCreate(TObject *Sender)
{
    CentreOnScreen(this);
    Panel1->Height = 221;
    Panel1->Width = 461;
    BitBtn1->Height = 29;
    BitBtn1->Width = 121;
    Caption = MainText(11, SelfForm->LanguageIndex);
}
