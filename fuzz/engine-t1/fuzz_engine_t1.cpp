// Feeds arbitrary bytes to the T=1 block protocol (first byte even: a series
// of card blocks, each one length byte and its bytes, answered block by block)
// or to a reader command (first byte odd: the card capabilities from the next
// bytes, then reader chunks, each two length bytes and its bytes).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "Commands.h"
#include "Frame.h"
#include "FuzzReader.h"
#include "Smartcard.h"
#include "T1.h"

namespace {

struct Input {
  const uint8_t* p;
  size_t n;
  uint8_t Byte() {
    if (n == 0) return 0;
    --n;
    return *p++;
  }
  std::vector<uint8_t> Take(size_t k) {
    if (k > n) k = n;
    std::vector<uint8_t> out(p, p + k);
    p += k;
    n -= k;
    return out;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Reader reader;
  SmartcardExtension* ext = &reader.ext;
  Input in{data, size};
  const uint8_t mode = in.Byte();
  const uint8_t flags = in.Byte();

  SmartcardInitializeCardCapabilities(ext);
  CardCapabilities& caps = ext->CardCapabilities;
  caps.T1.EDC = flags & 1;
  caps.InversConvention = (flags >> 1) & 1;
  caps.T1.IFSC = in.Byte();
  if (flags & 4) ext->T1State.State = T1StateStart;

  // The caller's request and reply, exactly as large as announced.
  std::vector<uint8_t> request(8 + in.Byte() * 2);
  const uint32_t protocol = ProtocolT1, headerLength = (flags & 8) ? 12 : 8;
  std::memcpy(request.data(), &protocol, 4);
  std::memcpy(request.data() + 4, &headerLength, 4);
  if (headerLength == 12 && request.size() >= 12) {
    request[8] = 0x81;
    request[9] = 0x01;
    request[10] = 0x05;
    request[11] = 0x00;
  }
  std::vector<uint8_t> reply(in.Byte() * 4 + 1);
  uint32_t replyLength = 0;
  SmartcardIoRequest& io = ext->SmartcardIoRequest;
  io.RequestBuffer = request.data();
  io.RequestLength = static_cast<uint32_t>(request.size());
  io.ReplyBuffer = reply.data();
  io.ReplyBufferSize = static_cast<uint32_t>(reply.size());
  io.ReplyLength = &replyLength;

  if ((mode & 1) == 0) {
    // Card blocks straight into the reply routine.
    for (int blocks = 0; blocks < 1000 && in.n > 0; ++blocks) {
      ext->SendLength = ReaderHeaderSize;
      if (SmartcardT1Request(ext) != STATUS_SUCCESS) break;
      const std::vector<uint8_t> block = in.Take(in.Byte());
      if (!block.empty()) std::memcpy(ext->ReplyBuffer, block.data(), block.size());
      ext->ReceivedLength = static_cast<uint32_t>(block.size());
      if (SmartcardT1Reply(ext) != STATUS_MORE_PROCESSING_REQUIRED) break;
    }
    return 0;
  }

  // A reader command with the reader's chunks.
  caps.ProtocolsOffered = in.Byte();
  caps.CurrentProtocol = in.Byte() % 5;
  caps.Fl = in.Byte() & 15;
  caps.Dl = in.Byte() & 15;
  caps.N = in.Byte();
  ext->ReaderCapabilities.CurrentState = in.Byte() & 0x7F;
  reader.dev.FirmwareVersion = in.Byte() * 2;
  reader.dev.ReaderInfoOk = flags >> 7;
  reader.dev.FixedAtrCard = (flags >> 6) & 1;
  reader.dev.PowerMode = (mode >> 1) & 3;
  io.MinorCode = in.Byte();
  g_chunks.clear();
  while (in.n > 0) {
    const size_t k = (size_t{in.Byte()} << 8) | in.Byte();
    g_chunks.push_back(in.Take(k % 600));
  }
  switch ((mode >> 3) % 5) {
    case 0:
      CCID_SmartcardPower(ext);
      break;
    case 1:
      CCID_SmartcardSetProtocol(ext, (mode >> 6) & 1, flags);
      break;
    case 2:
      reader.dev.VendorCode = (mode & 0x40) ? VendorCodeReaderInfo : VendorCodeEscape;
      CCID_SmartcardVender(ext);
      break;
    default:
      CCID_SmartcardTransmit(ext);
      break;
  }
  return 0;
}
