#include "Frame.h"

#include <string.h>

#include "Transport.h"

std::atomic<uint8_t> GlobalSeqNum{0};

uint32_t ReaderFrameLength(const uint8_t* frame) {
  return (uint32_t{frame[1]} << 24) | (uint32_t{frame[2]} << 16) | (uint32_t{frame[3]} << 8) |
         uint32_t{frame[4]};
}

static void WriteHeader(uint8_t* buffer, uint8_t type, uint32_t length, uint8_t slot, uint8_t p1,
                        uint8_t p2, uint8_t p3) {
  buffer[ReaderOffsetType] = type;
  buffer[1] = static_cast<uint8_t>(length >> 24);
  buffer[2] = static_cast<uint8_t>(length >> 16);
  buffer[3] = static_cast<uint8_t>(length >> 8);
  buffer[4] = static_cast<uint8_t>(length);
  buffer[ReaderOffsetSlot] = slot;
  buffer[ReaderOffsetSequence] = GlobalSeqNum.fetch_add(1, std::memory_order_relaxed);
  buffer[7] = p1;
  buffer[8] = p2;
  buffer[9] = p3;
}

#if VQ_BUILD_CE
void CCIDSetCCIDHeader(SmartcardExtension* ext, uint8_t type, uint32_t length, uint8_t slot,
                       uint8_t p1, uint8_t p2, uint8_t p3) {
  WriteHeader(ext->SendBuffer, type, length, slot, p1, p2, p3);
  ext->SendLength = length + ReaderHeaderSize;
}

uint8_t CCIDIsCommandSuccess(uint8_t status) {
  switch (status & 0xC0) {
    case 0x00:
      return ReaderCommandSuccess;
    case 0x40:
      return ReaderCommandFailed;
    case 0x80:
      return ReaderCommandTimeExtension;
    default:
      return ReaderCommandOther;
  }
}

static bool IsTimeExtension(uint8_t status) {
  return CCIDIsCommandSuccess(status) == ReaderCommandTimeExtension;
}
#else
void CCIDSetCCIDHeader(uint8_t* buffer, uint8_t type, uint32_t length, uint8_t slot, uint8_t p1,
                       uint8_t p2, uint8_t p3) {
  WriteHeader(buffer, type, length, slot, p1, p2, p3);
}

bool CCIDIsCommandSuccess(uint8_t status) { return (status & 0xC0) == 0x00; }

bool CCIDIsTimeExtendRequired(uint8_t status) { return (status & 0xC0) == 0x80; }

static bool IsTimeExtension(uint8_t status) { return CCIDIsTimeExtendRequired(status); }
#endif

bool CCIDIsCardPresent(uint8_t status) { return (status & 0x03) <= 1; }

// Finds, in a chunk that holds more than the frame its first bytes announce,
// the frame that carries the sequence number of the last header built and
// ends exactly at the chunk's end. Returns its start, or -1.
static int32_t ScanForFrame(const uint8_t* chunk, uint32_t chunkLength, uint8_t sequence) {
  for (int32_t i = static_cast<int32_t>(chunkLength) - static_cast<int32_t>(ReaderHeaderSize);
       i >= 0; --i) {
    if (chunk[i + ReaderOffsetSequence] != sequence) continue;
    const uint64_t length = ReaderFrameLength(chunk + i);
    if (length + ReaderHeaderSize == chunkLength - static_cast<uint32_t>(i)) return i;
  }
  return -1;
}

// Follows the frames of a chunk from its start, each behind the one before
// (late answers sent back to back), to one that carries our sequence number
// and runs on past the chunk's end: the answer, its rest in later chunks.
// Returns its start, or -1.
static int32_t FollowFrames(const uint8_t* chunk, uint32_t chunkLength, uint8_t sequence) {
  uint64_t start = 0;
  while (start + ReaderHeaderSize <= chunkLength) {
    const uint64_t end = start + ReaderFrameLength(chunk + start) + ReaderHeaderSize;
    if (end > chunkLength) {
      return chunk[start + ReaderOffsetSequence] == sequence ? static_cast<int32_t>(start) : -1;
    }
    start = end;
  }
  return -1;
}

// Where the answer starts in the first chunk of a frame, or -1 when the chunk
// holds none of it.
static int32_t FindAnswer(const uint8_t* chunk, uint32_t chunkLength, uint8_t sequence) {
  if (chunkLength < ReaderHeaderSize) return -1;
  const uint64_t announced = uint64_t{ReaderFrameLength(chunk)} + ReaderHeaderSize;
  if (announced >= chunkLength) return 0;
  // More than the announced frame: left-overs of an earlier answer in front.
  const int32_t start = ScanForFrame(chunk, chunkLength, sequence);
  return start >= 0 ? start : FollowFrames(chunk, chunkLength, sequence);
}

// Reads and drops the rest of a frame that does not fit the reply buffer, so
// that its tail is not taken for the next answer. The tail ends where the
// frame ends, at a short chunk (the end of the reader's transfer), when the
// reader has nothing more to send, or after ReaderMaxDrainChunks chunks.
static NTSTATUS RefuseOversizedFrame(SmartcardExtension* ext, uint64_t remaining,
                                     uint32_t chunkLength) {
  uint8_t chunk[ReaderReadChunk];
  for (uint32_t drained = 0;
       drained < ReaderMaxDrainChunks && remaining > 0 && chunkLength == ReaderReadChunk;
       ++drained) {
    chunkLength = 0;
    if (UsbBulkRead(ext, chunk, ReaderReadChunk, &chunkLength) != STATUS_SUCCESS) break;
    if (chunkLength > ReaderReadChunk) chunkLength = ReaderReadChunk;
    remaining -= chunkLength < remaining ? chunkLength : remaining;
  }
  ext->ReceivedLength = 0;
  return STATUS_BUFFER_TOO_SMALL;
}

NTSTATUS CCID_ReadWrite(SmartcardExtension* ext) {
  if (ext->SendLength == 0) return STATUS_DEVICE_DATA_ERROR;
  if (ext->SendBuffer == nullptr || ext->ReplyBuffer == nullptr || ext->DeviceData == nullptr) {
    return STATUS_UNSUCCESSFUL;
  }
  if (ext->SendLength > ext->SendBufferSize) return STATUS_BUFFER_TOO_SMALL;

  ReaderDeviceData* dev = ext->DeviceData;
  NTSTATUS status;
#if VQ_BUILD_CE
  if (ext->SendLength > ReaderTransferAreaSize) return STATUS_BUFFER_TOO_SMALL;
  memcpy(dev->TransferArea, ext->SendBuffer, ext->SendLength);
  status = UsbBulkWrite(ext, dev->TransferArea, ext->SendLength);
  if (status != STATUS_SUCCESS) return status;
#else
  status = UsbBulkWrite(ext, ext->SendBuffer, ext->SendLength);
  if (status != STATUS_SUCCESS) return status;
  const uint32_t protocol = ext->CardCapabilities.CurrentProtocol;
  // A slot-status frame (0x65), or no card protocol in force: the short time-out.
  if (ext->SendBuffer[ReaderOffsetType] == 0x65 ||
      (protocol != ProtocolT0 && protocol != ProtocolT1)) {
    dev->ReadTimeout = ReadTimeoutStatus;
  } else {
    dev->ReadTimeout = ReadTimeoutCommand;
  }
#endif

  // The answer carries the sequence number of the frame just sent: the last
  // header built for this reader (another reader may have built one since).
  const uint8_t sequence = ext->SendBuffer[ReaderOffsetSequence];
  uint8_t chunk[ReaderReadChunk];
  uint64_t expected = ReaderHeaderSize;
  bool firstChunk = true;
  uint32_t idleReads = 0;
  uint32_t timeExtensions = 0;
  ext->ReceivedLength = 0;

  // Bounded: each pass is one read, and it either adds at least one byte to
  // the frame (at most the reply buffer's size per frame), starts a frame (at
  // most ReaderMaxTimeExtensions + 1 of them), or is idle (at most
  // ReaderMaxIdleReads in a row); a read that fails ends the exchange.
  while (firstChunk || ext->ReceivedLength < expected) {
    uint32_t chunkLength = 0;
    status = UsbBulkRead(ext, chunk, ReaderReadChunk, &chunkLength);
    if (status != STATUS_SUCCESS) return status;
    if (chunkLength > ReaderReadChunk) chunkLength = ReaderReadChunk;

    const int32_t start = firstChunk ? FindAnswer(chunk, chunkLength, sequence) : 0;
    if (chunkLength == 0 || start < 0) {
      // Nothing of our answer: a short or empty chunk, or other frames only.
      if (++idleReads > ReaderMaxIdleReads) {
        ext->ReceivedLength = 0;
        return STATUS_DEVICE_PROTOCOL_ERROR;
      }
      continue;
    }
    idleReads = 0;

    if (!firstChunk) {
      const uint64_t room = expected - ext->ReceivedLength;
      const uint32_t take = chunkLength < room ? chunkLength : static_cast<uint32_t>(room);
      memcpy(ext->ReplyBuffer + ext->ReceivedLength, chunk, take);
      ext->ReceivedLength += take;
      continue;
    }

    expected = uint64_t{ReaderFrameLength(chunk + start)} + ReaderHeaderSize;
    const uint32_t held = chunkLength - static_cast<uint32_t>(start);
    if (expected > ext->ReplyBufferSize) {
      return RefuseOversizedFrame(ext, expected - held, chunkLength);
    }
    const uint32_t take = held < expected ? held : static_cast<uint32_t>(expected);
    memcpy(ext->ReplyBuffer, chunk + start, take);
    ext->ReceivedLength = take;
    firstChunk = false;

    if (IsTimeExtension(ext->ReplyBuffer[ReaderOffsetStatus])) {
      // The reader needs more time: the answer comes in a later frame.
      ext->ReceivedLength = 0;
      expected = ReaderHeaderSize;
      firstChunk = true;
      if (++timeExtensions > ReaderMaxTimeExtensions) return STATUS_IO_TIMEOUT;
    }
  }
  return STATUS_SUCCESS;
}
