#include <vcl.h>
#include <windows.h>

#include "Log.h"

namespace {

AnsiString CreateErrorText(const AnsiString &fileName)
{
    return AnsiString("Cannot create file ") + fileName;
}

// Writes the whole text into a new file. 0 when written, 1 when the file
// can't be created, 2 when it can't be written whole (the file is removed).
int WriteNewFile(const AnsiString &path, const AnsiString &text)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    const char *bytes = text.c_str();
    DWORD left = (DWORD)text.Length();
    bool ok = true;
    while (left > 0) {
        DWORD written = 0;
        if (!WriteFile(file, bytes, left, &written, NULL) || written == 0) {
            ok = false;
            break;
        }
        bytes += written;
        left -= written;
    }
    if (!CloseHandle(file))
        ok = false;
    if (!ok) {
        DeleteFileA(path.c_str());
        return 2;
    }
    return 0;
}

}  // namespace

void SaveLinesToFile(TStrings *lines, const AnsiString &fileName)
{
    AnsiString text;
    for (int i = 0; i < lines->Count; ++i)
        text += lines->Get(i) + "\r\n";

    // An existing file that can't be written (read-only, in use) is reported
    // before anything is written.
    const bool exists = GetFileAttributesA(fileName.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (exists) {
        HANDLE probe = CreateFileA(fileName.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, NULL);
        if (probe == INVALID_HANDLE_VALUE)
            throw EFCreateError(CreateErrorText(fileName));
        CloseHandle(probe);
    }

    // The text goes to a scratch file beside the target first, so that a
    // failed write (a full disk, a folder that can't be written) never
    // leaves the earlier file cut short.
    const AnsiString scratch = fileName + ".~sv";
    switch (WriteNewFile(scratch, text)) {
    case 1:
        throw EFCreateError(CreateErrorText(fileName));
    case 2:
        throw EWriteError("Stream write error");
    }

    const AnsiString backup = fileName + ".~bk";
    if (exists) {
        DeleteFileA(backup.c_str());
        if (!MoveFileA(fileName.c_str(), backup.c_str())) {
            DeleteFileA(scratch.c_str());
            throw EFCreateError(CreateErrorText(fileName));
        }
    }
    if (!MoveFileA(scratch.c_str(), fileName.c_str())) {
        if (exists)
            MoveFileA(backup.c_str(), fileName.c_str());
        DeleteFileA(scratch.c_str());
        throw EFCreateError(CreateErrorText(fileName));
    }
    if (exists)
        DeleteFileA(backup.c_str());
}
