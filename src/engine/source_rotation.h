#pragma once

// Spreading restarts over a host's addresses. When a part has to be started
// again after a failure, it connects to the next address of its host, taken
// in turn by one process-wide counter, so parts that fail one after another
// try different servers. The part's identity (its item URL) never changes;
// only the URL it connects to does.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vespar {

// Fills `list` with the IPv4 addresses (dotted text) of the host text, in
// the order of the DNS answer (A records only, alias records skipped). A
// text without a letter (a dotted address, with or without a port) is its
// own one entry. Returns 1 when filled, 0 when the look-up failed, -1 when
// it gave no address. Asks CurrentResolver().LookupA, never getaddrinfo
// (which reorders).
int ListAddresses(std::u16string_view host, std::vector<std::u16string>* list);

// The URL with its host replaced by the next of the host's addresses, or the
// URL unchanged when the look-up fails or gives nothing. The host is the
// lower-case host token (a port stays part of it, so a URL with a port is
// returned unchanged); only the host itself is replaced, never text of the
// same spelling in the path.
std::u16string ResolveSource(std::u16string_view url);

int32_t RotationCounter();
void SetRotationCounterForTesting(int32_t value);

}  // namespace vespar
