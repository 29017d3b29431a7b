#pragma once

// Driving a desktop program as a user does, for the end-to-end tests: start
// it, find its windows on the test display, look at them, press keys and
// click, and see how it ended.  Everything goes through the X tools a
// person would use (xdotool, xwininfo, xprop, ImageMagick's import), so the
// program under test cannot tell a test from a user.

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

/// Runs a shell command and returns what it printed on standard output,
/// without the trailing newlines.
std::string shell(const std::string& command);

/// Starts `path` with `args` in the test's environment, with each
/// "NAME=value" of `extra_env` added or replacing the variable of that name.
/// When `output_file` is given, the program's standard output and error go
/// there.  Returns its pid, or -1 when it could not be started.
pid_t start_program(const std::string& path, const std::vector<std::string>& args,
                    const std::vector<std::string>& extra_env = {},
                    const std::string& output_file = "");

/// The exit status of a started program: its exit code, or 128 + the signal
/// that ended it; -1 (after killing it) when it did not end within `limit`.
int exit_status(pid_t pid, std::chrono::seconds limit = std::chrono::seconds(15));

/// A home of its own for each program a test starts, so that nothing a
/// program saves (presets, settings, recent files) reaches the user's.  The
/// directory is removed again with the object.
class TempHome {
public:
  TempHome();
  ~TempHome();
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;

  const std::string& path() const { return dir; }
  /// HOME, the XDG base directories inside it, and no way to the user's
  /// session bus or settings daemon, as entries for start_program().
  std::vector<std::string> env() const;

private:
  std::string dir;
};

/// One run of a program with a home of its own (TempHome).  A run still
/// going when the object goes is killed, so that a test that stopped half
/// way does not leave its program, and its JACK client, to the next one.
class ProgramRun {
public:
  /// Starts `program` (see start_program).  With `capture`, what it prints
  /// is kept for output() instead of going to the test's log.
  ProgramRun(const std::string& program, const std::vector<std::string>& args,
             const std::vector<std::string>& extra_env = {}, bool capture = false);
  ~ProgramRun();
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  /// How it ended (see ::exit_status); it is gone afterwards either way.
  int exit_status(std::chrono::seconds limit = std::chrono::seconds(15));
  /// SIGTERM, then how it ended.
  int terminate();
  std::string output() const;

  const TempHome home;
  pid_t pid = -1; ///< -1 once it ended or could not be started.

private:
  std::string output_path() const { return home.path() + "/output.txt"; }
};

/// The id of a mapped window whose title is exactly `title`; "" when none
/// appeared within `limit`.
std::string window_of(const std::string& title,
                      std::chrono::milliseconds limit = std::chrono::seconds(10));

/// The ids of the mapped top-level windows of a process; empty when none
/// appeared within `limit`.
std::vector<std::string> windows_of_pid(pid_t pid,
                                        std::chrono::milliseconds limit = std::chrono::seconds(10));

/// The value of a text property of a window such as WM_WINDOW_ROLE, without
/// quotes; "" when the window does not have it.
std::string text_property(const std::string& window, const std::string& property);

/// Whether the window has the X property at all.
bool has_property(const std::string& window, const std::string& property);

struct Geometry {
  int x = 0; ///< Position on the screen, of the window's inside.
  int y = 0;
  int width = 0;
  int height = 0;
};

Geometry geometry_of(const std::string& window);

/// The ids of every window below `window` in the X window tree.
std::vector<std::string> descendants_of(const std::string& window);

/// Writes a PNG of the window to `directory`/`name`.png.
void screenshot(const std::string& window, const std::string& name, const std::string& directory);

/// Whether the window manager may resize it: a fixed window has equal
/// minimum and maximum sizes in its normal hints.
bool fixed_size(const std::string& window);

/// Gives the window the keyboard focus.  The test display has no window
/// manager to activate a window that appears, so a test that types must.
void focus(const std::string& window);

/// Presses a key combination in xdotool's notation ("ctrl+q", "End") on the
/// focused window.
void press_keys(const std::string& keys);

/// Moves the pointer to (x, y) of the window's inside and clicks `button`
/// `count` times.
void click(const std::string& window, int x, int y, int count = 1, int button = 1);

/// What a window shows, pixel by pixel, as the X server has it.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb; ///< Row by row, three bytes a pixel.

  bool empty() const { return width == 0; }
  const uint8_t* at(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

/// The window's current contents; empty when it could not be captured.
Picture capture(const std::string& window);

/// A horizontal run of pixels of one picture.
struct PixelRun {
  int x = 0;
  int y = 0;
  int length = 0;
};

/// The leftmost run of at least `min_length` pixels of row `y` that all
/// satisfy `accept`; length 0 when there is none.
template <typename Accept>
PixelRun row_run(const Picture& picture, int y, int min_length, Accept accept) {
  int start = -1;
  for (int x = 0; x <= picture.width; ++x) {
    const bool ok = x < picture.width && accept(picture.at(x, y));
    if (ok && start < 0) {
      start = x;
    } else if (!ok && start >= 0) {
      if (x - start >= min_length) {
        return {start, y, x - start};
      }
      start = -1;
    }
  }
  return {};
}

/// The names of the JACK ports that exist on the server named `server`, or
/// when none is named, on the server the test uses.
std::vector<std::string> jack_ports(const std::string& server = "");

/// Whether any JACK port belongs to the client of this name: a client that
/// is gone has left no port named "client:...".
bool has_jack_ports(const std::string& client, const std::string& server = "");
