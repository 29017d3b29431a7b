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
/// frame checked.  A break in the stream counts only when JACK reported no
/// xrun to the checking clients meanwhile: a cycle the server skipped, on a
/// machine under load, loses frames whoever is at fault.  A wrong frame, or
/// no stream at all, always counts.
inline void expect_plays_times(const std::string& client, float gain) {
  using namespace std::chrono_literals;
  Source source(1, 0);
  Sink sink(1, 0);
  ASSERT_TRUE(source.ok() && sink.ok() && source.activate() && sink.activate());
  // A program registers its ports before it activates its client, and JACK
  // connects only ports of active clients: until then, a refusal is no
  // fault.
  ASSERT_TRUE(
      wait_for([&] { return connect_ports(source.client, source.audio_name(0), client + ":in_l"); },
               10s, 10ms))
      << "no port " << client << ":in_l to connect";
  ASSERT_TRUE(connect_ports(sink.client, client + ":out_l", sink.audio_name(0)));
  const uint64_t xruns = source.xruns.load() + sink.xruns.load();
  sink.check_stream(0, 0, gain);
  ASSERT_TRUE(wait_for([&] { return sink.checked_frames(0) > 4800; }))
      << "the output never carried the input times " << gain;
  EXPECT_EQ(sink.bad_frames(0), 0u) << "frames that are not the input times " << gain;
  EXPECT_LE(sink.breaks(0), source.xruns.load() + sink.xruns.load() - xruns)
      << "frames lost or repeated without an xrun";
}
