// The codec simulator with the client core connected to it (plain TCP on
// 127.0.0.1, authenticated) and the interfaces pointed at that connection,
// as the service would after a connect. For fixtures' SetUp/TearDown.
#pragma once

#include <gtest/gtest.h>

#include <stdio.h>

#include "codec_sim.h"
#include "csapi/client/csapi_client.h"
#include "service/kyr_cache.h"
#include "service/kyr_service.h"

namespace kyrtest {

// Starts a simulator with cfg and connects to it; *sim and *inst are set as
// far as it got (check HasFatalFailure after the call).
inline void OpenInterfaceSession(const codec_sim_config &cfg, codec_sim **sim, int *inst) {
  *sim = codec_sim_start(cfg);
  ASSERT_NE(*sim, nullptr);
  ASSERT_EQ(csInit(nullptr), 0);
  char addr[64];
  snprintf(addr, sizeof addr, "127.0.0.1:%d", codec_sim_port(*sim));
  *inst = csConnect(addr, "davix", "2.0.0", "1.0.0", "9.0.0");
  ASSERT_GE(*inst, 0);
  ASSERT_EQ(csAuth(*inst, "SERIAL1"), 0);
  kyr_service_debug_set_server_instance(*inst);
  kyr_cache_clear_all();
}

}  // namespace kyrtest
