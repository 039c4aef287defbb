// The smart card service control window: run state and start type of a
// service, start, stop and enable, the recommended setting, automatic
// refresh, the process list and the coloured information lines.
#ifndef SCM_MainH
#define SCM_MainH

#include <vcl.h>
#include <windows.h>

class TfrmSCM : public TForm
{
__published:
    TLabel *lbl_ServiceDisplayName;
    TComboBox *cbbox_ServiceDisplayName;
    TLabel *lbl_ServiceProcessName;
    TComboBox *cbbox_ServiceProcessName;
    TCheckBox *chkbox_AutoRefresh;
    TEdit *edt_RefreshTime;
    TLabel *lbl_millsec;
    TRadioGroup *rdogp_Status;
    TRadioGroup *rdogp_Type;
    TLabel *lbl_Info;
    TRichEdit *rchedt_Info;
    TProgressBar *pgsbar_SCM;
    TBitBtn *bbtn_Refresh;
    TBitBtn *bbtn_Recommend;
    TBitBtn *bbtn_Apply;
    TBitBtn *bbtn_Cancel;
    TLabel *lbl_ProcessList;
    TListView *lstview_Process;
    TEdit *edt_Debug;
    TEdit *edt_OS;
    TEdit *edt_TotalProcessCnt;
    TEdit *edt_ListViewProcessCnt;
    TTimer *tmrStatus;
    TTimer *tmrAutoProcess;

    void __fastcall FormCreate(TObject *Sender);
    void __fastcall FormShow(TObject *Sender);
    void __fastcall bbtn_CancelClick(TObject *Sender);
    void __fastcall cbbox_ServiceDisplayNameChange(TObject *Sender);
    void __fastcall cbbox_ServiceProcessNameChange(TObject *Sender);
    void __fastcall rchedt_InfoKeyPress(TObject *Sender, char &Key);
    void __fastcall bbtn_RefreshClick(TObject *Sender);
    void __fastcall tmrStatusTimer(TObject *Sender);
    void __fastcall chkbox_AutoRefreshClick(TObject *Sender);
    void __fastcall edt_RefreshTimeChange(TObject *Sender);
    void __fastcall bbtn_ApplyClick(TObject *Sender);
    void __fastcall bbtn_RecommendClick(TObject *Sender);
    void __fastcall tmrAutoProcessTimer(TObject *Sender);

public:
    __fastcall TfrmSCM(TComponent *Owner);

    // Fonts, radio items and captions in a language: "ChineseTraditional"
    // or anything else for English.
    void __fastcall ApplyLanguage(AnsiString language);
    // Appends message `code` (1-17) in its colour to rchedt_Info.
    void __fastcall ShowServiceMessage(unsigned char code);

    // Service operations on one service, by its service name.
    void __fastcall FillServiceLists();
    unsigned char __fastcall StartServiceAndWait(AnsiString serviceName);
    unsigned char __fastcall StopServiceAndWait(AnsiString serviceName);
    int __fastcall StopDependentServices();
    unsigned char __fastcall EnableService(AnsiString serviceName);
    int __fastcall SetStartType(AnsiString serviceName, int startType);
    // 10 running, 11 stopped, 0 another state; 1, 2, 3 the manager, the
    // service or its status could not be had.
    unsigned char __fastcall QueryServiceState(AnsiString serviceName);
    // The value "Start" of the service's key (low byte), 0 on failure.
    unsigned char __fastcall GetStartType(AnsiString serviceName);

    // The process list.
    void __fastcall ListProcessesToolhelp();
    void __fastcall ListProcessesPsapi();
    void __fastcall AddProcessEntry(DWORD processId);
    BOOL __fastcall SetPrivilege(HANDLE token, LPCSTR privilege, BOOL enable);
    void __fastcall ReportLastError(LPCSTR callName);

private:
    void CreateControls();
    void __fastcall SetServiceControlsEnabled(bool enabled);
    void __fastcall RefreshService();
    void __fastcall ListProcessesPsapiOnce();
    bool __fastcall OpenForOperation(AnsiString serviceName, DWORD access, SERVICE_STATUS_PROCESS *status);
    void __fastcall HighlightRow(int index);
};

extern TfrmSCM *frmSCM;

// The unit's state, shared by the window's operations.
namespace Scm_main {

extern int LanguageIndex;
extern int OsVersionCode;
extern int ProcessorArchCode;
extern AnsiString OsDisplayText;
extern bool ServiceFound;
extern bool ScardSvrSeen;
extern bool VqscmonSeen;
extern bool SvcwatchSeen;
extern AnsiString CurrentServiceName;
extern char ServiceStateChar;
extern unsigned char StartTypeCode;
extern char FormatBuffer[1024];

typedef BOOL(WINAPI *QueryServiceStatusExFunc)(SC_HANDLE, SC_STATUS_TYPE, LPBYTE, DWORD, LPDWORD);
extern QueryServiceStatusExFunc QueryServiceStatusExPtr;

extern SC_HANDLE ManagerHandle;
extern SC_HANDLE ServiceHandle;

extern bool RecommendApplied;
extern int RecommendTicks;

// Colours of the information lines (0x00BBGGRR).
const int InfoBlack = 0x000000;
const int InfoRed = 0x0000FF;
const int InfoGreen = 0x008000;
const int InfoBlue = 0xFF0000;

// Whether the marker file "ShowProcessDbg.txt" is in the working directory.
bool DebugMarkerPresent();
// The system's message text for an error code in the user's default
// language, into `text` (`size` bytes, terminated); empty when the system
// has none.
void SystemMessageText(DWORD code, char *text, DWORD size);

// Unit start-up and finish, counted: the first initialisation call starts
// the unit, the matching last finalisation call finishes it. The program
// entry runs them before its first window and after its last.
void Initialization();
void Finalization();

}  // namespace Scm_main

#endif
