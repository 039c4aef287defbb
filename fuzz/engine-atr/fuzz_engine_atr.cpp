// Feeds arbitrary bytes (either engine build) to the ATR decoder (first byte even) or, as a series
// of reader chunks, to the frame exchange (first byte odd).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "Atr.h"
#include "Frame.h"
#include "FuzzReader.h"
#include "Smartcard.h"

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
  ResetPlayback();
  size_t pos = 1;
  while (pos + 2 <= size) {
    size_t n = ((size_t{data[pos]} << 8) | data[pos + 1]) % 513;
    pos += 2;
    if (n > size - pos) n = size - pos;
    QueueChunk(std::vector<uint8_t>(data + pos, data + pos + n));
    pos += n;
  }
  GlobalSeqNum = data[0];
#if VQ_BUILD_CE
  CCIDSetCCIDHeader(ext, 0x6F, 0, 0, 0, 0, 0);
#else
  CCIDSetCCIDHeader(ext->SendBuffer, 0x6F, 0, 0, 0, 0, 0);
#endif
  ext->SendLength = ReaderHeaderSize;
  CCID_ReadWrite(ext);
  return 0;
}
