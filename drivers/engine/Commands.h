// The reader commands: power, PPS and protocol parameters, transmission,
// vendor operations and card tracking, as frames of the reader protocol.
// Inputs and outputs go through the context's I/O request.
#pragma once

#include "SmartcardExtension.h"

// Message types of the reader protocol.
constexpr uint8_t ReaderMsgGetInfo = 0x60;
constexpr uint8_t ReaderMsgSetParameters = 0x61;
constexpr uint8_t ReaderMsgPowerOn = 0x62;
constexpr uint8_t ReaderMsgPowerOff = 0x63;
constexpr uint8_t ReaderMsgGetSlotStatus = 0x65;
constexpr uint8_t ReaderMsgEscape = 0x6B;
constexpr uint8_t ReaderMsgXfrBlock = 0x6F;
constexpr uint8_t ReaderMsgReReset = 0x59;
constexpr uint8_t ReaderMsgSetSpeed = 0x51;
constexpr uint8_t ReaderReplyDataBlock = 0x80;
constexpr uint8_t ReaderReplySlotStatus = 0x81;

// Error byte of a failed transfer block.
constexpr uint8_t ReaderErrorNotReady = 0xBE;
constexpr uint8_t ReaderErrorCardMute = 0xFE;

// Payload byte of the speed command.
constexpr uint8_t ReaderSetSpeedByte = 0x0E;

// Firmware version thresholds.
constexpr uint32_t FirmwareEtThreshold = 63;         // above: max IFSD 252, dataRatesSupportedET
constexpr uint32_t FirmwareFlag381 = 0x100;          // set: dataRatesSupported381
constexpr uint32_t FirmwareSpeedCmdThreshold = 64;   // above (without 0x100): speed command
constexpr uint32_t FirmwarePpsT0Limit = 112;         // at or below: no PPS 0x10/0x18

// ATR reported for the reader's fixed-ATR card types (2 and 3), and the ATR
// of the card that needs a pause before each transfer (Windows CE).
constexpr uint32_t FixedCardAtrLength = 24;
extern const uint8_t FixedCardAtr[FixedCardAtrLength];
constexpr uint32_t DelayedCardAtrLength = 8;
extern const uint8_t DelayedCardAtr[DelayedCardAtrLength];
// Pause before each transfer to the delayed-ATR card (ms, Windows CE).
constexpr uint32_t DelayedCardPauseMs = 500;

// Vendor codes.
#if VQ_BUILD_CE
constexpr uint32_t IOCTL_SMARTCARD_VENDOR_ESCAPE = 0x312000;
constexpr uint32_t IOCTL_SMARTCARD_VENDOR_INFO = 0x312004;
#else
constexpr uint32_t VendorCodeEscape = 0x100;
constexpr uint32_t VendorCodeReaderInfo = 0x101;
#endif

// Firmware version from the four digits at bytes 12-15 of the reader
// information: "0040" gives 64, "0100" gives 256.
uint32_t ReaderFirmwareVersion(const uint8_t* InfoBlock);

// Takes the 16 bytes of a reader-information answer: keeps them as the
// ReaderInfoBlock, sets the firmware version and the succeeded flag, and
// chooses the max IFSD and the data-rate list (default and max rate).
void ReaderApplyInfo(SmartcardExtension* SmartcardExtension, const uint8_t* InfoBlock);

// After a power-on or re-reset answer: the ATR, the caller's output and the
// fixed-ATR and delayed-ATR flags. Always STATUS_SUCCESS.
NTSTATUS CCID_ReturnATR(SmartcardExtension* SmartcardExtension);

// One PPS exchange with the offered Fi/Di indices for the protocol of the
// minor code. The Mac build may first take the offered indices from Pps1.
#if VQ_BUILD_CE
NTSTATUS CCID_SmartcardPTS(SmartcardExtension* SmartcardExtension);
#else
NTSTATUS CCID_SmartcardPTS(SmartcardExtension* SmartcardExtension, uint8_t UsePps1, uint8_t Pps1);
#endif

// Hands the reply frame's payload to the reply routine of the current protocol.
NTSTATUS CCID_SmartcardIoReply(SmartcardExtension* SmartcardExtension);

#if VQ_BUILD_CE
// Arms card tracking: STATUS_PENDING; the card-status thread completes it.
NTSTATUS CCID_SmartcardCardTracking(SmartcardExtension* SmartcardExtension);
#endif

// Escape (the reader's bytes back to the caller) and reader information.
NTSTATUS CCID_SmartcardVender(SmartcardExtension* SmartcardExtension);

// Power down, cold reset, warm reset: CE the minor code 0, 1, 2; Mac the
// device part's power mode 0 down, 1 reset, 2 power up.
NTSTATUS CCID_SmartcardPower(SmartcardExtension* SmartcardExtension);

// PPS and protocol parameters for the protocol mask of the minor code.
#if VQ_BUILD_CE
NTSTATUS CCID_SmartcardSetProtocol(SmartcardExtension* SmartcardExtension);
#else
NTSTATUS CCID_SmartcardSetProtocol(SmartcardExtension* SmartcardExtension, uint8_t UsePps1,
                                   uint8_t Pps1);
#endif

// One command of the caller to the card and its answer.
NTSTATUS CCID_SmartcardTransmit(SmartcardExtension* SmartcardExtension);
