// Replays the fuzz target's seed corpus through the same entry point, so the
// ordinary (and sanitizer) test runs exercise it without libFuzzer.
#include <gtest/gtest.h>
#include <dirent.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

TEST(FuzzReplay, SeedCorpus) {
  std::vector<std::string> files;
  DIR *d = opendir(KYR_FUZZ_CORPUS);
  ASSERT_NE(d, nullptr) << KYR_FUZZ_CORPUS;
  while (dirent *e = readdir(d))
    if (e->d_name[0] != '.') files.push_back(std::string(KYR_FUZZ_CORPUS) + "/" + e->d_name);
  closedir(d);
  ASSERT_GE(files.size(), 10u);
  for (const std::string &f : files) {
    std::ifstream in(f, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string bytes = ss.str();
    SCOPED_TRACE(f);
    EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()), 0);
    // Every selector over the same text reaches every kind and handler.
    for (unsigned sel = 0; sel < 256 && !bytes.empty(); sel += 7) {
      bytes[0] = (char)sel;
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    }
  }
}
