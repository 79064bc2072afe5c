#include "tools/demo-server/demo_tree.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

namespace vespar::demo {

namespace {

// Deterministic bytes: splitmix64 seeded from the file's name.
std::string SeededBytes(std::string_view name, int64_t size) {
  uint64_t state = 14695981039346656037ull;  // FNV-1a of the name
  for (char c : name) state = (state ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  std::string bytes(static_cast<size_t>(size), '\0');
  for (size_t i = 0; i < bytes.size(); i += 8) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    for (size_t k = 0; k < 8 && i + k < bytes.size(); ++k)
      bytes[i + k] = static_cast<char>(z >> (8 * k));
  }
  return bytes;
}

// Bytes to skip past one unconvertible character: its lead byte and the
// continuation bytes that follow it (one byte for a stray or invalid byte).
size_t BadSequenceLength(const char* s, size_t left) {
  unsigned char lead = static_cast<unsigned char>(s[0]);
  size_t want = lead >= 0xF8 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  size_t n = 1;
  while (n < want && n < left && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) ++n;
  return n;
}

constexpr char kReadMeText[] =
    "Vespar Downloader demo\r\n"
    "\r\n"
    "This file has a blank in its name. The folder listing links it as\r\n"
    "read%20me.txt and the downloader asks for it the same way.\r\n";

constexpr char kPatchReadMe[] =
    "Patch notes (demo)\r\n"
    "\r\n"
    "- single-file entries of the content list come from this folder;\r\n"
    "- setup.sh is started when every file has arrived.\r\n";

constexpr char kExtrasText[] =
    "This file sits in a sub-folder. The folder download does not follow\r\n"
    "sub-folders, so the downloader never asks for it.\r\n";

// Runs with the download folder as its working directory.
constexpr char kSetupScript[] =
    "#!/bin/sh\n"
    "# Vespar demo launch file: leaves a mark in the folder it was started in.\n"
    "echo \"vespar demo: setup.sh ran in $(pwd)\"\n"
    "echo launched > launched.txt\n";

DemoFile Downloaded(std::string path, std::string content) {
  return DemoFile{path, path, path.substr(1), std::move(content)};
}

}  // namespace

std::string Utf8ToCp949(std::string_view utf8) {
  iconv_t cd = iconv_open("CP949", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(utf8);
  std::string out;
  std::string in(utf8);
  char* src = in.data();
  size_t src_left = in.size();
  char buffer[256];
  while (src_left > 0) {
    char* dst = buffer;
    size_t dst_left = sizeof buffer;
    size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
    out.append(buffer, static_cast<size_t>(dst - buffer));
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // A character CP949 lacks, or broken input: "?" and go on.
    size_t skip = BadSequenceLength(src, src_left);
    src += skip;
    src_left -= skip;
    out.push_back('?');
  }
  iconv_close(cd);
  return out;
}

std::string DemoConfiguration(std::string_view host, uint16_t port) {
  // Line 1 the folder layout, lines 2 and 3 the content list (a folder entry
  // and two single files), line 4 the launch file. Windows line ends, as a
  // publisher's file has them.
  return "r\r\n"
         "http://" + std::string(host) + ":" + std::to_string(port) + "/\r\n" +
         "client/*.*:patch/readme.txt:patch/setup.sh\r\n"
         "setup.sh\r\n";
}

DemoTree BuildDemoTree(const DemoOptions& options) {
  DemoTree tree;
  tree.config_path = "/vespar.ini";
  tree.folders = {"/", "/client/", "/client/extras/", "/patch/"};

  tree.files.push_back(DemoFile{tree.config_path, tree.config_path, "",
                                DemoConfiguration(options.host, options.port)});

  const int64_t large_size = std::max<int64_t>(
      1, std::llround(static_cast<double>(kLargeFileBaseSize) * options.size_scale));
  tree.files.push_back(Downloaded("/client/small.dat", SeededBytes("small.dat", 4321)));
  tree.files.push_back(
      Downloaded("/client/medium.bin", SeededBytes("medium.bin", 1024 * 1024 + 7)));
  tree.files.push_back(Downloaded("/client/large.bin", SeededBytes("large.bin", large_size)));

  const std::string korean_utf8 = "/client/\xED\x95\x9C\xEA\xB8\x80\xED\x8C\x8C\xEC\x9D\xBC.dat";
  tree.files.push_back(DemoFile{Utf8ToCp949(korean_utf8), korean_utf8, korean_utf8.substr(1),
                                SeededBytes("hangul.dat", 6000)});
  tree.files.push_back(Downloaded("/client/read me.txt", kReadMeText));
  tree.files.push_back(DemoFile{"/client/extras/notes.txt", "/client/extras/notes.txt", "",
                                kExtrasText});

  tree.files.push_back(Downloaded("/patch/readme.txt", kPatchReadMe));
  tree.files.push_back(Downloaded("/patch/setup.sh", kSetupScript));
  return tree;
}

}  // namespace vespar::demo
