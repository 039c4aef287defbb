#include "vqsim/SocketLink.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace vqsim {

namespace {

constexpr uint32_t kMaxBody = 1u << 20;
constexpr int kControlWaitMs = 5000;
constexpr int kGraceMs = 2000;  // the server answers a timed read by its time-out; this is slack

using Clock = std::chrono::steady_clock;

int Remaining(Clock::time_point deadline) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return ms < 0 ? 0 : static_cast<int>(ms);
}

bool WriteAll(int fd, const uint8_t* p, size_t n, Clock::time_point deadline) {
  while (n) {
    ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (k > 0) {
      p += k;
      n -= static_cast<size_t>(k);
      continue;
    }
    if (k < 0 && errno == EINTR) continue;
    if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd pf{fd, POLLOUT, 0};
      if (::poll(&pf, 1, Remaining(deadline)) <= 0) return false;
      continue;
    }
    return false;
  }
  return true;
}

bool ReadAll(int fd, uint8_t* p, size_t n, Clock::time_point deadline) {
  while (n) {
    pollfd pf{fd, POLLIN, 0};
    int r = ::poll(&pf, 1, Remaining(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    ssize_t k = ::recv(fd, p, n, MSG_DONTWAIT);
    if (k < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (k <= 0) return false;  // closed or failed
    p += k;
    n -= static_cast<size_t>(k);
  }
  return true;
}

void PutU32(std::vector<uint8_t>& v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(x >> s));
}

int OpenSocket(const std::string& path, std::string* error) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    if (error) *error = "socket path too long: " + path;
    return -1;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (error) *error = "cannot connect to " + path + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return -1;
  }
  return fd;
}

// How long a read of `timeoutMs` may take on the socket: the simulator's own
// time-out plus the grace for its answer, kept within an int.
int ReadWaitMs(uint32_t timeoutMs) {
  return static_cast<int>(std::min<uint64_t>(uint64_t{timeoutMs} + kGraceMs, 1u << 30));
}

LinkStatus StatusOf(uint8_t b) {
  switch (b) {
    case 0: return LinkStatus::Ok;
    case 1: return LinkStatus::Timeout;
    case 2: return LinkStatus::Stalled;
    case 3: return LinkStatus::Unplugged;
    default: return LinkStatus::Error;
  }
}

}  // namespace

SocketLink::SocketLink(std::string path, int fd) : path_(std::move(path)) { bulk_.fd = fd; }

SocketLink::~SocketLink() {
  if (bulk_.fd >= 0) ::close(bulk_.fd);
  if (irq_.fd >= 0) ::close(irq_.fd);
}

std::unique_ptr<SocketLink> SocketLink::Connect(const std::string& path, std::string* error) {
  int fd = OpenSocket(path, error);
  if (fd < 0) return nullptr;
  std::unique_ptr<SocketLink> link(new SocketLink(path, fd));
  std::vector<uint8_t> a;
  if (!link->Call(link->bulk_, {'D'}, &a, kControlWaitMs) || a.size() < 9 || a[0] != 0) {
    if (error) *error = "no device identity from " + path;
    return nullptr;
  }
  link->vendor_ = static_cast<uint16_t>(a[1] << 8 | a[2]);
  link->product_ = static_cast<uint16_t>(a[3] << 8 | a[4]);
  link->location_ = uint32_t{a[5]} << 24 | uint32_t{a[6]} << 16 | uint32_t{a[7]} << 8 | a[8];
  return link;
}

bool SocketLink::Call(Conn& c, const std::vector<uint8_t>& request, std::vector<uint8_t>* answer, int waitMs) {
  if (c.broken || c.fd < 0) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  std::vector<uint8_t> msg;
  PutU32(msg, static_cast<uint32_t>(request.size()));
  msg.insert(msg.end(), request.begin(), request.end());
  uint8_t len[4];
  bool ok = WriteAll(c.fd, msg.data(), msg.size(), deadline) && ReadAll(c.fd, len, 4, deadline);
  if (ok) {
    const uint32_t n = uint32_t{len[0]} << 24 | uint32_t{len[1]} << 16 | uint32_t{len[2]} << 8 | len[3];
    ok = n >= 1 && n <= kMaxBody;
    if (ok) {
      answer->resize(n);
      ok = ReadAll(c.fd, answer->data(), n, deadline);
    }
  }
  if (!ok) c.broken = true;  // out of step or gone: no later answer can be trusted
  return ok;
}

LinkStatus SocketLink::Failed() {
  std::function<void()> w;
  {
    std::lock_guard lock(wakeMu_);
    w = wakeup_;
  }
  if (w) w();
  return LinkStatus::Error;
}

void SocketLink::SetWakeup(std::function<void()> wakeup) {
  std::lock_guard lock(wakeMu_);
  wakeup_ = std::move(wakeup);
}

LinkStatus SocketLink::BulkOut(const uint8_t* data, size_t len) {
  std::vector<uint8_t> req(1 + len);
  req[0] = 'O';
  if (len) std::memcpy(req.data() + 1, data, len);
  std::vector<uint8_t> a;
  bool ok;
  {
    std::lock_guard lock(bulk_.mu);
    ok = Call(bulk_, req, &a, kControlWaitMs);
  }
  if (!ok) return Failed();
  LinkStatus s = StatusOf(a[0]);
  if (s == LinkStatus::Unplugged) Failed();
  return s == LinkStatus::Error ? LinkStatus::Error : s;
}

LinkStatus SocketLink::Received(const std::vector<uint8_t>& answer, uint8_t* buf, size_t cap, size_t* got) {
  LinkStatus s = StatusOf(answer[0]);
  if (s == LinkStatus::Ok) {
    const size_t n = std::min(cap, answer.size() - 1);
    if (n && buf) std::memcpy(buf, answer.data() + 1, n);
    if (got) *got = n;
  }
  if (s == LinkStatus::Unplugged) Failed();
  return s;
}

LinkStatus SocketLink::BulkIn(uint8_t* buf, size_t cap, size_t* got, uint32_t timeoutMs) {
  if (got) *got = 0;
  std::vector<uint8_t> req{'I'};
  PutU32(req, static_cast<uint32_t>(std::min<size_t>(cap, kMaxBody - 1)));
  PutU32(req, timeoutMs);
  std::vector<uint8_t> a;
  bool ok;
  {
    std::lock_guard lock(bulk_.mu);
    ok = Call(bulk_, req, &a, ReadWaitMs(timeoutMs));
  }
  if (!ok) return Failed();
  return Received(a, buf, cap, got);
}

LinkStatus SocketLink::InterruptIn(uint8_t* buf, size_t cap, size_t* got, uint32_t timeoutMs) {
  if (got) *got = 0;
  std::vector<uint8_t> req{'N'};
  PutU32(req, static_cast<uint32_t>(std::min<size_t>(cap, 64)));
  PutU32(req, timeoutMs);
  std::vector<uint8_t> a;
  bool ok;
  {
    std::lock_guard lock(irq_.mu);
    if (irq_.fd < 0 && !irq_.broken) {
      irq_.fd = OpenSocket(path_, nullptr);
      if (irq_.fd < 0) irq_.broken = true;
    }
    ok = Call(irq_, req, &a, ReadWaitMs(timeoutMs));
  }
  if (!ok) return Failed();
  return Received(a, buf, cap, got);
}

LinkStatus SocketLink::ClearStall() {
  std::vector<uint8_t> a;
  bool ok;
  {
    std::lock_guard lock(bulk_.mu);
    ok = Call(bulk_, {'C'}, &a, kControlWaitMs);
  }
  if (!ok) return Failed();
  return StatusOf(a[0]);
}

bool SocketLink::Busy() {
  std::vector<uint8_t> a;
  std::lock_guard lock(bulk_.mu);
  return Call(bulk_, {'D'}, &a, kControlWaitMs) && a.size() >= 10 && a[0] == 0 && a[9] != 0;
}

bool SocketLink::Control(std::vector<uint8_t> request) {
  std::vector<uint8_t> a;
  std::lock_guard lock(bulk_.mu);
  return Call(bulk_, request, &a, kControlWaitMs) && a[0] == 0;
}

bool SocketLink::InsertCard(const std::string& kindAndAtr) {
  std::vector<uint8_t> req{'A'};
  req.insert(req.end(), kindAndAtr.begin(), kindAndAtr.end());
  return Control(std::move(req));
}
bool SocketLink::RemoveCard() { return Control({'R'}); }
bool SocketLink::Unplug() { return Control({'U'}); }
bool SocketLink::SetBusy(bool busy) { return Control({'B', static_cast<uint8_t>(busy ? 1 : 0)}); }
bool SocketLink::StallBulk() { return Control({'S'}); }

}  // namespace vqsim
