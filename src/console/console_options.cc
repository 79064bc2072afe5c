#include "src/console/console_options.h"

#include <charconv>

namespace vespar {
namespace {

bool ParseCount(const std::string& text, int low, int high, int* out) {
  int value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || value < low || value > high) return false;
  *out = value;
  return true;
}

struct CountFlag {
  const char* name;
  int low;
  int high;
  std::optional<int> ConsoleOptions::*field;
};

constexpr CountFlag kCountFlags[] = {
    {"--parts", 1, 5, &ConsoleOptions::parts},
    {"--extra-parts", 0, 5, &ConsoleOptions::extraParts},
    {"--retries", 0, 1000, &ConsoleOptions::retries},
};

}  // namespace

bool ParseConsoleOptions(const std::vector<std::string>& args, ConsoleOptions* options,
                         std::string* error) {
  ConsoleOptions parsed;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string flag = args[i];
    std::optional<std::string> inline_value;
    size_t equals = flag.find('=');
    if (flag.rfind("--", 0) == 0 && equals != std::string::npos) {
      inline_value = flag.substr(equals + 1);
      flag.resize(equals);
    }
    auto value = [&](std::string* out) {
      if (inline_value) {
        *out = *inline_value;
        return true;
      }
      if (i + 1 >= args.size()) {
        *error = flag + " needs a value";
        return false;
      }
      *out = args[++i];
      return true;
    };
    auto no_value = [&] {
      if (!inline_value) return true;
      *error = flag + " takes no value";
      return false;
    };

    if (flag == "--help" || flag == "-h") {
      if (!no_value()) return false;
      parsed.help = true;
    } else if (flag == "--list") {
      if (!no_value()) return false;
      parsed.list = true;
    } else if (flag == "--no-launch") {
      if (!no_value()) return false;
      parsed.noLaunch = true;
    } else if (flag == "--config-url" || flag == "--folder") {
      std::string text;
      if (!value(&text)) return false;
      if (text.empty()) {
        *error = flag + " needs a value";
        return false;
      }
      (flag == "--folder" ? parsed.folder : parsed.configUrl) = text;
    } else if (flag == "--overwrite") {
      std::string text;
      if (!value(&text)) return false;
      if (text == "yes") {
        parsed.overwrite = OverwriteAnswer::kYes;
      } else if (text == "no") {
        parsed.overwrite = OverwriteAnswer::kNo;
      } else {
        *error = "--overwrite takes yes or no, not \"" + text + "\"";
        return false;
      }
    } else {
      const CountFlag* count = nullptr;
      for (const CountFlag& f : kCountFlags) {
        if (flag == f.name) count = &f;
      }
      if (!count) {
        *error = "unknown argument \"" + args[i] + "\"";
        return false;
      }
      std::string text;
      if (!value(&text)) return false;
      int number = 0;
      if (!ParseCount(text, count->low, count->high, &number)) {
        *error = flag + " takes a number from " + std::to_string(count->low) + " to " +
                 std::to_string(count->high) + ", not \"" + text + "\"";
        return false;
      }
      parsed.*(count->field) = number;
    }
  }
  *options = std::move(parsed);
  return true;
}

std::string ConsoleUsage() {
  return "Usage: vespar-console [options]\n"
         "Downloads the game client named by the configuration file into a folder.\n"
         "\n"
         "  --config-url URL     fetch the configuration from URL (else $VESPAR_CONFIG_URL,\n"
         "                       else the built-in address)\n"
         "  --folder DIR         download into DIR\n"
         "  --overwrite yes|no   the answer to the question about existing files (else\n"
         "                       asked on the terminal, \"no\" without one)\n"
         "  --no-launch          print the launch file's path instead of running it\n"
         "  --parts N            parts of one file fetched at once (1 to 5)\n"
         "  --extra-parts N      extra parts for files above 256 MiB (0 to 5)\n"
         "  --retries N          resumes of a stopped transfer without new data before\n"
         "                       giving up (0 to 1000, default 10); a transfer that brings\n"
         "                       no data for 120 s counts as stopped\n"
         "  --list               print the URL of every file to download, one a line, and exit\n"
         "  --help               show this text\n"
         "\n"
         "Exit status: 0 when everything is complete; 1 on failure, with a one-line reason;\n"
         "2 for a bad flag; 3 when another instance is running; 128 + the signal number\n"
         "when stopped by SIGINT or SIGTERM (the parts received so far are kept).\n";
}

}  // namespace vespar
