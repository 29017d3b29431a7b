#pragma once

// Files for tests: a temporary directory of their own, and reading a file
// back.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

/// A fresh directory under the system's temporary directory, removed with
/// everything in it when the object goes.
class TempDir {
public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "bexo-test-XXXXXX").string();
    if (mkdtemp(pattern.data())) {
      dir = pattern;
    }
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    if (!dir.empty()) {
      std::error_code error;
      std::filesystem::remove_all(dir, error);
    }
  }
  const std::string& path() const { return dir; }
  std::string file(const std::string& name) const { return dir + "/" + name; }

private:
  std::string dir;
};

/// The contents of a file, or an empty string.
inline std::string read_text(const std::string& path) {
  std::ifstream file(path);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}
