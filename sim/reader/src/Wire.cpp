#include "vqsim/Wire.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace vqsim {

FrameHeader ParseHeader(std::span<const uint8_t> b) {
  FrameHeader h;
  h.type = b[0];
  h.length = (uint32_t{b[1]} << 24) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 8) | b[4];
  h.slot = b[5];
  h.seq = b[6];
  h.b7 = b[7];
  h.b8 = b[8];
  h.b9 = b[9];
  return h;
}

std::vector<uint8_t> BuildFrame(FrameHeader h, std::span<const uint8_t> payload) {
  const auto n = static_cast<uint32_t>(payload.size());
  std::vector<uint8_t> f(10 + payload.size());
  const uint8_t header[10] = {h.type,
                              static_cast<uint8_t>(n >> 24),
                              static_cast<uint8_t>(n >> 16),
                              static_cast<uint8_t>(n >> 8),
                              static_cast<uint8_t>(n),
                              h.slot,
                              h.seq,
                              h.b7,
                              h.b8,
                              h.b9};
  std::copy(std::begin(header), std::end(header), f.begin());
  std::copy(payload.begin(), payload.end(), f.begin() + 10);
  return f;
}

uint8_t Lrc(std::span<const uint8_t> bytes) {
  uint8_t x = 0;
  for (uint8_t b : bytes) x ^= b;
  return x;
}

uint16_t Crc16(std::span<const uint8_t> bytes) {
  uint16_t crc = 0;
  for (uint8_t b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
  }
  return crc;
}

uint8_t InvertByte(uint8_t b) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i)
    if (b & (1u << i)) r |= static_cast<uint8_t>(0x80u >> i);
  return static_cast<uint8_t>(~r);
}

void InvertBytes(std::span<uint8_t> bytes) {
  for (auto& b : bytes) b = InvertByte(b);
}

std::vector<uint8_t> FromHex(std::string_view hex, bool* ok) {
  std::vector<uint8_t> out;
  int half = -1;
  bool good = true;
  for (char c : hex) {
    if (c == ' ' || c == ':' || c == '\t') {
      if (half >= 0) good = false;  // a lone digit
      continue;
    }
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else { good = false; continue; }
    if (half < 0) half = v;
    else { out.push_back(static_cast<uint8_t>(half << 4 | v)); half = -1; }
  }
  if (half >= 0) good = false;
  if (ok) *ok = good;
  return out;
}

std::vector<uint8_t> FromHex(const char* hex) { return FromHex(std::string_view(hex), nullptr); }

std::string ToHex(std::span<const uint8_t> bytes) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
    s += buf;
  }
  return s;
}

}  // namespace vqsim
