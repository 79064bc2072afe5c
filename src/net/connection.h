#pragma once

// Sockets with time-outs and name resolution for the HTTP client.
//
// Error numbers are reported in the numbering the program's messages use
// (connection reset 10054, timed out 10060, refused 10061, would block 10035,
// broken pipe 10058, network unreachable 10051, host unreachable 10065; other
// errno values as they are). Every connection keeps its own last error: 0
// after a clean exchange, never a stale errno of an earlier call.

#include <cstdint>
#include <string>
#include <string_view>

namespace vespar {

// The connection fields of an engine connection. Owns its socket: the
// destructor closes it (close only, no shutdown).
struct Connection {
  int16_t status = 0;  // HTTP status of the last head read; 1 after a failed resolution
  int socket = -1;
  int lastError = 0;  // error number of the last failed call on this socket

  Connection() = default;
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
};

// errno to the program's error numbering.
int ToWinsockError(int errno_value);

// Closes an open socket first and creates a TCP socket whose receive buffer
// holds at least 65536 bytes. The buffer is set only when the system starts
// it smaller: setting it turns off the kernel's receive-buffer autotuning and
// holds the TCP window near that size, which caps a connection at 64 KiB per
// round trip. 0 success; -1 socket creation failed; 1 the buffer could not be
// read or set.
int OpenSocket(Connection& c);

// Shuts down and closes the socket if open. Always 0; safe to repeat.
int CloseSocket(Connection& c);

// How long ConnectTimeout waits for timeout_ms: whole seconds, the rest
// dropped (999 ms or less: 0, one look without waiting).
int ConnectWaitMs(int timeout_ms);

// Result of ConnectTimeout when `interrupt_fd` turned readable first; the
// socket stays open (still non-blocking) for the caller to close.
constexpr int kConnectInterrupted = -2;

// Connects without blocking longer than timeout_ms, applied in whole seconds
// (999 ms or less waits 0 seconds). 0 connected (socket back in blocking
// mode); 3 not connected in time (socket closed); 4 any other failure,
// refused included, reported at once (socket stays open). When interrupt_fd
// is not -1 and becomes readable while waiting, returns kConnectInterrupted.
int ConnectTimeout(Connection& c, uint16_t port, uint32_t address_net,
                   int timeout_ms, int interrupt_fd = -1);

// The directory crawl's variant: connects in blocking mode (the system's own
// connect limit applies), then checks once, waiting up to timeout_ms in whole
// seconds, that the socket is writable. Same results as ConnectTimeout; the
// socket is left in blocking mode.
int ConnectBlocking(Connection& c, uint16_t port, uint32_t address_net,
                    int timeout_ms);

enum class ResolveLog { kQuiet, kLogFailure };

// Resolves the host name of a host token to its first IPv4 address (network
// byte order). 1 resolved; 0 failed (empty token, name over 255 bytes, no
// address). With kLogFailure a failure writes the host name to the log,
// except for an empty token.
int ResolveHost(std::u16string_view host_token, uint32_t* address_net,
                ResolveLog log = ResolveLog::kQuiet);

// 1 (the read bit) when the socket has data or end of stream to read now,
// else 0 (also without a socket).
int PollNetworkEvents(Connection& c);

// Sends all of `bytes` (MSG_NOSIGNAL). 0 on success, else the error number
// (also kept in c.lastError).
int SendAll(Connection& c, std::string_view bytes);

// Result of ReceiveSome when nothing arrived within the time-out.
constexpr int kReceiveTimedOut = -2;
// Result of ReceiveSome when `interrupt_fd` turned readable first.
constexpr int kReceiveInterrupted = -3;

// Waits up to timeout_ms (-1: no limit) for data, then reads at most `size`
// bytes. Returns the count, 0 at end of stream, -1 on error (c.lastError
// set), kReceiveTimedOut, or kReceiveInterrupted.
int ReceiveSome(Connection& c, char* buffer, size_t size, int timeout_ms,
                int interrupt_fd = -1);

// Reachability probe of the configuration server: resolves the URL's host,
// connects with 5000 ms and closes again. 0 reachable; 8 the name cannot be
// resolved; 3 or 4 as ConnectTimeout.
int ProbeServer(std::string_view url_wire);

// Ignores SIGPIPE process-wide (sends to a closed peer must fail, not kill).
void IgnoreSigpipe();

}  // namespace vespar
