#include <vcl.h>
#include <windows.h>

#include "Log.h"
#include "Main.h"
#include "Public.h"

TLogForm *LogForm = NULL;

__fastcall TLogForm::TLogForm(TComponent *Owner)
    : TForm(Owner)
{
    CreateControls();
}

void TLogForm::CreateControls()
{
    Name = "LogForm";
    Caption = "LogForm";
    BorderStyle = bsSizeable;
    Width = 729;
    Height = 568;
    Font->Name = "MS Sans Serif";
    Font->Height = -11;
    OnCreate = &TLogForm::FormCreate;
    OnShow = &TLogForm::FormShow;
    OnResize = &TLogForm::FormResize;

    Panel2 = new TPanel(this);
    Panel2->Name = "Panel2";
    Panel2->Parent = this;
    Panel2->Align = alBottom;
    Panel2->Height = 53;
    Panel2->BevelOuter = bvNone;
    Panel2->Caption = "";

    Panel1 = new TPanel(this);
    Panel1->Name = "Panel1";
    Panel1->Parent = this;
    Panel1->Align = alClient;
    Panel1->BevelOuter = bvNone;
    Panel1->Caption = "";

    DiagnosticMemo = new TMemo(this);
    DiagnosticMemo->Name = "DiagnosticMemo";
    DiagnosticMemo->Parent = Panel1;
    DiagnosticMemo->Left = 2;
    DiagnosticMemo->Top = 2;
    DiagnosticMemo->ReadOnly = true;
    DiagnosticMemo->ScrollBars = ssBoth;
    DiagnosticMemo->Font->Name = "Courier New";
    DiagnosticMemo->Font->Height = -15;
    DiagnosticMemo->Font->Style = TFontStyles() << fsItalic;
    DiagnosticMemo->Lines->Clear();
    DiagnosticMemo->Lines->Add("");

    bbtnSave = new TBitBtn(this);
    bbtnSave->Name = "bbtnSave";
    bbtnSave->Parent = Panel2;
    bbtnSave->Top = 2;
    bbtnSave->Cursor = crHandPoint;
    bbtnSave->OnClick = &TLogForm::bbtnSaveClick;

    bbtnClose = new TBitBtn(this);
    bbtnClose->Name = "bbtnClose";
    bbtnClose->Parent = Panel2;
    bbtnClose->Top = 2;
    bbtnClose->Cursor = crHandPoint;
    bbtnClose->OnClick = &TLogForm::bbtnCloseClick;

    LogSaveDialog = new TSaveDialog(this);
    LogSaveDialog->Name = "LogSaveDialog";
    LogSaveDialog->FileName = "Diagnostics Log.log";
    LogSaveDialog->Filter = "Log File|*.log";
    LogSaveDialog->DefaultExt = "";
    LogSaveDialog->OnCanClose = &TLogForm::LogSaveDialogCanClose;
}

void __fastcall TLogForm::FormCreate(TObject *Sender)
{
    const int language = SelfForm->LanguageIndex;
    Caption = MainText(9, language);
    bbtnSave->Caption = MainText(8, language);
    bbtnClose->Caption = MainText(6, language);
    LogFormResize();
}

void __fastcall TLogForm::FormShow(TObject *Sender)
{
    CentreOnScreen(this);
}

void __fastcall TLogForm::FormResize(TObject *Sender)
{
    LogFormResize();
}

void __fastcall TLogForm::LogFormResize()
{
    bbtnSave->Width = (Panel2->Width - 4) / 2;
    bbtnClose->Width = (Panel2->Width - 4) / 2;
    bbtnSave->Height = Panel2->Height - 8;
    bbtnClose->Height = Panel2->Height - 8;
    bbtnSave->Left = 2;
    bbtnClose->Left = bbtnSave->Left + bbtnSave->Width;
    DiagnosticMemo->Width = Panel1->Width - 4;
    DiagnosticMemo->Height = Panel1->Height - 4;
}

void __fastcall TLogForm::bbtnSaveClick(TObject *Sender)
{
    bbtnSave->Enabled = false;
    try {
        LogSaveDialog->Execute();
    } catch (...) {
        bbtnSave->Enabled = true;
        throw;
    }
    bbtnSave->Enabled = true;
}

void __fastcall TLogForm::LogSaveDialogCanClose(TObject *Sender, bool &CanClose)
{
    SaveLinesToFile(DiagnosticMemo->Lines, LogSaveDialog->FileName);
}

void __fastcall TLogForm::bbtnCloseClick(TObject *Sender)
{
    ModalResult = mrOk;
}
