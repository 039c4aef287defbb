// The floor of the pcscd benchmark: an IFD handler (interface 2.0) with one
// reader that always holds a powered T=1 card and answers every command at
// once, with as many bytes as the simulated card gives for the benchmark's
// commands: a command that only asks (CLA INS P1 P2 Le) gets Le bytes, one
// that sends data (CLA INS P1 P2 Lc data [Le]) gets its data back, each then
// 90 00. What pcscd and its client cost by themselves, moving the same bytes,
// is what a transmit through this handler costs.
#include <string.h>

#define IFDHANDLERv2
extern "C" {
#include <ifdhandler.h>
}

#define ECHO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// T=1, TA1 0x13, IFSC 254; historical bytes "VQTEST"; TCK.
const UCHAR kAtr[] = {0x3B, 0x96, 0x13, 0x81, 0x31, 0xFE, 0x45, 0x56,
                      0x51, 0x54, 0x45, 0x53, 0x54, 0x9F};

}  // namespace

ECHO_EXPORT RESPONSECODE IFDHCreateChannel(DWORD, DWORD) { return IFD_SUCCESS; }

ECHO_EXPORT RESPONSECODE IFDHCloseChannel(DWORD) { return IFD_SUCCESS; }

ECHO_EXPORT RESPONSECODE IFDHGetCapabilities(DWORD, DWORD Tag, PDWORD Length, PUCHAR Value) {
  if (!Length) return IFD_COMMUNICATION_ERROR;
  DWORD size = Value ? *Length : 0;
  *Length = 0;
  switch (Tag) {
    case TAG_IFD_SLOTS_NUMBER:
    case TAG_IFD_SIMULTANEOUS_ACCESS:
      if (size < 1) return IFD_ERROR_INSUFFICIENT_BUFFER;
      Value[0] = 1;
      *Length = 1;
      return IFD_SUCCESS;
    case TAG_IFD_ATR:
      if (size < sizeof kAtr) return IFD_ERROR_INSUFFICIENT_BUFFER;
      memcpy(Value, kAtr, sizeof kAtr);
      *Length = sizeof kAtr;
      return IFD_SUCCESS;
    default:
      return IFD_ERROR_TAG;
  }
}

ECHO_EXPORT RESPONSECODE IFDHSetCapabilities(DWORD, DWORD, DWORD, PUCHAR) {
  return IFD_ERROR_TAG;
}

ECHO_EXPORT RESPONSECODE IFDHSetProtocolParameters(DWORD, DWORD, UCHAR, UCHAR, UCHAR, UCHAR) {
  return IFD_SUCCESS;
}

ECHO_EXPORT RESPONSECODE IFDHPowerICC(DWORD, DWORD Action, PUCHAR Atr, PDWORD AtrLength) {
  if (!AtrLength) return IFD_COMMUNICATION_ERROR;
  DWORD size = Atr ? *AtrLength : 0;
  *AtrLength = 0;
  if (Action == IFD_POWER_DOWN) return IFD_SUCCESS;
  if (Action != IFD_POWER_UP && Action != IFD_RESET) return IFD_NOT_SUPPORTED;
  if (size < sizeof kAtr) return IFD_COMMUNICATION_ERROR;
  memcpy(Atr, kAtr, sizeof kAtr);
  *AtrLength = sizeof kAtr;
  return IFD_SUCCESS;
}

ECHO_EXPORT RESPONSECODE IFDHTransmitToICC(DWORD, SCARD_IO_HEADER SendPci, PUCHAR TxBuffer,
                                           DWORD TxLength, PUCHAR RxBuffer, PDWORD RxLength,
                                           PSCARD_IO_HEADER RecvPci) {
  if (!RxLength) return IFD_COMMUNICATION_ERROR;
  DWORD size = RxBuffer ? *RxLength : 0;
  *RxLength = 0;
  if (!TxBuffer && TxLength) return IFD_COMMUNICATION_ERROR;
  const UCHAR* data = nullptr;
  DWORD dataLength = 0;  // bytes answered before 90 00
  if (TxLength == 5) {
    dataLength = TxBuffer[4] ? TxBuffer[4] : 256;
  } else if (TxLength > 5) {
    dataLength = TxBuffer[4];
    if (TxLength < 5 + dataLength) return IFD_COMMUNICATION_ERROR;
    data = TxBuffer + 5;
  }
  if (size < dataLength + 2) return IFD_ERROR_INSUFFICIENT_BUFFER;
  if (data) {
    memcpy(RxBuffer, data, dataLength);
  } else {
    memset(RxBuffer, 0, dataLength);
  }
  RxBuffer[dataLength] = 0x90;
  RxBuffer[dataLength + 1] = 0x00;
  *RxLength = dataLength + 2;
  if (RecvPci) RecvPci->Protocol = SendPci.Protocol;
  return IFD_SUCCESS;
}

ECHO_EXPORT RESPONSECODE IFDHControl(DWORD, PUCHAR, DWORD, PUCHAR, PDWORD RxLength) {
  if (RxLength) *RxLength = 0;
  return IFD_NOT_SUPPORTED;
}

ECHO_EXPORT RESPONSECODE IFDHICCPresence(DWORD) { return IFD_ICC_PRESENT; }
