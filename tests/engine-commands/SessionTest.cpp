// Whole sessions against the simulated reader: information, power, ATR and
// capabilities, PPS, set parameters, commands of every size, power down.
#include "CommandFixture.h"
#include "T1.h"

namespace cmdtest {
namespace {

class Session : public CommandFixture {
 protected:
  // Power on and select `protocol`; checks the PPS and parameter frames.
  void Start(uint32_t protocol, const Bytes& expectedAtr, uint8_t pps0) {
    ASSERT_EQ(Power(1), STATUS_SUCCESS);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + replyLength), expectedAtr);
    EXPECT_EQ(Bytes(ext->CardCapabilities.ATR, ext->CardCapabilities.ATR + ext->CardCapabilities.ATRLength),
              expectedAtr);
    EXPECT_EQ(ext->ReaderCapabilities.CurrentState, CardStateNegotiable);
    EXPECT_EQ(ext->CardCapabilities.CurrentProtocol, ProtocolNone);
    EXPECT_EQ(sim->ReceivedTypes(), (Bytes{0x63, 0x62}));

    sim->ClearReceived();
    ASSERT_EQ(SetProtocol(protocol), STATUS_SUCCESS);
    uint32_t answered = 0;
    std::memcpy(&answered, reply.data(), 4);
    EXPECT_EQ(answered, protocol);
    EXPECT_EQ(replyLength, 4u);
    EXPECT_EQ(ext->CardCapabilities.CurrentProtocol, protocol);
    EXPECT_EQ(ext->ReaderCapabilities.CurrentState, CardStateSpecific);
    // PPS for Fi/Di 0x13 (both default ATRs), accepted; then the parameters.
    const uint8_t pck = static_cast<uint8_t>(0xFF ^ pps0 ^ 0x13);
    ASSERT_EQ(sim->ReceivedTypes(), (Bytes{0x6F, 0x61}));
    EXPECT_EQ(Sent(0x6F)[0].payload, (Bytes{0xFF, pps0, 0x13, pck}));
    const auto params = Sent(0x61)[0];
    EXPECT_EQ(params.payload.size(), protocol == ProtocolT1 ? 7u : 5u);
    EXPECT_EQ(params.payload[0], 0x13);
    EXPECT_EQ(params.header.b7, protocol == ProtocolT1 ? 1 : 0);
    EXPECT_EQ(ext->CardCapabilities.Fl, 1);
    EXPECT_EQ(ext->CardCapabilities.Dl, 3);
    sim->ClearReceived();
  }

  void PowerDown() {
    ASSERT_EQ(Power(0), STATUS_SUCCESS);
    EXPECT_EQ(ext->ReaderCapabilities.CurrentState, CardStateSwallowed);
    EXPECT_EQ(ext->CardCapabilities.CurrentProtocol, ProtocolNone);
    EXPECT_FALSE(sim->CardPowered());
  }

  static Bytes Echo(size_t n, bool withLe) {
    Bytes apdu = {0x80, 0xEE, 0x00, 0x00, static_cast<uint8_t>(n)};
    for (size_t i = 0; i < n; ++i) apdu.push_back(static_cast<uint8_t>(i * 3 + 1));
    if (withLe) apdu.push_back(0x00);
    return apdu;
  }
};

TEST_F(Session, T0CardFromPowerOnToPowerDown) {
  Open("0100", vqsim::T0Card());
  Start(ProtocolT0, vqsim::atr::T0(), 0x10);

  // Case 1 (4 bytes): P3 0 is added.
  ASSERT_EQ(Transmit({0x00, 0xA4, 0x04, 0x00}), STATUS_SUCCESS);
  EXPECT_EQ(Answer(), (Bytes{0x90, 0x00}));
  EXPECT_EQ(Sent(0x6F).back().payload, (Bytes{0x00, 0xA4, 0x04, 0x00, 0x00}));

  // Case 3 with 255 data bytes (260 bytes), then its answer fetched.
  const Bytes echo = Echo(255, false);
  ASSERT_EQ(Transmit(echo), STATUS_SUCCESS);
  EXPECT_EQ(Sent(0x6F).back().payload, echo);
  const Bytes sw = Answer();
  ASSERT_EQ(sw.size(), 2u);
  EXPECT_EQ(sw[0], 0x61);
  ASSERT_EQ(Transmit({0x00, 0xC0, 0x00, 0x00, sw[1]}), STATUS_SUCCESS);
  Bytes expected(echo.begin() + 5, echo.end());
  expected.insert(expected.end(), {0x90, 0x00});
  EXPECT_EQ(Answer(), expected);

  // Case 2 with Le 0: 256 bytes and the status word.
  ASSERT_EQ(Transmit({0x00, 0x84, 0x00, 0x00, 0x00}), STATUS_SUCCESS);
  ASSERT_EQ(Answer().size(), 258u);
  EXPECT_EQ(replyLength, 266u);
  PowerDown();
}

TEST_F(Session, InverseConventionCard) {
  Open("0100", vqsim::InverseCard());
  ASSERT_EQ(Power(1), STATUS_SUCCESS);
  EXPECT_EQ(ext->CardCapabilities.InversConvention, 1);
  EXPECT_EQ(ext->CardCapabilities.ATR[0], 0x3F);
  ASSERT_EQ(SetProtocol(ProtocolT0), STATUS_SUCCESS);
  EXPECT_EQ(Sent(0x61)[0].payload[1], 0x02);  // the reader is told the convention
  ASSERT_EQ(Transmit({0x00, 0x84, 0x00, 0x00, 0x08}), STATUS_SUCCESS);
  EXPECT_EQ(Answer().size(), 10u);
  EXPECT_EQ(Answer()[8], 0x90);
}

class T1Session : public Session, public ::testing::WithParamInterface<bool> {};

TEST_P(T1Session, T1CardFromPowerOnToPowerDown) {
  const bool crc = GetParam();
  Open("0100", crc ? vqsim::T1CrcCard() : vqsim::T1Card());
  Start(ProtocolT1, crc ? vqsim::atr::T1Crc() : vqsim::atr::T1Lrc(), 0x11);
  EXPECT_EQ(ext->CardCapabilities.T1.EDC & 1, crc ? 1 : 0);
  EXPECT_EQ(ext->CardCapabilities.T1.IFSC, 254);

  // The first exchange opens with S(IFS request) carrying IFSD 252.
  ASSERT_EQ(Transmit({0x00, 0xA4, 0x04, 0x00}), STATUS_SUCCESS);
  EXPECT_EQ(Answer(), (Bytes{0x90, 0x00}));
  const auto blocks = Sent(0x6F);
  ASSERT_EQ(blocks.size(), 2u);
  Bytes ifs = {0x00, 0xC1, 0x01, 0xFC};
  if (crc) {
    const uint16_t c = vqsim::Crc16(ifs);
    ifs.insert(ifs.end(), {static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c)});
  } else {
    ifs.push_back(vqsim::Lrc(ifs));
  }
  EXPECT_EQ(blocks[0].payload, ifs);
  EXPECT_EQ(std::static_pointer_cast<vqsim::T1Model>(sim->CurrentCard())->Ifsd(), 252);

  // A case-4 command of 261 bytes goes chained (252 + 9); its echo of 255
  // bytes comes back chained as well.
  sim->ClearReceived();
  const Bytes echo = Echo(255, true);
  ASSERT_EQ(Transmit(echo), STATUS_SUCCESS);
  Bytes expected(echo.begin() + 5, echo.end() - 1);
  expected.insert(expected.end(), {0x90, 0x00});
  EXPECT_EQ(Answer(), expected);
  const auto sent = Sent(0x6F);
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent[0].payload[2], 252);
  EXPECT_EQ(sent[0].payload[1] & 0x20, 0x20);
  EXPECT_EQ(sent[1].payload[2], 9);
  EXPECT_EQ(std::static_pointer_cast<vqsim::T1Model>(sim->CurrentCard())->LastCommand(), echo);

  // 256 bytes and the status word.
  ASSERT_EQ(Transmit({0x00, 0x84, 0x00, 0x00, 0x00}), STATUS_SUCCESS);
  EXPECT_EQ(Answer().size(), 258u);
  PowerDown();
}

TEST_F(Session, T1NamedInTd1Only) {
  // TA2 (specific mode, T=1) is no T=1 byte: the card holds IFSC 32, and a
  // 100-byte command goes in blocks of at most 32 bytes.
  Open("0100", vqsim::T1Card(vqsim::atr::T1InTd1Only()));
  ASSERT_EQ(Power(1), STATUS_SUCCESS);
  EXPECT_EQ(ext->ReaderCapabilities.CurrentState, CardStateSpecific);
  EXPECT_EQ(ext->CardCapabilities.T1.IFSC, 32);
  EXPECT_EQ(ext->CardCapabilities.T1.CWI, 13);
  EXPECT_EQ(ext->CardCapabilities.T1.BWI, 4);
  EXPECT_EQ(ext->CardCapabilities.T1.EDC, 0);
  ASSERT_EQ(SetProtocol(ProtocolT1), STATUS_SUCCESS);

  sim->ClearReceived();
  const Bytes echo = Echo(100, true);
  ASSERT_EQ(Transmit(echo), STATUS_SUCCESS);
  Bytes expected(echo.begin() + 5, echo.end() - 1);
  expected.insert(expected.end(), {0x90, 0x00});
  EXPECT_EQ(Answer(), expected);
  EXPECT_EQ(std::static_pointer_cast<vqsim::T1Model>(sim->CurrentCard())->LastCommand(), echo);
  for (const auto& f : Sent(0x6F)) {
    if ((f.payload[1] & 0x80) == 0) {
      EXPECT_LE(f.payload[2], 32);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Edc, T1Session, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Crc" : "Lrc"; });

// ---- T=1 through the reader, with the card's faults -------------------------

class T1Faults : public Session {
 protected:
  void SetUp() override {
    Open("0100", vqsim::T1Card());
    ASSERT_EQ(Power(1), STATUS_SUCCESS);
    ASSERT_EQ(SetProtocol(ProtocolT1), STATUS_SUCCESS);
    ASSERT_EQ(Transmit({0x00, 0xA4, 0x04, 0x00}), STATUS_SUCCESS);  // IFS done
    sim->ClearReceived();
  }
  std::vector<Bytes> Blocks() const {
    std::vector<Bytes> out;
    for (const auto& f : Sent(0x6F)) out.push_back(f.payload);
    return out;
  }
};

TEST_F(T1Faults, CorruptedEdcsAreRecoveredByResync) {
  sim->UpdateFaults([](vqsim::Faults& f) { f.corruptEdc = 3; });
  ASSERT_EQ(Transmit({0x00, 0x84, 0x00, 0x00, 0x08}), STATUS_SUCCESS);
  EXPECT_EQ(Answer().size(), 10u);
  const auto blocks = Blocks();
  ASSERT_EQ(blocks.size(), 5u);
  EXPECT_EQ(blocks[1][1] & 0xEF, 0x81);  // R-block, EDC error
  EXPECT_EQ(blocks[2][1] & 0xEF, 0x81);
  EXPECT_EQ(blocks[3][1], 0xC0);
  EXPECT_EQ(blocks[4][1], 0x00);  // restarted with N(S) 0
  EXPECT_EQ(std::static_pointer_cast<vqsim::T1Model>(sim->CurrentCard())->ResyncCount(), 1);
}

TEST_F(T1Faults, WtxMultiplierGoesIntoTheNextFrame) {
  sim->UpdateFaults([](vqsim::Faults& f) { f.wtxRequest = 5; });
  // The multiplier in force while each answer is read: the Windows CE
  // transport stretches its read time-out by it.
  std::vector<uint8_t> wtxAtRead;
  tap->onRead = [&] { wtxAtRead.push_back(ext->T1State.Wtx); };
  ASSERT_EQ(Transmit({0x00, 0x84, 0x00, 0x00, 0x08}), STATUS_SUCCESS);
  EXPECT_EQ(wtxAtRead, (Bytes{0, 5}));
  const auto frames = Sent(0x6F);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].header.b7, 0);
  EXPECT_EQ(frames[1].header.b7, 5);
  EXPECT_EQ(frames[1].payload[1], 0xE3);
  EXPECT_EQ(frames[1].payload[3], 5);
  EXPECT_EQ(ext->T1State.Wtx, 0);  // cleared by the reply that followed
}

TEST_F(T1Faults, ExchangeEndsWithTheCardsFault) {
  struct Case {
    const char* name;
    void (*fault)(vqsim::Faults&);
    NTSTATUS status;
  };
  const Case cases[] = {
      {"vpp", [](vqsim::Faults& f) { f.vppError = true; }, STATUS_DEVICE_POWER_FAILURE},
      {"unknown S", [](vqsim::Faults& f) { f.unknownSBlock = true; }, STATUS_DEVICE_PROTOCOL_ERROR},
      {"no resync",
       [](vqsim::Faults& f) {
         f.corruptEdc = 100;
         f.ignoreResync = true;
       },
       STATUS_DEVICE_PROTOCOL_ERROR},
      {"not ready", [](vqsim::Faults& f) { f.notReady = 1; }, STATUS_DEVICE_NOT_READY},
  };
  for (const Case& c : cases) {
    sim->SetFaults({});
    sim->UpdateFaults(c.fault);
    EXPECT_EQ(Transmit({0x00, 0x84, 0x00, 0x00, 0x08}), c.status) << c.name;
    EXPECT_EQ(ext->T1State.ReplyData == nullptr || c.status == STATUS_DEVICE_NOT_READY, true);
    // The next command goes through again.
    sim->SetFaults({});
    EXPECT_EQ(Transmit({0x00, 0xA4, 0x04, 0x00}), STATUS_SUCCESS) << c.name;
  }
}

TEST_F(T1Faults, CardThatNeverSettlesEndsWithinItsBound) {
  struct Case {
    const char* name;
    vqsim::CardFlood flood;
    uint32_t replySize;
    NTSTATUS status;
    uint32_t bound;
  };
  const Case cases[] = {
      {"WTX requests", vqsim::CardFlood::Wtx, 1024, STATUS_IO_TIMEOUT, 255},
      {"IFS requests", vqsim::CardFlood::Ifs, 1024, STATUS_DEVICE_PROTOCOL_ERROR, 3},
      {"abort requests", vqsim::CardFlood::Abort, 1024, STATUS_DEVICE_PROTOCOL_ERROR, 3},
      // A few empty chained blocks in a row, however large the reply buffer.
      {"empty chained I-blocks", vqsim::CardFlood::EmptyChain, 64, STATUS_DEVICE_PROTOCOL_ERROR, 3},
      {"empty chained I-blocks, 64 KiB buffer", vqsim::CardFlood::EmptyChain, 65536,
       STATUS_DEVICE_PROTOCOL_ERROR, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim->SetFaults({.cardFlood = c.flood});
    sim->ClearReceived();
    reply.assign(c.replySize, 0);
    SetIo(Request({0x00, 0x84, 0x00, 0x00, 0x08}), c.replySize);
    replyLength = 77;  // left over from an earlier call
    EXPECT_EQ(CCID_SmartcardTransmit(ext), c.status);
    EXPECT_EQ(replyLength, 0u);
    // The command, then one block for each of the card's blocks up to the bound.
    EXPECT_EQ(Blocks().size(), c.bound + 1);
    EXPECT_EQ(ext->T1State.State, T1StateStart);
    EXPECT_EQ(ext->T1State.ReplyData, nullptr);

    // The card settles: the next command goes through.
    sim->SetFaults({});
    ASSERT_EQ(Transmit({0x00, 0x84, 0x00, 0x00, 0x08}), STATUS_SUCCESS);
    EXPECT_EQ(Answer().size(), 10u);
  }
}

// The documented numbers: 255 WTX requests, 3 IFS requests, 3 abort requests
// and 3 empty chained blocks are borne and the command's answer arrives; one
// more ends the exchange.
TEST_F(T1Faults, CardBoundsHoldAtTheirNumbers) {
  struct Case {
    const char* name;
    vqsim::CardFlood flood;
    int blocks;
    NTSTATUS status;
  };
  const Case cases[] = {
      {"255 WTX requests", vqsim::CardFlood::Wtx, 255, STATUS_SUCCESS},
      {"256 WTX requests", vqsim::CardFlood::Wtx, 256, STATUS_IO_TIMEOUT},
      {"3 IFS requests", vqsim::CardFlood::Ifs, 3, STATUS_SUCCESS},
      {"4 IFS requests", vqsim::CardFlood::Ifs, 4, STATUS_DEVICE_PROTOCOL_ERROR},
      {"3 abort requests", vqsim::CardFlood::Abort, 3, STATUS_SUCCESS},
      {"4 abort requests", vqsim::CardFlood::Abort, 4, STATUS_DEVICE_PROTOCOL_ERROR},
      {"3 empty chained blocks", vqsim::CardFlood::EmptyChain, 3, STATUS_SUCCESS},
      {"4 empty chained blocks", vqsim::CardFlood::EmptyChain, 4, STATUS_DEVICE_PROTOCOL_ERROR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim->SetFaults({.cardFlood = c.flood, .cardFloodBlocks = c.blocks});
    EXPECT_EQ(Transmit({0x00, 0x84, 0x00, 0x00, 0x08}), c.status);
    if (c.status == STATUS_SUCCESS) {
      EXPECT_EQ(Answer().size(), 10u);  // 8 challenge bytes and 90 00
    } else {
      EXPECT_EQ(replyLength, 0u);
    }
    // The card settles: the next command goes through.
    sim->SetFaults({});
    ASSERT_EQ(Transmit({0x00, 0x84, 0x00, 0x00, 0x04}), STATUS_SUCCESS);
    EXPECT_EQ(Answer().size(), 6u);
  }
}

TEST_F(T1Faults, NadOfAWideHeaderComesBack) {
  Bytes req(12);
  const uint32_t protocol = ProtocolT1, headerLength = 12;
  std::memcpy(req.data(), &protocol, 4);
  std::memcpy(req.data() + 4, &headerLength, 4);
  req[8] = 0x81;
  req[9] = 0x01;
  req[10] = 0x12;
  req[11] = 0x00;
  req.insert(req.end(), {0x00, 0xA4, 0x04, 0x00});
  SetIo(req);
  ASSERT_EQ(CCID_SmartcardTransmit(ext), STATUS_SUCCESS);
  EXPECT_EQ(Sent(0x6F)[0].payload[0], 0x12);
  ASSERT_EQ(replyLength, 14u);
  EXPECT_EQ(reply[10], 0x21);  // the card's NAD: addresses swapped
  EXPECT_EQ(Bytes(reply.begin() + 12, reply.begin() + 14), (Bytes{0x90, 0x00}));
}

}  // namespace
}  // namespace cmdtest
