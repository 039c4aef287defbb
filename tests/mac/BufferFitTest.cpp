// Every length the handler checks, at exactly enough room (the whole answer),
// one byte less and none (the too-small status, no bytes).
#include <cstring>

#include "HandlerFixture.h"

namespace {

using namespace mactest;
using Bytes = std::vector<uint8_t>;

// An ATR of the 33 bytes pcscd holds: all four levels of interface bytes,
// 15 historical bytes and TCK; TA2 0x81 (T=1, specific mode).
Bytes Atr33() {
  Bytes atr = vqsim::FromHex("3B FF 11 00 00 F1 81 00 00 F1 FE 45 00 71 FE 45 00");
  for (int i = 0; i < 15; ++i) atr.push_back(static_cast<uint8_t>(0x41 + i));
  return vqsim::atr::WithTck(atr);
}

// Room for the answer, one byte less, none.
struct Fit {
  const char* name;
  DWORD size;
  bool fits;
};

std::vector<Fit> Fits(DWORD exact) {
  return {{"exactly enough", exact, true}, {"one byte less", exact - 1, false}, {"none", 0, false}};
}

TEST_F(HandlerTest, ThirtyThreeByteAtrInThirtyThreeBytes) {
  const Bytes atr = Atr33();
  ASSERT_EQ(atr.size(), 33u);
  Open(vqsim::T1Card(atr));
  for (const Fit& f : Fits(33)) {
    SCOPED_TRACE(f.name);
    Bytes buffer(64, 0xEE);
    DWORD length = f.size;
    EXPECT_EQ(IFDHPowerICC(kLun0, IFD_POWER_UP, buffer.data(), &length),
              f.fits ? IFD_SUCCESS : IFD_COMMUNICATION_ERROR);
    if (f.fits) {
      EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + length), atr);
    } else {
      EXPECT_EQ(length, 0u);
      EXPECT_EQ(buffer, Bytes(64, 0xEE));
    }
  }
  // The card works at that: the capabilities are its own.
  EXPECT_EQ(g_pSmartcardExtension[0]->CardCapabilities.ATRLength, 33);
  std::vector<uint8_t> answer;
  EXPECT_EQ(Transmit(Select(), &answer), IFD_SUCCESS);
  EXPECT_EQ(answer, kOk);
}

TEST_F(HandlerTest, TransmitAnswerInExactlyItsRoom) {
  Open(vqsim::T0Card());
  PowerUp();
  const Bytes challenge{0x00, 0x84, 0x00, 0x00, 0x08};  // 8 bytes and 90 00
  for (const Fit& f : Fits(10)) {
    SCOPED_TRACE(f.name);
    Bytes rx(64, 0xEE);
    DWORD length = f.size;
    SCARD_IO_HEADER send{1, 0}, recv{0, 0};
    EXPECT_EQ(IFDHTransmitToICC(kLun0, send, const_cast<UCHAR*>(challenge.data()), challenge.size(),
                                rx.data(), &length, &recv),
              f.fits ? IFD_SUCCESS : IFD_ERROR_INSUFFICIENT_BUFFER);
    if (f.fits) {
      ASSERT_EQ(length, 10u);
      EXPECT_EQ(Bytes(rx.begin() + 8, rx.begin() + 10), kOk);
      EXPECT_EQ(rx[10], 0xEE);
    } else {
      EXPECT_EQ(length, 0u);
      EXPECT_EQ(rx, Bytes(64, 0xEE));
    }
  }
}

// The request holds up to 1024 data bytes: 1024 reach the card, 1025 are refused unsent.
TEST_F(HandlerTest, TransmitRequestOfTheHandlersMaximumAndOneMore) {
  auto reader = Open(vqsim::T1Card());
  PowerUp();
  for (const size_t size : {size_t{1024}, size_t{1025}}) {
    SCOPED_TRACE(size);
    Bytes apdu(size, 0x00);
    apdu[0] = 0x80;
    apdu[1] = 0xEE;  // echo with a wrong length: the card answers 67 00
    reader->ClearReceived();
    std::vector<uint8_t> answer;
    if (size == 1024) {
      ASSERT_EQ(Transmit(apdu, &answer), IFD_SUCCESS);
      EXPECT_EQ(answer, (Bytes{0x67, 0x00}));
      auto card = std::static_pointer_cast<vqsim::T1Model>(reader->CurrentCard());
      EXPECT_EQ(card->LastCommand(), apdu);
    } else {
      EXPECT_EQ(Transmit(apdu, &answer), IFD_ERROR_INSUFFICIENT_BUFFER);
      EXPECT_TRUE(answer.empty());
      EXPECT_EQ(reader->ReceivedTypes(), Bytes{0x65});
    }
  }
}

struct TagFit {
  DWORD tag;
  DWORD exact;     // room the answer needs
  DWORD length;    // Length answered
  Bytes bytes;     // what is written
};

TEST_F(HandlerTest, CapabilityTagsInExactlyTheirRoom) {
  auto card = vqsim::T0Card();
  Open(card);
  PowerUp();
  const Bytes atr = card->DirectAtr();
  const TagFit tags[] = {
      {0x0100, 8, 7, {'T', 'E', 'R', 'V', 'A', 'N', 'E', 0}},
      {0x0101, 6, 5, {'V', 'Q', 'U', 'S', 'B', 0}},
      {0x0103, 6, 5, {'V', 'Q', 'U', 'S', 'B', 0}},
      {0x0102, 4, 4, {1, 0, 0, 0}},
      {0x0121, 4, 4, {0x80, 0x25, 0, 0}},  // 9600
      {0x0201, 4, 4, {1, 0, 0, 0}},        // T=0 in force
      {0x0300, 1, 1, {4}},                 // card present, in one byte
      {0x0FAE, 1, 1, {1}},
      {0x0FAF, 1, 1, {4}},
      {TAG_IFD_ATR, static_cast<DWORD>(atr.size()), static_cast<DWORD>(atr.size()), atr},
  };
  for (const TagFit& t : tags) {
    for (const Fit& f : Fits(t.exact)) {
      SCOPED_TRACE(testing::Message() << "tag 0x" << std::hex << t.tag << ", " << f.name);
      Bytes value(64, 0xEE);
      DWORD length = f.size;
      EXPECT_EQ(IFDHGetCapabilities(kLun0, t.tag, &length, value.data()),
                f.fits ? IFD_SUCCESS : IFD_ERROR_INSUFFICIENT_BUFFER);
      if (f.fits) {
        EXPECT_EQ(length, t.length);
        EXPECT_EQ(Bytes(value.begin(), value.begin() + t.bytes.size()), t.bytes);
        EXPECT_EQ(value[t.exact], 0xEE) << "written past the room";
      } else {
        EXPECT_EQ(length, 0u);
        EXPECT_EQ(value, Bytes(64, 0xEE));
      }
    }
  }
}

TEST_F(HandlerTest, ControlAnswersInExactlyTheirRoom) {
  auto reader = Open(vqsim::T0Card());
  const Bytes info = vqsim::InfoBlock("VQ480T", "0100");
  const Bytes escaped{0xA1, 0xA2, 0xA3};
  const struct {
    const char* name;
    Bytes tx;
    Bytes answer;
    RESPONSECODE tooSmall;
  } controls[] = {
      {"reader information", {0x01, 0x01, 0x00, 0x00}, info, IFD_ERROR_INSUFFICIENT_BUFFER},
      {"escape", {0x00, 0x01, 0x00, 0x00, 0xA1, 0xA2, 0xA3}, escaped, IFD_COMMUNICATION_ERROR},
  };
  for (const auto& c : controls) {
    for (const Fit& f : Fits(static_cast<DWORD>(c.answer.size()))) {
      SCOPED_TRACE(testing::Message() << c.name << ", " << f.name);
      Bytes rx(64, 0xEE);
      DWORD length = f.size;
      EXPECT_EQ(IFDHControl(kLun0, const_cast<UCHAR*>(c.tx.data()), c.tx.size(), rx.data(), &length),
                f.fits ? IFD_SUCCESS : c.tooSmall);
      if (f.fits) {
        EXPECT_EQ(Bytes(rx.begin(), rx.begin() + length), c.answer);
        EXPECT_EQ(rx[c.answer.size()], 0xEE);
      } else {
        EXPECT_EQ(length, 0u);
        EXPECT_EQ(rx, Bytes(64, 0xEE));
      }
    }
  }
}

}  // namespace
