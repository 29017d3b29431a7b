#pragma once

// Checking what a running program plays, frame by frame, with the tests'
// own JACK clients on the private server.

#include "harness/jack_world.hpp"
#include "harness/wait_for.hpp"

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <string>

/// Expects the JACK client `client`, running a plugin with the ports in_l
/// and out_l (the gain fixtures), to play its input times `gain` on every
/// frame checked, without a break.
inline void expect_plays_times(const std::string& client, float gain) {
  using namespace std::chrono_literals;
  Source source(1, 0);
  Sink sink(1, 0);
  ASSERT_TRUE(source.ok() && sink.ok() && source.activate() && sink.activate());
  ASSERT_TRUE(wait_for(
      [&] { return jack_port_by_name(source.client, (client + ":out_l").c_str()) != nullptr; },
      10s));
  ASSERT_TRUE(connect_ports(source.client, source.audio_name(0), client + ":in_l"));
  ASSERT_TRUE(connect_ports(sink.client, client + ":out_l", sink.audio_name(0)));
  sink.check_stream(0, 0, gain);
  ASSERT_TRUE(wait_for([&] { return sink.checked_frames(0) > 4800; }))
      << "the output never carried the input";
  EXPECT_EQ(sink.bad_frames(0), 0u) << "frames that are not the input times " << gain;
  EXPECT_EQ(sink.breaks(0), 0u);
}
