// A codec simulator on a loopback port plus helpers shared by the session
// tests. Every test leaves the server table empty behind it.
#pragma once

#include <gtest/gtest.h>

#include <cjson/cJSON.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codec_sim.h"
#include "csapi/client/csapi.h"
#include "csapi/client/csapi_internal.h"
#include "ipc/libccom/ccom.h"

namespace clienttest {

inline long long ms_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
}

inline void disconnect_all() {
  for (int i = 0; i < csSrvrMax(); i++) csDisconnect(i);
}

// A request built the way the operation family builds one, sent with
// csapi_client_call. Returns the call's result; *response gets the answer.
inline int call(int instance, const char *method, int n, int timeout = 5, std::string *response = nullptr) {
  RpcReq req;
  cJSON *tree = nullptr;
  if (allocRpcReq(&req, &tree, method, 1) != 0) return -1000;
  cJSON_AddNumberToObject(req.params, "n", n);
  char *text = buildRpcReqMsg(&req, tree);
  cJSON_Delete(tree);
  ccom_msg_t *msg = csapi_client_msg_alloc();
  ccom_msg_strcpy(msg, text);
  free(text);
  int rc = csapi_client_call((unsigned)instance, msg, timeout);
  if (response) *response = msg->len ? std::string(msg->data) : std::string();
  csapi_client_msg_free(msg);
  return rc;
}

// Value of "n" in a request's params ("" params give -1).
inline int param_n(const codec_sim_request &r) {
  cJSON *p = cJSON_Parse(r.params.c_str());
  cJSON *n = cJSON_GetObjectItem(p, "n");
  int v = cJSON_IsNumber(n) ? n->valueint : -1;
  cJSON_Delete(p);
  return v;
}

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    csInit(nullptr);
    disconnect_all();
  }
  void TearDown() override {
    disconnect_all();
    if (sim_) codec_sim_stop(sim_);
    sim_ = nullptr;
  }
  void Start(codec_sim_config cfg = codec_sim_config()) {
    sim_ = codec_sim_start(cfg);
    ASSERT_NE(sim_, nullptr);
    addr_ = "127.0.0.1:" + std::to_string(codec_sim_port(sim_));
  }
  int Connect() { return csConnect(addr_.c_str(), "davix", "2.0.0", "1.0.0", "9.0.0"); }
  // Connects and authenticates (the simulator takes any id when it has no serial).
  int ConnectReady(const char *id = "SERIAL1") {
    int inst = Connect();
    if (inst < 0) return inst;
    int rc = csAuth(inst, id);
    return rc == 0 ? inst : rc;
  }
  codec_sim *sim_ = nullptr;
  std::string addr_;
};

}  // namespace clienttest
