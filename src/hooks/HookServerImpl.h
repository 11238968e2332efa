#pragma once

// The hook server's state on its thread, shared by the listeners (HookServer.cpp) and the
// connections (HookConnection.cpp). Only those two files include it: it brings in asio.

#include <array>
#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "hooks/HookServer.h"
#include "hooks/RequestParser.h"

namespace tallyloft {

using Stream = asio::generic::stream_protocol;
using Socket = Stream::socket;
using Acceptor = asio::basic_socket_acceptor<Stream>;

inline constexpr std::size_t kReceiveSize = 65'536;

// One listening socket: the Unix socket, or the TCP port.
struct Listener {
  Listener(asio::io_context& io, bool isLocal, std::string tcpSecret)
      : acceptor(io), backoff(io), local(isLocal), secret(std::move(tcpSecret)) {}

  Acceptor acceptor;
  asio::steady_timer backoff;  // while the process is out of descriptors
  bool local = true;           // the Unix socket: every peer's user is checked
  std::string secret;          // TCP: what X-Tallyloft-Secret must be; empty: nothing
};

struct HookServer::Impl {
  // Counters shared by the connections. Declared before the io_context so that connections
  // released while it is destroyed can still count themselves out.
  std::atomic<std::size_t> openConnections{0};
  std::atomic<std::size_t> totalBuffered{0};  // written on the server's thread only
  std::atomic<std::uint16_t> boundPort{0};
  std::atomic<std::size_t> refusedPeers{0};
  std::atomic<std::size_t> refusedRequests{0};

  HookServer& owner;
  HookListen config;
  Limits limits;
  std::array<char, kReceiveSize> receiveBuffer{};  // one receive at a time on this thread
  RequestAssembler firstRequest;                   // the first receive of each new peer
  asio::io_context io{1};
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
  bool started = false;
  // Each listener lives in its own shared slot, so that a wait still pending on a closed one
  // finds it closed rather than gone.
  std::shared_ptr<Listener> local;
  std::shared_ptr<Listener> tcp;
  std::string socketProblem;  // why the socket does not listen
  std::string portProblem;    // why the port does not listen
  std::thread thread;

  Impl(HookServer& server, HookListen listen, Limits serverLimits)
      : owner(server), config(std::move(listen)), limits(serverLimits) {}

  void report();
  void startOnQueue();
  void openPort();
  void closePort();
  void acceptNext(const std::shared_ptr<Listener>& listener);
  void acceptReady(const std::shared_ptr<Listener>& listener);
  void take(int peer, const Listener& listener);
  // The reply to a request that is no longer incomplete; delivers it when it may be.
  std::string_view answer(const RequestAssembler& request, Parse::Kind kind,
                          std::string_view secret);
  void deliver(const RequestAssembler& request);
  void stopOnQueue();
};

// A peer whose request is still on its way: its connection buffers the rest, answers and closes,
// or closes without a reply (idle, too large, gone). `request` holds what has come so far; a TCP
// peer's request must carry `secret`.
void serveConnection(HookServer::Impl& server, Socket socket, RequestAssembler request,
                     std::string secret);
// Sends `response` (one of the fixed replies) from byte `sent` on, then closes.
void sendRestOfReply(HookServer::Impl& server, Socket socket, std::string_view response,
                     std::size_t sent);

}  // namespace tallyloft
