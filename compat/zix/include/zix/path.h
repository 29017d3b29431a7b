/* Lexical path operations: none of them touches the file system. */

#ifndef ZIX_PATH_H
#define ZIX_PATH_H

#include "zix/allocator.h"
#include "zix/string_view.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A new path, released with zix_free: b alone when a is null or empty or
   when b is absolute; otherwise a, a separator unless a already ends in
   one, then b.  So an empty b gives a with a trailing separator.  Null when
   allocation fails. */
char* zix_path_join(ZixAllocator* allocator, const char* a, const char* b);

/* The last component, pointing into path; empty when path ends in a
   separator. */
ZixStringView zix_path_filename(const char* path);

#ifdef __cplusplus
}
#endif

#endif /* ZIX_PATH_H */
