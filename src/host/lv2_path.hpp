#pragma once

// Where the world looks for plugins: LV2_PATH as the user gave it, with
// relative directories made absolute.  lilv makes a file URI of each
// directory, which a relative one cannot give, and lilv 0.24 then crashes
// on the URI it failed to make; a plugin developer pointing LV2_PATH at
// "build/lv2" would see the host die before it said anything.

#include <lilv/lilv.h>
#include <string>

/// `path` (a colon-separated list, as LV2_PATH) with each relative
/// directory made absolute against the current directory; empty entries
/// are dropped, and those beginning with "~" or "$" are left for lilv to
/// expand.
std::string absolute_lv2_path(const std::string& path);

/// Give the world LV2_PATH made absolute, when it is set; nothing otherwise.
void set_world_lv2_path(LilvWorld* world);
