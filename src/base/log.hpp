#pragma once

// Host diagnostics.  Messages go to the standard error stream, one line
// each, with a coloured prefix for errors, warnings and traces when that
// stream is a terminal; or, when a front end installed a sink, to the sink
// instead.  The plugin logs through the LV2 log feature, which always
// writes to the standard error stream.

#include <cstdarg>
#include <cstdio>
#include <lv2/log/log.h>
#include <lv2/urid/urid.h>
#include <mutex>
#include <string>

struct Urids;

/// Log levels, numbered as syslog numbers them.  Any other level prints
/// like info.
enum LogLevel : int {
  LOG_LEVEL_ERROR = 3,
  LOG_LEVEL_WARNING = 4,
  LOG_LEVEL_INFO = 6,
  LOG_LEVEL_TRACE = 7,
};

/// Receives host messages unformatted, in place of the console.
using LogSink = int (*)(void* data, int level, const char* format, va_list args);

struct LogContext {
  const Urids* urids; ///< For the LV2 log types; none before the plugin is opened.
  LogSink sink;       ///< None: messages go to the console.
  void* sink_data;
  bool tracing; ///< Whether plugin trace messages are printed.

  /// The last error the host logged, for reports that must say what
  /// failed (a session manager's error answer).  A worker thread may log
  /// while the main thread reads it, hence the lock.
  std::mutex last_error_lock;
  std::string last_error;
};

/// The last error logged through `context`, or "" when there was none.
std::string host_last_error(LogContext* context);

/// Log one line at `level` through the sink or to the console, and return
/// what that returned.
int host_log(LogContext* context, int level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

/// Print one line on the standard error stream: prefix (coloured on a
/// terminal) for errors, warnings and traces, the message, and a newline
/// unless the message ends in one.  Returns the number of characters of the
/// message itself.
int console_vlog(int level, const char* format, va_list args) __attribute__((format(printf, 2, 0)));

/// Start colour `code` on `stream` if it is a terminal; true when a colour
/// sequence was written.
bool color_begin(FILE* stream, int code);

/// End a colour on `stream` if it is a terminal.
void color_end(FILE* stream);

/// The printf function of the LV2 log feature; the handle is a LogContext.
int lv2_log_printf(LV2_Log_Handle handle, LV2_URID type, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

/// The vprintf function of the LV2 log feature.  Errors and warnings get
/// their prefix, traces are printed only when tracing, and any other type is
/// printed exactly as the plugin wrote it.
int lv2_log_vprintf(LV2_Log_Handle handle, LV2_URID type, const char* format, va_list args)
    __attribute__((format(printf, 3, 0)));
