#pragma once

// Command-line options of vespar-demo-server.

#include <cstdint>
#include <string>
#include <vector>

namespace vespar::demo {

struct DemoServerOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 0;  // 0: a free port
  bool print_config_url = false;
  int64_t rate_bytes_per_second = 0;  // per connection; 0: unlimited
  double size_scale = 1.0;
  std::string dump_dir;
  bool verbose = false;
  bool help = false;
};

// Parses the arguments after the program name. False, with the reason in
// *error, on an unknown flag, a missing value or a value out of range.
bool ParseDemoServerArgs(const std::vector<std::string>& args, DemoServerOptions* options,
                         std::string* error);

std::string DemoServerUsage();

}  // namespace vespar::demo
