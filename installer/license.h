// The agreement page of the smart-card base components: Accept starts the
// package's INF installer and waits for its registry marker; Reject ends.
#ifndef licenseH
#define licenseH

#include <vcl.h>
#include <windows.h>

class TLicenseForm : public TForm
{
__published:
    TMemo *Memo3;
    TMemo *Memo1;
    TMemo *LicenseMemo;
    TMemo *Memo2;
    TButton *YesBtn;
    TButton *NoBtn;
    TTimer *CheckTimer;
    TLabel *Label1;

    void __fastcall FormShow(TObject *Sender);
    void __fastcall YesBtnClick(TObject *Sender);
    void __fastcall NoBtnClick(TObject *Sender);
    void __fastcall CheckTimerTimer(TObject *Sender);
    void __fastcall FormKeyPress(TObject *Sender, char &Key);
    void __fastcall FormDestroy(TObject *Sender);

public:
    __fastcall TLicenseForm(TComponent *Owner);

private:
    void PackageRegistered(HKEY key, bool notice);
};

extern TLicenseForm *LicenseForm;

#endif
