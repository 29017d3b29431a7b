#include "zix/status.h"

#include "errno_status.h"

#include <cerrno>

extern "C" const char* zix_strerror(const ZixStatus status) {
  switch (status) {
  case ZIX_STATUS_SUCCESS:
    return "Success";
  case ZIX_STATUS_ERROR:
    return "Unknown error";
  case ZIX_STATUS_NO_MEM:
    return "Out of memory";
  case ZIX_STATUS_NOT_FOUND:
    return "Not found";
  case ZIX_STATUS_EXISTS:
    return "Exists";
  case ZIX_STATUS_BAD_ARG:
    return "Bad argument";
  case ZIX_STATUS_BAD_PERMS:
    return "Bad permissions";
  case ZIX_STATUS_REACHED_END:
    return "Reached end";
  case ZIX_STATUS_TIMEOUT:
    return "Timeout";
  case ZIX_STATUS_OVERFLOW:
    return "Overflow";
  case ZIX_STATUS_NOT_SUPPORTED:
    return "Not supported";
  case ZIX_STATUS_UNAVAILABLE:
    return "Resource unavailable";
  case ZIX_STATUS_NO_SPACE:
    return "Out of storage space";
  case ZIX_STATUS_MAX_LINKS:
    return "Too many links";
  }
  // C callers can pass any int.
  return "Unknown error";
}

namespace zix_compat {

ZixStatus errno_status(const int error) noexcept {
  switch (error) {
  case 0:
    return ZIX_STATUS_SUCCESS;
  case EACCES:
  case EPERM:
    return ZIX_STATUS_BAD_PERMS;
  case EAGAIN:
    return ZIX_STATUS_UNAVAILABLE;
  case EEXIST:
    return ZIX_STATUS_EXISTS;
  case EINVAL:
    return ZIX_STATUS_BAD_ARG;
  case EMLINK:
    return ZIX_STATUS_MAX_LINKS;
  case ENOENT:
    return ZIX_STATUS_NOT_FOUND;
  case ENOMEM:
    return ZIX_STATUS_NO_MEM;
  case ENOSPC:
    return ZIX_STATUS_NO_SPACE;
  case ENOSYS:
#if ENOTSUP != ENOSYS
  case ENOTSUP:
#endif
    return ZIX_STATUS_NOT_SUPPORTED;
  case ETIMEDOUT:
    return ZIX_STATUS_TIMEOUT;
  default:
    return ZIX_STATUS_ERROR;
  }
}

} // namespace zix_compat
