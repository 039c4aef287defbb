// The smart-card I/O controls: attributes, state checks, power, transmit,
// protocol selection, vendor calls and the Win32 last errors.
#include "CeFixture.h"

namespace cetest {
namespace {

class IoControl : public CeDriver {
 protected:
  void SetUp() override {
    CeDriver::SetUp();
    reader = Plug();
    ASSERT_TRUE(reader.claimed);
    h = Open(reader);
    ASSERT_NE(h, 0u);
  }
  Reader reader;
  DWORD_PTR h = 0;
};

struct AttrCase {
  uint32_t tag;
  DWORD size;
  DWORD error;  // 0: success
  uint32_t value;
};

TEST_F(IoControl, ReaderAttributes) {
  const AttrCase cases[] = {
      {SCARD_ATTR_VENDOR_IFD_VERSION, 4, 0, 0},
      {SCARD_ATTR_CHANNEL_ID, 4, 0, 0x00200000},
      {SCARD_ATTR_PROTOCOL_TYPES, 4, 0, 3},
      {SCARD_ATTR_DEFAULT_CLK, 4, 0, 3571},
      {SCARD_ATTR_MAX_CLK, 4, 0, 3571},
      {SCARD_ATTR_DEFAULT_DATA_RATE, 4, 0, 9600},
      {SCARD_ATTR_MAX_DATA_RATE, 4, 0, 115200},
      {SCARD_ATTR_MAX_IFSD, 4, 0, 252},
      {SCARD_ATTR_POWER_MGMT_SUPPORT, 4, 0, 0},
      {SCARD_ATTR_CHARACTERISTICS, 4, 0, 0},
      {SCARD_ATTR_DEVICE_UNIT, 4, 0, 1},
      {SCARD_ATTR_DEFAULT_CLK, 3, ERROR_INSUFFICIENT_BUFFER, 0},
      {SCARD_ATTR_VENDOR_IFD_SERIAL_NO, 64, ERROR_NOT_SUPPORTED, 0},
      {0x12345, 64, ERROR_NOT_SUPPORTED, 0},
      // attributes of the card in use, with no card negotiated
      {SCARD_ATTR_CURRENT_CLK, 4, ERROR_BAD_COMMAND, 0},
      {SCARD_ATTR_CURRENT_PROTOCOL_TYPE, 4, ERROR_BAD_COMMAND, 0},
      {SCARD_ATTR_CURRENT_IFSD, 4, ERROR_BAD_COMMAND, 0},
      {SCARD_ATTR_ICC_TYPE_PER_ATR, 4, ERROR_BAD_COMMAND, 0},
      {SCARD_ATTR_ATR_STRING, 64, ERROR_BAD_COMMAND, 0},
  };
  for (const auto& c : cases) {
    auto r = Attr(h, c.tag, c.size);
    EXPECT_EQ(r.error, c.error) << std::hex << c.tag;
    if (c.error == 0) {
      EXPECT_EQ(r.returned, 4u) << std::hex << c.tag;
      EXPECT_EQ(r.Value(), c.value) << std::hex << c.tag;
    } else {
      EXPECT_EQ(r.returned, 0u) << std::hex << c.tag;
    }
  }
}

TEST_F(IoControl, VendorNameAndTypeAreCountedTexts) {
  auto name = Attr(h, SCARD_ATTR_VENDOR_NAME, 8);
  ASSERT_TRUE(name.ok);
  EXPECT_EQ(name.out, std::vector<uint8_t>({'T', 'E', 'R', 'V', 'A', 'N', 'E', 0}));
  auto small = Attr(h, SCARD_ATTR_VENDOR_NAME, 7);
  EXPECT_EQ(small.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  auto type = Attr(h, SCARD_ATTR_VENDOR_IFD_TYPE, 32);
  ASSERT_TRUE(type.ok);
  EXPECT_EQ(std::string(type.out.begin(), type.out.end()), "VQ480T") << "the reported model, zero not counted";
  // No input: tag 0.
  EXPECT_EQ(Ioctl(h, IOCTL_SMARTCARD_GET_ATTRIBUTE, {}, 64).error, static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

TEST_F(IoControl, CardPresenceInEveryCardState) {
  const int presence[] = {-1, 0, 1, 2, 2, 2, 2};
  for (uint32_t state = 0; state <= 6; ++state) {
    SetCardState(reader.ext, state);
    auto r = Attr(h, SCARD_ATTR_ICC_PRESENCE, 1);
    if (presence[state] < 0) {
      EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_BAD_COMMAND));
    } else {
      ASSERT_TRUE(r.ok) << state;
      EXPECT_EQ(r.out, std::vector<uint8_t>{static_cast<uint8_t>(presence[state])}) << state;
    }
    auto status = Attr(h, SCARD_ATTR_ICC_INTERFACE_STATUS, 1);
    ASSERT_TRUE(status.ok);
    EXPECT_EQ(status.out[0], state >= 3 ? 0xFF : 0) << state;
    auto st = Ioctl(h, IOCTL_SMARTCARD_GET_STATE, {}, 4);
    EXPECT_EQ(st.Value(), state);
  }
  EXPECT_EQ(Attr(h, SCARD_ATTR_ICC_PRESENCE, 0).error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(Ioctl(h, IOCTL_SMARTCARD_GET_STATE, {}, 3).error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(IoControl, CurrentClockAndRatesFromTheIndicesInForce) {
  SetCardState(reader.ext, CardStateNegotiable);
  EnterCriticalSection(&reader.ext->OsData->ReaderLock);
  reader.ext->CardCapabilities.Fl = 1;
  reader.ext->CardCapabilities.Dl = 1;
  LeaveCriticalSection(&reader.ext->OsData->ReaderLock);
  EXPECT_EQ(Attr(h, SCARD_ATTR_CURRENT_CLK).Value(), 5000u);
  EXPECT_EQ(Attr(h, SCARD_ATTR_CURRENT_F).Value(), 372u);
  EXPECT_EQ(Attr(h, SCARD_ATTR_CURRENT_D).Value(), 64u);
  EnterCriticalSection(&reader.ext->OsData->ReaderLock);
  reader.ext->CardCapabilities.Dl = 16;
  LeaveCriticalSection(&reader.ext->OsData->ReaderLock);
  EXPECT_EQ(Attr(h, SCARD_ATTR_CURRENT_D).error, static_cast<DWORD>(ERROR_UNRECOGNIZED_MEDIA));
  EnterCriticalSection(&reader.ext->OsData->ReaderLock);
  reader.ext->CardCapabilities.Dl = 0;  // the entry with denominator 0
  LeaveCriticalSection(&reader.ext->OsData->ReaderLock);
  EXPECT_EQ(Attr(h, SCARD_ATTR_CURRENT_D).error, static_cast<DWORD>(ERROR_UNRECOGNIZED_MEDIA));
}

TEST_F(IoControl, ReadTimeOutFollowsTheProtocolInForce) {
  struct Case {
    uint32_t protocol, bwt;
    uint8_t wtx;
    uint32_t stored, expected;
  };
  const Case cases[] = {
      {ProtocolT0, 0, 0, 1234, 60000},
      {ProtocolT1, 1500000, 100, 1234, 150000},
      {ProtocolT1, 5000000, 0, 1234, 60000},
      {ProtocolT1, 90000000, 0, 1234, 90000},
      {ProtocolNone, 0, 0, 1234, 1234},
      {ProtocolRaw, 0, 0, 4321, 4321},
  };
  for (const auto& c : cases) {
    EnterCriticalSection(&reader.ext->OsData->ReaderLock);
    reader.ext->CardCapabilities.CurrentProtocol = c.protocol;
    reader.ext->CardCapabilities.T1.BWT = c.bwt;
    reader.ext->T1State.Wtx = c.wtx;
    reader.ext->DeviceData->ReadTimeout = c.stored;
    LeaveCriticalSection(&reader.ext->OsData->ReaderLock);
    EXPECT_TRUE(Ioctl(h, IOCTL_SMARTCARD_VENDOR_ESCAPE, {1}, 16).ok);
    EXPECT_EQ(reader.ext->DeviceData->ReadTimeout, c.expected) << c.protocol << " " << c.bwt;
  }
}

TEST_F(IoControl, CodesWithoutHandler) {
  const std::pair<DWORD, DWORD> cases[] = {
      {0x310050, ERROR_INVALID_FUNCTION},
      {0x312008, ERROR_NOT_SUPPORTED},
      {IOCTL_SMARTCARD_CONFISCATE, ERROR_NOT_SUPPORTED},
      {IOCTL_SMARTCARD_EJECT, ERROR_NOT_SUPPORTED},
      {IOCTL_SMARTCARD_SWALLOW, ERROR_NOT_SUPPORTED},
      {IOCTL_SMARTCARD_SET_ATTRIBUTE, ERROR_NOT_SUPPORTED},
  };
  for (auto [code, error] : cases) {
    EXPECT_EQ(Ioctl(h, code, U32(0x10100), 16).error, error) << std::hex << code;
  }
  auto suppress = Ioctl(h, IOCTL_SMARTCARD_SET_ATTRIBUTE, U32(SCARD_ATTR_SUPRESS_T1_IFS_REQUEST), 0);
  EXPECT_TRUE(suppress.ok);
  EXPECT_EQ(reader.ext->T1State.State, T1StateStart);
}

TEST_F(IoControl, ReaderInformationAndEscape) {
  auto info = Ioctl(h, IOCTL_SMARTCARD_VENDOR_INFO, {}, 16);
  ASSERT_TRUE(info.ok);
  EXPECT_EQ(info.out, vqsim::InfoBlock("VQ480T", "0100"));
  const auto small = Ioctl(h, IOCTL_SMARTCARD_VENDOR_INFO, {}, 15);
  EXPECT_EQ(small.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER))
      << "a buffer too small for the 16 bytes is refused, not overrun";
  EXPECT_EQ(small.returned, 0u);
  auto echo = Ioctl(h, IOCTL_SMARTCARD_VENDOR_ESCAPE, {1, 2, 3}, 16);
  ASSERT_TRUE(echo.ok);
  EXPECT_EQ(echo.out, std::vector<uint8_t>({1, 2, 3}));
  // An answer bigger than the caller's buffer fails and hands out no length.
  const auto tooBig = Ioctl(h, IOCTL_SMARTCARD_VENDOR_ESCAPE, {1, 2, 3, 4, 5, 6, 7, 8}, 4);
  EXPECT_EQ(tooBig.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(tooBig.returned, 0u);
}

TEST_F(IoControl, OversizedRequestsDoNotOverrun) {
  const auto escape = Ioctl(h, IOCTL_SMARTCARD_VENDOR_ESCAPE, std::vector<uint8_t>(5000, 0x11), 16);
  EXPECT_FALSE(escape.ok);
  reader.sim->InsertCard(vqsim::T1Card());
  ASSERT_TRUE(Eventually([&] { return CardState(reader.ext) == CardStateSwallowed; }));
  ASSERT_TRUE(Ioctl(h, IOCTL_SMARTCARD_POWER, U32(SCARD_COLD_RESET), 64).ok);
  ASSERT_TRUE(Ioctl(h, IOCTL_SMARTCARD_SET_PROTOCOL, U32(ProtocolT1), 4).ok);
  std::vector<uint8_t> apdu = {0x80, 0xEE, 0x00, 0x00, 0x00, 0x13, 0x88};  // extended length 5000
  apdu.resize(apdu.size() + 5000, 0x22);
  // Chained in blocks or refused, as the protocol allows; a 300-byte output never overflows.
  auto big = Ioctl(h, IOCTL_SMARTCARD_TRANSMIT, Request(ProtocolT1, apdu), 300);
  EXPECT_LE(big.returned, 300u);
  // The reader is still usable.
  auto echo = Ioctl(h, IOCTL_SMARTCARD_TRANSMIT, Request(ProtocolT1, {0x80, 0xEE, 0x00, 0x00, 0x01, 0x42}), 300);
  EXPECT_TRUE(echo.ok) << echo.error;
}

TEST_F(IoControl, MissingReturnedLengthPlaceIsNotWrittenThrough) {
  uint8_t out[8] = {};
  uint8_t in[4];
  uint32_t tag = SCARD_ATTR_VENDOR_NAME;
  memcpy(in, &tag, 4);
  EXPECT_TRUE(VQU_IOControl(h, IOCTL_SMARTCARD_GET_ATTRIBUTE, in, 4, out, 8, nullptr));
  EXPECT_EQ(out[0], 'T');
}

TEST_F(IoControl, PowerChecksAndAnswer) {
  EXPECT_EQ(Ioctl(h, IOCTL_SMARTCARD_POWER, U32(SCARD_COLD_RESET), 64).error, static_cast<DWORD>(ERROR_BAD_COMMAND))
      << "no card";
  reader.sim->InsertCard(vqsim::T0Card());
  ASSERT_TRUE(Eventually([&] { return CardState(reader.ext) == CardStateSwallowed; }));
  EXPECT_EQ(Ioctl(h, IOCTL_SMARTCARD_POWER, U32(SCARD_COLD_RESET), 32).error,
            static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  auto power = Ioctl(h, IOCTL_SMARTCARD_POWER, U32(SCARD_COLD_RESET), 64);
  ASSERT_TRUE(power.ok) << power.error;
  EXPECT_EQ(power.out, vqsim::atr::T0());
  EXPECT_GE(CardState(reader.ext), CardStateNegotiable);
  auto atr = Attr(h, SCARD_ATTR_ATR_STRING, 64);
  EXPECT_EQ(atr.out, vqsim::atr::T0());
  EXPECT_EQ(Attr(h, SCARD_ATTR_ATR_STRING, 2).error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  // Action 3 is refused, after the card capabilities were cleared.
  EXPECT_EQ(Ioctl(h, IOCTL_SMARTCARD_POWER, U32(3), 64).error, static_cast<DWORD>(ERROR_INVALID_FUNCTION));
  EXPECT_EQ(reader.ext->CardCapabilities.ATRLength, 0u);

  auto down = Ioctl(h, IOCTL_SMARTCARD_POWER, U32(SCARD_POWER_DOWN), 0);
  EXPECT_TRUE(down.ok);
  EXPECT_EQ(CardState(reader.ext), CardStateSwallowed);
}

TEST_F(IoControl, SetProtocolChecksAndShortcuts) {
  EXPECT_EQ(Ioctl(h, IOCTL_SMARTCARD_SET_PROTOCOL, U32(ProtocolT0), 3).error,
            static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(Ioctl(h, IOCTL_SMARTCARD_SET_PROTOCOL, U32(ProtocolT0), 4).error, static_cast<DWORD>(ERROR_BAD_COMMAND));
  reader.sim->InsertCard(vqsim::T0Card());
  ASSERT_TRUE(Eventually([&] { return CardState(reader.ext) == CardStateSwallowed; }));
  EXPECT_EQ(Ioctl(h, IOCTL_SMARTCARD_SET_PROTOCOL, U32(ProtocolRaw), 4).error,
            static_cast<DWORD>(ERROR_UNRECOGNIZED_MEDIA));
  ASSERT_TRUE(Ioctl(h, IOCTL_SMARTCARD_POWER, U32(SCARD_COLD_RESET), 64).ok);
  auto set = Ioctl(h, IOCTL_SMARTCARD_SET_PROTOCOL, U32(ProtocolT0 | ProtocolT1), 4);
  ASSERT_TRUE(set.ok) << set.error;
  EXPECT_EQ(set.Value(), ProtocolT0);
  EXPECT_EQ(CardState(reader.ext), CardStateSpecific);

  reader.sim->ClearReceived();
  auto again = Ioctl(h, IOCTL_SMARTCARD_SET_PROTOCOL, U32(ProtocolT0), 4);
  EXPECT_TRUE(again.ok);
  EXPECT_EQ(again.returned, 0u);
  EXPECT_TRUE(reader.sim->Received().empty()) << "nothing is sent for the protocol in force";

  // No protocol in common with the card: negotiable again, no protocol in force.
  auto none = Ioctl(h, IOCTL_SMARTCARD_SET_PROTOCOL, U32(ProtocolT1), 4);
  EXPECT_EQ(none.error, static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(CardState(reader.ext), CardStateNegotiable);
  EXPECT_EQ(reader.ext->CardCapabilities.CurrentProtocol, ProtocolNone);

  // Closing keeps the card but not its ATR, and sends nothing.
  ASSERT_TRUE(Ioctl(h, IOCTL_SMARTCARD_SET_PROTOCOL, U32(ProtocolT0), 4).ok);
  reader.sim->ClearReceived();
  EXPECT_TRUE(VQU_Close(h));
  EXPECT_EQ(CardState(reader.ext), CardStateSwallowed);
  EXPECT_EQ(reader.ext->CardCapabilities.ATRLength, 0u);
  EXPECT_TRUE(reader.sim->Received().empty());
}

TEST_F(IoControl, TransmitChecksAndExchanges) {
  reader.sim->InsertCard(vqsim::T1Card());
  ASSERT_TRUE(Eventually([&] { return CardState(reader.ext) == CardStateSwallowed; }));
  ASSERT_TRUE(Ioctl(h, IOCTL_SMARTCARD_POWER, U32(SCARD_COLD_RESET), 64).ok);
  const auto challenge = Request(ProtocolT1, {0x00, 0x84, 0x00, 0x00, 0x08});
  EXPECT_EQ(Ioctl(h, IOCTL_SMARTCARD_TRANSMIT, challenge, 300).error, static_cast<DWORD>(ERROR_BAD_COMMAND))
      << "not yet specific";
  ASSERT_TRUE(Ioctl(h, IOCTL_SMARTCARD_SET_PROTOCOL, U32(ProtocolT1), 4).ok);
  EXPECT_EQ(Ioctl(h, IOCTL_SMARTCARD_TRANSMIT, std::vector<uint8_t>(7, 0), 300).error,
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(Ioctl(h, IOCTL_SMARTCARD_TRANSMIT, Request(ProtocolT0, {0x00, 0x84, 0x00, 0x00, 0x08}), 300).error,
            static_cast<DWORD>(ERROR_BAD_COMMAND));
  auto reply = Ioctl(h, IOCTL_SMARTCARD_TRANSMIT, challenge, 300);
  ASSERT_TRUE(reply.ok) << reply.error;
  ASSERT_EQ(reply.out.size(), 8u + 8u + 2u);
  EXPECT_EQ(reply.out[16], 0x90);
  EXPECT_EQ(reply.out[17], 0x00);

  const CardCapabilities& card = reader.ext->CardCapabilities;
  const std::pair<uint32_t, uint32_t> current[] = {
      {SCARD_ATTR_CURRENT_PROTOCOL_TYPE, ProtocolT1},
      {SCARD_ATTR_CURRENT_IFSC, 254},
      {SCARD_ATTR_CURRENT_IFSD, reader.ext->T1State.IFSD},
      {SCARD_ATTR_CURRENT_EBC_ENCODING, 0},
      {SCARD_ATTR_CURRENT_N, card.N},
      {SCARD_ATTR_CURRENT_W, card.T0.WI},
      {SCARD_ATTR_CURRENT_BWT, card.T1.BWI},
      {SCARD_ATTR_CURRENT_CWT, card.T1.CWI},
  };
  for (auto [tag, value] : current) EXPECT_EQ(Attr(h, tag).Value(), value) << std::hex << tag;
  EXPECT_EQ(Attr(h, SCARD_ATTR_CURRENT_BWT).Value(), 4u) << "the integer, not the time";
  EXPECT_EQ(Attr(h, SCARD_ATTR_ICC_TYPE_PER_ATR, 1).out, std::vector<uint8_t>{1});
}

}  // namespace
}  // namespace cetest
