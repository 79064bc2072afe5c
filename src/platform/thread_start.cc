#include "src/platform/thread_start.h"

#include <atomic>

namespace vespar {
namespace {

std::atomic<ThreadStartHook> g_hook{nullptr};

}  // namespace

void SetThreadStartHook(ThreadStartHook hook) { g_hook.store(hook); }

void RunThreadStartHook() {
  if (ThreadStartHook hook = g_hook.load()) hook();
}

}  // namespace vespar
