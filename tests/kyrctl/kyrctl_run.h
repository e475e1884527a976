// Runs kyrctl as a child process with pipes on its standard streams, every
// wait bounded; a child that outlives its time is killed.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace kyrtest {

struct RunResult {
  int status = -1;  // exit status; -1 when killed or not started
  std::string out;
  std::string err;
};

class Child {
 public:
  // Starts kyrctl with args; env entries are added to (or, with an empty
  // value, removed from) the environment. stdin is /dev/null.
  Child(const std::vector<std::string> &args, const std::map<std::string, std::string> &env = {});
  ~Child();
  Child(const Child &) = delete;
  Child &operator=(const Child &) = delete;

  // Collects output until the child ends or timeout_ms passed (then kills it).
  RunResult Wait(int timeout_ms);
  // Collects output until stdout holds needle; false on time-out or exit.
  bool WaitForOutput(const std::string &needle, int timeout_ms);
  // Closes the read end of the child's stdout, as a pipeline reader that
  // exits does.
  void CloseOut();
  // Reads whatever arrives for ms milliseconds.
  void Read(int ms);
  const std::string &out() const { return res_.out; }

 private:
  bool Pump(int timeout_ms);  // false when both pipes are closed
  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
  RunResult res_;
};

RunResult RunKyrctl(const std::vector<std::string> &args, const std::map<std::string, std::string> &env = {},
                    int timeout_ms = 20000);

}  // namespace kyrtest
