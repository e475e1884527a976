// The request echo of the simulator's command line and launcher never shows
// a password value.
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <string>

#include "codec_sim.h"
#include "sim_client.h"

namespace {

TEST(SimMask, PasswordValuesAreEmptiedWhateverTheirNameAndDepth) {
    struct {
        const char *in, *out;
    } cases[] = {
        {R"({"params":{"adminPwd":"s3cret","clientId":"c1"}})", R"({"params":{"adminPwd":"","clientId":"c1"}})"},
        {R"({"p":{"newPwd":"n","oldPwd":"o","valid":1}})", R"({"p":{"newPwd":"","oldPwd":"","valid":1}})"},
        {R"({"pTerm":{"PASSWORD":"x","authPass" : "y","eapPassword":"z"}})",
         R"({"pTerm":{"PASSWORD":"","authPass" : "","eapPassword":""}})"},
        // An escaped quote inside the value does not end it early.
        {R"({"password":"a\"b\\","next":"kept"})", R"({"password":"","next":"kept"})"},
        // A switch named like a password is a number, not a secret.
        {R"({"useRoomPasswordForRemoteAccess":1})", R"({"useRoomPasswordForRemoteAccess":1})"},
        // Only member names count: a value that reads "password" stays.
        {R"({"name":"password","note":"pwd: \"x\""})", R"({"name":"password","note":"pwd: \"x\""})"},
        {"not json at all", "not json at all"},
        {R"({"adminPwd":"unterminated)", R"({"adminPwd":"")"},
    };
    for (const auto &c : cases) EXPECT_EQ(codec_sim_mask_passwords(c.in), c.out) << c.in;
}

// Runs the simulator with its echo on while fd 1 goes to a file, and returns
// what was printed.
TEST(SimMask, TheEchoOfACsPairRequestHidesTheAdministratorPassword) {
    fflush(stdout);
    FILE *cap = tmpfile();
    ASSERT_NE(cap, nullptr);
    int saved = dup(1);
    ASSERT_GE(saved, 0);
    dup2(fileno(cap), 1);
    std::string answer;
    {
        codec_sim_config cfg;
        cfg.admin_user = "admin";
        cfg.admin_pwd = "Tr0ub4dor&3";
        cfg.echo_requests = true;
        codec_sim *sim = codec_sim_start(cfg);
        if (sim) {
            simtest::client c;
            if (c.open(codec_sim_port(sim), false) &&
                c.send_text(simtest::request(
                    "csPair", R"({"clientId":"phone-1","adminName":"admin","adminPwd":"Tr0ub4dor&3"})", 5)))
                answer = c.read_json();
            codec_sim_stop(sim);
        }
    }
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string printed;
    rewind(cap);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, cap)) > 0) printed.append(buf, n);
    fclose(cap);
    ASSERT_FALSE(answer.empty()) << "the simulator did not answer";
    EXPECT_NE(printed.find("\"adminPwd\":\"\""), std::string::npos) << printed;
    EXPECT_NE(printed.find("phone-1"), std::string::npos) << "the rest of the request is echoed: " << printed;
    EXPECT_EQ(printed.find("Tr0ub4dor"), std::string::npos) << printed;
}

}  // namespace
