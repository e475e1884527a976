/* The session handshake: version exchange, challenge response, pairing,
 * logging switch, client identity, tear-down, and the default
 * configuration reader. */
#include <atomic>
#include <initializer_list>
#include <utility>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <cjson/cJSON.h>
#include <openssl/crypto.h>

#include "csapi/client/csapi_client.h"
#include "csapi/client/csapi_internal.h"
#include "csapi/client/csapi_rpc.h"
#include "csapi/client/test/csapi_test.h"
#include "ipc/libccom/ccom.h"

namespace {

constexpr const char *kProtoVers = "CSAPI/1.0";

/* Bit 0 local logging, bit 1 the server's; sent again after every
 * successful authentication or pairing. */
std::atomic<int> gLogFlags{0};
std::atomic<bool> gConnectMark{false};

int leave(int rc) {
  csapi_err_set(rc);
  return rc;
}

const char *nz(const char *s) { return s ? s : ""; }

template <size_t N>
void copy_text(char (&dst)[N], const char *src) {
  size_t n = strnlen(nz(src), N - 1);
  memcpy(dst, nz(src), n);
  dst[n] = '\0';
}

/* Zeroes every string value of a tree before it is freed. */
void wipe_strings(cJSON *item) {
  for (; item; item = item->next) {
    if (item->valuestring) OPENSSL_cleanse(item->valuestring, strlen(item->valuestring));
    wipe_strings(item->child);
  }
}

/* Prints a request that carries secrets into buffers of its own, so that no
 * growing print buffer leaves a copy behind in freed memory; every buffer is
 * wiped before it is freed. Malloc'ed text, or null. */
char *print_secret(cJSON *tree) {
  for (int size = 1024; size <= (1 << 20); size *= 4) {
    char *buf = static_cast<char *>(malloc((size_t)size));
    if (!buf) return nullptr;
    if (cJSON_PrintPreallocated(tree, buf, size, 0)) return buf;
    OPENSSL_cleanse(buf, (size_t)size);
    free(buf);
  }
  return nullptr;
}

/* Builds method's request with fill(params), sends it on instance through
 * msg and returns the call's result; msg then holds the response. With
 * secret set, the request's text is wiped from every buffer it was built in
 * (the message itself is wiped by the call once sent). */
template <class Fill>
int call_method(int instance, const char *method, ccom_msg_t *msg, Fill fill, bool secret = false) {
  RpcReq req;
  cJSON *tree = nullptr;
  if (allocRpcReq(&req, &tree, method, 1) != 0) return leave(CSAPI_ERR_OUT_OF_RESOURCES);
  bool ok = fill(req.params);
  char *text = !ok ? nullptr : secret ? print_secret(tree) : buildRpcReqMsg(&req, tree);
  if (secret) wipe_strings(tree);
  cJSON_Delete(tree);
  if (!text) return leave(CSAPI_ERR_OUT_OF_RESOURCES);
  char *copied = ccom_msg_strcpy(msg, text);
  if (secret) OPENSSL_cleanse(text, strlen(text));
  free(text);
  if (!copied) return leave(CSAPI_ERR_OUT_OF_RESOURCES);
  return csapi_client_call(instance < 0 ? CSAPI_SRVR_MAX : (unsigned)instance, msg, CSAPI_CALL_TIMEOUT);
}

bool add_strings(cJSON *params, std::initializer_list<std::pair<const char *, const char *>> members) {
  for (const auto &m : members)
    if (!cJSON_AddStringToObject(params, m.first, nz(m.second))) return false;
  return true;
}

/* Fills the server fields from the server information object. */
void read_server_info(const cJSON *obj, csapi_srvr_t *e) {
  struct Field {
    const char *key;
    char *dst;
    size_t cap;
  } fields[] = {
      {"protoVers", e->protoVers, sizeof e->protoVers},
      {"srvrDeviceType", e->srvrDeviceType, sizeof e->srvrDeviceType},
      {"srvrSWVer", e->srvrSWVer, sizeof e->srvrSWVer},
      {"minClientSWVer", e->minClientSWVer, sizeof e->minClientSWVer},
      {"maxClientSWVer", e->maxClientSWVer, sizeof e->maxClientSWVer},
      {"srvrChallenge", e->srvrChallenge, sizeof e->srvrChallenge},
  };
  for (const Field &f : fields) {
    const cJSON *item = cJSON_GetObjectItemCaseSensitive(obj, f.key);
    const char *v = cJSON_IsString(item) && item->valuestring ? item->valuestring : "";
    size_t n = strnlen(v, f.cap - 1);
    memcpy(f.dst, v, n);
    f.dst[n] = '\0';
  }
}

/* What a failed "csVersion" means: the line to log, or null to keep the
 * instance connected. */
const char *version_failure_text(int c) {
  switch (c) {
    case CSAPI_ERR_WRONG_SERVER_VERSION:
      return "can't connect to csapi server, bad server version (client [protocol:%s, clientSWVersion:%s, "
             "minSrvrVersion:%s, maxSrvrVersion:%s], server [protocol:%s, srvrSWVersion:%s, minClientVersion:%s, "
             "maxClientVersion:%s], disconnecting)\n";
    case CSAPI_ERR_WRONG_CLIENT_VERSION:
      return "can't connect to csapi server, bad client version (client [protocol:%s, clientSWVersion:%s, "
             "minSrvrVersion:%s, maxSrvrVersion:%s], server [protocol:%s, srvrSWVersion:%s, minClientVersion:%s, "
             "maxClientVersion:%s], disconnecting)\n";
    case CSAPI_ERR_NOT_CONFIGURED:
      return "server not configured, disconnecting\n";
    case CSAPI_ERR_NO_CONNECT:
      return "con't connect to server, disconnecting\n";
    case CSAPI_ERR_OUT_OF_RESOURCES:
      return "server can't connect to any more clients, disconnecting\n";
    case CSAPI_ERR_BAD_PARAMETER:
      return "bad parameter error from server, disconnecting\n";
    case CSAPI_ERR_TIMEOUT:
      return "server timeout, disconnecting\n";
    default:
      return nullptr;
  }
}

}  // namespace

int csConnect(const char *address, const char *deviceType, const char *swVer, const char *minSrvrSWVer,
              const char *maxSrvrSWVer) {
  csapi_client_test_count("csConnect");
  if (!gConnectMark.load()) {
    csInit(nullptr);
    gConnectMark.store(true);
  }
  char addr[257];
  if (address) {
    copy_text(addr, address);
  } else {
    csConfigReadFunc read = csapi_detail::installed_config_read();
    if (!read) {
      csLog("csConnect", CS_LOG_ERR, "no CSAPI configRead function\n");
      return leave(CSAPI_ERR_BAD_ADDRESS);
    }
    addr[0] = '\0';
    int r = read("csapi_srvr_addr", 0, addr, (int)sizeof addr);
    if (r != 0) {
      csLog("csConnect", CS_LOG_ERR, "CSAPI server address cannot be read\n");
      return leave(r);
    }
  }
  int instance = new_csapi_client(addr);
  if (instance < 0) return leave(instance);

  ccom_msg_t *msg = csapi_client_msg_alloc();
  if (!msg) {
    delete_csapi_client(instance);
    return leave(CSAPI_ERR_OUT_OF_RESOURCES);
  }
  int c = call_method(instance, "csVersion", msg, [&](cJSON *p) {
    return add_strings(p, {{"protoVers", kProtoVers},
                           {"clientDeviceType", deviceType},
                           {"clientSWVer", swVer},
                           {"minSrvrSWVer", minSrvrSWVer},
                           {"maxSrvrSWVer", maxSrvrSWVer}});
  });

  RpcRsp rsp;
  cJSON *tree = nullptr;
  bool parsed = parseRpcRspMsg(&rsp, &tree, msg->data) == 0 && tree;
  csapi_client_msg_free(msg);
  /* A call that failed here (time-out, lost connection) leaves no answer to
   * read; it still ends the instance like the same code from the server. */
  if (!parsed && c != CSAPI_ERR_TIMEOUT && c != CSAPI_ERR_NO_CONNECT) {
    cJSON_Delete(tree);
    return leave(CSAPI_ERR_BAD_MESSAGE);
  }

  csapi_srvr_t info;
  memset(&info, 0, sizeof info);
  bool haveInfo = csapi_client_get_srvr_info(instance, &info) == 0;
  if (c == 0) {
    read_server_info(rsp.result, &info);
    cJSON_Delete(tree);
    if (!haveInfo || csapi_client_set_srvr_info(instance, &info) != 0 ||
        csapi_client_set_state(instance, CLIENT_STATE_VERSION_OK) != 0) {
      /* The connection ended right after answering. */
      delete_csapi_client(instance);
      return leave(CSAPI_ERR_NO_CONNECT);
    }
    return leave(instance);
  }
  if (parsed && (c == CSAPI_ERR_WRONG_SERVER_VERSION || c == CSAPI_ERR_WRONG_CLIENT_VERSION)) {
    read_server_info(rsp.data, &info);
    if (haveInfo) (void)csapi_client_set_srvr_info(instance, &info);
  }
  cJSON_Delete(tree);
  const char *line = version_failure_text(c);
  if (line) {
    if (c == CSAPI_ERR_WRONG_SERVER_VERSION || c == CSAPI_ERR_WRONG_CLIENT_VERSION)
      csLog("csapi_client", CS_LOG_ERR, line, kProtoVers, nz(swVer), nz(minSrvrSWVer), nz(maxSrvrSWVer),
            info.protoVers, info.srvrSWVer, info.minClientSWVer, info.maxClientSWVer);
    else
      csLog("csapi_client", CS_LOG_ERR, "%s", line);
    delete_csapi_client(instance);
  }
  return leave(c);
}

int csAuth(int instance, const char *clientId) {
  csapi_client_test_count("csAuth");
  csapi_srvr_t info;
  memset(&info, 0, sizeof info);
  (void)csapi_client_get_srvr_info(instance, &info);
  char response[CCOM_CHALLENGE_RSP_LEN];
  ccom_gen_challenge_rsp(nz(clientId), info.srvrChallenge, response);

  ccom_msg_t *msg = csapi_client_msg_alloc();
  if (!msg) return leave(CSAPI_ERR_OUT_OF_RESOURCES);
  int b = call_method(
      instance, "csAuth", msg,
      [&](cJSON *p) { return add_strings(p, {{"id", clientId}, {"authChallengeResponse", response}}); }, true);
  csapi_client_msg_free(msg);
  OPENSSL_cleanse(response, sizeof response);
  OPENSSL_cleanse(info.srvrChallenge, sizeof info.srvrChallenge);
  switch (b) {
    case 0:
      (void)csapi_client_set_state(instance, CLIENT_STATE_READY);
      (void)csLogEnable(instance, gLogFlags.load());
      break;
    case CSAPI_ERR_LOGIN_REQUIRED:
    case CSAPI_ERR_PAIRING_REQUIRED:
      (void)csapi_client_set_state(instance, CLIENT_STATE_AUTH_REQUIRED);
      break;
    case CSAPI_ERR_IN_USE:
      csLog("csapi_client", CS_LOG_ERR, "server is in use by the maximum number of clients\n");
      break;
    case CSAPI_ERR_NOT_AUTHORIZED:
      csLog("csapi_client", CS_LOG_ERR, "authentication error from server\n");
      break;
    case CSAPI_ERR_BAD_PARAMETER:
      csLog("csapi_client", CS_LOG_ERR, "bad parameter error from server\n");
      break;
    case CSAPI_ERR_TIMEOUT:
      csLog("csapi_client", CS_LOG_ERR, "server timeout\n");
      break;
    default:
      break;
  }
  return leave(b);
}

namespace {

int pair_call(const char *method, int instance, const char *clientId, const char *adminName, const char *adminPwd) {
  ccom_msg_t *msg = csapi_client_msg_alloc();
  if (!msg) return leave(CSAPI_ERR_OUT_OF_RESOURCES);
  int r = call_method(
      instance, method, msg,
      [&](cJSON *p) { return add_strings(p, {{"id", clientId}, {"adminName", adminName}, {"adminPwd", adminPwd}}); },
      true);
  csapi_client_msg_free(msg);
  return r;
}

}  // namespace

int csPair(int instance, const char *clientId, const char *adminName, const char *adminPwd) {
  csapi_client_test_count("csPair");
  int r = pair_call("csPair", instance, clientId, adminName, adminPwd);
  if (r == 0) {
    (void)csapi_client_set_state(instance, CLIENT_STATE_READY);
    (void)csLogEnable(instance, gLogFlags.load());
  }
  return leave(r);
}

int csUnpair(int instance, const char *clientId, const char *adminName, const char *adminPwd) {
  csapi_client_test_count("csUnpair");
  int r = pair_call("csUnpair", instance, clientId, adminName, adminPwd);
  (void)csapi_client_set_state(instance, CLIENT_STATE_CONNECTED);
  return leave(r);
}

int csLogEnable(int instance, int flags) {
  csapi_client_test_count("csLogEnable");
  gLogFlags.store(flags);
  csLogLocalEnable(flags & 1);
  ccom_msg_t *msg = csapi_client_msg_alloc();
  if (!msg) return leave(CSAPI_ERR_OUT_OF_RESOURCES);
  int r = call_method(instance, "csLogEnable", msg, [&](cJSON *p) {
    return cJSON_AddNumberToObject(p, "logEnable", (flags & 2) ? 1 : 0) != nullptr;
  });
  csapi_client_msg_free(msg);
  return leave(r);
}

int csClientSet(const CSClientInfo *info, int instance) {
  if (!info) return leave(CSAPI_ERR_BAD_PARAMETER);
  ccom_msg_t *msg = csapi_client_msg_alloc();
  if (!msg) return leave(CSAPI_ERR_OUT_OF_RESOURCES);
  /* Fixed fields may arrive unterminated; send at most their capacity. */
  char app[65], plat[65], hw[65], lang[33];
  snprintf(app, sizeof app, "%.*s", 64, info->applicationVersion);
  snprintf(plat, sizeof plat, "%.*s", 64, info->platformVersion);
  snprintf(hw, sizeof hw, "%.*s", 64, info->hardwareVersion);
  snprintf(lang, sizeof lang, "%.*s", 32, info->language);
  int r = call_method(instance, "csClientSet", msg, [&](cJSON *p) {
    return add_strings(p, {{"applicationVersion", app}, {"platformVersion", plat}, {"language", lang}}) &&
           cJSON_AddNumberToObject(p, "addressMode", (double)info->addressMode) != nullptr &&
           add_strings(p, {{"hardwareVersion", hw}});
  });
  csapi_client_msg_free(msg);
  return leave(r);
}

int csDisconnect(int instance) {
  csapi_client_test_count("csDisconnect");
  if (gConnectMark.load() && instance >= 0 && instance < CSAPI_SRVR_MAX) delete_csapi_client(instance);
  return 0;
}

int csConfigRead(const char *name, int index, char *dest, int size) {
  if (!name || !dest || size <= 0) return -1;
  char path[512];
  if (index <= 0)
    snprintf(path, sizeof path, "%s%d.dat", name, index);
  else
    snprintf(path, sizeof path, "%s.dat", name);
  FILE *f = fopen(path, "rb");
  if (!f) return errno ? errno : -1;
  dest[0] = '\0';
  if (!fgets(dest, size, f)) dest[0] = '\0';
  fclose(f);
  dest[strcspn(dest, "\n")] = '\0';
  dest[strcspn(dest, "\r")] = '\0';
  return 0;
}
