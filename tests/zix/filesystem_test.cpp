#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <zix/allocator.h>
#include <zix/filesystem.h>

namespace {

namespace fs = std::filesystem;

// A private directory for each test, removed with everything in it even
// when the code under test leaves things behind.
class FileSystem : public testing::Test {
protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "bexo-zix-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
    dir_ = pattern;
  }

  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  void make_file(const std::string& name) const {
    std::ofstream{path(name)} << "contents";
    ASSERT_TRUE(fs::is_regular_file(path(name)));
  }

  fs::path dir_;
};

// Sets or clears an environment variable for one scope.
class ScopedEnv {
public:
  ScopedEnv(const char* name, const char* value) : name_{name} {
    if (const char* old = std::getenv(name)) {
      old_ = old;
    }
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
  const char* name_;
  std::optional<std::string> old_;
};

std::string take_string(char* str) {
  std::string result = str ? str : "(null)";
  zix_free(nullptr, str);
  return result;
}

TEST(TempDirectoryPath, IsTmpdirOrTmp) {
  {
    const ScopedEnv env{"TMPDIR", "/var/tmp/bexo"};
    EXPECT_EQ(take_string(zix_temp_directory_path(nullptr)), "/var/tmp/bexo");
  }
  {
    const ScopedEnv env{"TMPDIR", nullptr};
    EXPECT_EQ(take_string(zix_temp_directory_path(nullptr)), "/tmp");
  }
  {
    const ScopedEnv env{"TMPDIR", ""};
    EXPECT_EQ(take_string(zix_temp_directory_path(nullptr)), "/tmp");
  }
}

TEST_F(FileSystem, CreatesTemporaryDirectoryFromPattern) {
  const std::string prefix = path("made-");
  const std::string pattern = prefix + "XXXXXX";

  const std::string first = take_string(zix_create_temporary_directory(nullptr, pattern.c_str()));
  const std::string second = take_string(zix_create_temporary_directory(nullptr, pattern.c_str()));
  for (const std::string& made : {first, second}) {
    SCOPED_TRACE(made);
    ASSERT_EQ(made.size(), pattern.size());
    EXPECT_EQ(made.substr(0, prefix.size()), prefix);
    EXPECT_NE(made.substr(prefix.size()), "XXXXXX");
    EXPECT_EQ(zix_file_type(made.c_str()), ZIX_FILE_TYPE_DIRECTORY);
  }
  EXPECT_NE(first, second);

  EXPECT_EQ(zix_remove(first.c_str()), ZIX_STATUS_SUCCESS);
  EXPECT_EQ(zix_file_type(first.c_str()), ZIX_FILE_TYPE_NONE);
  EXPECT_EQ(zix_file_type(second.c_str()), ZIX_FILE_TYPE_DIRECTORY);
}

TEST_F(FileSystem, RefusesPatternsWithoutTheSuffix) {
  for (const std::string name : {"", "plain", "XXXXX", "XXXXXXsuffix", "made-xxxxxx"}) {
    SCOPED_TRACE(name);
    const std::string pattern = name.empty() ? name : path(name);
    EXPECT_EQ(zix_create_temporary_directory(nullptr, pattern.c_str()), nullptr);
  }
  EXPECT_EQ(zix_create_temporary_directory(nullptr, path("missing/made-XXXXXX").c_str()), nullptr);
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(FileSystem, RemovesFilesAndEmptyDirectories) {
  make_file("file");
  EXPECT_EQ(zix_remove(path("file").c_str()), ZIX_STATUS_SUCCESS);
  EXPECT_FALSE(fs::exists(path("file")));
  EXPECT_EQ(zix_remove(path("file").c_str()), ZIX_STATUS_NOT_FOUND);

  fs::create_directory(path("empty"));
  EXPECT_EQ(zix_remove(path("empty").c_str()), ZIX_STATUS_SUCCESS);
  EXPECT_FALSE(fs::exists(path("empty")));
}

TEST_F(FileSystem, RefusesToRemoveANonEmptyDirectory) {
  fs::create_directory(path("full"));
  make_file("full/file");

  EXPECT_NE(zix_remove(path("full").c_str()), ZIX_STATUS_SUCCESS);
  EXPECT_TRUE(fs::is_directory(path("full")));
  EXPECT_TRUE(fs::exists(path("full/file")));

  ASSERT_EQ(zix_remove(path("full/file").c_str()), ZIX_STATUS_SUCCESS);
  EXPECT_EQ(zix_remove(path("full").c_str()), ZIX_STATUS_SUCCESS);
  EXPECT_FALSE(fs::exists(path("full")));
}

TEST_F(FileSystem, TellsFileTypesFollowingLinks) {
  make_file("file");
  fs::create_directory(path("dir"));
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0) << std::strerror(errno);
  fs::create_symlink(path("file"), path("link-to-file"));
  fs::create_directory_symlink(path("dir"), path("link-to-dir"));
  fs::create_symlink(path("missing"), path("dangling"));

  // A socket path must fit sun_path, which the temporary directory may not.
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_path = path("socket");
  const bool has_socket = socket_path.size() < sizeof(address.sun_path);
  if (has_socket) {
    std::strcpy(address.sun_path, socket_path.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0)
        << std::strerror(errno);
  }

  const struct {
    std::string path;
    ZixFileType type;
  } cases[] = {
      {path("file"), ZIX_FILE_TYPE_REGULAR},
      {path("dir"), ZIX_FILE_TYPE_DIRECTORY},
      {path("missing"), ZIX_FILE_TYPE_NONE},
      {path("file/below-a-file"), ZIX_FILE_TYPE_NONE},
      {path("fifo"), ZIX_FILE_TYPE_FIFO},
      {path("link-to-file"), ZIX_FILE_TYPE_REGULAR},
      {path("link-to-dir"), ZIX_FILE_TYPE_DIRECTORY},
      {path("dangling"), ZIX_FILE_TYPE_NONE},
      {"/dev/null", ZIX_FILE_TYPE_CHARACTER},
      {has_socket ? socket_path : path("missing"),
       has_socket ? ZIX_FILE_TYPE_SOCKET : ZIX_FILE_TYPE_NONE},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(zix_file_type(c.path.c_str()), c.type) << c.path;
  }
  close(fd);
}

} // namespace
