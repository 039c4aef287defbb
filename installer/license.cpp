// The agreement page, the start of the base components' INF installer and
// the wait for the package's registry marker, then the restart prompt.
#include <vcl.h>
#include <windows.h>
#include <setupapi.h>

#include <string.h>

#include "Dialog.h"
#include "license.h"
#include "setup.h"

TLicenseForm *LicenseForm = NULL;

namespace {

const char ScardSvrKey[] = "SYSTEM\\CurrentControlSet\\Services\\SCardSvr";

TMemo *NewMemo(TLicenseForm *form, const char *name, int left, int top, int width, int height)
{
    TMemo *memo = new TMemo(form);
    memo->Name = name;
    memo->Parent = form;
    memo->SetBounds(left, top, width, height);
    memo->ReadOnly = true;
    return memo;
}

// One of the two 85 x 35 buttons under the agreement.
TButton *NewButton(TLicenseForm *form, const char *name, int left)
{
    TButton *button = new TButton(form);
    button->Name = name;
    button->Parent = form;
    button->SetBounds(left, 366, 85, 35);
    return button;
}

// The package's licence agreement, as the medium carries it beside the package.
void LoadAgreement(TMemo *memo)
{
    try {
        memo->Lines->LoadFromFile(".\\smclib\\license.txt");
    } catch (Exception &) {
        memo->Lines->Clear();
    }
}

}  // namespace

__fastcall TLicenseForm::TLicenseForm(TComponent *Owner) : TForm(Owner)
{
    Name = "LicenseForm";
    BorderStyle = bsSingle;
    BorderIcons = TBorderIcons();
    ClientWidth = 465;
    ClientHeight = 412;
    Caption = "Microsoft Smart Card Base Components";
    Font->Name = "MS Sans Serif";
    Font->Height = -11;
    KeyPreview = true;

    Memo3 = NewMemo(this, "Memo3", 10, 8, 451, 65);
    Memo3->BorderStyle = bsNone;
    Memo3->Color = clBtnFace;
    Memo3->Font->Color = clRed;

    Memo1 = NewMemo(this, "Memo1", 10, 72, 455, 41);
    Memo1->BorderStyle = bsNone;
    Memo1->Color = clBtnFace;
    Memo1->Lines->Add("Please read the following license agreement. Press the PAGE DOWN key ");
    Memo1->Lines->Add("to see the rest of the agreement.");

    LicenseMemo = NewMemo(this, "LicenseMemo", 10, 114, 455, 193);
    LicenseMemo->ScrollBars = ssVertical;
    LicenseMemo->TabStop = false;
    LoadAgreement(LicenseMemo);

    Memo2 = NewMemo(this, "Memo2", 8, 312, 457, 49);
    Memo2->BorderStyle = bsNone;
    Memo2->Color = clBtnFace;
    Memo2->Lines->Add("Do you accept all of the terms of the preceding License Agreement? If you");
    Memo2->Lines->Add("choose No, Install will close. To install you must accept this agreement.");

    YesBtn = NewButton(this, "YesBtn", 132);
    YesBtn->OnClick = &TLicenseForm::YesBtnClick;
    NoBtn = NewButton(this, "NoBtn", 251);
    NoBtn->OnClick = &TLicenseForm::NoBtnClick;

    CheckTimer = new TTimer(this);
    CheckTimer->Name = "CheckTimer";
    CheckTimer->Enabled = false;
    CheckTimer->Interval = 500;
    CheckTimer->OnTimer = &TLicenseForm::CheckTimerTimer;

    Label1 = new TLabel(this);
    Label1->Name = "Label1";
    Label1->Parent = this;
    Label1->Left = 10;
    Label1->Top = 72;
    Label1->Caption = "";

    OnShow = &TLicenseForm::FormShow;
    OnKeyPress = &TLicenseForm::FormKeyPress;
    OnDestroy = &TLicenseForm::FormDestroy;
}

void __fastcall TLicenseForm::FormShow(TObject *Sender)
{
    Left = (Screen->Width - Width) / 2;
    Top = (Screen->Height - Height) / 2;
}

void __fastcall TLicenseForm::YesBtnClick(TObject *Sender)
{
    const int kind = GetOsKind();
    if (kind <= OsWindowsMe) {
        RemoveScardSvrAutostart();
        SetVqscmonAutostart();
    } else if (kind == OsWindowsNT4) {
        DeleteValueWhenPresent(ScardSvrKey, "ObjectName");
    }
    CheckTimer->Enabled = true;

    // The Windows folder first, then the installer's command line; the room
    // is enough for the longest Windows folder twice and the fixed text.
    char windowsDir[PathBufferSize] = {0};
    GetWindowsDirectoryA(windowsDir, PathBufferSize);
    char command[2 * LongPathBufferSize + 128];
    if (kind <= OsWindows98) {
        JoinPath(command, sizeof command, windowsDir,
                 "\\rundll.exe setupx.dll,InstallHinfSection DefaultInstall 132 .\\smclib\\scbase.inf");
    } else if (kind == OsWindowsMe) {
        char longWindowsDir[LongPathBufferSize] = {0};
        char scbase[LongPathBufferSize] = {0};
        GetWindowsDirectoryA(longWindowsDir, LongPathBufferSize);
        // A folder that does not fit its buffer gets no copy (an empty path
        // would put the package into the current drive's root) and fails.
        const bool formed = JoinPath(scbase, sizeof scbase, longWindowsDir, "\\scbase");
        if (formed) {
            CreateDir(scbase);
            CopyFolderFiles(".\\smclib", scbase);
        }
        char inf[LongPathBufferSize + 16];
        JoinPath(inf, sizeof inf, scbase, "\\scbase.inf");
        if (formed && FileExists(inf)) {
            JoinPath(command, sizeof command, windowsDir,
                     "\\rundll.exe setupx.dll,InstallHinfSection DefaultInstall 132 ", inf);
        } else {
            AnsiString text;
            text.sprintf("Fail tp Copy File to %s", (AnsiString(longWindowsDir) + "\\scbase").c_str());
            MessageBoxA(Handle, text.c_str(), "Error", MB_OK);
            Application->Terminate();
            return;
        }
    } else {
        JoinPath(command, sizeof command, windowsDir,
                 "\\system32\\rundll32.exe setupapi,InstallHinfSection DefaultInstall 132 .\\smclib\\scbase.inf");
    }
    WinExec(command, SW_SHOW);
    ModalResult = mrOk;
    SetupForm->lblYes->Enabled = false;
}

void __fastcall TLicenseForm::NoBtnClick(TObject *Sender)
{
    Hide();
    const int language = SetupForm->LanguageIndex;
    MessageBoxW(SetupForm->Handle, SetupWideText(InstallFailedText, language), SetupWideText(NoticeCaption, language),
                MB_ICONWARNING);
    Application->Terminate();
}

void __fastcall TLicenseForm::FormKeyPress(TObject *Sender, char &Key)
{
    if (Key == 'A' || Key == 'a')
        YesBtnClick(this);
    else if (Key == 'R' || Key == 'r')
        NoBtnClick(this);
}

void __fastcall TLicenseForm::FormDestroy(TObject *Sender)
{
    Application->Terminate();
}

// The marker is there: the wait ends, (on NT 4.0 the notice dialog) the
// restart prompt, the end of the program.
void TLicenseForm::PackageRegistered(HKEY key, bool notice)
{
    CheckTimer->Enabled = false;
    RegCloseKey(key);
    if (notice)
        DialogForm->ShowModal();
    SetupPromptReboot(NULL, SetupForm->Handle, FALSE);
    Application->Terminate();
}

void __fastcall TLicenseForm::CheckTimerTimer(TObject *Sender)
{
    const int kind = GetOsKind();
    HKEY key = NULL;
    char value[ValueBufferSize + 1];
    if (kind <= OsWindowsMe) {
        if (RegOpenKeyA(HKEY_LOCAL_MACHINE, RunServicesKey, &key) != ERROR_SUCCESS)
            return;
        if (ReadRegistryValue(key, "SCardSvr", value)) {
            char systemDir[PathBufferSize] = {0};
            char expected[PathBufferSize];
            GetSystemDirectoryA(systemDir, PathBufferSize);
            if (JoinPath(expected, sizeof expected, systemDir, "\\SCardSvr.exe")) {
                CharUpperA(value);
                CharUpperA(expected);
                if (strcmp(value, expected) == 0) {
                    PackageRegistered(key, false);
                    return;
                }
            }
        }
        RegCloseKey(key);
    } else if (kind == OsWindowsNT4) {
        if (RegOpenKeyA(HKEY_LOCAL_MACHINE, ScardSvrKey, &key) != ERROR_SUCCESS)
            return;
        if (ReadRegistryValue(key, "ObjectName", value)) {
            PackageRegistered(key, true);
            return;
        }
        RegCloseKey(key);
    }
}
