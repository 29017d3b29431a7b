// Shared by the sources only: how a failed system call becomes a status.

#pragma once

#include "zix/status.h"

#include <cerrno>

namespace zix_compat {

ZixStatus errno_status(int error) noexcept;

// For calls that return nonzero and leave the reason in errno.
inline ZixStatus errno_status_if(int result) noexcept {
  return result ? errno_status(errno) : ZIX_STATUS_SUCCESS;
}

} // namespace zix_compat
