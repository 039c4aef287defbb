// Exported entry points of VQRDCE: the USB client driver interface called by
// the USB host driver and the stream interface (prefix VQU) called by the
// device manager. Stream contexts are pointer-wide (a DWORD on the 32-bit
// target).
#pragma once

#include <usbdi.h>
#include <windows.h>

#define VQRDCE_API extern "C" __attribute__((visibility("default")))

VQRDCE_API BOOL USBInstallDriver(LPCWSTR szDriverLibFile);
VQRDCE_API BOOL USBUnInstallDriver(void);
VQRDCE_API BOOL USBDeviceAttach(USB_HANDLE hDevice, LPCUSB_FUNCS lpUsbFuncs,
                                LPCUSB_INTERFACE lpInterface, LPCWSTR szUniqueDriverId,
                                LPBOOL fAcceptControl, LPCUSB_DRIVER_SETTINGS lpDriverSettings,
                                DWORD dwUnused);

VQRDCE_API DWORD_PTR VQU_Init(LPCWSTR pContext, LPCVOID lpvBusContext);
VQRDCE_API BOOL VQU_Deinit(DWORD_PTR hDeviceContext);
VQRDCE_API DWORD_PTR VQU_Open(DWORD_PTR hDeviceContext, DWORD AccessCode, DWORD ShareMode);
VQRDCE_API BOOL VQU_Close(DWORD_PTR hOpenContext);
VQRDCE_API BOOL VQU_IOControl(DWORD_PTR hOpenContext, DWORD dwCode, PBYTE pBufIn, DWORD dwLenIn,
                              PBYTE pBufOut, DWORD dwLenOut, PDWORD pdwActualOut);
VQRDCE_API DWORD VQU_Read(DWORD_PTR hOpenContext, LPVOID pBuffer, DWORD Count);
VQRDCE_API DWORD VQU_Write(DWORD_PTR hOpenContext, LPCVOID pBuffer, DWORD Count);
VQRDCE_API DWORD VQU_Seek(DWORD_PTR hOpenContext, LONG Amount, DWORD Type);
VQRDCE_API void VQU_PowerUp(DWORD_PTR hDeviceContext);
VQRDCE_API void VQU_PowerDown(DWORD_PTR hDeviceContext);

// The library's entry point (not an export): the loader calls it when the
// library is loaded.
BOOL DllMain(HINSTANCE hInstDll, DWORD dwReason, LPVOID lpvReserved);
