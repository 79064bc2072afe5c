#include "src/bootstrap/content_list.h"

#include "src/platform/text.h"

namespace vespar {

ContentList ParseContentList(std::u16string_view url) {
  ContentList list;
  list.base = std::u16string(FieldOf(url, u'/', 0)) + u"//" +
              std::u16string(FieldOf(url, u'/', 2)) + u"/";

  std::u16string rest(url);
  ReplaceAll(rest, list.base, u"");

  std::u16string folder;
  size_t start = 0;
  while (true) {
    size_t colon = rest.find(u':', start);
    bool last = colon == std::u16string::npos;
    std::u16string_view entry =
        std::u16string_view(rest).substr(start, last ? rest.npos : colon - start);
    std::u16string name;
    size_t slash = entry.rfind(u'/');
    if (slash == std::u16string_view::npos) {
      name = entry;
    } else {
      folder = entry.substr(0, slash + 1);
      name = entry.substr(slash + 1);
    }
    if (!name.empty()) list.entries.push_back({folder, name});
    if (last) break;
    start = colon + 1;
  }
  return list;
}

}  // namespace vespar
