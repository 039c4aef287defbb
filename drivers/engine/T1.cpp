#include "T1.h"

#include <stdlib.h>
#include <string.h>

#include "T0Raw.h"

// CRC-16 (reflected polynomial 0xA001) by nibble: the entry for a byte x is
// T1CrcLow[x & 15] ^ T1CrcHigh[x >> 4].
static const uint16_t T1CrcLow[16] = {0x0000, 0xC0C1, 0xC181, 0x0140, 0xC301, 0x03C0,
                                      0x0280, 0xC241, 0xC601, 0x06C0, 0x0780, 0xC741,
                                      0x0500, 0xC5C1, 0xC481, 0x0440};
static const uint16_t T1CrcHigh[16] = {0x0000, 0xCC01, 0xD801, 0x1400, 0xF001, 0x3C00,
                                       0x2800, 0xE401, 0xA001, 0x6C00, 0x7800, 0xB401,
                                       0x5000, 0x9C01, 0x8801, 0x4400};

static uint32_t EdcSize(const SmartcardExtension* ext) {
  return (ext->CardCapabilities.T1.EDC & T1EdcCrc) ? 2 : 1;
}

bool SmartcardT1Chksum(uint8_t* block, uint8_t edc, bool verify) {
  const uint32_t n = T1PrologueSize + block[2];
  if (edc & T1EdcCrc) {
    uint16_t crc = 0;
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t x = static_cast<uint8_t>(crc ^ block[i]);
      crc = static_cast<uint16_t>(T1CrcLow[x & 0x0F] ^ T1CrcHigh[x >> 4] ^ (crc >> 8));
    }
    const uint8_t hi = static_cast<uint8_t>(crc >> 8);
    const uint8_t lo = static_cast<uint8_t>(crc);
    if (verify) return block[n] == hi && block[n + 1] == lo;
    block[n] = hi;
    block[n + 1] = lo;
    return true;
  }
  uint8_t lrc = 0;
  for (uint32_t i = 0; i < n; ++i) lrc ^= block[i];
  if (verify) return block[n] == lrc;
  block[n] = lrc;
  return true;
}

#if VQ_BUILD_CE
NTSTATUS CheckedULongAdd(uint32_t a, uint32_t b, uint32_t c, uint32_t* out) {
  const uint32_t ab = a + b;
  const uint32_t abc = ab + c;
  if (ab < a || abc < ab) {
    *out = 0xFFFFFFFFu;
    return INTSAFE_E_ARITHMETIC_OVERFLOW;
  }
  *out = abc;
  return STATUS_SUCCESS;
}
#endif

// Header length of the caller's request (second u32 of its protocol header).
// False when the request cannot hold the header it announces.
static bool RequestHeaderLength(const SmartcardExtension* ext, uint32_t* headerLength) {
  const SmartcardIoRequest& io = ext->SmartcardIoRequest;
  if (io.RequestBuffer == nullptr || io.RequestLength < ProtocolHeaderSize) return false;
  uint32_t length;
  memcpy(&length, io.RequestBuffer + 4, sizeof length);
  if (length < ProtocolHeaderSize || length > io.RequestLength) return false;
  *headerLength = length;
  return true;
}

// A request header of at least 12 bytes whose bytes 8, 9 and 11 are 81 01 00
// carries a node address in byte 10.
static bool RequestNad(const SmartcardExtension* ext, uint8_t* nad) {
  uint32_t headerLength;
  if (!RequestHeaderLength(ext, &headerLength) || headerLength < 12) return false;
  const uint8_t* h = ext->SmartcardIoRequest.RequestBuffer;
  if (h[8] != 0x81 || h[9] != 0x01 || h[11] != 0x00) return false;
  *nad = h[10];
  return true;
}

static bool KnownState(uint32_t state) {
  switch (state) {
    case T1StateInit:
    case T1StateStart:
    case T1StateIBlock:
    case T1StateRBlock:
    case T1StateRestart:
    case T1StateResyncRequest:
    case T1StateIfsRequest:
    case T1StateAbortRequest:
    case T1StateIfsResponse:
    case T1StateAbortResponse:
    case T1StateWtxResponse:
      return true;
    default:
      return false;
  }
}

// Writes NAD, PCB, LEN, INF and the EDC at SendLength, inverts the block for
// an inverse-convention card and counts it into SendLength.
static NTSTATUS PutBlock(SmartcardExtension* ext, uint8_t pcb, const uint8_t* inf, uint8_t len) {
  const uint32_t blockLength = T1PrologueSize + len + EdcSize(ext);
  if (ext->SendBuffer == nullptr || ext->SendLength > ext->SendBufferSize ||
      blockLength > ext->SendBufferSize - ext->SendLength) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  uint8_t* block = ext->SendBuffer + ext->SendLength;
  block[0] = ext->T1State.NAD;
  block[1] = pcb;
  block[2] = len;
  if (len != 0) memcpy(block + T1PrologueSize, inf, len);
  SmartcardT1Chksum(block, ext->CardCapabilities.T1.EDC, false);
  if (ext->CardCapabilities.InversConvention) SmartcardInvertData(block, blockLength);
  ext->SendLength += blockLength;
  return STATUS_SUCCESS;
}

NTSTATUS SmartcardT1Request(SmartcardExtension* ext) {
  T1State& t1 = ext->T1State;
  SmartcardIoRequest& io = ext->SmartcardIoRequest;
  uint32_t headerLength;
  if (!RequestHeaderLength(ext, &headerLength)) return STATUS_INVALID_PARAMETER;

  // The reply to the previous block was never processed: start over.
  if (t1.WaitForReply) t1.State = T1StateInit;
  t1.WaitForReply = 1;
  // No exchange under way (no reply copy) yet a state from the middle of one,
  // such as the IFS request left pending by a failed exchange: prepare the
  // exchange first, as from init.
  if (t1.ReplyData == nullptr && t1.State != T1StateStart && KnownState(t1.State)) {
    t1.State = T1StateInit;
  }

  switch (t1.State) {
    case T1StateInit:
      t1.State = T1StateIfsRequest;
      [[fallthrough]];
    case T1StateStart:
      t1.Resync = 0;
      free(t1.ReplyData);
      t1.ReplyData = nullptr;
      if (io.ReplyBuffer == nullptr || uint64_t{io.ReplyBufferSize} < uint64_t{headerLength} + 2) {
        return STATUS_BUFFER_TOO_SMALL;
      }
#if VQ_BUILD_CE
      t1.ReplyData = static_cast<uint8_t*>(calloc(1, io.ReplyBufferSize));
#else
      t1.ReplyData = static_cast<uint8_t*>(malloc(io.ReplyBufferSize));
#endif
      if (t1.ReplyData == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
      [[fallthrough]];
    case T1StateRestart: {
      memcpy(t1.ReplyData, io.RequestBuffer, headerLength);
      uint8_t nad = 0;
      t1.NAD = RequestNad(ext, &nad) ? nad : 0;
      t1.BytesToSend = io.RequestLength - headerLength;
      t1.BytesSent = 0;
      t1.IFSC = ext->CardCapabilities.T1.IFSC != 0 ? ext->CardCapabilities.T1.IFSC : 32;
      t1.BytesReceived = 0;
      t1.Resend = 0;
      t1.PrevState = 0;
      t1.MoreData = 0;
      if (t1.State == T1StateIfsRequest) return PutBlock(ext, T1PcbIfsRequest, &t1.IFSD, 1);
      t1.State = T1StateIBlock;
    }
      [[fallthrough]];
    case T1StateIBlock: {
      uint8_t size = t1.IFSC < t1.IFSD ? t1.IFSC : t1.IFSD;
      if (size == 0) size = 1;  // never an endless chain of empty blocks
      t1.InfBytesSent = size;
      uint8_t len;
      if (t1.BytesToSend > size) {
        t1.MoreData = 1;
        len = size;
      } else {
        t1.MoreData = 0;
        len = static_cast<uint8_t>(t1.BytesToSend);
      }
      const uint8_t pcb =
          static_cast<uint8_t>((t1.SSN & 1) << 6 | (t1.MoreData ? T1PcbIBlockMore : 0));
      return PutBlock(ext, pcb, io.RequestBuffer + headerLength + t1.BytesSent, len);
    }
    case T1StateRBlock: {
      const uint8_t pcb =
          static_cast<uint8_t>(T1PcbRBlock | (t1.RSN & 1) << 4 | (t1.LastError & 3));
      if (t1.LastError != 0) {
        t1.LastError = 0;
        if (t1.PrevState == 0) {
          t1.State = T1StateStart;
          return STATUS_INTERNAL_ERROR;
        }
        t1.State = t1.PrevState;
      }
      return PutBlock(ext, pcb, nullptr, 0);
    }
    case T1StateResyncRequest:
      t1.SSN = 0;
      return PutBlock(ext, T1StateResyncRequest, nullptr, 0);
    case T1StateIfsRequest:
      return PutBlock(ext, T1PcbIfsRequest, &t1.IFSD, 1);
    case T1StateAbortRequest:
      return PutBlock(ext, T1PcbAbortRequest, nullptr, 0);
    case T1StateIfsResponse:
      // Back to what the card's IFS request interrupted, as after a WTX.
      t1.State = t1.PrevState;
      return PutBlock(ext, T1PcbIfsResponse, &t1.IFSC, 1);
    case T1StateAbortResponse:
      t1.State = T1StateStart;
      return PutBlock(ext, T1PcbAbortResponse, nullptr, 0);
    case T1StateWtxResponse:
      t1.State = t1.PrevState;
      return PutBlock(ext, T1PcbWtxResponse, &t1.Wtx, 1);
    default:
      return STATUS_INVALID_DEVICE_STATE;
  }
}

// One more failed block: an R-block next, or after three a resync.
static void CountFailure(T1State& t1) {
  if (t1.Resend >= 2) {
    t1.Resend = 0;
    t1.State = T1StateResyncRequest;
  } else {
    ++t1.Resend;
    if (t1.State != T1StateResyncRequest) t1.State = T1StateRBlock;
  }
}

// The card's I-block with the expected N(S): its INF joins the reply copy.
static NTSTATUS TakeIBlock(SmartcardExtension* ext, const uint8_t* block) {
  T1State& t1 = ext->T1State;
  SmartcardIoRequest& io = ext->SmartcardIoRequest;
  const uint8_t pcb = block[1];
  const uint8_t len = block[2];
  uint32_t headerLength;
  if (t1.ReplyData == nullptr || !RequestHeaderLength(ext, &headerLength)) {
    return STATUS_INTERNAL_ERROR;  // no exchange under way
  }
  t1.Resend = 0;
  t1.PrevState = 0;
  t1.RSN ^= 1;
  if (t1.State == T1StateIBlock) t1.SSN ^= 1;

#if VQ_BUILD_CE
  uint32_t total;
  if (CheckedULongAdd(headerLength, t1.BytesReceived, len, &total) != STATUS_SUCCESS) {
    return STATUS_BUFFER_TOO_SMALL;
  }
#else
  const uint64_t total = uint64_t{headerLength} + t1.BytesReceived + len;
#endif
  if (total > io.ReplyBufferSize) return STATUS_BUFFER_TOO_SMALL;
  if (len != 0) memcpy(t1.ReplyData + headerLength + t1.BytesReceived, block + T1PrologueSize, len);
  t1.BytesReceived += len;

  if (pcb & T1PcbIBlockMore) {
    t1.State = T1StateRBlock;
    return STATUS_MORE_PROCESSING_REQUIRED;
  }
  const uint32_t replyLength = headerLength + t1.BytesReceived;
  memcpy(io.ReplyBuffer, t1.ReplyData, replyLength);
  if (io.ReplyLength != nullptr) *io.ReplyLength = replyLength;
  return STATUS_SUCCESS;
}

NTSTATUS SmartcardT1Reply(SmartcardExtension* ext) {
  T1State& t1 = ext->T1State;
  NTSTATUS status = STATUS_MORE_PROCESSING_REQUIRED;
  uint8_t* block = ext->ReplyBuffer;
  uint32_t received = block != nullptr ? ext->ReceivedLength : 0;
  if (received > ext->ReplyBufferSize) received = 0;  // taken as a block of wrong length

  t1.WaitForReply = 0;
  if (ext->CardCapabilities.InversConvention && received != 0) {
    SmartcardInvertData(block, received);
  }
  t1.Wtx = 0;

  // A block must be exactly as long as its LEN says, and LEN within IFSD.
  uint8_t error = 0;
  if (received < 4 || received != T1PrologueSize + block[2] + EdcSize(ext) ||
      block[2] > t1.IFSD) {
    error = 2;
  } else if (!SmartcardT1Chksum(block, ext->CardCapabilities.T1.EDC, true)) {
    error = 1;
  }

  if (error != 0) {
    t1.LastError = error;
    if (t1.PrevState == 0) t1.PrevState = t1.State;
    CountFailure(t1);
  } else {
    t1.LastError = 0;
    const uint8_t pcb = block[1];
    const uint8_t len = block[2];
    if (t1.State == T1StateIfsRequest) {
      if (pcb == T1PcbIfsResponse || (pcb & 0x82) == 0x82) {
        t1.State = T1StateIBlock;
      } else {
        status = STATUS_DEVICE_PROTOCOL_ERROR;
      }
    } else if (t1.State == T1StateResyncRequest) {
      if (pcb == T1PcbResyncResponse) {
        t1.Resend = 0;
        t1.RSN = 0;
        t1.SSN = 0;
        t1.State = T1StateRestart;
      } else {
        status = STATUS_DEVICE_PROTOCOL_ERROR;
      }
    } else {
      uint8_t nad;
      if (t1.ReplyData != nullptr && RequestNad(ext, &nad)) t1.ReplyData[10] = block[0];

      if ((pcb & 0x80) == 0) {  // I-block
        if (((pcb >> 6) & 1) == (t1.RSN & 1)) {
          status = TakeIBlock(ext, block);
        } else {
          t1.LastError = 2;
          if (t1.PrevState == 0) t1.PrevState = t1.State;
          CountFailure(t1);
        }
      } else if ((pcb & T1PcbBlockKind) == T1PcbRBlock) {
        if (((pcb >> 4) & 1) != (t1.SSN & 1) && t1.MoreData) {
          // The card asks for the next block of the chain.
          const uint32_t n = t1.InfBytesSent < t1.BytesToSend ? t1.InfBytesSent : t1.BytesToSend;
          t1.Resend = 0;
          t1.BytesSent += n;
          t1.BytesToSend -= n;
          t1.SSN ^= 1;
          t1.State = T1StateIBlock;
        } else if (t1.Resend >= 2) {
          t1.Resend = 0;
          if (t1.PrevState == 0) t1.PrevState = t1.State;
          t1.State = T1StateResyncRequest;
        } else {
          ++t1.Resend;  // the same block goes again
        }
      } else {
        switch (pcb) {
          case T1PcbIfsRequest:
            if (len < 1 || block[3] == 0) {
              status = STATUS_DEVICE_PROTOCOL_ERROR;
            } else {
              t1.IFSC = block[3];
              t1.PrevState = t1.State;
              t1.State = T1StateIfsResponse;
            }
            break;
          case T1PcbAbortRequest:
            t1.State = T1StateAbortResponse;
            break;
          case T1PcbWtxRequest:
            if (len < 1) {
              status = STATUS_DEVICE_PROTOCOL_ERROR;
            } else {
              t1.Wtx = block[3];
              t1.PrevState = t1.State;
              t1.State = T1StateWtxResponse;
            }
            break;
          case T1PcbVppError:
            status = STATUS_DEVICE_POWER_FAILURE;
            break;
          default:
            status = STATUS_DEVICE_PROTOCOL_ERROR;
            break;
        }
      }
    }
  }

  if (t1.State == T1StateResyncRequest) {
    if (t1.Resync >= 2) status = STATUS_DEVICE_PROTOCOL_ERROR;
    ++t1.Resync;
  }
  if (status != STATUS_MORE_PROCESSING_REQUIRED) SmartcardT1EndExchange(ext);
  return status;
}

void SmartcardT1EndExchange(SmartcardExtension* ext) {
  T1State& t1 = ext->T1State;
  t1.State = t1.PrevState == T1StateIfsRequest ? T1StateIfsRequest : T1StateStart;
  free(t1.ReplyData);
  t1.ReplyData = nullptr;
  t1.PrevState = 0;
  t1.NAD = 0;
}
