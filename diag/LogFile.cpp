#include <vcl.h>
#include <windows.h>

#include <string.h>

#include "Log.h"
#include "PathText.h"

namespace {

// Scratch names tried in all for one save, the new text's and the earlier
// file's together.
const int kScratchTries = 64;

enum WriteResult { Written, CannotCreate, CannotWrite, NameTaken };

AnsiString CreateErrorText(const AnsiString &fileName)
{
    return AnsiString("Cannot create file ") + fileName;
}

bool Taken(const AnsiString &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Names for the save's own scratch files in the target's folder: "~" and
// hexadecimal digits, as long as the target's own name (2 to 8 characters;
// one hexadecimal digit alone for a one-character name), so that a target
// close to the path limit keeps its scratch files within it too. The
// target's own name is never given out.
class ScratchNames
{
public:
    explicit ScratchNames(const AnsiString &target)
    {
        const char *path = target.c_str();
        const char *name = FileNamePart(path);
        // "C:name" lies in the current folder of drive C.
        if (name == path && path[0] != '\0' && path[1] == ':')
            name = path + 2;
        folder_ = AnsiString(path, (int)(name - path));
        targetName_ = AnsiString(name).UpperCase();
        int length = (int)strlen(name);
        if (length > 8)
            length = 8;
        tilde_ = length >= 2;
        digits_ = tilde_ ? length - 1 : 1;
        range_ = 1UL << (4 * digits_);
        next_ = (GetTickCount() * 31UL + GetCurrentProcessId()) % range_;
    }

    // The next candidate that no file or folder has now; empty once the
    // tries are used up.
    AnsiString Next()
    {
        // Bounded by kScratchTries for the whole save.
        while (tries_ < kScratchTries && (unsigned long)tries_ < range_) {
            ++tries_;
            AnsiString name;
            name.sprintf(tilde_ ? "~%0*lX" : "%0*lX", digits_, next_);
            next_ = (next_ + 1) % range_;
            if (name.UpperCase() == targetName_)
                continue;
            const AnsiString path = folder_ + name;
            if (!Taken(path))
                return path;
        }
        return "";
    }

private:
    AnsiString folder_;
    AnsiString targetName_;
    bool tilde_ = true;
    int digits_ = 1;
    unsigned long range_ = 16;
    unsigned long next_ = 0;
    int tries_ = 0;
};

// Writes the whole text into a file that must not exist yet. A file that
// can't be written whole is removed again.
WriteResult WriteNewFile(const AnsiString &path, const AnsiString &text)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? NameTaken : CannotCreate;
    }
    const char *bytes = text.c_str();
    DWORD left = (DWORD)text.Length();
    bool ok = true;
    // Each pass writes a byte at least or ends the loop.
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
        return CannotWrite;
    }
    return Written;
}

}  // namespace

void SaveLinesToFile(TStrings *lines, const AnsiString &fileName)
{
    AnsiString text;
    for (int i = 0; i < lines->Count; ++i)
        text += lines->Get(i) + "\r\n";

    // An existing file that can't be written (read-only, in use) is reported
    // before anything is written.
    const bool exists = Taken(fileName);
    if (exists) {
        HANDLE probe = CreateFileA(fileName.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, NULL);
        if (probe == INVALID_HANDLE_VALUE)
            throw EFCreateError(CreateErrorText(fileName));
        CloseHandle(probe);
    }

    // The text goes to a scratch file of the save's own beside the target
    // first, so that a failed write (a full disk, a folder that can't be
    // written) never leaves the earlier file cut short. Only files that the
    // save itself made are ever removed.
    ScratchNames names(fileName);
    AnsiString scratch;
    WriteResult result = CannotCreate;
    for (scratch = names.Next(); !scratch.IsEmpty(); scratch = names.Next()) {
        result = WriteNewFile(scratch, text);
        if (result != NameTaken)
            break;
    }
    if (result == CannotWrite)
        throw EWriteError("Stream write error");
    if (result != Written)
        throw EFCreateError(CreateErrorText(fileName));

    // The new file takes the earlier one's place in one step, so that the
    // earlier file stays where it is when that fails.
    if (MoveFileExA(scratch.c_str(), fileName.c_str(), MOVEFILE_REPLACE_EXISTING))
        return;
    if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) {
        DeleteFileA(scratch.c_str());
        throw EFCreateError(CreateErrorText(fileName));
    }

    // Windows 95, 98 and ME replace no file in one step: the earlier file
    // steps aside under a name of the save's own until the new one stands in
    // its place.
    AnsiString backup;
    if (exists) {
        bool moved = false;
        for (backup = names.Next(); !backup.IsEmpty(); backup = names.Next()) {
            if (MoveFileA(fileName.c_str(), backup.c_str())) {
                moved = true;
                break;
            }
            if (GetLastError() != ERROR_ALREADY_EXISTS)
                break;
        }
        if (!moved) {
            DeleteFileA(scratch.c_str());
            throw EFCreateError(CreateErrorText(fileName));
        }
    }
    if (!MoveFileA(scratch.c_str(), fileName.c_str())) {
        DeleteFileA(scratch.c_str());
        // The earlier file goes back under its name; if even that fails, the
        // message tells where it is.
        if (exists && !MoveFileA(backup.c_str(), fileName.c_str()))
            throw EFCreateError(CreateErrorText(fileName) + ". The earlier file is kept as " + backup);
        throw EFCreateError(CreateErrorText(fileName));
    }
    if (exists)
        DeleteFileA(backup.c_str());
}
