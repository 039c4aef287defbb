// The shell's namespace and link objects: item lists, special folders, the
// desktop folder and its enumeration, IShellLinkA and the shell allocator.
// A folder item list holds a machine path or a file name (our own layout);
// a shell link is a small text file on the machine (vqwin/ShellLink.h).
#pragma once

#include <objbase.h>
#include <winbase.h>

typedef struct _SHITEMID {
  USHORT cb;
  BYTE abID[1];
} SHITEMID, *LPSHITEMID;
typedef const SHITEMID* LPCSHITEMID;

typedef struct _ITEMIDLIST {
  SHITEMID mkid;
} ITEMIDLIST, *LPITEMIDLIST;
typedef const ITEMIDLIST* LPCITEMIDLIST;
typedef ITEMIDLIST* PIDLIST_ABSOLUTE;
typedef const ITEMIDLIST* PCIDLIST_ABSOLUTE;

#define STRRET_WSTR 0x0000
#define STRRET_OFFSET 0x0001
#define STRRET_CSTR 0x0002

typedef struct _STRRET {
  UINT uType;
  union {
    LPWSTR pOleStr;
    UINT uOffset;
    char cStr[MAX_PATH];
  };
} STRRET, *LPSTRRET;

#define CSIDL_DESKTOP 0x0000
#define CSIDL_PROGRAMS 0x0002
#define CSIDL_PERSONAL 0x0005
#define CSIDL_STARTUP 0x0007
#define CSIDL_STARTMENU 0x000b
#define CSIDL_DESKTOPDIRECTORY 0x0010
#define CSIDL_COMMON_PROGRAMS 0x0017

#define SHCONTF_FOLDERS 0x0020
#define SHCONTF_NONFOLDERS 0x0040
#define SHCONTF_INCLUDEHIDDEN 0x0080

#define SHGDN_NORMAL 0x0000
#define SHGDN_INFOLDER 0x0001
#define SHGDN_FORADDRESSBAR 0x4000
#define SHGDN_FORPARSING 0x8000

#ifdef __cplusplus

struct IBindCtx;
typedef IBindCtx* LPBC;

struct IEnumIDList : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPITEMIDLIST* rgelt, ULONG* pceltFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumIDList** ppenum) = 0;
};
typedef IEnumIDList* LPENUMIDLIST;

struct IShellFolder : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE ParseDisplayName(HWND hwnd, LPBC pbc, LPWSTR pszDisplayName,
                                                     ULONG* pchEaten, LPITEMIDLIST* ppidl,
                                                     ULONG* pdwAttributes) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumObjects(HWND hwnd, DWORD grfFlags, IEnumIDList** ppenumIDList) = 0;
  virtual HRESULT STDMETHODCALLTYPE BindToObject(LPCITEMIDLIST pidl, LPBC pbc, REFIID riid, void** ppv) = 0;
  virtual HRESULT STDMETHODCALLTYPE BindToStorage(LPCITEMIDLIST pidl, LPBC pbc, REFIID riid, void** ppv) = 0;
  virtual HRESULT STDMETHODCALLTYPE CompareIDs(LPARAM lParam, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateViewObject(HWND hwndOwner, REFIID riid, void** ppv) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAttributesOf(UINT cidl, LPCITEMIDLIST* apidl, ULONG* rgfInOut) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetUIObjectOf(HWND hwndOwner, UINT cidl, LPCITEMIDLIST* apidl, REFIID riid,
                                                  UINT* rgfReserved, void** ppv) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDisplayNameOf(LPCITEMIDLIST pidl, DWORD uFlags, STRRET* pName) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetNameOf(HWND hwnd, LPCITEMIDLIST pidl, LPCWSTR pszName, DWORD uFlags,
                                              LPITEMIDLIST* ppidlOut) = 0;
};
typedef IShellFolder* LPSHELLFOLDER;

struct IShellLinkA : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetPath(LPSTR pszFile, int cch, WIN32_FIND_DATAA* pfd, DWORD fFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIDList(LPITEMIDLIST* ppidl) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetIDList(LPCITEMIDLIST pidl) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDescription(LPSTR pszName, int cch) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDescription(LPCSTR pszName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPSTR pszDir, int cch) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCSTR pszDir) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetArguments(LPSTR pszArgs, int cch) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetArguments(LPCSTR pszArgs) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetHotkey(WORD* pwHotkey) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetHotkey(WORD wHotkey) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetShowCmd(int* piShowCmd) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetShowCmd(int iShowCmd) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIconLocation(LPSTR pszIconPath, int cch, int* piIcon) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetIconLocation(LPCSTR pszIconPath, int iIcon) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetRelativePath(LPCSTR pszPathRel, DWORD dwReserved) = 0;
  virtual HRESULT STDMETHODCALLTYPE Resolve(HWND hwnd, DWORD fFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPath(LPCSTR pszFile) = 0;
};
typedef IShellLinkA* LPSHELLLINKA;
typedef IShellLinkA IShellLink;

extern "C" {
extern const CLSID CLSID_ShellLink;
extern const IID IID_IShellLinkA;
extern const IID IID_IShellFolder;
extern const IID IID_IEnumIDList;

HRESULT WINAPI SHGetMalloc(LPMALLOC* ppMalloc);
HRESULT WINAPI SHGetDesktopFolder(IShellFolder** ppshf);
HRESULT WINAPI SHGetSpecialFolderLocation(HWND hwnd, int csidl, LPITEMIDLIST* ppidl);
BOOL WINAPI SHGetPathFromIDListA(LPCITEMIDLIST pidl, LPSTR pszPath);
BOOL WINAPI SHGetSpecialFolderPathA(HWND hwnd, LPSTR pszPath, int csidl, BOOL fCreate);
}

#endif
