#include "tools/demo-server/demo_options.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace vespar::demo {

namespace {

bool ParseInteger(const std::string& text, int64_t low, int64_t high, int64_t* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  *value = v;
  return true;
}

}  // namespace

std::string DemoServerUsage() {
  return "usage: vespar-demo-server [options]\n"
         "Serves the generated demo tree (vespar.ini, folder listings, files, a\n"
         "launch script) over HTTP until SIGINT or SIGTERM.\n"
         "\n"
         "  --host ADDRESS        IPv4 address to listen on (default 127.0.0.1)\n"
         "  --port N              port (default 0: a free port)\n"
         "  --print-config-url    print the configuration URL on standard output\n"
         "                        as soon as the server listens\n"
         "  --rate BYTES          limit every connection to BYTES per second\n"
         "  --size-scale X        scale the large file (20 MiB) by X (> 0)\n"
         "  --dump DIR            write the served files below DIR\n"
         "  --verbose             log every request on standard error\n"
         "  --help                show this text\n";
}

bool ParseDemoServerArgs(const std::vector<std::string>& args, DemoServerOptions* options,
                         std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    std::string flag = args[i];
    std::string value;
    bool has_value = false;
    size_t eq = flag.find('=');
    if (flag.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = flag.substr(eq + 1);
      flag = flag.substr(0, eq);
      has_value = true;
    }
    auto take_value = [&]() {
      if (has_value) return true;
      if (i + 1 >= args.size()) {
        *error = flag + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };

    const bool is_switch =
        flag == "--help" || flag == "-h" || flag == "--print-config-url" || flag == "--verbose";
    if (is_switch && has_value) {
      *error = flag + " takes no value";
      return false;
    }
    if (flag == "--help" || flag == "-h") {
      options->help = true;
    } else if (flag == "--print-config-url") {
      options->print_config_url = true;
    } else if (flag == "--verbose") {
      options->verbose = true;
    } else if (flag == "--host") {
      if (!take_value()) return false;
      in_addr a;
      if (inet_pton(AF_INET, value.c_str(), &a) != 1) {
        *error = "--host: not an IPv4 address: " + value;
        return false;
      }
      options->host = value;
    } else if (flag == "--port") {
      int64_t v = 0;
      if (!take_value()) return false;
      if (!ParseInteger(value, 0, 65535, &v)) {
        *error = "--port: not a port number: " + value;
        return false;
      }
      options->port = static_cast<uint16_t>(v);
    } else if (flag == "--rate") {
      int64_t v = 0;
      if (!take_value()) return false;
      if (!ParseInteger(value, 0, INT64_MAX / 1000000, &v)) {
        *error = "--rate: not a byte count: " + value;
        return false;
      }
      options->rate_bytes_per_second = v;
    } else if (flag == "--size-scale") {
      if (!take_value()) return false;
      char* end = nullptr;
      double v = std::strtod(value.c_str(), &end);
      // Up to 100 keeps the large file within 2 GiB of memory.
      if (value.empty() || *end != '\0' || !std::isfinite(v) || v <= 0 || v > 100) {
        *error = "--size-scale: not a factor in (0, 100]: " + value;
        return false;
      }
      options->size_scale = v;
    } else if (flag == "--dump") {
      if (!take_value()) return false;
      if (value.empty()) {
        *error = "--dump needs a folder";
        return false;
      }
      options->dump_dir = value;
    } else {
      *error = "unknown option: " + args[i];
      return false;
    }
  }
  return true;
}

}  // namespace vespar::demo
