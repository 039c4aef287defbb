// The USB client driver interface: installation and removal with the USB
// host driver, device attach and the close-device notification.
#include "Driver.h"
#include "VQRDCE.h"

namespace {

const WCHAR ClientDriverId[] = L"VQRDCE";
const WCHAR DriverKey[] = L"Drivers\\USB\\Vqrdce";
const WCHAR StreamPrefix[] = L"VQU";

USB_DRIVER_SETTINGS DriverSettings() {
  USB_DRIVER_SETTINGS s;
  s.dwCount = sizeof(USB_DRIVER_SETTINGS);
  s.dwVendorId = ReaderVendorId;
  s.dwProductId = ReaderProductId;
  s.dwReleaseNumber = USB_NO_INFO;
  s.dwDeviceClass = USB_NO_INFO;
  s.dwDeviceSubClass = USB_NO_INFO;
  s.dwDeviceProtocol = USB_NO_INFO;
  s.dwInterfaceClass = USB_NO_INFO;
  s.dwInterfaceSubClass = USB_NO_INFO;
  s.dwInterfaceProtocol = USB_NO_INFO;
  return s;
}

LONG SetString(HKEY key, LPCWSTR name, LPCWSTR text) {
  return RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                       static_cast<DWORD>((wcslen(text) + 1) * sizeof(WCHAR)));
}

void ClosePipes(LPCUSB_FUNCS funcs, USB_PIPE* pipes, int count) {
  for (int i = 0; i < count; ++i) {
    if (pipes[i]) funcs->lpClosePipe(pipes[i]);
    pipes[i] = NULL;
  }
}

}  // namespace

BOOL USBInstallDriver(LPCWSTR szDriverLibFile) {
  if (szDriverLibFile == NULL) return FALSE;
  if (!RegisterClientDriverID(ClientDriverId)) return FALSE;
  const USB_DRIVER_SETTINGS settings = DriverSettings();
  if (!RegisterClientSettings(szDriverLibFile, ClientDriverId, NULL, &settings)) return FALSE;
  HKEY key = NULL;
  BOOL ok = RegCreateKeyEx(HKEY_LOCAL_MACHINE, DriverKey, 0, NULL, 0, 0, NULL, &key, NULL) == ERROR_SUCCESS;
  ok = ok && SetString(key, DEVLOAD_DLLNAME_VALNAME, szDriverLibFile) == ERROR_SUCCESS;
  ok = ok && SetString(key, DEVLOAD_PREFIX_VALNAME, StreamPrefix) == ERROR_SUCCESS;
  if (key) RegCloseKey(key);
  if (!ok) {
    if (key) RegDeleteKey(HKEY_LOCAL_MACHINE, DriverKey);
    return FALSE;
  }
  return TRUE;
}

BOOL USBUnInstallDriver(void) {
  const USB_DRIVER_SETTINGS settings = DriverSettings();
  BOOL ok = UnRegisterClientSettings(ClientDriverId, NULL, &settings);
  if (ok) ok = UnRegisterClientDriverID(ClientDriverId);
  RegDeleteKey(HKEY_LOCAL_MACHINE, DriverKey);
  return ok ? TRUE : FALSE;
}

BOOL USBDeviceAttach(USB_HANDLE hDevice, LPCUSB_FUNCS lpUsbFuncs, LPCUSB_INTERFACE lpInterface, LPCWSTR,
                     LPBOOL fAcceptControl, LPCUSB_DRIVER_SETTINGS, DWORD) {
  if (fAcceptControl) *fAcceptControl = FALSE;
  if (lpUsbFuncs == NULL) return FALSE;
  if (lpInterface == NULL) {
    LPCUSB_DEVICE device = lpUsbFuncs->lpGetDeviceInfo(hDevice);
    if (device == NULL) return FALSE;
    lpInterface = lpUsbFuncs->lpFindInterface(device, 0, 0);
    if (lpInterface == NULL) return FALSE;
  }
  DeviceTableLockInit();

  enum { BulkIn, BulkOut, InterruptIn };
  USB_PIPE pipes[3] = {NULL, NULL, NULL};
  DWORD count = lpInterface->Descriptor.bNumEndpoints;
  if (count > 3) count = 3;
  for (DWORD i = 0; i < count && lpInterface->lpEndpoints; ++i) {
    const USB_ENDPOINT_DESCRIPTOR* ep = &lpInterface->lpEndpoints[i].Descriptor;
    const UCHAR type = ep->bmAttributes & USB_ENDPOINT_TYPE_MASK;
    int which = -1;
    if (USB_ENDPOINT_DIRECTION_IN(ep->bEndpointAddress)) {
      if (type == USB_ENDPOINT_TYPE_BULK) which = BulkIn;
      if (type == USB_ENDPOINT_TYPE_INTERRUPT) which = InterruptIn;
    } else if (type == USB_ENDPOINT_TYPE_BULK) {
      which = BulkOut;
    }
    if (which >= 0 && pipes[which] == NULL) pipes[which] = lpUsbFuncs->lpOpenPipe(hDevice, ep);
  }
  if (!pipes[BulkIn] || !pipes[BulkOut] || !pipes[InterruptIn]) {
    ClosePipes(lpUsbFuncs, pipes, 3);
    return FALSE;
  }

  ReaderDeviceBlock* block = static_cast<ReaderDeviceBlock*>(LocalAlloc(LPTR, sizeof(ReaderDeviceBlock)));
  if (block == NULL) {
    ClosePipes(lpUsbFuncs, pipes, 3);
    return FALSE;
  }
  ReaderDeviceData* dev = &block->DeviceData;
  block->Extension.DeviceData = dev;
  dev->BulkInPipe = pipes[BulkIn];
  dev->BulkOutPipe = pipes[BulkOut];
  dev->InterruptInPipe = pipes[InterruptIn];
  dev->UsbFuncs = lpUsbFuncs;
  dev->UsbHandle = hDevice;

  dev->StreamDevice = ActivateDeviceEx(DriverKey, NULL, 0, block);
  if (dev->StreamDevice == NULL || dev->StreamDevice == INVALID_HANDLE_VALUE) {
    ClosePipes(lpUsbFuncs, pipes, 3);
    LocalFree(block);
    return FALSE;
  }
  lpUsbFuncs->lpRegisterNotificationRoutine(hDevice, UsbDeviceNotify, block);
  if (fAcceptControl) *fAcceptControl = TRUE;

  dev->CardStatusThread = CreateThread(NULL, 0, CardStatusThread, block, CREATE_SUSPENDED, &dev->CardStatusThreadId);
  if (dev->CardStatusThread == NULL) {
    // Without its thread the reader is given up as an unplug would: the
    // notification is withdrawn first, then the stream device goes (and
    // with it the context), then the pipes and the block.
    lpUsbFuncs->lpUnRegisterNotificationRoutine(hDevice, UsbDeviceNotify, block);
    if (fAcceptControl) *fAcceptControl = FALSE;
    DeactivateDevice(dev->StreamDevice);
    ClosePipes(lpUsbFuncs, pipes, 3);
    LocalFree(block);
    return FALSE;
  }
  SetRunState(dev, RunStateAttached);
  ResumeThread(dev->CardStatusThread);
  return TRUE;
}

BOOL UsbDeviceNotify(LPVOID lpvNotifyParameter, DWORD dwCode, LPDWORD*, LPDWORD*, LPDWORD*, LPDWORD*) {
  if (dwCode != USB_CLOSE_DEVICE) return FALSE;
  ReaderDeviceBlock* block = static_cast<ReaderDeviceBlock*>(lpvNotifyParameter);
  ReaderDeviceData* dev = &block->DeviceData;
  DeactivateDevice(dev->StreamDevice);
  LPCUSB_FUNCS funcs = dev->UsbFuncs;
  USB_PIPE pipes[3] = {dev->BulkInPipe, dev->BulkOutPipe, dev->InterruptInPipe};
  ClosePipes(funcs, pipes, 3);
  LocalFree(block);
  return TRUE;
}
