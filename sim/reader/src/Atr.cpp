#include "vqsim/Cards.h"

namespace vqsim {
namespace atr {

std::vector<uint8_t> WithTck(std::vector<uint8_t> bytes) {
  uint8_t x = 0;
  for (size_t i = 1; i < bytes.size(); ++i) x ^= bytes[i];
  bytes.push_back(x);
  return bytes;
}

// Historical bytes "VQUSB" and a digit naming the model.
std::vector<uint8_t> T0() { return FromHex("3B 16 13 56 51 55 53 42 30"); }
std::vector<uint8_t> T1Lrc() { return WithTck(FromHex("3B 96 13 81 31 FE 45 56 51 55 53 42 31")); }
std::vector<uint8_t> T1Crc() { return WithTck(FromHex("3B 96 13 81 71 FE 45 01 56 51 55 53 42 32")); }
std::vector<uint8_t> Inverse() { return FromHex("3F 16 13 56 51 55 53 42 33"); }
std::vector<uint8_t> Tb1() { return FromHex("3B 66 25 00 56 51 55 53 42 34"); }
std::vector<uint8_t> T1InTd1Only() { return WithTck(FromHex("3B 90 13 11 81")); }
std::vector<uint8_t> Delayed() { return FromHex("3B E2 00 00 40 20 99 01"); }
std::vector<uint8_t> Fixed() {
  return FromHex("3B BF 18 00 80 31 70 35 53 54 41 52 43 4F 53 20 53 32 31 20 43 90 00 9B");
}

}  // namespace atr

AtrInfo ParseAtr(std::span<const uint8_t> a) {
  AtrInfo info;
  if (a.size() < 2 || (a[0] != 0x3B && a[0] != 0x3F)) return info;
  size_t pos = 2;
  uint8_t y = a[1] & 0xF0;
  const size_t k = a[1] & 0x0F;
  int prevT = -1;  // protocol named by the TD before this level
  bool anyTd = false;
  bool t1Level = false;
  for (int level = 0; level < 8; ++level) {
    uint8_t ta = 0, tb = 0, tc = 0;
    bool hasTa = false, hasTb = false, hasTc = false;
    if (y & 0x10) { if (pos >= a.size()) return info; ta = a[pos++]; hasTa = true; }
    if (y & 0x20) { if (pos >= a.size()) return info; tb = a[pos++]; hasTb = true; }
    if (y & 0x40) { if (pos >= a.size()) return info; tc = a[pos++]; hasTc = true; }
    if (level == 0) {
      if (hasTa) info.ta1 = ta;
      info.hasTb1 = hasTb;
      info.tb1 = tb;
      info.tc1 = tc;
    } else if (level == 1) {
      info.hasTa2 = hasTa;
    } else if (prevT == 1 && !t1Level) {
      t1Level = true;
      if (hasTa && ta) info.ifsc = ta;
      if (hasTb) {
        if (tb & 0x0F) info.cwi = tb & 0x0F;
        if (tb >> 4) info.bwi = tb >> 4;
      }
      if (hasTc) info.crc = tc & 1;
    }
    if (!(y & 0x80)) break;
    if (pos >= a.size()) return info;
    const uint8_t td = a[pos++];
    anyTd = true;
    prevT = td & 0x0F;
    info.protocols |= 1u << prevT;
    y = td & 0xF0;
  }
  if (!anyTd) info.protocols = 1;
  const bool tck = (info.protocols & ~1u) != 0;
  if (a.size() != pos + k + (tck ? 1 : 0)) return info;
  info.historical.assign(a.begin() + pos, a.begin() + pos + k);
  if (tck) {
    uint8_t x = 0;
    for (size_t i = 1; i < a.size(); ++i) x ^= a[i];
    if (x != 0) return info;
  }
  info.valid = true;
  return info;
}

}  // namespace vqsim
