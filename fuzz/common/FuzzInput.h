// Reads a fuzz input front to back; past its end every read gives zeros or
// nothing, so a target never needs to check the length itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

struct FuzzInput {
  const uint8_t* p;
  size_t n;

  bool Empty() const { return n == 0; }
  uint8_t Byte() {
    if (n == 0) return 0;
    --n;
    return *p++;
  }
  uint16_t Word() {  // most significant byte first
    const uint16_t high = Byte();
    return static_cast<uint16_t>(high << 8 | Byte());
  }
  uint32_t U32() {
    const uint32_t high = Word();
    return high << 16 | Word();
  }
  std::vector<uint8_t> Take(size_t k) {
    if (k > n) k = n;
    std::vector<uint8_t> out(p, p + k);
    p += k;
    n -= k;
    return out;
  }
};
