#pragma once

// The demo content tree: a configuration file, two folders of files of
// several sizes (a Korean name and a name with a blank among them) and a
// launch script. Generated in memory from fixed seeds, so every run serves
// the same bytes; tests use the same description to check what the
// downloader wrote.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vespar::demo {

struct DemoFile {
  // The decoded request path the downloader sends, as raw bytes: the wire
  // code page (CP949) for a non-ASCII name.
  std::string server_path;
  // The path a folder listing links (UTF-8, as the publisher's server links).
  std::string link_path;
  // Where the downloader puts it below its download folder with the "r"
  // layout (UTF-8); empty for files the download list does not name.
  std::string local_path;
  std::string content;
};

struct DemoTree {
  std::string config_path;           // "/vespar.ini"
  std::vector<DemoFile> files;       // the configuration file first
  std::vector<std::string> folders;  // paths that answer a listing
};

struct DemoOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 0;        // the port the configuration names
  double size_scale = 1.0;  // multiplies the size of the large file
};

// The size of the large file before scaling (20 MiB and a few bytes, so the
// last part is never a round size).
constexpr int64_t kLargeFileBaseSize = 20 * 1024 * 1024 + 13;

DemoTree BuildDemoTree(const DemoOptions& options);

// The configuration text for a server at host:port.
std::string DemoConfiguration(std::string_view host, uint16_t port);

// UTF-8 to CP949 bytes (iconv); a character CP949 lacks becomes "?".
std::string Utf8ToCp949(std::string_view utf8);

}  // namespace vespar::demo
