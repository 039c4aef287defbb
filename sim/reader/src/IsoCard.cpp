#include "vqsim/Cards.h"

namespace vqsim {

IsoCard::IsoCard(std::vector<uint8_t> directAtr, bool inverseOnWire)
    : atr_(std::move(directAtr)), info_(ParseAtr(atr_)), inverse_(inverseOnWire) {}

std::vector<uint8_t> IsoCard::PowerOn() {
  powered_ = true;
  ppsAllowed_ = true;
  ppsDone_ = false;
  fidi_ = 0x11;
  ++resets_;
  OnReset();
  std::vector<uint8_t> a = atr_;
  if (inverse_) InvertBytes(a);
  return a;
}

CardAnswer IsoCard::Transfer(std::span<const uint8_t> payload, uint8_t p1, Faults& faults) {
  if (!powered_) return {true, {}, 0};
  // PPS right after the reset: PPSS 0xFF and as many bytes as PPS0 announces
  // (an inverted class byte 0x00 also reads 0xFF, so the length decides).
  if (ppsAllowed_ && IsPps(payload)) {
    ppsAllowed_ = false;
    return Pps(payload, faults);
  }
  ppsAllowed_ = false;
  std::vector<uint8_t> in(payload.begin(), payload.end());
  if (inverse_) InvertBytes(in);
  CardAnswer a = Exchange(in, p1, faults);
  if (inverse_) InvertBytes(a.bytes);
  a.timeExtensions += slowness_;
  return a;
}

bool IsoCard::IsPps(std::span<const uint8_t> p) {
  if (p.size() < 3 || p[0] != 0xFF || (p[1] & 0x80)) return false;  // bit 8 of PPS0 is reserved
  size_t expect = 3;
  for (uint8_t bit : {0x10, 0x20, 0x40})
    if (p[1] & bit) ++expect;
  return p.size() == expect;
}

CardAnswer IsoCard::Pps(std::span<const uint8_t> req, Faults& faults) {
  ++ppsCount_;
  // PPSS PPS0 [PPS1] [PPS2] [PPS3] PCK, with PCK making the XOR 0.
  uint8_t x = 0;
  for (uint8_t b : req) x ^= b;
  const uint8_t pps0 = req[1];
  if (x != 0 || faults.pps == PpsAnswer::Refuse) {
    powered_ = false;  // a card that fails a PPS must be reset again
    return {true, {}, 0};
  }
  std::vector<uint8_t> answer(req.begin(), req.end());
  if (faults.pps == PpsAnswer::Wrong && (pps0 & 0x10)) {
    answer[2] = answer[2] == 0x11 ? 0x12 : 0x11;
    answer.back() = 0;
    for (size_t i = 0; i + 1 < answer.size(); ++i) answer.back() ^= answer[i];
    return {false, answer, 0};
  }
  if (pps0 & 0x10) fidi_ = req[2];
  ppsDone_ = true;
  return {false, answer, 0};
}

bool IsoCard::SetParameters(std::span<const uint8_t> params, uint8_t p1) {
  if (!powered_ || p1 > 1) return false;
  const bool t1 = p1 == 1;
  if (params.size() != (t1 ? 7u : 5u) || !(info_.protocols & (t1 ? 2u : 1u))) return false;
  if (ppsDone_ && params[0] != fidi_) return false;
  params_.assign(params.begin(), params.end());
  return true;
}

}  // namespace vqsim
