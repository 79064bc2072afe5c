#include "src/engine/local_path.h"

#include "src/bootstrap/globals.h"

namespace vespar {
namespace {

bool HasControl(std::u16string_view text) {
  for (char16_t c : text) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

// Splits at "/" dropping empty segments. False for "." or ".." or a control
// character in any segment.
bool SafeSegments(std::u16string_view text, std::vector<std::u16string_view>* out) {
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t next = text.find(u'/', pos);
    if (next == std::u16string_view::npos) next = text.size();
    std::u16string_view segment = text.substr(pos, next - pos);
    pos = next + 1;
    if (segment.empty()) continue;
    if (segment == u"." || segment == u".." || HasControl(segment)) return false;
    out->push_back(segment);
  }
  return true;
}

std::u16string_view StripBase(std::u16string_view url,
                              const std::vector<std::u16string>& bases,
                              std::u16string_view contentBase) {
  size_t best = 0;
  for (const std::u16string& base : bases) {
    if (base.size() > best && url.substr(0, base.size()) == base) best = base.size();
  }
  if (best == 0 && !contentBase.empty() &&
      url.substr(0, contentBase.size()) == contentBase)
    best = contentBase.size();
  if (best == 0) {
    // Not listed under a known base: everything after the host.
    size_t scheme = url.find(u"://");
    if (scheme != std::u16string_view::npos) {
      size_t slash = url.find(u'/', scheme + 3);
      best = slash == std::u16string_view::npos ? url.size() : slash + 1;
    }
  }
  return url.substr(best);
}

}  // namespace

bool RelativeFolderFor(std::u16string_view url, std::u16string_view layoutFlag,
                       const std::vector<std::u16string>& bases,
                       std::u16string_view contentBase, std::u16string* folder) {
  folder->clear();
  if (layoutFlag != u"r") return true;
  std::u16string_view rest = StripBase(url, bases, contentBase);
  size_t slash = rest.rfind(u'/');
  if (slash == std::u16string_view::npos) return true;  // directly in the folder
  std::vector<std::u16string_view> segments;
  if (!SafeSegments(rest.substr(0, slash), &segments)) return false;
  for (std::u16string_view segment : segments) {
    folder->append(segment);
    folder->push_back(u'/');
  }
  return true;
}

bool RelativeFolderOf(std::u16string_view url, std::u16string* folder) {
  return RelativeFolderFor(url, FolderLayoutFlag, DownloadBases, ContentBaseUrl,
                           folder);
}

std::u16string NormaliseFolder(std::u16string_view folder) {
  std::u16string out;
  for (char16_t c : folder) {
    if (c == u'/' && !out.empty() && out.back() == u'/') continue;
    out.push_back(c);
  }
  if (out.empty() || out.back() != u'/') out.push_back(u'/');
  return out;
}

std::u16string JoinLocalPath(std::u16string_view downloadFolder,
                             std::u16string_view relativeFolder,
                             std::u16string_view name) {
  std::u16string joined = NormaliseFolder(downloadFolder);
  joined.append(relativeFolder);
  joined.push_back(u'/');
  joined = NormaliseFolder(joined);
  joined.append(name);
  return joined;
}

bool LaunchFilePath(std::u16string_view downloadFolder,
                    std::u16string_view relativeFolder,
                    std::u16string_view launchName, std::u16string* path) {
  path->clear();
  if (launchName.empty() || launchName.front() == u'/' || launchName.back() == u'/')
    return false;
  std::vector<std::u16string_view> segments;
  if (!SafeSegments(launchName, &segments) || segments.empty()) return false;
  std::vector<std::u16string_view> folder_segments;
  if (!SafeSegments(relativeFolder, &folder_segments)) return false;
  std::u16string relative;
  for (std::u16string_view s : folder_segments) {
    relative.append(s);
    relative.push_back(u'/');
  }
  for (size_t i = 0; i + 1 < segments.size(); ++i) {
    relative.append(segments[i]);
    relative.push_back(u'/');
  }
  *path = JoinLocalPath(downloadFolder, relative, segments.back());
  return true;
}

}  // namespace vespar
