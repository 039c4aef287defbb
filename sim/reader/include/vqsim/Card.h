// A card behind the simulated reader, seen from the reader: it answers a
// reset with its ATR and a transfer block with its bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "vqsim/Faults.h"

namespace vqsim {

struct CardAnswer {
  bool mute = false;            // the card did not answer (the reader reports 0xFE)
  std::vector<uint8_t> bytes;   // what the card sent
  int timeExtensions = 0;       // the card took long: frames the reader sends first
};

class Card {
 public:
  virtual ~Card() = default;

  // Card type byte the reader puts in front of the ATR in its power-on answer:
  // 1 for a microprocessor card, 2 and 3 for the reader's fixed-ATR card types.
  virtual uint8_t CardType() const { return 1; }

  // Cold reset: the ATR as the reader passes it on (an inverse-convention card
  // starts with 0x03); empty when the card does not answer.
  virtual std::vector<uint8_t> PowerOn() = 0;
  // Warm reset (the reader's re-reset command).
  virtual std::vector<uint8_t> WarmReset() { return PowerOn(); }
  virtual void PowerOff() {}

  // One transfer block. `p1` is header byte 7 of the request (the WTX
  // multiplier under T=1). Card-level faults are taken from `faults`.
  virtual CardAnswer Transfer(std::span<const uint8_t> payload, uint8_t p1, Faults& faults) = 0;

  // Set parameters from the host (payload of the request, p1 0 T=0, 1 T=1).
  // Returns false to refuse them.
  virtual bool SetParameters(std::span<const uint8_t> /*params*/, uint8_t /*p1*/) { return true; }

  virtual std::string Kind() const = 0;
};

}  // namespace vqsim
