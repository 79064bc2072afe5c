#include "tests/support/listing.h"

#include <cstdio>

namespace vespar::testing {

namespace {

std::string HtmlEscape(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

// The last segment of a path, without the trailing "/" of a folder.
std::string_view DisplayName(std::string_view link_path) {
  if (!link_path.empty() && link_path.back() == '/') link_path.remove_suffix(1);
  size_t slash = link_path.rfind('/');
  return slash == std::string_view::npos ? link_path : link_path.substr(slash + 1);
}

std::string ParentOf(std::string_view folder) {
  std::string_view f = folder;
  if (!f.empty() && f.back() == '/') f.remove_suffix(1);
  size_t slash = f.rfind('/');
  return slash == std::string_view::npos ? "/" : std::string(f.substr(0, slash + 1));
}

// A fixed date keeps every page byte-for-byte the same from run to run.
constexpr const char kDateColumn[] = " 1/ 2/2024  3:04 PM";

}  // namespace

std::string PercentEncodePath(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : bytes) {
    unsigned char c = static_cast<unsigned char>(ch);
    bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                c == '-' || c == '_' || c == '.' || c == '~' || c == '/';
    if (keep) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

std::string BuildListingHtml(std::string_view host, std::string_view folder,
                             const std::vector<ListingEntry>& entries) {
  std::string title = HtmlEscape(host) + " - " + HtmlEscape(folder);
  std::string page = "<html><head><title>" + title + "</title></head><body><H1>" + title +
                     "</H1><hr>\r\n\r\n<pre>";
  if (folder != "/") {
    page += "<A HREF=\"" + PercentEncodePath(ParentOf(folder)) +
            "\">[To Parent Directory]</A><br><br>";
  }
  for (const ListingEntry& e : entries) {
    bool is_folder = !e.link_path.empty() && e.link_path.back() == '/';
    char size_column[32];
    if (is_folder) {
      std::snprintf(size_column, sizeof size_column, "%12s", "&lt;dir&gt;");
    } else {
      std::snprintf(size_column, sizeof size_column, "%12lld", static_cast<long long>(e.size));
    }
    page += kDateColumn;
    page += ' ';
    page += size_column;
    page += " <A HREF=\"" + PercentEncodePath(e.link_path) + "\">" +
            HtmlEscape(DisplayName(e.link_path)) + "</A><br>";
  }
  page += "</pre><hr></body></html>\r\n";
  return page;
}

}  // namespace vespar::testing
