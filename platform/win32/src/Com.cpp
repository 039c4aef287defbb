// COM: initialisation, the task allocator and object creation. The one class
// served is the shell link (ShellLinkObject.cpp).
#include <objbase.h>
#include <shlobj.h>

#include <cstdlib>

#include "vqwin/ShellLink.h"

namespace vqwin {
IUnknown* NewShellLinkObject();
}  // namespace vqwin

namespace {

int g_initialised = 0;

class TaskAllocator : public IMalloc {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IMalloc) {
      *ppv = static_cast<IMalloc*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  // One allocator for the whole program: its count does not matter.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  void* STDMETHODCALLTYPE Alloc(SIZE_T cb) override { return std::malloc(cb ? cb : 1); }
  void* STDMETHODCALLTYPE Realloc(void* pv, SIZE_T cb) override { return std::realloc(pv, cb ? cb : 1); }
  void STDMETHODCALLTYPE Free(void* pv) override { std::free(pv); }
  SIZE_T STDMETHODCALLTYPE GetSize(void*) override { return static_cast<SIZE_T>(-1); }
  int STDMETHODCALLTYPE DidAlloc(void*) override { return -1; }
  void STDMETHODCALLTYPE HeapMinimize() override {}
};

TaskAllocator g_allocator;

}  // namespace

namespace vqwin {
IMalloc* TaskMalloc() { return &g_allocator; }
}  // namespace vqwin

extern "C" {

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IMalloc = {0x00000002, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IPersist = {0x0000010C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IPersistFile = {0x0000010B, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const CLSID CLSID_ShellLink = {0x00021401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IShellLinkA = {0x000214EE, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IShellFolder = {0x000214E6, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IEnumIDList = {0x000214F2, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

HRESULT WINAPI CoInitialize(LPVOID) { return g_initialised++ == 0 ? S_OK : S_FALSE; }

void WINAPI CoUninitialize(void) {
  if (g_initialised > 0) --g_initialised;
}

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                                LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (g_initialised == 0) return CO_E_NOTINITIALIZED;
  if (pUnkOuter) return CLASS_E_NOAGGREGATION;
  if (rclsid != CLSID_ShellLink || (dwClsContext & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  if (vqwin::ShellSetting("link_failure") == "create") {
    // The shell's library does not load.
    SetLastError(ERROR_MOD_NOT_FOUND);
    return REGDB_E_CLASSNOTREG;
  }
  IUnknown* object = vqwin::NewShellLinkObject();
  const HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}

HRESULT WINAPI CoGetMalloc(DWORD, LPMALLOC* ppMalloc) {
  if (!ppMalloc) return E_POINTER;
  *ppMalloc = &g_allocator;
  return S_OK;
}

LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb) { return g_allocator.Alloc(cb); }
void WINAPI CoTaskMemFree(LPVOID pv) { g_allocator.Free(pv); }

HRESULT WINAPI SHGetMalloc(LPMALLOC* ppMalloc) { return CoGetMalloc(1, ppMalloc); }

}  // extern "C"
