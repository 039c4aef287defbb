// A reader's life inside the driver: the device table, set-up from the
// active key and the reader information, the reader name and its
// introduction, the card-status thread, and tear-down.
#include "Atr.h"
#include "Commands.h"
#include "Driver.h"
#include "Frame.h"
#include "IoControl.h"
#include "Smartcard.h"
#include "Transport.h"

SmartcardExtension* DeviceTable[MaxReaders];
uint32_t UnitCounter;

namespace {

CRITICAL_SECTION DeviceTableLock;
bool DeviceTableLockReady;

typedef LONG (*PFN_SCARD_INTRODUCE_READER)(ULONG_PTR hContext, LPCWSTR szReaderName, LPCWSTR szDeviceName);
typedef LONG (*PFN_SCARD_FORGET_READER)(ULONG_PTR hContext, LPCWSTR szReaderName);
PFN_SCARD_INTRODUCE_READER pSCardIntroduceReader;
PFN_SCARD_FORGET_READER pSCardForgetReader;

const uint8_t VendorName[] = "TERVANE";
const uint8_t DefaultIfdType[] = "VQ480T";

constexpr uint32_t ReaderClockKhz = 3571;
constexpr uint32_t InitialMaxIfsd = 251;
constexpr uint32_t ReaderTypeUsb = 0x20;
constexpr uint8_t ReaderNotifySlotChange = 0x50;
constexpr DWORD DeviceNameChars = 16;        // "Name": at most 32 bytes on the target
constexpr DWORD ThreadStopWaitMs = 3000;
// Pause of the card-status thread after a failed interrupt read: 10 ms after
// the first failure, doubled with every further failure in a row, at most 1 s.
constexpr DWORD FailedNoticePauseFirstMs = 10;
constexpr DWORD FailedNoticePauseMaxMs = 1000;
constexpr DWORD LingeringCallWaitMs = 100;

void SetText(CountedText& text, const uint8_t* bytes, uint16_t length) {
  memset(text.Buffer, 0, sizeof(text.Buffer));
  memcpy(text.Buffer, bytes, length);
  text.Length = length;
}

LONG ReadCount(const volatile LONG* count) {
  return InterlockedCompareExchange(const_cast<volatile LONG*>(count), 0, 0);
}

}  // namespace

uint32_t GetRunState(const ReaderDeviceData* DeviceData) {
  return __atomic_load_n(&DeviceData->RunState, __ATOMIC_SEQ_CST);
}

void SetRunState(ReaderDeviceData* DeviceData, uint32_t State) {
  __atomic_store_n(&DeviceData->RunState, State, __ATOMIC_SEQ_CST);
}

// ---- device table

void DeviceTableLockInit() {
  if (!DeviceTableLockReady) {
    InitializeCriticalSection(&DeviceTableLock);
    DeviceTableLockReady = true;
  }
}

BOOL DeviceTableAdd(SmartcardExtension* ext) {
  BOOL placed = FALSE;
  EnterCriticalSection(&DeviceTableLock);
  for (uint32_t i = 0; i < MaxReaders && !placed; ++i) {
    if (DeviceTable[i] == NULL) {
      DeviceTable[i] = ext;
      placed = TRUE;
    }
  }
  LeaveCriticalSection(&DeviceTableLock);
  return placed;
}

BOOL DeviceTableRemove(SmartcardExtension* ext) {
  BOOL found = FALSE;
  EnterCriticalSection(&DeviceTableLock);
  for (uint32_t i = 0; i < MaxReaders && !found; ++i) {
    if (DeviceTable[i] == ext) {
      DeviceTable[i] = NULL;
      found = TRUE;
    }
  }
  LeaveCriticalSection(&DeviceTableLock);
  return found;
}

BOOL DeviceTableAcquire(SmartcardExtension* ext) {
  BOOL found = FALSE;
  if (ext == NULL || !DeviceTableLockReady) return FALSE;
  EnterCriticalSection(&DeviceTableLock);
  for (uint32_t i = 0; i < MaxReaders && !found; ++i) {
    if (DeviceTable[i] == ext) {
      // Only a context still in the table is touched, and it cannot leave
      // the table while this lock is held.
      InterlockedIncrement(&ext->DeviceData->RefCount);
      found = TRUE;
    }
  }
  LeaveCriticalSection(&DeviceTableLock);
  return found;
}

void DeviceTableRelease(SmartcardExtension* ext) { InterlockedDecrement(&ext->DeviceData->RefCount); }

// ---- set-up

void ReadActiveKey(LPCWSTR Path, WCHAR* DeviceName, DWORD DeviceNameBytes, LPVOID* ClientInfo) {
  if (DeviceName && DeviceNameBytes >= sizeof(WCHAR)) DeviceName[0] = 0;
  if (ClientInfo) *ClientInfo = NULL;
  HKEY key;
  if (Path == NULL || RegOpenKeyEx(HKEY_LOCAL_MACHINE, Path, 0, 0, &key) != ERROR_SUCCESS) return;
  if (ClientInfo) {
    // Pointer-wide: a DWORD on the target.
    DWORD_PTR info = 0;
    DWORD size = sizeof(info);
    if (RegQueryValueEx(key, DEVLOAD_CLIENTINFO_VALNAME, NULL, NULL, reinterpret_cast<LPBYTE>(&info),
                        &size) == ERROR_SUCCESS &&
        (size == sizeof(DWORD) || size == sizeof(DWORD_PTR))) {
      *ClientInfo = reinterpret_cast<LPVOID>(info);
    }
  }
  if (DeviceName && DeviceNameBytes >= sizeof(WCHAR)) {
    DWORD size = DeviceNameBytes - sizeof(WCHAR);  // room for a terminating zero
    if (RegQueryValueEx(key, DEVLOAD_DEVNAME_VALNAME, NULL, NULL, reinterpret_cast<LPBYTE>(DeviceName),
                        &size) == ERROR_SUCCESS) {
      DeviceName[size / sizeof(WCHAR)] = 0;
    } else {
      DeviceName[0] = 0;
    }
  }
  RegCloseKey(key);
}

SmartcardExtension* InitReaderDevice(LPCWSTR Path) {
  WCHAR deviceName[DeviceNameChars + 1];
  LPVOID clientInfo = NULL;
  ReadActiveKey(Path, deviceName, sizeof(deviceName), &clientInfo);
  if (clientInfo == NULL) return NULL;

  ReaderDeviceBlock* block = static_cast<ReaderDeviceBlock*>(clientInfo);
  SmartcardExtension* ext = &block->Extension;
  ReaderDeviceData* dev = &block->DeviceData;
  ext->Version = SmartcardExtensionVersion;
  ext->SendBufferSize = SmartcardBufferSize;
  ext->ReplyBufferSize = SmartcardBufferSize;
  ext->DeviceData = dev;
  if (SmartcardInitialize(ext) != STATUS_SUCCESS) return NULL;

  ext->ReaderFunctions[RDF_CARD_POWER] = CCID_SmartcardPower;
  ext->ReaderFunctions[RDF_TRANSMIT] = CCID_SmartcardTransmit;
  ext->ReaderFunctions[RDF_CARD_TRACKING] = CCID_SmartcardCardTracking;
  ext->ReaderFunctions[RDF_SET_PROTOCOL] = CCID_SmartcardSetProtocol;
  ext->ReaderFunctions[RDF_IOCTL_VENDOR] = CCID_SmartcardVender;

  VendorAttributes& vendor = ext->VendorAttributes;
  SetText(vendor.VendorName, VendorName, sizeof(VendorName));
  SetText(vendor.IfdType, DefaultIfdType, sizeof(DefaultIfdType));
  vendor.UnitNo = UnitCounter++;
  vendor.IfdVersion = 0;
  vendor.IfdSerialNo.Length = 0;

  ReaderCapabilities& caps = ext->ReaderCapabilities;
  caps.CLKFrequency.Default = caps.CLKFrequency.Max = ReaderClockKhz;
  caps.DataRate.Default = caps.DataRate.Max = dataRatesSupported[0];
  caps.DataRatesSupported.List = dataRatesSupported;
  caps.DataRatesSupported.Entries = dataRatesSupportedCount;
  caps.MaxIFSD = InitialMaxIfsd;
  caps.CurrentState = CardStateUnknown;
  caps.SupportedProtocols = ProtocolT0 | ProtocolT1;
  caps.ReaderType = ReaderTypeUsb;
  caps.MechProperties = 0;
  caps.Channel = 0;

  dev->ReadEvent = CreateEvent(NULL, FALSE, FALSE, NULL);
  dev->InterruptEvent = CreateEvent(NULL, FALSE, FALSE, NULL);
  SetRunState(dev, RunStateStopped);
  dev->DelayedAtrCard = 0;
  dev->ReadTimeout = ReadTimeoutInitial;

  // The reader information: model text, firmware, card in the slot. A reply
  // too short to hold the 16 bytes counts as no reply.
  CCIDSetCCIDHeader(ext, ReaderMsgGetInfo, 0, 0, 0, 0, 0);
  if (dev->ReadEvent == NULL || dev->InterruptEvent == NULL || CCID_ReadWrite(ext) != STATUS_SUCCESS ||
      ext->ReplyBuffer[ReaderOffsetType] != ReaderMsgGetInfo ||
      ext->ReceivedLength < ReaderHeaderSize + ReaderInfoSize) {
    if (dev->ReadEvent) CloseHandle(dev->ReadEvent);
    if (dev->InterruptEvent) CloseHandle(dev->InterruptEvent);
    dev->ReadEvent = dev->InterruptEvent = NULL;
    SmartcardExit(ext);
    return NULL;
  }
  const uint8_t* info = ext->ReplyBuffer + ReaderHeaderSize;
  ReaderApplyInfo(ext, info);  // firmware version, max IFSD, rate list

  // Model text: from byte 4 up to a hyphen, at most up to byte 15.
  uint8_t model[ReaderInfoSize - 4 + 1];
  uint16_t n = 0;
  while (4u + n < ReaderInfoSize && info[4 + n] != '-') {
    model[n] = info[4 + n];
    ++n;
  }
  model[n] = 0;
  SetText(vendor.IfdType, model, n + 1);
  vendor.IfdType.Length = n;
  if (memcmp(vendor.IfdType.Buffer, "KL770DR", 8) == 0 || memcmp(vendor.IfdType.Buffer, "GENERIC", 8) == 0) {
    SetText(vendor.IfdType, DefaultIfdType, sizeof(DefaultIfdType));
  }

  caps.CurrentState = CCIDIsCardPresent(ext->ReplyBuffer[ReaderOffsetStatus]) ? CardStateSwallowed
                                                                                : CardStateAbsent;
  ext->CardCapabilities.ATRLength = 0;

  CCIDSetCCIDHeader(ext, ReaderMsgPowerOff, 0, 0, 0, 0, 0);
  CCID_ReadWrite(ext);

  dev->RefCount = 0;
  dev->ReadTimeout = ReadTimeoutCommand;

  if (deviceName[0] == 0) return ext;  // no name: not introduced
  for (const WCHAR* p = deviceName; *p; ++p) {
    if (*p >= L'0' && *p <= L'9') {
      vendor.UnitNo = static_cast<uint32_t>(*p - L'0');
      break;
    }
  }
  WCHAR readerName[ReaderNameChars];
  BuildReaderName(ext, readerName, ReaderNameChars);
  block->Introduced = IntroduceReader(readerName, deviceName) == STATUS_SUCCESS;
  return ext;
}

void BuildReaderName(SmartcardExtension* ext, WCHAR* Name, DWORD NameChars) {
  const VendorAttributes& vendor = ext->VendorAttributes;
  char text[2 * sizeof(vendor.VendorName.Buffer) + 2];
  size_t len = strnlen(reinterpret_cast<const char*>(vendor.VendorName.Buffer), sizeof(vendor.VendorName.Buffer));
  memcpy(text, vendor.VendorName.Buffer, len);
  text[len++] = ' ';
  const size_t type = strnlen(reinterpret_cast<const char*>(vendor.IfdType.Buffer), sizeof(vendor.IfdType.Buffer));
  memcpy(text + len, vendor.IfdType.Buffer, type);
  len += type;
  text[len] = 0;
  if (NameChars < len + 4) {
    if (NameChars) Name[0] = 0;
    return;
  }
  MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(len) + 1, Name, static_cast<int>(NameChars));
  // Index character: the unit number less one, as a digit; unit numbers
  // that are multiples of 10 (device VQU0:, the tenth device) give 9.
  Name[len] = L' ';
  Name[len + 1] = static_cast<WCHAR>(L'0' + (vendor.UnitNo % 10 + 9) % 10);
  Name[len + 2] = 0;
}

NTSTATUS IntroduceReader(LPCWSTR ReaderName, LPCWSTR DeviceName) {
  if (pSCardIntroduceReader == NULL) {
    HMODULE module = LoadLibrary(L"WINSCARD.DLL");
    if (module) {
      pSCardIntroduceReader = reinterpret_cast<PFN_SCARD_INTRODUCE_READER>(
          reinterpret_cast<void*>(GetProcAddress(module, L"SCardIntroduceReaderW")));
      pSCardForgetReader = reinterpret_cast<PFN_SCARD_FORGET_READER>(
          reinterpret_cast<void*>(GetProcAddress(module, L"SCardForgetReaderW")));
    }
  }
  if (pSCardIntroduceReader == NULL) return STATUS_UNSUCCESSFUL;
  return pSCardIntroduceReader(0, ReaderName, DeviceName) != 0 ? STATUS_UNSUCCESSFUL : STATUS_SUCCESS;
}

NTSTATUS ForgetReader(LPCWSTR ReaderName) {
  if (pSCardForgetReader == NULL) return STATUS_UNSUCCESSFUL;
  return pSCardForgetReader(0, ReaderName) != 0 ? STATUS_UNSUCCESSFUL : STATUS_SUCCESS;
}

// ---- card status

DWORD CardStatusThread(LPVOID DeviceBlock) {
  SmartcardExtension* ext = &static_cast<ReaderDeviceBlock*>(DeviceBlock)->Extension;
  ReaderDeviceData* dev = ext->DeviceData;
  DWORD pause = 0;
  while (GetRunState(dev) >= RunStateAttached) {
    if (PollCardStatus(ext)) {
      pause = 0;
      continue;
    }
    // The interrupt pipe failed (halted, or the reader is going): read again
    // after a pause, so that a pipe that keeps failing costs at most one
    // read a second instead of a busy loop. Tear-down sets the interrupt
    // event, which ends the pause at once.
    pause = pause == 0 ? FailedNoticePauseFirstMs
                       : (pause >= FailedNoticePauseMaxMs / 2 ? FailedNoticePauseMaxMs : 2 * pause);
    if (GetRunState(dev) >= RunStateAttached) WaitForSingleObject(dev->InterruptEvent, pause);
  }
  return 0;
}

BOOL PollCardStatus(SmartcardExtension* ext) {
  ReaderDeviceData* dev = ext->DeviceData;
  uint8_t notice[2] = {0, 0};
  if (UsbInterruptRead(ext, notice, sizeof(notice)) != STATUS_SUCCESS) return FALSE;
  if (notice[0] != ReaderNotifySlotChange) return TRUE;
  if (GetRunState(dev) == RunStateStopped) return TRUE;

  ReaderOsRecord* os = ext->OsData;
  EnterCriticalSection(&os->ReaderLock);
  uint32_t& state = ext->ReaderCapabilities.CurrentState;
  const bool present = (notice[1] & 1) != 0;
  const bool known = present ? state >= CardStatePresent : state <= CardStateAbsent;
  if (!known) {
    if (present) {
      state = CardStateSwallowed;
    } else {
      ext->CardCapabilities.ATRLength = 0;
      state = CardStateAbsent;
    }
    ext->CardCapabilities.CurrentProtocol = ProtocolNone;
    if (GetRunState(dev) == RunStateOpen) CompleteCardTracking(ext);
    dev->CardTrackingArmed = 0;
  }
  LeaveCriticalSection(&os->ReaderLock);
  return TRUE;
}

// ---- tear-down

void TearDownReaderDevice(SmartcardExtension* ext) {
  ReaderDeviceData* dev = ext->DeviceData;
  SetRunState(dev, RunStateStopped);
  if (dev->CardStatusThread) {
    DWORD wait;
    do {
      SetEvent(dev->InterruptEvent);
      wait = WaitForSingleObject(dev->CardStatusThread, ThreadStopWaitMs);
    } while (wait == WAIT_TIMEOUT);
    CloseHandle(dev->CardStatusThread);
    dev->CardStatusThread = NULL;
  }
  DeviceTableRemove(ext);
  static const DWORD steps[] = {32, 64, 96};
  for (DWORD step : steps) {
    if (ReadCount(&dev->RefCount) == 0) break;
    Sleep(step);
  }
  // Calls still in progress keep the lock, the events and the buffers in
  // use: wait for them. Card-tracking waits are cancelled again, transfers of
  // a reader that is gone fail at once, and an exchange ends by its read
  // time-out at the latest.
  while (ReadCount(&dev->RefCount) != 0) {
    if (ext->OsData) SetEvent(ext->OsData->CancelEvent);
    Sleep(LingeringCallWaitMs);
  }
  // Only a name this reader introduced is forgotten: a reader without name,
  // or one whose introduction was refused, may share its name with another.
  if (BlockOf(ext)->Introduced) {
    WCHAR readerName[ReaderNameChars];
    BuildReaderName(ext, readerName, ReaderNameChars);
    ForgetReader(readerName);
    BlockOf(ext)->Introduced = 0;
  }
  if (dev->InterruptEvent) CloseHandle(dev->InterruptEvent);
  if (dev->ReadEvent) CloseHandle(dev->ReadEvent);
  dev->InterruptEvent = dev->ReadEvent = NULL;
  SmartcardExit(ext);
}
