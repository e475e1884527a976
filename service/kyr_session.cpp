/* The session record and its one checked transition (see kyr_session.h). */
#include "service/kyr_session.h"

#include "csapi/client/csapi_client.h"
#include "csapi/client/csapi_rpc.h"
#include "platform/kyr_log.h"
#include "service/kyr_modules.h"

namespace {

const char kTag[] = "KyrConnectLib";

#define TO(state) (1u << (state))
struct StateRow {
  const char *name;
  KYR_Connect_State visible;
  unsigned allowed; /* bit per target state */
};
#define KYR_SESSION_ROW(name, visible, allowed) {#name, visible, allowed},
constexpr StateRow kStates[] = {KYR_SESSION_STATE_LIST(KYR_SESSION_ROW)};
#undef KYR_SESSION_ROW
#undef TO
static_assert(sizeof kStates / sizeof kStates[0] == SESSION_STATE_COUNT, "one row per state");
static_assert(SESSION_STATE_COUNT <= 32, "the allowed targets are a 32-bit mask");

enum class Outcome { moved, same, refused, stale };

struct Move {
  Outcome outcome;
  session_state from;
};

/* The table check and the write, with mu held. */
Move transition_locked(session_record &s, session_state to, long long gen, session_state only_from,
                       bool only) {
  const auto from = static_cast<session_state>(s.state.load());
  if (gen != kAnyGen && static_cast<unsigned>(gen) != s.connect_gen.load()) return {Outcome::stale, from};
  if (only && from != only_from) return {Outcome::stale, from};
  if (from == to) return {Outcome::same, from};
  if (!session_allowed(from, to)) return {Outcome::refused, from};
  s.state = to;
  s.cv.notify_all();
  return {Outcome::moved, from};
}

/* Everything after the write, without mu: the log line, the event, and the
 * connection given up where the move calls for it. */
bool finish(const Move &m, session_state to, const char *who) {
  if (m.outcome == Outcome::refused)
    kyr_log_printf(KYR_LOG_WARN, kTag, "%s: connection state %s -> %s refused", who, kStates[m.from].name,
                   kStates[to].name);
  /* A closed session keeps no connection, whoever opened it meanwhile. */
  if ((m.outcome == Outcome::refused && m.from == SESSION_CLOSED) ||
      (m.outcome == Outcome::moved && to == SESSION_CLOSED))
    session_drop_connection();
  if (m.outcome != Outcome::moved) return m.outcome == Outcome::same;
  const KYR_Connect_State was = kStates[m.from].visible, now = kStates[to].visible;
  if (was != now) {
    kyr_log_printf(KYR_LOG_INFO, kTag, "connection state %s -> %s", kyr_connect_state_name(was),
                   kyr_connect_state_name(now));
    kyr_post(EVENT_CONNECT_STATE_CHANGED, now, 0, nullptr);
  }
  return true;
}

bool transition(session_state to, const char *who, long long gen, session_state only_from, bool only) {
  session_record &s = kyr_session();
  Move m;
  {
    std::lock_guard<std::mutex> g(s.mu);
    m = transition_locked(s, to, gen, only_from, only);
  }
  return finish(m, to, who);
}

}  // namespace

session_record &kyr_session(void) {
  /* Never destroyed: detached threads still wait on it while the process
   * exits, and destroying a condition variable with waiters hangs. */
  static session_record *const s = new session_record;
  return *s;
}

KYR_Connect_State session_visible(session_state s) { return kStates[s].visible; }

bool session_allowed(session_state from, session_state to) {
  return from == to || (kStates[from].allowed & (1u << to)) != 0;
}

bool session_transition(session_state to, const char *who, long long gen) {
  return transition(to, who, gen, SESSION_CLOSED, false);
}

bool session_report_loss(void) { return transition(SESSION_FAILED, "loss", kAnyGen, SESSION_CONNECTED, true); }

void session_drop_connection(void) {
  const int instance = kyr_session().instance.exchange(-1);
  csDisconnect(instance);
  if (instance >= 0) kyr_modules_run(KYR_MODULE_LOSS, instance);
}

void session_cancel_connects(void) {
  kyr_session().connect_gen.fetch_add(1);
  csapi_cancel_connects();
}

extern "C" void setConnectState(KYR_Connect_State state) {
  /* The first row with this value; CLOSED is only ever entered by name. */
  int to = 0;
  while (to < SESSION_STATE_COUNT && kStates[to].visible != state) to++;
  if (to == SESSION_STATE_COUNT) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "setConnectState: no state %d", (int)state);
    return;
  }
  session_transition(static_cast<session_state>(to), "setConnectState");
}

extern "C" int kyr_server_instance(void) { return kyr_session().instance.load(); }
extern "C" void kyr_service_debug_set_server_instance(int instance) { kyr_session().instance = instance; }
extern "C" int kyr_connect_state(void) {
  return session_visible(static_cast<session_state>(kyr_session().state.load()));
}
