// Drives the T=1 request and reply routines directly, block by block, with a
// card played by the test: no frames, no reader.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "Smartcard.h"
#include "SmartcardExtension.h"
#include "T1.h"
#include "vqtest/EngineSimLink.h"
#include "vqtest/ScriptedLink.h"

namespace t1test {

using Bytes = std::vector<uint8_t>;

// The test's own EDC and inverse-convention coding, kept apart from the
// engine's so that a fault in one shows against the other.
inline uint16_t Crc16(const Bytes& b) {
  uint16_t crc = 0;
  for (uint8_t byte : b) {
    crc ^= byte;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

inline uint8_t Invert(uint8_t b) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r | (((b >> i) & 1) << (7 - i)));
  return static_cast<uint8_t>(~r);
}

inline Bytes Range(size_t n, uint8_t seed = 1) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

// The request header {protocol T=1, header length}, optionally longer.
inline Bytes Header(uint32_t length = 8, Bytes extra = {}) {
  Bytes h(8);
  const uint32_t protocol = ProtocolT1;
  std::memcpy(h.data(), &protocol, 4);
  std::memcpy(h.data() + 4, &length, 4);
  h.insert(h.end(), extra.begin(), extra.end());
  return h;
}

struct Outcome {
  NTSTATUS status = STATUS_SUCCESS;
  std::vector<Bytes> sent;  // host blocks in direct convention
};

class T1Fixture : public ::testing::Test {
 protected:
  vqtest::ScriptedLink link;
  vqtest::EngineReader reader{link};
  SmartcardExtension* ext = reader.ext();
  Bytes request;
  Bytes reply = Bytes(1024);
  uint32_t replyLength = 0;
  bool crc = false;
  bool inverse = false;

  void SetUp() override { PowerOn(254, 251); }

  // The state a power-on leaves: capabilities cleared, the card's IFSC.
  void PowerOn(uint8_t ifsc, uint32_t maxIfsd) {
    ext->ReaderCapabilities.MaxIFSD = maxIfsd;
    SmartcardInitializeCardCapabilities(ext);
    ext->CardCapabilities.T1.IFSC = ifsc;
    ext->CardCapabilities.T1.EDC = crc ? 1 : 0;
    ext->CardCapabilities.InversConvention = inverse ? 1 : 0;
    ext->CardCapabilities.CurrentProtocol = ProtocolT1;
  }
  void UseCrc() {
    crc = true;
    ext->CardCapabilities.T1.EDC = 1;
  }
  void UseInverse() {
    inverse = true;
    ext->CardCapabilities.InversConvention = 1;
  }

  void SetRequest(const Bytes& data, const Bytes& header = Header()) {
    request = header;
    request.insert(request.end(), data.begin(), data.end());
    SmartcardIoRequest& io = ext->SmartcardIoRequest;
    io.RequestBuffer = request.data();
    io.RequestLength = static_cast<uint32_t>(request.size());
    io.ReplyBuffer = reply.data();
    io.ReplyBufferSize = static_cast<uint32_t>(reply.size());
    io.ReplyLength = &replyLength;
  }

  // A block as the card sends it (direct convention), with the EDC in force.
  Bytes Blk(uint8_t pcb, const Bytes& inf = {}, uint8_t nad = 0) const {
    Bytes b = {nad, pcb, static_cast<uint8_t>(inf.size())};
    b.insert(b.end(), inf.begin(), inf.end());
    if (crc) {
      const uint16_t c = Crc16(b);
      b.push_back(static_cast<uint8_t>(c >> 8));
      b.push_back(static_cast<uint8_t>(c));
    } else {
      uint8_t lrc = 0;
      for (uint8_t x : b) lrc ^= x;
      b.push_back(lrc);
    }
    return b;
  }

  // The next host block (direct convention); the status of the request routine.
  NTSTATUS NextBlock(Bytes* block) {
    ext->SendLength = 10;
    const NTSTATUS status = SmartcardT1Request(ext);
    block->assign(ext->SendBuffer + 10, ext->SendBuffer + ext->SendLength);
    if (inverse) {
      for (uint8_t& b : *block) b = Invert(b);
    }
    return status;
  }

  // Hands a card block to the reply routine as the reply dispatch would.
  NTSTATUS Answer(const Bytes& block) {
    Bytes wire = block;
    if (inverse) {
      for (uint8_t& b : wire) b = Invert(b);
    }
    if (!wire.empty()) std::memcpy(ext->ReplyBuffer, wire.data(), wire.size());
    ext->ReceivedLength = static_cast<uint32_t>(wire.size());
    return SmartcardT1Reply(ext);
  }

  // One whole exchange: the card answers each host block (given its index).
  Outcome Run(const std::function<Bytes(const Bytes&, size_t)>& card, size_t maxBlocks = 64) {
    Outcome out;
    for (size_t i = 0; i < maxBlocks; ++i) {
      Bytes block;
      out.status = NextBlock(&block);
      if (out.status != STATUS_SUCCESS) return out;
      out.sent.push_back(block);
      out.status = Answer(card(block, i));
      if (out.status != STATUS_MORE_PROCESSING_REQUIRED) return out;
    }
    ADD_FAILURE() << "exchange did not end within " << maxBlocks << " blocks";
    return out;
  }

  // What the caller received behind the request header.
  Bytes ReplyData(uint32_t headerLength = 8) const {
    if (replyLength < headerLength) return {};
    return Bytes(reply.begin() + headerLength, reply.begin() + replyLength);
  }
};

}  // namespace t1test
