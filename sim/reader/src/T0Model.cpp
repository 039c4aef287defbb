#include "vqsim/Cards.h"
#include <algorithm>

namespace vqsim {

namespace {
std::vector<uint8_t> Sw(uint8_t a, uint8_t b) { return {a, b}; }
}  // namespace

CardAnswer T0Model::Exchange(std::span<const uint8_t> in, uint8_t /*p1*/, Faults& /*faults*/) {
  if (in.size() < 5) return {false, Sw(0x67, 0x00), 0};
  const uint8_t p3 = in[4];
  const auto data = in.subspan(5);
  if (in[0] == 0x00 && in[1] == 0xC0) {  // GET RESPONSE
    if (pending_.empty()) return {false, Sw(0x69, 0x85), 0};
    const size_t le = p3 ? p3 : 256;
    if (le > pending_.size()) return {false, Sw(0x6C, static_cast<uint8_t>(pending_.size())), 0};
    std::vector<uint8_t> out(pending_.begin(), pending_.begin() + le);
    pending_.erase(pending_.begin(), pending_.begin() + le);
    if (pending_.empty()) {
      out.push_back(0x90);
      out.push_back(0x00);
    } else {
      out.push_back(0x61);
      out.push_back(static_cast<uint8_t>(std::min<size_t>(pending_.size(), 256)));
    }
    return {false, out, 0};
  }
  pending_.clear();
  if (data.empty()) {
    // Case 1 or 2: P3 is the expected length.
    std::vector<uint8_t> r = applet_.Process(in.first(5));
    const size_t na = r.size() - 2;
    const size_t le = p3 ? p3 : 256;
    if (na > 0 && na != le) return {false, Sw(0x6C, static_cast<uint8_t>(na)), 0};
    return {false, r, 0};
  }
  if (data.size() != p3) return {false, Sw(0x67, 0x00), 0};
  // Case 3 (or 4 without Le): outgoing data waits for GET RESPONSE.
  std::vector<uint8_t> r = applet_.Process(in);
  if (r.size() > 2 && r[r.size() - 2] == 0x90 && r.back() == 0x00) {
    pending_.assign(r.begin(), r.end() - 2);
    return {false, Sw(0x61, static_cast<uint8_t>(std::min<size_t>(pending_.size(), 256))), 0};
  }
  return {false, {r.end() - 2, r.end()}, 0};
}

}  // namespace vqsim
