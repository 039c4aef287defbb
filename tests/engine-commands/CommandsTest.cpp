// The reader commands one by one: PPS, speed command, parameters, re-reset,
// fixed-ATR cards, vendor operations and the failures of each.
#include "CommandFixture.h"
#include "T1.h"

#if VQ_BUILD_CE
#include <vqce/Clock.h>
#endif

namespace cmdtest {
namespace {

class Commands : public CommandFixture {
 protected:
  // Set protocol without the capability re-read, on the fields as they stand.
  NTSTATUS SelectProtocol(uint32_t mask) {
    SetIo({}, 4);
    ext->SmartcardIoRequest.MinorCode = mask;
#if VQ_BUILD_CE
    return CCID_SmartcardSetProtocol(ext);
#else
    return CCID_SmartcardSetProtocol(ext, 0, 0);
#endif
  }
  Bytes Types() const { return sim->ReceivedTypes(); }
};

// A T=0 card with the given TA1 and the default historical bytes.
std::shared_ptr<vqsim::T0Model> CardWithTa1(uint8_t ta1) {
  return vqsim::T0Card({0x3B, 0x16, ta1, 0x56, 0x51, 0x55, 0x53, 0x42, 0x30});
}

// A T=0 card in specific mode (TA2) with the given TA1: no PPS is made.
std::shared_ptr<vqsim::T0Model> SpecificCard(uint8_t ta1) {
  return vqsim::T0Card({0x3B, 0x90, ta1, 0x10, 0x80});
}

// ---- PPS ----------------------------------------------------------------------

TEST_F(Commands, PpsForFiDi18DependsOnTheFirmware) {
  struct Case {
    const char* firmware;
    Bytes types;      // frames of set protocol
    uint8_t ppsSent;  // PPS1 of the PPS that went out
    uint8_t inForce;  // Fi/Di byte of the parameters
  };
  const Case cases[] = {
      {"0070", {0x59, 0x6F, 0x61}, 0x11, 0x11},  // refused before sending: Fi = Di = 1
      {"0071", {0x6F, 0x61}, 0x18, 0x18},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.firmware);
    Open(c.firmware, CardWithTa1(0x18));
    ASSERT_EQ(Power(1), STATUS_SUCCESS);
    sim->ClearReceived();
    ASSERT_EQ(SetProtocol(ProtocolT0), STATUS_SUCCESS);
    EXPECT_EQ(Types(), c.types);
    const auto pps = Sent(0x6F);
    ASSERT_EQ(pps.size(), 1u);
    EXPECT_EQ(pps[0].payload[1], 0x10);
    EXPECT_EQ(pps[0].payload[2], c.ppsSent);
    EXPECT_EQ(Sent(0x61)[0].payload[0], c.inForce);
    EXPECT_EQ(ext->CardCapabilities.CurrentProtocol, ProtocolT0);
  }
}

TEST_F(Commands, FailedPpsFallsBackToFiDi11) {
  struct Case {
    vqsim::PpsAnswer answer;
    NTSTATUS status;  // a refusing card stays quiet, so its parameters fail
  };
  const Case cases[] = {{vqsim::PpsAnswer::Wrong, STATUS_SUCCESS},
                        {vqsim::PpsAnswer::Refuse, STATUS_NO_MEDIA}};
  for (const Case& c : cases) {
    Open("0100", vqsim::T0Card());
    ASSERT_EQ(Power(1), STATUS_SUCCESS);
    sim->UpdateFaults([&](vqsim::Faults& f) { f.pps = c.answer; });
    sim->ClearReceived();
    EXPECT_EQ(SetProtocol(ProtocolT0), c.status);
    EXPECT_EQ(Types(), (Bytes{0x6F, 0x59, 0x6F, 0x61}));
    const auto pps = Sent(0x6F);
    ASSERT_EQ(pps.size(), 2u);
    EXPECT_EQ(pps[0].payload[2], 0x13);
    EXPECT_EQ(pps[1].payload[2], 0x11);
    EXPECT_EQ(Sent(0x61)[0].payload[0], 0x11);
    EXPECT_EQ(ext->CardCapabilities.Fl, 1);
    EXPECT_EQ(ext->CardCapabilities.Dl, 1);
  }
}

#if VQ_BUILD_MAC
TEST_F(Commands, MacPpsTakesTheCallersPps1) {
  Open("0100", vqsim::T0Card());
  ASSERT_EQ(Power(1), STATUS_SUCCESS);
  sim->ClearReceived();
  SetIo({}, 4);
  ext->SmartcardIoRequest.MinorCode = ProtocolT0;
  ASSERT_EQ(CCID_SmartcardSetProtocol(ext, 1, 0x12), STATUS_SUCCESS);
  EXPECT_EQ(Sent(0x6F)[0].payload, (Bytes{0xFF, 0x10, 0x12, 0xFF ^ 0x10 ^ 0x12}));
  EXPECT_EQ(Sent(0x61)[0].payload[0], 0x12);
}
#endif

TEST_F(Commands, SpeedCommandBeforeParameters) {
  struct Case {
    const char* firmware;
    uint8_t ta1;
    bool speed;
  };
  const Case cases[] = {
      {"0041", 0x22, true},  {"0041", 0x12, false}, {"0041", 0x92, false},
      {"0040", 0x22, false}, {"0100", 0x22, false}, {"0170", 0x22, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.firmware) + " TA1 " + std::to_string(c.ta1));
    Open(c.firmware, SpecificCard(c.ta1));
    ASSERT_EQ(Power(1), STATUS_SUCCESS);
    ASSERT_EQ(ext->ReaderCapabilities.CurrentState, CardStateSpecific);
    sim->ClearReceived();
    ASSERT_EQ(SetProtocol(ProtocolT0), STATUS_SUCCESS);
    EXPECT_EQ(Types(), c.speed ? (Bytes{0x51, 0x61}) : (Bytes{0x61}));
    if (c.speed) {
      EXPECT_EQ(Sent(0x51)[0].payload, (Bytes{0x0E}));
    }
  }
}

// ---- set parameters -----------------------------------------------------------

TEST_F(Commands, ParameterBytesOfEachProtocol) {
  struct Case {
    uint8_t fidi;
    uint32_t protocol;
    uint8_t n, cwi, bwi, edc;
    bool inverse;
    Bytes expected;
  };
  const Case cases[] = {
      {0x18, ProtocolT0, 0, 0, 0, 0, false, {0x18, 0x00, 1, 10, 0}},
      {0x18, ProtocolT0, 255, 0, 0, 0, false, {0x18, 0x00, 8, 10, 0}},
      {0x11, ProtocolT0, 5, 0, 0, 0, true, {0x11, 0x02, 6, 10, 0}},
      {0x18, ProtocolT1, 0, 13, 4, 0, false, {0x18, 0x00, 2, 0x4D, 0, 0, 0}},
      {0x18, ProtocolT1, 255, 2, 4, 0, false, {0x18, 0x00, 1, 0x42, 0, 0, 0}},
      {0x18, ProtocolT1, 20, 4, 4, 0, false, {0x18, 0x00, 20, 0x44, 0, 0, 0}},
      {0x13, ProtocolT1, 5, 5, 7, 1, true, {0x13, 0x03, 5, 0x75, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "FiDi " << int(c.fidi) << " T=" << c.protocol - 1
                                    << " N " << int(c.n));
    Open("0100", c.protocol == ProtocolT1 ? std::shared_ptr<vqsim::Card>(vqsim::T1Card())
                                          : std::shared_ptr<vqsim::Card>(vqsim::T0Card()));
    ASSERT_EQ(Power(1), STATUS_SUCCESS);
    CardCapabilities& caps = ext->CardCapabilities;
    ext->ReaderCapabilities.CurrentState = CardStateSpecific;  // no PPS
    caps.Fl = c.fidi >> 4;
    caps.Dl = c.fidi & 0x0F;
    caps.N = c.n;
    caps.T1.CWI = c.cwi;
    caps.T1.BWI = c.bwi;
    caps.T1.EDC = c.edc;
    caps.T0.WI = 10;
    caps.InversConvention = c.inverse;
    sim->ClearReceived();
    SelectProtocol(c.protocol);  // the card may refuse what the test made up
    const auto params = Sent(0x61);
    ASSERT_EQ(params.size(), 1u);
    EXPECT_EQ(params[0].payload, c.expected);
    EXPECT_EQ(params[0].header.b7, c.protocol == ProtocolT1 ? 1 : 0);
  }
}

TEST_F(Commands, ParameterFailures) {
  Open("0100", vqsim::T0Card());
  ASSERT_EQ(Power(1), STATUS_SUCCESS);
  sim->UpdateFaults([](vqsim::Faults& f) { f.failSetParameters = true; });
  EXPECT_EQ(SetProtocol(ProtocolT0), STATUS_NO_MEDIA);
  EXPECT_EQ(ext->CardCapabilities.CurrentProtocol, ProtocolNone);

  sim->SetFaults({});
  ext->ReaderCapabilities.CurrentState = CardStateSpecific;
  sim->ClearReceived();
  EXPECT_EQ(SelectProtocol(ProtocolT1), STATUS_INVALID_PARAMETER);  // not offered
  EXPECT_TRUE(Types().empty());
}

// ---- power --------------------------------------------------------------------

TEST_F(Commands, ReResetOnceForTb1) {
  struct Case {
    std::shared_ptr<vqsim::Card> card;
    Bytes types;
  };
  const Case cases[] = {
      {vqsim::Tb1Card(), {0x63, 0x62, 0x59}},
      {vqsim::T0Card(), {0x63, 0x62}},
  };
  for (const Case& c : cases) {
    Open("0100", c.card);
    ASSERT_EQ(Power(1), STATUS_SUCCESS);
    EXPECT_EQ(Types(), c.types);
    EXPECT_GT(ext->CardCapabilities.ATRLength, 0);
  }
}

TEST_F(Commands, FixedAtrCards) {
  for (uint8_t type : {2, 3}) {
    Open("0100", vqsim::FixedAtrCard(type));
    ASSERT_EQ(Power(1), STATUS_SUCCESS);
    EXPECT_EQ(dev->FixedAtrCard, 1);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + replyLength),
              Bytes(FixedCardAtr, FixedCardAtr + FixedCardAtrLength));
    EXPECT_EQ(ext->CardCapabilities.ATRLength, 24);
    sim->ClearReceived();
    ASSERT_EQ(SetProtocol(ProtocolT0 | ProtocolT1), STATUS_SUCCESS);
    uint32_t protocol = 0;
    std::memcpy(&protocol, reply.data(), 4);
    EXPECT_EQ(protocol, ProtocolFixedCard);
    EXPECT_EQ(replyLength, 4u);
    EXPECT_EQ(ext->ReaderCapabilities.CurrentState, CardStateSpecific);
    EXPECT_EQ(Transmit({0x00, 0xA4, 0x04, 0x00}), STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_TRUE(Types().empty());
  }
}

TEST_F(Commands, PowerFailures) {
  // A card that does not answer the reset.
  Open("0100", vqsim::MuteCard());
  EXPECT_EQ(Power(1), STATUS_UNRECOGNIZED_MEDIA);
#if VQ_BUILD_MAC
  EXPECT_EQ(Types(), (Bytes{0x63, 0x62, 0x63}));  // the Mac build powers off again
#else
  EXPECT_EQ(Types(), (Bytes{0x63, 0x62}));
#endif
  EXPECT_EQ(ext->CardCapabilities.ATRLength, 0);

  // No such power mode: nothing is sent.
  sim->ClearReceived();
  EXPECT_EQ(Power(3), STATUS_INVALID_DEVICE_REQUEST);
  EXPECT_TRUE(Types().empty());

  // A mute reader.
  sim->UpdateFaults([](vqsim::Faults& f) { f.muteReader = true; });
#if VQ_BUILD_CE
  EXPECT_EQ(Power(0), STATUS_UNSUCCESSFUL);  // the transport's status
#else
  EXPECT_EQ(Power(0), STATUS_DEVICE_DATA_ERROR);
#endif
  EXPECT_EQ(Power(1), STATUS_DEVICE_DATA_ERROR);
}

TEST_F(Commands, DelayedAtrCard) {
  Open("0100", vqsim::DelayedAtrCard());
  ASSERT_EQ(Power(1), STATUS_SUCCESS);
  EXPECT_EQ(dev->DelayedAtrCard, 1u);
  ASSERT_EQ(SetProtocol(ProtocolT0), STATUS_SUCCESS);
#if VQ_BUILD_CE
  vqce::Clock::SetSpeed(1e6);
  const uint64_t before = vqce::Clock::NowMs();
  ASSERT_EQ(Transmit({0x00, 0xA4, 0x04, 0x00}), STATUS_SUCCESS);
  EXPECT_GE(vqce::Clock::NowMs() - before, 500u);  // the pause before the frame
  vqce::Clock::SetSpeed(1);
#else
  ASSERT_EQ(Transmit({0x00, 0xA4, 0x04, 0x00}), STATUS_SUCCESS);
#endif
  // Any other ATR clears the flag.
  sim->InsertCard(vqsim::T0Card());
  ASSERT_EQ(Power(1), STATUS_SUCCESS);
  EXPECT_EQ(dev->DelayedAtrCard, 0u);
}

// ---- transmit -----------------------------------------------------------------

TEST_F(Commands, TransferFailuresByErrorByte) {
  struct Case {
    void (*fault)(vqsim::Faults&);
    uint32_t protocol;
    NTSTATUS status;
  };
  const Case cases[] = {
      {[](vqsim::Faults& f) { f.notReady = 1; }, ProtocolT0, STATUS_DEVICE_NOT_READY},
      {[](vqsim::Faults& f) { f.cardMute = 1; }, ProtocolT0, STATUS_IO_TIMEOUT},
      {[](vqsim::Faults& f) { f.cardMute = 1; }, ProtocolRaw, STATUS_IO_TIMEOUT},
      {[](vqsim::Faults& f) { f.notReady = 1; }, ProtocolRaw, STATUS_DEVICE_NOT_READY},
  };
  for (const Case& c : cases) {
    Open("0100", vqsim::T0Card());
    ASSERT_EQ(Power(1), STATUS_SUCCESS);
    ASSERT_EQ(SetProtocol(ProtocolT0), STATUS_SUCCESS);
    ext->CardCapabilities.CurrentProtocol = c.protocol;
    sim->UpdateFaults(c.fault);
    if (c.protocol == ProtocolRaw) {
      SetIo({0x00, 0xA4, 0x04, 0x00, 0x00});
      EXPECT_EQ(CCID_SmartcardTransmit(ext), c.status);
    } else {
      EXPECT_EQ(Transmit({0x00, 0xA4, 0x04, 0x00}), c.status);
    }
    EXPECT_EQ(Transmit({0x00, 0xA4, 0x04, 0x00}), STATUS_SUCCESS);  // and then it works
  }
}

TEST_F(Commands, TransmitNeedsAProtocol) {
  Open("0100", vqsim::T0Card());
  ASSERT_EQ(Power(1), STATUS_SUCCESS);
  sim->ClearReceived();
  EXPECT_EQ(Transmit({0x00, 0xA4, 0x04, 0x00}), STATUS_INVALID_DEVICE_REQUEST);
  EXPECT_TRUE(Types().empty());
}

TEST_F(Commands, T1MuteCardIsTreatedByTheBlockProtocol) {
  Open("0100", vqsim::T1Card());
  ASSERT_EQ(Power(1), STATUS_SUCCESS);
  ASSERT_EQ(SetProtocol(ProtocolT1), STATUS_SUCCESS);
  ASSERT_EQ(Transmit({0x00, 0xA4, 0x04, 0x00}), STATUS_SUCCESS);
  sim->UpdateFaults([](vqsim::Faults& f) { f.cardMute = 1; });
  sim->ClearReceived();
  const NTSTATUS status = Transmit({0x00, 0xA4, 0x04, 0x00});
  // The lost block is asked for again with an R-block.
  const auto frames = Sent(0x6F);
  ASSERT_GE(frames.size(), 2u);
  EXPECT_EQ(frames[1].payload[1] & 0xEF, 0x82);
  EXPECT_EQ(status, STATUS_SUCCESS);
  EXPECT_EQ(Transmit({0x00, 0x84, 0x00, 0x00, 0x04}), STATUS_SUCCESS);
  EXPECT_EQ(Answer().size(), 6u);
}

TEST_F(Commands, T1MuteCardThenAnRBlockFromTheCard) {
  // The card never saw the block the reader reported mute, so it answers the
  // reader's R-block with an R-block of its own; the block goes again. The
  // IFS request is left out so that the card has no earlier block to resend.
  Open("0100", vqsim::T1Card());
  ASSERT_EQ(Power(1), STATUS_SUCCESS);
  ASSERT_EQ(SetProtocol(ProtocolT1), STATUS_SUCCESS);
  ext->T1State.State = T1StateStart;
  sim->UpdateFaults([](vqsim::Faults& f) { f.cardMute = 1; });
  sim->ClearReceived();
  ASSERT_EQ(Transmit({0x00, 0xA4, 0x04, 0x00}), STATUS_SUCCESS);
  EXPECT_EQ(Answer(), (Bytes{0x90, 0x00}));
  const auto frames = Sent(0x6F);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].payload[1], 0x00);  // I-block, N(S) 0
  EXPECT_EQ(frames[1].payload[1], 0x82);  // R-block, other error
  EXPECT_EQ(frames[2].payload, frames[0].payload);
  EXPECT_EQ(ext->T1State.State, T1StateStart);
}

TEST_F(Commands, StaleAnswerInFrontOfALongAnswer) {
  // 256 challenge bytes and the status word make a 268-byte frame; the late
  // copy of the previous one in front pushes it across two chunks.
  Open("0100", vqsim::T0Card());
  ASSERT_EQ(Power(1), STATUS_SUCCESS);
  ASSERT_EQ(SetProtocol(ProtocolT0), STATUS_SUCCESS);
  ASSERT_EQ(Transmit({0x00, 0x84, 0x00, 0x00, 0x00}), STATUS_SUCCESS);
  const Bytes first = Answer();
  ASSERT_EQ(first.size(), 258u);

  sim->UpdateFaults([](vqsim::Faults& f) { f.staleAnswer = true; });
  ASSERT_EQ(Transmit({0x00, 0x84, 0x00, 0x00, 0x00}), STATUS_SUCCESS);
  const Bytes second = Answer();
  ASSERT_EQ(second.size(), 258u);
  EXPECT_NE(second, first);
  EXPECT_EQ(Bytes(second.end() - 2, second.end()), (Bytes{0x90, 0x00}));
  EXPECT_EQ(sim->PendingTransfers(), 0u);
}

// ---- vendor -------------------------------------------------------------------

TEST_F(Commands, EscapeAnswerAndTheCallersBuffer) {
  Open("0100", vqsim::T0Card());
  Bytes answer(300);
  for (size_t i = 0; i < answer.size(); ++i) answer[i] = static_cast<uint8_t>(i);
  sim->SetEscapeHandler([&](std::span<const uint8_t>) { return answer; });

  EXPECT_EQ(Escape({0x01, 0x02}, 200), STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(replyLength, 300u);
  EXPECT_EQ(Sent(0x6B)[0].payload, (Bytes{0x01, 0x02}));

  ASSERT_EQ(Escape({0x01}, 300), STATUS_SUCCESS);
  EXPECT_EQ(replyLength, 300u);
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 300), answer);

  // A request that does not fit the send buffer is not sent.
  sim->ClearReceived();
  EXPECT_EQ(Escape(Bytes(ext->SendBufferSize - 10 + 1, 0x55), 300), STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(replyLength, 0u);
  EXPECT_TRUE(Types().empty());
}

TEST_F(Commands, ReaderInformationChoosesIfsdAndRates) {
  struct Case {
    const char* firmware;
    uint32_t version, maxIfsd;
    uint8_t rates;
    uint32_t maxRate;
  };
  const Case cases[] = {
      {"0100", 0x100, 252, 4, 115200}, {"0039", 0x39, 251, 13, 74400},
      {"0040", 0x40, 252, 15, 115200}, {"0070", 0x70, 252, 15, 115200},
  };
  for (const Case& c : cases) {
    Open(c.firmware, nullptr);
    EXPECT_EQ(dev->FirmwareVersion, c.version) << c.firmware;
    EXPECT_EQ(dev->ReaderInfoOk, 1);
    EXPECT_EQ(ext->ReaderCapabilities.MaxIFSD, c.maxIfsd) << c.firmware;
    EXPECT_EQ(ext->ReaderCapabilities.DataRatesSupported.Entries, c.rates) << c.firmware;
    EXPECT_EQ(ext->ReaderCapabilities.DataRate.Default, 9600u);
    EXPECT_EQ(ext->ReaderCapabilities.DataRate.Max, c.maxRate) << c.firmware;
    EXPECT_EQ(Bytes(dev->ReaderInfoBlock, dev->ReaderInfoBlock + 16),
              vqsim::InfoBlock("VQ480T", c.firmware));
  }
}

TEST_F(Commands, VendorCodesAndTheInformationCopy) {
  Open("0100", vqsim::T0Card());
  SetIo({}, 16);
#if VQ_BUILD_CE
  ext->SmartcardIoRequest.MajorCode = IOCTL_SMARTCARD_VENDOR_INFO;
#else
  dev->VendorCode = VendorCodeReaderInfo;
#endif
  ASSERT_EQ(CCID_SmartcardVender(ext), STATUS_SUCCESS);
  EXPECT_EQ(replyLength, 16u);
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 16), vqsim::InfoBlock("VQ480T", "0100"));

  SetIo({}, 8);  // too small for the 16 bytes
  EXPECT_EQ(CCID_SmartcardVender(ext), STATUS_BUFFER_TOO_SMALL);

  SetIo({}, 16);
#if VQ_BUILD_CE
  ext->SmartcardIoRequest.MajorCode = 0x312008;
#else
  dev->VendorCode = 0x102;
#endif
  EXPECT_EQ(CCID_SmartcardVender(ext), STATUS_NOT_SUPPORTED);
}

#if VQ_BUILD_CE
TEST_F(Commands, CardTrackingIsArmed) {
  Open("0100", nullptr);
  EXPECT_EQ(CCID_SmartcardCardTracking(ext), STATUS_PENDING);
  EXPECT_EQ(dev->CardTrackingArmed, 1);
}
#endif

}  // namespace
}  // namespace cmdtest
