#pragma once

// A read-only view of INI-style text: "[section]" lines followed by
// "key=value" lines. Built once from the bytes, then looked up by name.
//
// Section and key names are matched without regard to ASCII case and with
// blanks around them ignored; a value is everything after the first "=" up to
// the end of its line (CR LF or LF), kept exactly. When a section or a key
// appears more than once, the first one counts. Lines before the first section,
// lines without "=", and malformed section lines are skipped. Any byte string
// is accepted; nothing here allocates more than a constant per line of input.

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vespar {

class IniReader {
 public:
  // `text` must remain live while this reader is in use: lookups return
  // views into it.
  explicit IniReader(std::string_view text);

  // The value of `key` in `section`, or `fallback` when either is missing.
  std::string_view Get(std::string_view section, std::string_view key,
                       std::string_view fallback) const;

  // True when `section` holds `key` (with any value, the empty one included).
  bool Has(std::string_view section, std::string_view key) const;

  // Names of the sections, in file order, each name once (the first spelling).
  std::vector<std::string_view> SectionNames() const;

 private:
  struct Entry {
    std::string_view key;
    std::string_view value;
  };
  struct Section {
    std::string_view name;
    std::vector<Entry> entries;
  };

  const Section* FindSection(std::string_view name) const;
  const Entry* Find(std::string_view section, std::string_view key) const;

  std::vector<Section> sections_;  // first occurrence of each name only
  // Lower-case name to index in sections_: lookups stay fast when a damaged
  // file holds very many sections.
  std::unordered_map<std::string, size_t> index_;
};

}  // namespace vespar
