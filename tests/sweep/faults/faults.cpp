// Plugins that fail their host, one way each, for the sweep's own test:
// a crash and an abort, a hang before and after the host is ready, a
// process that keeps a JACK client after the host is gone, and a plugin
// that works but whose name holds a colon, as JACK client names may.

#include <cstdlib>
#include <cstring>
#include <lv2/core/lv2.h>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace {

enum class Fault {
  CrashOnActivate,
  AbortOnDeactivate,
  HangOnInstantiate,
  HangOnDeactivate,
  LeaveClient,
  None
};

struct Plugin {
  Fault fault;
  const float* in = nullptr;
  float* out = nullptr;
};

// Long enough for any limit of the sweep's test, short enough that nothing
// stays behind for long should the host not be killed.
void hang() {
  for (int i = 0; i < 120; ++i) {
    sleep(1);
  }
}

Fault fault_of(const char* uri) {
  struct Entry {
    const char* uri;
    Fault fault;
  };
  const Entry entries[] = {
      {"urn:bexo:sweep:crash-on-activate", Fault::CrashOnActivate},
      {"urn:bexo:sweep:abort-on-deactivate", Fault::AbortOnDeactivate},
      {"urn:bexo:sweep:hang-on-instantiate", Fault::HangOnInstantiate},
      {"urn:bexo:sweep:hang-on-deactivate", Fault::HangOnDeactivate},
      {"urn:bexo:sweep:leave-client", Fault::LeaveClient},
  };
  for (const Entry& e : entries) {
    if (std::strcmp(uri, e.uri) == 0) {
      return e.fault;
    }
  }
  return Fault::None;
}

LV2_Handle instantiate(const LV2_Descriptor* descriptor, double, const char*,
                       const LV2_Feature* const*) {
  const Fault fault = fault_of(descriptor->URI);
  if (fault == Fault::HangOnInstantiate) {
    hang();
  }
  return new Plugin{fault};
}

void connect_port(LV2_Handle handle, uint32_t port, void* data) {
  auto* p = static_cast<Plugin*>(handle);
  if (port == 0) {
    p->in = static_cast<const float*>(data);
  } else {
    p->out = static_cast<float*>(data);
  }
}

void activate(LV2_Handle handle) {
  auto* p = static_cast<Plugin*>(handle);
  if (p->fault == Fault::CrashOnActivate) {
    // An illegal instruction: a sanitizer of the host would turn a SIGSEGV
    // into a report and an exit of its own, but leaves this signal alone.
    __builtin_trap();
  }
  if (p->fault == Fault::LeaveClient) {
    // A helper that outlives the host with a JACK client of its own, as a
    // plugin's server process might.
    char path[] = BEXO_SWEEP_ORPHAN_PATH;
    char seconds[] = "15";
    char* argv[] = {path, seconds, nullptr};
    pid_t pid = 0;
    posix_spawn(&pid, path, nullptr, nullptr, argv, environ);
  }
}

void run(LV2_Handle handle, uint32_t n) {
  auto* p = static_cast<Plugin*>(handle);
  if (p->in && p->out) {
    std::memmove(p->out, p->in, n * sizeof(float));
  }
}

void deactivate(LV2_Handle handle) {
  auto* p = static_cast<Plugin*>(handle);
  if (p->fault == Fault::AbortOnDeactivate) {
    std::abort();
  }
  if (p->fault == Fault::HangOnDeactivate) {
    hang();
  }
}

void cleanup(LV2_Handle handle) {
  delete static_cast<Plugin*>(handle);
}

const void* extension_data(const char*) {
  return nullptr;
}

#define FAULT_DESCRIPTOR(uri)                                                                      \
  { uri, instantiate, connect_port, activate, run, deactivate, cleanup, extension_data }

const LV2_Descriptor descriptors[] = {
    FAULT_DESCRIPTOR("urn:bexo:sweep:crash-on-activate"),
    FAULT_DESCRIPTOR("urn:bexo:sweep:abort-on-deactivate"),
    FAULT_DESCRIPTOR("urn:bexo:sweep:hang-on-instantiate"),
    FAULT_DESCRIPTOR("urn:bexo:sweep:hang-on-deactivate"),
    FAULT_DESCRIPTOR("urn:bexo:sweep:leave-client"),
    FAULT_DESCRIPTOR("urn:bexo:sweep:colon-name"),
};

} // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
  return index < sizeof descriptors / sizeof descriptors[0] ? &descriptors[index] : nullptr;
}
