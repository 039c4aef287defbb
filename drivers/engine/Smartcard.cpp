#include "Smartcard.h"

#include <stdlib.h>
#include <string.h>

#include "Atr.h"

static void FreeAndClear(uint8_t*& p) {
  if (p != nullptr) {
    free(p);
    p = nullptr;
  }
}

#if VQ_BUILD_CE
static void FreeOsRecord(SmartcardExtension* ext) {
  ReaderOsRecord* os = ext->OsData;
  if (os == nullptr) return;
  if (os->CardTrackingEvent != nullptr) CloseHandle(os->CardTrackingEvent);
  if (os->CancelEvent != nullptr) CloseHandle(os->CancelEvent);
  if (os->Extension != nullptr) DeleteCriticalSection(&os->ReaderLock);
  free(os);
  ext->OsData = nullptr;
}
#endif

NTSTATUS SmartcardInitialize(SmartcardExtension* ext) {
  if (ext == nullptr) return STATUS_INVALID_PARAMETER;
#if VQ_BUILD_CE
  if (ext->Version < SmartcardExtensionVersionMin || ext->Version > SmartcardExtensionVersion) {
    return STATUS_UNSUCCESSFUL;
  }
#endif
  if (ext->SendBufferSize < SmartcardMinBufferSize) ext->SendBufferSize = SmartcardMinBufferSize;
  if (ext->ReplyBufferSize < SmartcardMinBufferSize) ext->ReplyBufferSize = SmartcardMinBufferSize;

  bool ok = true;
  ext->SendBuffer = static_cast<uint8_t*>(calloc(ext->SendBufferSize, 1));
  ext->ReplyBuffer = static_cast<uint8_t*>(calloc(ext->ReplyBufferSize, 1));
  ok = ext->SendBuffer != nullptr && ext->ReplyBuffer != nullptr;
#if VQ_BUILD_CE
  ext->OsData = nullptr;
  if (ok) {
    ext->OsData = static_cast<ReaderOsRecord*>(calloc(1, sizeof(ReaderOsRecord)));
    ok = ext->OsData != nullptr;
  }
  if (ok) {
    ext->OsData->CardTrackingEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ext->OsData->CancelEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ok = ext->OsData->CardTrackingEvent != nullptr && ext->OsData->CancelEvent != nullptr;
  }
  if (ok) {
    InitializeCriticalSection(&ext->OsData->ReaderLock);
    ext->OsData->Extension = ext;
  }
#endif
  if (!ok) {
    FreeAndClear(ext->SendBuffer);
    FreeAndClear(ext->ReplyBuffer);
#if VQ_BUILD_CE
    FreeOsRecord(ext);
#endif
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  ext->CardCapabilities.ClockRateConversion = ClockRateConversion;
  ext->CardCapabilities.BitRateAdjustment = BitRateAdjustment;
  return STATUS_SUCCESS;
}

void SmartcardExit(SmartcardExtension* ext) {
  if (ext == nullptr) return;
  FreeAndClear(ext->SendBuffer);
  FreeAndClear(ext->ReplyBuffer);
#if VQ_BUILD_CE
  FreeOsRecord(ext);
#endif
  FreeAndClear(ext->T1State.ReplyData);
}

void SmartcardInitializeCardCapabilities(SmartcardExtension* ext) {
  if (ext == nullptr) return;
  CardCapabilities& caps = ext->CardCapabilities;
  const ClockRateEntry* clockRates = caps.ClockRateConversion;
  const BitRateEntry* bitRates = caps.BitRateAdjustment;
  memset(&caps, 0, sizeof caps);
  caps.ClockRateConversion = clockRates;
  caps.BitRateAdjustment = bitRates;

  ext->T1State.State = T1StateInit;
  ext->T1State.RSN = 0;
  ext->T1State.SSN = 0;

  caps.ProtocolsOffered = ProtocolRaw;

  uint32_t maxIfsd = ext->ReaderCapabilities.MaxIFSD;
  ext->T1State.IFSD = (maxIfsd >= 1 && maxIfsd <= 253) ? static_cast<uint8_t>(maxIfsd) : 254;
}
