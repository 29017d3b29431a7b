#include "zix/filesystem.h"

#include "errno_status.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace {

constexpr char temporary_suffix[] = "XXXXXX";
constexpr size_t temporary_suffix_length = sizeof(temporary_suffix) - 1U;

char* copy_string(ZixAllocator* const allocator, const char* const str) {
  const size_t length = std::strlen(str);
  auto* const result = static_cast<char*>(zix_malloc(allocator, length + 1U));
  if (result) {
    std::memcpy(result, str, length + 1U);
  }
  return result;
}

} // namespace

extern "C" {

char* zix_temp_directory_path(ZixAllocator* const allocator) {
  const char* const tmpdir = std::getenv("TMPDIR");
  return copy_string(allocator, tmpdir && *tmpdir ? tmpdir : "/tmp");
}

char* zix_create_temporary_directory(ZixAllocator* const allocator,
                                     const char* const path_pattern) {
  // mkdtemp checks the suffix too, but it writes into its argument, so the
  // caller's pattern is copied first and a bad one is turned away before
  // anything is allocated.
  const size_t length = path_pattern ? std::strlen(path_pattern) : 0U;
  if (length < temporary_suffix_length ||
      std::strcmp(path_pattern + length - temporary_suffix_length, temporary_suffix) != 0) {
    errno = EINVAL;
    return nullptr;
  }

  char* const result = copy_string(allocator, path_pattern);
  if (result && !mkdtemp(result)) {
    zix_free(allocator, result);
    return nullptr;
  }
  return result;
}

ZixStatus zix_remove(const char* const path) {
  return zix_compat::errno_status_if(std::remove(path));
}

ZixFileType zix_file_type(const char* const path) {
  struct stat info {};
  if (stat(path, &info)) {
    return ZIX_FILE_TYPE_NONE;
  }

  switch (info.st_mode & S_IFMT) {
  case S_IFREG:
    return ZIX_FILE_TYPE_REGULAR;
  case S_IFDIR:
    return ZIX_FILE_TYPE_DIRECTORY;
  case S_IFLNK:
    return ZIX_FILE_TYPE_SYMLINK;
  case S_IFBLK:
    return ZIX_FILE_TYPE_BLOCK;
  case S_IFCHR:
    return ZIX_FILE_TYPE_CHARACTER;
  case S_IFIFO:
    return ZIX_FILE_TYPE_FIFO;
  case S_IFSOCK:
    return ZIX_FILE_TYPE_SOCKET;
  default:
    return ZIX_FILE_TYPE_UNKNOWN;
  }
}

} // extern "C"
