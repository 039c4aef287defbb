// The notice dialog shown on Windows NT 4.0 once the base components have
// registered: the drivers are installed, restart, plug the reader in.
#ifndef DialogH
#define DialogH

#include <vcl.h>
#include <windows.h>

class TDialogForm : public TForm
{
__published:
    TPanel *Panel1;
    TImage *Image1;
    TLabel *Label1;
    TLabel *Label2;
    TLabel *Label3;
    TButton *Button1;

    void __fastcall FormCreate(TObject *Sender);
    void __fastcall FormShow(TObject *Sender);
    void __fastcall Button1Click(TObject *Sender);

public:
    __fastcall TDialogForm(TComponent *Owner);
};

extern TDialogForm *DialogForm;

#endif
