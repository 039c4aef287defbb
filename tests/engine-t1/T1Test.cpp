// The T=1 block protocol, block by block against a card played by the test.
#include "T1Fixture.h"

namespace t1test {
namespace {

// ---- EDC ------------------------------------------------------------------

TEST(T1Chksum, WritesAndVerifiesLrcAndCrc) {
  struct Case {
    Bytes block;  // NAD PCB LEN INF
    uint8_t edc;
    Bytes expected;
  };
  const Case cases[] = {
      {{0x00, 0xC1, 0x01, 0xFB}, 0, {0x3B}},
      {{0x00, 0xC1, 0x01, 0xFB}, 1, {0xEF, 0x11}},
      {{0x00, 0x40, 0x02, 0x90, 0x00}, 1, {0x00, 0xD8}},
      {{0x00, 0x40, 0x02, 0x90, 0x00}, 0, {0xD2}},
  };
  for (const Case& c : cases) {
    Bytes b = c.block;
    b.resize(b.size() + 2, 0xAA);
    EXPECT_TRUE(SmartcardT1Chksum(b.data(), c.edc, false));
    EXPECT_EQ(Bytes(b.begin() + c.block.size(), b.begin() + c.block.size() + c.expected.size()),
              c.expected);
    EXPECT_TRUE(SmartcardT1Chksum(b.data(), c.edc, true));
    b[3] ^= 0x01;
    EXPECT_FALSE(SmartcardT1Chksum(b.data(), c.edc, true));
  }
}

TEST(T1Chksum, CrcMatchesBitwiseCrc16OverLongBlocks) {
  for (size_t len : {0u, 1u, 31u, 254u, 255u}) {
    Bytes b = {0x2A, 0x20, static_cast<uint8_t>(len)};
    const Bytes inf = Range(len, static_cast<uint8_t>(len));
    b.insert(b.end(), inf.begin(), inf.end());
    const uint16_t expected = Crc16(b);
    b.resize(b.size() + 2);
    SmartcardT1Chksum(b.data(), 1, false);
    EXPECT_EQ(b[len + 3], expected >> 8) << len;
    EXPECT_EQ(b[len + 4], expected & 0xFF) << len;
  }
}

#if VQ_BUILD_CE
TEST(T1CheckedULongAdd, ReportsEitherWrap) {
  struct Case {
    uint32_t a, b, c;
    NTSTATUS status;
    uint32_t out;
  };
  const Case cases[] = {
      {8, 100, 200, STATUS_SUCCESS, 308},
      {0xFFFFFFF0u, 0x0F, 0, STATUS_SUCCESS, 0xFFFFFFFFu},
      {0xFFFFFFF0u, 0x10, 0, INTSAFE_E_ARITHMETIC_OVERFLOW, 0xFFFFFFFFu},
      {0xFFFFFF00u, 0xF0, 0x10, INTSAFE_E_ARITHMETIC_OVERFLOW, 0xFFFFFFFFu},
  };
  for (const Case& c : cases) {
    uint32_t out = 1;
    EXPECT_EQ(CheckedULongAdd(c.a, c.b, c.c, &out), c.status);
    EXPECT_EQ(out, c.out);
  }
}
#endif

// ---- exchanges --------------------------------------------------------------

using T1Exchange = T1Fixture;

TEST_F(T1Exchange, FirstExchangeOpensWithIfsRequestThenIBlock) {
  // The card may grant the IFS request with S(IFS response) or an R-block.
  for (uint8_t grant : {0xE1, 0x82, 0x92}) {
    PowerOn(254, 251);
    SetRequest({0x00, 0xA4, 0x04, 0x00});
    Outcome out = Run([&](const Bytes&, size_t i) {
      return i == 0 ? Blk(grant, grant == 0xE1 ? Bytes{0xFB} : Bytes{}) : Blk(0x00, {0x90, 0x00});
    });
    ASSERT_EQ(out.status, STATUS_SUCCESS) << int(grant);
    ASSERT_EQ(out.sent.size(), 2u);
    EXPECT_EQ(out.sent[0], (Bytes{0x00, 0xC1, 0x01, 0xFB, 0x3B}));
    EXPECT_EQ(out.sent[1], Blk(0x00, {0x00, 0xA4, 0x04, 0x00}));
    EXPECT_EQ(replyLength, 10u);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 8), Header());
    EXPECT_EQ(ReplyData(), (Bytes{0x90, 0x00}));
    EXPECT_EQ(ext->T1State.State, T1StateStart);
    EXPECT_EQ(ext->T1State.ReplyData, nullptr);
  }
}

TEST_F(T1Exchange, SecondExchangeStartsWithIBlockAndNextSequence) {
  SetRequest({0x80, 0x01});
  ASSERT_EQ(Run([&](const Bytes&, size_t i) {
              return i == 0 ? Blk(0xE1, {0xFB}) : Blk(0x00, {0x90, 0x00});
            }).status,
            STATUS_SUCCESS);
  Outcome out = Run([&](const Bytes&, size_t) { return Blk(0x40, {0x6A, 0x82}); });
  ASSERT_EQ(out.status, STATUS_SUCCESS);
  ASSERT_EQ(out.sent.size(), 1u);
  EXPECT_EQ(out.sent[0], Blk(0x40, {0x80, 0x01}));  // N(S) 1
  EXPECT_EQ(ReplyData(), (Bytes{0x6A, 0x82}));
}

TEST_F(T1Exchange, LongRequestIsChainedWithinIfsd) {
  ext->T1State.State = T1StateStart;  // IFS request suppressed
  const Bytes data = Range(300);
  SetRequest(data);
  Outcome out = Run([&](const Bytes& host, size_t) {
    // Chained block: acknowledge with N(R) of the next one; last: the answer.
    if (host[1] & 0x20) return Blk(static_cast<uint8_t>(0x80 | ((host[1] & 0x40) ? 0x00 : 0x10)));
    return Blk(0x00, {0x90, 0x00});
  });
  ASSERT_EQ(out.status, STATUS_SUCCESS);
  ASSERT_EQ(out.sent.size(), 2u);
  EXPECT_EQ(out.sent[0][1], 0x20);
  EXPECT_EQ(out.sent[0][2], 251);
  EXPECT_EQ(Bytes(out.sent[0].begin() + 3, out.sent[0].end() - 1), Bytes(data.begin(), data.begin() + 251));
  EXPECT_EQ(out.sent[1], Blk(0x40, Bytes(data.begin() + 251, data.end())));
}

TEST_F(T1Exchange, ChainedReplyIsAcknowledgedAndJoined) {
  ext->T1State.State = T1StateStart;
  SetRequest({0x00, 0xB0, 0x00, 0x00, 0x00});
  const Bytes part1 = Range(200, 3), part2 = Range(58, 9);
  Outcome out = Run([&](const Bytes&, size_t i) {
    return i == 0 ? Blk(0x20, part1) : Blk(0x40, part2);
  });
  ASSERT_EQ(out.status, STATUS_SUCCESS);
  ASSERT_EQ(out.sent.size(), 2u);
  EXPECT_EQ(out.sent[1], Blk(0x90));  // R-block, N(R) 1, no error
  Bytes joined = part1;
  joined.insert(joined.end(), part2.begin(), part2.end());
  EXPECT_EQ(ReplyData(), joined);
  EXPECT_EQ(ext->T1State.RSN, 0);
  EXPECT_EQ(ext->T1State.SSN, 1);
}

TEST_F(T1Exchange, ThreeBadEdcsLeadToResyncAndRestart) {
  ext->T1State.State = T1StateStart;
  ext->T1State.SSN = 1;
  ext->T1State.RSN = 1;
  const Bytes data = {0x00, 0x84, 0x00, 0x00, 0x08};
  SetRequest(data);
  Outcome out = Run([&](const Bytes& host, size_t i) {
    if (i < 3) {
      Bytes bad = Blk(0x40, {0x90, 0x00});
      bad.back() ^= 0xFF;
      return bad;
    }
    if (host[1] == 0xC0) return Blk(0xE0);
    return Blk(0x00, {0x90, 0x00});
  });
  ASSERT_EQ(out.status, STATUS_SUCCESS);
  ASSERT_EQ(out.sent.size(), 5u);
  EXPECT_EQ(out.sent[0], Blk(0x40, data));
  EXPECT_EQ(out.sent[1], Blk(0x91));  // R-block N(R) 1, EDC error
  EXPECT_EQ(out.sent[2], Blk(0x91));
  EXPECT_EQ(out.sent[3], Blk(0xC0));
  EXPECT_EQ(out.sent[4], Blk(0x00, data));  // both sequence numbers back to 0
  EXPECT_EQ(ReplyData(), (Bytes{0x90, 0x00}));
}

TEST_F(T1Exchange, ThirdResyncEndsTheExchange) {
  ext->T1State.State = T1StateStart;
  SetRequest({0x00, 0x84, 0x00, 0x00, 0x08});
  Outcome out = Run([&](const Bytes&, size_t) { return Bytes{0x00, 0x40}; });  // always too short
  EXPECT_EQ(out.status, STATUS_DEVICE_PROTOCOL_ERROR);
  size_t resyncs = 0, errorBlocks = 0;
  for (const Bytes& b : out.sent) {
    resyncs += b[1] == 0xC0;
    errorBlocks += b[1] == 0x82;
  }
  EXPECT_EQ(resyncs, 2u);     // the third is not sent
  EXPECT_EQ(errorBlocks, 2u);  // R-blocks with "other error"
  EXPECT_EQ(ext->T1State.State, T1StateStart);
  EXPECT_EQ(ext->T1State.ReplyData, nullptr);
}

TEST_F(T1Exchange, WtxRequestIsAnsweredAndStateRestored) {
  ext->T1State.State = T1StateStart;
  SetRequest({0x80, 0x02});
  Bytes block;
  ASSERT_EQ(NextBlock(&block), STATUS_SUCCESS);
  ASSERT_EQ(Answer(Blk(0xC3, {0x05})), STATUS_MORE_PROCESSING_REQUIRED);
  EXPECT_EQ(ext->T1State.State, T1StateWtxResponse);
  EXPECT_EQ(ext->T1State.Wtx, 5);
  ASSERT_EQ(NextBlock(&block), STATUS_SUCCESS);
  EXPECT_EQ(block, Blk(0xE3, {0x05}));
  EXPECT_EQ(ext->T1State.State, T1StateIBlock);
  ASSERT_EQ(Answer(Blk(0x00, {0x90, 0x00})), STATUS_SUCCESS);
  EXPECT_EQ(ext->T1State.Wtx, 0);  // cleared by the next reply
  EXPECT_EQ(ext->T1State.SSN, 1);
}

TEST_F(T1Exchange, CardIfsRequestMidExchangeKeepsSequenceNumbers) {
  ext->T1State.State = T1StateStart;
  SetRequest({0x80, 0x03});
  Outcome out = Run([&](const Bytes& host, size_t) {
    if (host[1] == 0xE1) return Blk(0x00, {0x90, 0x00});
    return Blk(0xC1, {0x20});
  });
  ASSERT_EQ(out.status, STATUS_SUCCESS);
  ASSERT_EQ(out.sent.size(), 2u);
  EXPECT_EQ(out.sent[1], Blk(0xE1, {0x20}));
  EXPECT_EQ(ext->T1State.IFSC, 0x20);
  // The card took the I-block: the next one carries N(S) 1.
  EXPECT_EQ(ext->T1State.SSN, 1);
  EXPECT_EQ(ext->T1State.State, T1StateStart);
}

TEST_F(T1Exchange, WrongSequenceNumberIsAnsweredWithRBlock) {
  ext->T1State.State = T1StateStart;
  SetRequest({0x80, 0x04});
  Outcome out = Run([&](const Bytes&, size_t i) {
    return i == 0 ? Blk(0x40, {0x90, 0x00}) : Blk(0x00, {0x90, 0x00});
  });
  ASSERT_EQ(out.status, STATUS_SUCCESS);
  ASSERT_EQ(out.sent.size(), 2u);
  EXPECT_EQ(out.sent[1], Blk(0x82));  // N(R) 0, other error
}

TEST_F(T1Exchange, AbortRequestIsAnsweredAndTheRequestStartsOver) {
  ext->T1State.State = T1StateStart;
  const Bytes data = {0x80, 0x05, 0x00, 0x00};
  SetRequest(data);
  Outcome out = Run([&](const Bytes& host, size_t i) {
    if (i == 0) return Blk(0xC2);
    if (host[1] == 0xE2) return Blk(0x80);  // the card waits for the reader
    return Blk(0x00, {0x90, 0x00});
  });
  ASSERT_EQ(out.status, STATUS_SUCCESS);
  ASSERT_EQ(out.sent.size(), 3u);
  EXPECT_EQ(out.sent[1], Blk(0xE2));
  EXPECT_EQ(out.sent[2], Blk(0x00, data));
}

TEST_F(T1Exchange, NadFromTheRequestHeaderGoesOutAndComesBack) {
  ext->T1State.State = T1StateStart;
  const Bytes header = Header(12, {0x81, 0x01, 0x2A, 0x00});
  SetRequest({0x80, 0x06}, header);
  Outcome out = Run([&](const Bytes&, size_t) { return Blk(0x00, {0x90, 0x00}, 0xA2); });
  ASSERT_EQ(out.status, STATUS_SUCCESS);
  EXPECT_EQ(out.sent[0], Blk(0x00, {0x80, 0x06}, 0x2A));
  ASSERT_EQ(replyLength, 14u);
  EXPECT_EQ(reply[10], 0xA2);
  EXPECT_EQ(ReplyData(12), (Bytes{0x90, 0x00}));
  EXPECT_EQ(ext->T1State.NAD, 0);

  // Without the marker bytes the NAD is 0 and the header comes back as sent.
  SetRequest({0x80, 0x06}, Header(12, {0x81, 0x02, 0x2A, 0x00}));
  out = Run([&](const Bytes&, size_t) { return Blk(0x40, {0x90, 0x00}, 0xA2); });
  ASSERT_EQ(out.status, STATUS_SUCCESS);
  EXPECT_EQ(out.sent[0][0], 0x00);
  EXPECT_EQ(reply[10], 0x2A);
}

TEST_F(T1Exchange, CardBlocksThatEndTheExchange) {
  struct Case {
    uint8_t pcb;
    Bytes inf;
    NTSTATUS status;
  };
  const Case cases[] = {
      {0xE4, {}, STATUS_DEVICE_POWER_FAILURE},   // VPP error
      {0xC5, {}, STATUS_DEVICE_PROTOCOL_ERROR},  // undefined S-block
      {0xC1, {0x00}, STATUS_DEVICE_PROTOCOL_ERROR},  // IFS request for 0 bytes
      {0xC3, {}, STATUS_DEVICE_PROTOCOL_ERROR},      // WTX request without INF
  };
  for (const Case& c : cases) {
    ext->T1State.State = T1StateStart;
    SetRequest({0x80, 0x07});
    Outcome out = Run([&](const Bytes&, size_t) { return Blk(c.pcb, c.inf); });
    EXPECT_EQ(out.status, c.status) << int(c.pcb);
    EXPECT_EQ(ext->T1State.State, T1StateStart);
    EXPECT_EQ(ext->T1State.ReplyData, nullptr);
  }
}

TEST_F(T1Exchange, RefusedIfsRequestEndsWithProtocolError) {
  SetRequest({0x80, 0x08});
  Outcome out = Run([&](const Bytes&, size_t) { return Blk(0x00, {0x90, 0x00}); });
  EXPECT_EQ(out.status, STATUS_DEVICE_PROTOCOL_ERROR);
  EXPECT_EQ(out.sent.size(), 1u);
  EXPECT_EQ(ext->T1State.State, T1StateStart);
}

TEST_F(T1Exchange, FailedExchangeWithIfsRequestPendingSendsItAgainFirst) {
  SetRequest({0x80, 0x09});
  // The IFS request is answered with bad blocks until the exchange gives up.
  Outcome out = Run([&](const Bytes&, size_t) { return Bytes{0x00}; });
  EXPECT_EQ(out.status, STATUS_DEVICE_PROTOCOL_ERROR);
  EXPECT_EQ(ext->T1State.State, T1StateIfsRequest);

  out = Run([&](const Bytes&, size_t i) {
    return i == 0 ? Blk(0xE1, {0xFB}) : Blk(0x00, {0x90, 0x00});
  });
  ASSERT_EQ(out.status, STATUS_SUCCESS);
  EXPECT_EQ(out.sent[0][1], 0xC1);
  EXPECT_EQ(out.sent[1][1] & 0xE0, 0x00);  // a whole I-block of this request
  EXPECT_EQ(ReplyData(), (Bytes{0x90, 0x00}));
}

TEST_F(T1Exchange, CrcAndInverseConventionOnTheWire) {
  UseCrc();
  UseInverse();
  ext->T1State.State = T1StateStart;
  SetRequest({0x00, 0xA4, 0x04, 0x00});
  Bytes block;
  ASSERT_EQ(NextBlock(&block), STATUS_SUCCESS);
  EXPECT_EQ(block, Blk(0x00, {0x00, 0xA4, 0x04, 0x00}));
  EXPECT_EQ(ext->SendBuffer[10], Invert(0x00));  // on the wire inverted
  ASSERT_EQ(Answer(Blk(0x00, {0x90, 0x00})), STATUS_SUCCESS);
  EXPECT_EQ(ReplyData(), (Bytes{0x90, 0x00}));
}

// ---- the caller's buffers and bad blocks ----------------------------------

TEST_F(T1Exchange, RequestsThatCannotStart) {
  ext->T1State.State = T1StateStart;
  SetRequest({0x80, 0x0A}, Header(40));  // header longer than the request
  Bytes block;
  EXPECT_EQ(NextBlock(&block), STATUS_INVALID_PARAMETER);

  ext->T1State.State = T1StateStart;
  SetRequest({0x80, 0x0A});
  ext->SmartcardIoRequest.ReplyBufferSize = 9;  // below header + 2
  EXPECT_EQ(NextBlock(&block), STATUS_BUFFER_TOO_SMALL);

  ext->T1State = {};
  ext->T1State.State = 77;  // not a state of the table
  ext->T1State.ReplyData = nullptr;
  SetRequest({0x80, 0x0A});
  EXPECT_EQ(NextBlock(&block), STATUS_INVALID_DEVICE_STATE);
}

TEST_F(T1Exchange, ErrorBlockWithoutPreviousStateIsInternalError) {
  ext->T1State.State = T1StateStart;
  SetRequest({0x80, 0x0B});
  Bytes block;
  ASSERT_EQ(NextBlock(&block), STATUS_SUCCESS);
  ASSERT_EQ(Answer(Blk(0x00, {0x90, 0x00})), STATUS_SUCCESS);  // exchange over
  ext->T1State.WaitForReply = 0;
  ext->T1State.State = T1StateRBlock;
  ext->T1State.LastError = 1;
  ext->T1State.PrevState = 0;
  ASSERT_EQ(NextBlock(&block), STATUS_SUCCESS);  // no reply copy: starts over instead
  EXPECT_EQ(block[1], 0xC1);

  ext->T1State.WaitForReply = 0;
  ASSERT_EQ(Answer(Blk(0xE1, {0xFB})), STATUS_MORE_PROCESSING_REQUIRED);
  ext->T1State.State = T1StateRBlock;
  ext->T1State.LastError = 1;
  ext->T1State.PrevState = 0;
  EXPECT_EQ(NextBlock(&block), STATUS_INTERNAL_ERROR);
  EXPECT_EQ(ext->T1State.State, T1StateStart);
}

TEST_F(T1Exchange, ReplyLargerThanTheCallersBufferIsRefused) {
  ext->T1State.State = T1StateStart;
  SetRequest({0x00, 0xB0, 0x00, 0x00, 0x00});
  ext->SmartcardIoRequest.ReplyBufferSize = 8 + 250;
  Outcome out = Run([&](const Bytes&, size_t i) {
    return i == 0 ? Blk(0x20, Range(200)) : Blk(0x40, Range(51));
  });
  EXPECT_EQ(out.status, STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(replyLength, 0u);
  EXPECT_EQ(ext->T1State.ReplyData, nullptr);
}

TEST_F(T1Exchange, BlocksOfWrongLengthAreRejectedWithRBlock) {
  struct Case {
    Bytes block;
    uint8_t expectedPcb;  // of the R-block the reader answers with
  };
  Bytes longBlock = {0x00, 0x00, 253};  // LEN beyond IFSD, correct LRC
  longBlock.resize(3 + 253, 0x11);
  uint8_t lrc = 0;
  for (uint8_t b : longBlock) lrc ^= b;
  longBlock.push_back(lrc);
  Bytes shortByOne = Blk(0x00, {0x90, 0x00});
  shortByOne.pop_back();
  Bytes badEdc = Blk(0x00, {0x90, 0x00});
  badEdc.back() ^= 1;
  const Case cases[] = {
      {longBlock, 0x82},
      {shortByOne, 0x82},
      {{}, 0x82},
      {badEdc, 0x81},
  };
  for (const Case& c : cases) {
    ext->T1State = {};
    ext->T1State.IFSD = 251;
    ext->T1State.State = T1StateStart;
    SetRequest({0x80, 0x0C});
    Bytes block;
    ASSERT_EQ(NextBlock(&block), STATUS_SUCCESS);
    ASSERT_EQ(Answer(c.block), STATUS_MORE_PROCESSING_REQUIRED);
    ASSERT_EQ(NextBlock(&block), STATUS_SUCCESS);
    EXPECT_EQ(block, Blk(c.expectedPcb));
    ASSERT_EQ(Answer(Blk(0x00, {0x90, 0x00})), STATUS_SUCCESS);
    EXPECT_EQ(ReplyData(), (Bytes{0x90, 0x00}));
  }
}

}  // namespace
}  // namespace t1test
