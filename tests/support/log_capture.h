// Captures every line written through the platform log seam while alive.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/kyr_log.h"

namespace kyrtest {

struct LogLine {
  int prio;
  std::string tag;
  std::string text;
};

class LogCapture {
 public:
  LogCapture() { kyr_log_set_sink(&LogCapture::Sink, this); }
  ~LogCapture() { kyr_log_set_sink(nullptr, nullptr); }
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;

  std::vector<LogLine> Lines() {
    std::lock_guard<std::mutex> g(mu_);
    return lines_;
  }
  void Clear() {
    std::lock_guard<std::mutex> g(mu_);
    lines_.clear();
  }
  // Lines whose text contains needle (optionally only under tag).
  std::vector<LogLine> Find(const std::string &needle, const char *tag = nullptr) {
    std::vector<LogLine> out;
    std::lock_guard<std::mutex> g(mu_);
    for (const auto &l : lines_)
      if (l.text.find(needle) != std::string::npos && (!tag || l.tag == tag)) out.push_back(l);
    return out;
  }
  size_t Count(const std::string &needle, const char *tag = nullptr) { return Find(needle, tag).size(); }

 private:
  static void Sink(int prio, const char *tag, const char *text, void *user) {
    auto *self = static_cast<LogCapture *>(user);
    std::lock_guard<std::mutex> g(self->mu_);
    self->lines_.push_back({prio, tag, text});
  }
  std::mutex mu_;
  std::vector<LogLine> lines_;
};

}  // namespace kyrtest
