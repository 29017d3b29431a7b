#pragma once

// Takes away what lets this process lock more than `limit` bytes of
// memory: the capability that root has, and the limit of an ordinary user.  For forked test
// children that check how the host copes without locked memory.

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

inline bool forbid_memory_locking(rlim_t limit = 0) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (syscall(SYS_capget, &header, data) != 0) {
    return false;
  }
  data[CAP_TO_INDEX(CAP_IPC_LOCK)].effective &= ~CAP_TO_MASK(CAP_IPC_LOCK);
  const rlimit most{limit, limit};
  return syscall(SYS_capset, &header, data) == 0 && setrlimit(RLIMIT_MEMLOCK, &most) == 0;
}
