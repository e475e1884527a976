// The simulator's own framer, fed in every way a TCP stream can cut a message.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim_framer.h"

using codec_sim_internal::framer_feed;
using codec_sim_internal::framer_next;
using codec_sim_internal::sim_framer;

namespace {

std::vector<std::string> frames_of(sim_framer &f, const std::string &chunk) {
    framer_feed(f, chunk.data(), chunk.size());
    std::vector<std::string> out;
    std::string s;
    while (framer_next(f, &s)) out.push_back(s);
    return out;
}

struct stream_case {
    const char *name;
    std::string input;
    std::vector<std::string> expect;
};

std::vector<stream_case> stream_cases() {
    return {
        {"one", "{\"a\":1}", {"{\"a\":1}"}},
        {"back_to_back", "{\"a\":1}{\"b\":2}", {"{\"a\":1}", "{\"b\":2}"}},
        {"white_space_between", " \r\n{\"a\":1}\n\t {\"b\":2}\r\n", {"{\"a\":1}", "{\"b\":2}"}},
        {"nested", "{\"p\":{\"q\":{\"r\":[{}]}}}", {"{\"p\":{\"q\":{\"r\":[{}]}}}"}},
        {"brace_in_string", "{\"name\":\"a}b{{c\"}{\"x\":0}", {"{\"name\":\"a}b{{c\"}", "{\"x\":0}"}},
        {"escaped_quote", "{\"s\":\"say \\\"}\\\" now\"}", {"{\"s\":\"say \\\"}\\\" now\"}"}},
        {"escaped_backslash_then_quote", "{\"s\":\"c:\\\\\"}{\"t\":1}", {"{\"s\":\"c:\\\\\"}", "{\"t\":1}"}},
        {"stray_close_and_garbage_skipped", "}}xyz{\"a\":1}", {"{\"a\":1}"}},
        {"garbage_only", "hello world", {}},
        {"unfinished", "{\"a\":{\"b\":1}", {}},
    };
}

class FramerStream : public ::testing::TestWithParam<stream_case> {};

TEST_P(FramerStream, WholeInputAtOnce) {
    sim_framer f;
    EXPECT_EQ(frames_of(f, GetParam().input), GetParam().expect);
}

TEST_P(FramerStream, EverySplitPointGivesTheSameFrames) {
    const std::string &in = GetParam().input;
    for (size_t cut = 0; cut <= in.size(); cut++) {
        sim_framer f;
        auto got = frames_of(f, in.substr(0, cut));
        auto rest = frames_of(f, in.substr(cut));
        got.insert(got.end(), rest.begin(), rest.end());
        EXPECT_EQ(got, GetParam().expect) << "cut at " << cut;
    }
}

TEST_P(FramerStream, OneByteAtATime) {
    const std::string &in = GetParam().input;
    sim_framer f;
    std::vector<std::string> got;
    for (char c : in) {
        auto part = frames_of(f, std::string(1, c));
        got.insert(got.end(), part.begin(), part.end());
    }
    EXPECT_EQ(got, GetParam().expect);
}

INSTANTIATE_TEST_SUITE_P(Sim, FramerStream, ::testing::ValuesIn(stream_cases()),
                         [](const ::testing::TestParamInfo<stream_case> &i) { return std::string(i.param.name); });

TEST(SimFramer, KeepsTheUnfinishedTailForTheNextRead) {
    sim_framer f;
    auto got = frames_of(f, "{\"a\":1}{\"b\":");
    ASSERT_EQ(got.size(), 1u);
    got = frames_of(f, "2}");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], "{\"b\":2}");
}

TEST(SimFramer, AnObjectPastTheCapOverflowsAndStaysStopped) {
    sim_framer f;
    f.max_message = 64;
    std::string big = "{\"s\":\"" + std::string(100, 'x');
    EXPECT_TRUE(frames_of(f, big).empty());
    EXPECT_TRUE(f.overflow);
    EXPECT_TRUE(frames_of(f, "\"}{\"a\":1}").empty());
}

TEST(SimFramer, CountsDroppedBytes) {
    sim_framer f;
    (void)frames_of(f, "ab}{\"a\":1}c");
    EXPECT_EQ(f.dropped, 4u);
}

}  // namespace
