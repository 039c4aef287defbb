// Translation of engine statuses to Win32 last errors.
#include <gtest/gtest.h>

#include "IoControl.h"

namespace {

TEST(MapStatusToWin32, TranslatesTheStatusesOfTheDriver) {
  const std::pair<uint32_t, DWORD> cases[] = {
      {0xC0000001, 31},   {0xC000000D, 87},   {0xC0000010, 1},    {0xC0000014, 1785}, {0xC0000016, 234},
      {0xC0000023, 122},  {0xC000009A, 1450}, {0xC000009C, 23},   {0xC000009E, 21},   {0xC00000A3, 21},
      {0xC00000B5, 121},  {0xC00000BB, 50},   {0xC00000E5, 1359}, {0xC0000120, 995},  {0xC0000178, 1112},
      {0xC0000184, 22},   {0xC0000186, 1117}, {0x80000005, 234},  {0x80000002, 998},  {0x80000025, 2402},
      // no mapping, beyond the tables, or another high half: the status itself
      {0x80000001, 0x80000001}, {0x80000027, 0x80000027}, {0xC00002C7, 0xC00002C7},
      {0x80070216, 0x80070216}, {0x00000103, 0x00000103}, {0xC0000000, 0xC0000000},
  };
  for (auto [status, error] : cases) {
    EXPECT_EQ(MapStatusToWin32(static_cast<NTSTATUS>(status)), error) << std::hex << status;
  }
}

TEST(MapStatusToWin32, TablesHoldOnlyWin32Codes) {
  // The table entries are error codes, never statuses or stray values.
  for (uint32_t i = 0; i < StatusMapTableC000Size; ++i) EXPECT_LT(StatusMapTableC000[i], 16000) << i;
  int listed8000 = 0;
  for (uint32_t i = 0; i < StatusMapTable8000Size; ++i) listed8000 += StatusMapTable8000[i] != 0;
  EXPECT_EQ(listed8000, 23);
}

}  // namespace
