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

// What the first chunk of a frame holds of the answer.
struct ChunkScan {
  int32_t start = -1;  // where the answer starts, or -1
  uint32_t carry = 0;  // bytes at the chunk's end that begin the next header
  uint64_t skip = 0;   // bytes of a late frame that are still to come
};

// Follows the frames of a chunk from its start, each behind the one before
// (late answers sent back to back), to the one that runs on past the chunk's
// end: the answer when it carries our sequence number (its rest in later
// chunks), else a late frame whose rest is to be skipped; or to a header cut
// by the chunk's end, whose bytes are to be read on with the next chunk.
static ChunkScan FollowFrames(const uint8_t* chunk, uint32_t chunkLength, uint8_t sequence) {
  ChunkScan scan;
  uint64_t start = 0;
  while (start + ReaderHeaderSize <= chunkLength) {
    const uint64_t end = start + ReaderFrameLength(chunk + start) + ReaderHeaderSize;
    if (end > chunkLength) {
      if (chunk[start + ReaderOffsetSequence] == sequence) {
        scan.start = static_cast<int32_t>(start);
      } else {
        scan.skip = end - chunkLength;
      }
      return scan;
    }
    start = end;
  }
  scan.carry = chunkLength - static_cast<uint32_t>(start);
  return scan;
}

// Where the answer starts in the first chunk of a frame. `behindLateFrames`:
// the chunk continues a run of late frames, so its first frame is one of
// them unless it carries our sequence number.
static ChunkScan FindAnswer(const uint8_t* chunk, uint32_t chunkLength, uint8_t sequence,
                            bool behindLateFrames) {
  ChunkScan scan;
  if (!behindLateFrames) {
    if (chunkLength < ReaderHeaderSize) return scan;  // too short for a header
    const uint64_t announced = uint64_t{ReaderFrameLength(chunk)} + ReaderHeaderSize;
    if (announced >= chunkLength) {
      scan.start = 0;
      return scan;
    }
    // More than the announced frame: left-overs of an earlier answer in front.
  }
  scan.start = ScanForFrame(chunk, chunkLength, sequence);
  return scan.start >= 0 ? scan : FollowFrames(chunk, chunkLength, sequence);
}

// Reads and drops the rest of a frame that does not fit the reply buffer, so
// that its tail is not taken for the next answer. The tail ends where the
// frame ends, at a short chunk (the end of the reader's transfer), when the
// reader has nothing more to send, or after ReaderMaxDrainChunks chunks. A
// longer tail stays in the pipe: a broken reader may then have its tail read
// as the next command's answer (one wrong answer, never a hang).
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
  // Room for a cut header carried over in front of the next read.
  uint8_t chunk[ReaderHeaderSize + ReaderReadChunk];
  uint32_t carried = 0;
  uint64_t skip = 0;
  bool behindLateFrames = false;
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
    uint32_t read = 0;
    status = UsbBulkRead(ext, chunk + carried, ReaderReadChunk, &read);
    if (status != STATUS_SUCCESS) return status;
    if (read > ReaderReadChunk) read = ReaderReadChunk;
    const uint8_t* data = chunk;
    uint32_t length = carried + read;
    carried = 0;

    int32_t start = 0;
    if (firstChunk) {
      // The rest of a late frame that ran on past the last chunk goes first.
      const uint32_t drop = skip < length ? static_cast<uint32_t>(skip) : length;
      skip -= drop;
      data += drop;
      length -= drop;
      start = -1;
      if (skip == 0) {
        const ChunkScan scan = FindAnswer(data, length, sequence, behindLateFrames);
        start = scan.start;
        // A late frame longer than any answer we take is no frame but noise:
        // nothing to skip, the next chunk is read afresh.
        skip = scan.skip <= ext->ReplyBufferSize ? scan.skip : 0;
        if (scan.carry != 0) {
          memmove(chunk, data + length - scan.carry, scan.carry);
          carried = scan.carry;
        }
        behindLateFrames = start < 0 && (skip != 0 || carried != 0);
      }
    }
    if (read == 0 || start < 0) {
      // Nothing of our answer: an empty or short chunk, or other frames only.
      if (++idleReads > ReaderMaxIdleReads) {
        ext->ReceivedLength = 0;
        return STATUS_DEVICE_PROTOCOL_ERROR;
      }
      continue;
    }
    idleReads = 0;

    if (!firstChunk) {
      const uint64_t room = expected - ext->ReceivedLength;
      const uint32_t take = length < room ? length : static_cast<uint32_t>(room);
      memcpy(ext->ReplyBuffer + ext->ReceivedLength, data, take);
      ext->ReceivedLength += take;
      continue;
    }

    expected = uint64_t{ReaderFrameLength(data + start)} + ReaderHeaderSize;
    const uint32_t held = length - static_cast<uint32_t>(start);
    if (expected > ext->ReplyBufferSize) {
      return RefuseOversizedFrame(ext, expected - held, read);
    }
    const uint32_t take = held < expected ? held : static_cast<uint32_t>(expected);
    memcpy(ext->ReplyBuffer, data + start, take);
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
