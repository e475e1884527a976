// kyrctl shell in a real terminal: tmux runs it, the test types, completes a
// method name with Tab and reads the screen back.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "kyrctl_fixture.h"

namespace kyrtest {
namespace {

// A tmux server of its own (its own socket name), so nothing else that uses
// tmux on this machine is touched.
class Tmux {
 public:
  Tmux() : sock_("kyrctl-test-" + std::to_string(getpid())), name_("kyrctl-shell-" + std::to_string(getpid())) {}
  ~Tmux() { Cmd("kill-server"); }
  int Cmd(const std::string &args) {
    std::string c = "tmux -L " + sock_ + " " + args + " >/dev/null 2>&1";
    return system(c.c_str());
  }
  int Start(const std::string &command) {
    return Cmd("new-session -d -x 160 -y 50 -s " + name_ + " '" + command + "'");
  }
  void Keys(const std::string &keys) { Cmd("send-keys -t " + name_ + " " + keys); }
  std::string Screen() {
    std::string c = "tmux -L " + sock_ + " capture-pane -p -t " + name_ + " 2>/dev/null";
    std::string out;
    if (FILE *p = popen(c.c_str(), "r")) {
      char buf[4096];
      size_t n;
      while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
      pclose(p);
    }
    return out;
  }
  // Polls the screen until it holds text (bounded).
  bool WaitFor(const std::string &text, int timeout_ms = 10000) {
    for (int waited = 0; waited < timeout_ms; waited += 100) {
      if (Screen().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }
  bool Alive() { return Cmd("has-session -t " + name_) == 0; }

 private:
  std::string sock_, name_;
};

using KyrctlShell = KyrctlTest;

TEST_F(KyrctlShell, CompletesMethodNamesAndRunsCommandsInATerminal) {
  if (system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
  Start();
  Tmux t;
  char dir[] = "/tmp/kyrctl-shell-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string hist = std::string(dir) + "/history";
  const std::string shell = "KYRCTL_HISTORY=" + hist + " " + KYRCTL_PATH + " " + addr_ + " shell";
  ASSERT_EQ(t.Start(shell), 0);
  const std::string prompt = "kyrctl " + addr_ + "> ";
  ASSERT_TRUE(t.WaitFor(prompt.substr(0, prompt.size() - 1))) << t.Screen();  // the pane drops trailing blanks

  // "op csSysG" + Tab completes to the one method it can be.
  t.Keys("'op csSysG' Tab");
  ASSERT_TRUE(t.WaitFor(prompt + "op csSysGet")) << t.Screen();
  t.Keys("Enter");
  ASSERT_TRUE(t.WaitFor("softwareVersion")) << t.Screen();
  EXPECT_NE(t.Screen().find("CSSys"), std::string::npos);

  // A command name completes too; the history brings the last line back.
  t.Keys("'sta' Tab Enter");
  ASSERT_TRUE(t.WaitFor("pairing")) << t.Screen();
  t.Keys("Up");
  ASSERT_TRUE(t.WaitFor(prompt + "status")) << t.Screen();
  t.Keys("C-u 'quit' Enter");
  for (int i = 0; i < 100 && t.Alive(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(t.Alive());

  // The next shell starts with that history.
  ASSERT_EQ(t.Start(shell), 0);
  ASSERT_TRUE(t.WaitFor(prompt.substr(0, prompt.size() - 1))) << t.Screen();
  t.Keys("Up");
  EXPECT_TRUE(t.WaitFor(prompt + "status")) << t.Screen();  // "quit" is not kept
  t.Keys("C-u C-d");
  for (int i = 0; i < 100 && t.Alive(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(t.Alive());
  unlink(hist.c_str());
  rmdir(dir);
}

}  // namespace
}  // namespace kyrtest
