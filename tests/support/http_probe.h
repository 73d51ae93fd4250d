// SPDX-License-Identifier: GPL-3.0-or-later
// A raw TCP client for the metrics endpoint's tests: sends bytes as given (in pieces, with pauses),
// then collects what comes back until the peer closes, a whole response has come, or a deadline.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace tavex::test {

struct HttpResult {
  std::string received;  // everything the server sent
  bool closed = false;   // the server closed or reset the connection
  double seconds = 0;    // from connecting to the end of the collection
  std::string StatusLine() const { return received.substr(0, received.find("\r\n")); }
  std::string Body() const {
    const auto at = received.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : received.substr(at + 4);
  }
};

inline int ConnectLoopback(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// True once `text` holds a whole response: headers and as much body as Content-Length says.
inline bool WholeResponse(const std::string& text) {
  const auto end = text.find("\r\n\r\n");
  if (end == std::string::npos) return false;
  static const std::regex length("[Cc]ontent-[Ll]ength: *([0-9]+)");
  std::smatch m;
  const std::string head = text.substr(0, end);
  if (!std::regex_search(head, m, length)) return true;
  return text.size() - end - 4 >= std::stoul(m[1]);
}

// Sends `pieces` (pausing `pauseMs` after each), then reads until the server closes, a whole
// response has come (when `untilResponse`), or `waitMs` have passed since the last piece.
inline HttpResult HttpExchange(std::uint16_t port, const std::vector<std::string>& pieces,
                               int pauseMs = 0, int waitMs = 3000, bool untilResponse = true) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  HttpResult result;
  const int fd = ConnectLoopback(port);
  if (fd < 0) {
    result.closed = true;
    return result;
  }
  const auto collect = [&](int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!result.closed && !(untilResponse && WholeResponse(result.received))) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) break;
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char buffer[65536];
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) {
        result.closed = true;
      } else {
        result.received.append(buffer, static_cast<std::size_t>(n));
      }
    }
  };
  for (const std::string& piece : pieces) {
    std::size_t sent = 0;
    while (sent < piece.size() && !result.closed) {
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, 200) <= 0) {
        collect(0);  // the server stopped reading: see whether it closed
        if (Clock::now() - start > std::chrono::seconds(30)) break;
        continue;
      }
      const ssize_t n =
          ::send(fd, piece.data() + sent, piece.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && errno != EAGAIN) {
        result.closed = true;
        break;
      }
      if (n > 0) sent += static_cast<std::size_t>(n);
    }
    if (pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    collect(0);
    if (result.closed) break;
  }
  collect(waitMs);
  ::close(fd);
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return result;
}

inline HttpResult GetMetrics(std::uint16_t port, int waitMs = 3000) {
  return HttpExchange(port, {"GET /metrics HTTP/1.1\r\nHost: localhost\r\n\r\n"}, 0, waitMs);
}

// The value of the sample named exactly `name` (with its labels) in an exposition.
inline std::optional<double> SampleValue(const std::string& exposition, const std::string& name) {
  std::size_t at = 0;
  while ((at = exposition.find(name + " ", at)) != std::string::npos) {
    if (at == 0 || exposition[at - 1] == '\n') {
      const auto end = exposition.find('\n', at);
      return std::stod(exposition.substr(at + name.size() + 1, end - at - name.size() - 1));
    }
    at += name.size();
  }
  return std::nullopt;
}

}  // namespace tavex::test
