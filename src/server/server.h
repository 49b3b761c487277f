// The HTTP server: binds the listener itself (address reuse, so a restart right after a stop
// binds at once, and a backlog of kListenBacklog, so bursts of connections are not dropped) and
// serves it through ListeningServer (listening_server.h); applies the request guards
// (request_guards.h) and the POST body cap, and hands every request to the route table on its
// connection's own thread.
//
// Each connection gets a thread of its own (so a slow request never holds up another), up to
// kMaxConnectionThreads; beyond that new connections wait in a queue instead of exhausting memory.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace vorn {

inline constexpr size_t kMaxConnectionThreads = 256;
inline constexpr size_t kMaxPostBody = 8u << 20;  // far more than the page ever sends
inline constexpr int kListenBacklog = 128;

// A listening TCP socket (close-on-exec), owned until it is handed to serve().
struct ListenSocket {
  int fd = -1;
};

// Resolves "<host>:<port>" and binds and listens on each resolved address in order until one
// succeeds. On failure the error is "bind <host>:<port>: <cause>".
std::expected<ListenSocket, std::string> resolve_and_bind(const std::string& host, uint16_t port);

// Serves on the listening socket (taking ownership of it) until the listener fails. `guard_host`
// turns on the Host header check (loopback binds). Prints the start-up lines first.
void serve(ListenSocket listener, bool guard_host, const std::string& startup_text);

}  // namespace vorn
