#include "vqwin/HostFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace vqwin {
namespace {

std::string Failed(const std::string& step, int error) { return step + ": " + std::strerror(error); }

// A scratch name of this process beside `file` that no file has yet.
int OpenScratch(const std::filesystem::path& file, std::string& scratch) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    scratch = file.string() + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    const int fd = ::open(scratch.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

}  // namespace

bool WriteWholeFile(const std::filesystem::path& file, std::string_view bytes, std::string& reason) {
  std::string scratch;
  const int fd = OpenScratch(file, scratch);
  if (fd < 0) {
    reason = Failed("cannot make " + scratch, errno);
    return false;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      reason = Failed("cannot write " + scratch, n < 0 ? errno : ENOSPC);
      ::close(fd);
      ::unlink(scratch.c_str());
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) {
    reason = Failed("cannot close " + scratch, errno);
    ::unlink(scratch.c_str());
    return false;
  }
  if (::rename(scratch.c_str(), file.c_str()) != 0) {
    reason = Failed("cannot rename " + scratch + " to " + file.string(), errno);
    ::unlink(scratch.c_str());
    return false;
  }
  return true;
}

bool ReadWholeFile(const std::filesystem::path& file, std::string& bytes, std::string& reason, size_t limit) {
  bytes.clear();
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    reason = Failed("cannot be opened", errno);
    return false;
  }
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      reason = Failed("cannot be read", errno);
      ::close(fd);
      bytes.clear();
      return false;
    }
    if (n == 0) break;
    if (bytes.size() + static_cast<size_t>(n) > limit) {
      reason = "is larger than " + std::to_string(limit) + " bytes";
      ::close(fd);
      bytes.clear();
      return false;
    }
    bytes.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

}  // namespace vqwin
