// The shared library must export only its C interface: no C++ symbol may
// leak into the dynamic symbol table.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

TEST(Exports, NoCxxSymbolsAndTheLogSeamIsVisible) {
  std::string cmd = std::string("nm -D --defined-only '") + KYR_SO_PATH + "'";
  FILE *p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char line[1024];
  int total = 0;
  bool sawSeam = false;
  while (fgets(line, sizeof line, p)) {
    std::string s(line);
    auto sp = s.rfind(' ');
    std::string name = s.substr(sp + 1);
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
    total++;
    EXPECT_NE(name.rfind("_Z", 0), 0u) << "C++ symbol exported: " << name;
    if (name == "kyr_log_write") sawSeam = true;
  }
  pclose(p);
  EXPECT_GT(total, 0);
  EXPECT_TRUE(sawSeam);
}
