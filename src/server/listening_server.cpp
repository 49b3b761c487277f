// Connection handling on a handed-over listening socket.
#include "server/listening_server.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace vorn {
namespace {

bool wait_for(int fd, short events, time_t sec, time_t usec) {
  pollfd p{fd, events, 0};
  const int ms = static_cast<int>(sec * 1000 + usec / 1000);
  int rc;
  do {
    rc = ::poll(&p, 1, ms);
  } while (rc < 0 && errno == EINTR);
  return rc > 0;
}

void numeric_name(const sockaddr_storage& addr, socklen_t len, std::string& ip, int& port) {
  char host[NI_MAXHOST] = {}, serv[NI_MAXSERV] = {};
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&addr), len, host, sizeof host, serv,
                  sizeof serv, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
    ip = host;
    port = std::atoi(serv);
  }
}

// A buffered socket stream: reads wait up to the read timeout, writes up to the write timeout, and
// a peer's end of sending does not count as the end of the connection.
class ConnectionStream : public httplib::Stream {
 public:
  ConnectionStream(int fd, time_t read_sec, time_t read_usec, time_t write_sec, time_t write_usec)
      : fd_(fd),
        read_sec_(read_sec),
        read_usec_(read_usec),
        write_sec_(write_sec),
        write_usec_(write_usec) {}

  bool is_readable() const override { return wait_for(fd_, POLLIN, read_sec_, read_usec_); }
  bool is_writable() const override { return wait_for(fd_, POLLOUT, write_sec_, write_usec_); }

  ssize_t read(char* ptr, size_t size) override {
    if (start_ < end_) return take(ptr, size);
    if (!is_readable()) return -1;
    const ssize_t n = ::recv(fd_, buffer_, sizeof buffer_, 0);
    if (n <= 0) return n;
    start_ = 0;
    end_ = static_cast<size_t>(n);
    return take(ptr, size);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!is_writable()) return -1;
    return ::send(fd_, ptr, size, MSG_NOSIGNAL);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (getpeername(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
      numeric_name(addr, len, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
      numeric_name(addr, len, ip, port);
  }
  socket_t socket() const override { return fd_; }

 private:
  ssize_t take(char* ptr, size_t size) {
    const size_t n = std::min(size, end_ - start_);
    std::copy_n(buffer_ + start_, n, ptr);
    start_ += n;
    return static_cast<ssize_t>(n);
  }

  const int fd_;
  const time_t read_sec_, read_usec_, write_sec_, write_usec_;
  char buffer_[4096];
  size_t start_ = 0, end_ = 0;
};

}  // namespace

ListeningServer::ListeningServer(int listening_fd) {
  svr_sock_ = listening_fd;
}

// Keep-alive as the library does it: up to keep_alive_max_count_ requests per connection, each
// waited for up to the keep-alive timeout; the last one is answered with "Connection: close".
bool ListeningServer::process_and_close_socket(socket_t sock) {
  bool ok = false;
  for (size_t left = keep_alive_max_count_; svr_sock_ != INVALID_SOCKET && left > 0 &&
                                            wait_for(sock, POLLIN, keep_alive_timeout_sec_, 0);
       --left) {
    ConnectionStream stream(sock, read_timeout_sec_, read_timeout_usec_, write_timeout_sec_,
                            write_timeout_usec_);
    bool closed = false;
    ok = process_request(stream, left == 1, closed, nullptr);
    if (!ok || closed) break;
  }
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  return ok;
}

}  // namespace vorn
