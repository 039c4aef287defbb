// A T=0 card at APDU level behind the transfer block.
#include <gtest/gtest.h>

#include "SimTestUtil.h"
#include "vqsim/Cards.h"

using namespace vqsim;

namespace {

struct Fixture {
  SimReader reader;
  uint8_t seq = 0;
  explicit Fixture(std::shared_ptr<Card> card) {
    reader.InsertCard(std::move(card));
    simtest::Exchange(reader, kMsgPowerOn, seq++);
  }
  // Card's answer bytes, or an empty vector when the transfer failed.
  std::vector<uint8_t> Xfr(const std::vector<uint8_t>& apdu, uint8_t* err = nullptr) {
    auto a = simtest::Exchange(reader, kMsgXfrBlock, seq++, apdu);
    FrameHeader h = ParseHeader(a);
    if (err) *err = h.b8;
    if ((h.b7 & 0xC0) != kCmdOk) return {};
    return simtest::PayloadOf(a);
  }
};

TEST(T0Card, AnswersTheApduSet) {
  struct Case {
    const char* apdu;
    const char* answer;
  } cases[] = {
      {"00 A4 04 00 07 F0 56 51 55 53 42 01", "90 00"},
      {"00 A4 04 00 05 A0 00 00 00 03", "6A 82"},
      {"00 A4 04 00 00", "90 00"},
      {"00 84 00 00 04", ""},        // four bytes and 90 00, checked below
      {"00 84 00 00 00", ""},        // 256 bytes
      {"80 EE 00 00 03 11 22 33", "61 03"},
      {"80 EE 00 00 03 11 22", "67 00"},  // P3 does not match the data
      {"00 C0 00 00 03", "69 85"},   // nothing to get
      {"A0 A4 00 00 00", "6E 00"},
      {"00 B0 00 00 00", "6D 00"},
  };
  Fixture f(T0Card());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.apdu);
    auto a = f.Xfr(FromHex(c.apdu));
    if (*c.answer) {
      EXPECT_EQ(ToHex(a), c.answer);
    } else {
      const size_t le = FromHex(c.apdu)[4] ? FromHex(c.apdu)[4] : 256;
      ASSERT_EQ(a.size(), le + 2);
      EXPECT_EQ(ToHex(std::span(a).last(2)), "90 00");
    }
  }
}

TEST(T0Card, OutgoingDataWaitsForGetResponse) {
  Fixture f(T0Card());
  EXPECT_EQ(ToHex(f.Xfr(FromHex("80 EE 00 00 04 01 02 03 04"))), "61 04");
  EXPECT_EQ(ToHex(f.Xfr(FromHex("00 C0 00 00 05"))), "6C 04");  // Le too long
  EXPECT_EQ(ToHex(f.Xfr(FromHex("00 C0 00 00 02"))), "01 02 61 02");
  EXPECT_EQ(ToHex(f.Xfr(FromHex("00 C0 00 00 02"))), "03 04 90 00");
  EXPECT_EQ(ToHex(f.Xfr(FromHex("00 84 00 00 02"))).size(), ToHex(FromHex("00 00 90 00")).size());
  EXPECT_EQ(ToHex(f.Xfr(FromHex("00 A4 04 00 00"))), "90 00");
}

TEST(T0Card, TransferFailsWithMuteOrNotReady) {
  struct Case {
    void (*arm)(Faults&);
    uint8_t error;
  } cases[] = {
      {[](Faults& x) { x.cardMute = 1; }, kErrCardMute},
      {[](Faults& x) { x.notReady = 1; }, kErrNotReady},
  };
  for (const auto& c : cases) {
    Fixture f(T0Card());
    f.reader.UpdateFaults(c.arm);
    uint8_t err = 0;
    EXPECT_TRUE(f.Xfr(FromHex("00 A4 04 00 00"), &err).empty());
    EXPECT_EQ(err, c.error);
    EXPECT_EQ(ToHex(f.Xfr(FromHex("00 A4 04 00 00"))), "90 00");  // once only
  }
  // Unpowered card: the reader reports it mute.
  Fixture f(T0Card());
  simtest::Exchange(f.reader, kMsgPowerOff, 50);
  uint8_t err = 0;
  EXPECT_TRUE(f.Xfr(FromHex("00 A4 04 00 00"), &err).empty());
  EXPECT_EQ(err, kErrCardMute);
}

TEST(T0Card, InverseConventionCardInvertsAtrAndData) {
  Fixture f(InverseCard());
  auto atrFrame = simtest::Exchange(f.reader, kMsgPowerOn, 90);
  auto p = simtest::PayloadOf(atrFrame);
  ASSERT_GE(p.size(), 2u);
  EXPECT_EQ(p[1], 0x03);
  std::vector<uint8_t> atrBytes(p.begin() + 1, p.end());
  InvertBytes(atrBytes);
  EXPECT_EQ(atrBytes, atr::Inverse());
  auto apdu = FromHex("00 A4 04 00 00");
  InvertBytes(apdu);
  auto a = f.Xfr(apdu);
  InvertBytes(a);
  EXPECT_EQ(ToHex(a), "90 00");
}

}  // namespace
