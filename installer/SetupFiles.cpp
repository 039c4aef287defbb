// File helpers of the installer: the copy-error text, path joining, the
// copy over an earlier read-only file and the flat folder copy.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "setup.h"

namespace {

const int CopyErrorSize = 50;
char CopyErrorTexts[3][CopyErrorSize];

}  // namespace

bool JoinPath(char *buffer, size_t size, const char *first, const char *second, const char *third)
{
    if (buffer == NULL || size == 0)
        return false;
    const char *parts[3] = {first, second, third};
    size_t used = 0;
    for (int i = 0; i < 3; ++i) {
        const size_t length = parts[i] != NULL ? strlen(parts[i]) : 0;
        if (used + length >= size) {
            buffer[0] = '\0';
            return false;
        }
        memcpy(buffer + used, parts[i], length);
        used += length;
    }
    buffer[used] = '\0';
    return true;
}

const char *FormatCopyError(const char *fileName, int languageIndex)
{
    const DWORD error = GetLastError();
    static const char *const formats[3] = {
        "Cannot Copy %s%s",
        "\xB5L\xAAk\xBD\xC6\xBBs\xC0\xC9\xAE\xD7 %s%s",
        "Cannot Copy %s%s",
    };
    static const char *const codeSuffixes[3] = {
        ", Error Code : %d",
        ", \xBF\xF9\xBB~\xA5N\xBDX : %d",
        ", Error Code : %d",
    };
    static const char *const diskFullSuffixes[3] = {
        ", Error Code : Disk Full",
        ", \xBF\xF9\xBB~\xA5N\xBDX : \xBA\xCF\xBA\xD0\xA4w\xBA\xA1",
        ", Error Code : Disk Full",
    };
    for (int slot = 0; slot < 3; ++slot) {
        char suffix[CopyErrorSize];
        if (error == ERROR_DISK_FULL)
            snprintf(suffix, sizeof suffix, "%s", diskFullSuffixes[slot]);
        else
            snprintf(suffix, sizeof suffix, codeSuffixes[slot], (int)error);
        snprintf(CopyErrorTexts[slot], CopyErrorSize, formats[slot], fileName != NULL ? fileName : "", suffix);
    }
    if (languageIndex < 0 || languageIndex > 2)
        languageIndex = 0;
    return CopyErrorTexts[languageIndex];
}

bool CopyNormal(const char *source, const char *destination)
{
    SetFileAttributesA(destination, FILE_ATTRIBUTE_NORMAL);
    return CopyFileA(source, destination, FALSE) != 0;
}

int CopyFolderFiles(const char *source, const char *destination)
{
    char pattern[LongPathBufferSize];
    if (!JoinPath(pattern, sizeof pattern, source, "\\*.*"))
        return 0;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(pattern, &found);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    do {
        char from[LongPathBufferSize];
        char to[LongPathBufferSize];
        // "." and ".." and subfolders fail like any file that cannot be
        // copied: the copy is flat.
        if (!JoinPath(from, sizeof from, source, "\\", found.cFileName)
            || !JoinPath(to, sizeof to, destination, "\\", found.cFileName))
            continue;
        CopyNormal(from, to);
    } while (FindNextFileA(find, &found));
    return FindClose(find);
}
