// When a folder's names may be kept: only once a later change of the folder
// is sure to show as another change time, at the file system's stamp size.
#include "FolderListings.h"

#include <gtest/gtest.h>

namespace {

TEST(FolderListings, NamesAreKeptOnlyOnceALaterChangeGetsAnotherChangeTime) {
  struct {
    const char* name;
    timespec changed, readAt;
    bool kept;
  } const cases[] = {
      // Nanosecond stamps: 50 ms.
      {"sub-second, 40 ms after", {100, 500'000'000}, {100, 540'000'000}, false},
      {"sub-second, 60 ms after", {100, 500'000'000}, {100, 560'000'000}, true},
      // Whole-second or 2-second stamps: a change stamped 100 s may have
      // happened just before 102 s.
      {"whole seconds, 1.9 s after", {100, 0}, {101, 900'000'000}, false},
      {"whole seconds, 2.04 s after", {100, 0}, {102, 40'000'000}, false},
      {"whole seconds, 2.06 s after", {100, 0}, {102, 60'000'000}, true},
      {"read before the change time (clock set back)", {100, 0}, {99, 0}, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(vqwin::ChangeTimeTellsLaterChanges(c.changed, c.readAt), c.kept) << c.name;
}

}  // namespace
