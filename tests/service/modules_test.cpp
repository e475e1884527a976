// The lifecycle runs the modules' hooks from one list: a loss reaches each
// module exactly once, however often the connection is given up after it.
#include <gtest/gtest.h>

#include <atomic>

#include "service/kyr_modules.h"
#include "service/kyr_service.h"
#include "support/log_capture.h"

namespace {

std::atomic<int> g_losses{0}, g_last{-2};
void on_loss(int instance) {
  g_losses++;
  g_last = instance;
}
const kyr_module_hooks kCounter = {"counter", nullptr, nullptr, on_loss, nullptr};

TEST(Modules, ALossHookRunsExactlyOncePerLoss) {
  kyrtest::LogCapture log;
  kyr_modules_debug_set_extra(&kCounter);
  // Instance 9 has no connection: closing it is harmless, but it is one.
  kyr_service_debug_set_server_instance(9);
  Java_quorvex_kyrconnectservice_KyrConnectService_NativeDisconnect(nullptr, nullptr);
  Java_quorvex_kyrconnectservice_KyrConnectService_NativeDisconnect(nullptr, nullptr);
  EXPECT_EQ(g_losses.load(), 1);
  EXPECT_EQ(g_last.load(), 9);
  // A connect gives up the connection before anything else, even when the
  // service is not set up; with none there is nothing to lose.
  kyr_service_debug_set_server_instance(8);
  EXPECT_EQ(Java_quorvex_kyrconnectservice_KyrConnectService_NativeConnect(nullptr, nullptr, nullptr, nullptr,
                                                                           nullptr, nullptr, nullptr),
            -15);
  EXPECT_EQ(Java_quorvex_kyrconnectservice_KyrConnectService_NativeConnect(nullptr, nullptr, nullptr, nullptr,
                                                                           nullptr, nullptr, nullptr),
            -15);
  EXPECT_EQ(g_losses.load(), 2);
  EXPECT_EQ(g_last.load(), 8);
  kyr_modules_debug_set_extra(nullptr);
}

}  // namespace
