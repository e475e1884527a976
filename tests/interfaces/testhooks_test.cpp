// Test hooks without threads: the emulation switches, the metrics table
// (hash, prefixes, sorting), counting from the client functions and the
// report format. Each test runs in its own process (gtest_discover_tests),
// so the process-wide metrics state starts fresh every time.
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "csapi/client/cs_dispatch.h"
#include "csapi/client/cs_ops.h"
#include "csapi/client/cs_ops_hooks.h"
#include "csapi/client/csapi_client.h"
#include "csapi/client/test/csapi_test.h"
#include "support/log_capture.h"

namespace {

std::vector<std::string> ReadLines(const std::string &path) {
  std::ifstream in(path);
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

struct TempFile {
  std::string path;
  TempFile() {
    char tmpl[] = "/tmp/kyr_metrics_XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd >= 0) close(fd);
    path = tmpl;
  }
  ~TempFile() { unlink(path.c_str()); }
};

// The numbers of a report line after its label: "X, 1, 2, 3, 4".
std::vector<int> Numbers(const std::string &line) {
  std::vector<int> out;
  std::stringstream ss(line.substr(line.find(',') + 1));
  for (std::string part; std::getline(ss, part, ',');) out.push_back(std::stoi(part));
  return out;
}

std::string Report(int scope) {
  TempFile f;
  EXPECT_EQ(0, csapi_client_test_metrics_report(f.path.c_str(), scope));
  std::ifstream in(f.path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string LineOf(const std::string &report, const std::string &label) {
  std::stringstream ss(report);
  for (std::string line; std::getline(ss, line);)
    if (line.rfind(label, 0) == 0) return line;
  return "";
}

// ---- switches ----

TEST(EmulationSwitches, CommAlsoSwitchesOnVideoAndCameraOnly) {
  EXPECT_EQ(0, csapi_client_test_enable_emulation("COMM"));
  for (const char *on : {"COMM", "VIDEO", "CAMERA"}) {
    int d = -1, t = -1, td = -1, te = -1;
    EXPECT_EQ(0, csapi_client_test_get_settings(on, &d, &t, &td, &te)) << on;
    EXPECT_EQ(0, d);
    EXPECT_EQ(0, t);
    EXPECT_EQ(100, td);
    EXPECT_EQ(1, te);
  }
  for (const char *off : {"AUDIO", "DIRECTORY", "CALENDAR", "CONTENT", "SECURITY", "HOME", "SYSTEM", "CONNECT"})
    EXPECT_EQ(1, csapi_client_test_get_settings(off, nullptr, nullptr, nullptr, nullptr)) << off;
}

TEST(EmulationSwitches, UnknownNamesGiveTwo) {
  kyrtest::LogCapture log;
  EXPECT_EQ(2, csapi_client_test_enable_emulation("comm"));
  EXPECT_EQ(2, csapi_client_test_enable_emulation(nullptr));
  EXPECT_EQ(1u, log.Count("csapi_client_test_enable_emulation: unknown subsystem name comm"));
  EXPECT_EQ(2, csapi_client_test_get_settings("NOPE", nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(1, csapi_client_test_set_setting("NOPE", CSAPI_TEST_RSP_DELAY, 5));
}

TEST(EmulationSwitches, AlreadyEnabledKeepsItsSettings) {
  kyrtest::LogCapture log;
  ASSERT_EQ(0, csapi_client_test_enable_emulation("AUDIO"));
  ASSERT_EQ(0, csapi_client_test_set_setting("AUDIO", CSAPI_TEST_RSP_DELAY, 250));
  ASSERT_EQ(0, csapi_client_test_set_setting("AUDIO", CSAPI_TEST_TRIGGER_ENABLE, 0));
  EXPECT_EQ(0, csapi_client_test_enable_emulation("AUDIO"));
  EXPECT_EQ(1u, log.Count("csapi_client_test_enable_emulation: Already enabled AUDIO"));
  int d = -1, te = -1;
  EXPECT_EQ(0, csapi_client_test_get_settings("AUDIO", &d, nullptr, nullptr, &te));
  EXPECT_EQ(250, d);
  EXPECT_EQ(0, te);
}

TEST(EmulationSwitches, DisableReportsWhetherAnythingWasOn) {
  EXPECT_EQ(1, csapi_client_test_disable_emulation(0));
  ASSERT_EQ(0, csapi_client_test_enable_emulation("SYSTEM"));
  ASSERT_EQ(0, csapi_client_test_enable_emulation("CONNECT"));
  // Only CONNECT goes.
  EXPECT_EQ(0, csapi_client_test_disable_emulation(1));
  EXPECT_EQ(1, csapi_client_test_disable_emulation(1));
  EXPECT_EQ(0, csapi_client_test_get_settings("SYSTEM", nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(0, csapi_client_test_disable_emulation(0));
  EXPECT_EQ(1, csapi_client_test_get_settings("SYSTEM", nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(1, csapi_client_test_disable_emulation(0));
}

// ---- the metrics table ----

TEST(MetricsTable, ElfHashKnownValues) {
  EXPECT_EQ(0u, ELFHash(""));
  EXPECT_EQ(97u, ELFHash("a"));
  EXPECT_EQ(1650u, ELFHash("ab"));
  // Long names fold their top four bits back in and clear them.
  EXPECT_EQ(136720708u, ELFHash("csTermChangedCBClient"));
  EXPECT_EQ(200211573u, ELFHash("csLogEnable"));
  EXPECT_EQ(195729988u, ELFHash("csAudioGet"));
  EXPECT_EQ(4u, ELFHash("csTermChangedCBClient") % CSAPI_TEST_METRICS_BUCKETS);
}

TEST(MetricsTable, PrefixesAreTriedInTableOrder) {
  EXPECT_EQ(CSAPI_TEST_SYSTEM, get_csapi_client_test_func_subsysytem("csLogEnable"));
  EXPECT_EQ(CSAPI_TEST_SYSTEM, get_csapi_client_test_func_subsysytem("csHomeScreenChangedCBClient"));
  EXPECT_EQ(CSAPI_TEST_CONNECT, get_csapi_client_test_func_subsysytem("csConnect"));
  EXPECT_EQ(CSAPI_TEST_CONNECT, get_csapi_client_test_func_subsysytem("csSrvrMax"));
  EXPECT_EQ(CSAPI_TEST_COMM, get_csapi_client_test_func_subsysytem("csPresetChangedCBClient"));
  EXPECT_EQ(CSAPI_TEST_COMM, get_csapi_client_test_func_subsysytem("CSFWTraversalGet"));
  EXPECT_EQ(CSAPI_TEST_CAMERA, get_csapi_client_test_func_subsysytem("csCameraAddedCBClient"));
  EXPECT_EQ(CSAPI_TEST_VIDEO, get_csapi_client_test_func_subsysytem("csVideoOutLayoutChangedCBClient"));
  kyrtest::LogCapture log;
  EXPECT_EQ(-1, get_csapi_client_test_func_subsysytem("frobnicate"));
  EXPECT_EQ(1u, log.Count("get_csapi_client_test_func_subsysytem: CSAPI client function is frobnicate not mapped to "
                          "a test subsystem"));
}

TEST(MetricsTable, HoldsEveryClientFunctionSortedAndMapped) {
  kyrtest::LogCapture log;
  ASSERT_EQ(0, csapi_client_test_metrics_enable());
  EXPECT_EQ(0u, log.Count("not mapped to a test subsystem"));
  std::vector<std::string> names;
  for (int i = 0; csapi_client_test_metrics_name(i); i++) names.push_back(csapi_client_test_metrics_name(i));
  ASSERT_EQ(size_t(CSAPI_TEST_METRICS_FUNCS), names.size());
  for (size_t i = 1; i < names.size(); i++) EXPECT_LT(names[i - 1], names[i]);
  std::map<std::string, int> seen;
  for (auto &n : names) seen[n]++;
  for (size_t i = 0; i < cs_ops_count(); i++) EXPECT_EQ(1, seen[cs_ops_name(i)]) << cs_ops_name(i);
  for (const char *s : {"csConnect", "csAuth", "csPair", "csUnpair", "csLogEnable", "csSrvrGet", "csDisconnect",
                        "csSrvrCount", "csSrvrMax", "csTermChangedCBClient", "csAudioInChangedCBClient"})
    EXPECT_EQ(1, seen[s]) << s;
}

TEST(MetricsTable, AllocationFailureLeavesMetricsOffAndCanBeRetried) {
  kyrtest::LogCapture log;
  csapi_client_test_debug_fail_alloc(100);
  EXPECT_EQ(2, csapi_client_test_metrics_enable());
  EXPECT_EQ(1u, log.Count("initHashTable: malloc failed"));
  EXPECT_EQ(1, csapi_client_test_metrics("csAudioGet", 0));
  EXPECT_EQ(1, csapi_client_test_metrics_disable());
  EXPECT_EQ(nullptr, csapi_client_test_metrics_name(0));
  EXPECT_EQ(0, csapi_client_test_metrics_enable());
  EXPECT_EQ(0, csapi_client_test_metrics("csAudioGet", 0));
}

// ---- counting ----

TEST(MetricsCounting, EnableDisableAndUnknownFunctions) {
  EXPECT_EQ(1, csapi_client_test_metrics("csAudioGet", 0));
  EXPECT_EQ(1, csapi_client_test_metrics_disable());
  ASSERT_EQ(0, csapi_client_test_metrics_enable());
  kyrtest::LogCapture log;
  EXPECT_EQ(2, csapi_client_test_metrics("csNoSuchThing", 0));
  EXPECT_EQ(1u, log.Count("csapi_client_test_metrics: Unknown function csNoSuchThing"));
  EXPECT_EQ(0, csapi_client_test_metrics_disable());
  EXPECT_EQ(1, csapi_client_test_metrics_disable());
  EXPECT_EQ(1, csapi_client_test_metrics_reset(CSAPI_TEST_SCOPE_CASE));
}

TEST(MetricsCounting, ClientFunctionsCountTheirCalls) {
  ASSERT_EQ(0, csapi_client_test_metrics_enable());
  CSAudio audio;
  (void)csAudioGet(&audio, 9);  // no connection: still an exercised call
  (void)csAudioGet(&audio, 9);
  (void)csSrvrMax();
  (void)csAudioChangedCBClient(0, nullptr, nullptr);
  int kyr = -1, emu = -1;
  ASSERT_EQ(0, csapi_client_test_metrics_counts("csAudioGet", CSAPI_TEST_SCOPE_ALL, &kyr, &emu));
  EXPECT_EQ(2, kyr);
  EXPECT_EQ(0, emu);
  ASSERT_EQ(0, csapi_client_test_metrics_counts("csSrvrMax", CSAPI_TEST_SCOPE_CASE, &kyr, nullptr));
  EXPECT_EQ(1, kyr);
  ASSERT_EQ(0, csapi_client_test_metrics_counts("csAudioChangedCBClient", CSAPI_TEST_SCOPE_SUITE, &kyr, nullptr));
  EXPECT_EQ(1, kyr);
  // Off: nothing more is counted.
  ASSERT_EQ(0, csapi_client_test_metrics_disable());
  (void)csAudioGet(&audio, 9);
  ASSERT_EQ(0, csapi_client_test_metrics_counts("csAudioGet", CSAPI_TEST_SCOPE_ALL, &kyr, nullptr));
  EXPECT_EQ(2, kyr);
  // Enabling again starts from zero.
  ASSERT_EQ(0, csapi_client_test_metrics_enable());
  ASSERT_EQ(0, csapi_client_test_metrics_counts("csAudioGet", CSAPI_TEST_SCOPE_ALL, &kyr, nullptr));
  EXPECT_EQ(0, kyr);
}

TEST(MetricsCounting, ResetsClearTheirScopesOnly) {
  ASSERT_EQ(0, csapi_client_test_metrics_enable());
  ASSERT_EQ(0, csapi_client_test_metrics("csTermGet", 0));
  ASSERT_EQ(0, csapi_client_test_metrics("csTermGet", 1));
  int all, suite, tcase;
  ASSERT_EQ(0, csapi_client_test_metrics_reset(CSAPI_TEST_SCOPE_CASE));
  csapi_client_test_metrics_counts("csTermGet", CSAPI_TEST_SCOPE_ALL, &all, nullptr);
  csapi_client_test_metrics_counts("csTermGet", CSAPI_TEST_SCOPE_SUITE, &suite, nullptr);
  csapi_client_test_metrics_counts("csTermGet", CSAPI_TEST_SCOPE_CASE, &tcase, nullptr);
  EXPECT_EQ(1, all);
  EXPECT_EQ(1, suite);
  EXPECT_EQ(0, tcase);
  ASSERT_EQ(0, csapi_client_test_metrics("csTermGet", 0));
  ASSERT_EQ(0, csapi_client_test_metrics_reset(CSAPI_TEST_SCOPE_SUITE));
  csapi_client_test_metrics_counts("csTermGet", CSAPI_TEST_SCOPE_ALL, &all, nullptr);
  csapi_client_test_metrics_counts("csTermGet", CSAPI_TEST_SCOPE_SUITE, &suite, nullptr);
  csapi_client_test_metrics_counts("csTermGet", CSAPI_TEST_SCOPE_CASE, &tcase, nullptr);
  EXPECT_EQ(2, all);
  EXPECT_EQ(0, suite);
  EXPECT_EQ(0, tcase);
  // The process and subsystem lines of the scopes follow.
  EXPECT_EQ(std::vector<int>({2, 0, 1, 0}), Numbers(LineOf(Report(CSAPI_TEST_SCOPE_ALL), "ALL TESTS")));
  EXPECT_EQ(std::vector<int>({0, 0, 0, 0}), Numbers(LineOf(Report(CSAPI_TEST_SCOPE_SUITE), "SUBSYSTEM:COMM")));
}

// ---- the report ----

TEST(MetricsReport, FailuresAreReportedAndWriteNothing) {
  kyrtest::LogCapture log;
  TempFile f;
  EXPECT_EQ(1, csapi_client_test_metrics_report(f.path.c_str(), CSAPI_TEST_SCOPE_ALL));
  EXPECT_EQ(1u, log.Count("csapi_client_test_metrics_report: Metrics not enabled, need to call EnableMetrics() Test "
                          "Service, mState=0"));
  ASSERT_EQ(0, csapi_client_test_metrics_enable());
  EXPECT_EQ(2, csapi_client_test_metrics_report("/nonexistent-dir/x.csv", CSAPI_TEST_SCOPE_ALL));
  EXPECT_EQ(1u, log.Count("csapi_client_test_metrics_report: fopen failed for /nonexistent-dir/x.csv, "));
  EXPECT_EQ(3, csapi_client_test_metrics_report(f.path.c_str(), 3));
  EXPECT_EQ(1u, log.Count("csapi_client_test_metrics_report: Unknown scope 3"));
  EXPECT_TRUE(ReadLines(f.path).empty());
}

TEST(MetricsReport, ListsEverySubsystemInOrderWithItsOwnFunctions) {
  ASSERT_EQ(0, csapi_client_test_metrics_enable());
  for (int i = 0; i < 3; i++) ASSERT_EQ(0, csapi_client_test_metrics("csAudioGet", 0));
  ASSERT_EQ(0, csapi_client_test_metrics("csAudioSet", 0));
  ASSERT_EQ(0, csapi_client_test_metrics("csAudioChangedCBClient", 1));
  ASSERT_EQ(0, csapi_client_test_metrics("csLogEnable", 0));
  kyrtest::LogCapture log;
  TempFile f;
  ASSERT_EQ(0, csapi_client_test_metrics_report(f.path.c_str(), CSAPI_TEST_SCOPE_SUITE));
  EXPECT_EQ(1u, log.Count("csapi_client_test_metrics_report: Creating metrics report " + f.path +
                          ", Scope=Test Suite"));
  auto lines = ReadLines(f.path);
  ASSERT_EQ(size_t(1 + 1 + CSAPI_TEST_SUBSYSTEMS + CSAPI_TEST_METRICS_FUNCS), lines.size());
  EXPECT_EQ("CSAPI Client Functions (Scope=Test Suite), KYR Counters, KYR Percent, Emulated KYR Counters, "
            "Emulated KYR Percent",
            lines[0]);
  // 3 of 223 functions used by the codec (1%), 1 emulated (0%).
  EXPECT_EQ("ALL TESTS, 5, 1, 1, 0", lines[1]);

  std::map<std::string, int> funcsOf;
  std::vector<std::string> blockOrder;
  for (size_t i = 2 + CSAPI_TEST_SUBSYSTEMS; i < lines.size(); i++) {
    const std::string &l = lines[i];
    ASSERT_EQ('[', l[0]) << l;
    std::string sub = l.substr(1, l.find(']') - 1);
    if (blockOrder.empty() || blockOrder.back() != sub) blockOrder.push_back(sub);
    funcsOf[sub]++;
    std::string name = l.substr(l.find(']') + 2, l.find(',') - l.find(']') - 2);
    EXPECT_EQ(sub, csapi_client_test_subsystem_name(get_csapi_client_test_func_subsysytem(name.c_str()))) << l;
  }
  std::vector<std::string> expectedBlocks;
  for (int s = 0; s < CSAPI_TEST_SUBSYSTEMS; s++) {
    std::string sub = csapi_client_test_subsystem_name(s);
    EXPECT_EQ(0u, lines[2 + s].rfind("SUBSYSTEM:" + sub + ", ", 0)) << lines[2 + s];
    if (funcsOf[sub] > 0) expectedBlocks.push_back(sub);
  }
  // Each subsystem's functions form one block, in table order.
  EXPECT_EQ(expectedBlocks, blockOrder);
  // HOME has no functions: no lines of its own, percentages 0.
  EXPECT_EQ(0, funcsOf["HOME"]);
  EXPECT_EQ("SUBSYSTEM:HOME, 0, 0, 0, 0", lines[2 + CSAPI_TEST_HOME]);

  int audioFuncs = funcsOf["AUDIO"];
  ASSERT_GT(audioFuncs, 2);
  EXPECT_EQ(std::vector<int>({4, 2 * 100 / audioFuncs, 1, 100 / audioFuncs}), Numbers(lines[2 + CSAPI_TEST_AUDIO]));
  EXPECT_EQ("[AUDIO] csAudioGet, 3, 75, 0, 0", LineOf(Report(CSAPI_TEST_SCOPE_SUITE), "[AUDIO] csAudioGet,"));
  EXPECT_EQ("[AUDIO] csAudioSet, 1, 25, 0, 0", LineOf(Report(CSAPI_TEST_SCOPE_SUITE), "[AUDIO] csAudioSet,"));
  EXPECT_EQ("[AUDIO] csAudioChangedCBClient, 0, 0, 1, 100",
            LineOf(Report(CSAPI_TEST_SCOPE_SUITE), "[AUDIO] csAudioChangedCBClient,"));
  // csLogEnable counts under SYSTEM, not CONNECT.
  EXPECT_EQ("[SYSTEM] csLogEnable, 1, 100, 0, 0", LineOf(Report(CSAPI_TEST_SCOPE_CASE), "[SYSTEM] csLogEnable,"));
  EXPECT_EQ(std::vector<int>({0, 0, 0, 0}), Numbers(LineOf(Report(CSAPI_TEST_SCOPE_ALL), "SUBSYSTEM:CONNECT")));
}

}  // namespace
