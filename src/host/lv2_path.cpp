#include "host/lv2_path.hpp"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

std::string absolute_lv2_path(const std::string& path) {
  std::string absolute;
  for (size_t start = 0; start <= path.size();) {
    const size_t end = std::min(path.find(':', start), path.size());
    std::string dir = path.substr(start, end - start);
    if (!dir.empty() && dir[0] != '/' && dir[0] != '~' && dir[0] != '$') {
      std::error_code error;
      const std::filesystem::path made = std::filesystem::absolute(dir, error);
      if (!error) {
        dir = made.string();
      }
    }
    if (!dir.empty()) {
      absolute += (absolute.empty() ? "" : ":") + dir;
    }
    start = end + 1;
  }
  return absolute;
}

void set_world_lv2_path(LilvWorld* world) {
  const char* path = std::getenv("LV2_PATH");
  if (!path || !*path) {
    return;
  }
  LilvNode* value = lilv_new_string(world, absolute_lv2_path(path).c_str());
  lilv_world_set_option(world, LILV_OPTION_LV2_PATH, value);
  lilv_node_free(value);
}
