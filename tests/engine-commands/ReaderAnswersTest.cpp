// Reader answers of every shape, scripted and random: each command ends with
// a status and reads or writes nothing out of bounds (run under
// AddressSanitizer; the caller's buffers are exactly as large as announced).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "vqtest/ScriptedLink.h"
#include "Commands.h"
#include "Frame.h"
#include "Smartcard.h"
#include "vqtest/EngineSimLink.h"

namespace cmdtest {
namespace {

using Bytes = std::vector<uint8_t>;

class RandomReader : public ::testing::Test {
 protected:
  std::mt19937 rng{20260101};
  vqtest::ScriptedLink link;
  vqtest::EngineReader reader{link};
  SmartcardExtension* ext = reader.ext();
  int answersLeft = 0;

  uint32_t Pick(uint32_t n) { return rng() % n; }

  // An answer of the reader to `request`: a frame of a likely or random
  // type, status and error, with a payload that may be a T=1 block, an ATR,
  // an information block or noise, announcing its length right or wrong.
  void Answer(const Bytes& request) {
    if (answersLeft-- <= 0 || request.size() < 10 || Pick(20) == 0) return;  // mute
    static const uint8_t types[] = {0x60, 0x80, 0x81, 0x82};
    static const uint8_t statuses[] = {0x00, 0x00, 0x00, 0x01, 0x02, 0x40, 0x41, 0x80, 0xC0};
    static const uint8_t errors[] = {0x00, 0xBE, 0xFE, 0x07};
    Bytes payload;
    switch (Pick(5)) {
      case 0: {  // a T=1 block with a right LRC
        payload = {static_cast<uint8_t>(Pick(4)), static_cast<uint8_t>(rng()),
                   static_cast<uint8_t>(Pick(3) == 0 ? rng() : Pick(4))};
        for (uint8_t i = 0; i < payload[2]; ++i) payload.push_back(static_cast<uint8_t>(rng()));
        uint8_t lrc = 0;
        for (uint8_t b : payload) lrc ^= b;
        payload.push_back(lrc);
        break;
      }
      case 1: {  // card type and an ATR-like string
        payload = {static_cast<uint8_t>(Pick(4)), 0x3B, static_cast<uint8_t>(rng())};
        payload.resize(3 + Pick(70), static_cast<uint8_t>(rng()));
        break;
      }
      case 2:
        payload.resize(16, static_cast<uint8_t>('0' + Pick(10)));
        break;
      case 3:
        payload.resize(Pick(700));
        for (uint8_t& b : payload) b = static_cast<uint8_t>(rng());
        break;
      default:
        payload = {0xFF, static_cast<uint8_t>(0x10 | Pick(2)), static_cast<uint8_t>(rng()),
                   static_cast<uint8_t>(rng())};
        break;
    }
    uint32_t announced = static_cast<uint32_t>(payload.size());
    if (Pick(10) == 0) announced = static_cast<uint32_t>(rng()) % 2000;
    Bytes frame = {Pick(4) == 0 ? static_cast<uint8_t>(rng()) : types[Pick(4)],
                   static_cast<uint8_t>(announced >> 24), static_cast<uint8_t>(announced >> 16),
                   static_cast<uint8_t>(announced >> 8), static_cast<uint8_t>(announced),
                   0,
                   Pick(8) == 0 ? static_cast<uint8_t>(rng()) : request[6],
                   statuses[Pick(sizeof statuses)],
                   errors[Pick(sizeof errors)],
                   0};
    frame.insert(frame.end(), payload.begin(), payload.end());
    for (size_t pos = 0; pos < frame.size(); pos += 512) {
      link.chunks.emplace_back(frame.begin() + pos,
                               frame.begin() + std::min(frame.size(), pos + 512));
    }
  }

  void SetUp() override {
    link.onWrite = [this](const Bytes& request) { Answer(request); };
  }

  // Random but plausible card capabilities and state.
  void Shuffle() {
    CardCapabilities& caps = ext->CardCapabilities;
    caps.ProtocolsOffered = Pick(8);
    caps.Fl = static_cast<uint8_t>(Pick(16));
    caps.Dl = static_cast<uint8_t>(Pick(16));
    caps.PtsFl = static_cast<uint8_t>(Pick(16));
    caps.PtsDl = static_cast<uint8_t>(Pick(16));
    caps.N = static_cast<uint8_t>(rng());
    caps.T1.CWI = static_cast<uint8_t>(Pick(16));
    caps.T1.EDC = static_cast<uint8_t>(Pick(2));
    caps.T1.IFSC = static_cast<uint8_t>(rng());
    caps.InversConvention = static_cast<uint8_t>(Pick(8) == 0);
    const uint32_t protocols[] = {ProtocolNone, ProtocolT0, ProtocolT1, ProtocolT1, ProtocolRaw,
                                  ProtocolFixedCard};
    caps.CurrentProtocol = protocols[Pick(6)];
    const uint32_t states[] = {CardStateSwallowed, CardStateNegotiable, CardStateSpecific};
    ext->ReaderCapabilities.CurrentState = states[Pick(3)];
    ext->DeviceData->FixedAtrCard = static_cast<uint8_t>(Pick(10) == 0);
    ext->DeviceData->DelayedAtrCard = 0;
    ext->DeviceData->ReaderInfoOk = static_cast<uint8_t>(Pick(2));
    ext->DeviceData->FirmwareVersion = static_cast<uint32_t>(rng()) % 0x200;
  }
};

TEST_F(RandomReader, EveryCommandEndsWithAStatus) {
  for (int round = 0; round < 3000; ++round) {
    link.chunks.clear();
    answersLeft = 1 + Pick(40);
    if (Pick(50) == 0) SmartcardInitializeCardCapabilities(ext);
    Shuffle();

    Bytes request(Pick(8) == 0 ? Pick(1100) : 8 + Pick(300));
    for (uint8_t& b : request) b = static_cast<uint8_t>(rng());
    if (request.size() >= 8) {
      const uint32_t protocol = ext->CardCapabilities.CurrentProtocol;
      const uint32_t headerLength = Pick(10) == 0 ? static_cast<uint32_t>(rng()) : 8;
      std::memcpy(request.data(), &protocol, 4);
      std::memcpy(request.data() + 4, &headerLength, 4);
    }
    Bytes reply(Pick(600));
    uint32_t replyLength = 0;
    SmartcardIoRequest& io = ext->SmartcardIoRequest;
    io.RequestBuffer = request.empty() ? nullptr : request.data();
    io.RequestLength = static_cast<uint32_t>(request.size());
    io.ReplyBuffer = reply.empty() ? nullptr : reply.data();
    io.ReplyBufferSize = static_cast<uint32_t>(reply.size());
    io.ReplyLength = &replyLength;
    io.MinorCode = Pick(4);

    NTSTATUS status = STATUS_SUCCESS;
    switch (Pick(6)) {
      case 0:
#if VQ_BUILD_MAC
        ext->DeviceData->PowerMode = Pick(4);
#endif
        status = CCID_SmartcardPower(ext);
        break;
      case 1:
#if VQ_BUILD_CE
        status = CCID_SmartcardSetProtocol(ext);
#else
        status = CCID_SmartcardSetProtocol(ext, static_cast<uint8_t>(Pick(2)), static_cast<uint8_t>(rng()));
#endif
        break;
      case 2:
      case 3:
        status = CCID_SmartcardTransmit(ext);
        break;
      case 4: {
#if VQ_BUILD_CE
        const uint32_t codes[] = {IOCTL_SMARTCARD_VENDOR_ESCAPE, IOCTL_SMARTCARD_VENDOR_INFO, 0x312008};
        io.MajorCode = codes[Pick(3)];
#else
        const uint32_t codes[] = {VendorCodeEscape, VendorCodeReaderInfo, 0x102};
        ext->DeviceData->VendorCode = codes[Pick(3)];
#endif
        status = CCID_SmartcardVender(ext);
        break;
      }
      default:
#if VQ_BUILD_CE
        status = CCID_SmartcardPTS(ext);
#else
        status = CCID_SmartcardPTS(ext, static_cast<uint8_t>(Pick(2)), static_cast<uint8_t>(rng()));
#endif
        break;
    }
    EXPECT_NE(status, STATUS_MORE_PROCESSING_REQUIRED);
    if (status == STATUS_SUCCESS && replyLength != 0) {
      EXPECT_LE(replyLength, reply.size()) << "round " << round;
    }
    EXPECT_LE(ext->CardCapabilities.ATRLength, sizeof ext->CardCapabilities.ATR);
  }
}

}  // namespace
}  // namespace cmdtest

namespace cmdtest {
namespace {

// An escape answer that announces more than ever arrives: the exchange reads
// on until the read times out, and nothing reaches the caller.
TEST(ScriptedReader, EscapeAnswerShorterThanAnnounced) {
  vqtest::ScriptedLink link;
  vqtest::EngineReader reader(link);
  SmartcardExtension* ext = reader.ext();
  link.onWrite = [&](const Bytes& request) {
    Bytes frame = {0x80, 0, 0, 0, 100, 0, request[6], 0, 0, 0};
    frame.resize(10 + 20, 0x42);
    link.chunks.push_back(frame);
  };
  Bytes data = {0x01, 0x02, 0x03};
  Bytes reply(200, 0xEE);
  uint32_t replyLength = 77;
  SmartcardIoRequest& io = ext->SmartcardIoRequest;
  io.RequestBuffer = data.data();
  io.RequestLength = static_cast<uint32_t>(data.size());
  io.ReplyBuffer = reply.data();
  io.ReplyBufferSize = static_cast<uint32_t>(reply.size());
  io.ReplyLength = &replyLength;
#if VQ_BUILD_CE
  io.MajorCode = IOCTL_SMARTCARD_VENDOR_ESCAPE;
#else
  ext->DeviceData->VendorCode = VendorCodeEscape;
#endif
  EXPECT_EQ(CCID_SmartcardVender(ext), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(replyLength, 0u);
  EXPECT_EQ(reply, Bytes(200, 0xEE));
  ASSERT_EQ(link.written.size(), 1u);
  EXPECT_EQ(Bytes(link.written[0].begin() + 10, link.written[0].end()), data);
}

}  // namespace
}  // namespace cmdtest

namespace cmdtest {
namespace {

// Power-on answers of every shape, as they lie in the reply buffer.
TEST(ScriptedReader, ReturnAtrTakesWhatTheAnswerHolds) {
  struct Case {
    const char* name;
    uint8_t infoOk;
    Bytes payload;
    uint32_t announced;  // payload length in the header
    uint32_t atrLength;
    bool fixed, delayed;
  };
  Bytes longAtr = {0x01, 0x3B};
  longAtr.resize(81, 0x11);
  const Case cases[] = {
      {"card type only", 1, {0x01}, 1, 0, false, false},
      {"ATR longer than its field", 1, longAtr, 81, 64, false, false},
      {"length beyond 255", 1, {0x01, 0x3B, 0x00, 0x11, 0x22}, 0x105, 4, false, false},
      {"delayed ATR", 1, {0x01, 0x3B, 0xE2, 0x00, 0x00, 0x40, 0x20, 0x99, 0x01}, 9, 8, false, true},
      {"fixed-ATR type 3", 1, {0x03}, 1, 24, true, false},
      {"type 2 without information", 0, {0x02}, 1, 0, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vqtest::ScriptedLink link;
    vqtest::EngineReader reader(link);
    SmartcardExtension* ext = reader.ext();
    reader.dev()->ReaderInfoOk = c.infoOk;
    Bytes frame = {0x80, static_cast<uint8_t>(c.announced >> 24), static_cast<uint8_t>(c.announced >> 16),
                   static_cast<uint8_t>(c.announced >> 8), static_cast<uint8_t>(c.announced), 0, 0, 0, 0, 0};
    frame.insert(frame.end(), c.payload.begin(), c.payload.end());
    std::memcpy(ext->ReplyBuffer, frame.data(), frame.size());
    ext->ReceivedLength = static_cast<uint32_t>(frame.size());
    Bytes reply(33, 0);
    uint32_t replyLength = 99;
    ext->SmartcardIoRequest.ReplyBuffer = reply.data();
    ext->SmartcardIoRequest.ReplyBufferSize = static_cast<uint32_t>(reply.size());
    ext->SmartcardIoRequest.ReplyLength = &replyLength;
    ext->CardCapabilities.ATRLength = 0;

    EXPECT_EQ(CCID_ReturnATR(ext), STATUS_SUCCESS);
    EXPECT_EQ(ext->CardCapabilities.ATRLength, c.atrLength);
    EXPECT_EQ(reader.dev()->FixedAtrCard, c.fixed ? 1 : 0);
    EXPECT_EQ(reader.dev()->DelayedAtrCard, c.delayed ? 1u : 0u);
    if (c.atrLength != 0) {
      const uint32_t copied = std::min<uint32_t>(c.atrLength, 33);
      EXPECT_EQ(replyLength, copied);
      EXPECT_EQ(Bytes(reply.begin(), reply.begin() + copied),
                Bytes(ext->CardCapabilities.ATR, ext->CardCapabilities.ATR + copied));
    } else {
      EXPECT_EQ(replyLength, 99u);  // nothing returned
    }
  }
}

}  // namespace
}  // namespace cmdtest

namespace cmdtest {
namespace {

// A power-on answer whose frame stops part-way (the reader goes quiet after
// 6 of its 10 payload bytes): the Mac build judges the answer and keeps an
// ATR of the 5 bytes that arrived, no more; the Windows CE build passes the
// failed exchange up and keeps no ATR. Nothing of an earlier answer left in
// the reply buffer is taken for the rest.
TEST(ScriptedReader, AtrIsCutToWhatArrivedOfAFrameThatStopped) {
  vqtest::ScriptedLink link;
  vqtest::EngineReader reader(link);
  SmartcardExtension* ext = reader.ext();
  std::memset(ext->ReplyBuffer, 0x77, ext->ReplyBufferSize);
  link.onWrite = [&link](const Bytes& request) {
    const uint8_t seq = request[6];
    if (request[0] == 0x63) {
      link.chunks.push_back(vqtest::ReplyFrame(0x81, seq, 0x01, {}));
    } else if (request[0] == 0x62) {
      const Bytes frame = vqtest::ReplyFrame(0x80, seq, 0x00,
                                             {0x01, 0x3B, 0x16, 0x13, 0x56, 0x51, 0x55, 0x53, 0x42, 0x30});
      link.chunks.push_back(Bytes(frame.begin(), frame.begin() + 10 + 6));
    }
  };
  Bytes reply(100, 0xEE);
  uint32_t replyLength = 99;
  ext->SmartcardIoRequest.ReplyBuffer = reply.data();
  ext->SmartcardIoRequest.ReplyBufferSize = static_cast<uint32_t>(reply.size());
  ext->SmartcardIoRequest.ReplyLength = &replyLength;
#if VQ_BUILD_CE
  ext->SmartcardIoRequest.MinorCode = 1;  // cold reset
  EXPECT_EQ(CCID_SmartcardPower(ext), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(ext->CardCapabilities.ATRLength, 0u);
  EXPECT_EQ(reply, Bytes(100, 0xEE));
#else
  ext->DeviceData->PowerMode = 2;  // power up
  ext->CardCapabilities.PpsMode = 1;
  // Five bytes are no whole ATR: the card is not recognised.
  EXPECT_EQ(CCID_SmartcardPower(ext), STATUS_UNRECOGNIZED_MEDIA);
  const Bytes arrived{0x3B, 0x16, 0x13, 0x56, 0x51};
  ASSERT_EQ(ext->CardCapabilities.ATRLength, 5u);
  EXPECT_EQ(Bytes(ext->CardCapabilities.ATR, ext->CardCapabilities.ATR + 5), arrived);
  EXPECT_EQ(replyLength, 5u);
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 6), (Bytes{0x3B, 0x16, 0x13, 0x56, 0x51, 0xEE}));
#endif
}

}  // namespace
}  // namespace cmdtest
