#include "tests/support/raw_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

namespace vespar::testing {

int ConnectTo(const std::string& address, uint16_t port) {
  sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
    errno = EINVAL;
    return -1;
  }
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    int e = errno;
    close(fd);
    errno = e;
    return -1;
  }
  return fd;
}

RawResponse ReadAll(int fd, int timeout_ms) {
  RawResponse r;
  char buffer[65536];
  for (;;) {
    pollfd p = {fd, POLLIN, 0};
    int n = poll(&p, 1, timeout_ms);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) {
      r.timed_out = true;
      return r;
    }
    ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      r.error = errno;
      return r;
    }
    if (got == 0) {
      r.closed = true;
      return r;
    }
    r.bytes.append(buffer, static_cast<size_t>(got));
    ++r.blocks;
  }
}

RawResponse Exchange(const std::string& address, uint16_t port, std::string_view request,
                     int timeout_ms) {
  int fd = ConnectTo(address, port);
  if (fd < 0) {
    RawResponse r;
    r.error = errno;
    return r;
  }
  std::string_view rest = request;
  while (!rest.empty()) {
    ssize_t n = send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the answer (or its absence) tells the rest
    rest.remove_prefix(static_cast<size_t>(n));
  }
  RawResponse r = ReadAll(fd, timeout_ms);
  close(fd);
  return r;
}

std::string RawResponse::Head() const {
  size_t end = bytes.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : bytes.substr(0, end + 4);
}

std::string RawResponse::Body() const {
  size_t end = bytes.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : bytes.substr(end + 4);
}

std::string RawResponse::Field(std::string_view name) const {
  std::string head = Head();
  size_t pos = 0;
  while ((pos = head.find("\r\n", pos)) != std::string::npos) {
    pos += 2;
    size_t eol = head.find("\r\n", pos);
    if (eol == std::string::npos) break;
    std::string_view line(head.data() + pos, eol - pos);
    size_t colon = line.find(':');
    if (colon == name.size()) {
      bool same = true;
      for (size_t i = 0; i < colon && same; ++i)
        same = std::tolower(static_cast<unsigned char>(line[i])) ==
               std::tolower(static_cast<unsigned char>(name[i]));
      if (same) {
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
        return std::string(value);
      }
    }
  }
  return "<none>";
}

}  // namespace vespar::testing
