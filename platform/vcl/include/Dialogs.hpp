// Common dialogs and ShowMessage. What they show is recorded and answered by
// the dialog script (vqvcl/DialogScript.h).
#pragma once

#include "Forms.hpp"

enum TOpenOption { ofReadOnly, ofOverwritePrompt, ofHideReadOnly, ofNoChangeDir, ofShowHelp,
                   ofNoValidate, ofAllowMultiSelect, ofExtensionDifferent, ofPathMustExist,
                   ofFileMustExist, ofCreatePrompt, ofShareAware, ofNoReadOnlyReturn, ofNoTestFileCreate,
                   ofNoNetworkButton, ofNoLongNames, ofOldStyleDialog, ofNoDereferenceLinks,
                   ofEnableIncludeNotify, ofEnableSizing };
typedef Set<TOpenOption, ofReadOnly, ofEnableSizing> TOpenOptions;

class TSaveDialog : public TComponent {
 public:
  explicit __fastcall TSaveDialog(TComponent* AOwner);

  AnsiString FileName;
  AnsiString Filter;
  int FilterIndex = 1;
  AnsiString DefaultExt;
  AnsiString InitialDir;
  AnsiString Title;
  TOpenOptions Options = TOpenOptions() << ofHideReadOnly << ofEnableSizing;
  // Asked when the user confirms a name; a false CanClose keeps the dialog up.
  TCloseQueryEvent OnCanClose{this};

  // True when the user confirmed a file name (FileName then holds its full
  // path); false when the dialog was cancelled.
  bool Execute();
};

void ShowMessage(const AnsiString& msg);
