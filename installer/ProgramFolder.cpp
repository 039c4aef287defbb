// The program folder "VQUSB" under Program Files and the Start-menu folder
// "VQUSB Utility" with its shortcuts.
#include <vcl.h>
#include <windows.h>
#include <shlobj.h>

#include "ProgramFolder.h"
#include "ShellLink.h"
#include "setup.h"

namespace {

const char *const GuidePrefixes[3] = {"\\E", "\\C", "\\K"};

// PF: "ProgramFilesDir", else the Windows folder's drive + "\Program Files"
// (made).
void ProgramFilesFolder(char *buffer)
{
    if (ReadProgramFilesDir(buffer))
        return;
    char windowsDir[LongPathBufferSize] = {0};
    GetWindowsDirectoryA(windowsDir, LongPathBufferSize);
    windowsDir[2] = '\0';
    JoinPath(buffer, LongPathBufferSize, windowsDir, "\\Program Files");
    CreateDir(buffer);
}

// A desktop link made (or found) by CreateShellLink, moved into the Start-menu folder.
void StartMenuLink(TSetupForm *owner, const AnsiString &menu, const AnsiString &name, const AnsiString &target,
                   const AnsiString &icon)
{
    AnsiString made;
    AnsiString path = CreateShellLink(made, owner->Handle, target, "", icon, 0, name, CSIDL_DESKTOP, 1);
    MoveFileA(path.c_str(), (menu + "\\" + name + ".lnk").c_str());
    DeleteFileA(path.c_str());
}

}  // namespace

int InstallProgramFolder(TSetupForm *owner)
{
    char programFiles[LongPathBufferSize] = {0};
    ProgramFilesFolder(programFiles);
    const AnsiString folder = AnsiString(programFiles) + "\\VQUSB";
    CreateDir(folder);

    CopyNormal(".\\drivers\\vqusbunst.exe", (folder + "\\vqusbunst.exe").c_str());
    CopyNormal(".\\utility\\vqdiag.exe", (folder + "\\vqdiag.exe").c_str());

    const int kind = GetOsKind();
    int language = SetupForm != NULL ? SetupForm->LanguageIndex : 0;
    if (language < 0 || language > 2)
        language = 0;
    const AnsiString page = AnsiString(GuidePrefixes[language]) + "WIN98.htm";
    const AnsiString pageFolder = AnsiString(GuidePrefixes[language]) + "WIN98.files";
    CopyNormal(("..\\InstallationGuide" + page).c_str(), (folder + page).c_str());
    CreateDir(folder + pageFolder);
    CopyFolderFiles(("..\\InstallationGuide" + pageFolder).c_str(), (folder + pageFolder).c_str());

    CreateDir(folder + "\\FAQ");
    CopyFolderFiles("..\\FAQ", (folder + "\\FAQ").c_str());
    CreateDir(folder + "\\Foxit Reader");
    CopyFolderFiles("..\\Foxit Reader", (folder + "\\Foxit Reader").c_str());

    char programs[LongPathBufferSize] = {0};
    LPITEMIDLIST list = NULL;
    if (SUCCEEDED(SHGetSpecialFolderLocation(owner->Handle, CSIDL_PROGRAMS, &list))) {
        SHGetPathFromIDListA(list, programs);
        LPMALLOC allocator = NULL;
        if (SUCCEEDED(SHGetMalloc(&allocator))) {
            allocator->Free(list);
            allocator->Release();
        }
    }
    const AnsiString menu = AnsiString(programs) + "\\" + "VQUSB Utility";
    CreateDir(menu);

    if (kind != OsWindowsNT4) {
        StartMenuLink(owner, menu, "Uninstall VQUSB Reader", folder + "\\vqusbunst.exe", folder + "\\vqusbunst.exe");
        StartMenuLink(owner, menu, "VQUSB Diagnostics", folder + "\\vqdiag.exe", folder + "\\vqdiag.exe");
    }
    char programFilesAgain[LongPathBufferSize] = {0};
    ProgramFilesFolder(programFilesAgain);
    StartMenuLink(owner, menu, "Installation Guide", folder + page,
                  AnsiString(programFilesAgain) + "\\Internet Explorer\\iexplore.exe");
    return 1;
}
