// Feeds arbitrary bytes to the ATR decoder (first byte even) or, as a series
// of reader chunks, to the frame exchange (first byte odd).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "Atr.h"
#include "Frame.h"
#include "Smartcard.h"
#include "Transport.h"

namespace {

std::deque<std::vector<uint8_t>> g_chunks;

struct Reader {
  SmartcardExtension ext{};
  ReaderDeviceData dev{};
  Reader() {
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
};

}  // namespace

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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Reader reader;
  SmartcardExtension* ext = &reader.ext;
  if (size < 2) return 0;
  if ((data[0] & 1) == 0) {
    SmartcardInitializeCardCapabilities(ext);
    ext->CardCapabilities.PpsMode = static_cast<uint8_t>(data[0] >> 1) % 3;
    const size_t n = size - 1 < 64 ? size - 1 : 64;
    std::memcpy(ext->CardCapabilities.ATR, data + 1, n);
    ext->CardCapabilities.ATRLength = static_cast<uint8_t>(n);
    SmartcardUpdateCardCapabilities(ext);
    return 0;
  }
  // Chunks: a length byte pair (big-endian, at most 512 used) then the bytes.
  g_chunks.clear();
  size_t pos = 1;
  while (pos + 2 <= size) {
    size_t n = ((size_t{data[pos]} << 8) | data[pos + 1]) % 513;
    pos += 2;
    if (n > size - pos) n = size - pos;
    g_chunks.emplace_back(data + pos, data + pos + n);
    pos += n;
  }
  GlobalSeqNum = data[0];
  CCIDSetCCIDHeader(ext->SendBuffer, 0x6F, 0, 0, 0, 0, 0);
  ext->SendLength = ReaderHeaderSize;
  CCID_ReadWrite(ext);
  return 0;
}
