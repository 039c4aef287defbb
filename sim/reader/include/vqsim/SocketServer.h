// Serves one SimReader on a Unix socket (see SocketLink.h for the messages).
// Single-threaded: Run() polls the listening socket and every client until
// Stop() is called.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vqsim/Card.h"
#include "vqsim/SimReader.h"

namespace vqsim {

// A card of a kind: t0, t1, t1-crc, inverse, tb1, delayed, type2, type3,
// mute; `atr` (direct form, may be empty) replaces the default ATR of t0, t1,
// t1-crc and inverse. "none" and unknown kinds give nullptr (`known` tells).
std::shared_ptr<Card> MakeCard(const std::string& kind, const std::vector<uint8_t>& atr, bool* known = nullptr);
const char* CardKinds();  // the kinds, for a usage text

class SocketServer {
 public:
  SocketServer(SimReader& reader, std::string defaultKind, std::vector<uint8_t> defaultAtr);
  ~SocketServer();

  // Binds and listens (a stale socket file at the path is replaced).
  bool Listen(const std::string& path, std::string* error);
  // Serves until Stop(); removes the socket file at the end.
  void Run();

  // Safe from any thread and from a signal handler.
  void Stop() { Post('q'); }
  void PostRemoveCard() { Post('r'); }
  void PostInsertCard() { Post('i'); }

 private:
  struct Client;
  void Post(char event);
  void Serve(Client& c);
  void Handle(Client& c, const std::vector<uint8_t>& body);
  void Answer(Client& c, uint8_t status, const std::vector<uint8_t>& data);
  bool Transfer(Client& c, bool final);  // a parked read: answered?
  void InsertDefault();

  SimReader& reader_;
  std::string kind_;
  std::vector<uint8_t> atr_;
  std::string path_;
  int listenFd_ = -1;
  int wakeRead_ = -1, wakeWrite_ = -1;
  std::vector<std::unique_ptr<Client>> clients_;
};

}  // namespace vqsim
