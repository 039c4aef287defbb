// The log window: the report of the last diagnostic run, saved on request as
// a ".log" file.
#ifndef LogH
#define LogH

#include <vcl.h>

class TLogForm : public TForm
{
__published:
    TPanel *Panel1;
    TMemo *DiagnosticMemo;
    TPanel *Panel2;
    TBitBtn *bbtnSave;
    TBitBtn *bbtnClose;
    TSaveDialog *LogSaveDialog;

    void __fastcall FormCreate(TObject *Sender);
    void __fastcall FormShow(TObject *Sender);
    void __fastcall FormResize(TObject *Sender);
    void __fastcall bbtnSaveClick(TObject *Sender);
    void __fastcall LogSaveDialogCanClose(TObject *Sender, bool &CanClose);
    void __fastcall bbtnCloseClick(TObject *Sender);

public:
    __fastcall TLogForm(TComponent *Owner);

    void __fastcall LogFormResize();

private:
    void CreateControls();
};

extern TLogForm *LogForm;

// Writes the lines to the file, each followed by CR LF, replacing the file
// only once the whole text is written. Raises the framework's file error
// when the file can't be created or written; an existing file is then left
// as it was.
void SaveLinesToFile(TStrings *lines, const AnsiString &fileName);

#endif
