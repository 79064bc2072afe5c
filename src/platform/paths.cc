#include "src/platform/paths.h"

#include <errno.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string_view>
#include <vector>

namespace vespar {
namespace {

constexpr char kProgramFolderName[] = "vespar-downloader";

std::string StripTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// An environment value naming a folder; the XDG rules ignore empty and
// relative values.
std::string AbsoluteEnv(const char* name) {
  const char* value = getenv(name);
  if (!value || value[0] != '/') return {};
  return StripTrailingSlashes(value);
}

std::string PasswordHome() {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? size : 16384);
  passwd entry;
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      !found || !found->pw_dir)
    return {};
  return found->pw_dir;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string_view SkipBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

// Reads one `XDG_DOCUMENTS_DIR="..."` line of user-dirs.dirs. The value is
// "$HOME/..." or an absolute path; a backslash escapes the next character.
// Empty when the line is something else or its value is unusable.
std::string DocumentsFromLine(std::string_view line) {
  constexpr std::string_view kKey = "XDG_DOCUMENTS_DIR";
  line = SkipBlanks(line);
  if (line.substr(0, kKey.size()) != kKey) return {};
  line = SkipBlanks(line.substr(kKey.size()));
  if (line.empty() || line.front() != '=') return {};
  line = SkipBlanks(line.substr(1));
  if (line.empty() || line.front() != '"') return {};
  line.remove_prefix(1);
  std::string value;
  bool closed = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) {
      value.push_back(line[++i]);
    } else if (line[i] == '"') {
      closed = true;
      break;
    } else {
      value.push_back(line[i]);
    }
  }
  if (!closed) return {};
  constexpr std::string_view kHome = "$HOME";
  if (value.compare(0, kHome.size(), kHome) == 0 &&
      (value.size() == kHome.size() || value[kHome.size()] == '/')) {
    std::string home = HomeFolder();
    if (home.empty()) return {};
    if (home == "/") home.clear();
    value = home + value.substr(kHome.size());
    if (value.empty()) value = "/";
  }
  if (value.empty() || value[0] != '/') return {};
  return StripTrailingSlashes(value);
}

// The documents folder named in user-dirs.dirs; the last valid line wins, as
// when the file is read by a shell.
std::string DocumentsFromUserDirs() {
  std::string config = AbsoluteEnv("XDG_CONFIG_HOME");
  if (config.empty()) {
    std::string home = HomeFolder();
    if (home.empty()) return {};
    config = home + "/.config";
  }
  std::ifstream file(config + "/user-dirs.dirs");
  std::string line, found;
  while (std::getline(file, line)) {
    std::string value = DocumentsFromLine(line);
    if (!value.empty()) found = value;
  }
  return found;
}

std::string JoinPath(const std::string& folder, const char* name) {
  return folder == "/" ? folder + name : folder + "/" + name;
}

}  // namespace

std::string ExecutableFolder() {
  std::vector<char> buffer(4096);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buffer.size()) {
      std::string path(buffer.data(), n);
      size_t slash = path.rfind('/');
      if (slash == std::string::npos) return {};
      return slash == 0 ? "/" : path.substr(0, slash);
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string HomeFolder() {
  const char* home = getenv("HOME");
  if (home && home[0] != '\0') return StripTrailingSlashes(home);
  return PasswordHome();
}

std::string StateFolder() {
  std::string base = AbsoluteEnv("XDG_STATE_HOME");
  if (base.empty()) {
    std::string home = HomeFolder();
    base = (home == "/" ? "" : home) + "/.local/state";
  }
  return JoinPath(base, kProgramFolderName);
}

std::string DocumentsFolder() {
  std::string folder = AbsoluteEnv("XDG_DOCUMENTS_DIR");
  if (!folder.empty()) return folder;
  folder = DocumentsFromUserDirs();
  if (!folder.empty()) return folder;
  return JoinPath(HomeFolder(), "Documents");
}

std::string RuntimeFolder() {
  std::string folder = AbsoluteEnv("XDG_RUNTIME_DIR");
  return folder.empty() ? StateFolder() : folder;
}

std::string WritableFolderOrState(const std::string& preferred) {
  if (!preferred.empty() && CanWriteInFolder(preferred)) return preferred;
  std::string state = StateFolder();
  MakeFolders(state);  // a failure shows when the caller writes there
  return state;
}

std::string WritableProgramFolder() {
  return WritableFolderOrState(ExecutableFolder());
}

bool MakeFolders(const std::string& path) {
  if (path.empty()) return false;
  // Create each prefix that ends before a "/", then the whole path.
  for (size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
    std::string prefix = path.substr(0, slash);
    if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  return IsFolder(path);
}

bool CanWriteInFolder(const std::string& folder) {
  if (folder.empty()) return false;
  std::string probe = JoinPath(StripTrailingSlashes(folder), ".vespar-write-XXXXXX");
  int fd = mkstemp(probe.data());
  if (fd < 0) return false;
  close(fd);
  unlink(probe.c_str());
  return true;
}

}  // namespace vespar
