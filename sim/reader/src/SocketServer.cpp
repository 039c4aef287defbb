#include "vqsim/SocketServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace vqsim {

namespace {

constexpr uint32_t kMaxBody = 1u << 20;
using Clock = std::chrono::steady_clock;

uint8_t Code(LinkStatus s) { return static_cast<uint8_t>(s); }

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  if (b.size() < at + 4) return 0;
  return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
}

}  // namespace

struct SocketServer::Client {
  int fd = -1;
  std::vector<uint8_t> in;
  bool dead = false;
  // A parked timed read.
  char parked = 0;  // 'I' or 'N'
  uint32_t cap = 0;
  Clock::time_point deadline;
};

SocketServer::SocketServer(SimReader& reader, std::string defaultKind, std::vector<uint8_t> defaultAtr)
    : reader_(reader), kind_(std::move(defaultKind)), atr_(std::move(defaultAtr)) {
  int p[2];
  if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) == 0) {
    wakeRead_ = p[0];
    wakeWrite_ = p[1];
  }
}

SocketServer::~SocketServer() {
  for (auto& c : clients_) ::close(c->fd);
  if (listenFd_ >= 0) ::close(listenFd_);
  if (wakeRead_ >= 0) ::close(wakeRead_);
  if (wakeWrite_ >= 0) ::close(wakeWrite_);
}

void SocketServer::Post(char event) {
  if (wakeWrite_ >= 0) {
    ssize_t r = ::write(wakeWrite_, &event, 1);
    (void)r;
  }
}

bool SocketServer::Listen(const std::string& path, std::string* error) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) {
    if (error) *error = "bad socket path: " + path;
    return false;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      if (error) *error = path + " exists and is not a socket";
      return false;
    }
    ::unlink(path.c_str());  // left behind by an earlier run
  }
  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listenFd_, 16) != 0) {
    if (error) *error = "cannot listen on " + path + ": " + std::strerror(errno);
    return false;
  }
  path_ = path;
  return true;
}

void SocketServer::Answer(Client& c, uint8_t status, const std::vector<uint8_t>& data) {
  const uint32_t n = static_cast<uint32_t>(data.size() + 1);
  std::vector<uint8_t> msg{static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8),
                           static_cast<uint8_t>(n), status};
  msg.insert(msg.end(), data.begin(), data.end());
  size_t off = 0;
  while (off < msg.size()) {
    ssize_t k = ::send(c.fd, msg.data() + off, msg.size() - off, MSG_NOSIGNAL);
    if (k < 0 && errno == EINTR) continue;
    if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd pf{c.fd, POLLOUT, 0};
      if (::poll(&pf, 1, 1000) > 0) continue;  // a client that does not read is dropped
    }
    if (k <= 0) {
      c.dead = true;
      return;
    }
    off += static_cast<size_t>(k);
  }
}

bool SocketServer::Transfer(Client& c, bool final) {
  std::vector<uint8_t> buf(std::min<uint32_t>(c.cap, kChunkSize * 2));
  size_t got = 0;
  LinkStatus s = c.parked == 'I' ? reader_.BulkIn(buf.data(), buf.size(), &got, 0)
                                 : reader_.InterruptIn(buf.data(), buf.size(), &got, 0);
  if (s == LinkStatus::Timeout && !final) return false;
  buf.resize(got);
  c.parked = 0;
  Answer(c, Code(s), buf);
  return true;
}

void SocketServer::InsertDefault() {
  if (auto card = MakeCard(kind_, atr_)) reader_.InsertCard(card);
}

void SocketServer::Handle(Client& c, const std::vector<uint8_t>& body) {
  if (body.empty()) return Answer(c, Code(LinkStatus::Error), {});
  const char op = static_cast<char>(body[0]);
  switch (op) {
    case 'O':
      return Answer(c, Code(reader_.BulkOut(body.data() + 1, body.size() - 1)), {});
    case 'I':
    case 'N':
      c.parked = op;
      c.cap = U32(body, 1);
      c.deadline = Clock::now() + std::chrono::milliseconds(U32(body, 5));
      Transfer(c, false);
      return;
    case 'C':
      return Answer(c, Code(reader_.ClearStall()), {});
    case 'D': {
      const uint16_t v = reader_.VendorId(), p = reader_.ProductId();
      const uint32_t l = reader_.LocationId();
      const uint8_t st = reader_.Unplugged() ? Code(LinkStatus::Unplugged) : 0;
      return Answer(c, st,
                    {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v), static_cast<uint8_t>(p >> 8),
                     static_cast<uint8_t>(p), static_cast<uint8_t>(l >> 24), static_cast<uint8_t>(l >> 16),
                     static_cast<uint8_t>(l >> 8), static_cast<uint8_t>(l), static_cast<uint8_t>(reader_.Busy())});
    }
    case 'A': {
      std::string text(body.begin() + 1, body.end());
      if (text.empty()) {
        InsertDefault();
        return Answer(c, 0, {});
      }
      const size_t sp = text.find(' ');
      bool hexOk = true, known = false;
      std::vector<uint8_t> a = sp == std::string::npos ? std::vector<uint8_t>{} : FromHex(text.substr(sp + 1), &hexOk);
      auto card = MakeCard(text.substr(0, sp), a, &known);
      if (!known || !hexOk) return Answer(c, Code(LinkStatus::Error), {});
      if (card) reader_.InsertCard(card);
      else reader_.RemoveCard();
      return Answer(c, 0, {});
    }
    case 'R':
      reader_.RemoveCard();
      return Answer(c, 0, {});
    case 'U':
      reader_.Unplug();
      return Answer(c, 0, {});
    case 'B':
      reader_.SetBusy(body.size() > 1 && body[1]);
      return Answer(c, 0, {});
    case 'S':
      reader_.StallBulk();
      return Answer(c, 0, {});
    default:
      return Answer(c, Code(LinkStatus::Error), {});
  }
}

// Handles the complete requests buffered for `c`, one at a time: a parked
// read holds the rest back.
void SocketServer::Serve(Client& c) {
  while (!c.dead && !c.parked && c.in.size() >= 4) {
    const uint32_t len = U32(c.in, 0);
    if (len > kMaxBody) {
      c.dead = true;
      return;
    }
    if (c.in.size() < 4 + len) return;
    std::vector<uint8_t> body(c.in.begin() + 4, c.in.begin() + 4 + len);
    c.in.erase(c.in.begin(), c.in.begin() + 4 + len);
    Handle(c, body);
  }
}

void SocketServer::Run() {
  if (listenFd_ < 0) return;
  bool stop = false;
  while (!stop) {
    std::vector<pollfd> fds{{listenFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    int wait = -1;
    const auto now = Clock::now();
    for (auto& c : clients_) {
      fds.push_back({c->fd, static_cast<short>(c->parked ? 0 : POLLIN), 0});
      if (c->parked) {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(c->deadline - now).count() + 1;
        if (ms < 0) ms = 0;
        if (wait < 0 || ms < wait) wait = static_cast<int>(ms);
      }
    }
    int r = ::poll(fds.data(), fds.size(), wait);
    if (r < 0 && errno != EINTR) break;
    if (r > 0 && (fds[1].revents & POLLIN)) {
      char ev[32];
      ssize_t n;
      while ((n = ::read(wakeRead_, ev, sizeof ev)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
          if (ev[i] == 'q') stop = true;
          else if (ev[i] == 'r') reader_.RemoveCard();
          else if (ev[i] == 'i') InsertDefault();
        }
      }
    }
    if (r > 0 && (fds[0].revents & POLLIN)) {
      int fd;
      while ((fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0) {
        auto c = std::make_unique<Client>();
        c->fd = fd;
        clients_.push_back(std::move(c));
      }
    }
    for (size_t i = 0; r > 0 && i + 2 < fds.size() && i < clients_.size(); ++i) {
      Client& c = *clients_[i];
      if (fds[i + 2].revents & (POLLERR | POLLHUP | POLLNVAL)) {
        if (!(fds[i + 2].revents & POLLIN)) c.dead = true;
      }
      if (!(fds[i + 2].revents & POLLIN)) continue;
      uint8_t buf[4096];
      ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
      if (n <= 0) {
        if (n == 0 || (errno != EINTR && errno != EAGAIN)) c.dead = true;
        continue;
      }
      c.in.insert(c.in.end(), buf, buf + n);
      Serve(c);
    }
    // Parked reads: answered when there is something or when their time is up.
    for (auto& c : clients_) {
      if (!c->parked || c->dead) continue;
      const bool final = Clock::now() >= c->deadline || reader_.Unplugged();
      if (Transfer(*c, final) && !c->dead) {
        Serve(*c);  // requests that came behind the parked read
      }
    }
    for (size_t i = 0; i < clients_.size();) {
      if (clients_[i]->dead) {
        ::close(clients_[i]->fd);
        clients_.erase(clients_.begin() + static_cast<long>(i));
      } else {
        ++i;
      }
    }
  }
  // Gone for the clients too: a transfer under way fails at once.
  for (auto& c : clients_) ::close(c->fd);
  clients_.clear();
  ::close(listenFd_);
  listenFd_ = -1;
  if (!path_.empty()) ::unlink(path_.c_str());
}

}  // namespace vqsim
