// The program folder under Program Files and the Start-menu folder with its
// shortcuts.
#ifndef ProgramFolderH
#define ProgramFolderH

class TSetupForm;

// Copies the uninstaller, vqdiag, the guide, the FAQ and the PDF viewer into
// PF\VQUSB and makes the Start-menu shortcuts; always 1. An exception of the
// shortcut step passes through.
int InstallProgramFolder(TSetupForm *owner);

#endif
