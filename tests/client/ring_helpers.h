// Posting to and reading from the notification queue directly, without a
// connection (the ring and queue suites).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include <string>
#include <thread>
#include <vector>

#include "csapi/client/csapi.h"
#include "ipc/libccom/ccom.h"

namespace ringtest {

// Runs f on a fresh thread, so it starts with an empty thread registry and a
// first read position at the oldest intact record.
template <class F>
void on_fresh_thread(F f) {
  std::thread t(f);
  t.join();
}

// A notification whose body carries its sequence number, padded to size.
inline std::string make_note(int seq, size_t size) {
  std::string s = "{\"method\":\"ringCB\",\"params\":{\"seq\":" + std::to_string(seq) + ",\"pad\":\"";
  std::string tail = "\"}}";
  if (s.size() + tail.size() < size) s.append(size - s.size() - tail.size(), 'a' + seq % 26);
  return s + tail;
}

// The sequence number make_note put in text, or -1.
inline int note_seq(const char *text) {
  const char *k = strstr(text, "\"seq\":");
  return k ? atoi(k + 6) : -1;
}

inline void post(int instance, const std::string &text) {
  ccom_msg_t *m = ccom_client_msg_alloc();
  ASSERT_NE(m, nullptr);
  ASSERT_NE(ccom_msg_memcpy(m, text.data(), (uint32_t)text.size()), nullptr);
  EXPECT_EQ(callback_postmsg(instance, "ringCB", m), 0);
  ccom_client_msg_free(m);
}

// Reads every record available now. Returns the texts.
inline std::vector<std::string> drain(ccom_msg_t *m, std::vector<int> *instances = nullptr) {
  std::vector<std::string> out;
  int inst = -1;
  while (callback_waitmsg(&inst, m, 0, 0) == 0) {
    out.emplace_back(m->data, m->len);
    EXPECT_EQ(m->data[m->len], '\0');
    if (instances) instances->push_back(inst);
  }
  return out;
}

}  // namespace ringtest
