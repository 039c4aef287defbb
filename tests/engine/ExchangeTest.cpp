// The frame exchange, chunk by chunk: headers, the sequence scan, time
// extensions, short chunks, time-outs and hostile replies.
#include <gtest/gtest.h>

#include <string>

#include "Frame.h"
#include "vqtest/ScriptedLink.h"
#include "vqtest/EngineSimLink.h"

namespace {

using vqtest::Bytes;
using vqtest::Concat;
using vqtest::ReplyFrame;

Bytes Filled(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

class ExchangeTest : public ::testing::Test {
 protected:
  vqtest::ScriptedLink link;
  vqtest::EngineReader reader{link};
  SmartcardExtension* ext = reader.ext();

  // Builds a frame of `type` with `payload` in the send buffer; returns the
  // sequence number it carries.
  uint8_t Prepare(uint8_t type, const Bytes& payload = {}) {
    const uint8_t seq = GlobalSeqNum;
    std::copy(payload.begin(), payload.end(), ext->SendBuffer + ReaderHeaderSize);
#if VQ_BUILD_CE
    CCIDSetCCIDHeader(ext, type, static_cast<uint32_t>(payload.size()), 0, 0, 0, 0);
#else
    CCIDSetCCIDHeader(ext->SendBuffer, type, static_cast<uint32_t>(payload.size()),
                      ext->DeviceData->SlotByte, 0, 0, 0);
    ext->SendLength = static_cast<uint32_t>(payload.size()) + ReaderHeaderSize;
#endif
    return seq;
  }
  Bytes Received() const {
    return Bytes(ext->ReplyBuffer, ext->ReplyBuffer + ext->ReceivedLength);
  }
};

TEST_F(ExchangeTest, HeaderLayoutAndCounter) {
  vqtest::EngineReader::SetSequence(0x41);
  const uint8_t seq = Prepare(0x6F, {0xAA, 0xBB});
  EXPECT_EQ(seq, 0x41);
  EXPECT_EQ(GlobalSeqNum.load(), 0x42);
  EXPECT_EQ(Bytes(ext->SendBuffer, ext->SendBuffer + 12),
            (Bytes{0x6F, 0, 0, 0, 2, 0, 0x41, 0, 0, 0, 0xAA, 0xBB}));
  EXPECT_EQ(ext->SendLength, 12u);

  // Every header built takes a number, sent or not, and 255 wraps to 0.
  vqtest::EngineReader::SetSequence(255);
  Prepare(0x60);
  EXPECT_EQ(ext->SendBuffer[ReaderOffsetSequence], 255);
  EXPECT_EQ(GlobalSeqNum.load(), 0);

  // Lengths go most significant byte first.
  Prepare(0x6B, {});
#if VQ_BUILD_CE
  CCIDSetCCIDHeader(ext, 0x6B, 0x01020304, 0, 5, 6, 7);
#else
  CCIDSetCCIDHeader(ext->SendBuffer, 0x6B, 0x01020304, 0, 5, 6, 7);
#endif
  EXPECT_EQ(Bytes(ext->SendBuffer, ext->SendBuffer + 10),
            (Bytes{0x6B, 1, 2, 3, 4, 0, 1, 5, 6, 7}));
}

TEST_F(ExchangeTest, StatusByteTests) {
  const struct {
    uint8_t status;
    uint8_t klass;
    bool present;
  } cases[] = {{0x00, 0, true},   {0x01, 0, true},    {0x02, 0, false}, {0x03, 0, false},
               {0x40, 64, true},  {0x42, 64, false},  {0x80, 128, true}, {0xC1, 255, true},
               {0xC2, 255, false}};
  for (const auto& c : cases) {
#if VQ_BUILD_CE
    EXPECT_EQ(CCIDIsCommandSuccess(c.status), c.klass) << int(c.status);
#else
    EXPECT_EQ(CCIDIsCommandSuccess(c.status), c.klass == 0) << int(c.status);
    EXPECT_EQ(CCIDIsTimeExtendRequired(c.status), c.klass == 128) << int(c.status);
#endif
    EXPECT_EQ(CCIDIsCardPresent(c.status), c.present) << int(c.status);
  }
}

TEST_F(ExchangeTest, ChunkLayouts) {
  const Bytes info = Filled(16, 1);
  const Bytes big = Filled(690, 3);
  struct Case {
    std::string name;
    uint8_t startSeq;
    std::function<std::deque<Bytes>(uint8_t seq)> chunks;
    Bytes expected;  // (seq is patched in below)
    uint32_t reads;
  };
  const Case cases[] = {
      {"answer in one read", 7,
       [&](uint8_t s) { return std::deque<Bytes>{ReplyFrame(0x60, s, 0x01, info)}; },
       ReplyFrame(0x60, 7, 0x01, info), 1},
      {"700 bytes as 512 + 188", 7,
       [&](uint8_t s) {
         const Bytes f = ReplyFrame(0x80, s, 0x00, big);
         return std::deque<Bytes>{Bytes(f.begin(), f.begin() + 512), Bytes(f.begin() + 512, f.end())};
       },
       ReplyFrame(0x80, 7, 0x00, big), 2},
      {"late earlier frame ahead in one chunk", 7,
       [&](uint8_t s) {
         return std::deque<Bytes>{Concat(ReplyFrame(0x80, s - 1, 0x00, {0x90, 0x00}),
                                         ReplyFrame(0x60, s, 0x01, info))};
       },
       ReplyFrame(0x60, 7, 0x01, info), 1},
      {"right sequence byte, wrong length, passed over", 7,
       [&](uint8_t s) {
         // Inside the late frame's payload sits a false header with our
         // sequence number whose length does not end at the chunk's end.
         Bytes late = ReplyFrame(0x80, s - 1, 0x00, {0x80, 0, 0, 0, 99, 0, s, 0, 0, 0, 0x55});
         return std::deque<Bytes>{Concat(late, ReplyFrame(0x60, s, 0x01, info))};
       },
       ReplyFrame(0x60, 7, 0x01, info), 1},
      {"scan across the 255 -> 0 wrap", 255,
       [&](uint8_t s) {
         return std::deque<Bytes>{Concat(ReplyFrame(0x80, 254, 0x00, {0x6A, 0x82}),
                                         ReplyFrame(0x60, s, 0x01, info))};
       },
       ReplyFrame(0x60, 255, 0x01, info), 1},
      {"time extension before the answer", 7,
       [&](uint8_t s) {
         return std::deque<Bytes>{ReplyFrame(0x80, s, 0x80, {}), ReplyFrame(0x80, s, 0x80, {}),
                                  ReplyFrame(0x60, s, 0x01, info)};
       },
       ReplyFrame(0x60, 7, 0x01, info), 3},
      {"5-byte first chunk dropped", 7,
       [&](uint8_t s) {
         const Bytes f = ReplyFrame(0x60, s, 0x01, info);
         return std::deque<Bytes>{Bytes(f.begin(), f.begin() + 5), f};
       },
       ReplyFrame(0x60, 7, 0x01, info), 2},
      {"empty first chunk dropped", 7,
       [&](uint8_t s) { return std::deque<Bytes>{Bytes{}, ReplyFrame(0x60, s, 0x01, info)}; },
       ReplyFrame(0x60, 7, 0x01, info), 2},
      {"no frame of ours in the chunk: read on", 7,
       [&](uint8_t s) {
         return std::deque<Bytes>{Concat(ReplyFrame(0x80, s - 2, 0x00, {}),
                                         ReplyFrame(0x80, s - 1, 0x00, {})),
                                  ReplyFrame(0x60, s, 0x01, info)};
       },
       ReplyFrame(0x60, 7, 0x01, info), 2},
      {"late answer ahead, ours runs on into the next chunk", 7,
       [&](uint8_t s) {
         // Two 268-byte answers back to back: 512 + 24 bytes.
         const Bytes both = Concat(ReplyFrame(0x80, s - 1, 0x00, Filled(258, 1)),
                                   ReplyFrame(0x80, s, 0x00, Filled(258, 2)));
         return std::deque<Bytes>{Bytes(both.begin(), both.begin() + 512),
                                  Bytes(both.begin() + 512, both.end())};
       },
       ReplyFrame(0x80, 7, 0x00, Filled(258, 2)), 2},
      {"late frame ahead cuts the answer's header", 7,
       [&](uint8_t s) {
         // 505 + 26 bytes: the first chunk ends 7 bytes into our header.
         const Bytes both = Concat(ReplyFrame(0x80, s - 1, 0x00, Filled(495, 1)),
                                   ReplyFrame(0x60, s, 0x01, info));
         return std::deque<Bytes>{Bytes(both.begin(), both.begin() + 512),
                                  Bytes(both.begin() + 512, both.end())};
       },
       ReplyFrame(0x60, 7, 0x01, info), 2},
      {"late frames ahead, the second runs on past the first chunk", 7,
       [&](uint8_t s) {
         const Bytes all = Concat(Concat(ReplyFrame(0x80, s - 2, 0x00, {0x90, 0x00}),
                                         ReplyFrame(0x80, s - 1, 0x00, Filled(590, 1))),
                                  ReplyFrame(0x60, s, 0x01, info));
         return std::deque<Bytes>{Bytes(all.begin(), all.begin() + 512),
                                  Bytes(all.begin() + 512, all.end())};
       },
       ReplyFrame(0x60, 7, 0x01, info), 2},
      {"noise behind a late frame: the next chunk is read afresh", 7,
       [&](uint8_t s) {
         Bytes noise = ReplyFrame(0x80, s - 1, 0x00, Filled(400, 1));
         noise[3] = 0x13;  // announces 5008 bytes, more than any answer
         return std::deque<Bytes>{Concat(ReplyFrame(0x80, s - 2, 0x00, {0x90, 0x00}), noise),
                                  ReplyFrame(0x60, s, 0x01, info)};
       },
       ReplyFrame(0x60, 7, 0x01, info), 2},
      {"bytes beyond the frame in a later chunk are dropped", 7,
       [&](uint8_t s) {
         const Bytes f = ReplyFrame(0x80, s, 0x00, big);
         return std::deque<Bytes>{Bytes(f.begin(), f.begin() + 512),
                                  Concat(Bytes(f.begin() + 512, f.end()), {0xDE, 0xAD})};
       },
       ReplyFrame(0x80, 7, 0x00, big), 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vqtest::EngineReader::SetSequence(c.startSeq);
    const uint8_t seq = Prepare(0x60);
    link.chunks = c.chunks(seq);
    link.written.clear();
    vqtest::ResetStats(ext);
    ASSERT_EQ(CCID_ReadWrite(ext), STATUS_SUCCESS);
    EXPECT_EQ(Received(), c.expected);
    EXPECT_EQ(reader.stats().reads, c.reads);
    ASSERT_EQ(link.written.size(), 1u);
    EXPECT_EQ(link.written[0], Bytes(ext->SendBuffer, ext->SendBuffer + 10));
#if VQ_BUILD_CE
    // Written from the transfer area it was copied into.
    EXPECT_EQ(Bytes(reader.dev()->TransferArea, reader.dev()->TransferArea + 10), link.written[0]);
#endif
    EXPECT_TRUE(link.chunks.empty());
  }
}

TEST_F(ExchangeTest, AnotherReaderTakesANumberMeanwhile) {
  // The counter is shared by all readers: while this exchange waits, another
  // reader builds a header. The scan still looks for this frame's number.
  const uint8_t seq = Prepare(0x60);
  const Bytes answer = ReplyFrame(0x60, seq, 0x01, Filled(16, 1));
  link.chunks = {Concat(ReplyFrame(0x80, seq - 1, 0x00, {0x90, 0x00}), answer)};
  link.onWrite = [](const Bytes&) { GlobalSeqNum.fetch_add(1); };
  ASSERT_EQ(CCID_ReadWrite(ext), STATUS_SUCCESS);
  EXPECT_EQ(Received(), answer);
}

TEST_F(ExchangeTest, FailuresEndWithAStatus) {
  // Nothing to send: no transfer at all.
  ext->SendLength = 0;
  EXPECT_EQ(CCID_ReadWrite(ext), STATUS_DEVICE_DATA_ERROR);
  EXPECT_TRUE(link.written.empty());

  // A failed write is passed up.
  Prepare(0x60);
  link.writeStatus = vqsim::LinkStatus::Error;
  EXPECT_EQ(CCID_ReadWrite(ext), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(reader.stats().reads, 0u);
  link.writeStatus = vqsim::LinkStatus::Ok;

  // A mute reader: one read time-out, in test time, then the transport's status.
  Prepare(0x60);
  vqtest::ResetStats(ext);
  EXPECT_EQ(CCID_ReadWrite(ext), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(reader.stats().reads, 1u);
  EXPECT_EQ(reader.stats().waitedMs, ext->DeviceData->ReadTimeout);

  // A reader that stops in the middle of a frame.
  const Bytes f = ReplyFrame(0x80, Prepare(0x6F), 0x00, Filled(690, 1));
  link.chunks = {Bytes(f.begin(), f.begin() + 512)};
  EXPECT_EQ(CCID_ReadWrite(ext), STATUS_UNSUCCESSFUL);

  // A transport that reports success with nothing read, again and again, in
  // the middle of a frame: the exchange gives up after its idle reads.
  const Bytes g = ReplyFrame(0x80, Prepare(0x6F), 0x00, Filled(690, 1));
  link.chunks = std::deque<Bytes>(100, Bytes{});
  link.chunks.push_front(Bytes(g.begin(), g.begin() + 512));
  vqtest::ResetStats(ext);
  EXPECT_EQ(CCID_ReadWrite(ext), STATUS_DEVICE_PROTOCOL_ERROR);
  EXPECT_EQ(reader.stats().reads, 1u + 16u + 1u);  // the cut frame, 16 idle reads, one more
  EXPECT_EQ(ext->ReceivedLength, 0u);
  link.chunks.clear();
}

TEST_F(ExchangeTest, ReplyLongerThanTheReplyBuffer) {
  // Refused, and the rest of that frame is read away so that the next
  // exchange is not mistaken by its tail.
  const uint8_t seq = Prepare(0x6F);
  const Bytes f = ReplyFrame(0x80, seq, 0x00, Filled(1200, 5));
  link.chunks = {Bytes(f.begin(), f.begin() + 512), Bytes(f.begin() + 512, f.begin() + 1024),
                 Bytes(f.begin() + 1024, f.end())};
  EXPECT_EQ(CCID_ReadWrite(ext), STATUS_BUFFER_TOO_SMALL);
  EXPECT_TRUE(link.chunks.empty());

  const Bytes answer = ReplyFrame(0x60, Prepare(0x60), 0x01, Filled(16, 1));
  link.chunks = {answer};
  ASSERT_EQ(CCID_ReadWrite(ext), STATUS_SUCCESS);
  EXPECT_EQ(Received(), answer);

  // An announced length near 4 GiB does not wrap the arithmetic, and a
  // short chunk ends the refused frame without waiting for more.
  Bytes huge = ReplyFrame(0x80, Prepare(0x6F), 0x00, {});
  huge[1] = huge[2] = huge[3] = huge[4] = 0xFF;
  link.chunks = {huge};
  vqtest::ResetStats(ext);
  EXPECT_EQ(CCID_ReadWrite(ext), STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(reader.stats().reads, 1u);
  EXPECT_EQ(reader.stats().waitedMs, 0u);
}

// A frame too long for the reply buffer is read away for 8 chunks behind its
// first: a tail of 8 full chunks leaves nothing behind, one of 9 leaves its
// last chunk in the pipe (taken for the next answer: one wrong answer).
TEST_F(ExchangeTest, OversizedFrameIsReadAwayForEightChunks) {
  for (const size_t tailChunks : {size_t{8}, size_t{9}}) {
    SCOPED_TRACE(tailChunks);
    const uint8_t seq = Prepare(0x6F);
    const Bytes f = ReplyFrame(0x80, seq, 0x00, Filled(512 * (1 + tailChunks) - 10, 3));
    link.chunks.clear();
    for (size_t pos = 0; pos < f.size(); pos += 512) {
      link.chunks.emplace_back(f.begin() + pos, f.begin() + pos + 512);
    }
    vqtest::ResetStats(ext);
    EXPECT_EQ(CCID_ReadWrite(ext), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(reader.stats().reads, 1u + 8u);
    EXPECT_EQ(link.chunks.size(), tailChunks - 8);
    EXPECT_EQ(ext->ReceivedLength, 0u);
  }
  link.chunks.clear();
}

TEST_F(ExchangeTest, OversizedFrameToSend) {
  Prepare(0x6B);
  ext->SendLength = ext->SendBufferSize + 1;
  EXPECT_EQ(CCID_ReadWrite(ext), STATUS_BUFFER_TOO_SMALL);
#if VQ_BUILD_CE
  // The frame is copied into the 524-byte transfer area before writing.
  ext->SendLength = ReaderTransferAreaSize + 1;
  EXPECT_EQ(CCID_ReadWrite(ext), STATUS_BUFFER_TOO_SMALL);
#endif
  EXPECT_TRUE(link.written.empty());
}

#if VQ_BUILD_MAC
TEST_F(ExchangeTest, MacReadTimeoutRule) {
  const struct {
    uint8_t type;
    uint32_t protocol;
    uint32_t timeout;
  } cases[] = {{0x65, ProtocolT0, 2000}, {0x6F, ProtocolNone, 2000}, {0x6F, ProtocolRaw, 2000},
               {0x6F, ProtocolT0, 60000},  {0x6F, ProtocolT1, 60000},  {0x65, ProtocolT1, 2000}};
  for (const auto& c : cases) {
    ext->CardCapabilities.CurrentProtocol = c.protocol;
    link.chunks = {ReplyFrame(0x80, Prepare(c.type), 0x00, {})};
    vqtest::ResetStats(ext);
    ASSERT_EQ(CCID_ReadWrite(ext), STATUS_SUCCESS);
    EXPECT_EQ(ext->DeviceData->ReadTimeout, c.timeout) << int(c.type) << "/" << c.protocol;
    EXPECT_EQ(reader.stats().readTimeouts.at(0), c.timeout);
  }
}
#endif

TEST_F(ExchangeTest, AnyReplyEndsInAStatus) {
  // Random chunk sequences: the exchange ends with a status and stays inside
  // its buffers, whatever the reader sends.
  uint32_t seed = 777;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  for (int round = 0; round < 3000; ++round) {
    const uint8_t seq = Prepare(0x6F);
    link.chunks.clear();
    const int n = static_cast<int>(next() % 4) + 1;
    for (int k = 0; k < n; ++k) {
      Bytes c(next() % 513);
      for (auto& b : c) b = static_cast<uint8_t>(next());
      if (c.size() >= 10 && next() % 2) {
        // Often a plausible header, so that the deeper paths are reached.
        const uint32_t len = next() % 2 ? static_cast<uint32_t>(c.size() - 10) : next() % 1500;
        c[1] = static_cast<uint8_t>(len >> 24);
        c[2] = static_cast<uint8_t>(len >> 16);
        c[3] = static_cast<uint8_t>(len >> 8);
        c[4] = static_cast<uint8_t>(len);
        c[6] = seq;
        c[7] &= 0xC3;
      }
      link.chunks.push_back(std::move(c));
    }
    const NTSTATUS s = CCID_ReadWrite(ext);
    ASSERT_TRUE(s == STATUS_SUCCESS || s == STATUS_UNSUCCESSFUL || s == STATUS_BUFFER_TOO_SMALL)
        << std::hex << s;
    ASSERT_LE(ext->ReceivedLength, ext->ReplyBufferSize);
    if (s == STATUS_SUCCESS) {
      ASSERT_EQ(ext->ReceivedLength, ReaderFrameLength(ext->ReplyBuffer) + ReaderHeaderSize);
    }
  }
}

}  // namespace
