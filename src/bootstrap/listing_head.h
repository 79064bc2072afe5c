#pragma once

// The response head of a folder listing, parsed with the crawl's own rules:
// the head is lower-cased, the status is the text between the first blank and
// the next one, and the length comes from a "content-length" field found by a
// plain substring search. Passive: bytes in, result out.

#include <cstdint>
#include <string_view>

namespace vespar {

enum class ListingHeadOutcome {
  kOk,                // status "200" and a usable length
  kNoStatusLine,      // no "http/1." or no blank at all (-5)
  kStatusLineBroken,  // the second blank lies beyond the first line (-6)
  kNotFound,          // a status other than "200", or an empty one (-7)
  kNoLength,          // no "content-length" (-8)
  kLengthBroken,      // no ":" and "\r\n" after it, or a negative value (-9)
};

struct ListingHead {
  ListingHeadOutcome outcome = ListingHeadOutcome::kNoStatusLine;
  int64_t contentLength = 0;
};

// `head` is the text up to and including the first "\r\n\r\n".
ListingHead ParseListingHead(std::string_view head);

// The crawl result code of an outcome other than kOk (-5 to -9).
int ListingHeadResultCode(ListingHeadOutcome outcome);

}  // namespace vespar
