#pragma once

// A hook run at the start of every thread the program creates (the manager
// thread, range workers), so that a process-wide service can prepare state
// each thread needs of its own: the crash report gives each thread an
// alternate signal stack, without which a stack overflow cannot be reported.

namespace vespar {

using ThreadStartHook = bool (*)();

// Installs `hook` (null: none). Set before the threads it concerns start.
void SetThreadStartHook(ThreadStartHook hook);

// Runs the installed hook, if any, on the calling thread.
void RunThreadStartHook();

}  // namespace vespar
