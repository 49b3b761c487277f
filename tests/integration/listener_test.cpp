// The listening socket of the real executable: a restart on the same port right after a stop,
// a burst of simultaneous connections, and clients that half-close after sending.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>

#include "harness.h"

namespace vorn::test {
namespace {

using Clock = std::chrono::steady_clock;

int connect_loopback(int port, bool non_blocking = false) {
  const int fd = socket(AF_INET, SOCK_STREAM | (non_blocking ? SOCK_NONBLOCK : 0), 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int rc = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  if (rc != 0 && !(non_blocking && errno == EINPROGRESS)) {
    close(fd);
    return -1;
  }
  return fd;
}

// Everything the peer sends until it closes, or until 10 s have passed.
std::string read_all(int fd) {
  std::string out;
  char buffer[4096];
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  return out;
}

std::string request(int port, const std::string& target, bool half_close) {
  const int fd = connect_loopback(port);
  if (fd < 0) return "";
  // A half-closing client (as "nc -N") asks for nothing more than the request itself.
  const std::string text = "GET " + target + " HTTP/1.1\r\nHost: localhost\r\n" +
                           (half_close ? "" : "Connection: close\r\n") + "\r\n";
  EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  if (half_close) shutdown(fd, SHUT_WR);
  std::string answer = read_all(fd);
  close(fd);
  return answer;
}

TEST(Listener, RestartsOnTheSamePortRightAfterServing) {
  const int port = free_port();
  const std::string flag = "--port=" + std::to_string(port);
  {
    Manager first({}, {flag});
    // The server closes this connection first, so its side stays in TIME_WAIT.
    EXPECT_TRUE(request(port, "/nothing", false).starts_with("HTTP/1.1 404")) << port;
  }
  Manager second({}, {flag});  // throws when the bind fails
  EXPECT_TRUE(request(port, "/nothing", false).starts_with("HTTP/1.1 404"));
}

TEST(Listener, BurstOfSixtyFourConnectionsIsAcceptedAtOnce) {
  Manager m;
  // The kernel shows a listening socket's backlog as its Send-Q.
  const std::string command = "ss -ltnH 'sport = :" + std::to_string(m.port()) + "'";
  if (std::unique_ptr<FILE, int (*)(FILE*)> ss(popen(command.c_str(), "r"), pclose); ss) {
    char line[512] = {};
    if (fgets(line, sizeof line, ss.get())) {
      unsigned recv_q = 0, send_q = 0;
      char state[32] = {};
      ASSERT_EQ(sscanf(line, "%31s %u %u", state, &recv_q, &send_q), 3) << line;
      EXPECT_EQ(send_q, 128u) << line;
    }
  }
  // A full accept queue drops SYNs, and the client retries only after a second: every connect
  // completing well within that second means none was dropped.
  std::vector<int> fds;
  const auto start = Clock::now();
  for (int i = 0; i < 64; ++i) fds.push_back(connect_loopback(m.port(), true));
  size_t connected = 0;
  std::vector<bool> done(fds.size(), false);
  while (connected < fds.size() && Clock::now() - start < std::chrono::seconds(5)) {
    for (size_t i = 0; i < fds.size(); ++i) {
      if (done[i] || fds[i] < 0) continue;
      pollfd p{fds[i], POLLOUT, 0};
      if (poll(&p, 1, 0) == 1) {
        int error = 0;
        socklen_t len = sizeof error;
        getsockopt(fds[i], SOL_SOCKET, SO_ERROR, &error, &len);
        EXPECT_EQ(error, 0);
        done[i] = true;
        ++connected;
      }
    }
  }
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  EXPECT_EQ(connected, 64u);
  EXPECT_LT(elapsed.count(), 900) << "connections waited for a SYN retry";
  for (int fd : fds) {
    if (fd >= 0) close(fd);
  }
  // The server still answers after the burst.
  EXPECT_TRUE(request(m.port(), "/nothing", false).starts_with("HTTP/1.1 404"));
}

TEST(Listener, HalfClosedClientStillGetsItsAnswer) {
  Manager m;
  const std::string missing = request(m.port(), "/nothing", true);
  EXPECT_TRUE(missing.starts_with("HTTP/1.1 404")) << missing;
  EXPECT_TRUE(missing.ends_with("not found")) << missing;
  const std::string progress = request(m.port(), "/api/apply-progress", true);
  EXPECT_TRUE(progress.starts_with("HTTP/1.1 200")) << progress;
  EXPECT_TRUE(progress.ends_with(R"({"done":true,"stage":"idle"})")) << progress;
}

}  // namespace
}  // namespace vorn::test
