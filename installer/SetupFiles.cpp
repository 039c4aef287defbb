// File and registry helpers of the driver flow: the copy-error text, the
// folder copy, stale enumeration entries, Program Files and the smart card
// service's autostart values.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "setup.h"

namespace {

const int CopyErrorSize = 50;
char CopyErrorTexts[3][CopyErrorSize];

// The reader family's USB ids, as the enumeration key names them.
const char ReaderEnumName[] = "VID_F1E5&PID_0480";

// Reads a value into `buffer` (ValueBufferSize bytes of room and one more for
// the terminating zero, which a stored string may lack).
bool ReadValue(HKEY key, const char *name, char *buffer)
{
    DWORD size = ValueBufferSize;
    DWORD type = 0;
    memset(buffer, 0, ValueBufferSize + 1);
    if (RegQueryValueExA(key, name, NULL, &type, (LPBYTE)buffer, &size) != ERROR_SUCCESS)
        return false;
    buffer[size < (DWORD)ValueBufferSize ? size : ValueBufferSize] = '\0';
    return true;
}

void DeleteValueWhenPresent(const char *keyPath, const char *name)
{
    HKEY key = NULL;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, keyPath, &key) != ERROR_SUCCESS)
        return;
    char value[ValueBufferSize + 1];
    if (ReadValue(key, name, value))
        RegDeleteValueA(key, name);
    RegCloseKey(key);
}

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

void RemoveStaleUsbEnum()
{
    char path[64];
    JoinPath(path, sizeof path, "Enum\\USB\\", ReaderEnumName, "\\INST_0");
    const size_t digit = strlen(path) - 1;
    for (int n = 0; n <= 8; ++n) {
        path[digit] = (char)('0' + n);
        HKEY key = NULL;
        if (RegOpenKeyA(HKEY_LOCAL_MACHINE, path, &key) != ERROR_SUCCESS)
            continue;
        // The size is set afresh for every instance: a shorter class read
        // before must not make a longer one unreadable.
        char value[ValueBufferSize + 1];
        const bool read = ReadValue(key, "Class", value);
        RegCloseKey(key);
        if (read && lstrcmpiA(value, "UnKnown") == 0) {
            HKEY usb = NULL;
            if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "Enum\\USB", &usb) == ERROR_SUCCESS) {
                RegDeleteKeyA(usb, ReaderEnumName);
                RegCloseKey(usb);
            }
        }
    }
}

void RemoveSerialEnum()
{
    HKEY key = NULL;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "Enum\\SERENUM", &key) != ERROR_SUCCESS)
        return;
    RegDeleteKeyA(key, "QVT0001");
    RegCloseKey(key);
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
        SetFileAttributesA(to, FILE_ATTRIBUTE_NORMAL);
        CopyFileA(from, to, FALSE);
    } while (FindNextFileA(find, &found));
    return FindClose(find);
}

int ReadProgramFilesDir(char *buffer)
{
    HKEY key = NULL;
    buffer[0] = '\0';
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", &key) != ERROR_SUCCESS)
        return 0;
    const bool read = ReadValue(key, "ProgramFilesDir", buffer);
    RegCloseKey(key);
    if (!read)
        buffer[0] = '\0';
    return read ? 1 : 0;
}

void RemoveScardSvrAutostart()
{
    DeleteValueWhenPresent("Software\\Microsoft\\Windows\\CurrentVersion\\Run", "SCardSvr");
    DeleteValueWhenPresent("Software\\Microsoft\\Windows\\CurrentVersion\\RunServices", "SCardSvr");
}
