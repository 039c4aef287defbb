// _fsopen: C library streams on machine files. Text mode reads as the Windows
// C library does (CR LF becomes LF, Ctrl-Z ends the file) and writes LF as
// CR LF; binary mode passes the bytes. A read honours the machine's scripted
// "open" failures, as CreateFileA does.
#include <fcntl.h>
#include <share.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "vqwin/FileSystem.h"
#include "vqwin/Machine.h"

namespace {

ssize_t TextWrite(void* cookie, const char* data, size_t size) {
  FILE* f = static_cast<FILE*>(cookie);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\n' && std::fputc('\r', f) == EOF) return -1;
    if (std::fputc(data[i], f) == EOF) return -1;
  }
  return static_cast<ssize_t>(size);
}

int TextClose(void* cookie) { return std::fclose(static_cast<FILE*>(cookie)); }

// The bytes of a file (one open, one status query, reads to its end);
// false for a folder or a file that cannot be read.
bool ReadWhole(const std::filesystem::path& path, std::string& bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
  if (ok && st.st_size > 0) bytes.reserve(static_cast<size_t>(st.st_size));
  char chunk[16384];
  // Bounded by the file's length: read gives 0 at its end.
  while (ok) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    bytes.append(chunk, static_cast<size_t>(n));
  }
  ::close(fd);
  return ok;
}

}  // namespace

extern "C" FILE* _fsopen(const char* filename, const char* mode, int) {
  if (!filename || !mode || !*mode) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const bool binary = std::strchr(mode, 'b') != nullptr;
  const bool reading = mode[0] == 'r' && !std::strchr(mode, '+');
  vqwin::FileSystem& files = vqwin::CurrentMachine().files();
  const vqwin::ResolvedPath r = files.Resolve(filename);
  if (reading) {
    if (!r.exists) {
      SetLastError(r.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
      return nullptr;
    }
    if (DWORD scripted = files.ScriptedFailure("open", r.windowsPath)) {
      SetLastError(scripted);
      return nullptr;
    }
    std::string bytes;
    if (!ReadWhole(r.hostPath, bytes)) {
      SetLastError(ERROR_ACCESS_DENIED);  // a folder, or not readable
      return nullptr;
    }
    if (!binary) {
      std::string text;
      for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == 0x1A) break;
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        text += bytes[i];
      }
      bytes.swap(text);
    }
    FILE* f = fmemopen(nullptr, bytes.size() + 1, "w+");
    if (!f) return nullptr;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    return f;
  }
  std::error_code ec;
  if (r.exists && std::filesystem::is_directory(r.hostPath, ec)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (!r.exists && !r.parentExists) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  if (r.exists && (files.Attributes(r) & FILE_ATTRIBUTE_READONLY)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  std::string hostMode;
  for (const char* p = mode; *p; ++p)
    if (*p != 't' && *p != 'b') hostMode += *p;
  hostMode += 'b';
  FILE* host = std::fopen(r.hostPath.c_str(), hostMode.c_str());
  // Update modes ("r+", "w+") pass the bytes as they are.
  if (!host || binary || std::strchr(mode, '+')) return host;
  cookie_io_functions_t io{};
  io.write = TextWrite;
  io.close = TextClose;
  FILE* f = fopencookie(host, "w", io);
  if (!f) std::fclose(host);
  return f;
}
