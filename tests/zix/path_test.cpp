#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <zix/allocator.h>
#include <zix/path.h>

namespace {

struct JoinCase {
  const char* a;
  const char* b;
  const char* joined;
};

std::ostream& operator<<(std::ostream& os, const JoinCase& c) {
  return os << (c.a ? c.a : "(null)") << " + " << c.b;
}

class PathJoin : public testing::TestWithParam<JoinCase> {};

TEST_P(PathJoin, Joins) {
  const JoinCase& c = GetParam();
  char* const joined = zix_path_join(nullptr, c.a, c.b);
  ASSERT_NE(joined, nullptr);
  EXPECT_STREQ(joined, c.joined);
  zix_free(nullptr, joined);
}

INSTANTIATE_TEST_SUITE_P(Cases, PathJoin,
                         testing::Values(JoinCase{nullptr, "b", "b"}, JoinCase{"", "b", "b"},
                                         JoinCase{nullptr, "", ""}, JoinCase{"", "", ""},
                                         JoinCase{"a", "b", "a/b"}, JoinCase{"/a", "b/c", "/a/b/c"},
                                         JoinCase{"a/", "b", "a/b"}, JoinCase{"/", "b", "/b"},
                                         JoinCase{"a", "/b", "/b"}, JoinCase{"a/", "/", "/"},
                                         JoinCase{"a", "", "a/"}, JoinCase{"/a/b", "", "/a/b/"},
                                         JoinCase{"a/", "", "a/"}, JoinCase{"a/.", "b", "a/./b"},
                                         JoinCase{"a//", "b", "a//b"}));

struct FilenameCase {
  const char* path;
  const char* filename;
};

std::ostream& operator<<(std::ostream& os, const FilenameCase& c) {
  return os << c.path;
}

class PathFilename : public testing::TestWithParam<FilenameCase> {};

TEST_P(PathFilename, IsTheLastComponent) {
  const FilenameCase& c = GetParam();
  const ZixStringView name = zix_path_filename(c.path);
  ASSERT_NE(name.data, nullptr);
  EXPECT_EQ(std::string(name.data, name.length), c.filename);

  // A view into the caller's string, not a copy of it.
  const std::string path = c.path;
  EXPECT_EQ(name.data, c.path + (path.size() - name.length));
}

INSTANTIATE_TEST_SUITE_P(Cases, PathFilename,
                         testing::Values(FilenameCase{"", ""}, FilenameCase{"/", ""},
                                         FilenameCase{"a", "a"}, FilenameCase{"/a", "a"},
                                         FilenameCase{"/a/b.ttl", "b.ttl"},
                                         FilenameCase{"a/b/", ""}, FilenameCase{"a//b", "b"},
                                         FilenameCase{".", "."}, FilenameCase{"a/..", ".."},
                                         FilenameCase{"/usr/lib/lv2/x.lv2", "x.lv2"}));

} // namespace
