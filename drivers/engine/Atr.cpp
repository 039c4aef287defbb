#include "Atr.h"

#include <string.h>

#include "T0Raw.h"

const ClockRateEntry ClockRateConversion[16] = {
    {1, 9600},       {372, 5000000},  {558, 6000000},   {744, 8000000},
    {1116, 12000000}, {1488, 16000000}, {1860, 20000000}, {0, 0},
    {0, 0},          {512, 5000000},  {768, 7500000},   {1024, 10000000},
    {1536, 15000000}, {2048, 20000000}, {0, 0},           {0, 0},
};

const BitRateEntry BitRateAdjustment[16] = {
    {0, 0},  {1, 1},  {2, 1},  {4, 1},  {8, 1},  {16, 1}, {32, 1}, {0, 0},
    {12, 1}, {20, 1}, {1, 2},  {1, 4},  {1, 8},  {1, 16}, {1, 32}, {1, 64},
};

#if VQ_BUILD_CE
const uint32_t dataRatesSupported[] = {9600, 19200, 38400, 57600, 115200};
const uint8_t dataRatesSupportedCount = 5;
#else
const uint32_t dataRatesSupported[] = {9600, 19200, 38400, 115200, 115200, 115200, 115200, 115200};
const uint8_t dataRatesSupportedCount = 8;
#endif

const uint32_t dataRatesSupported381[4] = {9600, 19200, 38400, 115200};
const uint32_t dataRatesSupportedET[15] = {9600,  12800, 13950, 18600, 19200,
                                           23040, 27900, 28800, 37200, 38400,
                                           55800, 57600, 74400, 111600, 115200};
const uint32_t dataRatesSupportedET2[13] = {9600,  12800, 13950, 18600, 19200, 23040, 27900,
                                            28800, 37200, 38400, 55800, 57600, 74400};

uint32_t PowerOfTwo(uint8_t n) {
  uint32_t result = 1;
  for (uint8_t i = 0; i < n; ++i) result <<= 1;
  return result;
}

namespace {

// Interface bytes of the ATR, by level (TA1 = TA[0] ...).
struct InterfaceBytes {
  uint8_t TA[4];
  uint8_t TB[4];
  uint8_t TC[4];
  uint8_t TD[4];
  uint32_t protocolMask;
  uint32_t distinctProtocols;
  bool ta2Present;
};

// Restores an ATR that was turned into direct form.
void UndoInversion(CardCapabilities& caps) {
  if (caps.InversConvention == 1) {
    SmartcardInvertData(caps.ATR, caps.ATRLength);
    caps.InversConvention = 0;
  }
}

// Checks the ATR and decodes its interface and historical bytes.
NTSTATUS ParseAtr(CardCapabilities& caps, InterfaceBytes& ib) {
  const uint32_t length = caps.ATRLength;
  if (length < 2 || length > sizeof caps.ATR) return STATUS_UNRECOGNIZED_MEDIA;
  const uint8_t ts = caps.ATR[0];
  if (ts != 0x3B && ts != 0x3F && ts != 0x03) return STATUS_UNRECOGNIZED_MEDIA;
  if (ts == 0x03) {
    caps.InversConvention = 1;
    SmartcardInvertData(caps.ATR, length);
  }
  const uint8_t* atr = caps.ATR;

  uint8_t check = 0;
  for (uint32_t i = 1; i < length; ++i) check ^= atr[i];

  memset(&ib, 0, sizeof ib);
  ib.TA[0] = 0x11;
  ib.TB[0] = 0x25;
  ib.TC[1] = 10;

  const uint8_t t0 = atr[1];
  const uint32_t historical = t0 & 0x0F;
  int32_t remaining = static_cast<int32_t>(length) - 2;
  uint32_t y = t0 & 0xF0;
  uint32_t next = 2;
  // Interface bytes announced beyond the ATR's length are not read; the
  // length check below refuses such an ATR.
  auto take = [&](uint8_t& into) {
    if (next < length) into = atr[next];
    ++next;
    --remaining;
  };
  for (int level = 0; level < 4; ++level) {
    if (y & 0x10) {
      take(ib.TA[level]);
      if (level == 1) ib.ta2Present = true;
    }
    if (y & 0x20) take(ib.TB[level]);
    if (y & 0x40) take(ib.TC[level]);
    if (!(y & 0x80)) break;
    uint8_t td = 0;
    take(td);
    ib.TD[level] = td & 0x0F;
    y = td & 0xF0;
    const uint32_t bit = 1u << (td & 0x0F);
    if (!(ib.protocolMask & bit)) ++ib.distinctProtocols;
    ib.protocolMask |= bit;
  }

  bool good = true;
  if (ib.protocolMask & ~1u) {
    --remaining;  // TCK
    if (check != 0) good = false;
  }
  if (remaining != static_cast<int32_t>(historical)) good = false;
  if (!good) {
    UndoInversion(caps);
    return STATUS_UNRECOGNIZED_MEDIA;
  }

  memcpy(caps.HistoricalChars, atr + next, historical);
  caps.HistoricalCount = static_cast<uint8_t>(historical);
  caps.Fl = ib.TA[0] >> 4;
  caps.Dl = ib.TA[0] & 0x0F;
  caps.II = ib.TB[0] >> 6;
  caps.P = ib.TB[1] != 0 ? ib.TB[1] : static_cast<uint8_t>((ib.TB[0] & 0x1F) * 10);
  caps.N = ib.TC[0];

  if (BitRateAdjustment[caps.Dl].DNumerator == 0 || ClockRateConversion[caps.Fl].F == 0) {
    return STATUS_UNRECOGNIZED_MEDIA;
  }
  return STATUS_SUCCESS;
}

// An empty list becomes the two-entry list {default, maximum} of the record.
void UseDefaultMaxIfEmpty(RateList& list, const DefaultMax& pair) {
  if (list.Entries == 0 || list.List == nullptr) {
    list.List = &pair.Default;
    list.Entries = 2;
  }
}

// Chooses offered Fi/Di, the clock and the data rate; leaves the clock in Hz.
NTSTATUS ChooseRates(SmartcardExtension* ext, uint64_t& clockHz) {
  CardCapabilities& caps = ext->CardCapabilities;
  ReaderCapabilities& reader = ext->ReaderCapabilities;

  clockHz = reader.CLKFrequency.Default != 0 ? uint64_t{reader.CLKFrequency.Default} * 1000
                                             : 3571200;
  if (caps.PpsMode == 0) {
    caps.PtsFl = 1;
    caps.PtsDl = 1;
    caps.ChosenDataRate = reader.DataRate.Default;
    caps.ChosenClock = reader.CLKFrequency.Default;
    return STATUS_SUCCESS;
  }
  if (caps.PpsMode == 1) caps.PtsFl = caps.Fl;
  if (caps.PtsFl > 15 || ClockRateConversion[caps.PtsFl].F == 0) return STATUS_INVALID_PARAMETER;

  for (;;) {
    UseDefaultMaxIfEmpty(reader.CLKFrequenciesSupported, reader.CLKFrequency);
    const uint32_t fmaxKhz = ClockRateConversion[caps.PtsFl].fs / 1000;
    uint32_t clock = 0;
    for (uint8_t i = 0; i < reader.CLKFrequenciesSupported.Entries; ++i) {
      const uint32_t c = reader.CLKFrequenciesSupported.List[i];
      if (c <= fmaxKhz && c > clock) clock = c;
    }
    caps.ChosenClock = clock;
    clockHz = uint64_t{clock} * 1000;
    caps.ChosenDataRate = 0;
    if (clock == 0) return STATUS_INVALID_PARAMETER;

    if (caps.PpsMode == 1) caps.PtsDl = caps.Dl;
    if (caps.PtsDl > 15 || BitRateAdjustment[caps.PtsDl].DNumerator == 0) {
      return STATUS_INVALID_PARAMETER;
    }
    UseDefaultMaxIfEmpty(reader.DataRatesSupported, reader.DataRate);

    bool found = false;
    while (caps.PtsDl > 1) {
      const BitRateEntry& d = BitRateAdjustment[caps.PtsDl];
      const uint64_t f = ClockRateConversion[caps.PtsFl].F;
      const uint64_t candidate = (d.DNumerator * clockHz) / (d.DDivisor * f) * 100;
      for (uint8_t i = 0; i < reader.DataRatesSupported.Entries; ++i) {
        const uint64_t r = reader.DataRatesSupported.List[i];
        if (r * 101 > candidate && r * 99 < candidate) {
          caps.ChosenDataRate = static_cast<uint32_t>(r);
          found = true;
          break;
        }
      }
      if (found) break;
      do {
        --caps.PtsDl;
      } while (BitRateAdjustment[caps.PtsDl].DNumerator == 0);
    }

    if (caps.PtsFl == 1 && caps.PtsDl == 1) {
      caps.ChosenDataRate = reader.DataRate.Default;
      caps.ChosenClock = reader.CLKFrequency.Default;
      return STATUS_SUCCESS;
    }
    if (found) return STATUS_SUCCESS;
    // No lower Fi index to try (index 0 has no index below it).
    if (caps.PtsFl == 0) return STATUS_INVALID_PARAMETER;
    do {
      --caps.PtsFl;
    } while (ClockRateConversion[caps.PtsFl].F == 0);
  }
}

}  // namespace

NTSTATUS SmartcardUpdateCardCapabilities(SmartcardExtension* ext) {
  if (ext == nullptr) return STATUS_INVALID_PARAMETER;
  CardCapabilities& caps = ext->CardCapabilities;

  InterfaceBytes ib;
  NTSTATUS status = ParseAtr(caps, ib);
  if (status != STATUS_SUCCESS) return status;

  uint64_t clockHz = 0;
  status = ChooseRates(ext, clockHz);
  if (status != STATUS_SUCCESS) return status;

  const ClockRateEntry& fi = ClockRateConversion[caps.PtsFl];
  const BitRateEntry& di = BitRateAdjustment[caps.PtsDl];
  caps.etu = static_cast<uint32_t>(uint64_t{fi.F} * di.DDivisor * 1000000 /
                                   (uint64_t{di.DNumerator} * clockHz) + 1);

  caps.GT = 0;
  if (caps.N == 0) {
    caps.GuardMode = 2;
  } else if (caps.N == 255) {
    caps.GuardMode = 1;
  } else {
    caps.GT = caps.N * caps.etu;
  }

  const bool specific =
      ib.ta2Present || (ib.distinctProtocols <= 1 && caps.Fl == 1 && caps.Dl == 1);
  ext->ReaderCapabilities.CurrentState = specific ? CardStateSpecific : CardStateNegotiable;

  if (ib.TD[0] == 0) {
    caps.ProtocolsOffered |= ProtocolT0;
    caps.T0.WI = ib.TC[1];
    caps.T0.WT = static_cast<uint32_t>(
        1 + uint64_t{caps.T0.WI} * 960 * caps.etu * di.DNumerator / di.DDivisor);
  }

  if (ib.protocolMask & (1u << 1)) {
    // A card whose first run of TDs naming T=1 reaches the fourth TD is
    // refused: T=1 is announced past the levels read.
    uint32_t k = 0;
    while (k < 4 && ib.TD[k] != 1) ++k;
    while (k < 4 && ib.TD[k] == 1) ++k;
    if (k == 4) return STATUS_UNRECOGNIZED_MEDIA;
    // T=1's own bytes are TA_i, TB_i, TC_i of the first level from i = 3 on
    // whose TD_(i-1) names T=1; the bytes of level 2 are T=0's and the
    // specific mode's even when TD1 names T=1. No such level: the defaults.
    uint32_t level = 2;
    while (level < 4 && ib.TD[level - 1] != 1) ++level;
    const uint8_t ta = level < 4 ? ib.TA[level] : 0;
    const uint8_t tb = level < 4 ? ib.TB[level] : 0;
    const uint8_t tc = level < 4 ? ib.TC[level] : 0;
    caps.ProtocolsOffered |= ProtocolT1;
    caps.T1.IFSC = ta != 0 ? ta : 32;
    caps.T1.CWI = (tb & 0x0F) != 0 ? (tb & 0x0F) : 13;
    caps.T1.BWI = (tb >> 4) != 0 ? (tb >> 4) : 4;
    caps.T1.EDC = tc & 1;
    caps.T1.CWT = static_cast<uint32_t>((uint64_t{PowerOfTwo(caps.T1.CWI)} + 11) * caps.etu + 1);
    caps.T1.BWT = static_cast<uint32_t>(uint64_t{PowerOfTwo(caps.T1.BWI)} * 1000000 / 10 +
                                        uint64_t{11} * caps.etu + 1);
  }

  if (specific) {
    caps.CurrentProtocol =
        ib.ta2Present ? (1u << (ib.TA[1] & 0x0F)) : (caps.ProtocolsOffered & ~ProtocolRaw);
  }
  caps.ProtocolsOffered |= ProtocolRaw;
  return STATUS_SUCCESS;
}
