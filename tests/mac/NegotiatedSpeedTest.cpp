// The speed the handler negotiates: the PPS frame the reader is sent at every
// power-up and reset (the card's own Fi/Di, PPS mode 1), the parameters the
// reader is given and the rate in force afterwards.
#include <algorithm>

#include "HandlerFixture.h"

namespace {

using namespace mactest;
using Bytes = std::vector<uint8_t>;

struct SpeedCase {
  const char* name;
  std::shared_ptr<vqsim::IsoCard> card;
  DWORD action;
  Bytes pps;          // payload of the first transfer block after the power-on
  uint8_t fidi;       // Fi/Di the card and the reader's parameters take
  uint32_t etu;       // microseconds at 3571 kHz
  uint32_t dataRate;  // bit/s
};

TEST_F(HandlerTest, PowerUpAndResetAskForTheCardsOwnSpeed) {
  const Bytes t0Fast = vqsim::FromHex("3B 16 18 56 51 55 53 42 30");  // TA1 0x18
  const SpeedCase cases[] = {
      // TA1 0x13: F 372, D 4, 38400 bit/s.
      {"T=0 power-up", vqsim::T0Card(), IFD_POWER_UP, {0xFF, 0x10, 0x13, 0xFC}, 0x13, 27, 38400},
      {"T=0 reset", vqsim::T0Card(), IFD_RESET, {0xFF, 0x10, 0x13, 0xFC}, 0x13, 27, 38400},
      {"T=1 power-up", vqsim::T1Card(), IFD_POWER_UP, {0xFF, 0x11, 0x13, 0xFD}, 0x13, 27, 38400},
      {"T=1 reset", vqsim::T1Card(), IFD_RESET, {0xFF, 0x11, 0x13, 0xFD}, 0x13, 27, 38400},
      // TA1 0x18: F 372, D 12, twelve times the default rate.
      {"T=0 0x18 power-up", vqsim::T0Card(t0Fast), IFD_POWER_UP, {0xFF, 0x10, 0x18, 0xF7}, 0x18, 9,
       115200},
      {"T=0 0x18 reset", vqsim::T0Card(t0Fast), IFD_RESET, {0xFF, 0x10, 0x18, 0xF7}, 0x18, 9,
       115200},
  };
  for (const SpeedCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto reader = Open(c.card);
    if (c.action == IFD_RESET) PowerUp();
    reader->ClearReceived();
    UCHAR atr[MAX_ATR_SIZE];
    DWORD length = sizeof atr;
    ASSERT_EQ(IFDHPowerICC(kLun0, c.action, atr, &length), IFD_SUCCESS);
    EXPECT_EQ(Bytes(atr, atr + length), c.card->DirectAtr());

    std::vector<vqsim::HostFrame> blocks, parameters;
    for (const auto& f : reader->Received()) {
      if (f.header.type == 0x6F) blocks.push_back(f);
      if (f.header.type == 0x61) parameters.push_back(f);
    }
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].payload, c.pps);
    ASSERT_EQ(parameters.size(), 1u);
    EXPECT_EQ(parameters[0].payload[0], c.fidi);
    EXPECT_EQ(c.card->FiDiInForce(), c.fidi);

    const CardCapabilities& caps = g_pSmartcardExtension[0]->CardCapabilities;
    EXPECT_EQ(caps.Fl, c.fidi >> 4);
    EXPECT_EQ(caps.Dl, c.fidi & 0x0F);
    EXPECT_EQ(caps.etu, c.etu);
    EXPECT_EQ(caps.ChosenDataRate, c.dataRate);

    // The card answers at that speed.
    std::vector<uint8_t> answer;
    EXPECT_EQ(Transmit(Select(), &answer), IFD_SUCCESS);
    EXPECT_EQ(answer, kOk);
    ASSERT_EQ(IFDHCloseChannel(kLun0), IFD_SUCCESS);
    vqiokit::DetachAll();
  }
}

}  // namespace
