#include "src/platform/paths.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>

namespace vespar {
namespace {

namespace fs = std::filesystem;

// Sets environment variables for one case and restores them afterwards.
class ScopedEnv {
 public:
  ScopedEnv() = default;
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv() {
    for (const auto& [name, old] : saved_) {
      if (old) {
        setenv(name.c_str(), old->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }
  // Null unsets the variable.
  void Set(const std::string& name, const char* value) {
    if (!saved_.count(name)) {
      const char* old = getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) {
      setenv(name.c_str(), value, 1);
    } else {
      unsetenv(name.c_str());
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

class PathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vespar-paths-XXXXXX").string();
    ASSERT_NE(nullptr, mkdtemp(pattern.data()));
    tmp_ = pattern;
    home_ = tmp_ + "/home";
    fs::create_directories(home_);
    env_.Set("HOME", home_.c_str());
    for (const char* name : {"XDG_DOCUMENTS_DIR", "XDG_CONFIG_HOME",
                             "XDG_STATE_HOME", "XDG_RUNTIME_DIR"})
      env_.Set(name, nullptr);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(tmp_, ignored);
  }
  // Replaces "{tmp}" and "{home}" in a case's text.
  std::string Expand(std::string text) const {
    for (auto [key, value] : {std::pair<std::string, std::string>{"{tmp}", tmp_},
                              {"{home}", home_}}) {
      for (size_t at; (at = text.find(key)) != std::string::npos;)
        text.replace(at, key.size(), value);
    }
    return text;
  }
  void WriteFile(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << content;
  }

  ScopedEnv env_;
  std::string tmp_, home_;
};

TEST_F(PathsTest, DocumentsFolder) {
  static const struct {
    const char* name;
    const char* documents_env;  // XDG_DOCUMENTS_DIR; null: unset
    const char* config_env;     // XDG_CONFIG_HOME; null: unset
    const char* user_dirs_path;  // where user-dirs.dirs is written; null: none
    const char* user_dirs;
    const char* expected;
  } kCases[] = {
      {"environment wins", "{tmp}/env-docs", "{tmp}/cfg", "{tmp}/cfg/user-dirs.dirs",
       "XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n", "{tmp}/env-docs"},
      {"trailing slash dropped", "{tmp}/env-docs//", nullptr, nullptr, "",
       "{tmp}/env-docs"},
      {"empty environment value ignored", "", nullptr, nullptr, "",
       "{home}/Documents"},
      {"relative environment value ignored", "docs", nullptr, nullptr, "",
       "{home}/Documents"},
      {"user-dirs with $HOME", nullptr, "{tmp}/cfg", "{tmp}/cfg/user-dirs.dirs",
       "# written by xdg-user-dirs-update\n"
       "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
       "XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n"
       "XDG_MUSIC_DIR=\"$HOME/Music\"\n",
       "{home}/Docs"},
      {"user-dirs in ~/.config by default", nullptr, nullptr,
       "{home}/.config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n",
       "{home}/Papers"},
      {"absolute value, blanks around =", nullptr, "{tmp}/cfg",
       "{tmp}/cfg/user-dirs.dirs", "  XDG_DOCUMENTS_DIR = \"/srv/docs/\"\n",
       "/srv/docs"},
      {"escaped characters", nullptr, "{tmp}/cfg", "{tmp}/cfg/user-dirs.dirs",
       "XDG_DOCUMENTS_DIR=\"$HOME/My \\\"Docs\\\" \\$x\"\n",
       "{home}/My \"Docs\" $x"},
      {"Korean name", nullptr, "{tmp}/cfg", "{tmp}/cfg/user-dirs.dirs",
       "XDG_DOCUMENTS_DIR=\"$HOME/\xEB\xAC\xB8\xEC\x84\x9C\"\n",
       "{home}/\xEB\xAC\xB8\xEC\x84\x9C"},
      {"last valid line wins", nullptr, "{tmp}/cfg", "{tmp}/cfg/user-dirs.dirs",
       "XDG_DOCUMENTS_DIR=\"$HOME/First\"\nXDG_DOCUMENTS_DIR=\"$HOME/Second\"\n"
       "XDG_DOCUMENTS_DIR=\"relative\"\n",
       "{home}/Second"},
      {"commented line ignored", nullptr, "{tmp}/cfg", "{tmp}/cfg/user-dirs.dirs",
       "#XDG_DOCUMENTS_DIR=\"$HOME/Commented\"\n", "{home}/Documents"},
      {"relative value ignored", nullptr, "{tmp}/cfg", "{tmp}/cfg/user-dirs.dirs",
       "XDG_DOCUMENTS_DIR=\"Docs\"\n", "{home}/Documents"},
      {"$HOMEX is not $HOME", nullptr, "{tmp}/cfg", "{tmp}/cfg/user-dirs.dirs",
       "XDG_DOCUMENTS_DIR=\"$HOMEX/Docs\"\n", "{home}/Documents"},
      {"unclosed quote ignored", nullptr, "{tmp}/cfg", "{tmp}/cfg/user-dirs.dirs",
       "XDG_DOCUMENTS_DIR=\"$HOME/Docs\n", "{home}/Documents"},
      {"other key with the same start ignored", nullptr, "{tmp}/cfg",
       "{tmp}/cfg/user-dirs.dirs", "XDG_DOCUMENTS_DIRX=\"/x\"\n",
       "{home}/Documents"},
      {"no user-dirs file", nullptr, "{tmp}/cfg", nullptr, "",
       "{home}/Documents"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(tmp_ + "/cfg");
    fs::remove_all(home_ + "/.config");
    ScopedEnv env;
    env.Set("XDG_DOCUMENTS_DIR",
            c.documents_env ? Expand(c.documents_env).c_str() : nullptr);
    env.Set("XDG_CONFIG_HOME", c.config_env ? Expand(c.config_env).c_str() : nullptr);
    if (c.user_dirs_path) WriteFile(Expand(c.user_dirs_path), c.user_dirs);
    EXPECT_EQ(Expand(c.expected), DocumentsFolder());
  }
}

TEST_F(PathsTest, StateAndRuntimeFolders) {
  static const struct {
    const char* state_env;
    const char* runtime_env;
    const char* state;
    const char* runtime;
  } kCases[] = {
      {nullptr, nullptr, "{home}/.local/state/vespar-downloader",
       "{home}/.local/state/vespar-downloader"},
      {"{tmp}/state", "{tmp}/run", "{tmp}/state/vespar-downloader", "{tmp}/run"},
      {"{tmp}/state/", "{tmp}/run/", "{tmp}/state/vespar-downloader", "{tmp}/run"},
      {"relative", "relative", "{home}/.local/state/vespar-downloader",
       "{home}/.local/state/vespar-downloader"},
      {"", "", "{home}/.local/state/vespar-downloader",
       "{home}/.local/state/vespar-downloader"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.state_env ? c.state_env : "(unset)") + " " +
                 (c.runtime_env ? c.runtime_env : "(unset)"));
    ScopedEnv env;
    env.Set("XDG_STATE_HOME", c.state_env ? Expand(c.state_env).c_str() : nullptr);
    env.Set("XDG_RUNTIME_DIR",
            c.runtime_env ? Expand(c.runtime_env).c_str() : nullptr);
    EXPECT_EQ(Expand(c.state), StateFolder());
    EXPECT_EQ(Expand(c.runtime), RuntimeFolder());
  }
}

TEST_F(PathsTest, HomeFolderFallsBackToThePasswordDatabase) {
  EXPECT_EQ(home_, HomeFolder());
  passwd* entry = getpwuid(geteuid());
  ASSERT_NE(nullptr, entry);
  for (const char* value : {static_cast<const char*>(nullptr), ""}) {
    ScopedEnv env;
    env.Set("HOME", value);
    EXPECT_EQ(std::string(entry->pw_dir), HomeFolder());
  }
}

TEST_F(PathsTest, ExecutableFolderHoldsThisTest) {
  std::string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ('/', folder[0]);
  EXPECT_NE('/', folder.back());
  EXPECT_TRUE(fs::exists(folder + "/vespar_platform_tests")) << folder;
}

TEST_F(PathsTest, MakeFolders) {
  WriteFile(tmp_ + "/file", "x");
  static const struct {
    const char* path;
    bool ok;
  } kCases[] = {
      {"{tmp}/a/b/c", true},
      {"{tmp}/a/b/c", true},  // already there
      {"{tmp}/a//d/", true},
      {"{tmp}", true},
      {"/", true},
      {"{tmp}/file", false},        // a file, not a folder
      {"{tmp}/file/sub", false},    // below a file
      {"", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.path);
    std::string path = Expand(c.path);
    EXPECT_EQ(c.ok, MakeFolders(path));
    if (c.ok) {
      EXPECT_TRUE(fs::is_directory(path));
    }
  }
}

TEST_F(PathsTest, CanWriteInFolderLeavesNothingBehind) {
  EXPECT_TRUE(CanWriteInFolder(tmp_));
  EXPECT_TRUE(CanWriteInFolder(tmp_ + "/"));
  EXPECT_EQ(1, std::distance(fs::directory_iterator(tmp_), fs::directory_iterator()));
  WriteFile(tmp_ + "/file", "x");
  EXPECT_FALSE(CanWriteInFolder(tmp_ + "/missing"));
  EXPECT_FALSE(CanWriteInFolder(tmp_ + "/file"));
  EXPECT_FALSE(CanWriteInFolder(""));
}

TEST_F(PathsTest, WritableFolderFallsBackToTheStateFolder) {
  env_.Set("XDG_STATE_HOME", (tmp_ + "/state").c_str());
  EXPECT_EQ(tmp_, WritableFolderOrState(tmp_));
  EXPECT_FALSE(fs::exists(tmp_ + "/state"));
  std::string chosen = WritableFolderOrState(tmp_ + "/missing");
  EXPECT_EQ(tmp_ + "/state/vespar-downloader", chosen);
  EXPECT_TRUE(fs::is_directory(chosen));
  EXPECT_EQ(tmp_ + "/state/vespar-downloader", WritableFolderOrState(""));
  // The test binary's folder is writable here.
  EXPECT_EQ(ExecutableFolder(), WritableProgramFolder());
}

}  // namespace
}  // namespace vespar
