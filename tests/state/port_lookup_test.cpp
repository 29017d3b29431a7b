#include "frontend/test_frontend.hpp"
#include "harness/host_rig.hpp"
#include "state/state_host.hpp"
#include "ui/plugin_ui.hpp"

#include <gtest/gtest.h>

namespace {

TEST(PortLookup, FindsPortsBySymbolLowestIndexFirst) {
  test_frontend_reset();
  HostRig rig;
  ASSERT_EQ(rig.open_manual("urn:bexo:test:ports"), 0);
  Host& host = rig.host;

  EXPECT_EQ(find_port_by_symbol(&host, "twin"), &host.ports[6]);
  EXPECT_EQ(port_index_by_symbol(&host, "twin"), 6u);
  EXPECT_EQ(port_index_by_symbol(&host, "tempo"), 9u);
  EXPECT_EQ(find_port_by_symbol(&host, "absent"), nullptr);
  EXPECT_EQ(port_index_by_symbol(&host, "absent"), UINT32_MAX);
}

} // namespace
