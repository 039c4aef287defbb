// The reader's frame format as seen from the device, and the byte-level
// helpers of the card interface (checksums, inverse convention).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vqsim {

inline constexpr uint16_t kVendorId = 0xF1E5;
inline constexpr uint16_t kProductId = 0x0480;

inline constexpr size_t kHeaderSize = 10;
inline constexpr size_t kChunkSize = 512;  // at most this many bytes per bulk-in transfer
// Longest request payload the reader takes; a longer announced length is
// refused and the buffered bytes are dropped.
inline constexpr uint32_t kMaxRequestPayload = 4096;

// Request message types (host to reader).
enum : uint8_t {
  kMsgGetInfo = 0x60,
  kMsgSetParameters = 0x61,
  kMsgPowerOn = 0x62,
  kMsgPowerOff = 0x63,
  kMsgGetSlotStatus = 0x65,
  kMsgEscape = 0x6B,
  kMsgXfrBlock = 0x6F,
  kMsgReReset = 0x59,
  kMsgSetSpeed = 0x51,
};

// Answer message types (reader to host).
enum : uint8_t {
  kReplyDataBlock = 0x80,
  kReplySlotStatus = 0x81,
  kReplyParameters = 0x82,
  kReplyInfo = 0x60,
};

// Status byte: command status in bits 6-7, card status in bits 0-1.
enum : uint8_t {
  kCmdOk = 0x00,
  kCmdFailed = 0x40,
  kCmdTimeExtension = 0x80,
  kCardActive = 0x00,    // present and powered
  kCardInactive = 0x01,  // present, not powered
  kCardAbsent = 0x02,
};

// Error byte of a failed command.
enum : uint8_t {
  kErrCardMute = 0xFE,
  kErrNotReady = 0xBE,
  kErrBadLength = 0x01,      // the announced payload length is refused
  kErrUnsupported = 0x00,    // unknown message type
  kErrBadParameter = 0x07,   // set parameters refused
};

// Slot-change notice on the interrupt endpoint: 0x50, then bit 0 = card
// present and bit 1 = changed since the last notice.
inline constexpr uint8_t kNotifySlotChange = 0x50;

struct FrameHeader {
  uint8_t type = 0;
  uint32_t length = 0;
  uint8_t slot = 0;
  uint8_t seq = 0;
  uint8_t b7 = 0;  // request: parameter 1; answer: status byte
  uint8_t b8 = 0;  // request: parameter 2; answer: error byte
  uint8_t b9 = 0;  // parameter 3
};

// Reads the header at the start of `bytes` (at least kHeaderSize of them).
FrameHeader ParseHeader(std::span<const uint8_t> bytes);
// Header followed by the payload; the length field is the payload's size.
std::vector<uint8_t> BuildFrame(FrameHeader h, std::span<const uint8_t> payload);

// Block checksums of the block protocol over NAD, PCB, LEN and INF.
uint8_t Lrc(std::span<const uint8_t> bytes);
uint16_t Crc16(std::span<const uint8_t> bytes);  // reflected 0xA001, initial 0

// Inverse convention: each byte's bits reversed, then complemented (its own
// inverse: 0x3F <-> 0x03).
uint8_t InvertByte(uint8_t b);
void InvertBytes(std::span<uint8_t> bytes);

std::vector<uint8_t> FromHex(const char* hex);  // "3B 16 13", blanks optional
std::vector<uint8_t> FromHex(std::string_view hex, bool* ok);
std::string ToHex(std::span<const uint8_t> bytes);

}  // namespace vqsim
