// The exit statuses of every launcher (README, "Exit status").
#pragma once

namespace launch {

inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;        // a scripted action or an operation failed
inline constexpr int kUsage = 64;        // the command line is wrong
inline constexpr int kBadData = 65;      // an input is malformed
inline constexpr int kNoInput = 66;      // an input is missing or cannot be read
inline constexpr int kCannotMake = 73;   // an output cannot be made

}  // namespace launch
