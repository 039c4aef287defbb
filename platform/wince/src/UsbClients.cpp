// USB driver library: the client registration calls. A client registers
// its id, then the settings (vendor and product id) under which the USB host
// driver offers it the devices it matches.
#include "UsbHostState.h"
#include "vqce/Registry.h"

namespace {
constexpr wchar_t kClientDriversKey[] = L"Drivers\\USB\\ClientDrivers";
constexpr wchar_t kLoadClientsKey[] = L"Drivers\\USB\\LoadClients";
}  // namespace

namespace vqce::usb::detail {

std::wstring GroupKey(DWORD vendor, DWORD product) {
  return std::wstring(kLoadClientsKey) + L"\\" + std::to_wstring(vendor) + L"_" +
         std::to_wstring(product) + L"\\Default\\Default";
}

}  // namespace vqce::usb::detail

using vqce::usb::detail::GroupKey;

namespace {

bool CreateKey(const std::wstring& path) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

bool ValidSettings(LPCUSB_DRIVER_SETTINGS s) { return s && s->dwCount == sizeof(USB_DRIVER_SETTINGS); }

}  // namespace

extern "C" {

BOOL RegisterClientDriverID(LPCWSTR id) {
  if (!id || !*id) return FALSE;
  return CreateKey(std::wstring(kClientDriversKey) + L"\\" + id) ? TRUE : FALSE;
}

BOOL UnRegisterClientDriverID(LPCWSTR id) {
  if (!id || !*id) return FALSE;
  return RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(kClientDriversKey) + L"\\" + id).c_str()) ==
                 ERROR_SUCCESS
             ? TRUE
             : FALSE;
}

BOOL RegisterClientSettings(LPCWSTR dll, LPCWSTR id, LPCWSTR, LPCUSB_DRIVER_SETTINGS settings) {
  if (!dll || !id || !*id || !ValidSettings(settings)) return FALSE;
  if (!vqce::registry::KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kClientDriversKey) + L"\\" + id)) {
    return FALSE;  // the id must be registered first
  }
  const std::wstring path = GroupKey(settings->dwVendorId, settings->dwProductId) + L"\\" + id;
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return FALSE;
  }
  const LONG r = RegSetValueExW(key, L"Dll", 0, REG_SZ, reinterpret_cast<const BYTE*>(dll),
                                static_cast<DWORD>((wcslen(dll) + 1) * sizeof(WCHAR)));
  RegCloseKey(key);
  return r == ERROR_SUCCESS ? TRUE : FALSE;
}

BOOL UnRegisterClientSettings(LPCWSTR id, LPCWSTR, LPCUSB_DRIVER_SETTINGS settings) {
  if (!id || !*id || !ValidSettings(settings)) return FALSE;
  const std::wstring path = GroupKey(settings->dwVendorId, settings->dwProductId) + L"\\" + id;
  return RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str()) == ERROR_SUCCESS ? TRUE : FALSE;
}

}  // extern "C"
