#include "T0Raw.h"

#include <string.h>

bool SmartcardRequestFits(SmartcardExtension* ext) {
  const uint32_t sendLength = ext->SendLength;
  const uint32_t requestLength = ext->SmartcardIoRequest.RequestLength;
  const uint32_t sum = sendLength + requestLength;
  // Both builds refuse a sum that wraps around: the copy behind it would
  // run past the send buffer.
  if (sum < sendLength) return false;
  return sum < ext->SendBufferSize;
}

NTSTATUS SmartcardRawRequest(SmartcardExtension* ext) {
  if (!SmartcardRequestFits(ext)) return STATUS_BUFFER_TOO_SMALL;
  const SmartcardIoRequest& io = ext->SmartcardIoRequest;
  uint8_t* out = ext->SendBuffer + ext->SendLength;
  if (io.RequestLength != 0) memcpy(out, io.RequestBuffer, io.RequestLength);
  if (ext->CardCapabilities.InversConvention) SmartcardInvertData(out, io.RequestLength);
  ext->SendLength += io.RequestLength;
  return STATUS_SUCCESS;
}

NTSTATUS SmartcardRawReply(SmartcardExtension* ext) {
  SmartcardIoRequest& io = ext->SmartcardIoRequest;
  if (io.ReplyBufferSize < ext->ReceivedLength) return STATUS_BUFFER_TOO_SMALL;
  if (ext->ReceivedLength > ext->ReplyBufferSize) return STATUS_DEVICE_PROTOCOL_ERROR;
  if (ext->ReceivedLength != 0) memcpy(io.ReplyBuffer, ext->ReplyBuffer, ext->ReceivedLength);
  if (io.ReplyLength != nullptr) *io.ReplyLength = ext->ReceivedLength;
  return STATUS_SUCCESS;
}

NTSTATUS SmartcardT0Request(SmartcardExtension* ext) {
  if (!SmartcardRequestFits(ext)) return STATUS_BUFFER_OVERFLOW;
  CardCapabilities& caps = ext->CardCapabilities;
  const SmartcardIoRequest& io = ext->SmartcardIoRequest;
  if (io.RequestLength < ProtocolHeaderSize + 4) return STATUS_INVALID_PARAMETER;

  const uint8_t* data = io.RequestBuffer + ProtocolHeaderSize;
  const uint32_t n = io.RequestLength - ProtocolHeaderSize;
  uint8_t* out = ext->SendBuffer + ext->SendLength;
  memcpy(out, data, n);
  ext->SendLength += n;
  uint32_t appended = n;

  if (n == 4) {
    // Case 1: CLA INS P1 P2, and P3 = 0 behind it. The fit test leaves room
    // for it: SendLength + request length (n + 8) is below the buffer size.
    caps.T0.Lc = 0;
    caps.T0.Le = 0;
    out[4] = 0x00;
    ext->SendLength += 1;
    appended += 1;
  } else if (n == 5) {
    caps.T0.Lc = 0;
    caps.T0.Le = data[4] != 0 ? data[4] : 256;
  } else {
    caps.T0.Le = 0;
    caps.T0.Lc = data[4];
    if (caps.T0.Lc != n - 5) return STATUS_INVALID_PARAMETER;
  }
  if (caps.InversConvention) SmartcardInvertData(out, appended);
  return STATUS_SUCCESS;
}

NTSTATUS SmartcardT0Reply(SmartcardExtension* ext) {
  SmartcardIoRequest& io = ext->SmartcardIoRequest;
  const uint32_t received = ext->ReceivedLength;
  if (received < 2) return STATUS_DEVICE_PROTOCOL_ERROR;
  if (received > ext->ReplyBufferSize) return STATUS_DEVICE_PROTOCOL_ERROR;
  if (received > UINT32_MAX - ProtocolHeaderSize ||
      io.ReplyBufferSize < received + ProtocolHeaderSize) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  if (io.RequestBuffer == nullptr || io.RequestLength < ProtocolHeaderSize) {
    return STATUS_INVALID_PARAMETER;
  }
  memcpy(io.ReplyBuffer, io.RequestBuffer, ProtocolHeaderSize);
  if (ext->CardCapabilities.InversConvention) SmartcardInvertData(ext->ReplyBuffer, received);
  memcpy(io.ReplyBuffer + ProtocolHeaderSize, ext->ReplyBuffer, received);
  if (io.ReplyLength != nullptr) *io.ReplyLength = received + ProtocolHeaderSize;
  return STATUS_SUCCESS;
}

void SmartcardInvertData(uint8_t* buffer, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    uint8_t b = buffer[i];
    uint8_t r = 0;
    for (int bit = 0; bit < 8; ++bit) {
      r = static_cast<uint8_t>((r << 1) | (b & 1));
      b >>= 1;
    }
    buffer[i] = static_cast<uint8_t>(~r);
  }
}
