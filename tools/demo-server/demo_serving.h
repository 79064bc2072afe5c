#pragma once

// Putting the demo tree on a test server, and writing it to a folder so
// tests can compare what the downloader wrote.

#include <string>

#include "tools/demo-server/demo_tree.h"

namespace vespar::testing {
class TestServer;
}

namespace vespar::demo {

// Adds every file (under its wire-code-page path, linked by its UTF-8 path)
// and every folder of `tree` to `*server`.
void ServeDemoTree(const DemoTree& tree, testing::TestServer* server);

// Writes every file of `tree` below `dir` at its UTF-8 link path, creating
// folders. False with a reason in *error when a write fails.
bool DumpDemoTree(const DemoTree& tree, const std::string& dir, std::string* error);

}  // namespace vespar::demo
