// cpp-httplib wiring: a thread-per-connection task queue, the request guards, and dispatch.
#include "server/server.h"

#include <httplib.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <iostream>
#include <mutex>
#include <thread>

#include "server/listening_server.h"
#include "server/request_guards.h"
#include "server/route_table.h"
#include "util/text.h"

namespace vorn {
namespace {

// One detached thread per connection, at most `limit` at once; the rest queue in order.
class ThreadPerConnectionQueue : public httplib::TaskQueue {
 public:
  explicit ThreadPerConnectionQueue(size_t limit) : limit_(limit) {}

  void enqueue(std::function<void()> fn) override {
    std::lock_guard lock(mutex_);
    if (running_ < limit_) {
      ++running_;
      start(std::move(fn));
    } else {
      waiting_.push_back(std::move(fn));
    }
  }

  void shutdown() override {}

 private:
  void start(std::function<void()> fn) {
    try {
      std::thread([this, fn = std::move(fn)]() mutable { run(std::move(fn)); }).detach();
    } catch (const std::system_error&) {
      --running_;  // the system refused a thread: this connection is dropped
    }
  }

  void run(std::function<void()> fn) {
    while (true) {
      fn();
      std::lock_guard lock(mutex_);
      if (waiting_.empty()) {
        --running_;
        return;
      }
      fn = std::move(waiting_.front());
      waiting_.pop_front();
    }
  }

  const size_t limit_;
  std::mutex mutex_;
  size_t running_ = 0;
  std::deque<std::function<void()>> waiting_;
};

void send(const Response& response, httplib::Response& out) {
  out.status = response.status;
  for (const auto& [name, value] : response.headers) out.set_header(name, value);
  if (response.static_body.empty()) {
    out.set_content(response.body, response.content_type);
    return;
  }
  // Written to the socket straight from the process's read-only data.
  const std::string_view bytes = response.static_body;
  out.set_content_provider(bytes.size(), response.content_type,
                           [bytes](size_t offset, size_t length, httplib::DataSink& sink) {
                             return sink.write(bytes.data() + offset, length);
                           });
}

std::optional<std::string_view> header(const httplib::Request& req, const char* name) {
  const auto it = req.headers.find(name);
  if (it == req.headers.end()) return std::nullopt;
  return std::string_view(it->second);
}

std::optional<Response> refuse(const httplib::Request& req, bool guard_host) {
  const std::string_view target = req.target;
  const GuardedRequest guarded{req.method,
                               target.substr(0, target.find('?')),
                               header(req, "Host"),
                               header(req, "Origin"),
                               header(req, "Sec-Fetch-Site"),
                               header(req, "Sec-Fetch-Mode"),
                               header(req, "Sec-Fetch-Dest")};
  if (auto reason = refusal_reason(guarded, guard_host))
    return text_response(403, std::move(*reason));
  return std::nullopt;
}

Request make_request(const httplib::Request& req, std::string body, bool gzip_accepted) {
  Request r{req.method, req.target, {}, req.get_header_value("If-None-Match"), gzip_accepted};
  if (is_valid_utf8(body)) r.body = std::move(body);
  return r;
}

void install_routes(httplib::Server& server, bool guard_host) {
  server.set_pre_routing_handler([guard_host](const httplib::Request& req, httplib::Response& res) {
    // The HTTP library would compress every text answer at its slowest brotli level on every
    // request (about 30 s for the 3D viewer script on a loaded machine). Answers go to the local
    // browser, so they are sent as they are. The request object is the library's own mutable one.
    // The asset routes serve their own precompressed forms; they learn what the browser accepts.
    const bool gzip_accepted = accepts_gzip(req.get_header_value("Accept-Encoding"));
    const_cast<httplib::Request&>(req).headers.erase("Accept-Encoding");
    if (auto refusal = refuse(req, guard_host)) {
      send(*refusal, res);
      return httplib::Server::HandlerResponse::Handled;
    }
    if (req.method == "POST") return httplib::Server::HandlerResponse::Unhandled;
    send(handle_request(make_request(req, "", gzip_accepted)), res);
    return httplib::Server::HandlerResponse::Handled;
  });
  // POST bodies are read here, capped: past kMaxPostBody the body is dropped (so the route answers
  // its own bad-body error) and the rest is read and discarded, up to a hard limit.
  server.Post(".*", [](const httplib::Request& req, httplib::Response& res,
                       const httplib::ContentReader& reader) {
    std::string body;
    bool too_large = false;
    size_t seen = 0;
    reader([&](const char* data, size_t length) {
      seen += length;
      if (seen > kMaxPostBody) {
        too_large = true;
        body.clear();
        body.shrink_to_fit();
        return seen <= 8 * kMaxPostBody;
      }
      body.append(data, length);
      return true;
    });
    send(handle_request(make_request(req, too_large ? std::string() : std::move(body), false)), res);
  });
  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.status == 404 && res.body.empty()) res.set_content("not found", std::string(kTextType));
  });
}

}  // namespace

std::expected<ListenSocket, std::string> resolve_and_bind(const std::string& host, uint16_t port) {
  const std::string prefix = "bind " + host + ":" + std::to_string(port) + ": ";
  std::string name = host;
  if (!name.empty() && name.front() == '[') {
    if (name.back() != ']') return std::unexpected(prefix + "invalid socket address");
    name = name.substr(1, name.size() - 2);
  } else if (name.find(':') != std::string::npos) {
    return std::unexpected(prefix + "invalid socket address");  // bare IPv6 needs brackets
  }
  if (name.empty()) return std::unexpected(prefix + "invalid socket address");
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  if (getaddrinfo(name.c_str(), service.c_str(), &hints, &list) != 0 || !list) {
    return std::unexpected(prefix + "could not resolve to any addresses");
  }
  std::string cause = "could not resolve to any addresses";
  int bound = -1;
  for (addrinfo* ai = list; ai && bound < 0; ai = ai->ai_next) {
    const int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) {
      cause = std::strerror(errno);
      continue;
    }
    // Address reuse: connections of an earlier run still in TIME_WAIT must not block this bind.
    // No delay: headers and body go out in separate writes, and Nagle's algorithm with delayed
    // ACKs would hold each keep-alive answer back by tens of milliseconds (accepted sockets
    // inherit the option).
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && listen(fd, kListenBacklog) == 0) {
      bound = fd;
    } else {
      cause = std::strerror(errno);
      close(fd);
    }
  }
  freeaddrinfo(list);
  if (bound < 0) return std::unexpected(prefix + cause);
  return ListenSocket{bound};
}

void serve(ListenSocket listener, bool guard_host, const std::string& startup_text) {
  ListeningServer server(listener.fd);
  server.new_task_queue = [] { return new ThreadPerConnectionQueue(kMaxConnectionThreads); };
  server.set_keep_alive_max_count(1000);
  install_routes(server, guard_host);
  std::cout << startup_text << std::flush;
  server.listen_after_bind();
}

}  // namespace vorn
