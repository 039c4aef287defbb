// The about box: the program's title and how to reach the maker.
#ifndef AboutH
#define AboutH

#include <vcl.h>

class TFrmAbout : public TForm
{
__published:
    TPanel *Panel1;
    TImage *Image1;
    TLabel *Label1;
    TPanel *Panel2;
    TLabel *Label2;
    TLabel *Label3;
    TLabel *Label5;
    TBitBtn *BitBtn1;

    void __fastcall FormCreate(TObject *Sender);

public:
    __fastcall TFrmAbout(TComponent *Owner);

private:
    void CreateControls();
};

extern TFrmAbout *FrmAbout;

#endif
