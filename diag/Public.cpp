#include <vcl.h>
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "PathText.h"
#include "Public.h"
#include "service/SCM_Main.h"

// Suite and product values of the version record, where an older SDK lacks them.
#ifndef VER_SUITE_COMPUTE_SERVER
#define VER_SUITE_COMPUTE_SERVER 0x00004000
#endif
#ifndef VER_SUITE_STORAGE_SERVER
#define VER_SUITE_STORAGE_SERVER 0x00002000
#endif
#ifndef VER_SUITE_WH_SERVER
#define VER_SUITE_WH_SERVER 0x00008000
#endif
#ifndef SM_SERVERR2
#define SM_SERVERR2 89
#endif

namespace {

typedef void(WINAPI *PGetNativeSystemInfo)(LPSYSTEM_INFO);
typedef BOOL(WINAPI *PGetProductInfo)(DWORD, DWORD, DWORD, DWORD, PDWORD);

const DWORD kVersionExSize = 156;   // sizeof(OSVERSIONINFOEXA)
const DWORD kVersionSize = 148;     // sizeof(OSVERSIONINFOA)
const int kNameBufferSize = 256;

// Native system information where the system has it (a 32-bit program on
// 64-bit Windows sees the real processor), the plain one otherwise.
void QuerySystemInfo(SYSTEM_INFO *si)
{
    memset(si, 0, sizeof(*si));
    PGetNativeSystemInfo getNative = (PGetNativeSystemInfo)(void (*)(void))GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "GetNativeSystemInfo");
    if (getNative != NULL)
        getNative(si);
    else
        GetSystemInfo(si);
}

// Extended record first, then the basic one (older NT and 9x refuse the
// extended size). False when both are refused.
bool QueryVersion(OSVERSIONINFOEXA *osvi, SYSTEM_INFO *si)
{
    memset(osvi, 0, sizeof(*osvi));
    osvi->dwOSVersionInfoSize = kVersionExSize;
    if (!GetVersionExA((OSVERSIONINFOA *)osvi)) {
        osvi->dwOSVersionInfoSize = kVersionSize;
        if (!GetVersionExA((OSVERSIONINFOA *)osvi))
            return false;
    }
    QuerySystemInfo(si);
    return true;
}

// Second character of the service-pack text (" A", " B", " C" on 9x).
char ServicePackLetter(const OSVERSIONINFOEXA &osvi)
{
    return osvi.szCSDVersion[0] != '\0' ? osvi.szCSDVersion[1] : '\0';
}

// Appends to the zero-terminated name buffer, never past its end.
void Append(char *buffer, const char *text)
{
    size_t used = strlen(buffer);
    if (used + 1 >= (size_t)kNameBufferSize)
        return;
    strncat(buffer, text, kNameBufferSize - 1 - used);
}

const char *ProductEdition(DWORD productType)
{
    switch (productType) {
    case 1: return "Ultimate Edition";
    case 2: return "Home Basic Edition";
    case 3: return "Home Premium Edition";
    case 4: return "Enterprise Edition";
    case 6: return "Business Edition";
    case 7: return "Standard Edition";
    case 8: return "Datacenter Edition";
    case 9: return "Small Business Server";
    case 10: return "Enterprise Edition";
    case 11: return "Starter Edition";
    case 12: return "Datacenter Edition (core installation)";
    case 13: return "Standard Edition (core installation)";
    case 14: return "Enterprise Edition (core installation)";
    case 15: return "Enterprise Edition for Itanium-based Systems";
    case 17: return "Web Server Edition";
    case 18: return "Cluster Server Edition";
    default: return "";
    }
}

void AppendServer2003Edition(char *buffer, const OSVERSIONINFOEXA &osvi, WORD arch)
{
    const DWORD suite = osvi.wSuiteMask;
    if (arch == PROCESSOR_ARCHITECTURE_IA64) {
        if (suite & VER_SUITE_DATACENTER)
            Append(buffer, "Datacenter Edition for Itanium-based Systems");
        else if (suite & VER_SUITE_ENTERPRISE)
            Append(buffer, "Enterprise Edition for Itanium-based Systems");
    } else if (arch == PROCESSOR_ARCHITECTURE_AMD64) {
        if (suite & VER_SUITE_DATACENTER)
            Append(buffer, "Datacenter x64 Edition");
        else if (suite & VER_SUITE_ENTERPRISE)
            Append(buffer, "Enterprise x64 Edition");
        else
            Append(buffer, "Standard x64 Edition");
    } else {
        if (suite & VER_SUITE_COMPUTE_SERVER)
            Append(buffer, "Compute Cluster Edition");
        else if (suite & VER_SUITE_DATACENTER)
            Append(buffer, "Datacenter Edition");
        else if (suite & VER_SUITE_ENTERPRISE)
            Append(buffer, "Enterprise Edition");
        else if (suite & VER_SUITE_BLADE)
            Append(buffer, "Web Edition");
        else
            Append(buffer, "Standard Edition");
    }
}

void AppendNtName(char *buffer, const OSVERSIONINFOEXA &osvi, WORD arch)
{
    const bool workstation = osvi.wProductType == VER_NT_WORKSTATION;
    const DWORD major = osvi.dwMajorVersion, minor = osvi.dwMinorVersion;

    if (major == 6 && minor == 1) {
        Append(buffer, workstation ? "Windows 7 " : "Windows Server 2008 R2 ");
    } else if (major == 6 && minor == 0) {
        Append(buffer, workstation ? "Windows Vista " : "Windows Server 2008 ");
        PGetProductInfo getProductInfo = (PGetProductInfo)(void (*)(void))GetProcAddress(
            GetModuleHandleA("kernel32.dll"), "GetProductInfo");
        if (getProductInfo != NULL) {
            DWORD productType = 0;
            getProductInfo(6, 0, 0, 0, &productType);
            Append(buffer, ProductEdition(productType));
        }
    } else if (major == 5 && minor == 2) {
        if (GetSystemMetrics(SM_SERVERR2) != 0)
            Append(buffer, "Windows Server 2003 R2, ");
        else if (osvi.wSuiteMask == VER_SUITE_STORAGE_SERVER)
            Append(buffer, "Windows Storage Server 2003");
        else if (osvi.wSuiteMask == VER_SUITE_WH_SERVER)
            Append(buffer, "Windows Home Server");
        else if (workstation && arch == PROCESSOR_ARCHITECTURE_AMD64)
            Append(buffer, "Windows XP Professional x64 Edition");
        else
            Append(buffer, "Windows Server 2003, ");
        if (!workstation)
            AppendServer2003Edition(buffer, osvi, arch);
    } else if (major == 5 && minor == 1) {
        Append(buffer, "Windows XP ");
        Append(buffer, (osvi.wSuiteMask & VER_SUITE_PERSONAL) ? "Home Edition" : "Professional");
    } else if (major == 5 && minor == 0) {
        Append(buffer, "Windows 2000 ");
        if (workstation)
            Append(buffer, "Professional");
        else if (osvi.wSuiteMask & VER_SUITE_DATACENTER)
            Append(buffer, "Datacenter Server");
        else if (osvi.wSuiteMask & VER_SUITE_ENTERPRISE)
            Append(buffer, "Advanced Server");
        else
            Append(buffer, "Server");
    }

    if (osvi.szCSDVersion[0] != '\0') {
        Append(buffer, " ");
        Append(buffer, osvi.szCSDVersion);
    }
    char build[32];
    snprintf(build, sizeof build, " (build %d)", (int)osvi.dwBuildNumber);
    Append(buffer, build);
    if (major >= 6) {
        if (arch == PROCESSOR_ARCHITECTURE_AMD64)
            Append(buffer, ", 64-bit");
        else if (arch == PROCESSOR_ARCHITECTURE_INTEL)
            Append(buffer, ", 32-bit");
    }
}

void AppendWin9xName(char *buffer, const OSVERSIONINFOEXA &osvi)
{
    const char letter = ServicePackLetter(osvi);
    if (osvi.dwMajorVersion == 4 && osvi.dwMinorVersion == 0)
        Append(buffer, (letter == 'C' || letter == 'B') ? "Windows 95 R2" : "Windows 95");
    else if (osvi.dwMajorVersion == 4 && osvi.dwMinorVersion == 10)
        Append(buffer, (letter == 'A' || letter == 'B') ? "Windows 98 Second Edition" : "Windows 98");
    else if (osvi.dwMajorVersion == 4 && osvi.dwMinorVersion == 90)
        Append(buffer, "Windows Millennium Edition");
}

bool FolderExists(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Creates the folder and every missing parent ("C:\a\b" makes "C:\a" first).
// The path is read character by character: the second byte of a two-byte
// character may be 0x5C and is no separator.
void CreateFolderWithParents(const char *path)
{
    char partial[MAX_PATH + 1];
    size_t length = strlen(path);
    if (length > MAX_PATH)
        return;
    for (size_t i = 0; i <= length; ++i) {
        if (i < length && IsDBCSLeadByte((BYTE)path[i]) && i + 1 < length) {
            ++i;
            continue;
        }
        if (i == 0)
            continue;
        if (i == length || path[i] == '\\' || path[i] == '/') {
            memcpy(partial, path, i);
            partial[i] = '\0';
            if (partial[i - 1] != ':' && !FolderExists(partial))
                CreateDirectoryA(partial, NULL);
        }
    }
}

// The path with a backslash after its last character, unless that character
// is one (a two-byte character ending in 0x5C is not).
AnsiString WithBackslash(const AnsiString &path)
{
    const char *text = path.c_str();
    const char *last = LastBackslash(text);
    const bool endsInBackslash = last != NULL && last[1] == '\0';
    return endsInBackslash ? path : path + "\\";
}

}  // namespace

void CentreOnScreen(TForm *form)
{
    form->Left = (Screen->Width - form->Width) / 2;
    form->Top = (Screen->Height - form->Height) / 2;
}

TColor RgbColour(int red, int green, int blue)
{
    return (TColor)(red | (green << 8) | (blue << 16));
}

AnsiString Repeated(char c, int count)
{
    return AnsiString(std::string(count > 0 ? (size_t)count : 0, c).c_str());
}

void AddInfoLine(AnsiString text, int colour)
{
    if (frmSCM == NULL)
        return;
    if (text == "d_CLEAR") {
        frmSCM->rchedt_Info->Clear();
        return;
    }
    frmSCM->rchedt_Info->SelAttributes->Color = (TColor)colour;
    frmSCM->rchedt_Info->Lines->Add(text);
    frmSCM->rchedt_Info->Perform(EM_SCROLLCARET, 0, 0);
}

int GetOSVersionCode()
{
    OSVERSIONINFOEXA osvi;
    SYSTEM_INFO si;
    if (!QueryVersion(&osvi, &si))
        return 22;

    const DWORD major = osvi.dwMajorVersion, minor = osvi.dwMinorVersion;
    switch (osvi.dwPlatformId) {
    case VER_PLATFORM_WIN32s:
        return 1;
    case VER_PLATFORM_WIN32_WINDOWS: {
        const char letter = ServicePackLetter(osvi);
        if (major == 4 && minor == 0)
            return (letter == 'C' || letter == 'B') ? 3 : 2;
        if (major == 4 && minor == 10)
            return (letter == 'A' || letter == 'B') ? 5 : 4;
        if (major == 4 && minor == 90)
            return 6;
        return 1;
    }
    case VER_PLATFORM_WIN32_NT: {
        const WORD arch = si.wProcessorArchitecture;
        const bool workstation = osvi.wProductType == VER_NT_WORKSTATION;
        const bool x86 = arch == PROCESSOR_ARCHITECTURE_INTEL;
        const bool wide = arch == PROCESSOR_ARCHITECTURE_AMD64 || arch == PROCESSOR_ARCHITECTURE_IA64;
        if (major <= 4)
            return 7;
        if (major == 5 && minor == 0)
            return 8;
        if (major == 5 && minor == 1)
            return (workstation && x86) ? 9 : 21;
        if (major == 5 && minor >= 2) {
            if (workstation && wide) return 10;
            if (!workstation && x86) return 11;
            if (!workstation && wide) return 12;
            return 21;
        }
        if (major == 6 && (minor == 0 || minor == 1)) {
            const int base = minor == 0 ? 13 : 17;
            if (workstation && x86) return base;
            if (workstation && wide) return base + 1;
            if (!workstation && x86) return base + 2;
            if (!workstation && wide) return base + 3;
        }
        return 21;
    }
    default:
        return 22;
    }
}

AnsiString GetOSDisplayString()
{
    char buffer[kNameBufferSize];
    OSVERSIONINFOEXA osvi;
    SYSTEM_INFO si;
    memset(buffer, 0, sizeof buffer);
    memset(&osvi, 0, sizeof osvi);
    // A system that refuses the extended record would otherwise leave it
    // zero-filled and be named "Windows 3.1": ask again with the basic record.
    osvi.dwOSVersionInfoSize = kVersionExSize;
    if (!GetVersionExA((OSVERSIONINFOA *)&osvi)) {
        osvi.dwOSVersionInfoSize = kVersionSize;
        if (!GetVersionExA((OSVERSIONINFOA *)&osvi))
            osvi.dwPlatformId = 0xFFFFFFFF;
    }
    QuerySystemInfo(&si);

    const WORD arch = si.wProcessorArchitecture;
    if (osvi.dwPlatformId == VER_PLATFORM_WIN32_NT && osvi.dwMajorVersion > 4)
        AppendNtName(buffer, osvi, arch);
    else if (osvi.dwPlatformId == VER_PLATFORM_WIN32_NT && osvi.dwMajorVersion == 4)
        Append(buffer, "Windows NT 4.0");
    else if (osvi.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS)
        AppendWin9xName(buffer, osvi);
    else if (osvi.dwPlatformId == VER_PLATFORM_WIN32s)
        Append(buffer, "Windows 3.1");
    else
        Append(buffer, "Can not support this version of Windows.");
    return AnsiString(buffer);
}

int GetProcessorArchCode()
{
    OSVERSIONINFOEXA osvi;
    SYSTEM_INFO si;
    if (!QueryVersion(&osvi, &si))
        return 22;
    switch (si.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
    case PROCESSOR_ARCHITECTURE_IA64:
        return 64;
    case PROCESSOR_ARCHITECTURE_INTEL:
        return 86;
    default:
        return 60;
    }
}

int GetUILanguageCode()
{
    switch (GetSystemDefaultLangID()) {
    case 0x0404: return 1;
    case 0x0C04: return 2;
    default: return 0;
    }
}

void CopyDirectoryTree(AnsiString source, AnsiString destination)
{
    const AnsiString from = WithBackslash(source);
    const AnsiString to = WithBackslash(destination);
    // Windows paths end at MAX_PATH; stopping there also ends the descent
    // when the destination lies inside the source.
    if (from.Length() >= MAX_PATH || to.Length() >= MAX_PATH)
        return;
    if (!FolderExists(source.c_str()))
        return;
    if (!FolderExists(destination.c_str()))
        CreateFolderWithParents(destination.c_str());

    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((from + "*.*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    // Bounded by the folder's entries (and the depth by MAX_PATH above).
    do {
        const char *name = found.cFileName;
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CopyDirectoryTree(from + name, to + name);
        else
            CopyFileA((from + name).c_str(), (to + name).c_str(), FALSE);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}
