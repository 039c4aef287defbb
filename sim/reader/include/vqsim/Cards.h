// Card models: a T=0 card answering at APDU level, a T=1 card answering at
// block level, and the special cards the reader family meets.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <span>
#include <vector>

#include "vqsim/Card.h"
#include "vqsim/Wire.h"

namespace vqsim {

// Default ATRs, as the card sends them in direct form.
namespace atr {
std::vector<uint8_t> T0();        // T=0, TA1 0x13
std::vector<uint8_t> T1Lrc();     // T=1, TA1 0x13, IFSC 254, LRC
std::vector<uint8_t> T1Crc();     // T=1, TA1 0x13, IFSC 254, CRC
std::vector<uint8_t> Inverse();   // T=0 card of inverse convention, TS 0x3F (direct form)
std::vector<uint8_t> Tb1();       // T=0, TB1 0x25
std::vector<uint8_t> Delayed();   // 3B E2 00 00 40 20 99 01
// T=1 named in TD1 only, TA2 0x81 (specific mode, T=1): no T=1 level, so
// IFSC 32, CWI 13, BWI 4 and LRC by default.
std::vector<uint8_t> T1InTd1Only();  // 3B 90 13 11 81 13
std::vector<uint8_t> Fixed();     // the 24-byte ATR the host assumes for card types 2 and 3
// Appends the check byte TCK (XOR of T0 up to the last byte).
std::vector<uint8_t> WithTck(std::vector<uint8_t> bytes);
}  // namespace atr

// What a card's ATR says, read the way a card reader would.
struct AtrInfo {
  bool valid = false;
  uint8_t ta1 = 0x11;        // Fi/Di indices
  bool hasTb1 = false;
  uint8_t tb1 = 0;
  uint8_t tc1 = 0;
  bool hasTa2 = false;       // specific mode
  uint32_t protocols = 0;    // bit T for every T named (T=0 when no TD1)
  uint8_t ifsc = 32;         // T=1 bytes of the first T=1 level from TA3 on
  uint8_t cwi = 13, bwi = 4;
  bool crc = false;
  std::vector<uint8_t> historical;
};
AtrInfo ParseAtr(std::span<const uint8_t> directAtr);

// The card's applet: a small command set for both protocols.
//   00 A4 04 00 Lc AID        SELECT by name: 90 00 for a known name (or none), else 6A 82
//   00 84 00 00 Le            GET CHALLENGE: Le bytes (256 for 0), 90 00
//   80 EE 00 00 Lc data [Le]  ECHO: the data back, 90 00
// and 6E 00 (class), 6D 00 (instruction), 6B 00 (P1-P2), 67 00 (length).
class Applet {
 public:
  static std::vector<uint8_t> KnownAid();  // F0 56 51 55 53 42 01
  // A short APDU of case 1 to 4; returns response data and status word.
  std::vector<uint8_t> Process(std::span<const uint8_t> apdu);

 private:
  uint32_t rng_ = 0x1234567u;
};

// Shared by the microprocessor cards: reset, PPS, inverse convention.
class IsoCard : public Card {
 public:
  // `directAtr` in direct form. With `inverseOnWire` (TS must be 0x3F) the
  // card's characters reach the host uninverted: the ATR starts with 0x03 and
  // every transfer is inverted both ways. A 0x3F ATR without it stands for a
  // reader that decodes the convention itself.
  IsoCard(std::vector<uint8_t> directAtr, bool inverseOnWire);

  std::vector<uint8_t> PowerOn() override;
  std::vector<uint8_t> WarmReset() override { return PowerOn(); }
  void PowerOff() override { powered_ = false; }
  CardAnswer Transfer(std::span<const uint8_t> payload, uint8_t p1, Faults& faults) final;
  // Refuses parameters of a protocol the ATR does not offer, of the wrong
  // length (5 bytes T=0, 7 bytes T=1), or, after an accepted PPS, with other
  // Fi/Di than the PPS agreed.
  bool SetParameters(std::span<const uint8_t> params, uint8_t p1) override;
  const std::vector<uint8_t>& LastParameters() const { return params_; }

  const std::vector<uint8_t>& DirectAtr() const { return atr_; }
  const AtrInfo& Info() const { return info_; }
  uint8_t FiDiInForce() const { return fidi_; }
  int PpsCount() const { return ppsCount_; }
  int ResetCount() const { return resets_; }
  bool Powered() const { return powered_; }

  // Every answer of this card is preceded by this many time extensions.
  void SetSlowness(int timeExtensions) { slowness_ = timeExtensions; }

 protected:
  // One exchange in direct convention, after any PPS.
  virtual CardAnswer Exchange(std::span<const uint8_t> in, uint8_t p1, Faults& faults) = 0;
  virtual void OnReset() {}
  Applet applet_;

 private:
  static bool IsPps(std::span<const uint8_t> payload);
  CardAnswer Pps(std::span<const uint8_t> req, Faults& faults);

  std::vector<uint8_t> atr_;
  AtrInfo info_;
  bool inverse_;
  bool powered_ = false;
  bool ppsAllowed_ = false;
  bool ppsDone_ = false;
  std::vector<uint8_t> params_;
  uint8_t fidi_ = 0x11;
  int ppsCount_ = 0;
  int resets_ = 0;
  int slowness_ = 0;
};

// T=0 at APDU level: the reader hands over CLA INS P1 P2 P3 [data]; outgoing
// data of a command with data in waits for GET RESPONSE (61 xx), a wrong Le
// gets 6C xx.
class T0Model : public IsoCard {
 public:
  using IsoCard::IsoCard;
  std::string Kind() const override { return "t0"; }

 protected:
  CardAnswer Exchange(std::span<const uint8_t> in, uint8_t p1, Faults& faults) override;
  void OnReset() override { pending_.clear(); }

 private:
  std::vector<uint8_t> pending_;
};

// T=1 at block level (ISO/IEC 7816-3): IFSC, EDC and the T=1 bytes from its
// own ATR; answers IFS requests, chains in both directions, acknowledges with
// R-blocks, resends on R-blocks, answers resync, and produces the block
// faults of Faults.
class T1Model : public IsoCard {
 public:
  using IsoCard::IsoCard;
  std::string Kind() const override { return info_crc() ? "t1-crc" : "t1"; }

  uint8_t Ifsd() const { return ifsd_; }       // the host's IFSD as the card knows it
  uint8_t Ifsc() const { return ifsc_; }
  int ResyncCount() const { return resyncs_; }
  const std::vector<uint8_t>& LastCommand() const { return lastApdu_; }

 protected:
  CardAnswer Exchange(std::span<const uint8_t> in, uint8_t p1, Faults& faults) override;
  void OnReset() override;

 private:
  bool info_crc() const { return Info().crc; }
  std::vector<uint8_t> Block(uint8_t pcb, std::span<const uint8_t> inf, Faults& faults) const;
  std::vector<uint8_t> Send(std::vector<uint8_t> block, Faults& faults);
  std::vector<uint8_t> RBlock(uint8_t error, Faults& faults);
  std::vector<uint8_t> NextChainBlock(Faults& faults);
  std::vector<uint8_t> Flood(Faults& faults);  // the answer of Faults::cardFlood
  std::vector<uint8_t> FiniteFlood(Faults& faults);  // the same, counted by cardFloodBlocks

  uint8_t ns_ = 0;          // N(S) of the card's next I-block
  uint8_t nr_ = 0;          // N(S) expected in the host's next I-block
  uint8_t ifsd_ = 32;
  uint8_t ifsc_ = 32;       // the card's IFSC in force (from its ATR, or its own IFS request)
  uint8_t nad_ = 0;         // NAD of the host's last block
  std::vector<uint8_t> rx_;           // command gathered from chained blocks
  std::vector<uint8_t> lastApdu_;
  std::vector<uint8_t> tx_;           // response not yet sent
  size_t txPos_ = 0;
  std::vector<uint8_t> lastBlock_;    // last block sent, before faults, to resend
  // An S-request of the card awaits its response, or a counted flood runs.
  enum class Held { None, Wtx, Ifs, Flood } held_ = Held::None;
  uint8_t heldIfs_ = 0;
  int resyncs_ = 0;
};

// The reader's fixed-ATR card types 2 and 3: the power-on answer is the card
// type alone; transfers fail as a mute card.
class FixedAtrModel : public Card {
 public:
  explicit FixedAtrModel(uint8_t type) : type_(type) {}
  uint8_t CardType() const override { return type_; }
  std::vector<uint8_t> PowerOn() override { return {}; }
  CardAnswer Transfer(std::span<const uint8_t>, uint8_t, Faults&) override { return {true, {}, 0}; }
  std::string Kind() const override { return type_ == 2 ? "type2" : "type3"; }

 private:
  uint8_t type_;
};

// A card that never answers, not even the reset.
class MuteModel : public Card {
 public:
  std::vector<uint8_t> PowerOn() override { return {}; }
  CardAnswer Transfer(std::span<const uint8_t>, uint8_t, Faults&) override { return {true, {}, 0}; }
  std::string Kind() const override { return "mute"; }
};

// Factories of the usual cards.
std::shared_ptr<T0Model> T0Card(std::vector<uint8_t> directAtr = atr::T0());
std::shared_ptr<T1Model> T1Card(std::vector<uint8_t> directAtr = atr::T1Lrc());
std::shared_ptr<T1Model> T1CrcCard();
std::shared_ptr<T0Model> InverseCard(std::vector<uint8_t> directAtr = atr::Inverse());
std::shared_ptr<T0Model> Tb1Card();
std::shared_ptr<T0Model> DelayedAtrCard();
std::shared_ptr<FixedAtrModel> FixedAtrCard(uint8_t type);  // 2 or 3
std::shared_ptr<MuteModel> MuteCard();

}  // namespace vqsim
