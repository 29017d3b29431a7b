/* Uses the layer from C, so that its headers stay valid C and its functions
   keep C linkage.  Returns 0, or the number of the first check that failed. */

#include <stddef.h>
#include <string.h>
#include <zix/allocator.h>
#include <zix/filesystem.h>
#include <zix/path.h>
#include <zix/ring.h>
#include <zix/sem.h>
#include <zix/status.h>
#include <zix/string_view.h>
#include <zix/thread.h>

int bexo_zix_c_checks(void);

static ZixThreadResult ZIX_THREAD_FUNC post(void* arg) {
  zix_sem_post((ZixSem*)arg);
  return ZIX_THREAD_RESULT;
}

int bexo_zix_c_checks(void) {
  ZixRing* ring = zix_ring_new(NULL, 8);
  ZixRingTransaction tx;
  char out[8] = {0};
  if (!ring || zix_ring_capacity(ring) != 7U) {
    return 1;
  }
  tx = zix_ring_begin_write(ring);
  if (zix_ring_amend_write(ring, &tx, "ab", 2) || zix_ring_amend_write(ring, &tx, "cd", 2) ||
      zix_ring_read_space(ring) != 0U || zix_ring_commit_write(ring, &tx) ||
      zix_ring_read(ring, out, 4) != 4U || memcmp(out, "abcd", 4) != 0) {
    zix_ring_free(ring);
    return 2;
  }
  zix_ring_free(ring);

  {
    char* joined = zix_path_join(zix_default_allocator(), "dir", "file.ttl");
    const ZixStringView name = zix_path_filename("/dir/file.ttl");
    const int ok = joined && strcmp(joined, "dir/file.ttl") == 0 && name.length == 8U &&
                   memcmp(name.data, "file.ttl", 8) == 0;
    zix_free(NULL, joined);
    if (!ok) {
      return 3;
    }
  }

  {
    ZixSem sem;
    ZixThread thread;
    if (zix_sem_init(&sem, 0) || zix_thread_create(&thread, 0, post, &sem) || zix_sem_wait(&sem) ||
        zix_thread_join(thread) || zix_sem_destroy(&sem)) {
      return 4;
    }
  }

  /* Any int can reach zix_strerror from C. */
  if (strcmp(zix_strerror((ZixStatus)-1), "Unknown error") != 0 ||
      strcmp(zix_strerror((ZixStatus)99), "Unknown error") != 0) {
    return 5;
  }

  if (zix_file_type("/") != ZIX_FILE_TYPE_DIRECTORY) {
    return 6;
  }
  return 0;
}
