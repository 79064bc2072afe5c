#include "tools/demo-server/demo_serving.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "tests/support/test_server.h"

namespace vespar::demo {

void ServeDemoTree(const DemoTree& tree, testing::TestServer* server) {
  for (const std::string& folder : tree.folders) server->AddFolder(folder);
  for (const DemoFile& f : tree.files) server->AddFile(f.server_path, f.content, f.link_path);
}

bool DumpDemoTree(const DemoTree& tree, const std::string& dir, std::string* error) {
  namespace fs = std::filesystem;
  for (const DemoFile& f : tree.files) {
    fs::path target = fs::path(dir) / fs::path(f.link_path.substr(1));
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    if (ec) {
      *error = target.parent_path().string() + ": " + ec.message();
      return false;
    }
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(f.content.data(), static_cast<std::streamsize>(f.content.size()));
    out.close();
    if (!out) {
      *error = target.string() + ": write failed";
      return false;
    }
  }
  return true;
}

}  // namespace vespar::demo
