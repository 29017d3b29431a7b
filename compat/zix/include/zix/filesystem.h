/* The few file-system operations the host needs. */

#ifndef ZIX_FILESYSTEM_H
#define ZIX_FILESYSTEM_H

#include "zix/allocator.h"
#include "zix/status.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
  ZIX_FILE_TYPE_NONE,
  ZIX_FILE_TYPE_REGULAR,
  ZIX_FILE_TYPE_DIRECTORY,
  ZIX_FILE_TYPE_SYMLINK,
  ZIX_FILE_TYPE_BLOCK,
  ZIX_FILE_TYPE_CHARACTER,
  ZIX_FILE_TYPE_FIFO,
  ZIX_FILE_TYPE_SOCKET,
  ZIX_FILE_TYPE_UNKNOWN
} ZixFileType;

/* The directory for temporary files: TMPDIR, or /tmp when it is unset or
   empty.  Released with zix_free; null when allocation fails. */
char* zix_temp_directory_path(ZixAllocator* allocator);

/* Creates a new directory from a pattern whose last six characters are
   "XXXXXX", which are replaced to make the name unique.  Returns its path,
   released with zix_free, or null. */
char* zix_create_temporary_directory(ZixAllocator* allocator, const char* path_pattern);

/* Removes a file or an empty directory. */
ZixStatus zix_remove(const char* path);

/* Follows symbolic links; ZIX_FILE_TYPE_NONE when nothing is there. */
ZixFileType zix_file_type(const char* path);

#ifdef __cplusplus
}
#endif

#endif /* ZIX_FILESYSTEM_H */
