#include "kyrctl_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

extern char **environ;

namespace kyrtest {
namespace {

long long now_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

Child::Child(const std::vector<std::string> &args, const std::map<std::string, std::string> &env) {
  int o[2], e[2];
  if (pipe2(o, O_CLOEXEC) != 0) return;
  if (pipe2(e, O_CLOEXEC) != 0) {
    close(o[0]);
    close(o[1]);
    return;
  }
  std::vector<std::string> envs;
  for (char **p = environ; *p; ++p) {
    std::string kv(*p);
    std::string key = kv.substr(0, kv.find('='));
    if (!env.count(key)) envs.push_back(kv);
  }
  for (const auto &kv : env)
    if (!kv.second.empty()) envs.push_back(kv.first + "=" + kv.second);
  std::vector<char *> argv, envp;
  argv.push_back(const_cast<char *>(KYRCTL_PATH));
  for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  for (auto &kv : envs) envp.push_back(&kv[0]);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, o[1], 1);
  posix_spawn_file_actions_adddup2(&fa, e[1], 2);
  // Its own session: no terminal, so a password prompt cannot block.
  posix_spawnattr_t at;
  posix_spawnattr_init(&at);
  posix_spawnattr_setflags(&at, POSIX_SPAWN_SETSID);
  if (posix_spawn(&pid_, KYRCTL_PATH, &fa, &at, argv.data(), envp.data()) != 0) pid_ = -1;
  posix_spawnattr_destroy(&at);
  posix_spawn_file_actions_destroy(&fa);
  close(o[1]);
  close(e[1]);
  out_ = o[0];
  err_ = e[0];
}

Child::~Child() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
  if (err_ >= 0) close(err_);
}

bool Child::Pump(int timeout_ms) {
  struct pollfd p[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
  int n = 0;
  for (auto &x : p) n += x.fd >= 0;
  if (n == 0) return false;
  if (poll(p, 2, timeout_ms) <= 0) return true;
  char buf[4096];
  for (int i = 0; i < 2; ++i) {
    if (p[i].fd < 0 || !(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    ssize_t r = read(p[i].fd, buf, sizeof buf);
    int &fd = i == 0 ? out_ : err_;
    if (r > 0)
      (i == 0 ? res_.out : res_.err).append(buf, (size_t)r);
    else {
      close(fd);
      fd = -1;
    }
  }
  return true;
}

RunResult Child::Wait(int timeout_ms) {
  long long end = now_ms() + timeout_ms;
  while (now_ms() < end && Pump((int)std::max(1LL, end - now_ms()))) {
  }
  if (pid_ > 0) {
    int st = 0;
    if (out_ >= 0 || err_ >= 0) kill(pid_, SIGKILL);  // still writing: out of time
    waitpid(pid_, &st, 0);
    res_.status = WIFEXITED(st) && (out_ < 0 && err_ < 0) ? WEXITSTATUS(st) : -1;
    pid_ = -1;
  }
  return res_;
}

bool Child::WaitForOutput(const std::string &needle, int timeout_ms) {
  long long end = now_ms() + timeout_ms;
  while (res_.out.find(needle) == std::string::npos) {
    if (now_ms() >= end || !Pump((int)std::max(1LL, end - now_ms()))) return false;
  }
  return true;
}

void Child::CloseOut() {
  if (out_ >= 0) close(out_);
  out_ = -1;
}

void Child::Read(int ms) {
  long long end = now_ms() + ms;
  while (now_ms() < end && Pump((int)std::max(1LL, end - now_ms()))) {
  }
}

RunResult RunKyrctl(const std::vector<std::string> &args, const std::map<std::string, std::string> &env,
                    int timeout_ms) {
  Child c(args, env);
  return c.Wait(timeout_ms);
}

}  // namespace kyrtest
