#include "FuzzReader.h"

#include <cstring>

#include "Atr.h"
#include "Smartcard.h"
#include "Transport.h"

std::deque<std::vector<uint8_t>> g_chunks;

Reader::Reader() {
  ext.Version = SmartcardExtensionVersion;
  ext.SendBufferSize = SmartcardBufferSize;
  ext.ReplyBufferSize = SmartcardBufferSize;
  ext.DeviceData = &dev;
  SmartcardInitialize(&ext);
  ext.ReaderCapabilities.CLKFrequency = {3571, 3571};
  ext.ReaderCapabilities.DataRate = {9600, 115200};
  ext.ReaderCapabilities.DataRatesSupported = {dataRatesSupportedET, dataRatesSupportedETCount};
  ext.ReaderCapabilities.MaxIFSD = 252;
}

NTSTATUS UsbBulkWrite(SmartcardExtension*, const uint8_t*, uint32_t) { return STATUS_SUCCESS; }

NTSTATUS UsbBulkRead(SmartcardExtension*, uint8_t* buffer, uint32_t size, uint32_t* length) {
  *length = 0;
  if (g_chunks.empty()) return STATUS_UNSUCCESSFUL;
  std::vector<uint8_t> c = std::move(g_chunks.front());
  g_chunks.pop_front();
  const uint32_t n = c.size() < size ? static_cast<uint32_t>(c.size()) : size;
  if (n) std::memcpy(buffer, c.data(), n);
  *length = n;
  return STATUS_SUCCESS;
}
