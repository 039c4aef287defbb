// Shell links over the shell's link objects: a link is looked for by its
// in-folder name in a special folder; when there is none, one can be made.
#include <vcl.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <stdint.h>
#include <string.h>
#include <wchar.h>

#include "ShellLink.h"

namespace {

// Widens 8-bit text of the system's code page into `out` (`size` characters);
// text that does not fit gives an empty string.
void Widen(const char *text, wchar_t *out, int size)
{
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, out, size) == 0)
        out[0] = L'\0';
    out[size - 1] = L'\0';
}

// A returned name as wide text: a wide string as it is (then freed with the
// shell allocator, which owns it), an offset into the item or an inline
// 8-bit string widened.
void NameToWide(STRRET &name, LPCITEMIDLIST item, LPMALLOC allocator, wchar_t *out, int size)
{
    out[0] = L'\0';
    if (name.uType == STRRET_WSTR) {
        if (name.pOleStr != NULL) {
            wcsncpy(out, name.pOleStr, size - 1);
            out[size - 1] = L'\0';
            allocator->Free(name.pOleStr);
            name.pOleStr = NULL;
        }
    } else if (name.uType == STRRET_OFFSET) {
        Widen((const char *)item + name.uOffset, out, size);
    } else if (name.uType == STRRET_CSTR) {
        name.cStr[MAX_PATH - 1] = '\0';
        Widen(name.cStr, out, size);
    }
}

// The folder part of a path: up to, not including, its last backslash.
AnsiString FolderOfTarget(const AnsiString &target)
{
    const char *text = target.c_str();
    int last = -1;
    for (int i = 0; text[i] != '\0'; ++i) {
        if (IsDBCSLeadByte((BYTE)text[i]) && text[i + 1] != '\0') {
            ++i;
            continue;
        }
        if (text[i] == '\\')
            last = i;
    }
    return last < 0 ? AnsiString() : AnsiString(text, last);
}

[[noreturn]] void Fail(const AnsiString &text)
{
    CoUninitialize();
    throw Exception(text);
}

// The end of a found or made link: the object handed out with its reference
// or released, COM left, the path given.
AnsiString HandOut(IShellLinkA *link, IShellLinkA **out, const AnsiString &path, AnsiString &LinkPath)
{
    if (out != NULL)
        *out = link;
    else
        link->Release();
    CoUninitialize();
    LinkPath = path;
    return path;
}

}  // namespace

AnsiString CreateShellLink(AnsiString &LinkPath, HWND Owner, AnsiString Target, AnsiString Arguments,
                           AnsiString IconPath, int IconIndex, AnsiString LinkName, int SpecialFolder,
                           BYTE Create, IShellLinkA **ShellLink)
{
    CoInitialize(NULL);
    LPMALLOC allocator = NULL;
    SHGetMalloc(&allocator);
    LPITEMIDLIST folderList = NULL;
    char folderPath[MAX_PATH] = {0};
    SHGetSpecialFolderLocation(Owner, SpecialFolder, &folderList);
    SHGetPathFromIDListA(folderList, folderPath);
    wchar_t wideFolder[MAX_PATH];
    Widen(folderPath, wideFolder, MAX_PATH);
    wchar_t wideName[MAX_PATH];
    Widen(LinkName.c_str(), wideName, MAX_PATH);
    AnsiString found;

    // Look for the link among the folder's non-folder items.
    LPSHELLFOLDER desktop = NULL;
    LPSHELLFOLDER folder = NULL;
    LPENUMIDLIST items = NULL;
    if (SUCCEEDED(SHGetDesktopFolder(&desktop))
        && SUCCEEDED(desktop->BindToObject(folderList, NULL, IID_IShellFolder, (void **)&folder))
        && SUCCEEDED(folder->EnumObjects(Owner, SHCONTF_NONFOLDERS, &items))) {
        LPITEMIDLIST item = NULL;
        ULONG fetched = 0;
        while (items->Next(1, &item, &fetched) == S_OK) {
            STRRET name;
            memset(&name, 0, sizeof name);
            if (FAILED(folder->GetDisplayNameOf(item, SHGDN_INFOLDER, &name))) {
                allocator->Free(item);
                break;
            }
            wchar_t display[200];
            NameToWide(name, item, allocator, display, 200);
            if (wcscmp(display, wideName) == 0) {
                STRRET parsing;
                memset(&parsing, 0, sizeof parsing);
                if (SUCCEEDED(folder->GetDisplayNameOf(item, SHGDN_FORPARSING, &parsing))) {
                    wchar_t path[MAX_PATH];
                    NameToWide(parsing, item, allocator, path, MAX_PATH);
                    if (path[0] != L'\0')
                        found = AnsiString(path);
                }
            }
            allocator->Free(item);
            item = NULL;
        }
    }
    if (items != NULL)
        items->Release();
    if (folder != NULL)
        folder->Release();
    if (desktop != NULL)
        desktop->Release();
    if (allocator != NULL) {
        allocator->Free(folderList);
        allocator->Release();
    }

    if (!found.IsEmpty()) {
        IShellLinkA *link = NULL;
        HRESULT result = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                          (void **)&link);
        if (FAILED(result)) {
            char message[512] = {0};
            FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, NULL, GetLastError(),
                           MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), message, sizeof message, NULL);
            AnsiString text;
            text.sprintf("Couldn't get IShellLink to existing file. hres=%lx %lu. psl=%lx. ",
                         (unsigned long)(ULONG)result, (unsigned long)(ULONG)result,
                         (unsigned long)(uintptr_t)link);
            Fail(text + ": " + message);
        }
        IPersistFile *file = NULL;
        if (FAILED(link->QueryInterface(IID_IPersistFile, (void **)&file))) {
            link->Release();
            Fail("Couldn't get a persist-file interface to the IShellLink for existing file");
        }
        wchar_t wideFound[MAX_PATH];
        Widen(found.c_str(), wideFound, MAX_PATH);
        if (FAILED(file->Load(wideFound, STGM_SHARE_DENY_WRITE))) {
            file->Release();
            link->Release();
            Fail("Error loading the existing IShellLink");
        }
        file->Release();
        return HandOut(link, ShellLink, found, LinkPath);
    }

    if (!Create) {
        CoUninitialize();
        LinkPath = "";
        return AnsiString();
    }

    WideString widePath = WideString(wideFolder) + WideString(L"\\") + WideString(wideName) + WideString(L".lnk");
    const AnsiString workingFolder = FolderOfTarget(Target);
    IShellLinkA *link = NULL;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&link)))
        Fail("Unable to create shortcut file");
    if (!Target.IsEmpty())
        link->SetPath(Target.c_str());
    link->SetDescription("");
    if (!Arguments.IsEmpty())
        link->SetArguments(Arguments.c_str());
    if (!IconPath.IsEmpty())
        link->SetIconLocation(IconPath.c_str(), IconIndex);
    if (!workingFolder.IsEmpty())
        link->SetWorkingDirectory(workingFolder.c_str());
    IPersistFile *file = NULL;
    if (FAILED(link->QueryInterface(IID_IPersistFile, (void **)&file))) {
        link->Release();
        Fail("Unable to get IPersistFile interface on shortcut just created");
    }
    file->Save(widePath.c_bstr(), FALSE);
    file->Release();
    return HandOut(link, ShellLink, AnsiString(widePath), LinkPath);
}
