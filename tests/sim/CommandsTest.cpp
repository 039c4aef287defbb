// Device-level behaviour and the reader's commands other than the transfer
// block: information block, power, slot status, notices, unplug, stall.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "SimTestUtil.h"
#include "vqsim/Cards.h"

using namespace vqsim;

namespace {

TEST(Commands, InformationBlockCarriesModelTextAndFirmwareDigits) {
  struct Case {
    std::string model, firmware, bytes4to15;
  } cases[] = {
      {"VQ480T", "0040", "VQ480T- 0040"},
      {"GENERIC", "0100", "GENERIC-0100"},
      {"ABCDEFGH", "0070", "ABCDEFGH0070"},  // no room for a hyphen
      {"ABCDEFGHIJ", "0071", "ABCDEFGH0071"},
  };
  for (const auto& c : cases) {
    SimReader r(ReaderConfig{c.model, c.firmware});
    auto a = simtest::Exchange(r, kMsgGetInfo, 0);
    auto p = simtest::PayloadOf(a);
    ASSERT_EQ(p.size(), 16u);
    EXPECT_EQ(std::string(p.begin() + 4, p.end()), c.bytes4to15);
    EXPECT_EQ(ParseHeader(a).b7, kCardAbsent);
  }
}

TEST(Commands, PowerOnAnswersCardTypeAndAtr) {
  SimReader r;
  auto card = T0Card();
  r.InsertCard(card);
  auto a = simtest::Exchange(r, kMsgPowerOn, 1);
  FrameHeader h = ParseHeader(a);
  EXPECT_EQ(h.type, kReplyDataBlock);
  EXPECT_EQ(h.b7, kCmdOk | kCardActive);
  auto p = simtest::PayloadOf(a);
  ASSERT_FALSE(p.empty());
  EXPECT_EQ(p[0], 1);
  EXPECT_EQ(std::vector<uint8_t>(p.begin() + 1, p.end()), atr::T0());
  EXPECT_TRUE(r.CardPowered());

  a = simtest::Exchange(r, kMsgPowerOff, 2);
  EXPECT_EQ(ParseHeader(a).b7, kCmdOk | kCardInactive);
  EXPECT_FALSE(r.CardPowered());
}

TEST(Commands, PowerOnFailsWithoutAnAnsweringCard) {
  struct Case {
    std::shared_ptr<Card> card;
    uint8_t status;
  } cases[] = {{nullptr, kCmdFailed | kCardAbsent}, {MuteCard(), kCmdFailed | kCardInactive}};
  for (const auto& c : cases) {
    SimReader r;
    if (c.card) r.InsertCard(c.card);
    auto a = simtest::Exchange(r, kMsgPowerOn, 1);
    FrameHeader h = ParseHeader(a);
    EXPECT_EQ(h.b7, c.status);
    EXPECT_EQ(h.b8, kErrCardMute);
    EXPECT_EQ(h.length, 0u);
  }
}

TEST(Commands, SlotChangeNoticesAndWakeup) {
  SimReader r;
  std::atomic<int> wakes{0};
  // The callback may look at the reader: it is called without the lock held.
  r.SetWakeup([&] { wakes += 1 + static_cast<int>(r.PendingNotices()) * 0; });
  r.InsertCard(T0Card());
  r.RemoveCard();
  r.RemoveCard();  // nothing to remove: no notice
  EXPECT_EQ(wakes, 2);
  uint8_t n[2];
  size_t got = 0;
  ASSERT_EQ(r.InterruptIn(n, 2, &got, 0), LinkStatus::Ok);
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(n[0], kNotifySlotChange);
  EXPECT_EQ(n[1] & 1, 1);
  ASSERT_EQ(r.InterruptIn(n, 2, &got, 0), LinkStatus::Ok);
  EXPECT_EQ(n[1] & 1, 0);
  EXPECT_EQ(r.InterruptIn(n, 2, &got, 0), LinkStatus::Timeout);
}

TEST(Commands, UnplugFailsEveryCallAndWakes) {
  SimReader r;
  int wakes = 0;
  r.SetWakeup([&] { ++wakes; });
  auto req = simtest::Request(kMsgGetInfo, 0);
  r.BulkOut(req.data(), req.size());
  r.Unplug();
  EXPECT_EQ(wakes, 1);
  uint8_t buf[512];
  size_t got;
  EXPECT_EQ(r.BulkIn(buf, sizeof buf, &got, 0), LinkStatus::Unplugged);
  EXPECT_EQ(r.BulkOut(req.data(), req.size()), LinkStatus::Unplugged);
  EXPECT_EQ(r.InterruptIn(buf, 2, &got, 0), LinkStatus::Unplugged);
  EXPECT_EQ(r.ClearStall(), LinkStatus::Unplugged);
}

TEST(Commands, StalledBulkUntilCleared) {
  SimReader r;
  r.StallBulk();
  auto req = simtest::Request(kMsgGetInfo, 0);
  EXPECT_EQ(r.BulkOut(req.data(), req.size()), LinkStatus::Stalled);
  EXPECT_EQ(r.ClearStall(), LinkStatus::Ok);
  EXPECT_EQ(simtest::Exchange(r, kMsgGetInfo, 1).size(), kHeaderSize + 16);
}

}  // namespace

namespace {

TEST(Commands, SpecialCardsPowerOnAnswers) {
  struct Case {
    const char* name;
    std::shared_ptr<Card> card;
    std::vector<uint8_t> payload;
  } cases[] = {
      {"type 2", FixedAtrCard(2), {2}},
      {"type 3", FixedAtrCard(3), {3}},
      {"TB1", Tb1Card(), {}},
      {"delayed", DelayedAtrCard(), {}},
      {"T=1 CRC", T1CrcCard(), {}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.payload.empty()) {
      auto iso = std::dynamic_pointer_cast<IsoCard>(c.card);
      ASSERT_TRUE(iso);
      EXPECT_TRUE(ParseAtr(iso->DirectAtr()).valid);
      c.payload.push_back(1);
      c.payload.insert(c.payload.end(), iso->DirectAtr().begin(), iso->DirectAtr().end());
    }
    SimReader r;
    r.InsertCard(c.card);
    auto a = simtest::Exchange(r, kMsgPowerOn, 1);
    EXPECT_EQ(ParseHeader(a).b7, kCmdOk | kCardActive);
    EXPECT_EQ(simtest::PayloadOf(a), c.payload);
    // Re-reset answers like power on.
    EXPECT_EQ(simtest::PayloadOf(simtest::Exchange(r, kMsgReReset, 2)), c.payload);
  }
  EXPECT_TRUE(ParseAtr(atr::Tb1()).hasTb1);
  EXPECT_EQ(ParseAtr(atr::Tb1()).tb1, 0x25);
  EXPECT_EQ(atr::Fixed().size(), 24u);
}

TEST(Commands, DelayedCardTakesATimeExtensionPerAnswer) {
  SimReader r;
  r.InsertCard(DelayedAtrCard());
  simtest::Exchange(r, kMsgPowerOn, 1);
  auto req = simtest::Request(kMsgXfrBlock, 2, FromHex("00 A4 04 00 00"));
  r.BulkOut(req.data(), req.size());
  auto chunks = simtest::Drain(r);
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(ParseHeader(chunks[0]).b7 & 0xC0, kCmdTimeExtension);
  EXPECT_EQ(ToHex(simtest::PayloadOf(chunks[1])), "90 00");
}

TEST(Commands, SetParametersAndItsFailure) {
  SimReader r;
  r.InsertCard(T1Card());
  simtest::Exchange(r, kMsgPowerOn, 1);
  const auto params = FromHex("13 00 00 45 00 00 00");
  auto a = simtest::Exchange(r, kMsgSetParameters, 2, params, 1);
  EXPECT_EQ(ParseHeader(a).b7 & 0xC0, kCmdOk);
  r.UpdateFaults([](Faults& f) { f.failSetParameters = true; });
  a = simtest::Exchange(r, kMsgSetParameters, 3, params, 1);
  EXPECT_EQ(ParseHeader(a).b7 & 0xC0, kCmdFailed);
  // The record shows what the host asked for.
  auto rec = r.Received();
  ASSERT_EQ(rec.size(), 3u);
  EXPECT_EQ(rec[1].header.b7, 1);
  EXPECT_EQ(rec[1].payload, params);
}

TEST(Commands, CardRefusesParametersItCannotTake) {
  struct Case {
    const char* name;
    std::shared_ptr<IsoCard> card;
    const char* pps;  // sent first when not empty
    const char* params;
    uint8_t protocol;
    bool ok;
  } cases[] = {
      {"T=0 as T=0", T0Card(), "", "11 00 00 0A 00", 0, true},
      {"T=0 card, T=1 parameters", T0Card(), "", "11 00 00 45 00 00 00", 1, false},
      {"T=1 parameters, T=0 length", T1Card(), "", "11 00 00 45 00", 1, false},
      {"after PPS 13, Fi/Di 13", T1Card(), "FF 11 13 FD", "13 00 00 45 00 00 00", 1, true},
      {"after PPS 13, Fi/Di 11", T1Card(), "FF 11 13 FD", "11 00 00 45 00 00 00", 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimReader r;
    r.InsertCard(c.card);
    simtest::Exchange(r, kMsgPowerOn, 1);
    if (*c.pps) simtest::Exchange(r, kMsgXfrBlock, 2, FromHex(c.pps));
    auto a = simtest::Exchange(r, kMsgSetParameters, 3, FromHex(c.params), c.protocol);
    EXPECT_EQ((ParseHeader(a).b7 & 0xC0) == kCmdOk, c.ok);
    EXPECT_EQ(c.card->LastParameters().empty(), !c.ok);
  }
}

}  // namespace

namespace {

// The CE stand-in reads notices on one thread while others exchange frames
// and a test inserts and removes cards: nothing may be lost or torn.
TEST(Commands, SafeFromSeveralThreads) {
  SimReader r;
  std::atomic<bool> done{false};
  std::atomic<int> wakes{0}, notices{0};
  r.SetWakeup([&] { ++wakes; });
  std::thread cards([&] {
    for (int i = 0; i < 200; ++i) {
      r.InsertCard(T0Card());
      r.RemoveCard();
    }
    done = true;
  });
  std::thread irq([&] {
    uint8_t n[2];
    size_t got;
    while (!done || r.PendingNotices()) {
      if (r.InterruptIn(n, 2, &got, 0) == LinkStatus::Ok && got == 2 && n[0] == kNotifySlotChange) ++notices;
    }
  });
  int answered = 0;
  // At least a few exchanges, however fast the card thread runs.
  for (uint8_t seq = 0; !done || answered < 20; ++seq) {
    auto a = simtest::Exchange(r, kMsgGetSlotStatus, seq);
    if (a.size() == kHeaderSize && ParseHeader(a).seq == seq) ++answered;
    else ADD_FAILURE() << "torn answer";
  }
  cards.join();
  irq.join();
  EXPECT_EQ(wakes, 400);
  EXPECT_GT(notices, 0);
  EXPECT_LE(notices, 400);
  EXPECT_GT(answered, 0);
}

}  // namespace
