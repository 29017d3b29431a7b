#include <gtest/gtest.h>
#include <string>
#include <zix/status.h>

namespace {

TEST(Status, EveryCodeHasItsText) {
  const struct {
    ZixStatus status;
    int value;
    const char* text;
  } cases[] = {
      {ZIX_STATUS_SUCCESS, 0, "Success"},
      {ZIX_STATUS_ERROR, 1, "Unknown error"},
      {ZIX_STATUS_NO_MEM, 2, "Out of memory"},
      {ZIX_STATUS_NOT_FOUND, 3, "Not found"},
      {ZIX_STATUS_EXISTS, 4, "Exists"},
      {ZIX_STATUS_BAD_ARG, 5, "Bad argument"},
      {ZIX_STATUS_BAD_PERMS, 6, "Bad permissions"},
      {ZIX_STATUS_REACHED_END, 7, "Reached end"},
      {ZIX_STATUS_TIMEOUT, 8, "Timeout"},
      {ZIX_STATUS_OVERFLOW, 9, "Overflow"},
      {ZIX_STATUS_NOT_SUPPORTED, 10, "Not supported"},
      {ZIX_STATUS_UNAVAILABLE, 11, "Resource unavailable"},
      {ZIX_STATUS_NO_SPACE, 12, "Out of storage space"},
      {ZIX_STATUS_MAX_LINKS, 13, "Too many links"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(static_cast<int>(c.status), c.value) << c.text;
    EXPECT_STREQ(zix_strerror(c.status), c.text);
  }
}

TEST(Status, UnknownValuesReadAsUnknownError) {
  // Both fit the enum's range, so converting them is well defined.
  for (const int value : {14, 15}) {
    EXPECT_STREQ(zix_strerror(static_cast<ZixStatus>(value)), "Unknown error") << value;
  }
}

} // namespace
