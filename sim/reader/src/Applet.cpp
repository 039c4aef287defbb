#include "vqsim/Cards.h"
#include <algorithm>

namespace vqsim {

std::vector<uint8_t> Applet::KnownAid() { return FromHex("F0 56 51 55 53 42 01"); }

namespace {
std::vector<uint8_t> Sw(uint16_t sw) { return {static_cast<uint8_t>(sw >> 8), static_cast<uint8_t>(sw)}; }
}  // namespace

std::vector<uint8_t> Applet::Process(std::span<const uint8_t> apdu) {
  if (apdu.size() < 4) return Sw(0x6700);
  const uint8_t cla = apdu[0], ins = apdu[1], p1 = apdu[2], p2 = apdu[3];
  // Short APDU cases: 4 bytes (case 1), 5 (case 2: Le), 5 + Lc (case 3),
  // 6 + Lc (case 4).
  std::span<const uint8_t> data;
  size_t le = 0;
  bool hasLe = false;
  if (apdu.size() == 5) {
    le = apdu[4] ? apdu[4] : 256;
    hasLe = true;
  } else if (apdu.size() > 5) {
    const size_t lc = apdu[4];
    if (lc == 0 || apdu.size() < 5 + lc || apdu.size() > 6 + lc) return Sw(0x6700);
    data = apdu.subspan(5, lc);
    if (apdu.size() == 6 + lc) {
      le = apdu[5 + lc] ? apdu[5 + lc] : 256;
      hasLe = true;
    }
  }
  if (cla != 0x00 && cla != 0x80) return Sw(0x6E00);
  if (cla == 0x00 && ins == 0xA4) {  // SELECT
    if (p1 != 0x04 || (p2 & ~0x0Cu) != 0) return Sw(0x6B00);
    if (data.empty()) return Sw(0x9000);
    const auto aid = KnownAid();
    if (data.size() <= aid.size() && std::equal(data.begin(), data.end(), aid.begin())) return Sw(0x9000);
    return Sw(0x6A82);
  }
  if (cla == 0x00 && ins == 0x84) {  // GET CHALLENGE
    if (p1 || p2) return Sw(0x6B00);
    if (!data.empty() || !hasLe) return Sw(0x6700);
    std::vector<uint8_t> out;
    for (size_t i = 0; i < le; ++i) {
      rng_ = rng_ * 1103515245u + 12345u;
      out.push_back(static_cast<uint8_t>(rng_ >> 16));
    }
    out.push_back(0x90);
    out.push_back(0x00);
    return out;
  }
  if (cla == 0x80 && ins == 0xEE) {  // ECHO
    if (p1 || p2) return Sw(0x6B00);
    std::vector<uint8_t> out(data.begin(), data.end());
    out.push_back(0x90);
    out.push_back(0x00);
    return out;
  }
  return Sw(0x6D00);
}

}  // namespace vqsim
