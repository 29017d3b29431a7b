#include <gtest/gtest.h>

extern "C" int bexo_zix_c_checks(void);

namespace {

TEST(CApi, WorksFromC) {
  EXPECT_EQ(bexo_zix_c_checks(), 0);
}

} // namespace
