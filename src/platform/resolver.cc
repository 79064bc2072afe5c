#include "src/platform/resolver.h"

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netdb.h>
#include <netinet/in.h>
#include <resolv.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>

#include "src/platform/text.h"

namespace vespar {
namespace {

constexpr size_t kMaxHostLength = 255;
constexpr int kAnswerBufferSize = 65536;  // a TCP answer may be this long

// Names the resolver library can be handed: non-empty, no NUL, not too long.
bool UsableHost(const std::string& host) {
  return !host.empty() && host.size() <= kMaxHostLength &&
         host.find('\0') == std::string::npos;
}

// A host written as a dotted IPv4 address answers itself.
bool DottedAddress(const std::string& host, uint32_t* address) {
  in_addr a;
  if (!UsableHost(host) || inet_pton(AF_INET, host.c_str(), &a) != 1)
    return false;
  *address = a.s_addr;
  return true;
}

// Asks `state`'s nameservers for the A records of `host`.
LookupOutcome QueryA(res_state state, const std::string& host,
                     std::vector<uint32_t>* addresses) {
  std::vector<unsigned char> answer(kAnswerBufferSize);
  int length = res_nquery(state, host.c_str(), ns_c_in, ns_t_a, answer.data(),
                          static_cast<int>(answer.size()));
  if (length < 0) {
    // The name does not exist, or exists without an A record.
    if (state->res_h_errno == HOST_NOT_FOUND || state->res_h_errno == NO_DATA)
      return LookupOutcome::kNone;
    return LookupOutcome::kFailed;
  }
  std::vector<uint32_t> found;
  if (!ParseDnsAnswerA(answer.data(), length, &found))
    return LookupOutcome::kFailed;
  if (found.empty()) return LookupOutcome::kNone;
  addresses->insert(addresses->end(), found.begin(), found.end());
  return LookupOutcome::kAddresses;
}

// A private resolver state for one call, so concurrent look-ups share nothing.
class ResolverState {
 public:
  ResolverState() {
    std::memset(&state_, 0, sizeof state_);
    ok_ = res_ninit(&state_) == 0;
  }
  ~ResolverState() {
    if (ok_) res_nclose(&state_);
  }
  ResolverState(const ResolverState&) = delete;
  ResolverState& operator=(const ResolverState&) = delete;

  bool ok() const { return ok_; }
  res_state get() { return &state_; }

 private:
  struct __res_state state_;
  bool ok_ = false;
};

LookupOutcome LookupWithServer(const std::string* server, uint16_t port,
                               const std::string& host,
                               std::vector<uint32_t>* addresses) {
  uint32_t dotted;
  if (DottedAddress(host, &dotted)) {
    addresses->push_back(dotted);
    return LookupOutcome::kAddresses;
  }
  if (!UsableHost(host)) return LookupOutcome::kFailed;
  ResolverState state;
  if (!state.ok()) return LookupOutcome::kFailed;
  if (server) {
    sockaddr_in ns{};
    ns.sin_family = AF_INET;
    ns.sin_port = htons(port);
    if (inet_pton(AF_INET, server->c_str(), &ns.sin_addr) != 1)
      return LookupOutcome::kFailed;
    // A set IPv4 entry takes precedence over any IPv6 server read from
    // resolv.conf for the same slot.
    state.get()->nsaddr_list[0] = ns;
    state.get()->nscount = 1;
  }
  return QueryA(state.get(), host, addresses);
}

SystemResolver& SystemInstance() {
  static SystemResolver instance;
  return instance;
}

std::atomic<Resolver*> g_installed{nullptr};

// Reads a big-endian 16-bit field.
uint16_t Read16(const unsigned char* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

// Moves *pos past the (possibly compressed) name that starts there. A
// compression pointer ends the name; it must point back to an earlier byte
// of the message. False when the name runs past the end or is malformed.
bool SkipName(const unsigned char* message, int length, int* pos) {
  int p = *pos;
  for (;;) {
    if (p >= length) return false;
    unsigned char label = message[p];
    if (label == 0) {
      *pos = p + 1;
      return true;
    }
    if ((label & 0xC0) == 0xC0) {
      if (p + 1 >= length) return false;
      int target = ((label & 0x3F) << 8) | message[p + 1];
      if (target >= p) return false;
      *pos = p + 2;
      return true;
    }
    if ((label & 0xC0) != 0) return false;  // reserved label types
    p += 1 + label;
  }
}

}  // namespace

bool ParseDnsAnswerA(const unsigned char* message, int length,
                     std::vector<uint32_t>* addresses) {
  constexpr int kHeaderSize = 12;
  constexpr int kFixedRecordPart = 10;  // type, class, TTL, data length
  if (!message || length < kHeaderSize) return false;
  int questions = Read16(message + 4);
  int answers = Read16(message + 6);
  int pos = kHeaderSize;
  for (int i = 0; i < questions; ++i) {
    if (!SkipName(message, length, &pos) || length - pos < 4) return false;
    pos += 4;  // type, class
  }
  std::vector<uint32_t> found;
  for (int i = 0; i < answers; ++i) {
    if (!SkipName(message, length, &pos) || length - pos < kFixedRecordPart)
      return false;
    uint16_t type = Read16(message + pos);
    uint16_t klass = Read16(message + pos + 2);
    uint16_t data_length = Read16(message + pos + 8);
    pos += kFixedRecordPart;
    if (length - pos < data_length) return false;
    if (type == ns_t_a && klass == ns_c_in && data_length == 4) {
      uint32_t address;
      std::memcpy(&address, message + pos, 4);  // stays in network order
      found.push_back(address);
    }
    pos += data_length;
  }
  addresses->insert(addresses->end(), found.begin(), found.end());
  return true;
}

bool SystemResolver::ResolveFirst(const std::string& host, uint32_t* address) {
  if (!UsableHost(host)) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || !list)
    return false;
  bool found = false;
  for (addrinfo* ai = list; ai; ai = ai->ai_next) {
    if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(sockaddr_in)) {
      *address = reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
      found = true;
      break;
    }
  }
  freeaddrinfo(list);
  return found;
}

LookupOutcome SystemResolver::LookupA(const std::string& host,
                                      std::vector<uint32_t>* addresses) {
  return LookupWithServer(nullptr, 0, host, addresses);
}

DnsServerResolver::DnsServerResolver(std::string nameserver_ipv4,
                                     uint16_t port)
    : nameserver_(std::move(nameserver_ipv4)), port_(port) {}

bool DnsServerResolver::ResolveFirst(const std::string& host,
                                     uint32_t* address) {
  std::vector<uint32_t> addresses;
  if (LookupA(host, &addresses) != LookupOutcome::kAddresses) return false;
  *address = addresses.front();
  return true;
}

LookupOutcome DnsServerResolver::LookupA(const std::string& host,
                                         std::vector<uint32_t>* addresses) {
  return LookupWithServer(&nameserver_, port_, host, addresses);
}

void StaticResolver::Add(const std::string& host,
                         std::vector<uint32_t> addresses) {
  std::lock_guard<std::mutex> lock(mutex_);
  hosts_.emplace_back(ToLowerAscii(host), std::move(addresses));
}

void StaticResolver::FailLookups(bool fail) {
  std::lock_guard<std::mutex> lock(mutex_);
  fail_ = fail;
}

const std::vector<uint32_t>* StaticResolver::Find(
    const std::string& host) const {
  std::string key = ToLowerAscii(host);
  // The latest entry for a host wins.
  for (auto it = hosts_.rbegin(); it != hosts_.rend(); ++it) {
    if (it->first == key) return &it->second;
  }
  return nullptr;
}

bool StaticResolver::ResolveFirst(const std::string& host, uint32_t* address) {
  if (DottedAddress(host, address)) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  const std::vector<uint32_t>* found = Find(host);
  if (!found || found->empty()) return false;
  *address = found->front();
  return true;
}

LookupOutcome StaticResolver::LookupA(const std::string& host,
                                      std::vector<uint32_t>* addresses) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fail_) return LookupOutcome::kFailed;
  uint32_t dotted;
  if (DottedAddress(host, &dotted)) {
    addresses->push_back(dotted);
    return LookupOutcome::kAddresses;
  }
  const std::vector<uint32_t>* found = Find(host);
  if (!found || found->empty()) return LookupOutcome::kNone;
  addresses->insert(addresses->end(), found->begin(), found->end());
  return LookupOutcome::kAddresses;
}

Resolver& CurrentResolver() {
  Resolver* installed = g_installed.load(std::memory_order_acquire);
  return installed ? *installed : SystemInstance();
}

void SetResolver(Resolver* resolver) {
  g_installed.store(resolver, std::memory_order_release);
}

}  // namespace vespar
