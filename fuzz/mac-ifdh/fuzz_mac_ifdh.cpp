// Drives the IFD handler as the PC/SC daemon does, and as a careless one
// might: a channel is created (the reader's answers from the input), then a
// series of entry point calls with lengths, tags, actions and buffers from
// the input, each followed by the reader's answers to it; the channel is
// closed at the end. The reader sits behind the IOKit stand-in on a virtual
// clock, so its time-outs cost nothing.
//
// Input: answers to the channel creation, then per call: entry point,
// arguments, answers (see QueueCallAnswers and QueueAnswers).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "FuzzLink.h"
#include "PcscHandler.h"
#include "vqiokit/SimDevices.h"

namespace {

const DWORD kTags[] = {
    TAG_IFD_ATR, TAG_IFD_SLOTNUM, TAG_IFD_SLOTS_NUMBER, TAG_IFD_SIMULTANEOUS_ACCESS,
    0x0100, 0x0101, 0x0102, 0x0103, 0x0110, 0x0120, 0x0125, 0x0185, 0x0160,
    0x0201, 0x0300, 0x0301, 0x0303, 0x0304, 0x0FAE, 0x0FAF,
};
constexpr size_t kTagCount = sizeof kTags / sizeof kTags[0];

// The reader's answers to one call: their length, the answers, and whether
// T=1 blocks among them carry a CRC (bit 0) or an LRC.
void QueueCallAnswers(FuzzInput& in) {
  ResetPlayback();
  std::vector<uint8_t> answers = in.Take(in.Word() % 4096);
  FuzzInput reader{answers.data(), answers.size()};
  QueueAnswers(reader, in.Byte() & 1);
}

// FUZZ_VERBOSE=1 prints each call and its result (for reproducers).
bool Verbose() {
  static const bool verbose = std::getenv("FUZZ_VERBOSE") != nullptr;
  return verbose;
}

// What an entry point hands back: never more than the caller's buffer, and
// nothing with a failure.
void Check(RESPONSECODE rc, DWORD length, DWORD size) {
  if (Verbose()) std::fprintf(stderr, "  -> %ld length %lu of %lu\n", rc, length, size);
  if (length > size) __builtin_trap();
  if (rc != IFD_SUCCESS && length != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    vqiokit::UseVirtualClock(true);
    return true;
  }();
  (void)ready;
  // A fresh device for each input: one the input unplugged stays gone.
  const int device = vqiokit::AttachDevice(std::make_shared<FuzzLink>());
  FuzzInput in{data, size};
  const DWORD lun = 0;

  QueueCallAnswers(in);
  const RESPONSECODE created = IFDHCreateChannel(lun, 0);
  if (Verbose()) std::fprintf(stderr, "create -> %ld\n", created);
  if (created != IFD_SUCCESS) {
    vqiokit::DetachDevice(device);
    return 0;
  }

  for (int call = 0; call < 12 && !in.Empty(); ++call) {
    const uint8_t entry = in.Byte();
    // Now and then a reader index the handler has no channel for.
    const DWORD callLun = (entry & 0x80) ? static_cast<DWORD>(in.Byte()) << 16 : lun;
    if (Verbose()) std::fprintf(stderr, "entry %d lun 0x%lX\n", entry % 9, callLun);
    switch (entry % 9) {
      case 0: {
        const uint8_t t = in.Byte();
        const DWORD tag = t < 0xF0 ? kTags[t % kTagCount] : in.U32();
        const DWORD bufferSize = in.Byte() % 80;
        std::vector<UCHAR> value(bufferSize ? bufferSize : 1);
        DWORD length = bufferSize;
        QueueCallAnswers(in);
        const RESPONSECODE rc = IFDHGetCapabilities(callLun, tag, &length, value.data());
        Check(rc, length, bufferSize);
        break;
      }
      case 1: {
        std::vector<UCHAR> value = in.Take(in.Byte());
        IFDHSetCapabilities(callLun, in.U32(), static_cast<DWORD>(value.size()), value.data());
        break;
      }
      case 2: {
        const DWORD protocol = in.Byte() % 5;
        const UCHAR flags = in.Byte(), pts1 = in.Byte(), pts2 = in.Byte(), pts3 = in.Byte();
        QueueCallAnswers(in);
        Check(IFDHSetProtocolParameters(callLun, protocol, flags, pts1, pts2, pts3), 0, 0);
        break;
      }
      case 3: {
        const uint8_t a = in.Byte();
        const DWORD action = a % 4 == 0 ? IFD_POWER_UP : a % 4 == 1 ? IFD_RESET
                             : a % 4 == 2 ? IFD_POWER_DOWN : a;
        UCHAR atr[MAX_ATR_SIZE];
        const DWORD atrSize = (a & 0x80) ? in.Byte() % (MAX_ATR_SIZE + 1) : MAX_ATR_SIZE;
        DWORD atrLength = atrSize;
        QueueCallAnswers(in);
        const RESPONSECODE rc = IFDHPowerICC(callLun, action, atr, &atrLength);
        Check(rc, atrLength, atrSize);
        break;
      }
      case 4: {
        std::vector<UCHAR> tx = in.Take(in.Word() % 1100);
        const DWORD rxSize = in.Word() % 1100;
        std::vector<UCHAR> rx(rxSize ? rxSize : 1);
        DWORD rxLength = rxSize;
        SCARD_IO_HEADER pci{in.Byte() % 3u, 8};
        QueueCallAnswers(in);
        const RESPONSECODE rc = IFDHTransmitToICC(callLun, pci, tx.empty() ? nullptr : tx.data(),
                                                  static_cast<DWORD>(tx.size()), rx.data(),
                                                  &rxLength, nullptr);
        Check(rc, rxLength, rxSize);
        break;
      }
      case 5: {
        const uint8_t shape = in.Byte();
        std::vector<UCHAR> tx = in.Take(in.Word() % 1100);
        if (tx.size() >= 4 && (shape & 1)) {
          const uint32_t code = (shape & 2) ? 0x101 : 0x100;
          std::memcpy(tx.data(), &code, 4);
        }
        const DWORD rxSize = in.Word() % 1100;
        std::vector<UCHAR> rx(rxSize ? rxSize : 1);
        DWORD rxLength = rxSize;
        QueueCallAnswers(in);
        const RESPONSECODE rc =
            IFDHControl(callLun, (shape & 4) ? nullptr : tx.data(), static_cast<DWORD>(tx.size()),
                        rx.data(), &rxLength);
        Check(rc, rxLength, rxSize);
        break;
      }
      case 6:
        QueueCallAnswers(in);
        Check(IFDHICCPresence(callLun), 0, 0);
        break;
      case 7:
        // A second channel on a taken slot, or on another index: no reader left.
        QueueCallAnswers(in);
        if (IFDHCreateChannel(callLun, 0) == IFD_SUCCESS && callLun != lun) IFDHCloseChannel(callLun);
        break;
      default:
        QueueCallAnswers(in);
        if (callLun != lun) IFDHCloseChannel(callLun);
        break;
    }
  }
  IFDHCloseChannel(lun);
  vqiokit::DetachDevice(device);
  ResetPlayback();
  return 0;
}
