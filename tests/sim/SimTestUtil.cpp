#include "SimTestUtil.h"

namespace simtest {

std::vector<uint8_t> Request(uint8_t type, uint8_t seq, std::vector<uint8_t> payload, uint8_t p1) {
  vqsim::FrameHeader h{type, 0, 0, seq, p1, 0, 0};
  return vqsim::BuildFrame(h, payload);
}

std::vector<std::vector<uint8_t>> Drain(vqsim::UsbLink& link) {
  std::vector<std::vector<uint8_t>> out;
  for (;;) {
    uint8_t buf[vqsim::kChunkSize];
    size_t got = 0;
    if (link.BulkIn(buf, sizeof buf, &got, 0) != vqsim::LinkStatus::Ok) break;
    out.emplace_back(buf, buf + got);
  }
  return out;
}

std::vector<uint8_t> Exchange(vqsim::UsbLink& link, uint8_t type, uint8_t seq, std::vector<uint8_t> payload,
                              uint8_t p1) {
  auto req = Request(type, seq, std::move(payload), p1);
  link.BulkOut(req.data(), req.size());
  std::vector<uint8_t> all;
  for (auto& c : Drain(link)) all.insert(all.end(), c.begin(), c.end());
  return all;
}

std::vector<uint8_t> PayloadOf(const std::vector<uint8_t>& frame) {
  if (frame.size() < vqsim::kHeaderSize) return {};
  return {frame.begin() + vqsim::kHeaderSize, frame.end()};
}

}  // namespace simtest
