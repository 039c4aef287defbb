// The IFD handler entry points against an in-process simulated reader.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ostream>

#include "HandlerFixture.h"

namespace {

using namespace mactest;

uint32_t U32(const UCHAR* bytes) {
  uint32_t value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

TEST_F(HandlerTest, LunBeyondTheTableAndEmptySlotsAreRefused) {
  AddReader(vqsim::T0Card());
  ASSERT_EQ(IFDHCreateChannel(kLun0, 1), IFD_SUCCESS);
  for (DWORD lun : {DWORD{0x00040000}, kLun1, DWORD{0x00030000}}) {
    SCOPED_TRACE(lun);
    UCHAR buffer[264];
    DWORD length = sizeof buffer;
    SCARD_IO_HEADER pci{1, 0};
    UCHAR tx[5] = {0x00, 0x84, 0x00, 0x00, 0x08};
    UCHAR control[4] = {0x01, 0x01, 0, 0};
    if (lun == 0x00040000) {
      EXPECT_EQ(IFDHCreateChannel(lun, 1), IFD_COMMUNICATION_ERROR);
    }
    EXPECT_EQ(IFDHCloseChannel(lun), IFD_COMMUNICATION_ERROR);
    EXPECT_EQ(IFDHGetCapabilities(lun, TAG_IFD_SLOTS_NUMBER, &length, buffer),
              IFD_COMMUNICATION_ERROR);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(IFDHSetProtocolParameters(lun, 1, 0, 0, 0, 0), IFD_COMMUNICATION_ERROR);
    length = sizeof buffer;
    EXPECT_EQ(IFDHPowerICC(lun, IFD_POWER_UP, buffer, &length), IFD_COMMUNICATION_ERROR);
    length = sizeof buffer;
    EXPECT_EQ(IFDHTransmitToICC(lun, pci, tx, sizeof tx, buffer, &length, &pci),
              IFD_COMMUNICATION_ERROR);
    length = sizeof buffer;
    EXPECT_EQ(IFDHControl(lun, control, sizeof control, buffer, &length),
              IFD_COMMUNICATION_ERROR);
    EXPECT_EQ(IFDHICCPresence(lun), IFD_COMMUNICATION_ERROR);
    EXPECT_EQ(IFDHSetCapabilities(lun, TAG_IFD_ATR, 0, buffer), IFD_ERROR_TAG);
  }
}

TEST_F(HandlerTest, SetCapabilitiesRefusesEveryTag) {
  Open(vqsim::T0Card());
  UCHAR value[4] = {1, 0, 0, 0};
  for (DWORD tag : {DWORD{0x0100}, DWORD{TAG_IFD_SLOTNUM}, DWORD{0x0FAE}, DWORD{0x0303}})
    EXPECT_EQ(IFDHSetCapabilities(kLun0, tag, sizeof value, value), IFD_ERROR_TAG) << tag;
}

struct TagCase {
  DWORD tag;
  DWORD size;        // caller's buffer size
  RESPONSECODE rc;
  DWORD length;      // Length afterwards
  std::vector<uint8_t> bytes;  // the first bytes of Value afterwards
};

void PrintTo(const TagCase& tc, std::ostream* os) {
  *os << "tag 0x" << std::hex << tc.tag << std::dec << ", buffer " << tc.size;
}

std::string TagCaseName(const ::testing::TestParamInfo<TagCase>& info) {
  char name[40];
  std::snprintf(name, sizeof name, "Tag%04lX_Size%lu", static_cast<unsigned long>(info.param.tag),
                static_cast<unsigned long>(info.param.size));
  return name;
}

std::vector<uint8_t> Le32(uint32_t v) {
  return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

std::vector<uint8_t> Text(const char* s) { return std::vector<uint8_t>(s, s + strlen(s) + 1); }

class CapabilityTest : public HandlerTest, public ::testing::WithParamInterface<TagCase> {};

TEST_P(CapabilityTest, TagTable) {
  Open(vqsim::T0Card());
  const TagCase& tc = GetParam();
  std::vector<UCHAR> value(264, 0xEE);
  DWORD length = tc.size;
  EXPECT_EQ(IFDHGetCapabilities(kLun0, tc.tag, &length, value.data()), tc.rc);
  EXPECT_EQ(length, tc.length);
  EXPECT_EQ(std::vector<uint8_t>(value.begin(), value.begin() + tc.bytes.size()), tc.bytes);
  if (tc.size < value.size()) {
    EXPECT_EQ(value[tc.size], 0xEE) << "written past the buffer";
  }
}

const std::vector<uint8_t> kUntouched{0xEE};

INSTANTIATE_TEST_SUITE_P(
    Tags, CapabilityTest,
    ::testing::Values(
        TagCase{0x0100, 264, IFD_SUCCESS, 7, Text("TERVANE")},
        TagCase{0x0101, 264, IFD_SUCCESS, 5, Text("VQUSB")},
        TagCase{0x0103, 264, IFD_SUCCESS, 5, Text("VQUSB")},
        TagCase{0x0102, 264, IFD_SUCCESS, 4, Le32(1)},
        TagCase{0x0110, 264, IFD_SUCCESS, 4, Le32(0)},
        TagCase{0x0120, 264, IFD_SUCCESS, 4, Le32(3)},
        TagCase{0x0121, 264, IFD_SUCCESS, 4, Le32(9600)},
        TagCase{0x0124, 264, IFD_SUCCESS, 4, Le32(9600)},
        TagCase{0x0125, 264, IFD_SUCCESS, 4, Le32(240)},
        TagCase{0x0126, 264, IFD_SUCCESS, 4, Le32(16)},
        TagCase{0x0131, 264, IFD_SUCCESS, 4, Le32(0)},
        TagCase{0x0150, 264, IFD_SUCCESS, 4, Le32(0)},
        TagCase{0x0185, 264, IFD_SUCCESS, 0, kUntouched},
        TagCase{0x01F0, 264, IFD_SUCCESS, 0, kUntouched},
        TagCase{0x0160, 264, IFD_ERROR_TAG, 0, kUntouched},
        TagCase{0x0104, 264, IFD_ERROR_TAG, 0, kUntouched},
        TagCase{0x01F1, 264, IFD_ERROR_TAG, 0, kUntouched},
        TagCase{0x0201, 264, IFD_SUCCESS, 4, Le32(0)},
        TagCase{0x0202, 264, IFD_ERROR_TAG, 0, kUntouched},
        TagCase{0x0300, 264, IFD_SUCCESS, 1, Le32(4)},  // card present
        TagCase{0x0301, 1, IFD_SUCCESS, 1, {4}},
        TagCase{0x0303, 264, IFD_SUCCESS, 0, kUntouched},  // no ATR before power
        TagCase{0x0304, 264, IFD_SUCCESS, 0, kUntouched},
        TagCase{0x0305, 264, IFD_ERROR_TAG, 0, kUntouched},
        TagCase{0x0FAE, 1, IFD_SUCCESS, 1, {1}},
        TagCase{0x0FAE, 264, IFD_SUCCESS, 1, Le32(1)},
        TagCase{0x0FAF, 1, IFD_SUCCESS, 1, {4}},
        TagCase{0x0FAF, 4, IFD_SUCCESS, 1, Le32(4)},
        TagCase{0x0FB3, 264, IFD_SUCCESS, 0, kUntouched},
        TagCase{0x0500, 264, IFD_SUCCESS, 0, kUntouched},
        TagCase{0x7F0100, 264, IFD_SUCCESS, 7, Text("TERVANE")},  // higher bits ignored
        // What does not fit the caller's buffer is not written.
        TagCase{0x0100, 7, IFD_ERROR_INSUFFICIENT_BUFFER, 0, kUntouched},
        TagCase{0x0102, 3, IFD_ERROR_INSUFFICIENT_BUFFER, 0, kUntouched},
        TagCase{0x0FAE, 0, IFD_ERROR_INSUFFICIENT_BUFFER, 0, kUntouched}),
    TagCaseName);

TEST_F(HandlerTest, PowerUpGivesTheCardsAtrAndSetsItsProtocol) {
  auto card = vqsim::T0Card();
  Open(card);
  std::vector<uint8_t> atr = PowerUp();
  EXPECT_EQ(atr, card->DirectAtr());

  UCHAR value[264];
  DWORD length = sizeof value;
  ASSERT_EQ(IFDHGetCapabilities(kLun0, TAG_IFD_ATR, &length, value), IFD_SUCCESS);
  EXPECT_EQ(std::vector<uint8_t>(value, value + length), atr);
  length = sizeof value;
  ASSERT_EQ(IFDHGetCapabilities(kLun0, 0x0201, &length, value), IFD_SUCCESS);
  EXPECT_EQ(U32(value), 1u);

  std::vector<uint8_t> answer;
  EXPECT_EQ(Transmit(Select(), &answer), IFD_SUCCESS);
  EXPECT_EQ(answer, kOk);
  EXPECT_EQ(lastRecvProtocol_, 1u);
  EXPECT_EQ(Transmit({0x00, 0x84, 0x00, 0x00, 0x08}, &answer), IFD_SUCCESS);
  EXPECT_EQ(answer.size(), 10u);
}

TEST_F(HandlerTest, ResetAnswersTheAtrAgain) {
  auto card = vqsim::T1Card();
  Open(card);
  PowerUp();
  int resets = card->ResetCount();
  UCHAR atr[MAX_ATR_SIZE];
  DWORD length = sizeof atr;
  ASSERT_EQ(IFDHPowerICC(kLun0, IFD_RESET, atr, &length), IFD_SUCCESS);
  EXPECT_EQ(std::vector<uint8_t>(atr, atr + length), card->DirectAtr());
  EXPECT_GT(card->ResetCount(), resets);
  std::vector<uint8_t> answer;
  EXPECT_EQ(Transmit(Select(), &answer), IFD_SUCCESS);
  EXPECT_EQ(answer, kOk);
}

TEST_F(HandlerTest, FixedAtrCardIsPoweredWithoutProtocolAndRefusesTransmit) {
  auto reader = Open(vqsim::FixedAtrCard(3));
  std::vector<uint8_t> atr = PowerUp();
  EXPECT_EQ(atr, vqsim::atr::Fixed());
  std::vector<uint8_t> types = reader->ReceivedTypes();
  EXPECT_EQ(std::find(types.begin(), types.end(), 0x61), types.end());  // no parameters set
  std::vector<uint8_t> answer;
  EXPECT_EQ(Transmit(Select(), &answer), IFD_COMMUNICATION_ERROR);
}

TEST_F(HandlerTest, AtrLongerThanTheCallersBufferIsNotCopied) {
  Open(vqsim::T0Card());
  UCHAR atr[4] = {};
  DWORD length = sizeof atr;
  EXPECT_EQ(IFDHPowerICC(kLun0, IFD_POWER_UP, atr, &length), IFD_COMMUNICATION_ERROR);
  EXPECT_EQ(length, 0u);
}

TEST_F(HandlerTest, UnknownPowerActionIsRefusedAfterPollAndClear) {
  auto reader = Open(vqsim::T0Card());
  PowerUp();
  reader->ClearReceived();
  UCHAR atr[MAX_ATR_SIZE];
  DWORD length = sizeof atr;
  EXPECT_EQ(IFDHPowerICC(kLun0, 503, atr, &length), IFD_NOT_SUPPORTED);
  EXPECT_EQ(reader->ReceivedTypes(), std::vector<uint8_t>{0x65});
  length = sizeof atr;
  ASSERT_EQ(IFDHGetCapabilities(kLun0, TAG_IFD_ATR, &length, atr), IFD_SUCCESS);
  EXPECT_EQ(length, 0u);  // capabilities cleared
}

TEST_F(HandlerTest, PowerDownAnswersAnEmptyAtr) {
  auto reader = Open(vqsim::T0Card());
  PowerUp();
  UCHAR atr[MAX_ATR_SIZE] = {0x3B};
  DWORD length = sizeof atr;
  EXPECT_EQ(IFDHPowerICC(kLun0, IFD_POWER_DOWN, atr, &length), IFD_SUCCESS);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(atr[0], 0);
  EXPECT_FALSE(reader->CardPowered());
}

TEST_F(HandlerTest, PowerOnAnEmptySlotIsACommunicationError) {
  auto reader = Open(nullptr);
  UCHAR atr[MAX_ATR_SIZE];
  DWORD length = sizeof atr;
  EXPECT_EQ(IFDHPowerICC(kLun0, IFD_POWER_UP, atr, &length), IFD_COMMUNICATION_ERROR);
  EXPECT_EQ(length, 0u);
}

TEST_F(HandlerTest, MuteCardFailsThePowerUpTwiceAsAPowerActionError) {
  auto reader = Open(vqsim::MuteCard());
  UCHAR atr[MAX_ATR_SIZE];
  DWORD length = sizeof atr;
  EXPECT_EQ(IFDHPowerICC(kLun0, IFD_POWER_UP, atr, &length), IFD_ERROR_POWER_ACTION);
  EXPECT_EQ(length, 0u);
  std::vector<uint8_t> types = reader->ReceivedTypes();
  EXPECT_EQ(std::count(types.begin(), types.end(), 0x62), 2) << "one power-on and one more";
}

TEST_F(HandlerTest, ProtocolParametersResetTheCardBeforeLookingAtTheFlags) {
  auto card = vqsim::T0Card();
  auto reader = Open(card);
  PowerUp();
  int resets = card->ResetCount();
  reader->ClearReceived();
  EXPECT_EQ(IFDHSetProtocolParameters(kLun0, SCARD_PROTOCOL_T0, 2, 0, 0, 0),
            IFD_PROTOCOL_NOT_SUPPORTED);
  EXPECT_EQ(card->ResetCount(), resets + 1);
  std::vector<uint8_t> types = reader->ReceivedTypes();
  EXPECT_NE(std::find(types.begin(), types.end(), 0x62), types.end());
  EXPECT_EQ(std::find(types.begin(), types.end(), 0x61), types.end());  // no parameters set

  // A protocol number above T=1 is refused before anything is sent.
  reader->ClearReceived();
  EXPECT_EQ(IFDHSetProtocolParameters(kLun0, 3, 0, 0, 0, 0), IFD_PROTOCOL_NOT_SUPPORTED);
  EXPECT_TRUE(reader->ReceivedTypes().empty());

  // As the daemon asks it: the card is reset and takes T=0.
  EXPECT_EQ(IFDHSetProtocolParameters(kLun0, SCARD_PROTOCOL_T0, 0, 0, 0, 0), IFD_SUCCESS);
  std::vector<uint8_t> answer;
  EXPECT_EQ(Transmit(Select(), &answer), IFD_SUCCESS);
  EXPECT_EQ(answer, kOk);
}

// The caller's PPS1 is offered whatever the flags say; 0 offers 0x11.
struct PpsCase {
  UCHAR flags;
  UCHAR pts1;
  bool readerRefusesParameters;
  RESPONSECODE rc;
  uint8_t fidiInForce;
};

void PrintTo(const PpsCase& pc, std::ostream* os) {
  *os << "flags " << int(pc.flags) << ", PTS1 0x" << std::hex << int(pc.pts1) << std::dec
      << (pc.readerRefusesParameters ? ", parameters refused" : "");
}

class ProtocolParameterTest : public HandlerTest, public ::testing::WithParamInterface<PpsCase> {};

TEST_P(ProtocolParameterTest, OfferedSpeedAndResult) {
  const PpsCase& pc = GetParam();
  auto card = vqsim::T1Card();  // TA1 0x13
  auto reader = Open(card);
  PowerUp();
  reader->UpdateFaults(
      [&](vqsim::Faults& f) { f.failSetParameters = pc.readerRefusesParameters; });
  EXPECT_EQ(IFDHSetProtocolParameters(kLun0, SCARD_PROTOCOL_T1, pc.flags, pc.pts1, 0, 0), pc.rc);
  EXPECT_EQ(card->FiDiInForce(), pc.fidiInForce);
}

INSTANTIATE_TEST_SUITE_P(Pps, ProtocolParameterTest,
                         ::testing::Values(PpsCase{0, 0x00, false, IFD_SUCCESS, 0x11},
                                           PpsCase{IFD_NEGOTIATE_PTS1, 0x13, false, IFD_SUCCESS, 0x13},
                                           PpsCase{0, 0x12, false, IFD_SUCCESS, 0x12},
                                           PpsCase{0, 0x00, true, IFD_ERROR_PTS_FAILURE, 0x11}));

TEST_F(HandlerTest, T1CardCarriesLongCommandsAndAnswers) {
  auto card = vqsim::T1Card();
  Open(card);
  EXPECT_EQ(PowerUp(), card->DirectAtr());
  ASSERT_EQ(IFDHSetProtocolParameters(kLun0, SCARD_PROTOCOL_T1, 0, 0, 0, 0), IFD_SUCCESS);

  std::vector<uint8_t> echo{0x80, 0xEE, 0x00, 0x00, 250};
  for (int i = 0; i < 250; ++i) echo.push_back(uint8_t(i * 7));
  ASSERT_EQ(echo.size(), 255u);
  std::vector<uint8_t> answer;
  ASSERT_EQ(Transmit(echo, &answer), IFD_SUCCESS);
  std::vector<uint8_t> expected(echo.begin() + 5, echo.end());
  expected.insert(expected.end(), kOk.begin(), kOk.end());
  EXPECT_EQ(answer, expected);
  EXPECT_EQ(lastRecvProtocol_, 2u);

  ASSERT_EQ(Transmit({0x00, 0x84, 0x00, 0x00, 0x00}, &answer), IFD_SUCCESS);
  EXPECT_EQ(answer.size(), 258u);
}

TEST_F(HandlerTest, TransmitKeepsToItsBuffers) {
  auto reader = Open(vqsim::T0Card());
  PowerUp();
  reader->ClearReceived();
  std::vector<uint8_t> answer;
  // A request beyond the handler's 1024 data bytes is not sent.
  std::vector<uint8_t> big(1025, 0);
  EXPECT_EQ(Transmit(big, &answer), IFD_ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(reader->ReceivedTypes(), std::vector<uint8_t>{0x65});
  // An answer the caller's buffer cannot hold is not copied.
  EXPECT_EQ(Transmit(Select(), &answer, 1), IFD_ERROR_INSUFFICIENT_BUFFER);
  EXPECT_TRUE(answer.empty());
  // Missing buffers.
  DWORD length = 10;
  SCARD_IO_HEADER pci{1, 0};
  UCHAR rx[10];
  EXPECT_EQ(IFDHTransmitToICC(kLun0, pci, nullptr, 5, rx, &length, &pci), IFD_COMMUNICATION_ERROR);
  EXPECT_EQ(IFDHTransmitToICC(kLun0, pci, rx, 5, nullptr, &length, &pci), IFD_COMMUNICATION_ERROR);
  EXPECT_EQ(IFDHTransmitToICC(kLun0, pci, rx, 5, rx, nullptr, &pci), IFD_COMMUNICATION_ERROR);
}

TEST_F(HandlerTest, PulledCardIsSeenByPresenceTransmitAndControl) {
  auto reader = Open(vqsim::T0Card());
  PowerUp();
  EXPECT_EQ(IFDHICCPresence(kLun0), IFD_ICC_PRESENT);
  reader->RemoveCard();
  std::vector<uint8_t> answer;
  EXPECT_EQ(Transmit(Select(), &answer), IFD_ICC_NOT_PRESENT);
  UCHAR value[264];
  DWORD length = sizeof value;
  ASSERT_EQ(IFDHGetCapabilities(kLun0, TAG_IFD_ATR, &length, value), IFD_SUCCESS);
  EXPECT_EQ(length, 0u);  // the ATR is forgotten
  length = sizeof value;
  ASSERT_EQ(IFDHGetCapabilities(kLun0, 0x0201, &length, value), IFD_SUCCESS);
  EXPECT_EQ(U32(value), 0u);
  UCHAR control[4] = {0x01, 0x01, 0, 0};
  length = sizeof value;
  EXPECT_EQ(IFDHControl(kLun0, control, 4, value, &length), IFD_ICC_NOT_PRESENT);
  EXPECT_EQ(IFDHICCPresence(kLun0), IFD_ICC_NOT_PRESENT);

  reader->InsertCard(vqsim::T1Card());
  EXPECT_EQ(IFDHICCPresence(kLun0), IFD_ICC_PRESENT);
  EXPECT_EQ(PowerUp(), vqsim::atr::T1Lrc());
}

TEST_F(HandlerTest, ControlAnswersReaderInformationWithoutReaderTraffic) {
  auto reader = Open(vqsim::T0Card());
  UCHAR tx[8] = {0x01, 0x01, 0x00, 0x00};
  UCHAR rx[64];
  DWORD length = sizeof rx;
  EXPECT_EQ(IFDHControl(kLun0, tx, 3, rx, &length), IFD_COMMUNICATION_ERROR);

  reader->ClearReceived();
  length = sizeof rx;
  ASSERT_EQ(IFDHControl(kLun0, tx, 4, rx, &length), IFD_SUCCESS);
  EXPECT_EQ(length, 16u);
  EXPECT_EQ(std::vector<uint8_t>(rx, rx + 16), vqsim::InfoBlock("VQ480T", "0100"));
  EXPECT_EQ(reader->ReceivedTypes(), std::vector<uint8_t>{0x65});  // the slot status only

  // Fewer than 16 bytes of room: nothing is written.
  std::memset(rx, 0xEE, sizeof rx);
  length = 8;
  EXPECT_EQ(IFDHControl(kLun0, tx, 4, rx, &length), IFD_ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(rx[0], 0xEE);
}

TEST_F(HandlerTest, ControlEscapeAndUnknownCodes) {
  auto reader = Open(vqsim::T0Card());
  UCHAR tx[7] = {0x00, 0x01, 0x00, 0x00, 0xA1, 0xA2, 0xA3};  // 0x100, 3 bytes
  UCHAR rx[64];
  DWORD length = sizeof rx;
  ASSERT_EQ(IFDHControl(kLun0, tx, sizeof tx, rx, &length), IFD_SUCCESS);
  EXPECT_EQ(std::vector<uint8_t>(rx, rx + length), (std::vector<uint8_t>{0xA1, 0xA2, 0xA3}));

  // The reader's answer does not fit the caller's buffer.
  length = 2;
  EXPECT_EQ(IFDHControl(kLun0, tx, sizeof tx, rx, &length), IFD_COMMUNICATION_ERROR);

  UCHAR other[4] = {0x02, 0x01, 0x00, 0x00};
  length = sizeof rx;
  EXPECT_EQ(IFDHControl(kLun0, other, 4, rx, &length), IFD_COMMUNICATION_ERROR);
}

// The escape request fills the send buffer behind the frame header: 1014
// bytes reach the reader and come back, one more is refused unsent.
TEST_F(HandlerTest, EscapeRequestOfTheDocumentedMaximumAndOneMore) {
  auto reader = Open(vqsim::T0Card());
  for (DWORD size : {DWORD{1014}, DWORD{1015}}) {
    SCOPED_TRACE(size);
    std::vector<UCHAR> tx(4 + size);
    tx[1] = 0x01;  // 0x100
    for (DWORD i = 0; i < size; ++i) tx[4 + i] = static_cast<UCHAR>(i * 7);
    std::vector<UCHAR> rx(2048);
    DWORD length = rx.size();
    reader->ClearReceived();
    RESPONSECODE rc = IFDHControl(kLun0, tx.data(), tx.size(), rx.data(), &length);
    if (size == 1014) {
      ASSERT_EQ(rc, IFD_SUCCESS);
      EXPECT_EQ(std::vector<UCHAR>(rx.begin(), rx.begin() + length),
                std::vector<UCHAR>(tx.begin() + 4, tx.end()));
      EXPECT_EQ(reader->ReceivedTypes(), (std::vector<uint8_t>{0x65, 0x6B}));
    } else {
      EXPECT_EQ(rc, IFD_ERROR_INSUFFICIENT_BUFFER);
      EXPECT_EQ(length, 0u);
      EXPECT_EQ(reader->ReceivedTypes(), std::vector<uint8_t>{0x65});
    }
  }
}

TEST_F(HandlerTest, TwoReadersOnTwoLocationIds) {
  auto first = AddReader(vqsim::T0Card(), 0x1000);
  auto second = AddReader(vqsim::T1Card(), 0x2000);
  ASSERT_EQ(IFDHCreateChannel(kLun0, 1), IFD_SUCCESS);
  ASSERT_EQ(IFDHCreateChannel(kLun1, 2), IFD_SUCCESS);
  EXPECT_EQ(g_pSmartcardExtension[0]->DeviceData->LocationId, 0x1000u);
  EXPECT_EQ(g_pSmartcardExtension[1]->DeviceData->LocationId, 0x2000u);
  EXPECT_EQ(PowerUp(kLun0), vqsim::atr::T0());
  EXPECT_EQ(PowerUp(kLun1), vqsim::atr::T1Lrc());

  // No third reader: the channel is refused and its slot stays empty.
  EXPECT_EQ(IFDHCreateChannel(0x00020000, 3), IFD_COMMUNICATION_ERROR);
  EXPECT_EQ(g_pSmartcardExtension[2], nullptr);
  // A channel that is open is not created again.
  EXPECT_EQ(IFDHCreateChannel(kLun0, 1), IFD_COMMUNICATION_ERROR);
  EXPECT_EQ(IFDHICCPresence(kLun0), IFD_ICC_PRESENT);
}

TEST_F(HandlerTest, ChannelCreationLeavesTheReaderPoweredOffWithShortReadTimeout) {
  auto reader = AddReader(vqsim::T0Card());
  ASSERT_EQ(IFDHCreateChannel(kLun0, 1), IFD_SUCCESS);
  EXPECT_EQ(reader->ReceivedTypes(), (std::vector<uint8_t>{0x60, 0x63}));
  SmartcardExtension* ext = g_pSmartcardExtension[0];
  EXPECT_EQ(ext->ReaderCapabilities.CurrentState, CardStateSwallowed);
  EXPECT_EQ(ext->DeviceData->ReadTimeout, 2000u);
  EXPECT_EQ(ext->DeviceData->ReaderIndex, 0);
  EXPECT_EQ(ext->DeviceData->FirmwareVersion, 256u);
  EXPECT_STREQ(reinterpret_cast<char*>(ext->VendorAttributes.VendorName.Buffer), "TERVANE");
  EXPECT_EQ(ext->VendorAttributes.IfdType.Length, 6);
}

TEST_F(HandlerTest, CloseChannelReleasesTheDevice) {
  int id = 0;
  AddReader(vqsim::T0Card(), 0x1000, &id);
  ASSERT_EQ(IFDHCreateChannel(kLun0, 1), IFD_SUCCESS);
  EXPECT_TRUE(vqiokit::Stats(id).open);
  EXPECT_EQ(IFDHCloseChannel(kLun0), IFD_SUCCESS);
  EXPECT_EQ(g_pSmartcardExtension[0], nullptr);
  EXPECT_FALSE(vqiokit::Stats(id).open);
  EXPECT_FALSE(vqiokit::Stats(id).interfaceOpen);
  // The device is free for the next channel.
  EXPECT_EQ(IFDHCreateChannel(kLun1, 1), IFD_SUCCESS);
}

TEST_F(HandlerTest, FailedCreationLeavesNothingBehind) {
  EXPECT_EQ(IFDHCreateChannel(kLun0, 1), IFD_COMMUNICATION_ERROR);  // no reader
  int id = 0;
  auto reader = AddReader(vqsim::T0Card(), 0x1000, &id);
  reader->UpdateFaults([](vqsim::Faults& f) { f.muteReader = true; });
  uint64_t start = vqiokit::NowMs();
  EXPECT_EQ(IFDHCreateChannel(kLun0, 1), IFD_COMMUNICATION_ERROR);
  EXPECT_EQ(vqiokit::NowMs() - start, 2u * 2000u);  // two waits of the status time-out
  EXPECT_EQ(g_pSmartcardExtension[0], nullptr);
  EXPECT_FALSE(vqiokit::Stats(id).open);
}

TEST_F(HandlerTest, MuteReaderBreaksTheChannelAfterTwoTimeOuts) {
  int id = 0;
  auto reader = AddReader(vqsim::T0Card(), 0x1000, &id);
  ASSERT_EQ(IFDHCreateChannel(kLun0, 1), IFD_SUCCESS);
  PowerUp();
  reader->UpdateFaults([](vqsim::Faults& f) { f.muteReader = true; });
  uint64_t start = vqiokit::NowMs();
  int resets = vqiokit::Stats(id).resets;
  EXPECT_EQ(IFDHICCPresence(kLun0), IFD_COMMUNICATION_ERROR);
  EXPECT_EQ(vqiokit::NowMs() - start, 2u * 2000u);
  EXPECT_EQ(vqiokit::Stats(id).resets, resets + 1);
  // Broken: the next calls fail at once, even with the reader answering again.
  reader->UpdateFaults([](vqsim::Faults& f) { f.muteReader = false; });
  std::vector<uint8_t> answer;
  EXPECT_EQ(Transmit(Select(), &answer), IFD_COMMUNICATION_ERROR);
  EXPECT_EQ(vqiokit::NowMs() - start, 2u * 2000u);
}

TEST_F(HandlerTest, BusyReaderIsSeizedAtChannelCreation) {
  int id = 0;
  auto reader = AddReader(vqsim::T0Card(), 0x1000, &id);
  vqiokit::SetBusy(id, true);
  uint64_t start = vqiokit::NowMs();
  ASSERT_EQ(IFDHCreateChannel(kLun0, 1), IFD_SUCCESS);
  EXPECT_EQ(vqiokit::Stats(id).seizes, 1);
  EXPECT_EQ(vqiokit::Stats(id).seizedAtMs - start, 1000u);
}

struct TimeoutCase {
  uint8_t type;
  uint32_t protocol;
  uint32_t timeout;
};

void PrintTo(const TimeoutCase& tc, std::ostream* os) {
  *os << "type 0x" << std::hex << int(tc.type) << std::dec << ", protocol " << tc.protocol;
}

class ReadTimeoutTest : public ::testing::TestWithParam<TimeoutCase> {};

TEST_P(ReadTimeoutTest, ByFrameAndProtocol) {
  SmartcardExtension ext{};
  ReaderDeviceData dd{};
  uint8_t send[16] = {GetParam().type};
  ext.DeviceData = &dd;
  ext.SendBuffer = send;
  ext.CardCapabilities.CurrentProtocol = GetParam().protocol;
  CCID_SetReadTimout(&ext);
  EXPECT_EQ(dd.ReadTimeout, GetParam().timeout);
}

INSTANTIATE_TEST_SUITE_P(Frames, ReadTimeoutTest,
                         ::testing::Values(TimeoutCase{0x65, 1, 2000}, TimeoutCase{0x65, 2, 2000},
                                           TimeoutCase{0x6F, 0, 2000}, TimeoutCase{0x6F, 1, 60000},
                                           TimeoutCase{0x6F, 2, 60000}, TimeoutCase{0x6F, 4, 2000},
                                           TimeoutCase{0x63, 16, 2000}));

}  // namespace
