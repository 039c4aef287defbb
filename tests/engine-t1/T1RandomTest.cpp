// Random card blocks into the reply routine: whatever arrives, every exchange
// ends with a status of the routine's set and nothing is read or written out
// of bounds (run under AddressSanitizer).
#include <algorithm>
#include <random>

#include "T1Fixture.h"

namespace t1test {
namespace {


// A block that is mostly well formed (so that the state machine gets deep),
// sometimes cut, lengthened or of random bytes.
Bytes RandomBlock(std::mt19937& rng, const std::function<Bytes(uint8_t, const Bytes&, uint8_t)>& blk) {
  static const uint8_t iOrR[] = {0x00, 0x20, 0x40, 0x60, 0x80, 0x81, 0x82, 0x90, 0x91, 0x92};
  static const uint8_t sBlocks[] = {0xC0, 0xC1, 0xC2, 0xC3, 0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xC5};
  const uint32_t kind = rng() % 10;
  const uint8_t pcb = kind < 7   ? iOrR[rng() % sizeof iOrR]
                      : kind < 9 ? sBlocks[rng() % sizeof sBlocks]
                                 : static_cast<uint8_t>(rng());
  Bytes inf(rng() % 3 == 0 ? rng() % 256 : rng() % 4);
  for (uint8_t& b : inf) b = static_cast<uint8_t>(rng());
  Bytes block = blk(pcb, inf, static_cast<uint8_t>(rng() % 3));
  switch (rng() % 9) {
    case 0:
      block.resize(rng() % (block.size() + 1));
      break;
    case 1:
      block.resize(block.size() + 1 + rng() % 8, static_cast<uint8_t>(rng()));
      break;
    case 2:
      block[rng() % block.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
      break;
    default:
      break;
  }
  if (block.size() > 300) block.resize(300);
  return block;
}

class T1Random : public T1Fixture, public ::testing::WithParamInterface<bool> {};

TEST_P(T1Random, ExchangesAlwaysEndWithAStatus) {
  if (GetParam()) UseCrc();
  std::mt19937 rng(GetParam() ? 1234 : 4321);
  for (int exchange = 0; exchange < 400; ++exchange) {
    if (rng() % 50 == 0) UseInverse();
    const uint32_t headerLength = rng() % 4 == 0 ? 12 : 8;
    const Bytes extra = headerLength == 12 ? Bytes{0x81, 0x01, 0x05, 0x00} : Bytes{};
    SetRequest(Range(rng() % 600), Header(headerLength, extra));
    ext->SmartcardIoRequest.ReplyBufferSize = 10 + rng() % 1014;
    ext->CardCapabilities.T1.IFSC = static_cast<uint8_t>(rng());
    replyLength = 0;

    Outcome out = Run([&](const Bytes&, size_t) { return RandomBlock(rng, [this](uint8_t p, const Bytes& i, uint8_t n) { return Blk(p, i, n); }); }, 5000);
    const NTSTATUS allowed[] = {STATUS_SUCCESS,
                                STATUS_MORE_PROCESSING_REQUIRED,  // only when Run gave up
                                STATUS_BUFFER_TOO_SMALL,
                                STATUS_INTERNAL_ERROR,
                                STATUS_DEVICE_POWER_FAILURE,
                                STATUS_DEVICE_PROTOCOL_ERROR};
    EXPECT_NE(std::find(std::begin(allowed), std::end(allowed), out.status), std::end(allowed))
        << std::hex << out.status;
    ASSERT_NE(out.status, STATUS_MORE_PROCESSING_REQUIRED);
    if (out.status == STATUS_SUCCESS) {
      EXPECT_LE(replyLength, ext->SmartcardIoRequest.ReplyBufferSize);
      EXPECT_GE(replyLength, headerLength);
    }
    for (const Bytes& b : out.sent) {
      EXPECT_LE(b[2], ext->T1State.IFSD);  // never more INF than negotiated
      EXPECT_EQ(b.size(), 3u + b[2] + (crc ? 2u : 1u));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Edc, T1Random, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Crc" : "Lrc"; });

}  // namespace
}  // namespace t1test
