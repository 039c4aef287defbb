// Feeds a hostile card and reader to the T=1 block protocol and the reader
// commands (either engine build).
//
// First byte even: card blocks straight into the reply routine, block by
// block; each block is led by a control byte and has its LEN and EDC filled
// in here, so that the card's S-requests (WTX, IFS, abort, resync answers)
// and chained I-blocks are reached, not only the checksum error path.
// First byte odd: a reader command (power, set protocol, vendor, transmit)
// with the card capabilities from the next bytes and the reader's answers
// after them; under T=1 the answers carry well-formed card blocks.
// FUZZ_VERBOSE=1 prints the command's result.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Commands.h"
#include "Frame.h"
#include "FuzzReader.h"
#include "Smartcard.h"
#include "T1.h"

namespace {

// One card block from the input: control byte (bit 0: damaged, bit 1: LEN
// as given, bit 2: repeat the block the next byte's count of times), PCB,
// INF length, INF.
struct CardBlocks {
  FuzzInput& in;
  bool crc;
  std::vector<uint8_t> last;
  uint32_t repeats = 0;

  bool Next(std::vector<uint8_t>& block) {
    if (repeats > 0 && !last.empty()) {
      --repeats;
      block = last;
      return true;
    }
    if (in.Empty()) return false;
    const uint8_t control = in.Byte();
    const uint8_t pcb = in.Byte();
    block = T1Block(0, pcb, in.Take(in.Byte()), crc);
    if (control & 2) block[2] = in.Byte();                      // a LEN that lies
    if (control & 1) block[in.Byte() % block.size()] ^= 0x80;  // a damaged byte
    if (control & 4) repeats = in.Byte();
    last = block;
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Reader reader;
  SmartcardExtension* ext = &reader.ext;
  FuzzInput in{data, size};
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
    // Card blocks straight into the reply routine; the loop's own bound
    // keeps a run short whatever the engine does.
    CardBlocks blocks{in, caps.T1.EDC == 1, {}};
    std::vector<uint8_t> block;
    for (int n = 0; n < 5000 && blocks.Next(block); ++n) {
      ext->SendLength = ReaderHeaderSize;
      if (SmartcardT1Request(ext) != STATUS_SUCCESS) break;
      if (ext->SendLength > ext->SendBufferSize) __builtin_trap();
      if (caps.InversConvention) {
        // The card answers in its convention: the reply routine inverts back.
        for (uint8_t& b : block) {
          uint8_t r = 0;
          for (int i = 0; i < 8; ++i) r |= ((b >> i) & 1) << (7 - i);
          b = static_cast<uint8_t>(~r);
        }
      }
      const size_t n2 = block.size() < ext->ReplyBufferSize ? block.size() : ext->ReplyBufferSize;
      std::memcpy(ext->ReplyBuffer, block.data(), n2);
      ext->ReceivedLength = static_cast<uint32_t>(n2);
      if (SmartcardT1Reply(ext) != STATUS_MORE_PROCESSING_REQUIRED) break;
    }
    if (replyLength > reply.size()) __builtin_trap();
    io = SmartcardIoRequest{};
    return 0;
  }

  // A reader command with the reader's answers.
  caps.ProtocolsOffered = in.Byte();
  caps.CurrentProtocol = (mode & 0x80) ? ProtocolT1 : in.Byte() % 5;
  caps.Fl = in.Byte() & 15;
  caps.Dl = in.Byte() & 15;
  caps.N = in.Byte();
  caps.T1.BWT = in.Byte() * 100000u;
  ext->ReaderCapabilities.CurrentState = in.Byte() & 0x7F;
  reader.dev.FirmwareVersion = in.Byte() * 2;
  reader.dev.ReaderInfoOk = flags >> 7;
  reader.dev.FixedAtrCard = (flags >> 6) & 1;
  reader.dev.DelayedAtrCard = (flags >> 5) & 1;
  io.MinorCode = in.Byte();
  ResetPlayback();
  QueueAnswers(in, caps.T1.EDC & 1);
  NTSTATUS status;
  switch ((mode >> 1) % 5) {
    case 0:
#if VQ_BUILD_MAC
      reader.dev.PowerMode = (mode >> 4) & 3;
#else
      io.MinorCode %= 4;
#endif
      status = CCID_SmartcardPower(ext);
      break;
    case 1:
#if VQ_BUILD_MAC
      status = CCID_SmartcardSetProtocol(ext, (mode >> 6) & 1, flags);
#else
      status = CCID_SmartcardSetProtocol(ext);
#endif
      break;
    case 2:
#if VQ_BUILD_MAC
      reader.dev.VendorCode = (mode & 0x40) ? VendorCodeReaderInfo : VendorCodeEscape;
#else
      io.MajorCode = (mode & 0x40) ? IOCTL_SMARTCARD_VENDOR_INFO : IOCTL_SMARTCARD_VENDOR_ESCAPE;
#endif
      status = CCID_SmartcardVender(ext);
      break;
    default:
      ext->SendLength = 0;
      status = CCID_SmartcardTransmit(ext);
      break;
  }
  if (std::getenv("FUZZ_VERBOSE")) {
    std::fprintf(stderr, "command %d -> 0x%08X reply %u, %u reads\n", (mode >> 1) % 5,
                 static_cast<unsigned>(status), replyLength, g_reads);
  }
  // What a command returns fits the caller's buffer (a failure may name the
  // size it would have needed).
  if (status == STATUS_SUCCESS && replyLength > reply.size()) __builtin_trap();
  io = SmartcardIoRequest{};
  return 0;
}
