#include "base/log.hpp"

#include "base/urids.hpp"

#include <cstring>
#include <unistd.h>

namespace {

struct LevelStyle {
  const char* prefix;
  int color;
};

// Info and unknown levels have no style: the message is printed bare.
const LevelStyle* level_style(int level) {
  static constexpr LevelStyle error{"error: ", 31};
  static constexpr LevelStyle warning{"warning: ", 33};
  static constexpr LevelStyle trace{"trace: ", 32};
  switch (level) {
  case LOG_LEVEL_ERROR:
    return &error;
  case LOG_LEVEL_WARNING:
    return &warning;
  case LOG_LEVEL_TRACE:
    return &trace;
  default:
    return nullptr;
  }
}

bool is_terminal(FILE* stream) {
  return isatty(fileno(stream)) != 0;
}

void keep_last_error(LogContext* context, const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof(text), format, args);
  const std::lock_guard<std::mutex> lock(context->last_error_lock);
  context->last_error = text;
}

} // namespace

std::string host_last_error(LogContext* context) {
  const std::lock_guard<std::mutex> lock(context->last_error_lock);
  return context->last_error;
}

int host_log(LogContext* context, int level, const char* format, ...) {
  va_list args;
  if (level == LOG_LEVEL_ERROR) {
    va_start(args, format);
    keep_last_error(context, format, args);
    va_end(args);
  }
  va_start(args, format);
  const int result = context->sink ? context->sink(context->sink_data, level, format, args)
                                   : console_vlog(level, format, args);
  va_end(args);
  return result;
}

int console_vlog(int level, const char* format, va_list args) {
  // Messages that bring their own newline (many plugins end theirs with
  // one) get no second one.  The text is formatted on the stack to see its
  // end; one too long for that is judged by its format.
  char text[1024];
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(text, sizeof(text), format, copy);
  va_end(copy);
  const bool fits = length >= 0 && static_cast<size_t>(length) < sizeof(text);
  const size_t format_length = std::strlen(format);
  const bool has_newline = fits ? length > 0 && text[length - 1] == '\n'
                                : format_length > 0 && format[format_length - 1] == '\n';

  const LevelStyle* style = level_style(level);
  bool colored = false;
  if (style) {
    colored = color_begin(stderr, style->color);
    std::fputs(style->prefix, stderr);
  }

  int result = length;
  if (fits) {
    // The reset goes before the newline, which ends the line either way.
    std::fwrite(text, 1, static_cast<size_t>(length) - (has_newline ? 1 : 0), stderr);
  } else {
    result = std::vfprintf(stderr, format, args);
  }

  if (colored) {
    color_end(stderr);
  }
  if (fits || !has_newline) {
    std::fputc('\n', stderr);
  }
  return result;
}

bool color_begin(FILE* stream, int code) {
  return is_terminal(stream) && std::fprintf(stream, "\033[0;%dm", code) > 0;
}

void color_end(FILE* stream) {
  if (is_terminal(stream)) {
    std::fputs("\033[0m", stream);
    std::fflush(stream);
  }
}

int lv2_log_printf(LV2_Log_Handle handle, LV2_URID type, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = lv2_log_vprintf(handle, type, format, args);
  va_end(args);
  return result;
}

int lv2_log_vprintf(LV2_Log_Handle handle, LV2_URID type, const char* format, va_list args) {
  const auto* context = static_cast<const LogContext*>(handle);
  const Urids* urids = context->urids;
  if (urids && type == urids->log_Trace) {
    return context->tracing ? console_vlog(LOG_LEVEL_TRACE, format, args) : 0;
  }
  if (urids && type == urids->log_Error) {
    return console_vlog(LOG_LEVEL_ERROR, format, args);
  }
  if (urids && type == urids->log_Warning) {
    return console_vlog(LOG_LEVEL_WARNING, format, args);
  }
  return std::vfprintf(stderr, format, args);
}
