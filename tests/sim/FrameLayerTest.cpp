// The reader's frame layer: answers echo the request's sequence number and
// slot, long answers come in 512-byte transfers, requests may arrive in
// pieces, and the frame-layer faults look as the host must see them.
#include <gtest/gtest.h>

#include "SimTestUtil.h"
#include "vqsim/Cards.h"

using namespace vqsim;
using simtest::Drain;
using simtest::Request;

namespace {

struct TypeCase {
  uint8_t request;
  uint8_t replyType;
  uint8_t status;  // with a powered-down card in the slot
  size_t payload;
};

TEST(FrameLayer, AnswerTypeStatusAndEchoedSequence) {
  const TypeCase cases[] = {
      {kMsgGetInfo, kReplyInfo, kCardInactive, 16},
      {kMsgGetSlotStatus, kReplySlotStatus, kCardInactive, 0},
      {kMsgPowerOff, kReplySlotStatus, kCardInactive, 0},
      {kMsgSetSpeed, kReplySlotStatus, kCardInactive, 0},
      {0x7A, kReplySlotStatus, kCmdFailed | kCardInactive, 0},  // unknown type
  };
  SimReader r;
  r.InsertCard(T0Card());
  uint8_t seq = 250;
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.request));
    seq += 3;  // wraps through 255
    auto a = simtest::Exchange(r, c.request, seq, c.request == kMsgSetSpeed ? std::vector<uint8_t>{0x0E}
                                                                             : std::vector<uint8_t>{});
    ASSERT_EQ(a.size(), kHeaderSize + c.payload);
    FrameHeader h = ParseHeader(a);
    EXPECT_EQ(h.type, c.replyType);
    EXPECT_EQ(h.length, c.payload);
    EXPECT_EQ(h.seq, seq);
    EXPECT_EQ(h.slot, 0);
    EXPECT_EQ(h.b7, c.status);
  }
}

TEST(FrameLayer, LongAnswerComesIn512ByteTransfersAndRequestInPieces) {
  SimReader r;
  std::vector<uint8_t> data(690);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  auto req = Request(kMsgEscape, 9, data);
  // Written in three pieces, the first shorter than a header.
  r.BulkOut(req.data(), 4);
  r.BulkOut(req.data() + 4, 300);
  EXPECT_EQ(r.PendingTransfers(), 0u);
  r.BulkOut(req.data() + 304, req.size() - 304);
  auto chunks = Drain(r);
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[0].size(), 512u);
  EXPECT_EQ(chunks[1].size(), 188u);
  std::vector<uint8_t> all = chunks[0];
  all.insert(all.end(), chunks[1].begin(), chunks[1].end());
  EXPECT_EQ(ParseHeader(all).length, 690u);
  EXPECT_EQ(simtest::PayloadOf(all), data);
  ASSERT_EQ(r.Received().size(), 1u);
  EXPECT_EQ(r.Received()[0].payload, data);
}

TEST(FrameLayer, TwoRequestsInOneWriteGetTwoAnswers) {
  SimReader r;
  auto a = Request(kMsgGetSlotStatus, 1);
  auto b = Request(kMsgGetInfo, 2);
  a.insert(a.end(), b.begin(), b.end());
  r.BulkOut(a.data(), a.size());
  auto chunks = Drain(r);
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(ParseHeader(chunks[0]).seq, 1);
  EXPECT_EQ(ParseHeader(chunks[1]).seq, 2);
  EXPECT_EQ(r.ReceivedTypes(), (std::vector<uint8_t>{kMsgGetSlotStatus, kMsgGetInfo}));
}

TEST(FrameLayer, TimeExtensionFramesPrecedeTheAnswer) {
  SimReader r;
  r.UpdateFaults([](Faults& f) { f.timeExtensions = 3; });
  auto req = Request(kMsgGetSlotStatus, 44);
  r.BulkOut(req.data(), req.size());
  auto chunks = Drain(r);
  ASSERT_EQ(chunks.size(), 4u);
  for (int i = 0; i < 3; ++i) {
    FrameHeader h = ParseHeader(chunks[i]);
    EXPECT_EQ(chunks[i].size(), kHeaderSize);
    EXPECT_EQ(h.b7 & 0xC0, kCmdTimeExtension);
    EXPECT_EQ(h.seq, 44);
  }
  EXPECT_EQ(ParseHeader(chunks[3]).b7 & 0xC0, kCmdOk);
  // Consumed: the next answer comes alone.
  req = Request(kMsgGetSlotStatus, 45);
  r.BulkOut(req.data(), req.size());
  EXPECT_EQ(Drain(r).size(), 1u);
}

TEST(FrameLayer, StaleAnswerSharesTheChunkWithTheAnswer) {
  SimReader r;
  auto first = simtest::Exchange(r, kMsgGetInfo, 7);
  r.UpdateFaults([](Faults& f) { f.staleAnswer = true; });
  auto req = Request(kMsgGetSlotStatus, 8);
  r.BulkOut(req.data(), req.size());
  auto chunks = Drain(r);
  ASSERT_EQ(chunks.size(), 1u);
  ASSERT_EQ(chunks[0].size(), first.size() + kHeaderSize);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), chunks[0].begin()));
  FrameHeader h = ParseHeader(std::span<const uint8_t>(chunks[0]).subspan(first.size()));
  EXPECT_EQ(h.seq, 8);
  EXPECT_EQ(h.type, kReplySlotStatus);
}

TEST(FrameLayer, ShortFirstChunkThenTheWholeAnswer) {
  SimReader r;
  r.UpdateFaults([](Faults& f) { f.shortFirstChunk = true; });
  auto req = Request(kMsgGetInfo, 3);
  r.BulkOut(req.data(), req.size());
  auto chunks = Drain(r);
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[0].size(), 5u);
  EXPECT_EQ(chunks[1].size(), kHeaderSize + 16);
  EXPECT_TRUE(std::equal(chunks[0].begin(), chunks[0].end(), chunks[1].begin()));
}

TEST(FrameLayer, MuteReaderAnswersNothingButRecordsTheRequest) {
  SimReader r;
  r.UpdateFaults([](Faults& f) { f.muteAnswers = 1; });
  auto req = Request(kMsgGetSlotStatus, 1);
  r.BulkOut(req.data(), req.size());
  uint8_t buf[512];
  size_t got = 99;
  EXPECT_EQ(r.BulkIn(buf, sizeof buf, &got, 1000), LinkStatus::Timeout);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(r.Received().size(), 1u);
  EXPECT_EQ(simtest::Exchange(r, kMsgGetSlotStatus, 2).size(), kHeaderSize);  // one request only
  r.UpdateFaults([](Faults& f) { f.muteReader = true; });
  EXPECT_TRUE(simtest::Exchange(r, kMsgGetSlotStatus, 3).empty());
}

TEST(FrameLayer, FloodsGoOnUntilCleared) {
  struct Case {
    const char* name;
    ReaderFlood flood;
    // Checks one flood chunk (`n`: reads since the request, from 0).
    void (*check)(const std::vector<uint8_t>& chunk, size_t n);
  };
  const Case cases[] = {
      {"time extensions", ReaderFlood::TimeExtensions,
       [](const std::vector<uint8_t>& c, size_t) {
         ASSERT_EQ(c.size(), kHeaderSize);
         EXPECT_EQ(ParseHeader(c).seq, 40);
         EXPECT_EQ(ParseHeader(c).b7 & 0xC0, kCmdTimeExtension);
       }},
      {"short chunks", ReaderFlood::ShortChunks,
       [](const std::vector<uint8_t>& c, size_t) { EXPECT_EQ(c.size(), 5u); }},
      {"frames of earlier requests", ReaderFlood::ForeignFrames,
       [](const std::vector<uint8_t>& c, size_t) {
         ASSERT_EQ(c.size(), 2 * kHeaderSize);
         EXPECT_EQ(ParseHeader(c).seq, 38);
         EXPECT_EQ(ParseHeader(std::span(c).subspan(kHeaderSize)).seq, 39);
       }},
      {"endless frame", ReaderFlood::EndlessFrame,
       [](const std::vector<uint8_t>& c, size_t n) {
         ASSERT_EQ(c.size(), kChunkSize);
         if (n == 0) {
           EXPECT_EQ(ParseHeader(c).length, 0xFFFFFFF0u);
           EXPECT_EQ(ParseHeader(c).seq, 40);
         } else {
           EXPECT_EQ(c, std::vector<uint8_t>(kChunkSize, 0xA5));
         }
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimReader r;
    r.InsertCard(T0Card());
    r.UpdateFaults([&](Faults& f) { f.flood = c.flood; });
    auto req = Request(kMsgGetInfo, 40);
    r.BulkOut(req.data(), req.size());
    for (size_t n = 0; n < 3; ++n) {
      uint8_t buf[kChunkSize];
      size_t got = 0;
      ASSERT_EQ(r.BulkIn(buf, sizeof buf, &got, 0), LinkStatus::Ok);
      c.check(std::vector<uint8_t>(buf, buf + got), n);
    }
    // The answer held back during the flood is gone; the next one comes.
    r.UpdateFaults([](Faults& f) { f.flood = ReaderFlood::None; });
    EXPECT_EQ(r.PendingTransfers(), 0u);
    EXPECT_EQ(ParseHeader(simtest::Exchange(r, kMsgGetInfo, 41)).seq, 41);
  }
}

TEST(FrameLayer, RecordKeepsTheLastFrames) {
  SimReader r;
  const size_t sent = SimReader::kMaxRecordedFrames + 76;
  for (size_t i = 0; i < sent; ++i) {
    auto req = Request(kMsgGetSlotStatus, static_cast<uint8_t>(i));
    r.BulkOut(req.data(), req.size());
    Drain(r);
  }
  const auto frames = r.Received();
  ASSERT_EQ(frames.size(), SimReader::kMaxRecordedFrames);
  EXPECT_EQ(frames.front().header.seq, 76);
  EXPECT_EQ(frames.back().header.seq, static_cast<uint8_t>(sent - 1));
}

TEST(FrameLayer, HostileLengthIsRefusedAndTheReaderRecovers) {
  SimReader r;
  auto req = Request(kMsgEscape, 5);
  req[1] = 0xFF;  // announces about 4 GB
  r.BulkOut(req.data(), req.size());
  auto chunks = Drain(r);
  ASSERT_EQ(chunks.size(), 1u);
  FrameHeader h = ParseHeader(chunks[0]);
  EXPECT_EQ(h.seq, 5);
  EXPECT_EQ(h.b7 & 0xC0, kCmdFailed);
  EXPECT_EQ(simtest::Exchange(r, kMsgGetSlotStatus, 6).size(), kHeaderSize);
}

TEST(FrameLayer, SmallReadBufferGetsTheTransferInParts) {
  SimReader r;
  auto req = Request(kMsgGetInfo, 1);
  r.BulkOut(req.data(), req.size());
  uint8_t buf[16];
  size_t got = 0;
  ASSERT_EQ(r.BulkIn(buf, 16, &got, 0), LinkStatus::Ok);
  EXPECT_EQ(got, 16u);
  ASSERT_EQ(r.BulkIn(buf, 16, &got, 0), LinkStatus::Ok);
  EXPECT_EQ(got, 10u);
}

}  // namespace
