// The shell link object (CLSID_ShellLink: IShellLinkA and IPersistFile) and
// the link file of our own form (vqwin/ShellLink.h).
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>

#include "vqwin/CodePage.h"
#include "vqwin/ShellLink.h"

namespace vqwin {
namespace {

const char kMagic[] = "VQWIN SHELL LINK";

HRESULT CopyOut(const std::string& value, LPSTR out, int cch) {
  if (!out || cch <= 0) return E_INVALIDARG;
  const size_t n = std::min(value.size(), static_cast<size_t>(cch - 1));
  std::memcpy(out, value.data(), n);
  out[n] = '\0';
  return S_OK;
}

class ShellLinkObject : public IShellLinkA, public IPersistFile {
 public:
  // IUnknown (both bases share the one count).
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IShellLinkA) {
      *ppv = static_cast<IShellLinkA*>(this);
    } else if (riid == IID_IPersistFile || riid == IID_IPersist) {
      if (ShellSetting("link_failure") == "persist_file") return E_NOINTERFACE;
      *ppv = static_cast<IPersistFile*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++count_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --count_;
    if (left == 0) delete this;
    return left;
  }

  // IShellLinkA
  HRESULT STDMETHODCALLTYPE GetPath(LPSTR pszFile, int cch, WIN32_FIND_DATAA* pfd, DWORD) override {
    if (pfd) std::memset(pfd, 0, sizeof *pfd);
    return CopyOut(link_.target, pszFile, cch);
  }
  HRESULT STDMETHODCALLTYPE GetIDList(LPITEMIDLIST*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetIDList(LPCITEMIDLIST) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDescription(LPSTR pszName, int cch) override {
    return CopyOut(link_.description, pszName, cch);
  }
  HRESULT STDMETHODCALLTYPE SetDescription(LPCSTR pszName) override { return Set(link_.description, pszName); }
  HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPSTR pszDir, int cch) override {
    return CopyOut(link_.workingDirectory, pszDir, cch);
  }
  HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCSTR pszDir) override { return Set(link_.workingDirectory, pszDir); }
  HRESULT STDMETHODCALLTYPE GetArguments(LPSTR pszArgs, int cch) override {
    return CopyOut(link_.arguments, pszArgs, cch);
  }
  HRESULT STDMETHODCALLTYPE SetArguments(LPCSTR pszArgs) override { return Set(link_.arguments, pszArgs); }
  HRESULT STDMETHODCALLTYPE GetHotkey(WORD* pwHotkey) override {
    if (!pwHotkey) return E_POINTER;
    *pwHotkey = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetHotkey(WORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetShowCmd(int* piShowCmd) override {
    if (!piShowCmd) return E_POINTER;
    *piShowCmd = SW_SHOWNORMAL;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetShowCmd(int) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetIconLocation(LPSTR pszIconPath, int cch, int* piIcon) override {
    if (piIcon) *piIcon = link_.iconIndex;
    return CopyOut(link_.iconLocation, pszIconPath, cch);
  }
  HRESULT STDMETHODCALLTYPE SetIconLocation(LPCSTR pszIconPath, int iIcon) override {
    link_.iconIndex = iIcon;
    return Set(link_.iconLocation, pszIconPath);
  }
  HRESULT STDMETHODCALLTYPE SetRelativePath(LPCSTR, DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Resolve(HWND, DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetPath(LPCSTR pszFile) override { return Set(link_.target, pszFile); }

  // IPersistFile
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) override {
    if (!pClassID) return E_POINTER;
    *pClassID = CLSID_ShellLink;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE Load(LPCOLESTR pszFileName, DWORD) override {
    if (!pszFileName) return E_POINTER;
    if (ShellSetting("link_failure") == "load") return STG_E_FILENOTFOUND;
    const std::optional<ShellLinkData> read = ReadShellLink(FromWide(pszFileName));
    if (!read) return STG_E_FILENOTFOUND;
    link_ = *read;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Save(LPCOLESTR pszFileName, BOOL) override {
    if (!pszFileName) return E_POINTER;
    return WriteShellLink(FromWide(pszFileName), link_) ? S_OK : STG_E_WRITEFAULT;
  }
  HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* ppszFileName) override {
    if (ppszFileName) *ppszFileName = nullptr;
    return E_NOTIMPL;
  }

 private:
  static HRESULT Set(std::string& field, LPCSTR value) {
    if (!value) return E_INVALIDARG;
    field = value;
    return S_OK;
  }
  ULONG count_ = 1;
  ShellLinkData link_;
};

std::string ValueAfter(const std::string& line, const char* key) {
  const size_t n = std::strlen(key);
  return line.compare(0, n, key) == 0 ? line.substr(n) : std::string();
}

}  // namespace

IUnknown* NewShellLinkObject() { return static_cast<IShellLinkA*>(new ShellLinkObject); }

std::optional<ShellLinkData> ReadShellLink(const std::string& windowsPath) {
  HANDLE file = CreateFileA(windowsPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (text.size() < 65536 && ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
    text.append(buffer, got);
  CloseHandle(file);

  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line != kMagic) return std::nullopt;
  ShellLinkData link;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("Target=", 0) == 0) link.target = ValueAfter(line, "Target=");
    else if (line.rfind("Arguments=", 0) == 0) link.arguments = ValueAfter(line, "Arguments=");
    else if (line.rfind("WorkingDirectory=", 0) == 0) link.workingDirectory = ValueAfter(line, "WorkingDirectory=");
    else if (line.rfind("Description=", 0) == 0) link.description = ValueAfter(line, "Description=");
    else if (line.rfind("IconLocation=", 0) == 0) link.iconLocation = ValueAfter(line, "IconLocation=");
    else if (line.rfind("IconIndex=", 0) == 0) link.iconIndex = std::atoi(ValueAfter(line, "IconIndex=").c_str());
  }
  return link;
}

bool WriteShellLink(const std::string& windowsPath, const ShellLinkData& link) {
  std::string text = std::string(kMagic) + "\r\n";
  text += "Target=" + link.target + "\r\n";
  text += "Arguments=" + link.arguments + "\r\n";
  text += "WorkingDirectory=" + link.workingDirectory + "\r\n";
  text += "Description=" + link.description + "\r\n";
  text += "IconLocation=" + link.iconLocation + "\r\n";
  text += "IconIndex=" + std::to_string(link.iconIndex) + "\r\n";
  HANDLE file = CreateFileA(windowsPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == text.size();
}

}  // namespace vqwin
