#include "src/engine/ini_reader.h"

#include <utility>

#include "src/platform/text.h"

namespace vespar {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

IniReader::IniReader(std::string_view text) {
  Section* current = nullptr;  // null before the first section, or in a repeat
  bool seenSection = false;
  while (!text.empty()) {
    size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    std::string_view trimmed = TrimBlanks(line);
    if (!trimmed.empty() && trimmed.front() == '[') {
      size_t close = trimmed.find(']');
      if (close == std::string_view::npos) continue;
      std::string_view name = TrimBlanks(trimmed.substr(1, close - 1));
      seenSection = true;
      current = nullptr;
      if (FindSection(name) != nullptr) continue;  // a repeat: ignored
      index_.emplace(ToLowerAscii(name), sections_.size());
      sections_.push_back(Section{name, {}});
      current = &sections_.back();
      continue;
    }
    if (!seenSection || current == nullptr) continue;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    current->entries.push_back(
        Entry{TrimBlanks(line.substr(0, eq)), line.substr(eq + 1)});
  }
}

const IniReader::Section* IniReader::FindSection(std::string_view name) const {
  auto it = index_.find(ToLowerAscii(name));
  return it == index_.end() ? nullptr : &sections_[it->second];
}

const IniReader::Entry* IniReader::Find(std::string_view section,
                                        std::string_view key) const {
  const Section* s = FindSection(TrimBlanks(section));
  if (s == nullptr) return nullptr;
  key = TrimBlanks(key);
  for (const Entry& e : s->entries) {
    if (EqualNoCase(e.key, key)) return &e;
  }
  return nullptr;
}

std::string_view IniReader::Get(std::string_view section, std::string_view key,
                                std::string_view fallback) const {
  const Entry* e = Find(section, key);
  return e != nullptr ? e->value : fallback;
}

bool IniReader::Has(std::string_view section, std::string_view key) const {
  return Find(section, key) != nullptr;
}

std::vector<std::string_view> IniReader::SectionNames() const {
  std::vector<std::string_view> names;
  names.reserve(sections_.size());
  for (const Section& s : sections_) names.push_back(s.name);
  return names;
}

}  // namespace vespar
