// The HTTP server: binds the listener, applies the request guards (Host and Origin checks, the
// POST body cap) and hands every request to the route table on its connection's own thread.
//
// Each connection gets a thread of its own (so a slow request never holds up another), up to
// kMaxConnectionThreads; beyond that new connections wait in a queue instead of exhausting memory.
#pragma once

#include <cstdint>
#include <expected>
#include <string>

namespace vorn {

inline constexpr size_t kMaxConnectionThreads = 256;
inline constexpr size_t kMaxPostBody = 8u << 20;  // far more than the page ever sends

struct ListenAddress {
  std::string host;  // numeric address to bind
  uint16_t port = 0;
};

// Resolves "<host>:<port>" and test-binds each resolved address in order. On failure the error
// is "bind <host>:<port>: <cause>".
std::expected<ListenAddress, std::string> resolve_and_bind(const std::string& host, uint16_t port);

// True for localhost, 127.0.0.0/8 and ::1 (with or without brackets).
bool is_loopback_host(std::string_view host);

// Serves until the listener fails. `guard_host` turns on the Host header check (loopback binds).
// Prints the start-up lines once the listener is bound. Returns false when binding failed.
bool serve(const ListenAddress& address, bool guard_host, const std::string& startup_text);

}  // namespace vorn
