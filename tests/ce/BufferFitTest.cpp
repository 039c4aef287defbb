// Every I/O control that hands out bytes, with exactly enough room (the whole
// answer), one byte less and none (ERROR_INSUFFICIENT_BUFFER, nothing written,
// returned length 0).
#include "CeFixture.h"

namespace cetest {
namespace {

using Bytes = std::vector<uint8_t>;

// An ATR of 33 bytes: all four levels of interface bytes, 15 historical
// bytes and TCK; TA2 0x81 (T=1, specific mode).
Bytes Atr33() {
  Bytes atr = vqsim::FromHex("3B FF 11 00 00 F1 81 00 00 F1 FE 45 00 71 FE 45 00");
  for (int i = 0; i < 15; ++i) atr.push_back(static_cast<uint8_t>(0x41 + i));
  return vqsim::atr::WithTck(atr);
}

struct Call {
  BOOL ok;
  DWORD error;
  DWORD returned;
  Bytes out;  // the whole buffer, filled with 0xEE before the call
};

// The call with `size` bytes of room (no buffer at all for 0).
Call Raw(DWORD_PTR h, DWORD code, const Bytes& in, DWORD size) {
  Call c;
  c.out.assign(64, 0xEE);
  Bytes input(in);
  SetLastError(0);
  c.returned = 0xDDDDDDDD;
  c.ok = VQU_IOControl(h, code, input.empty() ? nullptr : input.data(), static_cast<DWORD>(input.size()),
                       size ? c.out.data() : nullptr, size, &c.returned);
  c.error = c.ok ? 0 : GetLastError();
  return c;
}

struct FitCase {
  const char* name;
  DWORD code;
  Bytes in;
  Bytes answer;  // the whole answer, as many bytes as it needs of room
};

// Exactly enough room, one byte less, none.
void ExpectFits(DWORD_PTR h, const FitCase& c) {
  const DWORD exact = static_cast<DWORD>(c.answer.size());
  for (const DWORD size : {exact, exact - 1, DWORD{0}}) {
    SCOPED_TRACE(testing::Message() << c.name << ", room " << size);
    const Call r = Raw(h, c.code, c.in, size);
    if (size == exact) {
      ASSERT_TRUE(r.ok) << r.error;
      EXPECT_EQ(r.returned, exact);
      EXPECT_EQ(Bytes(r.out.begin(), r.out.begin() + exact), c.answer);
      EXPECT_EQ(r.out[exact], 0xEE) << "written past the room";
    } else {
      EXPECT_FALSE(r.ok);
      EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
      EXPECT_EQ(r.returned, 0u);
      EXPECT_EQ(r.out, Bytes(64, 0xEE));
    }
  }
}

Bytes Le32(uint32_t v) { return U32(v); }

class BufferFit : public CeDriver {};

TEST_F(BufferFit, ReaderAttributesStateAndVendorCalls) {
  Reader r = Plug("VQ480T", "0100");
  ASSERT_TRUE(r.claimed);
  const DWORD_PTR h = Open(r);
  ASSERT_NE(h, 0u);
  const FitCase cases[] = {
      {"vendor name", IOCTL_SMARTCARD_GET_ATTRIBUTE, U32(SCARD_ATTR_VENDOR_NAME),
       {'T', 'E', 'R', 'V', 'A', 'N', 'E', 0}},
      {"IFD type", IOCTL_SMARTCARD_GET_ATTRIBUTE, U32(SCARD_ATTR_VENDOR_IFD_TYPE), {'V', 'Q', '4', '8', '0', 'T'}},
      {"IFD version", IOCTL_SMARTCARD_GET_ATTRIBUTE, U32(SCARD_ATTR_VENDOR_IFD_VERSION), Le32(0)},
      {"channel id", IOCTL_SMARTCARD_GET_ATTRIBUTE, U32(SCARD_ATTR_CHANNEL_ID), Le32(0x00200000)},
      {"max data rate", IOCTL_SMARTCARD_GET_ATTRIBUTE, U32(SCARD_ATTR_MAX_DATA_RATE), Le32(115200)},
      {"device unit", IOCTL_SMARTCARD_GET_ATTRIBUTE, U32(SCARD_ATTR_DEVICE_UNIT), Le32(1)},
      {"card presence", IOCTL_SMARTCARD_GET_ATTRIBUTE, U32(SCARD_ATTR_ICC_PRESENCE), {0}},
      {"interface status", IOCTL_SMARTCARD_GET_ATTRIBUTE, U32(SCARD_ATTR_ICC_INTERFACE_STATUS), {0}},
      {"card state", IOCTL_SMARTCARD_GET_STATE, {}, Le32(CardStateAbsent)},
      {"reader information", IOCTL_SMARTCARD_VENDOR_INFO, {}, vqsim::InfoBlock("VQ480T", "0100")},
      {"escape", IOCTL_SMARTCARD_VENDOR_ESCAPE, {1, 2, 3}, {1, 2, 3}},
  };
  for (const FitCase& c : cases) ExpectFits(h, c);
}

// The frame goes out through the 524-byte transfer area: an escape request of
// 514 bytes (the area but the frame header) reaches the reader, 515 are
// refused unsent.
TEST_F(BufferFit, EscapeRequestOfTheTransferAreasRoomAndOneMore) {
  Reader r = Plug("VQ480T", "0100");
  const DWORD_PTR h = Open(r);
  ASSERT_NE(h, 0u);
  for (const size_t size : {size_t{514}, size_t{515}}) {
    SCOPED_TRACE(size);
    Bytes request(size);
    for (size_t i = 0; i < size; ++i) request[i] = static_cast<uint8_t>(i * 7);
    r.sim->ClearReceived();
    const Result c = Ioctl(h, IOCTL_SMARTCARD_VENDOR_ESCAPE, request, 2048);
    if (size == 514) {
      ASSERT_TRUE(c.ok) << c.error;
      EXPECT_EQ(c.out, request);
      ASSERT_EQ(r.sim->Received().size(), 1u);
      EXPECT_EQ(r.sim->Received()[0].payload, request);
    } else {
      EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
      EXPECT_EQ(c.returned, 0u);
      EXPECT_TRUE(r.sim->Received().empty());
    }
  }
}

TEST_F(BufferFit, PowerAndTheCardsAttributes) {
  const Bytes atr = Atr33();
  ASSERT_EQ(atr.size(), 33u);
  Reader r = Plug("VQ480T", "0100", vqsim::T1Card(atr));
  ASSERT_TRUE(r.claimed);
  const DWORD_PTR h = Open(r);
  ASSERT_NE(h, 0u);
  // A 33-byte ATR in a 33-byte buffer; a cold and a warm reset need that room
  // whatever the ATR's length.
  ExpectFits(h, {"cold reset", IOCTL_SMARTCARD_POWER, U32(SCARD_COLD_RESET), atr});
  ExpectFits(h, {"warm reset", IOCTL_SMARTCARD_POWER, U32(SCARD_WARM_RESET), atr});
  // A refused reset has cleared the card capabilities all the same.
  ASSERT_TRUE(Raw(h, IOCTL_SMARTCARD_POWER, U32(SCARD_COLD_RESET), 33).ok);
  ASSERT_TRUE(Raw(h, IOCTL_SMARTCARD_SET_PROTOCOL, U32(ProtocolT1), 4).ok);
  ASSERT_TRUE(Raw(h, IOCTL_SMARTCARD_TRANSMIT, Request(ProtocolT1, {0x00, 0x84, 0x00, 0x00, 0x02}), 64).ok);
  const FitCase cases[] = {
      {"ATR", IOCTL_SMARTCARD_GET_ATTRIBUTE, U32(SCARD_ATTR_ATR_STRING), atr},
      {"current protocol", IOCTL_SMARTCARD_GET_ATTRIBUTE, U32(SCARD_ATTR_CURRENT_PROTOCOL_TYPE), Le32(ProtocolT1)},
      {"current F", IOCTL_SMARTCARD_GET_ATTRIBUTE, U32(SCARD_ATTR_CURRENT_F), Le32(372)},
      {"current D", IOCTL_SMARTCARD_GET_ATTRIBUTE, U32(SCARD_ATTR_CURRENT_D), Le32(64)},
      {"current IFSC", IOCTL_SMARTCARD_GET_ATTRIBUTE, U32(SCARD_ATTR_CURRENT_IFSC), Le32(254)},
      {"type per ATR", IOCTL_SMARTCARD_GET_ATTRIBUTE, U32(SCARD_ATTR_ICC_TYPE_PER_ATR), {1}},
      {"card presence", IOCTL_SMARTCARD_GET_ATTRIBUTE, U32(SCARD_ATTR_ICC_PRESENCE), {2}},
  };
  for (const FitCase& c : cases) ExpectFits(h, c);
}

TEST_F(BufferFit, SetProtocolAnswerOfANegotiableCard) {
  Reader r = Plug("VQ480T", "0100", vqsim::T0Card());
  const DWORD_PTR h = Open(r);
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(Ioctl(h, IOCTL_SMARTCARD_POWER, U32(SCARD_COLD_RESET), 64).ok);
  // Too little room is refused before anything is sent; then the protocol is set.
  for (const DWORD size : {DWORD{0}, DWORD{3}}) {
    r.sim->ClearReceived();
    const Call c = Raw(h, IOCTL_SMARTCARD_SET_PROTOCOL, U32(ProtocolT0), size);
    EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)) << size;
    EXPECT_EQ(c.returned, 0u);
    EXPECT_TRUE(r.sim->Received().empty()) << size;
    EXPECT_EQ(CardState(r.ext), CardStateNegotiable);
  }
  const Call c = Raw(h, IOCTL_SMARTCARD_SET_PROTOCOL, U32(ProtocolT0), 4);
  ASSERT_TRUE(c.ok) << c.error;
  EXPECT_EQ(c.returned, 4u);
  EXPECT_EQ(Bytes(c.out.begin(), c.out.begin() + 5), (Bytes{1, 0, 0, 0, 0xEE}));
}

TEST_F(BufferFit, TransmitAnswerInExactlyItsRoom) {
  for (const uint32_t protocol : {ProtocolT0, ProtocolT1}) {
    SCOPED_TRACE(protocol);
    Reader r = Plug("VQ480T", "0100", protocol == ProtocolT0 ? std::shared_ptr<vqsim::Card>(vqsim::T0Card())
                                                             : std::shared_ptr<vqsim::Card>(vqsim::T1Card()));
    const DWORD_PTR h = OpenWithCard(r, protocol);
    // The header, 8 challenge bytes and 90 00: 18 bytes.
    const Bytes request = Request(protocol, {0x00, 0x84, 0x00, 0x00, 0x08});
    for (const DWORD size : {DWORD{18}, DWORD{17}, DWORD{0}}) {
      SCOPED_TRACE(size);
      const Call c = Raw(h, IOCTL_SMARTCARD_TRANSMIT, request, size);
      if (size == 18) {
        ASSERT_TRUE(c.ok) << c.error;
        EXPECT_EQ(c.returned, 18u);
        EXPECT_EQ(Bytes(c.out.begin(), c.out.begin() + 8), Bytes(request.begin(), request.begin() + 8));
        EXPECT_EQ(Bytes(c.out.begin() + 16, c.out.begin() + 19), (Bytes{0x90, 0x00, 0xEE}));
      } else {
        EXPECT_FALSE(c.ok);
        EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(c.returned, 0u);
      }
    }
    // An answer of the status word alone fits in the header and 2 bytes.
    ExpectFits(h, {"SELECT", IOCTL_SMARTCARD_TRANSMIT, Request(protocol, {0x00, 0xA4, 0x04, 0x00}),
                   [&] {
                     Bytes answer(request.begin(), request.begin() + 10);
                     answer[8] = 0x90;
                     answer[9] = 0x00;
                     return answer;
                   }()});
    // The reader goes on.
    EXPECT_TRUE(Raw(h, IOCTL_SMARTCARD_TRANSMIT, request, 18).ok);
    EXPECT_TRUE(VQU_Close(h));
    ASSERT_TRUE(vqce::usb::Unplug(r.id));
  }
}

}  // namespace
}  // namespace cetest
