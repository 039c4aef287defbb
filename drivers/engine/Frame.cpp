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

// Reads and drops the rest of a frame that does not fit the reply buffer, so
// that its tail is not taken for the next answer. The tail ends where the
// frame ends, at a short chunk (the end of the reader's transfer) or when the
// reader has nothing more to send.
static NTSTATUS RefuseOversizedFrame(SmartcardExtension* ext, uint64_t remaining,
                                     uint32_t chunkLength) {
  uint8_t chunk[ReaderReadChunk];
  while (remaining > 0 && chunkLength == ReaderReadChunk) {
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
  ext->ReceivedLength = 0;

  while (firstChunk || ext->ReceivedLength < expected) {
    uint32_t chunkLength = 0;
    status = UsbBulkRead(ext, chunk, ReaderReadChunk, &chunkLength);
    if (status != STATUS_SUCCESS) return status;
    if (chunkLength > ReaderReadChunk) chunkLength = ReaderReadChunk;

    if (!firstChunk) {
      const uint64_t room = expected - ext->ReceivedLength;
      const uint32_t take = chunkLength < room ? chunkLength : static_cast<uint32_t>(room);
      memcpy(ext->ReplyBuffer + ext->ReceivedLength, chunk, take);
      ext->ReceivedLength += take;
      continue;
    }

    // First chunk of a frame. Too short for a header: wait for the next frame.
    if (chunkLength < ReaderHeaderSize) continue;
    int32_t start = 0;
    const uint64_t announced = uint64_t{ReaderFrameLength(chunk)} + ReaderHeaderSize;
    if (announced < chunkLength) {
      // More than the announced frame: left-overs of an earlier answer.
      start = ScanForFrame(chunk, chunkLength, sequence);
      if (start < 0) continue;  // no frame of ours in it: read on
      expected = uint64_t{ReaderFrameLength(chunk + start)} + ReaderHeaderSize;
    } else {
      expected = announced;
    }

    const uint32_t held = chunkLength - static_cast<uint32_t>(start);
    if (expected > ext->ReplyBufferSize) {
      return RefuseOversizedFrame(ext, expected - held, chunkLength);
    }
    memcpy(ext->ReplyBuffer, chunk + start, held);
    ext->ReceivedLength = held;
    firstChunk = false;

    if (IsTimeExtension(ext->ReplyBuffer[ReaderOffsetStatus])) {
      // The reader needs more time: the answer comes in a later frame.
      ext->ReceivedLength = 0;
      expected = ReaderHeaderSize;
      firstChunk = true;
    }
  }
  return STATUS_SUCCESS;
}
