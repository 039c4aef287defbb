// Registry helpers of the installer: values read into the 99-byte buffer,
// string and number values written, the autostart values of the smart card
// service and the card monitor, Program Files, stale enumeration entries.
#include <windows.h>

#include <string.h>

#include "setup.h"

const char RunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char RunServicesKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices";

namespace {

// The reader family's USB ids, as the enumeration key names them.
const char ReaderEnumName[] = "VID_F1E5&PID_0480";

}  // namespace

bool ReadRegistryValue(HKEY key, const char *name, char *buffer)
{
    DWORD size = ValueBufferSize;
    memset(buffer, 0, ValueBufferSize + 1);
    if (RegQueryValueExA(key, name, NULL, NULL, (LPBYTE)buffer, &size) != ERROR_SUCCESS)
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
    if (ReadRegistryValue(key, name, value))
        RegDeleteValueA(key, name);
    RegCloseKey(key);
}

void SetStringValue(HKEY key, const char *name, const char *value)
{
    RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)value, (DWORD)strlen(value) + 1);
}

void SetDwordValue(HKEY key, const char *name, DWORD value)
{
    RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE *)&value, sizeof value);
}

void SetRunValue(const char *name, const char *fileName)
{
    char systemDir[PathBufferSize] = {0};
    GetSystemDirectoryA(systemDir, PathBufferSize);
    HKEY key = NULL;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, RunKey, &key) != ERROR_SUCCESS)
        return;
    char value[PathBufferSize];
    if (JoinPath(value, sizeof value, systemDir, "\\", fileName))
        SetStringValue(key, name, value);
    RegCloseKey(key);
}

void SetVqscmonAutostart()
{
    DeleteValueWhenPresent(RunServicesKey, "Vqscmon");
    SetRunValue("Vqscmon", "Vqscmon.exe");
}

void RemoveScardSvrAutostart()
{
    DeleteValueWhenPresent(RunKey, "SCardSvr");
    DeleteValueWhenPresent(RunServicesKey, "SCardSvr");
}

int ReadProgramFilesDir(char *buffer)
{
    HKEY key = NULL;
    buffer[0] = '\0';
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", &key) != ERROR_SUCCESS)
        return 0;
    const bool read = ReadRegistryValue(key, "ProgramFilesDir", buffer);
    RegCloseKey(key);
    if (!read)
        buffer[0] = '\0';
    return read ? 1 : 0;
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
        const bool read = ReadRegistryValue(key, "Class", value);
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
