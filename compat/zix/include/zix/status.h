/* Results of every zix call that can fail. */

#ifndef ZIX_STATUS_H
#define ZIX_STATUS_H

#ifdef __cplusplus
extern "C" {
#endif

/* The numeric values are part of the interface: callers store and compare
   them, so the order must never change. */
typedef enum {
  ZIX_STATUS_SUCCESS,
  ZIX_STATUS_ERROR,
  ZIX_STATUS_NO_MEM,
  ZIX_STATUS_NOT_FOUND,
  ZIX_STATUS_EXISTS,
  ZIX_STATUS_BAD_ARG,
  ZIX_STATUS_BAD_PERMS,
  ZIX_STATUS_REACHED_END,
  ZIX_STATUS_TIMEOUT,
  ZIX_STATUS_OVERFLOW,
  ZIX_STATUS_NOT_SUPPORTED,
  ZIX_STATUS_UNAVAILABLE,
  ZIX_STATUS_NO_SPACE,
  ZIX_STATUS_MAX_LINKS
} ZixStatus;

/* A static, human-readable text for a status; never null. */
const char* zix_strerror(ZixStatus status);

#ifdef __cplusplus
}
#endif

#endif /* ZIX_STATUS_H */
