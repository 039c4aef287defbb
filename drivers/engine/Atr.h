// The card's answer to reset: decoding it into the card capabilities and
// choosing Fi/Di, clock and data rate against the reader's lists.
#pragma once

#include "SmartcardExtension.h"

// F and fmax by Fi index; entries with F = 0 are not accepted.
extern const ClockRateEntry ClockRateConversion[16];
// D as a fraction by Di index; entries with a zero numerator are not accepted.
extern const BitRateEntry BitRateAdjustment[16];

// Reader data-rate lists (bit/s). dataRatesSupported is the list of each
// build before the reader information; the others are chosen after it.
extern const uint32_t dataRatesSupported[];
extern const uint8_t dataRatesSupportedCount;  // CE 5, Mac 8
extern const uint32_t dataRatesSupported381[4];
extern const uint32_t dataRatesSupportedET[15];
extern const uint32_t dataRatesSupportedET2[13];  // first 13 of dataRatesSupportedET
constexpr uint8_t dataRatesSupported381Count = 4;
constexpr uint8_t dataRatesSupportedETCount = 15;
constexpr uint8_t dataRatesSupportedET2Count = 13;

// 1 doubled n times, modulo 2^32.
uint32_t PowerOfTwo(uint8_t n);

// Checks and decodes the ATR held in the card capabilities and fills the
// timing, protocol and PPS fields. STATUS_SUCCESS, STATUS_UNRECOGNIZED_MEDIA
// (unusable ATR) or STATUS_INVALID_PARAMETER (no usable Fi/Di or clock).
NTSTATUS SmartcardUpdateCardCapabilities(SmartcardExtension* SmartcardExtension);
