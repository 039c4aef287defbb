#include <vcl.h>
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "Main.h"
#include "PathText.h"
#include "Public.h"

namespace {

// The program's shared text buffer for formatted messages.
char TextBuffer[1024];

const char kChtDocument[] = "\\VQ_PCSC_Reader_FAQ_CHT.pdf";
const char kEngDocument[] = "\\VQ_PCSC_Reader_FAQ_ENG.pdf";
const char kViewerArguments[] = " -n 1 -NoRegister";

// The message texts are 8-bit: the Chinese ones Big5 whatever the system's
// code page, the English ones with the full-width comma (Big5 A1 41).
const char kEngDocumentMissing[] = "Open file fail\xA1\x41VQ_PCSC_Reader_FAQ_ENG.pdf not found !";
const char kEngViewerMissing[] = "Open file fail\xA1\x41" "Foxit.exe not found !";
const char kEngStartFailed[] = "Open file fail , %s";
const char kEngCaption[] = "Error";
// 檔案開啟失敗，VQ_PCSC_Reader_FAQ_CHT.pdf 檔案不存在 !
const char kChtDocumentMissing[] =
    "\xC0\xC9\xAE\xD7\xB6\x7D\xB1\xD2\xA5\xA2\xB1\xD1\xA1\x41VQ_PCSC_Reader_FAQ_CHT.pdf "
    "\xC0\xC9\xAE\xD7\xA4\xA3\xA6\x73\xA6\x62 !";
// 檔案開啟失敗，Foxit.exe 檔案不存在 !
const char kChtViewerMissing[] =
    "\xC0\xC9\xAE\xD7\xB6\x7D\xB1\xD2\xA5\xA2\xB1\xD1\xA1\x41" "Foxit.exe "
    "\xC0\xC9\xAE\xD7\xA4\xA3\xA6\x73\xA6\x62 !";
// 檔案開啟失敗 , %s
const char kChtStartFailed[] = "\xC0\xC9\xAE\xD7\xB6\x7D\xB1\xD2\xA5\xA2\xB1\xD1 , %s";
// 錯誤訊息
const char kChtCaption[] = "\xBF\xF9\xBB\x7E\xB0\x54\xAE\xA7";

void ShowError(int languageIndex, const char *english, const char *chinese)
{
    if (languageIndex == 1)
        MessageBoxA(NULL, chinese, kChtCaption, MB_OK | MB_ICONERROR);
    else
        MessageBoxA(NULL, english, kEngCaption, MB_OK | MB_ICONERROR);
}

// The start-failed message with the system's text for `error`.
void ShowStartFailed(int languageIndex, DWORD error)
{
    char *systemText = NULL;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   NULL, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPSTR)&systemText, 0, NULL);
    memset(TextBuffer, 0, sizeof TextBuffer);
    snprintf(TextBuffer, sizeof TextBuffer, languageIndex == 1 ? kChtStartFailed : kEngStartFailed,
             systemText != NULL ? systemText : "");
    if (systemText != NULL)
        LocalFree(systemText);
    ShowError(languageIndex, TextBuffer, TextBuffer);
}

// The folder of the running program file, with its trailing backslash.
AnsiString ProgramFolder()
{
    char path[MAX_PATH + 1];
    memset(path, 0, sizeof path);
    GetModuleFileNameA(NULL, path, MAX_PATH);
    const char *slash = LastBackslash(path);
    return AnsiString(path, slash == NULL ? 0 : (int)(slash - path) + 1);
}

}  // namespace

// "&FAQ": the FAQ document of the language, copied under the Windows
// folder's Temp\FAQ and opened there with the PDF viewer.
void __fastcall TSelfForm::bbtn_FAQClick(TObject *Sender)
{
    const bool chinese = LanguageIndex == 1;
    const AnsiString programFolder = ProgramFolder();

    // Base: the program folder up to its first upper-case "SOFTWARE".
    AnsiString base = programFolder;
    const int software = programFolder.Pos("SOFTWARE");
    if (software > 0)
        base = programFolder.SubString(1, software - 1);

    const AnsiString faqFolder = base + "FAQ";
    if (!FileExists(faqFolder + (chinese ? kChtDocument : kEngDocument))) {
        ShowError(LanguageIndex, kEngDocumentMissing, kChtDocumentMissing);
        return;
    }

    AnsiString viewerFolder = base + "SOFTWARE\\Foxit Reader";
    if (!FileExists(viewerFolder + "\\Foxit.exe")) {
        viewerFolder = programFolder + "Foxit Reader";
        if (!FileExists(viewerFolder + "\\Foxit.exe"))
            ShowError(LanguageIndex, kEngViewerMissing, kChtViewerMissing);
    }
    const AnsiString viewer = viewerFolder + "\\Foxit.exe";

    char windowsFolder[255];
    memset(windowsFolder, 0, sizeof windowsFolder);
    const UINT length = GetWindowsDirectoryA(windowsFolder, sizeof windowsFolder);
    if (length == 0 || length >= sizeof windowsFolder) {
        // Without the Windows folder the copy would land under the drive's
        // root and the viewer be sent there: report it as a failed start.
        ShowStartFailed(LanguageIndex, length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE);
        return;
    }
    const AnsiString copyFolder = AnsiString(windowsFolder) + "\\Temp\\FAQ";
    const AnsiString document = copyFolder + (chinese ? kChtDocument : kEngDocument);

    if (FileExists(document))
        DeleteFileA(document.c_str());
    CopyDirectoryTree(faqFolder, copyFolder);

    const AnsiString arguments = document + kViewerArguments;
    HINSTANCE started = ShellExecuteA(NULL, "open", viewer.c_str(), arguments.c_str(), viewerFolder.c_str(),
                                      SW_SHOWNORMAL);
    if ((INT_PTR)started <= 32)
        ShowStartFailed(LanguageIndex, GetLastError());
}
