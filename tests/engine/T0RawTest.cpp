// T=0 and raw requests and replies, the fit test and the inverse convention.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "Frame.h"
#include "vqtest/ScriptedLink.h"
#include "T0Raw.h"
#include "vqtest/EngineSimLink.h"

namespace {

using vqtest::Bytes;

Bytes Inverted(Bytes b) {
  SmartcardInvertData(b.data(), static_cast<uint32_t>(b.size()));
  return b;
}

// A T=0 request: {protocol 1, header length 8} in host order, then the APDU.
Bytes T0Request(const Bytes& apdu) {
  Bytes r(8 + apdu.size());
  const uint32_t header[2] = {ProtocolT0, 8};
  std::memcpy(r.data(), header, 8);
  std::copy(apdu.begin(), apdu.end(), r.begin() + 8);
  return r;
}

class T0RawTest : public ::testing::Test {
 protected:
  vqtest::ScriptedLink link;
  vqtest::EngineReader reader{link};
  SmartcardExtension* ext = reader.ext();
  Bytes request;
  Bytes reply = Bytes(300, 0xEE);
  uint32_t replyLength = 0;

  void SetRequest(const Bytes& r) {
    request = r;
    ext->SendLength = ReaderHeaderSize;
    ext->SmartcardIoRequest.RequestBuffer = request.data();
    ext->SmartcardIoRequest.RequestLength = static_cast<uint32_t>(request.size());
    ext->SmartcardIoRequest.ReplyBuffer = reply.data();
    ext->SmartcardIoRequest.ReplyBufferSize = static_cast<uint32_t>(reply.size());
    ext->SmartcardIoRequest.ReplyLength = &replyLength;
  }
  Bytes Payload() const {
    return Bytes(ext->SendBuffer + ReaderHeaderSize, ext->SendBuffer + ext->SendLength);
  }
  // The card's answer as the reply dispatch hands it over: payload only.
  void SetReceived(const Bytes& answer) {
    std::memcpy(ext->ReplyBuffer, answer.data(), answer.size());
    ext->ReceivedLength = static_cast<uint32_t>(answer.size());
  }
};

TEST_F(T0RawTest, T0RequestCases) {
  const struct {
    std::string name;
    Bytes apdu;
    NTSTATUS status;
    Bytes payload;
    uint32_t lc, le;
  } cases[] = {
      {"case 1 gets P3 0", {0x00, 0xA4, 0x04, 0x00}, STATUS_SUCCESS,
       {0x00, 0xA4, 0x04, 0x00, 0x00}, 0, 0},
      {"case 2", {0x00, 0xB0, 0x00, 0x00, 0x10}, STATUS_SUCCESS,
       {0x00, 0xB0, 0x00, 0x00, 0x10}, 0, 16},
      {"case 2 with P3 0 asks 256", {0x00, 0xB0, 0x00, 0x00, 0x00}, STATUS_SUCCESS,
       {0x00, 0xB0, 0x00, 0x00, 0x00}, 0, 256},
      {"case 3", {0x00, 0xD6, 0x00, 0x00, 0x02, 0x11, 0x22}, STATUS_SUCCESS,
       {0x00, 0xD6, 0x00, 0x00, 0x02, 0x11, 0x22}, 2, 0},
      {"case 4 with Le refused", {0x00, 0xD6, 0x00, 0x00, 0x02, 0x11, 0x22, 0x00},
       STATUS_INVALID_PARAMETER, {}, 0, 0},
      {"P3 larger than the data", {0x00, 0xD6, 0x00, 0x00, 0x05, 0x11}, STATUS_INVALID_PARAMETER,
       {}, 0, 0},
      {"three bytes", {0x00, 0xA4, 0x04}, STATUS_INVALID_PARAMETER, {}, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetRequest(T0Request(c.apdu));
    ASSERT_EQ(SmartcardT0Request(ext), c.status);
    if (c.status != STATUS_SUCCESS) continue;
    EXPECT_EQ(Payload(), c.payload);
    EXPECT_EQ(ext->CardCapabilities.T0.Lc, c.lc);
    EXPECT_EQ(ext->CardCapabilities.T0.Le, c.le);
  }
}

TEST_F(T0RawTest, RequestsShorterThanTheHeader) {
  for (uint32_t n = 0; n < 12; ++n) {
    SetRequest(Bytes(n, 0x00));
    EXPECT_EQ(SmartcardT0Request(ext), STATUS_INVALID_PARAMETER) << n;
  }
}

TEST_F(T0RawTest, InverseConventionT0) {
  ext->CardCapabilities.InversConvention = 1;
  SetRequest(T0Request({0x00, 0xA4, 0x04, 0x00}));
  ASSERT_EQ(SmartcardT0Request(ext), STATUS_SUCCESS);
  // Inverted after P3 was added.
  EXPECT_EQ(Payload(), Inverted({0x00, 0xA4, 0x04, 0x00, 0x00}));

  // The reply is inverted before it is copied behind the request header.
  SetReceived(Inverted({0x6F, 0x10, 0x90, 0x00}));
  ASSERT_EQ(SmartcardT0Reply(ext), STATUS_SUCCESS);
  ASSERT_EQ(replyLength, 12u);
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 8), Bytes(request.begin(), request.begin() + 8));
  EXPECT_EQ(Bytes(reply.begin() + 8, reply.begin() + 12), (Bytes{0x6F, 0x10, 0x90, 0x00}));
}

TEST_F(T0RawTest, T0ReplyBounds) {
  SetRequest(T0Request({0x00, 0xA4, 0x04, 0x00}));
  SetReceived({0x90});
  EXPECT_EQ(SmartcardT0Reply(ext), STATUS_DEVICE_PROTOCOL_ERROR);

  SetReceived({0x90, 0x00});
  ext->SmartcardIoRequest.ReplyBufferSize = 9;
  EXPECT_EQ(SmartcardT0Reply(ext), STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(reply[0], 0xEE);  // nothing written

  ext->SmartcardIoRequest.ReplyBufferSize = 10;
  ASSERT_EQ(SmartcardT0Reply(ext), STATUS_SUCCESS);
  EXPECT_EQ(replyLength, 10u);
  EXPECT_EQ(reply[8], 0x90);
  EXPECT_EQ(reply[9], 0x00);
  EXPECT_EQ(reply[10], 0xEE);
}

TEST_F(T0RawTest, RawIsNeverInvertedOnTheWayBack) {
  ext->CardCapabilities.InversConvention = 1;
  SetRequest({0x01, 0x02, 0x03});
  ASSERT_EQ(SmartcardRawRequest(ext), STATUS_SUCCESS);
  EXPECT_EQ(Payload(), Inverted({0x01, 0x02, 0x03}));

  SetReceived({0xC0, 0x01, 0x02});
  ASSERT_EQ(SmartcardRawReply(ext), STATUS_SUCCESS);
  EXPECT_EQ(replyLength, 3u);
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 3), (Bytes{0xC0, 0x01, 0x02}));

  ext->SmartcardIoRequest.ReplyBufferSize = 2;
  EXPECT_EQ(SmartcardRawReply(ext), STATUS_BUFFER_TOO_SMALL);
}

TEST_F(T0RawTest, FitTest) {
  const uint32_t size = ext->SendBufferSize;
  const struct {
    uint32_t sendLength, requestLength;
    bool fits;
  } cases[] = {{10, size - 11, true},
               {10, size - 10, false},  // exactly the buffer size
               {10, size, false},
               {0xFFFFFFF0u, 0x20, false}};  // the sum wraps around
  for (const auto& c : cases) {
    ext->SendLength = c.sendLength;
    ext->SmartcardIoRequest.RequestLength = c.requestLength;
    EXPECT_EQ(SmartcardRequestFits(ext), c.fits) << c.sendLength << "+" << c.requestLength;
  }
  // What each request routine answers when it does not fit.
  Bytes big = T0Request(Bytes(size - 18, 0x00));
  SetRequest(big);
  EXPECT_EQ(SmartcardT0Request(ext), STATUS_BUFFER_OVERFLOW);
  EXPECT_EQ(SmartcardRawRequest(ext), STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(ext->SendLength, ReaderHeaderSize);
}

TEST(SmartcardInvertData, ReversesBitsAndComplements) {
  const struct {
    uint8_t in, out;
  } cases[] = {{0x03, 0x3F}, {0x3F, 0x03}, {0x3B, 0x23}, {0x00, 0xFF}, {0x80, 0xFE}};
  for (const auto& c : cases) {
    uint8_t b = c.in;
    SmartcardInvertData(&b, 1);
    EXPECT_EQ(b, c.out) << int(c.in);
  }
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(Inverted(Inverted(all)), all);
}

}  // namespace
