// The receive-path fuzz targets (fuzz/net) over their seed corpora, in every
// ordinary build: a seed that once exposed a fault keeps guarding against it
// without clang or libFuzzer.
#include <gtest/gtest.h>
#include <dirent.h>
#include <stdint.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int fuzz_framing_one(const uint8_t *data, size_t size);
extern "C" int fuzz_jsonrpc_one(const uint8_t *data, size_t size);
extern "C" int fuzz_answers_one(const uint8_t *data, size_t size);

namespace {

std::vector<std::string> Seeds(const std::string &dir) {
  std::vector<std::string> out;
  DIR *d = opendir(dir.c_str());
  if (!d) return out;
  while (dirent *e = readdir(d))
    if (e->d_name[0] != '.') out.push_back(dir + "/" + e->d_name);
  closedir(d);
  return out;
}

void Replay(const char *corpus, int (*one)(const uint8_t *, size_t)) {
  std::vector<std::string> seeds = Seeds(std::string(KYR_FUZZ_CORPUS) + "/" + corpus);
  ASSERT_FALSE(seeds.empty()) << "no seeds in " << corpus;
  for (const std::string &path : seeds) {
    std::ifstream f(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(path);
    // A broken property aborts the process, which fails the test.
    EXPECT_EQ(one(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()), 0);
  }
}

TEST(FuzzReplay, Framing) { Replay("framing", &fuzz_framing_one); }
TEST(FuzzReplay, JsonRpc) { Replay("jsonrpc", &fuzz_jsonrpc_one); }
TEST(FuzzReplay, Answers) { Replay("answers", &fuzz_answers_one); }

}  // namespace
