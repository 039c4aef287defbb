// The entry points when things go wrong: every failure leaves the caller's
// output length at 0, and a reader that can no longer be asked (unplugged,
// its pipe stalled, mute) is reported as failing, not as holding a card.
#include <cstring>
#include <functional>
#include <ostream>

#include "HandlerFixture.h"

namespace {

using namespace mactest;

constexpr DWORD kBadLun = 0x00040000;

// What the reader is like when the entry point is called.
enum class State {
  Powered,    // a T=0 card, powered
  NoCard,     // the card was pulled
  Stalled,    // the reader's bulk pipes stalled
  Unplugged,  // the reader was pulled
  MuteCard,   // a card that never answers its reset
  CardMute,   // a powered T=0 card that stops answering
};

enum class Entry { Capabilities, Power, Transmit, Control };

struct LengthCase {
  const char* name;
  State state;
  Entry entry;
  DWORD lun;
  DWORD arg;       // tag, power action or control code
  DWORD txLength;  // transmit: 0 means no TxBuffer; control: with its 4-byte code
  DWORD rxSize;    // the caller's room, also the length passed in
  RESPONSECODE rc;
};

void PrintTo(const LengthCase& c, std::ostream* os) { *os << c.name; }

class OutputLengthTest : public HandlerTest, public ::testing::WithParamInterface<LengthCase> {
 protected:
  void Prepare(State setup) {
    std::shared_ptr<vqsim::Card> card = setup == State::MuteCard
                                            ? std::shared_ptr<vqsim::Card>(vqsim::MuteCard())
                                            : std::shared_ptr<vqsim::Card>(vqsim::T0Card());
    reader_ = Open(card);
    if (setup != State::MuteCard) PowerUp();
    switch (setup) {
      case State::NoCard: reader_->RemoveCard(); break;
      case State::Stalled: reader_->StallBulk(); break;
      case State::Unplugged: reader_->Unplug(); break;
      case State::CardMute:
        reader_->UpdateFaults([](vqsim::Faults& f) { f.cardMute = 100; });
        break;
      default: break;
    }
  }

  std::shared_ptr<vqsim::SimReader> reader_;
};

TEST_P(OutputLengthTest, FailureLeavesNoOutputLength) {
  const LengthCase& c = GetParam();
  Prepare(c.state);
  std::vector<UCHAR> rx(c.rxSize + 16, 0xEE);
  DWORD length = c.rxSize;
  RESPONSECODE rc = 0;
  switch (c.entry) {
    case Entry::Capabilities:
      rc = IFDHGetCapabilities(c.lun, c.arg, &length, rx.data());
      break;
    case Entry::Power:
      rc = IFDHPowerICC(c.lun, c.arg, rx.data(), &length);
      break;
    case Entry::Transmit: {
      std::vector<UCHAR> tx = Select();
      tx.resize(std::max<size_t>(c.txLength, 1));
      SCARD_IO_HEADER pci{0, 0};
      rc = IFDHTransmitToICC(c.lun, pci, c.txLength ? tx.data() : nullptr, c.txLength, rx.data(),
                             &length, &pci);
      break;
    }
    case Entry::Control: {
      std::vector<UCHAR> tx(std::max<DWORD>(c.txLength, 4), 0xA5);
      std::memcpy(tx.data(), &c.arg, 4);
      rc = IFDHControl(c.lun, tx.data(), c.txLength, rx.data(), &length);
      break;
    }
  }
  EXPECT_EQ(rc, c.rc);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(rx[c.rxSize], 0xEE) << "written past the caller's room";
}

constexpr DWORD kTag = TAG_IFD_SLOTS_NUMBER;
constexpr DWORD kInfo = 0x101, kEscape = 0x100;
const DWORD kSelect = static_cast<DWORD>(Select().size());

INSTANTIATE_TEST_SUITE_P(
    Failures, OutputLengthTest,
    ::testing::Values(
        // IFDHGetCapabilities
        LengthCase{"CapsBadLun", State::Powered, Entry::Capabilities, kBadLun, kTag, 0, 264, 612},
        LengthCase{"CapsEmptySlot", State::Powered, Entry::Capabilities, kLun1, kTag, 0, 264, 612},
        LengthCase{"CapsPresenceStalled", State::Stalled, Entry::Capabilities, kLun0, 0x0300, 0,
                   264, 612},
        LengthCase{"CapsUnknownTag", State::Powered, Entry::Capabilities, kLun0, 0x0160, 0, 264,
                   600},
        LengthCase{"CapsTextTooLong", State::Powered, Entry::Capabilities, kLun0, 0x0100, 0, 4,
                   618},
        // IFDHPowerICC
        LengthCase{"PowerBadLun", State::Powered, Entry::Power, kBadLun, IFD_POWER_UP, 0, 33, 612},
        LengthCase{"PowerEmptySlot", State::Powered, Entry::Power, kLun1, IFD_POWER_UP, 0, 33, 612},
        LengthCase{"PowerStalled", State::Stalled, Entry::Power, kLun0, IFD_POWER_UP, 0, 33, 612},
        LengthCase{"PowerUnplugged", State::Unplugged, Entry::Power, kLun0, IFD_RESET, 0, 33, 612},
        LengthCase{"PowerNoCard", State::NoCard, Entry::Power, kLun0, IFD_POWER_UP, 0, 33, 612},
        LengthCase{"PowerUnknownAction", State::Powered, Entry::Power, kLun0, 503, 0, 33, 614},
        LengthCase{"PowerMuteCard", State::MuteCard, Entry::Power, kLun0, IFD_POWER_UP, 0, 33,
                   608},
        LengthCase{"PowerAtrTooLong", State::Powered, Entry::Power, kLun0, IFD_RESET, 0, 4, 612},
        // IFDHTransmitToICC
        LengthCase{"TransmitBadLun", State::Powered, Entry::Transmit, kBadLun, 0, kSelect, 65548,
                   612},
        LengthCase{"TransmitEmptySlot", State::Powered, Entry::Transmit, kLun1, 0, kSelect, 65548,
                   612},
        LengthCase{"TransmitStalled", State::Stalled, Entry::Transmit, kLun0, 0, kSelect, 65548,
                   612},
        LengthCase{"TransmitUnplugged", State::Unplugged, Entry::Transmit, kLun0, 0, kSelect,
                   65548, 612},
        LengthCase{"TransmitNoCard", State::NoCard, Entry::Transmit, kLun0, 0, kSelect, 65548,
                   616},
        LengthCase{"TransmitNoTxBuffer", State::Powered, Entry::Transmit, kLun0, 0, 0, 65548, 612},
        LengthCase{"TransmitTooLong", State::Powered, Entry::Transmit, kLun0, 0, 1025, 65548, 618},
        LengthCase{"TransmitAnswerTooBig", State::Powered, Entry::Transmit, kLun0, 0, kSelect, 1,
                   618},
        LengthCase{"TransmitCardMute", State::CardMute, Entry::Transmit, kLun0, 0, kSelect, 65548,
                   612},
        // IFDHControl
        LengthCase{"ControlBadLun", State::Powered, Entry::Control, kBadLun, kInfo, 4, 65548, 612},
        LengthCase{"ControlEmptySlot", State::Powered, Entry::Control, kLun1, kInfo, 4, 65548, 612},
        LengthCase{"ControlStalled", State::Stalled, Entry::Control, kLun0, kInfo, 4, 65548, 612},
        LengthCase{"ControlUnplugged", State::Unplugged, Entry::Control, kLun0, kEscape, 8, 65548,
                   612},
        LengthCase{"ControlNoCard", State::NoCard, Entry::Control, kLun0, kInfo, 4, 65548, 616},
        LengthCase{"ControlShortCode", State::Powered, Entry::Control, kLun0, kInfo, 3, 65548, 612},
        LengthCase{"ControlInfoTooSmall", State::Powered, Entry::Control, kLun0, kInfo, 4, 8, 618},
        LengthCase{"ControlEscapeTooLong", State::Powered, Entry::Control, kLun0, kEscape,
                   4 + 1015, 65548, 618},
        LengthCase{"ControlEscapeAnswerTooBig", State::Powered, Entry::Control, kLun0, kEscape,
                   4 + 3, 2, 612},
        LengthCase{"ControlUnknownCode", State::Powered, Entry::Control, kLun0, 0x102, 4, 65548,
                   612}),
    [](const auto& info) { return std::string(info.param.name); });

// A reader that can no longer be asked: presence fails (612) within the poll
// that finds it, the card and its ATR are forgotten, and every later call
// fails at once. The channel then closes cleanly and a reader plugged in
// again gets a working channel.
struct BrokenCase {
  const char* name;
  std::function<void(vqsim::SimReader&)> breakIt;
  uint64_t firstPollMs;  // what the poll that finds it may take (virtual clock)
};

void PrintTo(const BrokenCase& c, std::ostream* os) { *os << c.name; }

class BrokenReaderTest : public HandlerTest, public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(BrokenReaderTest, PresenceReportsTheFailureAndTheChannelRecoversOnReopen) {
  const BrokenCase& c = GetParam();
  auto reader = Open(vqsim::T1Card());
  PowerUp();
  ASSERT_EQ(IFDHICCPresence(kLun0), IFD_ICC_PRESENT);
  c.breakIt(*reader);

  uint64_t start = vqiokit::NowMs();
  EXPECT_EQ(IFDHICCPresence(kLun0), IFD_COMMUNICATION_ERROR);
  EXPECT_EQ(vqiokit::NowMs() - start, c.firstPollMs);
  UCHAR value[264];
  DWORD length = sizeof value;
  ASSERT_EQ(IFDHGetCapabilities(kLun0, TAG_IFD_ATR, &length, value), IFD_SUCCESS);
  EXPECT_EQ(length, 0u) << "the ATR is forgotten";

  // Later polls and calls fail without waiting, even when the reader would
  // answer again: the transport stays broken until the channel is closed.
  reader->UpdateFaults([](vqsim::Faults& f) { f.muteReader = false; });
  start = vqiokit::NowMs();
  for (int poll = 0; poll < 3; ++poll) EXPECT_EQ(IFDHICCPresence(kLun0), IFD_COMMUNICATION_ERROR);
  std::vector<uint8_t> answer;
  EXPECT_EQ(Transmit(Select(), &answer), IFD_COMMUNICATION_ERROR);
  UCHAR control[4] = {0x01, 0x01, 0, 0};
  length = sizeof value;
  EXPECT_EQ(IFDHControl(kLun0, control, sizeof control, value, &length), IFD_COMMUNICATION_ERROR);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(vqiokit::NowMs(), start);

  EXPECT_EQ(IFDHCloseChannel(kLun0), IFD_SUCCESS);
  AddReader(vqsim::T1Card(), 0x14200000);
  ASSERT_EQ(IFDHCreateChannel(kLun0, 1), IFD_SUCCESS);
  EXPECT_EQ(IFDHICCPresence(kLun0), IFD_ICC_PRESENT);
  EXPECT_EQ(PowerUp(), vqsim::atr::T1Lrc());
}

INSTANTIATE_TEST_SUITE_P(
    Readers, BrokenReaderTest,
    ::testing::Values(
        BrokenCase{"Unplugged", [](vqsim::SimReader& r) { r.Unplug(); }, 0},
        BrokenCase{"Stalled", [](vqsim::SimReader& r) { r.StallBulk(); }, 0},
        // Two waits of the status time-out, then the transport gives up.
        BrokenCase{"Mute",
                   [](vqsim::SimReader& r) {
                     r.UpdateFaults([](vqsim::Faults& f) { f.muteReader = true; });
                   },
                   2 * 2000}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
