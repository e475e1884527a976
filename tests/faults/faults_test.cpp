// Every way a connection ends, on plain TCP and on TLS: the service's worker
// reports the loss exactly once and soon, a call waiting on the connection
// returns -18 at once, no notification of the old connection is dispatched
// afterwards, and the next connect works. Bounds are generous; the figures
// themselves are taken by the fault benchmark.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "csapi/client/cs_ops.h"
#include "fault_rig.h"
#include "support/log_capture.h"

namespace {

using namespace faultrig;

kyrtest::LogCapture &Log() {
  static kyrtest::LogCapture *capture = new kyrtest::LogCapture;  // never removed (see hostile_fixture.h)
  return *capture;
}

struct Case {
  Fault fault;
  bool tls;
};

std::string case_name(const testing::TestParamInfo<Case> &i) {
  return std::string(fault_id(i.param.fault)) + (i.param.tls ? "_tls" : "_plain");
}

class FaultSuite : public testing::TestWithParam<Case> {
 protected:
  void TearDown() override { csapi_set_liveness(0); }
};

TEST_P(FaultSuite, LossIsReportedOnceWaitersReturnAndTheNextConnectWorks) {
  const Case c = GetParam();
  Log();
  Rig rig(c.tls);
  ASSERT_NE(rig.sim, nullptr);
  ASSERT_EQ(csapi_set_liveness(c.fault == blackhole ? 2 : 0), 0);
  ASSERT_TRUE(rig.connect());
  const size_t failed_before = Log().Count("-> KYR_Connect_Failed", "KyrConnectLib");

  // A call in flight when the fault strikes: the codec holds its answer.
  codec_sim_fault(rig.sim, CODEC_SIM_STALL_ANSWERS, 60);
  std::atomic<int> call_rc{1};
  std::atomic<int64_t> call_done{0};
  std::thread caller([&] {
    CSSys sys;
    memset(&sys, 0, sizeof sys);
    call_rc = csSysGet(&sys, rig.instance);
    call_done = now_ms();
  });
  ASSERT_TRUE(codec_sim_wait_request(rig.sim, "csSysGet", 2000));

  const int64_t t0 = now_ms();
  int64_t ms = rig.fault_to_failed(c.fault, c.fault == blackhole ? 12000 : 3000);
  caller.join();
  EXPECT_GE(ms, 0) << "no Failed state after " << fault_name(c.fault);
  EXPECT_EQ(call_rc.load(), CSAPI_ERR_NO_CONNECT);
  // The call learnt of the loss with the worker, not at its 30 s time-out.
  EXPECT_LT(call_done.load(), t0 + ms + 1000);
  // Nothing more is reported for the same loss.
  usleep(300 * 1000);
  EXPECT_EQ(Log().Count("-> KYR_Connect_Failed", "KyrConnectLib"), failed_before + 1);

  // The old connection is gone from the table, and a new one works.
  rig.disconnect();
  codec_sim_clear_faults(rig.sim);
  EXPECT_EQ(csSrvrCount(), 0);
  ASSERT_TRUE(rig.connect());
  CSSys sys;
  memset(&sys, 0, sizeof sys);
  EXPECT_EQ(csSysGet(&sys, rig.instance), 0);
}

std::vector<Case> all_cases() {
  std::vector<Case> v;
  for (bool tls : {false, true})
    for (int f = 0; f < kAllFaults; f++) v.push_back({static_cast<Fault>(f), tls});
  return v;
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultSuite, testing::ValuesIn(all_cases()), case_name);

TEST(Liveness, RangeIsCheckedAndTheSettingIsKept) {
  for (int bad : {-1, 301, -2147483647 - 1, 2147483647}) EXPECT_EQ(csapi_set_liveness(bad), CSAPI_ERR_BAD_PARAMETER);
  EXPECT_EQ(csapi_get_liveness(), 0);
  EXPECT_EQ(csapi_set_liveness(300), 0);
  EXPECT_EQ(csapi_set_liveness(-5), CSAPI_ERR_BAD_PARAMETER);
  EXPECT_EQ(csapi_get_liveness(), 300);
  EXPECT_EQ(csapi_set_liveness(0), 0);
}

// A quiet codec that answers is not a lost one: the probe keeps it alive,
// and with liveness off nothing extra goes on the wire.
TEST(Liveness, ProbeOnlyWhenSilentAndOnlyWhenOn) {
  Rig rig(false);
  ASSERT_EQ(csapi_set_liveness(1), 0);
  ASSERT_TRUE(rig.connect());
  usleep(3500 * 1000);
  EXPECT_EQ(kyr_connect_state(), KYR_Connect_Connected);
  auto probes = [&] {
    size_t n = 0;
    for (const auto &r : codec_sim_requests(rig.sim)) n += r.method == CSAPI_LIVENESS_PROBE;
    return n;
  };
  EXPECT_GE(probes(), 1u);
  ASSERT_EQ(csapi_set_liveness(0), 0);
  usleep(1500 * 1000);  // one probe may have been under way
  size_t after_off = probes();
  usleep(2500 * 1000);
  EXPECT_EQ(probes(), after_off);
  EXPECT_EQ(kyr_connect_state(), KYR_Connect_Connected);
}

// Notifications the old connection queued are never dispatched once it is
// lost, even when the next connection gets the same instance number.
std::atomic<int> g_audio_seen{0};
void on_audio(const void *, unsigned int, uintptr_t) { g_audio_seen++; }

TEST(FaultOrder, NoNotificationOfTheOldConnectionAfterItsLoss) {
  Rig rig(false);
  ASSERT_TRUE(rig.connect());
  const int first = rig.instance;
  ASSERT_GE(csCallbackAdd(0, "csAudioChangedCB", on_audio, 0), 0);
  const int kQueued = 50;
  ASSERT_EQ(codec_sim_flood(rig.sim, "{\"jsonrpc\":\"2.0\",\"method\":\"csAudioChangedCB\",\"params\":"
                            "{\"pAudio\":{\"srvrInstance\":0,\"handle\":1},\"flags\":1}}", kQueued, 0), 1);
  const size_t n0 = codec_sim_request_count(rig.sim);
  // A call answered after the flood proves the flood has been read.
  CSSys sys;
  memset(&sys, 0, sizeof sys);
  ASSERT_EQ(csSysGet(&sys, rig.instance), 0);
  ASSERT_GT(codec_sim_request_count(rig.sim), n0);
  codec_sim_fault(rig.sim, CODEC_SIM_RST);
  ASSERT_GE(wait_until([] { return kyr_connect_state() == KYR_Connect_Failed; }, 3000), 0);
  rig.disconnect();
  ASSERT_TRUE(rig.connect());
  ASSERT_EQ(rig.instance, first);
  // The old connection's notifications are still queued for this thread.
  while (csCallbackProcess(0) > 0) {
  }
  EXPECT_EQ(g_audio_seen.load(), 0);
  // The new connection's are dispatched.
  codec_sim_notify(rig.sim, "csAudioChangedCB", 1);
  EXPECT_GE(wait_until([] { return csCallbackProcess(50) > 0 || g_audio_seen.load() > 0; }, 3000), 0);
  EXPECT_EQ(g_audio_seen.load(), 1);
  csCallbackDelete(0, "csAudioChangedCB", on_audio, 0);
}

}  // namespace
