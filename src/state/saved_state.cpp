#include "state/saved_state.hpp"

#include "base/log.hpp"
#include "state/state.hpp"
#include "state/state_host.hpp"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <memory>
#include <serd/serd.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr char state_file_name[] = "state.ttl";

struct StateFree {
  void operator()(LilvState* state) const { lilv_state_free(state); }
};
using State = std::unique_ptr<LilvState, StateFree>;

// A directory beside `target` to write into, removed again unless kept.
class Staging {
public:
  explicit Staging(const fs::path& target) {
    std::string name = ".";
    name += target.filename().string();
    name += ".saving-XXXXXX";
    std::string pattern = (target.parent_path() / name).string();
    if (mkdtemp(pattern.data())) {
      path = pattern;
    }
  }
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;
  ~Staging() {
    if (!path.empty()) {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
  }
  fs::path path;
};

// Flush what was written to the disk, so that a crash right after the
// exchange cannot leave a saved state of empty files.
bool sync_path(const fs::path& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  const bool synced = fsync(fd) == 0;
  close(fd);
  return synced;
}

bool sync_tree(const fs::path& dir) {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir, error)) {
    if (entry.is_regular_file(error) && !sync_path(entry.path())) {
      return false;
    }
  }
  return !error && sync_path(dir);
}

// The mode the saved directory is to have: that of the one it replaces, or
// what a new directory gets.  mkdtemp makes the staging directory private.
mode_t directory_mode(const fs::path& target) {
  struct stat status {};
  if (stat(target.c_str(), &status) == 0) {
    return status.st_mode & 07777;
  }
  const mode_t mask = umask(0);
  umask(mask);
  return 0777 & ~mask;
}

int fail(StateHost* host, const fs::path& dir, const std::string& why) {
  host_log(&host->log, LOG_LEVEL_ERROR, "Failed to save the state to %s: %s", dir.c_str(),
           why.c_str());
  return 1;
}

void set_flags(LilvState* state, LV2_URID_Map* map, std::span<const SavedStateFlag> flags) {
  const LV2_URID bool_type = map->map(map->handle, LV2_ATOM__Bool);
  for (const SavedStateFlag& flag : flags) {
    const int32_t value = flag.value ? 1 : 0;
    lilv_state_set_metadata(state, map->map(map->handle, flag.uri), &value, sizeof(value),
                            bool_type, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
  }
}

// Capture the plugin's state into `staging` and read it back.
int write_state(StateHost* host, const fs::path& target, const fs::path& staging,
                std::span<const SavedStateFlag> flags) {
  const std::string dir = staging.string() + "/";
  LV2_URID_Map* map = urid_mapper_get_map(host->urid_mapper);
  const State state{capture_state(host, dir.c_str())};
  if (!state) {
    return fail(host, target, "the plugin's state could not be captured");
  }
  set_flags(state.get(), map, flags);
  errno = 0;
  if (lilv_state_save(host->world, map, urid_mapper_get_unmap(host->urid_mapper), state.get(),
                      nullptr, dir.c_str(), state_file_name)) {
    return fail(host, target, errno ? std::strerror(errno) : "lilv could not write it");
  }
  if (!sync_tree(staging)) {
    return fail(host, target, std::strerror(errno));
  }
  // A full disk can leave a file cut short without any write failing
  // visibly; what cannot be read back is not saved.
  const State check{
      lilv_state_new_from_file(host->world, map, nullptr, (staging / state_file_name).c_str())};
  if (!check) {
    return fail(host, target, "what was written cannot be read back");
  }
  return 0;
}

// Move everything of `staging` into `target`, which holds other files;
// refuses before moving anything when a name is taken.
int join_directory(StateHost* host, const fs::path& target, const fs::path& staging) {
  std::vector<fs::path> entries;
  for (const fs::directory_entry& entry : fs::directory_iterator(staging)) {
    if (fs::exists(fs::symlink_status(target / entry.path().filename()))) {
      std::string why = entry.path().filename().string();
      why += " is there already";
      return fail(host, target, why);
    }
    entries.push_back(entry.path());
  }
  for (const fs::path& entry : entries) {
    if (rename(entry.c_str(), (target / entry.filename()).c_str()) != 0) {
      return fail(host, target, std::strerror(errno));
    }
  }
  return sync_path(target) ? 0 : fail(host, target, std::strerror(errno));
}

// Whether the state file `text` refers to the file `name` beside it, as
// lilv writes such a reference: a relative IRI.
bool refers_to(const std::string& text, const std::string& name) {
  std::string escaped;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || std::strchr("-._~!$&'()*+,;=:@", c)) {
      escaped += c;
    } else {
      char code[4];
      std::snprintf(code, sizeof(code), "%%%02X", byte);
      escaped += code;
    }
  }
  return text.find("<" + name + ">") != std::string::npos ||
         text.find("<" + escaped + ">") != std::string::npos;
}

// Copies into `staging` what the user keeps in the directory of an old
// state besides that state: what the old state file does not refer to.
// What it does refer to was the old state's, and goes with it.
bool carry_over_other_files(const fs::path& old_dir, const fs::path& staging) {
  std::ifstream in(old_dir / state_file_name);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(old_dir, error)) {
    const std::string name = entry.path().filename().string();
    if (name == "manifest.ttl" || name == state_file_name || refers_to(text, name) ||
        fs::exists(fs::symlink_status(staging / name))) {
      continue;
    }
    fs::copy(entry.path(), staging / name,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
    if (error) {
      return false;
    }
  }
  return !error;
}

// Looks for one property while serd reads a state file; prefixed names
// are expanded first, since a writer may abbreviate any IRI.
struct FlagSearch {
  SerdEnv* env;
  const char* uri;
  int found; ///< -1 not yet, else the value
};

SerdStatus on_base(void* handle, const SerdNode* uri) {
  return serd_env_set_base_uri(static_cast<FlagSearch*>(handle)->env, uri);
}

SerdStatus on_prefix(void* handle, const SerdNode* name, const SerdNode* uri) {
  return serd_env_set_prefix(static_cast<FlagSearch*>(handle)->env, name, uri);
}

SerdStatus on_statement(void* handle, SerdStatementFlags, const SerdNode*, const SerdNode*,
                        const SerdNode* predicate, const SerdNode* object, const SerdNode*,
                        const SerdNode*) {
  auto* search = static_cast<FlagSearch*>(handle);
  SerdNode expanded = serd_env_expand_node(search->env, predicate);
  const SerdNode* name = expanded.buf ? &expanded : predicate;
  if (object->type == SERD_LITERAL &&
      std::strcmp(reinterpret_cast<const char*>(name->buf), search->uri) == 0) {
    const auto* text = reinterpret_cast<const char*>(object->buf);
    search->found = std::strcmp(text, "true") == 0 || std::strcmp(text, "1") == 0;
  }
  serd_node_free(&expanded);
  return SERD_SUCCESS;
}

} // namespace

SavedStateDir saved_state_dir_kind(const char* dir) {
  std::error_code error;
  const fs::file_status status = fs::status(dir, error);
  if (!fs::exists(status)) {
    return STATE_DIR_NONE;
  }
  if (!fs::is_directory(status)) {
    return STATE_DIR_NOT_A_DIR;
  }
  if (!saved_state_file(dir).empty()) {
    return STATE_DIR_SAVED;
  }
  return fs::is_empty(dir, error) ? STATE_DIR_NONE : STATE_DIR_OTHER;
}

std::string saved_state_file(const char* dir) {
  std::error_code error;
  const fs::path file = fs::path(dir) / state_file_name;
  return fs::is_regular_file(fs::path(dir) / "manifest.ttl", error) &&
                 fs::is_regular_file(file, error)
             ? file.string()
             : std::string();
}

int save_state(StateHost* host, const char* dir, std::span<const SavedStateFlag> flags) {
  const fs::path target = fs::absolute(fs::path(dir).lexically_normal()).string();
  const fs::path clean = target.filename().empty() ? target.parent_path() : target;
  const SavedStateDir kind = saved_state_dir_kind(clean.c_str());
  if (kind == STATE_DIR_NOT_A_DIR) {
    return fail(host, clean, "it is not a directory");
  }
  Staging staging(clean);
  if (staging.path.empty() || chmod(staging.path.c_str(), directory_mode(clean)) != 0) {
    return fail(host, clean, std::strerror(errno));
  }
  if (const int status = write_state(host, clean, staging.path, flags)) {
    return status;
  }
  if (kind == STATE_DIR_OTHER) {
    return join_directory(host, clean, staging.path);
  }
  if (kind == STATE_DIR_SAVED &&
      (!carry_over_other_files(clean, staging.path) || !sync_tree(staging.path))) {
    return fail(host, clean, "the other files in it could not be kept");
  }
  // A state saved before, or an empty directory, is exchanged with the new
  // one in one step; the old one then goes with the staging directory.
  const bool exists = fs::exists(clean);
  const int moved =
      exists ? renameat2(AT_FDCWD, staging.path.c_str(), AT_FDCWD, clean.c_str(), RENAME_EXCHANGE)
             : rename(staging.path.c_str(), clean.c_str());
  if (moved != 0) {
    return fail(host, clean, std::strerror(errno));
  }
  if (!exists) {
    staging.path.clear(); // it is the saved state now
  }
  sync_path(clean.parent_path());
  return 0;
}

int saved_state_flag(const char* dir, const char* uri, bool* value) {
  const std::string file = saved_state_file(dir);
  if (file.empty()) {
    return 1;
  }
  FlagSearch search{serd_env_new(nullptr), uri, -1};
  SerdReader* reader =
      serd_reader_new(SERD_TURTLE, &search, nullptr, on_base, on_prefix, on_statement, nullptr);
  serd_reader_read_file(reader, reinterpret_cast<const uint8_t*>(file.c_str()));
  serd_reader_free(reader);
  serd_env_free(search.env);
  if (search.found < 0) {
    return 1;
  }
  *value = search.found == 1;
  return 0;
}
