// libFuzzer target: message framing with random split points.
//
// Input: 8 bytes that seed the split points, then the byte stream a codec
// might send. The stream is written to a SOCK_SEQPACKET socket pair in
// chunks, so every read the framer makes returns exactly one chunk, and
// ccom_socket_read_line frames it until the connection ends. The frames must
// not depend on where the stream was split: from the "{" that opens each
// object to the "}" that closes it, the framed objects must equal those an
// independent reference framer finds in the whole stream in one piece.
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ipc/libccom/ccom.h"

namespace {

// Objects of the stream in one piece: outside an object everything but "{"
// is skipped; inside one, braces count except within strings.
std::vector<std::string> reference_objects(const std::string &s) {
  std::vector<std::string> out;
  size_t start = 0;
  int depth = 0;
  bool in_str = false, esc = false;
  for (size_t i = 0; i < s.size(); i++) {
    char c = s[i];
    if (depth == 0) {
      if (c == '{') {
        depth = 1;
        start = i;
      }
      continue;
    }
    if (in_str) {
      if (esc)
        esc = false;
      else if (c == '\\')
        esc = true;
      else if (c == '"')
        in_str = false;
      continue;
    }
    if (c == '"')
      in_str = true;
    else if (c == '{')
      depth++;
    else if (c == '}' && --depth == 0)
      out.push_back(s.substr(start, i + 1 - start));
  }
  return out;
}

struct Writer {
  int fd;
  const std::vector<std::string> *chunks;
};

void *write_chunks(void *arg) {
  Writer *w = static_cast<Writer *>(arg);
  for (const std::string &c : *w->chunks)
    if (send(w->fd, c.data(), c.size(), MSG_NOSIGNAL) != (ssize_t)c.size()) break;
  shutdown(w->fd, SHUT_WR);
  return nullptr;
}

// Chunk lengths from a small generator: mostly short, sometimes long.
std::vector<std::string> split(const std::string &s, uint64_t seed) {
  std::vector<std::string> chunks;
  size_t pos = 0;
  while (pos < s.size()) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    unsigned r = (unsigned)(seed >> 33);
    size_t len = (r & 3) == 0 ? 1 + (r >> 2) % 4096 : 1 + (r >> 2) % 24;
    if (len > (size_t)CCOM_RX_READ_MAX) len = CCOM_RX_READ_MAX;
    if (len > s.size() - pos) len = s.size() - pos;
    chunks.push_back(s.substr(pos, len));
    pos += len;
  }
  return chunks;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 8) return 0;
  uint64_t seed;
  memcpy(&seed, data, 8);
  std::string stream(reinterpret_cast<const char *>(data) + 8, size - 8);
  if (stream.empty() || stream.size() > (1u << 20)) return 0;
  std::vector<std::string> chunks = split(stream, seed);

  int sv[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sv) != 0) return 0;
  Writer w = {sv[1], &chunks};
  pthread_t th;
  if (pthread_create(&th, nullptr, write_chunks, &w) != 0) {
    close(sv[0]);
    close(sv[1]);
    return 0;
  }

  static char *buf = static_cast<char *>(malloc(CCOM_RX_BUF_SIZE));
  int count = 0;
  ccom_msg_t *msg = ccom_client_msg_alloc();
  std::vector<std::string> objects;
  bool closed = false;
  for (int idle = 0; idle < 1000;) {
    int n = ccom_socket_read_line(sv[0], buf, &count, msg, nullptr);
    if (n < 0) {
      closed = true;  // the framer closed the descriptor itself
      break;
    }
    if (n == 0) {
      idle++;  // a blocking socket never has "nothing now"; do not spin on it
      continue;
    }
    if ((uint32_t)n != msg->len || msg->data[msg->len] != '\0') abort();
    if (count < 0 || count > CCOM_RX_READ_MAX) abort();
    std::string f(msg->data, msg->len);
    size_t open = f.find('{');
    if (open == std::string::npos) continue;  // a non-JSON message, passed on as it came
    if (f.back() != '}') abort();
    objects.push_back(f.substr(open));
  }
  pthread_join(th, nullptr);
  if (!closed) close(sv[0]);
  close(sv[1]);
  ccom_client_msg_free(msg);

  if (objects != reference_objects(stream)) abort();
  return 0;
}
