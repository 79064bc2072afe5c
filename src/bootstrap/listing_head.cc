#include "src/bootstrap/listing_head.h"

#include <string>

#include "src/platform/code_page.h"
#include "src/platform/text.h"

namespace vespar {

ListingHead ParseListingHead(std::string_view head_bytes) {
  ListingHead result;
  const std::u16string head = ToLowerAscii(FromWire(head_bytes));
  constexpr auto npos = std::u16string::npos;

  size_t first_blank = head.find(u' ');
  if (head.find(u"http/1.") == npos || first_blank == npos) {
    result.outcome = ListingHeadOutcome::kNoStatusLine;
    return result;
  }
  size_t line_end = head.find(u"\r\n");
  size_t second_blank = head.find(u' ', first_blank + 1);
  std::u16string status;
  if (second_blank != npos) {
    if (line_end == npos || second_blank > line_end) {
      result.outcome = ListingHeadOutcome::kStatusLineBroken;
      return result;
    }
    status = head.substr(first_blank + 1, second_blank - first_blank - 1);
  }
  if (status != u"200") {
    result.outcome = ListingHeadOutcome::kNotFound;
    return result;
  }

  size_t field = head.find(u"content-length");
  if (field == npos) {
    result.outcome = ListingHeadOutcome::kNoLength;
    return result;
  }
  size_t colon = head.find(u':', field);
  size_t field_end = head.find(u"\r\n", field);
  if (colon == npos || field_end == npos || colon > field_end) {
    result.outcome = ListingHeadOutcome::kLengthBroken;
    return result;
  }
  std::u16string value = head.substr(colon + 1, field_end - colon - 1);
  ReplaceAll(value, u" ", u"");
  result.contentLength = AtoI64(value);
  if (result.contentLength < 0) {
    result.outcome = ListingHeadOutcome::kLengthBroken;
    return result;
  }
  result.outcome = ListingHeadOutcome::kOk;
  return result;
}

int ListingHeadResultCode(ListingHeadOutcome outcome) {
  switch (outcome) {
    case ListingHeadOutcome::kOk: return 0;
    case ListingHeadOutcome::kNoStatusLine: return -5;
    case ListingHeadOutcome::kStatusLineBroken: return -6;
    case ListingHeadOutcome::kNotFound: return -7;
    case ListingHeadOutcome::kNoLength: return -8;
    case ListingHeadOutcome::kLengthBroken: return -9;
  }
  return -5;
}

}  // namespace vespar
