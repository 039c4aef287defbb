#include "FuzzReader.h"

#include "Atr.h"
#include "Smartcard.h"
#include "Transport.h"
#if VQ_BUILD_CE
#include "vqce/Clock.h"
#endif

void InitReaderContext(SmartcardExtension* ext, ReaderDeviceData* dev) {
#if VQ_BUILD_CE
  // Pauses of the engine pass at once.
  vqce::Clock::SetSpeed(1e9);
#endif
  ext->Version = SmartcardExtensionVersion;
  ext->SendBufferSize = SmartcardBufferSize;
  ext->ReplyBufferSize = SmartcardBufferSize;
  ext->DeviceData = dev;
  SmartcardInitialize(ext);
  ext->ReaderCapabilities.CLKFrequency = {3571, 3571};
  ext->ReaderCapabilities.DataRate = {9600, 115200};
  ext->ReaderCapabilities.DataRatesSupported = {dataRatesSupportedET, dataRatesSupportedETCount};
  ext->ReaderCapabilities.MaxIFSD = 252;
}

Reader::Reader() { InitReaderContext(&ext, &dev); }

NTSTATUS UsbBulkWrite(SmartcardExtension*, const uint8_t* bytes, uint32_t length) {
  NoteWritten(bytes, length);
  return STATUS_SUCCESS;
}

NTSTATUS UsbBulkRead(SmartcardExtension*, uint8_t* buffer, uint32_t size, uint32_t* length) {
  return NextChunk(buffer, size, length) == Failure::None ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

#if VQ_BUILD_CE
// No slot-change notices: the interrupt pipe fails at once.
NTSTATUS UsbInterruptRead(SmartcardExtension*, uint8_t*, uint32_t) { return STATUS_UNSUCCESSFUL; }
#endif
