#pragma once

// Backtraces of a run that went wrong, for the diagnosis that follows a
// sweep: of every thread of a program that hangs, taken before it is
// killed, and of the core that a crashed one dumped.  Both come from gdb,
// run as a person would run it.

#include <string>
#include <sys/types.h>

/// Lets the programs the sweep starts dump a core when they crash; false
/// when the system sends cores elsewhere than the program's working
/// directory (a core_pattern that is a pipe, as systemd-coredump's is).
bool allow_core_dumps();

/// Every thread's backtrace of the running process; "" without gdb.
std::string backtrace_of_process(pid_t pid);

/// The backtrace that the core `pid` dumped into `directory` shows, which
/// it removes; "" when there is none.
std::string backtrace_of_core(const std::string& program, const std::string& directory, pid_t pid);

/// A file name made of the URI: its letters and digits, the rest '_'.
std::string file_name_of(const std::string& uri);
