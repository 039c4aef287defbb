#include <vcl.h>

#include "Main.h"

// The diagnostic run of "&Diagnostic" lives here.
void __fastcall TSelfForm::bbtn_CheckClick(TObject *Sender)
{
}
