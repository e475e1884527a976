/* csLog, the client library's logging, and debug_string, which empties
 * password values before a message reaches the log. */
#include <regex.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ipc/libccom/ccom_internal.h"
#include "ipc/libccom/ccom_tool.h"
#include "platform/kyr_log.h"

int gbLogEnable = 0;

namespace {

/* Level names and the Android priority each is written with. */
#define CCOM_LOG_LEVELS(X)      \
  X(EMERG, KYR_LOG_FATAL)      \
  X(ALERT, KYR_LOG_WARN)       \
  X(CRIT, KYR_LOG_FATAL)       \
  X(ERR, KYR_LOG_ERROR)        \
  X(WARNING, KYR_LOG_WARN)     \
  X(NOTICE, KYR_LOG_INFO)      \
  X(INFO, KYR_LOG_INFO)        \
  X(DEBUG, KYR_LOG_DEBUG)

#define CCOM_LEVEL_NAME(name, prio) #name,
#define CCOM_LEVEL_PRIO(name, prio) prio,
const char *const gLevelStrings[] = {CCOM_LOG_LEVELS(CCOM_LEVEL_NAME)};
const int gLevelPrio[] = {CCOM_LOG_LEVELS(CCOM_LEVEL_PRIO)};
#undef CCOM_LEVEL_NAME
#undef CCOM_LEVEL_PRIO
static_assert(sizeof gLevelStrings / sizeof gLevelStrings[0] == CS_LOG_DEBUG + 1, "one name per level");

/* Keys whose string values never reach the log. */
const char *const keypat[] = {
    "\"adminPwd[^\"]*\":",
    "\"newPwd[^\"]*\":",
    "\"oldPwd[^\"]*\":",
    "\"password[^\"]*\":",
};
constexpr int kNumPat = sizeof keypat / sizeof keypat[0];

/* Compiled once: regexec on a compiled pattern is safe from many threads. */
regex_t g_keyre[kNumPat];
bool g_keyre_ok[kNumPat];
/* The literal start of each pattern (quote and key): every match begins
 * with it, so the expression only runs from where it occurs. A message
 * without any of the keys - nearly all of them - then costs one plain
 * scan per key instead of a case-insensitive expression search. */
char g_keylit[kNumPat][16];
pthread_once_t g_keyre_once = PTHREAD_ONCE_INIT;

void compile_keypat() {
  for (int i = 0; i < kNumPat; i++) {
    g_keyre_ok[i] = regcomp(&g_keyre[i], keypat[i], REG_EXTENDED | REG_ICASE) == 0;
    size_t n = strcspn(keypat[i], "[");
    if (n >= sizeof g_keylit[i]) n = 0; /* no usable literal: search everywhere */
    memcpy(g_keylit[i], keypat[i], n);
    g_keylit[i][n] = '\0';
  }
}

/* Where the next match of pattern i can start, at or after from; null when
 * none can. */
char *next_candidate(int i, char *from) {
  if (!g_keylit[i][0]) return *from ? from : nullptr;
  return strcasestr(from, g_keylit[i]);
}

/* The closing quote of the string that opens at q, skipping escaped quotes
 * so that an escaped quote inside a password does not leave its tail in the
 * log. */
char *closing_quote(char *q) {
  for (char *p = q + 1; *p; p++) {
    if (*p == '\\') {
      if (!p[1]) return nullptr;
      p++;
    } else if (*p == '"') {
      return p;
    }
  }
  return nullptr;
}

}  // namespace

extern "C" KYR_API int csLogLocalEnable(int flag) {
  __atomic_store_n(&gbLogEnable, flag, __ATOMIC_RELAXED);
  return 0;
}

extern "C" KYR_API void csLogV(const char *name, unsigned int level, const char *fmt, va_list ap) {
  if (level == CS_LOG_DEBUG && !ccom_debug_on()) return;
  const char *lname = level <= CS_LOG_DEBUG ? gLevelStrings[level] : "";
  int prio = level <= CS_LOG_DEBUG ? gLevelPrio[level] : KYR_LOG_ERROR;
  char text[512];
  int n = 0;
  if (name) {
    n = snprintf(text, sizeof text, "%s:%s:", name, lname);
    if (n < 0) n = 0;
    if (n > (int)sizeof text - 1) n = sizeof text - 1;
  }
  text[n] = '\0';
  if (fmt) vsnprintf(text + n, sizeof text - n, fmt, ap);
  kyr_log_write(prio, "CSAPI", text);
}

extern "C" KYR_API void csLog(const char *name, unsigned int level, const char *fmt, ...) {
  if (level == CS_LOG_DEBUG && !ccom_debug_on()) return;
  va_list ap;
  va_start(ap, fmt);
  csLogV(name, level, fmt, ap);
  va_end(ap);
}

extern "C" KYR_API char *debug_string(ccom_msg_t *msg) {
  if (!msg || !msg->data) return nullptr;
  /* The allocation always extends CCOM_MSG_MARGIN bytes past size. */
  size_t n = strnlen(msg->data, (size_t)msg->size + CCOM_MSG_MARGIN - 1);
  char *copy = static_cast<char *>(malloc(n + 1));
  if (!copy) return nullptr;
  memcpy(copy, msg->data, n);
  copy[n] = '\0';
  pthread_once(&g_keyre_once, compile_keypat);
  for (int i = 0; i < kNumPat; i++) {
    if (!g_keyre_ok[i]) continue;
    char *cursor = copy;
    regmatch_t m;
    while ((cursor = next_candidate(i, cursor)) != nullptr &&
           regexec(&g_keyre[i], cursor, 1, &m, cursor == copy ? 0 : REG_NOTBOL) == 0) {
      char *end = cursor + m.rm_eo;
      char *q1 = strchr(end, '"');
      char *q2 = q1 ? closing_quote(q1) : nullptr;
      if (q2 && q2 > q1 + 1) {
        size_t tail = strlen(q2) + 1, gone = (size_t)(q2 - (q1 + 1));
        memmove(q1 + 1, q2, tail);
        /* The moved tail leaves its old last bytes behind; when the tail
         * is shorter than the value, they are the value's. */
        memset(q1 + 1 + tail, 0, gone);
      }
      cursor = end;
    }
  }
  return copy;
}

void ccom_log_msg(const char *what, int fd, ccom_msg_t *msg) {
  ccom_trace_msg(what, msg);
  if (!ccom_debug_on() || !msg || !msg->data) return;
  if (msg->data[0] == '{') {
    char *red = debug_string(msg);
    csLog("CCOM", CS_LOG_DEBUG, "%s[%d]: (%d) \"%s\"\n", what, fd, (int)msg->len, red ? red : msg->data);
    free(red);
  } else {
    /* Non-JSON text is logged from its fifth byte on; shorter text as empty. */
    size_t n = strnlen(msg->data, 4);
    csLog("CCOM", CS_LOG_DEBUG, "%s[%d]: (%d) \"%s\"\n", what, fd, (int)msg->len, n == 4 ? msg->data + 4 : "");
  }
}
