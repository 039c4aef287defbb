// The reader's frame protocol: a 10-byte header and a payload in each
// direction over the bulk endpoints, and the one exchange that sends a frame
// and collects the answer.
#pragma once

#include <atomic>

#include "SmartcardExtension.h"

// Wire layout of the header (both directions); multi-byte fields are most
// significant byte first.
struct ReaderFrameHeader {
  uint8_t MessageType;
  uint8_t Length[4];  // payload length
  uint8_t Slot;       // 0
  uint8_t Sequence;
  uint8_t Param1;  // request: parameter 1; reply: status byte
  uint8_t Param2;  // request: parameter 2; reply: error byte
  uint8_t Param3;
};
static_assert(sizeof(ReaderFrameHeader) == 10, "the frame header is 10 bytes");

constexpr uint32_t ReaderHeaderSize = 10;
// Bytes asked for by each bulk read of the exchange.
constexpr uint32_t ReaderReadChunk = 512;

// Header offsets.
constexpr uint32_t ReaderOffsetType = 0;
constexpr uint32_t ReaderOffsetLength = 1;
constexpr uint32_t ReaderOffsetSlot = 5;
constexpr uint32_t ReaderOffsetSequence = 6;
constexpr uint32_t ReaderOffsetStatus = 7;
constexpr uint32_t ReaderOffsetError = 8;

// Command status classes of the reply status byte (bits 6-7).
constexpr uint8_t ReaderCommandSuccess = 0;
constexpr uint8_t ReaderCommandFailed = 64;
constexpr uint8_t ReaderCommandTimeExtension = 128;
constexpr uint8_t ReaderCommandOther = 255;

// Read time-outs (ms).
constexpr uint32_t ReadTimeoutInitial = 10000;
constexpr uint32_t ReadTimeoutCommand = 60000;
constexpr uint32_t ReadTimeoutStatus = 2000;

// Bounds of one exchange, in reads, so that a reader that never settles
// cannot hold the caller (each read waits at most the read time-out):
// - time-extension frames per exchange: each grants the reader a fresh read
//   time-out, so an exchange waits at most ReaderMaxTimeExtensions + 1 read
//   time-outs in all. A reader floods them in milliseconds; one that sends
//   each just before the time-out runs out can hold an exchange for 256
//   times 60 s (4 h 16 min, longer under a T=1 WTX multiplier on Windows
//   CE). 255 leaves room for a card operation of many minutes with the
//   reader's extensions a second or so apart; a reader that asks more often
//   than that is taken as hung: STATUS_IO_TIMEOUT.
constexpr uint32_t ReaderMaxTimeExtensions = 255;
// - reads in a row that bring nothing of our answer (empty chunks, first
//   chunks too short for a header, chunks that hold only other frames): a
//   late answer or two is normal, a stream of them is not:
//   STATUS_DEVICE_PROTOCOL_ERROR.
constexpr uint32_t ReaderMaxIdleReads = 16;
// - chunks read away after a frame too long for the reply buffer (4 KiB
//   beyond its first chunk), before STATUS_BUFFER_TOO_SMALL.
constexpr uint32_t ReaderMaxDrainChunks = 8;

// Sequence counter, one per loaded driver, shared by all readers and taken
// without a lock. Each header built takes its value and increments it
// (wrapping 255 -> 0).
extern std::atomic<uint8_t> GlobalSeqNum;

// Payload length of the frame at Frame (bytes 1-4, most significant first).
uint32_t ReaderFrameLength(const uint8_t* Frame);

#if VQ_BUILD_CE
// Writes the header into the send buffer and sets SendLength to Length + 10.
void CCIDSetCCIDHeader(SmartcardExtension* SmartcardExtension, uint8_t Type, uint32_t Length,
                       uint8_t Slot, uint8_t P1, uint8_t P2, uint8_t P3);
#else
// Writes the header into the first 10 bytes of Buffer; the caller sets SendLength.
void CCIDSetCCIDHeader(uint8_t* Buffer, uint8_t Type, uint32_t Length, uint8_t Slot, uint8_t P1,
                       uint8_t P2, uint8_t P3);
#endif

// Sends the frame of the send buffer (SendLength bytes) and leaves the whole
// reply frame, header included, in the reply buffer (ReceivedLength bytes).
// Frames with the time-extension status, left-overs of earlier answers and
// first chunks too short for a header are passed over, within the bounds
// above; a bound that runs out leaves ReceivedLength 0.
NTSTATUS CCID_ReadWrite(SmartcardExtension* SmartcardExtension);

#if VQ_BUILD_CE
// Command status class: ReaderCommandSuccess, Failed, TimeExtension or Other.
uint8_t CCIDIsCommandSuccess(uint8_t Status);
#else
bool CCIDIsCommandSuccess(uint8_t Status);
bool CCIDIsTimeExtendRequired(uint8_t Status);
#endif

// True when the status byte reports a card in the slot (card status 0 or 1).
bool CCIDIsCardPresent(uint8_t Status);
