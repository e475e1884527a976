/* Liveness watch of a connection (see csapi_liveness.h). */
#include "csapi/client/csapi_liveness.h"

#include <time.h>

#include <cstdlib>

#include <cjson/cJSON.h>

#include "csapi/client/csapi_client.h"
#include "csapi/client/csapi_rpc.h"

namespace {

constexpr int kMaxSeconds = 300;
/* How often the reader looks while the watch is on: a fraction of a second,
 * so a loss is declared close to 2N seconds after the last data. */
constexpr int kWatchIdleMs = 250;
constexpr int kDefaultIdleMs = 1000;

std::atomic<int> gSeconds{0};

int64_t now_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

/* Sends the probe without waiting for it: its answer, like anything else
 * that arrives, only proves the codec is there. 0 on failure. */
int64_t send_probe(ccom_client_t *client, int instance) {
  RpcReq req;
  cJSON *tree = nullptr;
  if (allocRpcReq(&req, &tree, CSAPI_LIVENESS_PROBE, 1) != 0) return 0;
  int64_t id = cJSON_IsNumber(req.id) ? (int64_t)req.id->valuedouble : 0;
  bool ok = cJSON_AddNumberToObject(req.params, "pSysHandle", 0) &&
            cJSON_AddNumberToObject(req.params, "srvrInstance", instance);
  char *text = ok ? buildRpcReqMsg(&req, tree) : nullptr;
  cJSON_Delete(tree);
  if (!text) return 0;
  ccom_msg_t *msg = ccom_client_msg_alloc();
  bool sent = msg && ccom_msg_strcpy(msg, text) && ccom_client_send(client, msg) == 0;
  free(text);
  if (msg) ccom_client_msg_free(msg);
  return sent ? id : 0;
}

}  // namespace

int csapi_set_liveness(int seconds) {
  if (seconds < 0 || seconds > kMaxSeconds) return CSAPI_ERR_BAD_PARAMETER;
  gSeconds.store(seconds);
  return 0;
}

int csapi_get_liveness(void) { return gSeconds.load(); }

namespace csapi_detail {

void liveness_start(Liveness *l) {
  l->last_rx_ms.store(now_ms());
  l->probe_at_ms = 0;
  l->probe_id.store(0);
  l->applied = -1;
}

void liveness_heard(Liveness *l) {
  l->last_rx_ms.store(now_ms());
  l->probe_at_ms = 0;
}

bool liveness_is_probe(const Liveness *l, int64_t id) { return id != 0 && l->probe_id.load() == id; }

bool liveness_tick(Liveness *l, ccom_client_t *client, int instance) {
  const int n = gSeconds.load();
  if (n != l->applied) {
    /* Unacknowledged data ends the connection after about 2N as well. */
    ccom_client_set_user_timeout(client, n * 2000);
    ccom_client_set_idle_ms(client, n > 0 ? kWatchIdleMs : kDefaultIdleMs);
    l->applied = n;
    /* The silence timer keeps running: every arrival restarts it whether
     * the watch is on or not, so restarting it here would only add the
     * time the first idle call took to come. A watch switched on after a
     * long quiet spell probes at once, which is what it should do. */
    l->probe_at_ms = 0;
  }
  if (n == 0) return true;
  const int64_t now = now_ms();
  const int64_t limit = (int64_t)n * 1000;
  if (l->probe_at_ms != 0) {
    if (now - l->probe_at_ms < limit) return true;
    csLog("csapi_client", CS_LOG_ERR, "no answer from the codec %d s after the liveness probe, connection lost\n", n);
    return false;
  }
  if (now - l->last_rx_ms.load() < limit) return true;
  int64_t id = send_probe(client, instance);
  if (id == 0) {
    csLog("csapi_client", CS_LOG_ERR, "liveness probe could not be sent, connection lost\n");
    return false;
  }
  l->probe_id.store(id);
  l->probe_at_ms = now;
  return true;
}

}  // namespace csapi_detail
