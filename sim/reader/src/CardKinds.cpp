#include "vqsim/Cards.h"
#include "vqsim/SocketServer.h"

namespace vqsim {

const char* CardKinds() { return "t0, t1, t1-crc, inverse, tb1, delayed, type2, type3, mute, none"; }

std::shared_ptr<Card> MakeCard(const std::string& kind, const std::vector<uint8_t>& a, bool* known) {
  if (known) *known = true;
  if (kind == "t0") return T0Card(a.empty() ? atr::T0() : a);
  if (kind == "t1") return T1Card(a.empty() ? atr::T1Lrc() : a);
  if (kind == "t1-crc") return T1Card(a.empty() ? atr::T1Crc() : a);
  if (kind == "inverse") return InverseCard(a.empty() ? atr::Inverse() : a);
  if (kind == "tb1") return Tb1Card();
  if (kind == "delayed") return DelayedAtrCard();
  if (kind == "type2") return FixedAtrCard(2);
  if (kind == "type3") return FixedAtrCard(3);
  if (kind == "mute") return MuteCard();
  if (kind != "none" && known) *known = false;
  return nullptr;
}

}  // namespace vqsim
