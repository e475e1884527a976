// The simulator's network faults, seen from a plain loopback socket: what
// reaches the client, in what order and when, and how the connection ends.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>

#include "codec_sim.h"
#include "sim_client.h"

using namespace simtest;

namespace {

struct sim_deleter {
    void operator()(codec_sim *s) const { codec_sim_stop(s); }
};
using sim_ptr = std::unique_ptr<codec_sim, sim_deleter>;
using ms = std::chrono::milliseconds;

sim_ptr start(const std::vector<std::string> &faults = {}) {
    codec_sim_config cfg;
    cfg.faults = faults;
    sim_ptr s(codec_sim_start(cfg));
    EXPECT_TRUE(s) << "simulator did not start";
    return s;
}

long long since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration_cast<ms>(std::chrono::steady_clock::now() - t0).count();
}

std::string note(int n) { return "{\"method\":\"csAudioChangedCB\",\"params\":{\"n\":" + std::to_string(n) + "}}"; }

// Opens a client and waits until the simulator has counted it.
void open_client(codec_sim *sim, client &c, int nth = 1) {
    ASSERT_TRUE(c.open(codec_sim_port(sim), false));
    ASSERT_TRUE(codec_sim_wait_connections(sim, nth, 2000));
}

// Waits until exactly n connections are open.
bool wait_count(codec_sim *sim, int n) {
    auto t0 = std::chrono::steady_clock::now();
    while (codec_sim_connection_count(sim) != n && since(t0) < 2000) std::this_thread::sleep_for(ms(5));
    return codec_sim_connection_count(sim) == n;
}

// The byte count of a read: -errno on failure, 0 on an orderly end.
long recv_result(client &c, int timeout_ms) {
    pollfd p{c.fd, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return -ETIMEDOUT;
    char buf[256];
    long n = recv(c.fd, buf, sizeof buf, 0);
    return n < 0 ? -errno : n;
}

TEST(SimFaults, BlackholeNeitherAnswersNorClosesUntilCleared) {
    auto sim = start();
    client c;
    open_client(sim.get(), c);
    EXPECT_EQ(codec_sim_fault(sim.get(), CODEC_SIM_BLACKHOLE), 1);
    ASSERT_TRUE(c.send_text(request("csVersion", "{}", 7)));
    EXPECT_EQ(c.read_json(400), "");  // silent, and not closed either
    EXPECT_EQ(codec_sim_request_count(sim.get()), 0u);
    codec_sim_clear_faults(sim.get());
    EXPECT_EQ(rsp_code(c.read_json(2000)), 0);  // the held request is read and answered
}

TEST(SimFaults, RstResetsAndCutSendsHalfAMessage) {
    auto sim = start();
    client a, b;
    open_client(sim.get(), a, 1);
    EXPECT_EQ(codec_sim_fault(sim.get(), CODEC_SIM_RST), 1);
    EXPECT_EQ(recv_result(a, 2000), -ECONNRESET);
    ASSERT_TRUE(wait_count(sim.get(), 0));
    open_client(sim.get(), b, 1);
    EXPECT_EQ(codec_sim_fault(sim.get(), CODEC_SIM_CUT_MID_FRAME), 1);
    const std::string n = note(1);
    EXPECT_EQ(codec_sim_push(sim.get(), n), 1);
    EXPECT_EQ(b.read_raw(n.size(), 1000), n.substr(0, n.size() / 2));
    EXPECT_EQ(recv_result(b, 2000), 0);  // then an orderly end
}

TEST(SimFaults, NextHitsOnlyTheNextConnectionFromItsFirstByte) {
    auto sim = start();
    client a, b, c;
    open_client(sim.get(), a, 1);
    std::string reply;
    EXPECT_EQ(codec_sim_fault_command(sim.get(), "next rst", &reply), 0);
    EXPECT_EQ(reply, "rst: next connection");
    ASSERT_TRUE(b.open(codec_sim_port(sim.get()), false));
    EXPECT_EQ(recv_result(b, 2000), -ECONNRESET);
    ASSERT_TRUE(wait_count(sim.get(), 1));
    open_client(sim.get(), c, 2);  // the one after is served again
    ASSERT_TRUE(c.send_text(request("csVersion", "{}", 3)));
    EXPECT_EQ(rsp_code(c.read_json()), 0);
    ASSERT_TRUE(a.send_text(request("csVersion", "{}", 4)));
    EXPECT_EQ(rsp_code(a.read_json()), 0);
}

TEST(SimFaults, DelayWithJitterKeepsOrderAndStallHoldsOnlyAnswers) {
    auto sim = start({"delay 80 40"});
    client c;
    open_client(sim.get(), c);
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 6; i++) codec_sim_push(sim.get(), note(i));
    for (int i = 0; i < 6; i++) EXPECT_EQ(c.read_json(2000), note(i));
    EXPECT_GE(since(t0), 40);

    codec_sim_clear_faults(sim.get());
    EXPECT_EQ(codec_sim_fault(sim.get(), CODEC_SIM_STALL_ANSWERS, 1), 1);
    t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(c.send_text(request("csVersion", "{}", 9)));
    ASSERT_TRUE(codec_sim_wait_request(sim.get(), "csVersion", 2000));
    codec_sim_push(sim.get(), note(99));
    EXPECT_EQ(c.read_json(900), note(99));  // notifications flow meanwhile
    EXPECT_EQ(rsp_code(c.read_json(2000)), 0);
    EXPECT_GE(since(t0), 1000);
}

TEST(SimFaults, DroppedNotificationsButAnswersArrive) {
    auto sim = start({"drop-notifications 100"});
    client c;
    open_client(sim.get(), c);
    for (int i = 0; i < 5; i++) codec_sim_push(sim.get(), note(i));
    ASSERT_TRUE(c.send_text(request("csVersion", "{}", 5)));
    EXPECT_EQ(rsp_code(c.read_json()), 0);  // the answer went after the pushes
    EXPECT_EQ(c.read_json(200), "");
}

TEST(SimFaults, RestartClosesListensAgainOnTheSamePort) {
    auto sim = start();
    int port = codec_sim_port(sim.get());
    client a;
    open_client(sim.get(), a);
    EXPECT_EQ(codec_sim_fault(sim.get(), CODEC_SIM_RESTART, 400), 1);
    EXPECT_EQ(a.read_json(2000), "<closed>");
    client refused;
    EXPECT_FALSE(refused.open(port, false));  // nobody listens during the pause
    auto t0 = std::chrono::steady_clock::now();
    while (codec_sim_restarts(sim.get()) == 0 && since(t0) < 3000) std::this_thread::sleep_for(ms(10));
    EXPECT_EQ(codec_sim_port(sim.get()), port);
    client b;
    ASSERT_TRUE(b.open(port, false));
    ASSERT_TRUE(b.send_text(request("csVersion", "{}", 1)));
    EXPECT_EQ(rsp_code(b.read_json()), 0);
}

TEST(SimFaults, CommandTextIsCheckedAndPresetsExpand) {
    auto sim = start();
    std::string reply;
    for (const char *bad : {"delay", "delay x", "delay 1 2 3", "drop-notifications 101", "rst 1", "next restart",
                            "warp 9", "net nowhere", "stall-answers -1"})
        EXPECT_EQ(codec_sim_fault_command(sim.get(), bad, &reply), -1) << bad;
    for (const char *preset : {"flaky-wifi", "barely-working"}) {
        auto cmds = codec_sim_net_preset(preset);
        EXPECT_FALSE(cmds.empty());
        for (const auto &c : cmds) EXPECT_EQ(codec_sim_fault_command(sim.get(), c, &reply), 0) << c;
    }
    EXPECT_TRUE(codec_sim_net_preset("nowhere").empty());
    codec_sim_config cfg;
    cfg.faults = {"delay soon"};
    EXPECT_EQ(codec_sim_start(cfg), nullptr);
}

}  // namespace
