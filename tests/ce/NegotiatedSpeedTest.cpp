// The speed SET_PROTOCOL negotiates: the PPS frame the reader is sent (the
// card's own Fi/Di, or the default ones when the mask has bit 31) and the
// rate in force afterwards, as the attributes report it.
#include "CeFixture.h"

namespace cetest {
namespace {

using Bytes = std::vector<uint8_t>;

class NegotiatedSpeed : public CeDriver {};

struct SpeedCase {
  const char* name;
  const char* atr;
  bool t1;
  const char* firmware;
  uint32_t mask;
  Bytes pps;       // payload of the PPS transfer block
  uint8_t fidi;    // Fi/Di the card and the reader's parameters take
  uint32_t f, d;   // SCARD_ATTR_CURRENT_F, SCARD_ATTR_CURRENT_D (D x 64)
  uint32_t clk;    // SCARD_ATTR_CURRENT_CLK
};

TEST_F(NegotiatedSpeed, SetProtocolAsksForTheCardsSpeedUnlessDefaultIsAsked) {
  constexpr uint32_t Default = 0x80000000u;
  const char* t0 = "3B 16 13 56 51 55 53 42 30";     // TA1 0x13: F 372, D 4
  const char* t0Fast = "3B 16 18 56 51 55 53 42 30"; // TA1 0x18: F 372, D 12
  const char* t0Fi9 = "3B 16 94 56 51 55 53 42 30";  // TA1 0x94: F 512, D 8
  const char* t1 = "3B 96 13 81 31 FE 45 56 51 55 53 42 31 FC";
  const SpeedCase cases[] = {
      {"T=0", t0, false, "0100", ProtocolT0, {0xFF, 0x10, 0x13, 0xFC}, 0x13, 372, 256, 5000},
      {"T=0, default", t0, false, "0100", ProtocolT0 | Default, {0xFF, 0x10, 0x11, 0xFE}, 0x11, 372, 64, 5000},
      {"T=1", t1, true, "0100", ProtocolT1, {0xFF, 0x11, 0x13, 0xFD}, 0x13, 372, 256, 5000},
      {"T=1, default", t1, true, "0100", ProtocolT1 | Default, {0xFF, 0x11, 0x11, 0xFF}, 0x11, 372, 64, 5000},
      {"T=0 0x18", t0Fast, false, "0100", ProtocolT0, {0xFF, 0x10, 0x18, 0xF7}, 0x18, 372, 768, 5000},
      {"T=0 0x18, default", t0Fast, false, "0100", ProtocolT0 | Default, {0xFF, 0x10, 0x11, 0xFE}, 0x11, 372, 64,
       5000},
      // 55800 bit/s is in the list of firmware 0070 only.
      {"T=0 0x94, firmware 0070", t0Fi9, false, "0070", ProtocolT0, {0xFF, 0x10, 0x94, 0x7B}, 0x94, 512, 512, 5000},
  };
  for (const SpeedCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes atr = vqsim::FromHex(c.atr);
    std::shared_ptr<vqsim::IsoCard> card;
    if (c.t1) {
      card = vqsim::T1Card(atr);
    } else {
      card = vqsim::T0Card(atr);
    }
    Reader r = Plug("VQ480T", c.firmware, card);
    ASSERT_TRUE(r.claimed);
    const DWORD_PTR h = Open(r);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(Ioctl(h, IOCTL_SMARTCARD_POWER, U32(SCARD_COLD_RESET), 64).ok);
    ASSERT_EQ(CardState(r.ext), CardStateNegotiable);
    r.sim->ClearReceived();

    const auto set = Ioctl(h, IOCTL_SMARTCARD_SET_PROTOCOL, U32(c.mask), 4);
    ASSERT_TRUE(set.ok) << set.error;
    EXPECT_EQ(set.Value(), c.t1 ? ProtocolT1 : ProtocolT0);
    std::vector<vqsim::HostFrame> blocks, parameters;
    for (const auto& f : r.sim->Received()) {
      if (f.header.type == 0x6F) blocks.push_back(f);
      if (f.header.type == 0x61) parameters.push_back(f);
    }
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].payload, c.pps);
    ASSERT_EQ(parameters.size(), 1u);
    EXPECT_EQ(parameters[0].payload[0], c.fidi);
    EXPECT_EQ(card->FiDiInForce(), c.fidi);

    EXPECT_EQ(Attr(h, SCARD_ATTR_CURRENT_F).Value(), c.f);
    EXPECT_EQ(Attr(h, SCARD_ATTR_CURRENT_D).Value(), c.d);
    EXPECT_EQ(Attr(h, SCARD_ATTR_CURRENT_CLK).Value(), c.clk);

    // The card answers at that speed.
    const auto reply = Ioctl(h, IOCTL_SMARTCARD_TRANSMIT,
                             Request(c.t1 ? ProtocolT1 : ProtocolT0, {0x00, 0x84, 0x00, 0x00, 0x08}), 64);
    ASSERT_TRUE(reply.ok) << reply.error;
    EXPECT_EQ(reply.out.size(), 8u + 10u);
    EXPECT_TRUE(VQU_Close(h));
    ASSERT_TRUE(vqce::usb::Unplug(r.id));
  }
}

}  // namespace
}  // namespace cetest
