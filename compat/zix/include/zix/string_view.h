/* A borrowed slice of a string. */

#ifndef ZIX_STRING_VIEW_H
#define ZIX_STRING_VIEW_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Points into memory owned by someone else and is not null-terminated:
   always use the length. */
typedef struct {
  const char* data;
  size_t length;
} ZixStringView;

#ifdef __cplusplus
}
#endif

#endif /* ZIX_STRING_VIEW_H */
