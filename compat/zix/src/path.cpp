#include "zix/path.h"

#include <cstring>

namespace {

constexpr char separator = '/';

char* copy_string(ZixAllocator* const allocator, const char* const str, const size_t length) {
  auto* const result = static_cast<char*>(zix_malloc(allocator, length + 1U));
  if (result) {
    if (length) {
      std::memcpy(result, str, length);
    }
    result[length] = '\0';
  }
  return result;
}

} // namespace

extern "C" {

char* zix_path_join(ZixAllocator* const allocator, const char* const a, const char* const b) {
  const size_t a_len = a ? std::strlen(a) : 0U;
  const size_t b_len = b ? std::strlen(b) : 0U;

  if (!a_len || (b_len && b[0] == separator)) {
    return copy_string(allocator, b, b_len);
  }

  const bool add_separator = a[a_len - 1U] != separator;
  const size_t length = a_len + (add_separator ? 1U : 0U) + b_len;
  auto* const result = static_cast<char*>(zix_malloc(allocator, length + 1U));
  if (!result) {
    return nullptr;
  }

  char* out = result;
  std::memcpy(out, a, a_len);
  out += a_len;
  if (add_separator) {
    *out++ = separator;
  }
  if (b_len) {
    std::memcpy(out, b, b_len);
    out += b_len;
  }
  *out = '\0';
  return result;
}

ZixStringView zix_path_filename(const char* const path) {
  if (!path) {
    return {"", 0U};
  }

  const size_t length = std::strlen(path);
  const char* const last_separator = std::strrchr(path, separator);
  const char* const name = last_separator ? last_separator + 1 : path;
  return {name, length - static_cast<size_t>(name - path)};
}

} // extern "C"
