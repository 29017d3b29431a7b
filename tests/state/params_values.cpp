#include "state/params_values.hpp"

#include "engine/message.hpp"
#include "state/state_support.hpp"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <sstream>

namespace {

constexpr uint32_t gain_port = 2;
constexpr uint32_t mix_port = 3;
constexpr uint32_t depth_port = 4;

std::string canonical(const std::string& path) {
  std::error_code error;
  const std::filesystem::path real = std::filesystem::canonical(path, error);
  return error ? path : real.string();
}

} // namespace

const ParamsValues saved_values{1.25f, 0.75f,  6.0f, 17,           (int64_t{1} << 40) + 5,
                                3.5f,  -0.125, true, "saved text", "other.txt",
                                11};
const ParamsValues changed_values{0.5f, 0.2f,  2.0f,      -4,           -9, 8.25f,
                                  0.5,  false, "changed", "sample.txt", 3};

std::string bundle_file(HostRig& rig, const std::string& name) {
  char* dir = lilv_node_get_path(lilv_plugin_get_bundle_uri(rig.host.plugin), nullptr);
  const std::string path = (std::filesystem::path(dir) / name).string();
  lilv_free(dir);
  return path;
}

int send_params_values(HostRig& rig, const ParamsValues& v) {
  const LV2_Atom_Forge& f = rig.host.forge;
  ZixRing* ring = rig.host.process.ui_ring;
  // Depth first: once the level shows gain and mix, depth has arrived too.
  int status = ring_write_control(ring, depth_port, v.depth) |
               ring_write_control(ring, gain_port, v.gain) |
               ring_write_control(ring, mix_port, v.mix);
  const int32_t b = v.b ? 1 : 0;
  const std::string path = bundle_file(rig, v.path);
  status |= rig.send_property(param("int").c_str(), 4, f.Int, &v.i);
  status |= rig.send_property(param("long").c_str(), 8, f.Long, &v.l);
  status |= rig.send_property(param("float").c_str(), 4, f.Float, &v.f);
  status |= rig.send_property(param("double").c_str(), 8, f.Double, &v.d);
  status |= rig.send_property(param("bool").c_str(), 4, f.Bool, &b);
  status |= rig.send_property(param("string").c_str(), static_cast<uint32_t>(v.s.size() + 1),
                              f.String, v.s.c_str());
  status |= rig.send_property(param("path").c_str(), static_cast<uint32_t>(path.size() + 1), f.Path,
                              path.c_str());
  status |= rig.send_property(param("mixed").c_str(), 4, f.Int, &v.mixed);
  return status;
}

std::string params_difference(HostRig& rig, const ParamsValues& v) {
  const LV2_Atom_Forge& f = rig.host.forge;
  std::ostringstream out;
  const auto number = [&](const char* name, uint32_t type, double expected) {
    const Control* c = rig.property(param(name).c_str());
    if (!c || c->value.type != type || control_value_to_double(&c->value, &f) != expected) {
      out << name << " is " << (c ? control_value_to_double(&c->value, &f) : NAN) << " not "
          << expected << "; ";
    }
  };
  const auto text = [&](const char* name, uint32_t type, const std::string& expected,
                        bool is_path) {
    const Control* c = rig.property(param(name).c_str());
    std::string got;
    if (c && c->value.type == type && c->value.size) {
      got = static_cast<const char*>(control_value_body(&c->value));
    }
    if (is_path ? canonical(got) != canonical(expected) : got != expected) {
      out << name << " is \"" << got << "\" not \"" << expected << "\"; ";
    }
  };
  number("int", f.Int, v.i);
  number("long", f.Long, static_cast<double>(v.l));
  number("float", f.Float, v.f);
  number("double", f.Double, v.d);
  number("bool", f.Bool, v.b ? 1.0 : 0.0);
  number("mixed", f.Int, v.mixed);
  text("string", f.String, v.s, false);
  text("path", f.Path, bundle_file(rig, v.path), true);

  const std::vector<float>& ports = rig.host.process.control_values;
  if (ports[gain_port] != v.gain || ports[mix_port] != v.mix || ports[depth_port] != v.depth) {
    out << "ports are " << ports[gain_port] << ", " << ports[mix_port] << ", " << ports[depth_port]
        << "; ";
  }
  return out.str();
}

bool wait_for_params_values(HostRig& rig, const ParamsValues& v) {
  const Control* level = rig.control("level");
  const float expected_level = v.gain * v.mix;
  return rig.update_until([&] {
    return control_value_to_double(&level->value, &rig.host.forge) == expected_level &&
           params_difference(rig, v).empty();
  });
}
