#pragma once

// Name resolution seam. Two questions are asked of it: the first IPv4 address
// of a host (connections), and every A record of a host in the order of the
// DNS answer (rotation over a host's addresses). Tests install their own
// resolver, or point the DNS one at a local nameserver.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vespar {

enum class LookupOutcome { kAddresses, kNone, kFailed };

class Resolver {
 public:
  virtual ~Resolver() = default;
  // First IPv4 address of `host` (network byte order). False when none.
  // Thread-safe: range workers resolve concurrently.
  virtual bool ResolveFirst(const std::string& host, uint32_t* address) = 0;
  // A records of `host` in answer order, alias records skipped. kNone when
  // the name does not exist or has no A record, kFailed when the question
  // got no usable answer. A dotted IPv4 address answers itself.
  virtual LookupOutcome LookupA(const std::string& host,
                                std::vector<uint32_t>* addresses) = 0;
};

// getaddrinfo (IPv4) for ResolveFirst; res_nquery with the system's
// nameservers for LookupA.
class SystemResolver : public Resolver {
 public:
  bool ResolveFirst(const std::string& host, uint32_t* address) override;
  LookupOutcome LookupA(const std::string& host,
                        std::vector<uint32_t>* addresses) override;
};

// Asks one given nameserver (for example dnsmasq on a loopback port) for both
// questions with res_nquery; ResolveFirst takes the first A record.
class DnsServerResolver : public Resolver {
 public:
  DnsServerResolver(std::string nameserver_ipv4, uint16_t port);
  bool ResolveFirst(const std::string& host, uint32_t* address) override;
  LookupOutcome LookupA(const std::string& host,
                        std::vector<uint32_t>* addresses) override;

 private:
  std::string nameserver_;
  uint16_t port_;
};

// Fixed answers for tests: host -> addresses (host names match without regard
// to ASCII case). Dotted addresses answer themselves; unknown hosts give kNone.
// FailLookups makes LookupA fail while ResolveFirst keeps answering, as when
// the DNS query fails but the system's host look-up still works. Thread-safe.
class StaticResolver : public Resolver {
 public:
  void Add(const std::string& host, std::vector<uint32_t> addresses);
  void FailLookups(bool fail);
  bool ResolveFirst(const std::string& host, uint32_t* address) override;
  LookupOutcome LookupA(const std::string& host,
                        std::vector<uint32_t>* addresses) override;

 private:
  // Null when the host is unknown. REQUIRES: mutex_ is held.
  const std::vector<uint32_t>* Find(const std::string& host) const;

  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, std::vector<uint32_t>>> hosts_;  // GUARDED_BY(mutex_)
  bool fail_ = false;  // GUARDED_BY(mutex_)
};

// Process-wide resolver; never null (a SystemResolver until one is installed).
Resolver& CurrentResolver();
// Installs `resolver` (borrowed) or, with null, the system one.
void SetResolver(Resolver* resolver);

// Parses a DNS answer message (as res_nquery returns it) and appends the A
// records of the answer section in order. Returns false on a malformed
// message. Passive, so it can be tested and fuzzed from bytes.
bool ParseDnsAnswerA(const unsigned char* message, int length,
                     std::vector<uint32_t>* addresses);

}  // namespace vespar
