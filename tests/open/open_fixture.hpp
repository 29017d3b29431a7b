#pragma once

// A host opened the way main and a front end open it, through the one rig,
// against the private JACK server, with the tests' own front end and every
// log line captured.

#include "frontend/test_frontend.hpp"
#include "harness/host_rig.hpp"
#include "host/host_open.hpp"
#include "host/lifecycle.hpp"
#include "host/periodic_update.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

class OpenHost : public testing::Test {
protected:
  OpenHost() { test_frontend_reset(); }

  int open(const char* arg) { return rig.open(arg); }

  /// The lines logged at `level`, in order.
  std::vector<std::string> logged(int level) const { return rig.logged(level); }

  HostRig rig;
  Host& host = rig.host;
  std::vector<LogLine>& lines = rig.lines;
};
