// The shell's namespace over the machine's folders: special folders, item
// lists, the desktop folder, folder enumeration and display names.
//
// An item list here is one item followed by the terminating zero: a tag byte
// ('P' a full path, 'N' a name inside its folder), the text and its zero,
// and for names the in-folder display name and its zero (so that
// STRRET_OFFSET can point into the item).
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "Text.h"
#include "vqwin/CodePage.h"
#include "vqwin/Machine.h"
#include "vqwin/ShellLink.h"

namespace vqwin {
IMalloc* TaskMalloc();

namespace {

LPITEMIDLIST MakeIdList(char tag, const std::string& text, const std::string& display) {
  std::string body(1, tag);
  body += text;
  body += '\0';
  if (tag == 'N') {
    body += display;
    body += '\0';
  }
  const size_t cb = 2 + body.size();
  BYTE* p = static_cast<BYTE*>(CoTaskMemAlloc(cb + 2));
  const USHORT size = static_cast<USHORT>(cb);
  std::memcpy(p, &size, 2);
  std::memcpy(p + 2, body.data(), body.size());
  std::memset(p + cb, 0, 2);
  return reinterpret_cast<LPITEMIDLIST>(p);
}

// Tag and text of an item list; false for an empty or foreign one.
bool ReadIdList(LPCITEMIDLIST pidl, char& tag, std::string& text) {
  if (!pidl) return false;
  USHORT cb = 0;
  std::memcpy(&cb, pidl, 2);
  if (cb < 4) return false;
  const char* body = reinterpret_cast<const char*>(pidl) + 2;
  tag = body[0];
  if (tag != 'P' && tag != 'N') return false;
  text.assign(body + 1, strnlen(body + 1, cb - 3));
  return true;
}

// Windows does not show the extension of a shell link.
std::string InFolderName(const std::string& name) {
  if (name.size() > 4 && EqualNoCase(name.substr(name.size() - 4), ".lnk")) return name.substr(0, name.size() - 4);
  return name;
}

std::string Join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '\\') return folder + name;
  return folder + "\\" + name;
}

// Makes each missing folder of a path; the second byte of a two-byte
// character of the machine's code page is no separator.
void MakeFolders(const std::string& path) {
  for (size_t i = 3; i < path.size(); ++i) {
    if (IsLeadByte(static_cast<unsigned char>(path[i]), CP_ACP)) {
      ++i;
      continue;
    }
    if (path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
  }
  CreateDirectoryA(path.c_str(), nullptr);
}

class EnumObject : public IEnumIDList {
 public:
  explicit EnumObject(std::vector<std::string> names) : names_(std::move(names)) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IEnumIDList) return E_NOINTERFACE;
    *ppv = static_cast<IEnumIDList*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++count_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --count_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPITEMIDLIST* rgelt, ULONG* pceltFetched) override {
    if (!rgelt) return E_POINTER;
    ULONG got = 0;
    while (got < celt && next_ < names_.size()) {
      const std::string& name = names_[next_++];
      rgelt[got++] = MakeIdList('N', name, InFolderName(name));
    }
    if (pceltFetched) *pceltFetched = got;
    return got == celt ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
    next_ = std::min(names_.size(), next_ + celt);
    return next_ < names_.size() ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    next_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumIDList** ppenum) override {
    if (!ppenum) return E_POINTER;
    *ppenum = new EnumObject(names_);
    return S_OK;
  }

 private:
  ULONG count_ = 1;
  std::vector<std::string> names_;
  size_t next_ = 0;
};

HRESULT HandName(const std::string& text, LPCITEMIDLIST pidl, bool offsetAllowed, STRRET* out) {
  const std::string kind = ShellSetting("display_names");
  if (kind == "wstr") {
    const std::wstring wide = ToWide(text);
    auto* p = static_cast<LPWSTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(WCHAR)));
    std::memcpy(p, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
    out->uType = STRRET_WSTR;
    out->pOleStr = p;
    return S_OK;
  }
  if (kind == "offset" && offsetAllowed) {
    // The display name follows the tag, the name and its zero.
    const char* body = reinterpret_cast<const char*>(pidl) + 2;
    out->uType = STRRET_OFFSET;
    out->uOffset = static_cast<UINT>(2 + 1 + std::strlen(body + 1) + 1);
    return S_OK;
  }
  out->uType = STRRET_CSTR;
  const size_t n = std::min(text.size(), sizeof out->cStr - 1);
  std::memcpy(out->cStr, text.data(), n);
  out->cStr[n] = '\0';
  return S_OK;
}

class FolderObject : public IShellFolder {
 public:
  explicit FolderObject(std::string path) : path_(std::move(path)) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IShellFolder) return E_NOINTERFACE;
    *ppv = static_cast<IShellFolder*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++count_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --count_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE ParseDisplayName(HWND, LPBC, LPWSTR, ULONG*, LPITEMIDLIST*, ULONG*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE EnumObjects(HWND, DWORD grfFlags, IEnumIDList** ppenumIDList) override {
    if (!ppenumIDList) return E_POINTER;
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(Join(path_, "*.*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool hidden = (found.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
        if (hidden && (grfFlags & SHCONTF_INCLUDEHIDDEN) == 0) continue;
        if (folder ? (grfFlags & SHCONTF_FOLDERS) : (grfFlags & SHCONTF_NONFOLDERS)) names.push_back(name);
      } while (FindNextFileA(find, &found));
      FindClose(find);
    }
    *ppenumIDList = new EnumObject(std::move(names));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE BindToObject(LPCITEMIDLIST pidl, LPBC, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    char tag = 0;
    std::string text;
    if (!ReadIdList(pidl, tag, text)) return E_INVALIDARG;
    const std::string path = tag == 'P' ? text : Join(path_, text);
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return E_FAIL;
    FolderObject* folder = new FolderObject(path);
    const HRESULT hr = folder->QueryInterface(riid, ppv);
    folder->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE BindToStorage(LPCITEMIDLIST, LPBC, REFIID, void** ppv) override {
    if (ppv) *ppv = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CompareIDs(LPARAM, LPCITEMIDLIST, LPCITEMIDLIST) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateViewObject(HWND, REFIID, void** ppv) override {
    if (ppv) *ppv = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetAttributesOf(UINT, LPCITEMIDLIST*, ULONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetUIObjectOf(HWND, UINT, LPCITEMIDLIST*, REFIID, UINT*, void** ppv) override {
    if (ppv) *ppv = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDisplayNameOf(LPCITEMIDLIST pidl, DWORD uFlags, STRRET* pName) override {
    if (!pName) return E_POINTER;
    char tag = 0;
    std::string text;
    if (!ReadIdList(pidl, tag, text)) return E_INVALIDARG;
    if (uFlags & SHGDN_FORPARSING) return HandName(tag == 'P' ? text : Join(path_, text), pidl, false, pName);
    if (tag == 'P') return HandName(text, pidl, false, pName);
    return HandName(InFolderName(text), pidl, true, pName);
  }
  HRESULT STDMETHODCALLTYPE SetNameOf(HWND, LPCITEMIDLIST, LPCWSTR, DWORD, LPITEMIDLIST* ppidlOut) override {
    if (ppidlOut) *ppidlOut = nullptr;
    return E_NOTIMPL;
  }

 private:
  ULONG count_ = 1;
  std::string path_;
};

}  // namespace

std::string ShellSetting(const std::string& key) {
  const MachineSpec& spec = CurrentMachine().spec();
  auto it = spec.extra.find("shell");
  if (it == spec.extra.end()) return std::string();
  if (!it->second.Has(key)) return std::string();
  const auto& value = it->second.values.at(key);
  if (std::holds_alternative<int64_t>(value)) return std::to_string(std::get<int64_t>(value));
  // machine.toml is UTF-8; programs see its texts (folder paths, the
  // package's marker) in the machine's code page.
  const std::string text = it->second.Str(key);
  for (unsigned char c : text)
    if (c >= 0x80) return FromUtf8(text, CP_ACP);
  return text;
}

std::string SpecialFolderPath(int csidl) {
  const OsSpec& os = CurrentMachine().spec().os;
  std::string profile;
  if (os.Is9x()) {
    profile = os.windowsDir;
  } else if (os.major <= 4) {
    profile = os.windowsDir + "\\Profiles\\" + CurrentMachine().spec().userName;
  } else {
    profile = os.windowsDir.substr(0, 2) + "\\Documents and Settings\\" + CurrentMachine().spec().userName;
  }
  switch (csidl) {
    case CSIDL_DESKTOP:
    case CSIDL_DESKTOPDIRECTORY: {
      const std::string given = ShellSetting("desktop");
      return given.empty() ? profile + "\\Desktop" : given;
    }
    case CSIDL_PROGRAMS: {
      const std::string given = ShellSetting("programs");
      return given.empty() ? profile + "\\Start Menu\\Programs" : given;
    }
    case CSIDL_STARTMENU:
      return profile + "\\Start Menu";
    case CSIDL_STARTUP:
      return SpecialFolderPath(CSIDL_PROGRAMS) + "\\Startup";
    default:
      return std::string();
  }
}

}  // namespace vqwin

using namespace vqwin;

extern "C" {

HRESULT WINAPI SHGetSpecialFolderLocation(HWND, int csidl, LPITEMIDLIST* ppidl) {
  if (!ppidl) return E_POINTER;
  *ppidl = nullptr;
  const std::string path = SpecialFolderPath(csidl);
  if (path.empty()) return E_INVALIDARG;
  // A PC has its special folders: one missing on the machine is made.
  MakeFolders(path);
  *ppidl = MakeIdList('P', path, std::string());
  return S_OK;
}

BOOL WINAPI SHGetPathFromIDListA(LPCITEMIDLIST pidl, LPSTR pszPath) {
  if (!pszPath) return FALSE;
  pszPath[0] = '\0';
  char tag = 0;
  std::string text;
  if (!ReadIdList(pidl, tag, text) || tag != 'P' || text.size() >= MAX_PATH) return FALSE;
  std::memcpy(pszPath, text.c_str(), text.size() + 1);
  return TRUE;
}

BOOL WINAPI SHGetSpecialFolderPathA(HWND, LPSTR pszPath, int csidl, BOOL fCreate) {
  if (!pszPath) return FALSE;
  pszPath[0] = '\0';
  const std::string path = SpecialFolderPath(csidl);
  if (path.empty() || path.size() >= MAX_PATH) return FALSE;
  if (fCreate) MakeFolders(path);
  std::memcpy(pszPath, path.c_str(), path.size() + 1);
  return TRUE;
}

HRESULT WINAPI SHGetDesktopFolder(IShellFolder** ppshf) {
  if (!ppshf) return E_POINTER;
  const std::string path = SpecialFolderPath(CSIDL_DESKTOP);
  MakeFolders(path);
  *ppshf = new FolderObject(path);
  return S_OK;
}

}  // extern "C"
