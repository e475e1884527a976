// The pure framer and the socket read/write functions over a socketpair.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ipc/libccom/ccom_internal.h"
#include "support/log_capture.h"

namespace {

// Feeds chunks through the framer the way the socket loop does and collects
// the messages it delimits. Bytes of an unfinished object stay pending
// across chunks.
std::vector<std::string> FrameChunks(const std::vector<std::string> &chunks) {
  std::vector<std::string> out;
  ccom_frame_state st = {0, 0, 0};
  std::string cur;
  for (const std::string &chunk : chunks) {
    size_t pos = 0;
    while (pos < chunk.size()) {
      size_t skip = 0, take = 0;
      ccom_frame_result r = ccom_frame_step(&st, chunk.data() + pos, chunk.size() - pos, &skip, &take);
      cur.append(chunk, pos + skip, take);
      pos += skip + take;
      if (r != CCOM_FRAME_MORE) {
        out.push_back(cur);
        cur.clear();
      }
    }
  }
  if (!cur.empty()) out.push_back("<unfinished>" + cur);
  return out;
}

// Objects that break naive brace counting: braces, escaped quotes and
// backslashes inside string values, nesting, arrays.
const std::vector<std::string> kTricky = {
    R"({"jsonrpc":"2.0","method":"csCalMeetingChangedCB","params":{"subject":"Budget }","flags":3}})",
    R"({"a":"{{{","b":"\"}\"","c":"back\\","d":{"e":[1,{"f":"}"}]}})",
    R"({"dir":"C:\\Users\\}{\\","x":"\\\"{"})",
    R"({})",
    R"({"id":7,"result":0})",
};

std::string Join(const std::vector<std::string> &objs, const std::vector<std::string> &gaps) {
  std::string s;
  for (size_t i = 0; i < objs.size(); i++) s += objs[i] + gaps[i % gaps.size()];
  return s;
}

TEST(Framer, OneByteAtATime) {
  std::string stream = Join(kTricky, {"", "\r\n", "  \t", "\n"});
  std::vector<std::string> bytes;
  for (char c : stream) bytes.emplace_back(1, c);
  EXPECT_EQ(FrameChunks(bytes), kTricky);
}

TEST(Framer, SplitAtEveryPosition) {
  std::string stream = Join(kTricky, {" ", "\r\n"});
  for (size_t cut = 0; cut <= stream.size(); cut++) {
    std::vector<std::string> chunks = {stream.substr(0, cut), stream.substr(cut)};
    ASSERT_EQ(FrameChunks(chunks), kTricky) << "cut at " << cut;
  }
}

// Random objects with braces, quotes and backslashes in their strings, cut
// into random chunks (long chunks take the block-wise scan, short ones the
// byte-wise one): the frames must always be exactly the objects.
TEST(Framer, RandomObjectsAndRandomChunks) {
  std::mt19937 rng(20261208);
  auto rnd_string = [&] {
    std::string s = "\"";
    int n = (int)(rng() % 40);
    for (int i = 0; i < n; i++) {
      switch (rng() % 8) {
        case 0: s += "\\\""; break;  // escaped quote
        case 1: s += "\\\\"; break;  // escaped backslash
        case 2: s += '{'; break;
        case 3: s += '}'; break;
        default: s += (char)('a' + rng() % 26);
      }
    }
    return s + "\"";
  };
  std::function<std::string(int)> rnd_object = [&](int depth) {
    std::string o = "{";
    int members = (int)(rng() % 5);
    for (int m = 0; m < members; m++) {
      if (m) o += ',';
      o += rnd_string() + ":";
      if (depth < 3 && rng() % 3 == 0)
        o += rnd_object(depth + 1);
      else if (rng() % 2)
        o += rnd_string();
      else
        o += std::to_string(rng() % 1000);
    }
    return o + "}";
  };
  for (int round = 0; round < 200; round++) {
    std::vector<std::string> objs;
    std::string stream;
    int count = 1 + (int)(rng() % 20);
    for (int i = 0; i < count; i++) {
      objs.push_back(rnd_object(0));
      stream += objs.back();
      if (rng() % 3 == 0) stream += " \r\n"[rng() % 3];
    }
    std::vector<std::string> chunks;
    for (size_t pos = 0; pos < stream.size();) {
      size_t n = std::min<size_t>(stream.size() - pos, 1 + rng() % (rng() % 2 ? 8 : 200));
      chunks.push_back(stream.substr(pos, n));
      pos += n;
    }
    ASSERT_EQ(FrameChunks(chunks), objs) << "round " << round << ": " << stream;
  }
}

TEST(Framer, EdgeCasesWithinOneRead) {
  struct {
    const char *name;
    std::string data;
    std::vector<std::string> msgs;
  } const cases[] = {
      {"two objects back to back", R"({"a":1}{"b":2})", {R"({"a":1})", R"({"b":2})"}},
      {"white space between", "{\"a\":1}\r\n \t{\"b\":2}\n", {R"({"a":1})", R"({"b":2})"}},
      {"nested returns at the outer brace", R"({"a":{"b":{"c":1}}})", {R"({"a":{"b":{"c":1}}})"}},
      {"lone close brace does not count", R"(}{"a":1})", {"}", R"({"a":1})"}},
      {"stray bytes before an object are their own message", R"(garbage {"a":1} ]]{"b":2})",
       {"garbage ", R"({"a":1})", "]]", R"({"b":2})"}},
      {"no brace: the data as it is", "hello world", {"hello world"}},
      {"leading white space skipped", "  \r\nraw", {"raw"}},
      {"quotes outside an object are bytes", R"(x"}{"a":1})", {R"(x"})", R"({"a":1})"}},
      {"a NUL does not hide what follows", std::string("{\"a\":1\0}{\"b\":2}", 15), {std::string("{\"a\":1\0}", 8), R"({"b":2})"}},
  };
  for (const auto &c : cases) EXPECT_EQ(FrameChunks({c.data}), c.msgs) << c.name;
}

// ---- socket level ----------------------------------------------------------

struct Pair {
  int r = -1, w = -1;
  Pair() {
    int sv[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    r = sv[0];
    w = sv[1];
  }
  ~Pair() {
    if (r > 0) close(r);
    if (w > 0) close(w);
  }
  void Write(const std::string &s) const {
    size_t off = 0;
    while (off < s.size()) {
      ssize_t n = send(w, s.data() + off, s.size() - off, MSG_NOSIGNAL);
      if (n <= 0) return;
      off += (size_t)n;
    }
  }
};

bool FdOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

struct Rx {
  std::vector<char> buf = std::vector<char>(CCOM_RX_BUF_SIZE);  // exact size: overruns show under ASan
  int count = 0;
  ccom_msg_t *msg = ccom_client_msg_alloc();
  ~Rx() { ccom_client_msg_free(msg); }
  int Read(int fd) { return ccom_socket_read_line(fd, buf.data(), &count, msg, nullptr); }
  std::string Text() const { return std::string(msg->data, msg->len); }
};

TEST(ReadLine, SecondObjectOfOneReadComesFromTheBuffer) {
  Pair p;
  Rx rx;
  p.Write(R"({"a":1} {"b":22})");
  ASSERT_EQ(rx.Read(p.r), 7);
  EXPECT_EQ(rx.Text(), R"({"a":1})");
  EXPECT_EQ(rx.msg->data[rx.msg->len], '\0');
  EXPECT_EQ(rx.count, 9);
  EXPECT_EQ(std::string(rx.buf.data()), R"( {"b":22})") << "the rest moves to the front, NUL-terminated";
  // With the writer gone, a socket read would report the close: the second
  // message must come from the buffer alone.
  close(p.w);
  p.w = -1;
  ASSERT_EQ(rx.Read(p.r), 8);
  EXPECT_EQ(rx.Text(), R"({"b":22})");
  EXPECT_EQ(rx.count, 0);
  EXPECT_EQ(rx.Read(p.r), -1) << "then the close";
  EXPECT_FALSE(FdOpen(p.r)) << "a fatal read closes the descriptor";
  p.r = -1;
}

TEST(ReadLine, ObjectSplitAcrossReads) {
  Pair p;
  Rx rx;
  const std::string obj = R"({"method":"x","params":{"subject":"Budget }"}})";
  p.Write(obj.substr(0, 20));
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    p.Write(obj.substr(20) + "\n");
  });
  int n = rx.Read(p.r);
  late.join();
  ASSERT_EQ(n, (int)obj.size());
  EXPECT_EQ(rx.Text(), obj);
}

TEST(ReadLine, OneMebibyteObjectInManySmallPieces) {
  Pair p;
  Rx rx;
  std::string obj = "{\"blob\":\"";
  std::mt19937 rng(7);
  const char alphabet[] = "ab}{xy cd";
  while (obj.size() < (1u << 20)) {
    unsigned k = rng() % 12;
    if (k == 0)
      obj += "\\\"";  // escaped quote
    else if (k == 1)
      obj += "\\\\";  // escaped backslash
    else
      obj += alphabet[k % 9];
  }
  obj += "\"}";
  std::thread writer([&] {
    size_t off = 0;
    while (off < obj.size()) {
      size_t n = std::min<size_t>(1 + rng() % 9000, obj.size() - off);
      p.Write(obj.substr(off, n));
      off += n;
    }
    p.Write(R"({"next":1})");
  });
  int n = rx.Read(p.r);
  ASSERT_EQ(n, (int)obj.size());
  EXPECT_TRUE(rx.Text() == obj);
  ASSERT_EQ(rx.Read(p.r), 10);
  EXPECT_EQ(rx.Text(), R"({"next":1})");
  writer.join();
}

TEST(ReadLine, FrameLargerThanTheCapClosesTheConnection) {
  kyrtest::LogCapture cap;
  Pair p;
  Rx rx;
  std::thread writer([&] {
    p.Write("{\"s\":\"");
    std::string chunk(1 << 20, 'x');
    for (int i = 0; i < 18; i++) p.Write(chunk);  // stops early once the reader closes
  });
  EXPECT_EQ(rx.Read(p.r), -1);
  writer.join();
  EXPECT_EQ(cap.Count("CCOM:ERR:message exceeds"), 1u);
  EXPECT_FALSE(FdOpen(p.r));
  p.r = -1;
  EXPECT_LE(rx.msg->len, CCOM_MAX_FRAME);
}

TEST(ReadLine, NullArgumentsAndBadCount) {
  kyrtest::LogCapture cap;
  Pair p;
  Rx rx;
  EXPECT_EQ(ccom_socket_read_line(p.r, nullptr, &rx.count, rx.msg, nullptr), -1);
  EXPECT_EQ(ccom_socket_read_line(p.r, rx.buf.data(), nullptr, rx.msg, nullptr), -1);
  EXPECT_EQ(ccom_socket_read_line(0, rx.buf.data(), &rx.count, rx.msg, nullptr), -1);
  EXPECT_EQ(ccom_socket_read_line(p.r, rx.buf.data(), &rx.count, nullptr, nullptr), -1);
  EXPECT_EQ(cap.Count("ccom_socket_read_line, NULL msg ptr"), 1u);
  // A corrupt count never makes the reader index past the buffer.
  rx.count = CCOM_RX_BUF_SIZE * 4;
  p.Write(R"({"ok":1})");
  EXPECT_EQ(rx.Read(p.r), 8);
  EXPECT_TRUE(FdOpen(p.r));
}

TEST(ReadLine, NonJsonDataIsPassedOnWithoutTakingObjectsDown) {
  Pair p;
  Rx rx;
  p.Write("  not json at all");
  ASSERT_EQ(rx.Read(p.r), 15);
  EXPECT_EQ(rx.Text(), "not json at all");
  EXPECT_EQ(rx.count, 0);
  p.Write(R"(junk }}{"a":1})");
  ASSERT_EQ(rx.Read(p.r), 7);
  EXPECT_EQ(rx.Text(), "junk }}");
  ASSERT_EQ(rx.Read(p.r), 7);
  EXPECT_EQ(rx.Text(), R"({"a":1})");
}

TEST(WriteLine, ExactlyTheTextGoesOnTheWire) {
  for (size_t n : {1u, 5u, 511u, 512u, 70000u}) {
    Pair p;
    ccom_msg_t *m = ccom_client_msg_alloc();
    std::string text(n, 'w');
    text[0] = '{';
    ASSERT_NE(ccom_msg_strcpy(m, text.c_str()), nullptr);
    std::string got;
    std::thread reader([&] {
      char buf[8192];
      ssize_t k;
      while ((k = recv(p.r, buf, sizeof buf, 0)) > 0) got.append(buf, (size_t)k);
    });
    EXPECT_EQ(ccom_socket_write_line(p.w, m, nullptr), 0);
    shutdown(p.w, SHUT_WR);
    reader.join();
    EXPECT_EQ(got.size(), n);
    EXPECT_TRUE(got == text);
    ccom_client_msg_free(m);
  }
}

TEST(WriteLine, ClosedDescriptorAndNullMessage) {
  kyrtest::LogCapture cap;
  ccom_msg_t *m = ccom_client_msg_alloc();
  ccom_msg_strcpy(m, "{}");
  EXPECT_EQ(ccom_socket_write_line(0, m, nullptr), -1);
  EXPECT_EQ(cap.Count("ccom_socket_write_line, socket is closed (0)"), 1u);
  Pair p;
  EXPECT_EQ(ccom_socket_write_line(p.w, nullptr, nullptr), -1);
  EXPECT_EQ(cap.Count("ccom_socket_write_line, NULL msg ptr"), 1u);
  EXPECT_FALSE(FdOpen(p.w));
  p.w = -1;
  // The peer is gone: the write fails (no SIGPIPE) and closes.
  close(p.r);
  p.r = -1;
  Pair q;
  close(q.r);
  q.r = -1;
  EXPECT_EQ(ccom_socket_write_line(q.w, m, nullptr), -1);
  EXPECT_FALSE(FdOpen(q.w));
  q.w = -1;
  ccom_client_msg_free(m);
}

TEST(WriteLine, DebugLinesMaskPasswords) {
  kyrtest::LogCapture cap;
  csLogLocalEnable(1);
  Pair p;
  ccom_msg_t *m = ccom_client_msg_alloc();
  ccom_msg_strcpy(m, R"({"method":"csPair","params":{"adminPwd":"hunter2"}})");
  EXPECT_EQ(ccom_socket_write_line(p.w, m, nullptr), 0);
  Rx rx;
  EXPECT_GT(rx.Read(p.r), 0);
  csLogLocalEnable(0);
  auto sent = cap.Find("CCOM:DEBUG:send[");
  auto recvd = cap.Find("CCOM:DEBUG:recv[");
  ASSERT_EQ(sent.size(), 1u);
  ASSERT_EQ(recvd.size(), 1u);
  EXPECT_NE(sent[0].text.find(R"("adminPwd":"")"), std::string::npos) << sent[0].text;
  EXPECT_EQ(cap.Count("hunter2"), 0u);
  ccom_client_msg_free(m);
}

TEST(ReadReady, TimeoutCountsAsReadyAndBadDescriptorFails) {
  kyrtest::LogCapture cap;
  Pair p;
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(ccom_socket_read_ready(p.r, 1), 1);
  auto waited = std::chrono::steady_clock::now() - t0;
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::seconds(3));
  p.Write("x");
  EXPECT_EQ(ccom_socket_read_ready(p.r, 0), 1);
  int dead = dup(p.r);
  close(dead);
  EXPECT_EQ(ccom_socket_read_ready(dead, 1), -1);
  EXPECT_EQ(cap.Count("select()"), 0u) << "a bad descriptor fails silently";
}

}  // namespace
