// cpp-httplib wiring: a thread-per-connection task queue, the request guards, and dispatch.
#include "server/server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <iostream>
#include <mutex>
#include <thread>

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

// The host part of a Host or Origin authority ("localhost:8785" -> "localhost").
std::string authority_host(std::string_view authority) {
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    return to_lower(authority.substr(0, close == std::string_view::npos ? authority.size() : close + 1));
  }
  return to_lower(authority.substr(0, authority.find(':')));
}

std::string origin_authority(std::string_view origin) {
  const size_t scheme = origin.find("://");
  if (scheme == std::string_view::npos) return "";
  std::string_view rest = origin.substr(scheme + 3);
  return to_lower(rest.substr(0, rest.find('/')));
}

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

// Host check against DNS rebinding (loopback binds only) and Origin check on POST.
std::optional<Response> refuse(const httplib::Request& req, bool guard_host) {
  const std::string host = req.get_header_value("Host");
  if (guard_host && !host.empty() && !is_loopback_host(authority_host(host))) {
    return text_response(403, "forbidden: this server only answers requests addressed to localhost");
  }
  if (req.method == "POST" && req.has_header("Origin") &&
      origin_authority(req.get_header_value("Origin")) != to_lower(host)) {
    Response r = json_response(Json{{"status", "error"}, {"error", "cross-origin request refused"}});
    r.status = 403;
    return r;
  }
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

bool is_loopback_host(std::string_view host) {
  std::string h = to_lower(host);
  if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  if (h == "localhost" || h == "::1") return true;
  in_addr v4{};
  if (inet_pton(AF_INET, h.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  return false;
}

std::expected<ListenAddress, std::string> resolve_and_bind(const std::string& host, uint16_t port) {
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
  std::optional<ListenAddress> bound;
  for (addrinfo* ai = list; ai && !bound; ai = ai->ai_next) {
    const int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) {
      cause = std::strerror(errno);
      continue;
    }
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && listen(fd, 128) == 0) {
      char text[INET6_ADDRSTRLEN] = {};
      const void* raw = ai->ai_family == AF_INET6
                            ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(ai->ai_addr)->sin6_addr)
                            : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr);
      inet_ntop(ai->ai_family, raw, text, sizeof text);
      bound = ListenAddress{text, port};
    } else {
      cause = std::strerror(errno);
    }
    close(fd);
  }
  freeaddrinfo(list);
  if (!bound) return std::unexpected(prefix + cause);
  return *bound;
}

bool serve(const ListenAddress& address, bool guard_host, const std::string& startup_text) {
  httplib::Server server;
  server.new_task_queue = [] { return new ThreadPerConnectionQueue(kMaxConnectionThreads); };
  server.set_keep_alive_max_count(1000);
  // Headers and body go out in separate writes; without this, Nagle's algorithm and delayed ACKs
  // hold each keep-alive answer back by tens of milliseconds.
  server.set_tcp_nodelay(true);
  install_routes(server, guard_host);
  const bool ok = address.port == 0 ? server.bind_to_any_port(address.host) >= 0
                                    : server.bind_to_port(address.host, address.port);
  if (!ok) return false;
  std::cout << startup_text << std::flush;
  server.listen_after_bind();
  return true;
}

}  // namespace vorn
