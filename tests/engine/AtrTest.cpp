// Decoding the ATR and choosing Fi/Di, clock and data rate.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Atr.h"
#include "vqtest/ScriptedLink.h"
#include "Smartcard.h"
#include "T0Raw.h"
#include "vqtest/EngineSimLink.h"

namespace {

using vqtest::Bytes;

// Appends TCK so that T0 .. TCK XOR to zero.
Bytes WithTck(Bytes atr) {
  uint8_t x = 0;
  for (size_t i = 1; i < atr.size(); ++i) x ^= atr[i];
  atr.push_back(x);
  return atr;
}

Bytes Inverted(Bytes b) {
  SmartcardInvertData(b.data(), static_cast<uint32_t>(b.size()));
  return b;
}

class AtrTest : public ::testing::Test {
 protected:
  vqtest::ScriptedLink link;
  vqtest::EngineReader reader{link};
  SmartcardExtension* ext = reader.ext();
  CardCapabilities& caps = ext->CardCapabilities;

  NTSTATUS Update(const Bytes& atr, uint8_t ppsMode = 0) {
    SmartcardInitializeCardCapabilities(ext);
    if (!atr.empty()) std::memcpy(caps.ATR, atr.data(), atr.size());
    caps.ATRLength = static_cast<uint8_t>(atr.size());
    caps.PpsMode = ppsMode;
    return SmartcardUpdateCardCapabilities(ext);
  }
  Bytes StoredAtr() const { return Bytes(caps.ATR, caps.ATR + caps.ATRLength); }
};

// Real-world shaped ATRs and what the card capabilities make of them (PPS mode 0).
struct AtrCase {
  std::string name;
  Bytes atr;
  NTSTATUS status;
  uint32_t offered;  // without the raw bit
  uint32_t state;
  uint32_t current;
};

TEST_F(AtrTest, DecodesAtrs) {
  const Bytes t1Crc = WithTck({0x3B, 0x80, 0x81, 0x71, 0xFE, 0x45, 0x01});
  Bytes badTck = t1Crc;
  badTck.back() ^= 0x01;
  const AtrCase cases[] = {
      {"T=0 only, no TCK", {0x3B, 0x02, 0x14, 0x50}, STATUS_SUCCESS, ProtocolT0,
       CardStateSpecific, ProtocolT0},
      {"T=0 with TA1 0x13 is negotiable", {0x3B, 0x11, 0x13, 0x55}, STATUS_SUCCESS, ProtocolT0,
       CardStateNegotiable, ProtocolNone},
      {"extra trailing byte", {0x3B, 0x02, 0x14, 0x50, 0x00}, STATUS_UNRECOGNIZED_MEDIA, 0, 0, 0},
      {"missing historical byte", {0x3B, 0x02, 0x14}, STATUS_UNRECOGNIZED_MEDIA, 0, 0, 0},
      {"T=1 with CRC", t1Crc, STATUS_SUCCESS, ProtocolT1, CardStateSpecific, ProtocolT1},
      {"bad TCK", badTck, STATUS_UNRECOGNIZED_MEDIA, 0, 0, 0},
      {"T=1 without TCK", {0x3B, 0x80, 0x01}, STATUS_UNRECOGNIZED_MEDIA, 0, 0, 0},
      {"TD2 names T=15", WithTck({0x3B, 0x80, 0x80, 0x0F}), STATUS_SUCCESS, ProtocolT0,
       CardStateNegotiable, ProtocolNone},
      {"TA2 0x81: specific T=1 despite TA1", WithTck({0x3B, 0x90, 0x13, 0x11, 0x81}),
       STATUS_SUCCESS, ProtocolT1, CardStateSpecific, ProtocolT1},
      {"TA2 0x11", WithTck({0x3B, 0x90, 0x96, 0x11, 0x11}), STATUS_SUCCESS, ProtocolT1,
       CardStateSpecific, ProtocolT1},
      {"TA2 with T=0 and T=15", WithTck({0x3B, 0x80, 0x90, 0x10, 0x0F}), STATUS_SUCCESS,
       ProtocolT0, CardStateSpecific, ProtocolT0},
      {"T=1 on every level leaves no T=1 bytes", WithTck({0x3B, 0x80, 0x81, 0x81, 0x81, 0x01}),
       STATUS_UNRECOGNIZED_MEDIA, 0, 0, 0},
      {"unknown TS", {0x3C, 0x00}, STATUS_UNRECOGNIZED_MEDIA, 0, 0, 0},
      {"one byte", {0x3B}, STATUS_UNRECOGNIZED_MEDIA, 0, 0, 0},
      {"Fi index with F 0", {0x3B, 0x10, 0x71}, STATUS_UNRECOGNIZED_MEDIA, 0, 0, 0},
      {"Di index 0", {0x3B, 0x10, 0x10}, STATUS_UNRECOGNIZED_MEDIA, 0, 0, 0},
      {"Di index 7", {0x3B, 0x10, 0x17}, STATUS_UNRECOGNIZED_MEDIA, 0, 0, 0},
      {"interface bytes beyond the end", {0x3B, 0xF0}, STATUS_UNRECOGNIZED_MEDIA, 0, 0, 0},
  };
  for (const AtrCase& c : cases) {
    SCOPED_TRACE(c.name);
    ext->ReaderCapabilities.CurrentState = CardStateSwallowed;
    ASSERT_EQ(Update(c.atr), c.status);
    if (c.status != STATUS_SUCCESS) continue;
    EXPECT_EQ(caps.ProtocolsOffered, c.offered | ProtocolRaw);
    EXPECT_EQ(ext->ReaderCapabilities.CurrentState, c.state);
    EXPECT_EQ(caps.CurrentProtocol, c.current);
  }
}

TEST_F(AtrTest, DefaultsAtReaderClock) {
  // No TA1: Fi = Di = 1; at 3571 kHz the etu is 105 us.
  ASSERT_EQ(Update({0x3B, 0x02, 0x14, 0x50}), STATUS_SUCCESS);
  EXPECT_EQ(caps.Fl, 1);
  EXPECT_EQ(caps.Dl, 1);
  EXPECT_EQ(caps.PtsFl, 1);
  EXPECT_EQ(caps.PtsDl, 1);
  EXPECT_EQ(caps.etu, 105u);
  EXPECT_EQ(caps.ChosenClock, 3571u);
  EXPECT_EQ(caps.ChosenDataRate, 9600u);
  EXPECT_EQ(caps.II, 0x25 >> 6);
  EXPECT_EQ(caps.P, (0x25 & 0x1F) * 10);
  EXPECT_EQ(caps.T0.WI, 10);
  EXPECT_EQ(caps.T0.WT, 1u + 10u * 960u * 105u);
  EXPECT_EQ(caps.HistoricalCount, 2);
  EXPECT_EQ(caps.HistoricalChars[0], 0x14);
  EXPECT_EQ(caps.HistoricalChars[1], 0x50);
  EXPECT_EQ(caps.GuardMode, 2);
  EXPECT_EQ(caps.GT, 0u);
}

TEST_F(AtrTest, T1BytesOfTheT1Level) {
  // TD1 T=1, TD2 T=1: the T=1 bytes are TA3, TB3, TC3.
  ASSERT_EQ(Update(WithTck({0x3B, 0x80, 0x81, 0x71, 0xFE, 0x45, 0x01})), STATUS_SUCCESS);
  EXPECT_EQ(caps.T1.IFSC, 254);
  EXPECT_EQ(caps.T1.CWI, 5);
  EXPECT_EQ(caps.T1.BWI, 4);
  EXPECT_EQ(caps.T1.EDC, 1);
  EXPECT_EQ(caps.T1.CWT, (32u + 11u) * 105u + 1u);
  EXPECT_EQ(caps.T1.BWT, 1600000u + 11u * 105u + 1u);

  // TB3 0x00 and no TA3/TC3: the defaults.
  ASSERT_EQ(Update(WithTck({0x3B, 0x80, 0x81, 0x21, 0x00})), STATUS_SUCCESS);
  EXPECT_EQ(caps.T1.IFSC, 32);
  EXPECT_EQ(caps.T1.CWI, 13);
  EXPECT_EQ(caps.T1.BWI, 4);
  EXPECT_EQ(caps.T1.EDC, 0);
  EXPECT_EQ(caps.T1.CWT, (8192u + 11u) * 105u + 1u);
  EXPECT_EQ(caps.T1.BWT, 1600000u + 11u * 105u + 1u);

  // Only TD1 names T=1: TA2 (specific mode) and TB2/TC2 are no T=1 bytes,
  // so the T=1 values are the defaults; TA2 still selects T=1.
  const Bytes td1Only = WithTck({0x3B, 0x90, 0x13, 0x71, 0x81, 0x5A, 0x33});
  ASSERT_EQ(Update(td1Only), STATUS_SUCCESS);
  EXPECT_EQ(caps.T1.IFSC, 32);
  EXPECT_EQ(caps.T1.CWI, 13);
  EXPECT_EQ(caps.T1.BWI, 4);
  EXPECT_EQ(caps.T1.EDC, 0);
  EXPECT_EQ(caps.CurrentProtocol, ProtocolT1);
  EXPECT_EQ(caps.P, 0x5A);  // TB2 is still the programming voltage

  // TD1, TD2 and TD3 name T=1: the first level after TD2 holds T=1's bytes.
  ASSERT_EQ(Update(WithTck({0x3B, 0x80, 0x81, 0x91, 0x40, 0x01})), STATUS_SUCCESS);
  EXPECT_EQ(caps.T1.IFSC, 0x40);
  EXPECT_EQ(caps.T1.BWI, 4);
  EXPECT_EQ(caps.T1.CWI, 13);

  // BWI 15: 2^15 x 100 ms does not fit 32-bit products but is kept right.
  ASSERT_EQ(Update(WithTck({0x3B, 0x80, 0x81, 0x21, 0xF0})), STATUS_SUCCESS);
  EXPECT_EQ(caps.T1.BWT, 32768u * 100000u + 11u * 105u + 1u);
}

TEST_F(AtrTest, GuardTimeFromTc1) {
  const struct {
    uint8_t tc1, mode;
    uint32_t gt;
  } cases[] = {{0, 2, 0}, {2, 0, 2 * 105}, {255, 1, 0}};
  for (const auto& c : cases) {
    ASSERT_EQ(Update({0x3B, 0x40, c.tc1}), STATUS_SUCCESS);
    EXPECT_EQ(caps.N, c.tc1);
    EXPECT_EQ(caps.GuardMode, c.mode) << int(c.tc1);
    EXPECT_EQ(caps.GT, c.gt) << int(c.tc1);
  }
}

TEST_F(AtrTest, InverseConvention) {
  const Bytes direct = {0x3F, 0x02, 0x14, 0x50};
  const Bytes wire = Inverted(direct);
  ASSERT_EQ(wire[0], 0x03);
  ASSERT_EQ(Update(wire), STATUS_SUCCESS);
  EXPECT_EQ(caps.InversConvention, 1);
  EXPECT_EQ(StoredAtr(), direct);

  // Already decoded by the reader (0x3F): left as it is.
  ASSERT_EQ(Update(direct), STATUS_SUCCESS);
  EXPECT_EQ(caps.InversConvention, 0);
  EXPECT_EQ(StoredAtr(), direct);

  // A bad TCK restores the received form and clears the flag.
  Bytes bad = WithTck({0x3F, 0x80, 0x01});
  bad.back() ^= 0x10;
  const Bytes badWire = Inverted(bad);
  ASSERT_EQ(Update(badWire), STATUS_UNRECOGNIZED_MEDIA);
  EXPECT_EQ(caps.InversConvention, 0);
  EXPECT_EQ(StoredAtr(), badWire);
}

TEST_F(AtrTest, OptimalModeFindsRateWithinOnePercent) {
  // TA1 0x18 (F 372, D 12): 115193 x 100 matches 115200; etu 9 us.
  ASSERT_EQ(Update({0x3B, 0x10, 0x18}, 1), STATUS_SUCCESS);
  EXPECT_EQ(caps.PtsFl, 1);
  EXPECT_EQ(caps.PtsDl, 8);
  EXPECT_EQ(caps.ChosenDataRate, 115200u);
  EXPECT_EQ(caps.ChosenClock, 3571u);
  EXPECT_EQ(caps.etu, 9u);
  // The empty clock list became the reader's {default, max}.
  EXPECT_EQ(ext->ReaderCapabilities.CLKFrequenciesSupported.Entries, 2);

  // TA1 0x13 (D 4): 38397 x 100 matches 38400.
  ASSERT_EQ(Update({0x3B, 0x10, 0x13}, 1), STATUS_SUCCESS);
  EXPECT_EQ(caps.PtsDl, 3);
  EXPECT_EQ(caps.ChosenDataRate, 38400u);
  EXPECT_EQ(caps.etu, 27u);
}

TEST_F(AtrTest, OptimalModeStepsDownToDefault) {
  // TA1 0x91: Di 1 runs no search; Fi steps 9, 6, 5 ... 1 and the result is
  // Fi = Di = 1 with the reader's default rate and clock.
  ASSERT_EQ(Update({0x3B, 0x10, 0x91}, 1), STATUS_SUCCESS);
  EXPECT_EQ(caps.PtsFl, 1);
  EXPECT_EQ(caps.PtsDl, 1);
  EXPECT_EQ(caps.ChosenDataRate, ext->ReaderCapabilities.DataRate.Default);
  EXPECT_EQ(caps.ChosenClock, 3571u);
  EXPECT_EQ(caps.etu, 105u);

  // D 32 at F 372 is no rate of the list: Di steps down until D 4 matches 38400.
  ASSERT_EQ(Update({0x3B, 0x10, 0x16}, 1), STATUS_SUCCESS);
  EXPECT_EQ(caps.PtsFl, 1);
  EXPECT_EQ(caps.PtsDl, 3);
  EXPECT_EQ(caps.ChosenDataRate, 38400u);
}

TEST_F(AtrTest, OfferedIndicesWithoutUsableClock) {
  // Fi index 0 (fmax 9600 Hz): no reader clock at or below it in mode 1;
  // mode 0 does not look.
  EXPECT_EQ(Update({0x3B, 0x10, 0x01}, 1), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Update({0x3B, 0x10, 0x01}, 0), STATUS_SUCCESS);

  // Other modes start from the offered indices already stored.
  SmartcardInitializeCardCapabilities(ext);
  const Bytes atr = {0x3B, 0x10, 0x18};
  std::memcpy(caps.ATR, atr.data(), atr.size());
  caps.ATRLength = 3;
  caps.PpsMode = 2;
  const struct {
    uint8_t fl, dl;
    NTSTATUS status;
  } cases[] = {{16, 1, STATUS_INVALID_PARAMETER}, {7, 1, STATUS_INVALID_PARAMETER},
               {1, 16, STATUS_INVALID_PARAMETER}, {1, 7, STATUS_INVALID_PARAMETER},
               {1, 3, STATUS_SUCCESS}};
  for (const auto& c : cases) {
    caps.PtsFl = c.fl;
    caps.PtsDl = c.dl;
    EXPECT_EQ(SmartcardUpdateCardCapabilities(ext), c.status) << int(c.fl) << "/" << int(c.dl);
  }
  EXPECT_EQ(caps.ChosenDataRate, 38400u);
}

TEST_F(AtrTest, ReaderWithoutDefaultClock) {
  ext->ReaderCapabilities.CLKFrequency = {0, 0};
  ASSERT_EQ(Update({0x3B, 0x02, 0x14, 0x50}), STATUS_SUCCESS);
  // 3571200 Hz is taken for the etu.
  EXPECT_EQ(caps.etu, 372u * 1000000u / 3571200u + 1u);
  EXPECT_EQ(Update({0x3B, 0x10, 0x18}, 1), STATUS_INVALID_PARAMETER);
}

TEST(PowerOfTwo, DoublesAndWraps) {
  const struct {
    uint8_t n;
    uint32_t value;
  } cases[] = {{0, 1}, {1, 2}, {4, 16}, {13, 8192}, {31, 0x80000000u}, {32, 0}, {255, 0}};
  for (const auto& c : cases) EXPECT_EQ(PowerOfTwo(c.n), c.value) << int(c.n);
}

TEST_F(AtrTest, AnyAtrEndsInAStatus) {
  // Arbitrary bytes and lengths up to 64 stay inside the record.
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<uint8_t>(seed >> 16);
  };
  for (int round = 0; round < 20000; ++round) {
    Bytes atr(next() % 65);
    for (auto& b : atr) b = next();
    static const uint8_t kTs[] = {0x3B, 0x3F, 0x03};
    if (!atr.empty() && round % 4 != 3) atr[0] = kTs[round % 4];
    const NTSTATUS s = Update(atr, static_cast<uint8_t>(round % 3));
    ASSERT_TRUE(s == STATUS_SUCCESS || s == STATUS_UNRECOGNIZED_MEDIA ||
                s == STATUS_INVALID_PARAMETER);
    ASSERT_LE(caps.HistoricalCount, 15);
  }
}

}  // namespace
