#include "base/log.hpp"
#include "base/urid_mapper.hpp"
#include "base/urids.hpp"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

enum class Stream { file, terminal };

// Runs `body` with the standard error stream on a temporary file or on a
// pseudo-terminal, and returns the bytes that arrived there.
std::string capture_stderr(Stream stream, const std::function<void()>& body) {
  std::fflush(stderr);
  int reader = -1;
  int writer = -1;
  if (stream == Stream::terminal) {
    EXPECT_EQ(openpty(&reader, &writer, nullptr, nullptr, nullptr), 0);
    termios raw{};
    tcgetattr(writer, &raw);
    cfmakeraw(&raw); // no newline translation: compare the exact bytes
    tcsetattr(writer, TCSANOW, &raw);
  } else {
    char path[] = "/tmp/bexo-log-test-XXXXXX";
    writer = mkstemp(path);
    EXPECT_GE(writer, 0);
    reader = open(path, O_RDONLY);
    unlink(path);
  }

  const int saved = dup(STDERR_FILENO);
  dup2(writer, STDERR_FILENO);
  body();
  std::fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
  close(writer);

  std::string out;
  fcntl(reader, F_SETFL, O_NONBLOCK);
  char buf[512];
  ssize_t n = 0;
  while ((n = read(reader, buf, sizeof(buf))) > 0) {
    out.append(buf, static_cast<size_t>(n));
  }
  close(reader);
  return out;
}

int vlog(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
int vlog(int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = console_vlog(level, format, args);
  va_end(args);
  return result;
}

struct ConsoleCase {
  int level;
  Stream stream;
  const char* expected;
};

class ConsoleLog : public testing::TestWithParam<ConsoleCase> {};

TEST_P(ConsoleLog, WritesPrefixColourMessageAndNewline) {
  const ConsoleCase& c = GetParam();
  int result = -1;
  LogContext context{};
  EXPECT_EQ(capture_stderr(c.stream, [&] { result = host_log(&context, c.level, "ran %d", 7); }),
            c.expected);
  EXPECT_EQ(result, 5); // the message alone: "ran 7"

  EXPECT_EQ(capture_stderr(c.stream, [&] { result = vlog(c.level, "%s", "x"); }).find("x"),
            std::string(c.expected).find("ran"));
}

INSTANTIATE_TEST_SUITE_P(
    Levels, ConsoleLog,
    testing::Values(ConsoleCase{3, Stream::file, "error: ran 7\n"},
                    ConsoleCase{3, Stream::terminal, "\033[0;31merror: ran 7\033[0m\n"},
                    ConsoleCase{4, Stream::file, "warning: ran 7\n"},
                    ConsoleCase{4, Stream::terminal, "\033[0;33mwarning: ran 7\033[0m\n"},
                    ConsoleCase{6, Stream::file, "ran 7\n"},
                    ConsoleCase{6, Stream::terminal, "ran 7\n"},
                    ConsoleCase{7, Stream::file, "trace: ran 7\n"},
                    ConsoleCase{7, Stream::terminal, "\033[0;32mtrace: ran 7\033[0m\n"},
                    ConsoleCase{5, Stream::terminal, "ran 7\n"},
                    ConsoleCase{0, Stream::file, "ran 7\n"}));

// A message that ends in a newline of its own (as plugins' messages and
// some of the host's do) still makes exactly one line.
TEST(ConsoleLogNewline, AMessageEndingInANewlineGetsNoSecondOne) {
  struct Case {
    Stream stream;
    const char* message;
    const char* expected;
  } const cases[] = {
      {Stream::file, "bad\n", "error: bad\n"},
      {Stream::terminal, "bad\n", "\033[0;31merror: bad\033[0m\n"},
      {Stream::file, "two\n\n", "error: two\n\n"},
      {Stream::file, "\n", "error: \n"},
      {Stream::file, "", "error: \n"},
  };
  for (const Case& c : cases) {
    int result = -1;
    EXPECT_EQ(capture_stderr(c.stream, [&] { result = vlog(LOG_LEVEL_ERROR, "%s", c.message); }),
              c.expected)
        << c.message;
    EXPECT_EQ(result, static_cast<int>(std::strlen(c.message)));
  }
  // Longer than the line buffer: whole, and judged by the format's end.
  const std::string long_text(5000, 'x');
  EXPECT_EQ(
      capture_stderr(Stream::file, [&] { vlog(LOG_LEVEL_WARNING, "%s\n", long_text.c_str()); }),
      "warning: " + long_text + "\n");
  EXPECT_EQ(capture_stderr(Stream::file, [&] { vlog(LOG_LEVEL_WARNING, "%s", long_text.c_str()); }),
            "warning: " + long_text + "\n");
}

TEST(Colors, OnlyATerminalGetsEscapeSequences) {
  bool began = true;
  EXPECT_EQ(capture_stderr(Stream::file,
                           [&] {
                             began = color_begin(stderr, 33);
                             color_end(stderr);
                           }),
            "");
  EXPECT_FALSE(began);

  EXPECT_EQ(capture_stderr(Stream::terminal,
                           [&] {
                             began = color_begin(stderr, 35);
                             color_end(stderr);
                           }),
            "\033[0;35m\033[0m");
  EXPECT_TRUE(began);
}

struct SinkRecord {
  int level = 0;
  std::string message;
};

int record_sink(void* data, int level, const char* format, va_list args) {
  auto* record = static_cast<SinkRecord*>(data);
  char buf[256];
  const int n = std::vsnprintf(buf, sizeof(buf), format, args);
  record->level = level;
  record->message = buf;
  return n + 100;
}

TEST(HostLog, SinkTakesEveryMessageInsteadOfTheConsole) {
  SinkRecord record;
  LogContext context{};
  context.sink = record_sink;
  context.sink_data = &record;

  for (const int level : {3, 4, 6}) {
    int result = 0;
    EXPECT_EQ(capture_stderr(Stream::file,
                             [&] { result = host_log(&context, level, "JACK name: %s", "amp"); }),
              "");
    EXPECT_EQ(record.level, level);
    EXPECT_EQ(record.message, "JACK name: amp");
    EXPECT_EQ(result, 114);
  }
}

class PluginLog : public testing::Test {
protected:
  void SetUp() override {
    mapper = urid_mapper_new();
    ASSERT_NE(mapper, nullptr);
    map_urids(mapper, &urids);
    other_type = urid_mapper_map_uri(mapper, "http://lv2plug.in/ns/ext/log#Note");
    context.urids = &urids;
  }
  void TearDown() override { urid_mapper_free(mapper); }

  std::string log(Stream stream, LV2_URID type, const char* message, int* result) {
    return capture_stderr(stream, [&] { *result = lv2_log_printf(&context, type, "%s", message); });
  }

  UridMapper* mapper = nullptr;
  Urids urids{};
  LV2_URID other_type = 0;
  LogContext context{};
};

TEST_F(PluginLog, TracesArePrintedOnlyWhenTracing) {
  int result = -1;
  EXPECT_EQ(log(Stream::file, urids.log_Trace, "step", &result), "");
  EXPECT_EQ(result, 0);

  context.tracing = true;
  EXPECT_EQ(log(Stream::file, urids.log_Trace, "step", &result), "trace: step\n");
  EXPECT_EQ(result, 4);
  EXPECT_EQ(log(Stream::terminal, urids.log_Trace, "step", &result),
            "\033[0;32mtrace: step\033[0m\n");
}

TEST_F(PluginLog, TypesChooseThePrefixAndOtherTypesPassUnchanged) {
  SinkRecord record;
  context.sink = record_sink; // the plugin's messages never go to the sink
  context.sink_data = &record;

  int result = -1;
  EXPECT_EQ(log(Stream::file, urids.log_Error, "bad", &result), "error: bad\n");
  EXPECT_EQ(log(Stream::terminal, urids.log_Warning, "odd", &result),
            "\033[0;33mwarning: odd\033[0m\n");
  EXPECT_EQ(log(Stream::file, urids.log_Warning, "No nominal block-size given\n", &result),
            "warning: No nominal block-size given\n");
  EXPECT_EQ(log(Stream::terminal, other_type, "no newline", &result), "no newline");
  EXPECT_EQ(result, 10);
  EXPECT_EQ(log(Stream::file, 0, "50%\n", &result), "50%\n");
  EXPECT_EQ(record.level, 0);
}

TEST(PluginLogBeforeOpen, WithoutUridsEveryMessagePassesUnchanged) {
  LogContext context{};
  int result = -1;
  EXPECT_EQ(
      capture_stderr(Stream::file, [&] { result = lv2_log_printf(&context, 12, "early %d", 1); }),
      "early 1");
  EXPECT_EQ(result, 7);
}

} // namespace
