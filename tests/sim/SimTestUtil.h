// Host-side helpers for driving a SimReader in tests: send one request frame,
// collect bulk-in transfers.
#pragma once

#include <cstdint>
#include <vector>

#include "vqsim/SimReader.h"

namespace simtest {

std::vector<uint8_t> Request(uint8_t type, uint8_t seq, std::vector<uint8_t> payload = {}, uint8_t p1 = 0);
// Every bulk-in transfer now pending, each as read.
std::vector<std::vector<uint8_t>> Drain(vqsim::UsbLink& link);
// Sends a request and returns the answer frame (the last pending transfers
// joined, expected to be one frame with no faults armed).
std::vector<uint8_t> Exchange(vqsim::UsbLink& link, uint8_t type, uint8_t seq, std::vector<uint8_t> payload = {},
                              uint8_t p1 = 0);
std::vector<uint8_t> PayloadOf(const std::vector<uint8_t>& frame);

}  // namespace simtest
