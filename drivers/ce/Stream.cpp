// The stream interface (prefix VQU) that the device manager and the
// smart-card subsystem call.
#include "Driver.h"
#include "Frame.h"
#include "IoControl.h"
#include "VQRDCE.h"

namespace {

constexpr DWORD CloseCancelRounds = 2;
constexpr DWORD CloseCancelSleepMs = 10;

SmartcardExtension* Context(DWORD_PTR handle) { return reinterpret_cast<SmartcardExtension*>(handle); }

DWORD NoTransfer() { return 0; }
void NoPowerChange() {}

}  // namespace

DWORD_PTR VQU_Init(LPCWSTR pContext, LPCVOID) {
  GlobalSeqNum = 0;
  SmartcardExtension* ext = InitReaderDevice(pContext);
  if (ext == NULL) return 0;
  if (!DeviceTableAdd(ext)) {
    TearDownReaderDevice(ext);
    return 0;
  }
  return reinterpret_cast<DWORD_PTR>(ext);
}

BOOL VQU_Deinit(DWORD_PTR hDeviceContext) {
  SmartcardExtension* ext = Context(hDeviceContext);
  VQU_Close(hDeviceContext);
  TearDownReaderDevice(ext);
  return TRUE;
}

DWORD_PTR VQU_Open(DWORD_PTR hDeviceContext, DWORD, DWORD) {
  SmartcardExtension* ext = Context(hDeviceContext);
  if (!DeviceTableAcquire(ext)) {
    SetLastError(ERROR_BAD_DEVICE);
    return 0;
  }
  DWORD_PTR result = 0;
  ReaderOsRecord* os = ext->OsData;
  EnterCriticalSection(&os->ReaderLock);
  if (GetRunState(ext->DeviceData) == RunStateAttached) {
    CardCapabilities& card = ext->CardCapabilities;
    const ClockRateEntry* clockRates = card.ClockRateConversion;
    const BitRateEntry* bitRates = card.BitRateAdjustment;
    memset(&card, 0, sizeof(card));
    card.ClockRateConversion = clockRates;
    card.BitRateAdjustment = bitRates;
    SetRunState(ext->DeviceData, RunStateOpen);
    result = hDeviceContext;
  } else {
    SetLastError(ERROR_SHARING_VIOLATION);
  }
  LeaveCriticalSection(&os->ReaderLock);
  DeviceTableRelease(ext);
  return result;
}

BOOL VQU_Close(DWORD_PTR hOpenContext) {
  SmartcardExtension* ext = Context(hOpenContext);
  if (!DeviceTableAcquire(ext)) {
    SetLastError(ERROR_BAD_DEVICE);
    return FALSE;
  }
  ReaderDeviceData* dev = ext->DeviceData;
  ReaderOsRecord* os = ext->OsData;
  EnterCriticalSection(&os->ReaderLock);
  if (GetRunState(dev) != RunStateOpen) {
    LeaveCriticalSection(&os->ReaderLock);
    DeviceTableRelease(ext);
    SetLastError(ERROR_BAD_DEVICE);
    return FALSE;
  }
  SetRunState(dev, RunStateAttached);
  // Another call in progress (a card-tracking wait) is cancelled.
  DWORD cancels = 0;
  for (; cancels < CloseCancelRounds && InterlockedCompareExchange(&dev->RefCount, 0, 0) > 1; ++cancels) {
    SmartcardIoctlDispatch(ext, IOCTL_SMARTCARD_CANCEL_TRACKING, NULL, 0, NULL, 0, NULL);
    Sleep(CloseCancelSleepMs);
  }
  // Every wait still pending ends too, however many there are: each cancel
  // releases one waiting thread (auto-reset event), and the count includes
  // waits already released that have not yet taken the lock back, so it is
  // never short. No wait can begin meanwhile: that needs this lock, and the
  // reader is no longer open. The loop runs at most once per pending wait.
  for (; cancels < BlockOf(ext)->TrackingWaits; ++cancels) {
    SmartcardIoctlDispatch(ext, IOCTL_SMARTCARD_CANCEL_TRACKING, NULL, 0, NULL, 0, NULL);
  }
  if (ext->ReaderCapabilities.CurrentState >= CardStateSwallowed) {
    ext->ReaderCapabilities.CurrentState = CardStateSwallowed;
    ext->CardCapabilities.ATRLength = 0;
  }
  LeaveCriticalSection(&os->ReaderLock);
  DeviceTableRelease(ext);
  return TRUE;
}

BOOL VQU_IOControl(DWORD_PTR hOpenContext, DWORD dwCode, PBYTE pBufIn, DWORD dwLenIn, PBYTE pBufOut,
                   DWORD dwLenOut, PDWORD pdwActualOut) {
  if (pdwActualOut) *pdwActualOut = 0;
  SmartcardExtension* ext = Context(hOpenContext);
  if (!DeviceTableAcquire(ext)) {
    SetLastError(ERROR_BAD_DEVICE);
    return FALSE;
  }
  if (GetRunState(ext->DeviceData) != RunStateOpen) {
    DeviceTableRelease(ext);
    return FALSE;
  }
  const NTSTATUS status =
      SmartcardIoctlDispatch(ext, dwCode, pBufIn, dwLenIn, pBufOut, dwLenOut, pdwActualOut);
  DeviceTableRelease(ext);
  return status == STATUS_SUCCESS ? TRUE : FALSE;
}

DWORD VQU_Read(DWORD_PTR, LPVOID, DWORD) { return NoTransfer(); }
DWORD VQU_Write(DWORD_PTR, LPCVOID, DWORD) { return NoTransfer(); }
DWORD VQU_Seek(DWORD_PTR, LONG, DWORD) { return NoTransfer(); }
void VQU_PowerUp(DWORD_PTR) { NoPowerChange(); }
void VQU_PowerDown(DWORD_PTR) { NoPowerChange(); }

BOOL DllMain(HINSTANCE hInstDll, DWORD dwReason, LPVOID) {
  if (dwReason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(hInstDll);
  return TRUE;
}

// Here the dynamic loader runs the entry point as the library comes in.
namespace {
__attribute__((constructor)) void ProcessAttach() { DllMain(NULL, DLL_PROCESS_ATTACH, NULL); }
}  // namespace
