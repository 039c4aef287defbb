// Runs a launcher as a person does from a shell: the command line through
// /bin/sh, standard output and errors together, the exit status. With a file
// size limit, no file of the program may grow past that many bytes: a write
// beyond it fails with "File too large" (SIGXFSZ ignored), as on a full disk.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <optional>
#include <string>

namespace vqtest {

struct LaunchResult {
  int status = -1;  // the exit status; -1 when the program did not end by itself
  std::string out;
  bool Has(const std::string& text) const { return out.find(text) != std::string::npos; }
};

inline LaunchResult Launch(const std::string& command, std::optional<size_t> fileSizeLimit = std::nullopt) {
  LaunchResult result;
  int fds[2];
  if (::pipe(fds) != 0) return result;
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return result;
  }
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::dup2(fds[1], 2);
    ::close(fds[0]);
    ::close(fds[1]);
    if (fileSizeLimit) {
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{*fileSizeLimit, *fileSizeLimit};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
    }
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n > 0) result.out.append(buffer, static_cast<size_t>(n));
    else if (n == 0 || errno != EINTR) break;
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace vqtest
