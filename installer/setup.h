// The installer's welcome window, its text table, the Windows classification
// every step asks, and the file and registry helpers of the driver flow.
#ifndef setupH
#define setupH

#include <vcl.h>
#include <windows.h>

// One visible text as {English, Traditional Chinese, Korean}.
struct TextTriple {
    const wchar_t *Text[3];
};

enum TextRow {
    SetupCaption,
    SetupTitle,
    NoticeCaption,
    InstalledLine,
    RestartLine,
    PlugInLine,
    InstallFailedText,
    BaseComponentsNotice,
    AcceptCaption,
    RejectCaption,
    YesCaption,
    NoCaption,
    TextRowCount
};

// The Korean slots hold placeholders until FillKoreanTexts runs (every start).
extern TextTriple SetupTexts[TextRowCount];
void FillKoreanTexts();
// Row `row` in the slot of `languageIndex` (0, 1 or 2), as 8-bit text in
// the system's code page; the wide text itself.
AnsiString SetupText(int row, int languageIndex);
const wchar_t *SetupWideText(int row, int languageIndex);

// The installer's Windows classification (GetOsKind).
enum OsKind {
    OsWindows95 = 1,
    OsWindows98 = 2,
    OsWindowsMe = 3,
    OsWindowsNT4 = 4,     // NT 4.0 or an older NT
    OsWindows2000 = 5,
    OsWindowsNT51 = 6,    // NT 5.1 and later 5.x
    OsWindowsNT6 = 7,     // NT 6 or later
    OsUnknown = 9         // any other platform or 9x version, or no version answer
};
int GetOsKind();

// Buffer sizes of the installer's paths and registry values.
const int PathBufferSize = 255;
const int LongPathBufferSize = 260;
const int ValueBufferSize = 99;

class TSetupForm : public TForm
{
__published:
    TImage *Image1;
    TLabel *LblBK;
    TLabel *lblYes;
    TLabel *lblNo;
    TProgressBar *ProgressBar1;
    TTimer *DelayTimer;

    void __fastcall FormCreate(TObject *Sender);
    void __fastcall FormShow(TObject *Sender);
    void __fastcall lblYesClick(TObject *Sender);
    void __fastcall lblNoClick(TObject *Sender);
    void __fastcall lblYesMouseMove(TObject *Sender, TShiftState Shift, int X, int Y);
    void __fastcall lblNoMouseMove(TObject *Sender, TShiftState Shift, int X, int Y);
    void __fastcall Image1MouseMove(TObject *Sender, TShiftState Shift, int X, int Y);
    void __fastcall FormKeyPress(TObject *Sender, char &Key);
    void __fastcall DelayTimerTimer(TObject *Sender);

public:
    int LanguageIndex;  // 0 English, 1 Traditional Chinese

    __fastcall TSetupForm(TComponent *Owner);

private:
    void InstallWindows9x();
    void InstallWindowsNT4();
};

extern TSetupForm *SetupForm;

// The copy-error text for a file name in a language's slot; valid until
// the next call.
const char *FormatCopyError(const char *fileName, int languageIndex);
// Removes the reader's Windows 98/ME enumeration entry when one of its
// instances has the class "UnKnown".
void RemoveStaleUsbEnum();
// Removes the enumeration entry of the older serial reader.
void RemoveSerialEnum();
// Flat copy of a folder's files; 0 when the folder cannot be listed.
int CopyFolderFiles(const char *source, const char *destination);
// "ProgramFilesDir" into `buffer` (at least ValueBufferSize + 1 bytes);
// 1 when read, else 0.
int ReadProgramFilesDir(char *buffer);
// Deletes the "SCardSvr" autostart values of Run and RunServices.
void RemoveScardSvrAutostart();
// Deletes an old RunServices value "Vqscmon" and sets the Run value
// "Vqscmon" to the system folder's "\Vqscmon.exe".
void SetVqscmonAutostart();
// Sets the Run value `name` to the system folder + "\" + `fileName`.
void SetRunValue(const char *name, const char *fileName);

// HKEY_LOCAL_MACHINE's autostart keys.
extern const char RunKey[];
extern const char RunServicesKey[];
// A value read into `buffer` (ValueBufferSize bytes and one more for the
// terminating zero, which a stored string may lack); false when unreadable.
bool ReadRegistryValue(HKEY key, const char *name, char *buffer);
// Under HKEY_LOCAL_MACHINE: deletes the value when the key opens and the
// value can be read.
void DeleteValueWhenPresent(const char *keyPath, const char *name);
// REG_SZ with its terminating zero counted; REG_DWORD.
void SetStringValue(HKEY key, const char *name, const char *value);
void SetDwordValue(HKEY key, const char *name, DWORD value);

// The destination's attributes reset (an earlier read-only copy can be
// overwritten), then the copy; false with the last error on failure.
bool CopyNormal(const char *source, const char *destination);

// Joins up to three parts into `buffer`; false (and an empty buffer) when
// they do not fit.
bool JoinPath(char *buffer, size_t size, const char *first, const char *second = "", const char *third = "");

#endif
