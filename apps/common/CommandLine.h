// The command-line parse of the launchers: --help prints the help and ends
// with 0, every error of the command line is printed and ends with 64.
#pragma once

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>

#include "ExitStatus.h"

namespace launch {

// std::nullopt when the program goes on, else the status to end with.
inline std::optional<int> Parse(CLI::App& app, int argc, char** argv) {
  try {
    app.parse(argc, argv);
    return std::nullopt;
  } catch (const CLI::ParseError& error) {
    return app.exit(error) == 0 ? kOk : kUsage;
  }
}

// An input file named on the command line (a script): 0 when it can be
// read, else "PROGRAM: OPTION FILE: why" is printed and 66 returned.
inline int CheckInputFile(const char* program, const char* option, const std::string& file) {
  std::error_code ec;
  std::string why;
  if (std::filesystem::is_directory(file, ec)) {
    why = "is a folder, not a file";
  } else if (std::ifstream in(file); !in) {
    why = std::string("cannot be read: ") + std::strerror(errno);
  } else {
    return kOk;
  }
  std::cerr << program << ": " << option << " " << file << ": " << why << "\n";
  return kNoInput;
}

}  // namespace launch
