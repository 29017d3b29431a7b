#pragma once

#include <string>

/// What a window manager does when the user clicks a window's close
/// button: it asks the program to close the window with WM_DELETE_WINDOW.
/// The test display has no window manager, so a test does it.  Returns
/// false when the display could not be opened.
bool close_window(const std::string& window);
