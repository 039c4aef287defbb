// The frame exchange against the simulated reader and its frame-layer faults.
#include <gtest/gtest.h>

#include <memory>

#include "Frame.h"
#include "vqsim/Cards.h"
#include "vqsim/SimReader.h"
#include "vqtest/EngineSimLink.h"

namespace {

using Bytes = std::vector<uint8_t>;

class SimExchangeTest : public ::testing::Test {
 protected:
  vqsim::SimReader sim;
  vqtest::EngineReader reader{sim};
  SmartcardExtension* ext = reader.ext();

  SimExchangeTest() { sim.InsertCard(vqsim::T0Card()); }

  // Sends a frame of `type` and `payload`; returns the exchange's status.
  NTSTATUS Exchange(uint8_t type, const Bytes& payload = {}) {
    std::copy(payload.begin(), payload.end(), ext->SendBuffer + ReaderHeaderSize);
#if VQ_BUILD_CE
    CCIDSetCCIDHeader(ext, type, static_cast<uint32_t>(payload.size()), 0, 0, 0, 0);
#else
    CCIDSetCCIDHeader(ext->SendBuffer, type, static_cast<uint32_t>(payload.size()), 0, 0, 0, 0);
    ext->SendLength = static_cast<uint32_t>(payload.size()) + ReaderHeaderSize;
#endif
    vqtest::ResetStats(ext);
    return CCID_ReadWrite(ext);
  }
  uint8_t LastSequence() const { return static_cast<uint8_t>(GlobalSeqNum - 1); }
  void ExpectInfoAnswer() {
    ASSERT_EQ(ext->ReceivedLength, ReaderHeaderSize + ReaderInfoSize);
    EXPECT_EQ(ext->ReplyBuffer[ReaderOffsetType], 0x60);
    EXPECT_EQ(ReaderFrameLength(ext->ReplyBuffer), ReaderInfoSize);
    EXPECT_EQ(ext->ReplyBuffer[ReaderOffsetSequence], LastSequence());
    EXPECT_TRUE(CCIDIsCardPresent(ext->ReplyBuffer[ReaderOffsetStatus]));
  }
};

TEST_F(SimExchangeTest, AnswerInOneRead) {
  ASSERT_EQ(Exchange(0x60), STATUS_SUCCESS);
  ExpectInfoAnswer();
  EXPECT_EQ(reader.stats().reads, 1u);
  EXPECT_EQ(sim.ReceivedTypes(), (Bytes{0x60}));
}

TEST_F(SimExchangeTest, LongAnswerInTwoChunks) {
  // An escape answered with 690 bytes: 700 bytes arrive as 512 + 188.
  Bytes data(690);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13);
  sim.SetEscapeHandler([&data](std::span<const uint8_t>) { return data; });
  ASSERT_EQ(Exchange(0x6B, {0x01}), STATUS_SUCCESS);
  ASSERT_EQ(ext->ReceivedLength, 700u);
  EXPECT_EQ(reader.stats().reads, 2u);
  EXPECT_EQ(Bytes(ext->ReplyBuffer + 10, ext->ReplyBuffer + 700), data);
}

TEST_F(SimExchangeTest, FrameLayerFaults) {
  const struct {
    const char* name;
    uint8_t startSequence;
    vqsim::Faults faults;
    uint32_t reads;
  } cases[] = {
      {"late earlier answer ahead in one chunk", 20, {.staleAnswer = true}, 1},
      {"late answer across the 255 -> 0 wrap", 255, {.staleAnswer = true}, 1},
      {"two time extensions before the answer", 20, {.timeExtensions = 2}, 3},
      {"5-byte first chunk", 20, {.shortFirstChunk = true}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // A first answer, so that the reader has an earlier one to send late.
    vqtest::EngineReader::SetSequence(static_cast<uint8_t>(c.startSequence - 1));
    ASSERT_EQ(Exchange(0x60), STATUS_SUCCESS);
    sim.SetFaults(c.faults);
    ASSERT_EQ(Exchange(0x60), STATUS_SUCCESS);
    EXPECT_EQ(LastSequence(), c.startSequence);
    ExpectInfoAnswer();
    EXPECT_EQ(reader.stats().reads, c.reads);
    EXPECT_EQ(sim.PendingTransfers(), 0u);
  }
  EXPECT_EQ(GlobalSeqNum.load(), 21);
}

TEST_F(SimExchangeTest, ReaderThatNeverSettlesEndsWithinItsBound) {
  const struct {
    const char* name;
    vqsim::ReaderFlood flood;
    NTSTATUS status;
    uint32_t reads;
  } cases[] = {
      {"time extensions without end", vqsim::ReaderFlood::TimeExtensions, STATUS_IO_TIMEOUT, 256},
      {"5-byte chunks without end", vqsim::ReaderFlood::ShortChunks, STATUS_DEVICE_PROTOCOL_ERROR,
       17},
      {"frames of earlier requests without end", vqsim::ReaderFlood::ForeignFrames,
       STATUS_DEVICE_PROTOCOL_ERROR, 17},
      {"a frame announcing 0xFFFFFFF0 bytes", vqsim::ReaderFlood::EndlessFrame,
       STATUS_BUFFER_TOO_SMALL, 1 + 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim.SetFaults({.flood = c.flood});
    EXPECT_EQ(Exchange(0x60), c.status);
    EXPECT_EQ(reader.stats().reads, c.reads);
    EXPECT_EQ(reader.stats().waitedMs, 0u);  // every read was answered
    EXPECT_EQ(ext->ReceivedLength, 0u);

    // Once the reader settles, the next exchange gets its answer.
    sim.SetFaults({});
    ASSERT_EQ(Exchange(0x60), STATUS_SUCCESS);
    ExpectInfoAnswer();
  }
}

// The exchange bears up to 255 time extensions and 16 reads in a row that
// bring nothing of its answer; one more ends it.
TEST(SimExchangeBounds, ExchangeGoesOnAtEachLimitAndEndsOnePast) {
  const struct {
    const char* name;
    vqsim::Faults faults;
    NTSTATUS status;
    uint32_t reads;
  } cases[] = {
      {"255 time extensions", {.timeExtensions = 255}, STATUS_SUCCESS, 256},
      {"256 time extensions", {.timeExtensions = 256}, STATUS_IO_TIMEOUT, 256},
      {"16 chunks of 5 bytes", {.flood = vqsim::ReaderFlood::ShortChunks, .floodReads = 16},
       STATUS_SUCCESS, 17},
      {"17 chunks of 5 bytes", {.flood = vqsim::ReaderFlood::ShortChunks, .floodReads = 17},
       STATUS_DEVICE_PROTOCOL_ERROR, 17},
      {"16 chunks of earlier frames", {.flood = vqsim::ReaderFlood::ForeignFrames, .floodReads = 16},
       STATUS_SUCCESS, 17},
      {"17 chunks of earlier frames", {.flood = vqsim::ReaderFlood::ForeignFrames, .floodReads = 17},
       STATUS_DEVICE_PROTOCOL_ERROR, 17},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    vqsim::SimReader sim;
    sim.InsertCard(vqsim::T0Card());
    vqtest::EngineReader reader{sim};
    SmartcardExtension* ext = reader.ext();
    vqtest::EngineReader::SetSequence(40);
    sim.SetFaults(c.faults);
#if VQ_BUILD_CE
    CCIDSetCCIDHeader(ext, 0x60, 0, 0, 0, 0, 0);
#else
    CCIDSetCCIDHeader(ext->SendBuffer, 0x60, 0, 0, 0, 0, 0);
    ext->SendLength = ReaderHeaderSize;
#endif
    EXPECT_EQ(CCID_ReadWrite(ext), c.status);
    EXPECT_EQ(reader.stats().reads, c.reads);
    if (c.status == STATUS_SUCCESS) {
      ASSERT_EQ(ext->ReceivedLength, ReaderHeaderSize + 16);
      EXPECT_EQ(ext->ReplyBuffer[ReaderOffsetType], 0x60);
      EXPECT_EQ(ext->ReplyBuffer[ReaderOffsetSequence], 40);
    } else {
      EXPECT_EQ(ext->ReceivedLength, 0u);
    }
  }
}

TEST_F(SimExchangeTest, MuteReaderEndsWithTransportStatus) {
  sim.SetFaults({.muteReader = true});
  ASSERT_EQ(Exchange(0x60), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(reader.stats().reads, 1u);
  // One read time-out of test time, none of real time.
  EXPECT_EQ(reader.stats().waitedMs, ext->DeviceData->ReadTimeout);
  EXPECT_GT(reader.stats().waitedMs, 0u);

  sim.SetFaults({});
  ASSERT_EQ(Exchange(0x60), STATUS_SUCCESS);
  ExpectInfoAnswer();
}

}  // namespace
