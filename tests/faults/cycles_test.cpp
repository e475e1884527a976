// Connect, lose the connection, connect again, many times in one process:
// descriptors, threads, handles and server instances come back to what they
// were after the first connect, the ten-slot table never runs out, and
// resident memory stays put. KYR_CYCLES sets the count (default 100; 30
// under the sanitizers, whose own bookkeeping makes memory figures moot).
#include <gtest/gtest.h>

#include <cstdlib>

#include "fault_rig.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KYR_CYCLES_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KYR_CYCLES_SANITIZED 1
#endif
#endif
#ifndef KYR_CYCLES_SANITIZED
#define KYR_CYCLES_SANITIZED 0
#endif

namespace {

using namespace faultrig;

TEST(Cycles, ConnectLossConnectLeavesTheProcessAsItWas) {
  const char *env = getenv("KYR_CYCLES");
  const int n = env && *env ? atoi(env) : (KYR_CYCLES_SANITIZED ? 30 : 100);
  CycleResult r = run_cycles(n, n >= 50 ? 50 : 0);
  EXPECT_EQ(r.cycles, n);
  EXPECT_EQ(r.failed_reports, n);
  EXPECT_EQ(r.last.fds, r.first.fds);
  EXPECT_EQ(r.last.threads, r.first.threads);
  EXPECT_EQ(r.last.handles, r.first.handles);
  EXPECT_EQ(r.last.instances, r.first.instances);
  EXPECT_EQ(r.first.instances, 1);
  // Under a user-mode emulator (KYR_EMULATED, set by the test run) resident
  // memory also counts the emulator's growing translation cache.
  const char *emulated = getenv("KYR_EMULATED");
  if (!KYR_CYCLES_SANITIZED && !(emulated && *emulated)) {
    EXPECT_LT(r.last.rss_kib - r.first.rss_kib, 2048) << "resident memory grew";
  }
  printf("cycles %d in %lld ms: fds %d->%d threads %d->%d handles %zu->%zu instances %d->%d rss %+ld KiB\n", r.cycles,
         (long long)r.ms, r.first.fds, r.last.fds, r.first.threads, r.last.threads, r.first.handles, r.last.handles,
         r.first.instances, r.last.instances, r.last.rss_kib - r.first.rss_kib);
}

}  // namespace
