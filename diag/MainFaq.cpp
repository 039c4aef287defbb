#include <vcl.h>

#include "Main.h"

// The FAQ launcher of "&FAQ" lives here.
void __fastcall TSelfForm::bbtn_FAQClick(TObject *Sender)
{
}
