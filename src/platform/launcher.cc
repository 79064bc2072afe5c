#include "src/platform/launcher.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

extern char** environ;

namespace vespar {
namespace {

enum class Search { kExactPath, kPath };

int Spawn(const std::string& program, const std::vector<std::string>& args,
          const std::string& working_folder, Search search, pid_t* pid_out) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  if (int error = posix_spawn_file_actions_init(&actions)) return error;
  if (int error = posix_spawnattr_init(&attributes)) {
    posix_spawn_file_actions_destroy(&actions);
    return error;
  }
  // Detached from the downloader's terminal or pipes: a program that outlives
  // the downloader must not die writing to a pipe nobody reads.
  int error = posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null",
                                               O_RDONLY, 0);
  for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    if (!error)
      error = posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_WRONLY, 0);
  }
  if (!error && !working_folder.empty())
    error = posix_spawn_file_actions_addchdir_np(&actions, working_folder.c_str());
  // The downloader ignores SIGPIPE and may block signals on its own threads;
  // a started program gets the usual dispositions and an empty mask.
  sigset_t defaults, empty;
  sigemptyset(&defaults);
  for (int signo : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&defaults, signo);
  sigemptyset(&empty);
  if (!error) error = posix_spawnattr_setsigdefault(&attributes, &defaults);
  if (!error) error = posix_spawnattr_setsigmask(&attributes, &empty);
  if (!error)
    error = posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  pid_t pid = -1;
  if (!error) {
    error = search == Search::kPath
                ? posix_spawnp(&pid, program.c_str(), &actions, &attributes,
                               argv.data(), environ)
                : posix_spawn(&pid, program.c_str(), &actions, &attributes,
                              argv.data(), environ);
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (!error && pid_out) *pid_out = pid;
  return error;
}

}  // namespace

int RunDetached(const std::string& file, const std::string& working_folder,
                pid_t* pid) {
  if (file.empty() || file[0] != '/') return EINVAL;
  struct stat st;
  if (::stat(file.c_str(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EACCES;
  if (!(st.st_mode & S_IXUSR) && ::chmod(file.c_str(), st.st_mode | S_IXUSR) != 0)
    return errno;
  return Spawn(file, {file}, working_folder, Search::kExactPath, pid);
}

int OpenFolder(const std::string& folder, pid_t* pid) {
  return Spawn("xdg-open", {"xdg-open", folder}, folder, Search::kPath, pid);
}

LaunchOutcome LaunchOrOpenFolder(const std::string& file, const std::string& folder,
                                 int* error) {
  int result = RunDetached(file, folder);
  if (error) *error = result;
  if (result == 0) return LaunchOutcome::kRan;
  return OpenFolder(folder) == 0 ? LaunchOutcome::kOpenedFolder : LaunchOutcome::kFailed;
}

}  // namespace vespar
