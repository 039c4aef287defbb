// A T=1 card at block level behind the transfer block, as a host sees it.
#include <gtest/gtest.h>

#include "SimTestUtil.h"
#include "vqsim/Cards.h"

using namespace vqsim;

namespace {

std::vector<uint8_t> Blk(uint8_t pcb, std::vector<uint8_t> inf, bool crc, uint8_t nad = 0) {
  std::vector<uint8_t> b{nad, pcb, static_cast<uint8_t>(inf.size())};
  b.insert(b.end(), inf.begin(), inf.end());
  if (crc) {
    uint16_t c = Crc16(b);
    b.push_back(static_cast<uint8_t>(c >> 8));
    b.push_back(static_cast<uint8_t>(c));
  } else {
    b.push_back(Lrc(b));
  }
  return b;
}

bool EdcOk(const std::vector<uint8_t>& b, bool crc) {
  if (b.size() < 4 || b.size() != 3u + b[2] + (crc ? 2 : 1)) return false;
  std::vector<uint8_t> body(b.begin(), b.begin() + 3 + b[2]);
  return Blk(b[1], {body.begin() + 3, body.end()}, crc, b[0]) == b;
}

std::vector<uint8_t> Inf(const std::vector<uint8_t>& b) { return {b.begin() + 3, b.begin() + 3 + b[2]}; }

struct Host {
  SimReader reader;
  std::shared_ptr<T1Model> card;
  bool crc;
  uint8_t seq = 0;
  explicit Host(std::shared_ptr<T1Model> c) : card(c), crc(c->Info().crc) {
    reader.InsertCard(card);
    simtest::Exchange(reader, kMsgPowerOn, seq++);
  }
  std::vector<uint8_t> Send(const std::vector<uint8_t>& block, uint8_t p1 = 0) {
    auto a = simtest::Exchange(reader, kMsgXfrBlock, seq++, block, p1);
    EXPECT_EQ(ParseHeader(a).b7 & 0xC0, kCmdOk);
    return simtest::PayloadOf(a);
  }
  std::vector<uint8_t> Send(uint8_t pcb, std::vector<uint8_t> inf) { return Send(Blk(pcb, std::move(inf), crc)); }
};

class T1Both : public ::testing::TestWithParam<bool> {
 protected:
  std::shared_ptr<T1Model> MakeCard() { return GetParam() ? T1CrcCard() : T1Card(); }
};

TEST_P(T1Both, IfsRequestThenCommandWithTheCardsEdc) {
  Host h(MakeCard());
  EXPECT_EQ(h.card->Info().ifsc, 254);
  auto a = h.Send(0xC1, {0xFC});
  EXPECT_EQ(a, Blk(0xE1, {0xFC}, GetParam()));
  EXPECT_EQ(h.card->Ifsd(), 0xFC);
  a = h.Send(0x00, FromHex("00 A4 04 00 07 F0 56 51 55 53 42 01"));
  EXPECT_EQ(a, Blk(0x00, {0x90, 0x00}, GetParam()));
  a = h.Send(0x40, FromHex("00 A4 04 00 02 3F 00"));
  EXPECT_EQ(a, Blk(0x40, {0x6A, 0x82}, GetParam()));
}

TEST_P(T1Both, ChainsInBothDirections) {
  Host h(MakeCard());
  h.Send(0xC1, {252});
  std::vector<uint8_t> apdu = FromHex("80 EE 00 00 FF");
  for (int i = 0; i < 255; ++i) apdu.push_back(static_cast<uint8_t>(i));
  apdu.push_back(0x00);  // Le: 261 bytes in all
  // Host to card: 254 + 7 bytes; the card acknowledges the first with R(N(R)=1).
  auto a = h.Send(0x20, {apdu.begin(), apdu.begin() + 254});
  EXPECT_EQ(a, Blk(0x90, {}, GetParam()));
  a = h.Send(0x40, {apdu.begin() + 254, apdu.end()});
  // Card to host: 257 bytes in blocks of at most IFSD 252.
  ASSERT_TRUE(EdcOk(a, GetParam()));
  EXPECT_EQ(a[1], 0x20);  // N(S) 0, more data
  std::vector<uint8_t> got = Inf(a);
  EXPECT_EQ(got.size(), 252u);
  a = h.Send(0x90, {});  // R(N(R)=1): next, please
  EXPECT_EQ(a[1], 0x40);
  auto rest = Inf(a);
  got.insert(got.end(), rest.begin(), rest.end());
  std::vector<uint8_t> want(apdu.begin() + 5, apdu.end() - 1);
  want.push_back(0x90);
  want.push_back(0x00);
  EXPECT_EQ(got, want);
  EXPECT_EQ(h.card->LastCommand(), apdu);
}

TEST_P(T1Both, FaultyHostBlocksGetRBlocks) {
  Host h(MakeCard());
  auto bad = Blk(0x00, {0x00, 0xA4, 0x04, 0x00}, GetParam());
  bad.back() ^= 1;
  EXPECT_EQ(h.Send(bad), Blk(0x81, {}, GetParam()));                    // EDC error
  EXPECT_EQ(h.Send(0x40, {0x00, 0xA4, 0x04, 0x00}), Blk(0x82, {}, GetParam()));  // wrong N(S)
  auto longLen = Blk(0x00, {0x00}, GetParam());
  longLen[2] = 5;  // LEN beyond the block
  EXPECT_EQ(h.Send(longLen), Blk(0x82, {}, GetParam()));
  auto a = h.Send(0x00, {0x00, 0xA4, 0x04, 0x00});
  EXPECT_EQ(a, Blk(0x00, {0x90, 0x00}, GetParam()));
  // The host missed it: R(N(R)=0) brings the same block again.
  EXPECT_EQ(h.Send(0x80, {}), a);
}

INSTANTIATE_TEST_SUITE_P(Edc, T1Both, ::testing::Values(false, true),
                         [](const auto& i) { return i.param ? std::string("Crc") : std::string("Lrc"); });

TEST(T1Card, CardFaultsAndTheirRecovery) {
  const auto select = FromHex("00 A4 04 00 00");
  const auto ok = Blk(0x00, {0x90, 0x00}, false);
  struct Case {
    const char* name;
    void (*arm)(Faults&);
    std::vector<uint8_t> first;     // the card's first answer
    std::vector<uint8_t> reply;     // the host's reply to it ({} ends the case)
  } cases[] = {
      {"corrupt EDC", [](Faults& f) { f.corruptEdc = 1; }, {}, Blk(0x81, {}, false)},
      {"wrong N(S)", [](Faults& f) { f.wrongNs = true; }, Blk(0x40, {0x90, 0x00}, false), Blk(0x82, {}, false)},
      {"WTX", [](Faults& f) { f.wtxRequest = 5; }, Blk(0xC3, {5}, false), Blk(0xE3, {5}, false)},
      {"IFS", [](Faults& f) { f.cardIfsRequest = 0x20; }, Blk(0xC1, {0x20}, false), Blk(0xE1, {0x20}, false)},
      {"R request", [](Faults& f) { f.rBlockRequests = 1; }, Blk(0x81, {}, false), Blk(0x00, select, false)},
      {"unknown S", [](Faults& f) { f.unknownSBlock = true; }, Blk(0xC5, {}, false), {}},
      {"VPP", [](Faults& f) { f.vppError = true; }, Blk(0xE4, {}, false), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Host h(T1Card());
    h.reader.UpdateFaults(c.arm);
    auto a = h.Send(0x00, select);
    if (c.first.empty()) {
      EXPECT_FALSE(EdcOk(a, false));
    } else {
      EXPECT_EQ(a, c.first);
    }
    if (!c.reply.empty()) {
      EXPECT_EQ(h.Send(c.reply), ok);
    }
  }
}

TEST(T1Card, FloodAnswersEveryBlockButTheHostsRequests) {
  const auto select = FromHex("00 A4 04 00 00");
  struct Case {
    CardFlood flood;
    std::vector<uint8_t> first, second;  // answers to the I-block and to an R-block
  } cases[] = {
      {CardFlood::Wtx, Blk(0xC3, {1}, false), Blk(0xC3, {1}, false)},
      {CardFlood::Ifs, Blk(0xC1, {32}, false), Blk(0xC1, {32}, false)},
      {CardFlood::Abort, Blk(0xC2, {}, false), Blk(0xC2, {}, false)},
      {CardFlood::EmptyChain, Blk(0x20, {}, false), Blk(0x60, {}, false)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.flood));
    Host h(T1Card());
    h.reader.UpdateFaults([&](Faults& f) { f.cardFlood = c.flood; });
    EXPECT_EQ(h.Send(0x00, select), c.first);
    EXPECT_EQ(h.Send(0x90, {}), c.second);
    EXPECT_EQ(h.Send(0xC1, {0xFC}), Blk(0xE1, {0xFC}, false));  // still answered
    EXPECT_EQ(h.Send(0xC0, {}), Blk(0xE0, {}, false));
  }
}

TEST(T1Card, ResyncResetsBothSequenceNumbers) {
  Host h(T1Card());
  h.Send(0x00, FromHex("00 A4 04 00 00"));
  EXPECT_EQ(h.Send(0xC0, {}), Blk(0xE0, {}, false));
  EXPECT_EQ(h.card->ResyncCount(), 1);
  EXPECT_EQ(h.Send(0x00, FromHex("00 A4 04 00 00")), Blk(0x00, {0x90, 0x00}, false));
}

TEST(T1Card, NadComesBackWithAddressesSwapped) {
  Host h(T1Card());
  auto a = h.Send(Blk(0x00, FromHex("00 A4 04 00 00"), false, 0x12));
  ASSERT_TRUE(EdcOk(a, false));
  EXPECT_EQ(a[0], 0x21);
}

TEST(T1Card, PpsAnswers) {
  struct Case {
    PpsAnswer mode;
    bool failed;
    const char* answer;
    uint8_t fidi;
  } cases[] = {
      {PpsAnswer::Accept, false, "FF 11 13 FD", 0x13},
      {PpsAnswer::Refuse, true, "", 0x11},
      {PpsAnswer::Wrong, false, "FF 11 11 FF", 0x11},
  };
  for (const auto& c : cases) {
    SimReader r;
    auto card = T1Card();
    r.InsertCard(card);
    r.UpdateFaults([&](Faults& f) { f.pps = c.mode; });
    simtest::Exchange(r, kMsgPowerOn, 0);
    auto a = simtest::Exchange(r, kMsgXfrBlock, 1, FromHex("FF 11 13 FD"));
    FrameHeader hd = ParseHeader(a);
    EXPECT_EQ((hd.b7 & 0xC0) == kCmdFailed, c.failed);
    if (c.failed) {
      EXPECT_EQ(hd.b8, kErrCardMute);
    }
    EXPECT_EQ(ToHex(simtest::PayloadOf(a)), c.answer);
    EXPECT_EQ(card->FiDiInForce(), c.fidi);
  }
}

}  // namespace
