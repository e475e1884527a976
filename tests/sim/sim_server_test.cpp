// The simulator as a peer on a real loopback socket: framing of what arrives,
// the handshake, error injection, stalls, delays, pushes and closes.
#include <gtest/gtest.h>

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

sim_ptr start(codec_sim_config cfg) {
    sim_ptr s(codec_sim_start(cfg));
    EXPECT_TRUE(s) << "simulator did not start";
    return s;
}

codec_sim_config base_config() {
    codec_sim_config cfg;
    cfg.serial = "SN0042";
    cfg.admin_user = "admin";
    cfg.admin_pwd = "secret";
    return cfg;
}

std::string version_req(long id) { return request("csVersion", "{\"protoVers\":\"CSAPI/1.0\"}", id); }

std::string auth_req(const std::string &id, const std::string &rsp, long rid) {
    return request("csAuth", "{\"id\":\"" + id + "\",\"authChallengeResponse\":\"" + rsp + "\"}", rid);
}

std::string challenge_of(const std::string &version_rsp) {
    json j(version_rsp);
    const cJSON *c = j.path("result", "srvrChallenge");
    return cJSON_IsString(c) ? c->valuestring : "";
}

long long id_of(const std::string &rsp) {
    json j(rsp);
    const cJSON *id = j.get("id");
    return cJSON_IsNumber(id) ? static_cast<long long>(id->valuedouble) : 0x7fffffffLL + 10;
}

// ---- framing of incoming requests ----

TEST(SimServer, TwoRequestsInOneWriteGetTwoAnswersInOrder) {
    auto sim = start(base_config());
    client c;
    ASSERT_TRUE(c.open(codec_sim_port(sim.get()), false));
    ASSERT_TRUE(c.send_text(request("csX", "{}", 11) + "\r\n" + request("csY", "{}", 12)));
    EXPECT_EQ(id_of(c.read_json()), 11);
    EXPECT_EQ(id_of(c.read_json()), 12);
    auto log = codec_sim_requests(sim.get());
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].method, "csX");
    EXPECT_EQ(log[1].method, "csY");
}

TEST(SimServer, ARequestSplitAcrossWritesIsAnsweredOnce) {
    auto sim = start(base_config());
    client c;
    ASSERT_TRUE(c.open(codec_sim_port(sim.get()), false));
    std::string r = request("csName", "{\"name\":\"a{b}}c\"}", 99);
    for (size_t i = 0; i < r.size(); i += 7) {
        ASSERT_TRUE(c.send_text(r.substr(i, 7)));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::string rsp = c.read_json();
    EXPECT_EQ(id_of(rsp), 99);
    EXPECT_EQ(rsp_code(rsp), -1);
    EXPECT_EQ(c.read_json(200), "");  // exactly one answer
    codec_sim_request got;
    ASSERT_TRUE(codec_sim_wait_request(sim.get(), "csName", 1000, &got));
    EXPECT_EQ(got.text, r);
    EXPECT_EQ(got.params, "{\"name\":\"a{b}}c\"}");
}

TEST(SimServer, UnreadableObjectGetsBadMessageWithNullId) {
    auto sim = start(base_config());
    client c;
    ASSERT_TRUE(c.open(codec_sim_port(sim.get()), false));
    ASSERT_TRUE(c.send_text("{not json}"));
    std::string rsp = c.read_json();
    EXPECT_EQ(rsp_code(rsp), -2);
    json j(rsp);
    EXPECT_TRUE(cJSON_IsNull(j.get("id")));
}

TEST(SimServer, RequestWithoutIdIsLoggedButNotAnswered) {
    auto sim = start(base_config());
    client c;
    ASSERT_TRUE(c.open(codec_sim_port(sim.get()), false));
    ASSERT_TRUE(c.send_text("{\"method\":\"csLogEnable\",\"params\":{\"logEnable\":1},\"jsonrpc\":\"2.0\"}"));
    EXPECT_TRUE(codec_sim_wait_request(sim.get(), "csLogEnable", 1000));
    EXPECT_EQ(c.read_json(300), "");
}

TEST(SimServer, AnswersCarryTheRequestIdUnchanged) {
    auto sim = start(base_config());
    client c;
    ASSERT_TRUE(c.open(codec_sim_port(sim.get()), false));
    for (long id : {1L, -2147483647L - 1, 2147483647L, -5L}) {
        ASSERT_TRUE(c.send_text(request("csWhatever", "{}", id)));
        EXPECT_EQ(id_of(c.read_json()), id);
    }
}

TEST(SimServer, OversizedObjectClosesTheConnection) {
    auto cfg = base_config();
    cfg.max_message = 1024;
    auto sim = start(cfg);
    client c;
    ASSERT_TRUE(c.open(codec_sim_port(sim.get()), false));
    ASSERT_TRUE(c.send_text("{\"s\":\"" + std::string(4096, 'x')));
    EXPECT_EQ(c.read_json(2000), "<closed>");
}

// ---- the handshake ----

struct auth_case {
    const char *name;
    bool pairing_required;
    std::string id;         // client id sent
    bool right_response;    // hash computed over the right serial and challenge
    int expect;
};

class SimAuth : public ::testing::TestWithParam<auth_case> {};

TEST_P(SimAuth, ChecksTheChallengeResponse) {
    const auth_case &p = GetParam();
    auto cfg = base_config();
    cfg.pairing_required = p.pairing_required;
    auto sim = start(cfg);
    client c;
    ASSERT_TRUE(c.open(codec_sim_port(sim.get()), false));
    ASSERT_TRUE(c.send_text(version_req(1)));
    std::string ch = challenge_of(c.read_json());
    ASSERT_FALSE(ch.empty());
    std::string rsp = codec_sim_challenge_response(p.right_response ? p.id : "other", ch);
    ASSERT_TRUE(c.send_text(auth_req(p.id, rsp, 2)));
    EXPECT_EQ(rsp_code(c.read_json()), p.expect);
    EXPECT_EQ(codec_sim_wait_ready(sim.get(), 1, 50), p.expect == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sim, SimAuth,
    ::testing::Values(auth_case{"right", false, "SN0042", true, 0},
                      auth_case{"wrong_hash", false, "SN0042", false, -11},
                      auth_case{"wrong_serial", false, "SN9999", true, -11},
                      auth_case{"pairing_needed", true, "SN0042", true, -23},
                      auth_case{"wrong_hash_before_pairing", true, "SN0042", false, -11}),
    [](const ::testing::TestParamInfo<auth_case> &i) { return std::string(i.param.name); });

TEST(SimHandshake, EachVersionExchangeGetsAFreshChallenge) {
    auto sim = start(base_config());
    client c;
    ASSERT_TRUE(c.open(codec_sim_port(sim.get()), false));
    ASSERT_TRUE(c.send_text(version_req(1)));
    std::string a = challenge_of(c.read_json());
    ASSERT_TRUE(c.send_text(version_req(2)));
    std::string b = challenge_of(c.read_json());
    EXPECT_FALSE(a.empty());
    EXPECT_NE(a, b);
    EXPECT_LE(a.size(), 32u);  // the client keeps at most 32 characters
    // The old challenge no longer authenticates.
    ASSERT_TRUE(c.send_text(auth_req("SN0042", codec_sim_challenge_response("SN0042", a), 3)));
    EXPECT_EQ(rsp_code(c.read_json()), -11);
}

TEST(SimHandshake, ServerInformationIsComplete) {
    auto sim = start(base_config());
    client c;
    ASSERT_TRUE(c.open(codec_sim_port(sim.get()), false));
    ASSERT_TRUE(c.send_text(version_req(1)));
    json j(c.read_json());
    for (const char *k : {"protoVers", "srvrDeviceType", "srvrSWVer", "minClientSWVer", "maxClientSWVer", "srvrChallenge"})
        EXPECT_TRUE(cJSON_IsString(j.path("result", k))) << k;
    EXPECT_STREQ(j.path("result", "protoVers")->valuestring, "CSAPI/1.0");
}

TEST(SimHandshake, WithoutChallengeTheIdAloneAuthenticates) {
    auto cfg = base_config();
    cfg.send_challenge = false;
    auto sim = start(cfg);
    client c;
    ASSERT_TRUE(c.open(codec_sim_port(sim.get()), false));
    ASSERT_TRUE(c.send_text(version_req(1)));
    json j(c.read_json());
    EXPECT_EQ(j.path("result", "srvrChallenge"), nullptr);
    ASSERT_TRUE(c.send_text(auth_req("SN0042", codec_sim_challenge_response("SN0042", ""), 2)));
    EXPECT_EQ(rsp_code(c.read_json()), 0);
}

TEST(SimHandshake, VersionErrorCarriesTheServerInformationInData) {
    for (int code : {-29, -30, -11}) {
        auto cfg = base_config();
        cfg.version_error = code;
        auto sim = start(cfg);
        client c;
        ASSERT_TRUE(c.open(codec_sim_port(sim.get()), false));
        ASSERT_TRUE(c.send_text(version_req(1)));
        std::string rsp = c.read_json();
        EXPECT_EQ(rsp_code(rsp), code);
        json j(rsp);
        const cJSON *data = cJSON_GetObjectItemCaseSensitive(j.get("error"), "data");
        EXPECT_TRUE(cJSON_IsString(cJSON_GetObjectItemCaseSensitive(data, "srvrSWVer"))) << code;
        EXPECT_STREQ(cJSON_GetObjectItemCaseSensitive(j.get("error"), "message")->valuestring,
                     codec_sim_error_string(code));
    }
}

TEST(SimHandshake, PairingFlowAndRememberedPairing) {
    auto cfg = base_config();
    cfg.pairing_required = true;
    auto sim = start(cfg);
    auto pair = [](const std::string &user, const std::string &pwd, long id) {
        return request("csPair", "{\"id\":\"SN0042\",\"adminName\":\"" + user + "\",\"adminPwd\":\"" + pwd + "\"}", id);
    };
    {
        client c;
        ASSERT_TRUE(c.open(codec_sim_port(sim.get()), false));
        ASSERT_TRUE(c.send_text(version_req(1)));
        std::string ch = challenge_of(c.read_json());
        std::string rsp = codec_sim_challenge_response("SN0042", ch);
        ASSERT_TRUE(c.send_text(auth_req("SN0042", rsp, 2)));
        EXPECT_EQ(rsp_code(c.read_json()), -23);
        ASSERT_TRUE(c.send_text(pair("admin", "wrong", 3)));
        EXPECT_EQ(rsp_code(c.read_json()), -11);
        ASSERT_TRUE(c.send_text(pair("root", "secret", 4)));
        EXPECT_EQ(rsp_code(c.read_json()), -11);
        EXPECT_FALSE(codec_sim_wait_ready(sim.get(), 1, 20));
        ASSERT_TRUE(c.send_text(pair("admin", "secret", 5)));
        EXPECT_EQ(rsp_code(c.read_json()), 0);
        EXPECT_TRUE(codec_sim_wait_ready(sim.get(), 1, 1000));
    }
    // A later connection of the same client is remembered as paired.
    client d;
    ASSERT_TRUE(d.open(codec_sim_port(sim.get()), false));
    ASSERT_TRUE(d.send_text(version_req(1)));
    std::string ch = challenge_of(d.read_json());
    ASSERT_TRUE(d.send_text(auth_req("SN0042", codec_sim_challenge_response("SN0042", ch), 2)));
    EXPECT_EQ(rsp_code(d.read_json()), 0);
    // Unpairing forgets it again.
    ASSERT_TRUE(d.send_text(request("csUnpair", "{\"id\":\"SN0042\",\"adminName\":\"admin\",\"adminPwd\":\"secret\"}", 3)));
    EXPECT_EQ(rsp_code(d.read_json()), 0);
    ASSERT_TRUE(d.send_text(version_req(4)));
    ch = challenge_of(d.read_json());
    ASSERT_TRUE(d.send_text(auth_req("SN0042", codec_sim_challenge_response("SN0042", ch), 5)));
    EXPECT_EQ(rsp_code(d.read_json()), -23);
}

TEST(SimHandshake, LogEnableAndClientSetAreRecorded) {
    auto sim = start(base_config());
    client c;
    ASSERT_TRUE(c.open(codec_sim_port(sim.get()), false));
    ASSERT_TRUE(c.send_text(request("csLogEnable", "{\"logEnable\":1}", 1)));
    EXPECT_EQ(rsp_code(c.read_json()), 0);
    ASSERT_TRUE(c.send_text(request("csClientSet", "{\"applicationVersion\":\"1.2\",\"addressMode\":3}", 2)));
    EXPECT_EQ(rsp_code(c.read_json()), 0);
    codec_sim_request r;
    ASSERT_TRUE(codec_sim_wait_request(sim.get(), "csLogEnable", 100, &r));
    EXPECT_EQ(r.params, "{\"logEnable\":1}");
    EXPECT_EQ(r.id, "1");
    ASSERT_TRUE(codec_sim_wait_request(sim.get(), "csClientSet", 100, &r));
    EXPECT_EQ(r.params, "{\"applicationVersion\":\"1.2\",\"addressMode\":3}");
}

TEST(SimHandshake, WorksOverTls10) {
    auto cfg = base_config();
    cfg.tls = true;
    auto sim = start(cfg);
    client c;
    ASSERT_TRUE(c.open(codec_sim_port(sim.get()), true));
    EXPECT_STREQ(SSL_get_version(c.ssl), "TLSv1");
    ASSERT_TRUE(c.send_text(version_req(1)));
    std::string ch = challenge_of(c.read_json());
    ASSERT_TRUE(c.send_text(auth_req("SN0042", codec_sim_challenge_response("SN0042", ch), 2)));
    EXPECT_EQ(rsp_code(c.read_json()), 0);
}

TEST(SimHandshake, ChallengeResponseCutsIdAndChallenge) {
    std::string id40(40, 'i'), ch100(100, 'c');
    EXPECT_EQ(codec_sim_challenge_response(id40, ch100),
              codec_sim_challenge_response(id40.substr(0, 32), ch100.substr(0, 95)));
    EXPECT_NE(codec_sim_challenge_response(id40.substr(0, 31), ""), codec_sim_challenge_response(id40, ""));
    // SHA-1 of "abc", a published test vector.
    EXPECT_EQ(codec_sim_challenge_response("abc", ""), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

// ---- answering modes ----

TEST(SimAnswers, InjectedErrorsTakeTurnsThenStop) {
    auto sim = start(base_config());
    codec_sim_inject_error(sim.get(), "csLogEnable", -28, "", 2);
    codec_sim_inject_error(sim.get(), "csClientSet", -4, "gone");
    client c;
    ASSERT_TRUE(c.open(codec_sim_port(sim.get()), false));
    int codes[3];
    for (int i = 0; i < 3; i++) {
        ASSERT_TRUE(c.send_text(request("csLogEnable", "{\"logEnable\":0}", 10 + i)));
        codes[i] = rsp_code(c.read_json());
    }
    EXPECT_EQ(codes[0], -28);
    EXPECT_EQ(codes[1], -28);
    EXPECT_EQ(codes[2], 0);
    ASSERT_TRUE(c.send_text(request("csClientSet", "{}", 20)));
    json j(c.read_json());
    EXPECT_STREQ(cJSON_GetObjectItemCaseSensitive(j.get("error"), "message")->valuestring, "gone");
    codec_sim_clear_errors(sim.get());
    ASSERT_TRUE(c.send_text(request("csClientSet", "{}", 21)));
    EXPECT_EQ(rsp_code(c.read_json()), 0);
}

TEST(SimAnswers, StallReadsButNeverAnswers) {
    auto cfg = base_config();
    cfg.stall = true;
    auto sim = start(cfg);
    client c;
    ASSERT_TRUE(c.open(codec_sim_port(sim.get()), false));
    ASSERT_TRUE(c.send_text(version_req(1)));
    EXPECT_TRUE(codec_sim_wait_request(sim.get(), "csVersion", 1000));
    EXPECT_EQ(c.read_json(300), "");
    codec_sim_set_stall(sim.get(), false);
    ASSERT_TRUE(c.send_text(version_req(2)));
    EXPECT_EQ(id_of(c.read_json()), 2);
}

TEST(SimAnswers, DelayHoldsTheAnswerBack) {
    auto sim = start(base_config());
    codec_sim_set_answer_delay(sim.get(), 300);
    client c;
    ASSERT_TRUE(c.open(codec_sim_port(sim.get()), false));
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(c.send_text(version_req(1)));
    EXPECT_EQ(c.read_json(100), "");
    EXPECT_EQ(id_of(c.read_json(2000)), 1);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(ms, 290);
}

TEST(SimAnswers, HookRepliesSilencesOrDefers) {
    auto sim = start(base_config());
    codec_sim_set_answer_hook(sim.get(), [](const codec_sim_request &r, std::string *reply) {
        if (r.method == "csCommConfCount") {
            *reply = codec_sim_result_text(r, "7");
            return CODEC_SIM_REPLY;
        }
        if (r.method == "csQuiet") return CODEC_SIM_SILENT;
        if (r.method == "csOops") {
            *reply = codec_sim_error_text(r, -4, "", "{\"why\":1}");
            return CODEC_SIM_REPLY;
        }
        return CODEC_SIM_DEFAULT;
    });
    client c;
    ASSERT_TRUE(c.open(codec_sim_port(sim.get()), false));
    ASSERT_TRUE(c.send_text(request("csCommConfCount", "{\"pCommHandle\":1}", -9)));
    EXPECT_EQ(c.read_json(), "{\"result\":7,\"id\":-9,\"jsonrpc\":\"2.0\"}");
    ASSERT_TRUE(c.send_text(request("csQuiet", "{}", 2)));
    EXPECT_EQ(c.read_json(200), "");
    ASSERT_TRUE(c.send_text(request("csOops", "{}", 3)));
    EXPECT_EQ(c.read_json(), "{\"error\":{\"code\":-4,\"message\":\"Not found\",\"data\":{\"why\":1}},\"id\":3,\"jsonrpc\":\"2.0\"}");
    ASSERT_TRUE(c.send_text(request("csNoSuchThing", "{}", 4)));
    EXPECT_EQ(c.read_json(), "{\"error\":{\"code\":-1,\"message\":\"Unknown function\"},\"id\":4,\"jsonrpc\":\"2.0\"}");
}

// ---- connections, pushes, closes ----

TEST(SimConnections, PushGoesToOneOrEveryConnection) {
    auto sim = start(base_config());
    client a, b;
    ASSERT_TRUE(a.open(codec_sim_port(sim.get()), false));
    ASSERT_TRUE(b.open(codec_sim_port(sim.get()), false));
    ASSERT_TRUE(codec_sim_wait_connections(sim.get(), 2, 2000));
    auto ids = codec_sim_connection_ids(sim.get());
    ASSERT_EQ(ids.size(), 2u);
    const std::string n1 = "{\"method\":\"csAudioChangedCB\",\"params\":{\"flags\":16}}";
    EXPECT_EQ(codec_sim_push(sim.get(), n1), 2);
    EXPECT_EQ(a.read_json(), n1);
    EXPECT_EQ(b.read_json(), n1);
    EXPECT_EQ(codec_sim_push(sim.get(), "{\"x\":2}", ids[1]), 1);
    EXPECT_EQ(b.read_json(), "{\"x\":2}");
    EXPECT_EQ(a.read_json(200), "");
}

TEST(SimConnections, CloseEndsEveryConnection) {
    auto sim = start(base_config());
    client a, b;
    ASSERT_TRUE(a.open(codec_sim_port(sim.get()), false));
    ASSERT_TRUE(b.open(codec_sim_port(sim.get()), false));
    ASSERT_TRUE(codec_sim_wait_connections(sim.get(), 2, 2000));
    EXPECT_EQ(codec_sim_close_connections(sim.get()), 2);
    EXPECT_EQ(a.read_json(), "<closed>");
    EXPECT_EQ(b.read_json(), "<closed>");
    auto t0 = std::chrono::steady_clock::now();
    while (codec_sim_connection_count(sim.get()) != 0 && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(2))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(codec_sim_connection_count(sim.get()), 0);
    // The simulator still accepts new connections.
    client c;
    ASSERT_TRUE(c.open(codec_sim_port(sim.get()), false));
    ASSERT_TRUE(c.send_text(version_req(1)));
    EXPECT_EQ(id_of(c.read_json()), 1);
}

TEST(SimConnections, ParallelClientsEachGetTheirOwnAnswers) {
    auto sim = start(base_config());
    codec_sim_set_answer_delay(sim.get(), 20);
    const int kClients = 4, kCalls = 10;
    std::vector<std::thread> th;
    std::vector<int> good(kClients, 0);
    for (int i = 0; i < kClients; i++) {
        th.emplace_back([&, i] {
            client c;
            if (!c.open(codec_sim_port(sim.get()), false)) return;
            for (int k = 0; k < kCalls; k++) {
                long id = i * 1000 + k;
                if (!c.send_text(version_req(id))) return;
                if (id_of(c.read_json()) == id) good[i]++;
            }
        });
    }
    for (auto &t : th) t.join();
    for (int i = 0; i < kClients; i++) EXPECT_EQ(good[i], kCalls) << "client " << i;
    EXPECT_EQ(codec_sim_request_count(sim.get()), static_cast<size_t>(kClients * kCalls));
}

TEST(SimConnections, NotificationsOnReadyFollowTheFirstRequestAfterAuth) {
    auto cfg = base_config();
    cfg.notify_on_ready = {"{\"method\":\"csCommChangedCB\",\"params\":{\"flags\":1}}"};
    auto sim = start(cfg);
    client c;
    ASSERT_TRUE(c.open(codec_sim_port(sim.get()), false));
    ASSERT_TRUE(c.send_text(version_req(1)));
    std::string ch = challenge_of(c.read_json());
    ASSERT_TRUE(c.send_text(auth_req("SN0042", codec_sim_challenge_response("SN0042", ch), 2)));
    EXPECT_EQ(rsp_code(c.read_json()), 0);
    ASSERT_TRUE(c.send_text(request("csLogEnable", "{\"logEnable\":0}", 3)));
    EXPECT_EQ(id_of(c.read_json()), 3);
    EXPECT_EQ(c.read_json(), cfg.notify_on_ready[0]);
    EXPECT_EQ(c.read_json(200), "");  // once only
}

TEST(SimHostile, RawBytesAndCutMessagesArriveAsSent) {
    auto sim = start(base_config());
    client c;
    ASSERT_TRUE(c.open(codec_sim_port(sim.get()), false));
    ASSERT_TRUE(codec_sim_wait_connections(sim.get(), 1, 2000));
    EXPECT_EQ(codec_sim_send_raw(sim.get(), "}}garbage{{"), 1);
    EXPECT_EQ(c.read_raw(11), "}}garbage{{");
    EXPECT_EQ(codec_sim_send_and_cut(sim.get(), "{\"method\":\"csTermChangedCB\"}", 10), 1);
    EXPECT_EQ(c.read_raw(100, 1000), "{\"method\":");
    EXPECT_EQ(c.read_json(1000), "<closed>");
}

TEST(SimHostile, FloodIsPacedAtTheGivenRate) {
    auto sim = start(base_config());
    client c;
    ASSERT_TRUE(c.open(codec_sim_port(sim.get()), false));
    ASSERT_TRUE(codec_sim_wait_connections(sim.get(), 1, 2000));
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(codec_sim_flood(sim.get(), "{\"n\":1}", 20, 100), 1);
    int got = 0;
    while (got < 20 && c.read_json(2000) == "{\"n\":1}") got++;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(got, 20);
    EXPECT_GE(ms, 180);  // 19 gaps of 10 ms
}

TEST(SimHostile, TlsStallNeverHandshakes) {
    auto cfg = base_config();
    cfg.tls = true;
    cfg.tls_stall = true;
    auto sim = start(cfg);
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(codec_sim_port(sim.get())));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    const char hello[] = "\x16\x03\x01\x00\x05hello";
    ASSERT_GT(send(fd, hello, sizeof hello - 1, MSG_NOSIGNAL), 0);
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 300), 0);  // not a byte back
    close(fd);
}

}  // namespace
