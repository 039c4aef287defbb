// The diagnostic window: reader model list, the five-step check with its
// PASSED/FAILED marks, the verdict panel and the buttons that open the log
// window, the FAQ, the service control window and the about box.
#ifndef MainH
#define MainH

#include <vcl.h>
#include <windows.h>
#include <winscard.h>

const int MainTextCount = 18;
const int StepMarkCount = 16;     // 0-7 PASSED marks of rows 0-7, 8-15 FAILED marks
const int MarkRowCount = 8;
const int MaxListedReaders = 10;

// Every visible text of the window as {English, Traditional Chinese}.
struct TextPair {
    const wchar_t *Text[2];
};
extern const TextPair MainTexts[MainTextCount];

// Text `index` of the table for a language index, in the system's 8-bit code
// page. Any language index but 1 reads the English entry.
AnsiString MainText(int index, int languageIndex);

// Top edge of the mark of each mark row, written by each layout pass.
extern int MarkRowTop[MarkRowCount];

class TSelfForm : public TForm
{
__published:
    TPanel *Panel3;
    TBitBtn *bbtn_Check;
    TBitBtn *bbtn_ViewLog;
    TBitBtn *bbtn_FAQ;
    TBitBtn *bbtn_SCM;
    TBitBtn *ExitBitBtn;
    TBitBtn *AboutBitBtn;
    TPanel *Panel2;
    TImage *Image1;
    TPanel *Panel1;
    TPanel *Panel4;
    TPanel *Panel5;
    TLabel *lblCheckTitle;
    TLabel *lblPass;
    TLabel *lblFail;
    TLabel *Label1;
    TLabel *Label9;
    TLabel *Label2;
    TLabel *Label5;
    TLabel *Label12;
    TLabel *Label13;
    TLabel *Label7;
    TLabel *Label8;
    TLabel *Label3;
    TLabel *Label4;
    TLabel *Label14;
    TLabel *Label15;
    TImage *Image01;
    TImage *Image02;
    TComboBox *cbobox_SelectReader;
    TPanel *pnlResult;
    TPanel *pnl_Info;
    TTimer *Timer1;

    void __fastcall FormCreate(TObject *Sender);
    void __fastcall FormShow(TObject *Sender);
    void __fastcall FormResize(TObject *Sender);
    void __fastcall FormClose(TObject *Sender, TCloseAction &Action);
    void __fastcall bbtn_CheckClick(TObject *Sender);
    void __fastcall ExitBitBtnClick(TObject *Sender);
    void __fastcall bbtn_ViewLogClick(TObject *Sender);
    void __fastcall AboutBitBtnClick(TObject *Sender);
    void __fastcall bbtn_SCMClick(TObject *Sender);
    void __fastcall bbtn_FAQClick(TObject *Sender);
    void __fastcall Timer1Timer(TObject *Sender);

public:
    // PC/SC working set of the run's steps 4 and 5 (kept from run to run).
    SCARDCONTEXT ScardContext;
    DWORD ReaderListLength;
    int ReaderCount;
    char *ReaderList;             // multi-string, allocated with new[]; freed by the destructor
    SCARD_READERSTATEA ReaderStates[MaxListedReaders];
    SCARDHANDLE CardHandles[MaxListedReaders];
    DWORD ActiveProtocols[MaxListedReaders];
    int SelectedReader;
    int LanguageIndex;
    int OsVersionCode;
    unsigned int ArchCode;
    AnsiString OsName;
    SYSTEMTIME RunTime;           // local time of the run
    TImage *StepMarks[StepMarkCount];
    int ServiceRunning;
    int NoServicePermission;

    __fastcall TSelfForm(TComponent *Owner);
    __fastcall ~TSelfForm();

    void __fastcall LayoutSelfForm();
    void __fastcall PreselectReaderModel();

    // The diagnostic run's own routines (MainRun*.cpp).
    void __fastcall ShowStepMark(int pass, int row);
    void __fastcall HideStepMarks();
    bool __fastcall CheckDriverFiles(AnsiString name, int kind);
    int __fastcall EnumerateReaders();

private:
    void CreateControls();
};

extern TSelfForm *SelfForm;

#endif
