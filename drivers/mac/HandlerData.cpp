#include "IfdHandler.h"

SmartcardExtension* g_pSmartcardExtension[MaxReaders];
int16_t g_slot[MaxReaders];
uint32_t g_IsIFDH20;

uintptr_t device_data[DeviceDescriptionWords] = {
    reinterpret_cast<uintptr_t>("TERVANE"),  // 0x0100 vendor name
    reinterpret_cast<uintptr_t>("VQUSB"),    // 0x0101 IFD type
    1,                                       // 0x0102 IFD version
    reinterpret_cast<uintptr_t>("VQUSB"),    // 0x0103 IFD serial number
    0,                                       // 0x0110 channel id
    3,                                       // 0x0120 protocol types
    9600,                                    // 0x0121 default clock
    9600,                                    // 0x0122 maximum clock
    9600,                                    // 0x0123 default data rate
    9600,                                    // 0x0124 maximum data rate
    240,                                     // 0x0125 maximum IFSD
    16,                                      // 0x0126 synchronous protocol types
    0,                                       // 0x0131 power management
    0,                                       // 0x0140 user-to-card authentication device
    0,                                       // 0x0142 user authentication input device
    0,                                       // 0x0150 characteristics
    0,                                       // not answered
};
