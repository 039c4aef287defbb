// The smart card service control window.
#ifndef SCM_MainH
#define SCM_MainH

#include <vcl.h>

class TfrmSCM : public TForm
{
__published:
    TRichEdit *rchedt_Info;

public:
    __fastcall TfrmSCM(TComponent *Owner);

    // Called by the end of a diagnostic run (SCM_Pending.cpp until this
    // window's service operations are built).
    unsigned char __fastcall GetStartType(AnsiString serviceName);
    void __fastcall bbtn_RecommendClick(TObject *Sender);

private:
    void CreateControls();
};

extern TfrmSCM *frmSCM;

#endif
