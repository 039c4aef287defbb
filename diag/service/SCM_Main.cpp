#include <vcl.h>
#include <windows.h>

#include "SCM_Main.h"

TfrmSCM *frmSCM = NULL;

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

    rchedt_Info = new TRichEdit(this);
    rchedt_Info->Name = "rchedt_Info";
    rchedt_Info->Parent = this;
    rchedt_Info->SetBounds(8, 192, 481, 185);
    rchedt_Info->TabOrder = 4;
    rchedt_Info->ReadOnly = true;
    rchedt_Info->ScrollBars = ssBoth;
    rchedt_Info->Font->Name = "Arial";
    rchedt_Info->Font->Height = -15;
    rchedt_Info->Font->Charset = CHINESEBIG5_CHARSET;
    rchedt_Info->Lines->Clear();
}
