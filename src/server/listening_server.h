// The HTTP library's server, wired to a listening socket the manager bound itself, and serving
// each connection through a socket stream that keeps answering a client that has half-closed.
//
// Why not the library's own listener: its build fixes a listen backlog of 5 and no address
// reuse, so bursts of connections wait for the kernel's SYN retry and a restart right after a
// stop fails to bind. Its accept loop (listen_after_bind) accepts on whatever socket the server
// holds, so the socket bound by resolve_and_bind (server.h) is handed over instead.
//
// Why its own connection loop: the library's socket stream takes a peer that has shut down its
// sending side (as "nc -N" does after the request) for a closed connection and drops the answer.
// This stream only asks whether the socket can take more bytes.
#pragma once

#include <httplib.h>

namespace vorn {

class ListeningServer : public httplib::Server {
 public:
  // Takes ownership of `listening_fd` (a bound, listening TCP socket).
  explicit ListeningServer(int listening_fd);

 private:
  bool process_and_close_socket(socket_t sock) override;
};

}  // namespace vorn
