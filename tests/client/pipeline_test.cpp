// Pipelined calls against a scripted loopback peer: several requests in
// flight on one thread, answered in whatever order the peer chooses, and a
// lost connection failing every ticket that waits.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "csapi/client/cs_ops.h"
#include "csapi/client/csapi.h"
#include "ipc/libccom/ccom.h"
#include "support/test_servers.h"

namespace {

using kyrtest::TestConn;
using kyrtest::TestServer;

// A request the way the operation family builds one, in a pooled buffer.
ccom_msg_t *request(const char *method, int n) {
  RpcReq req;
  cJSON *tree = nullptr;
  if (allocRpcReq(&req, &tree, method, 1) != 0) return nullptr;
  cJSON_AddNumberToObject(req.params, "n", n);
  char *text = buildRpcReqMsg(&req, tree);
  cJSON_Delete(tree);
  ccom_msg_t *msg = csapi_client_msg_alloc();
  ccom_msg_strcpy(msg, text);
  free(text);
  return msg;
}

std::string member(const std::string &obj, const char *key) {
  cJSON *j = cJSON_Parse(obj.c_str());
  cJSON *v = cJSON_GetObjectItem(j, key);
  std::string out;
  if (cJSON_IsNumber(v)) out = std::to_string((long long)v->valuedouble);
  if (cJSON_IsObject(v)) {
    char *t = cJSON_PrintUnformatted(v);
    out = t;
    free(t);
  }
  cJSON_Delete(j);
  return out;
}

class Pipeline : public ::testing::Test {
 protected:
  void SetUp() override {
    csInit(nullptr);
    ASSERT_TRUE(server_.Start());
    std::string addr = "127.0.0.1:" + std::to_string(server_.port());
    std::vector<char> a(addr.begin(), addr.end());
    a.push_back('\0');
    inst_ = new_csapi_client(a.data());
    ASSERT_GE(inst_, 0);
    conn_ = server_.Accept();
    ASSERT_NE(conn_, nullptr);
  }
  void TearDown() override {
    if (inst_ >= 0) delete_csapi_client(inst_);
  }
  // The next n requests as the peer reads them: (id, n) pairs.
  std::vector<std::pair<std::string, std::string>> Read(int n) {
    std::vector<std::pair<std::string, std::string>> out;
    for (int i = 0; i < n; i++) {
      std::string obj;
      if (!conn_->RecvObject(&obj, 5000)) break;
      std::string params = member(obj, "params");
      out.push_back({member(obj, "id"), member(params, "n")});
    }
    return out;
  }
  TestServer server_;
  std::unique_ptr<TestConn> conn_;
  int inst_ = -1;
};

TEST_F(Pipeline, TicketsAnsweredOutOfOrderEachGetTheirOwnAnswer) {
  constexpr int kN = 4;
  csapi_ticket_t t[kN];
  ccom_msg_t *m[kN];
  for (int i = 0; i < kN; i++) {
    m[i] = request("echo", 100 + i);
    ASSERT_NE(m[i], nullptr);
    ASSERT_EQ(csapi_call_begin((unsigned)inst_, m[i], 5, &t[i]), 0);
  }
  // All four are on the wire before any answer: the peer sees them now.
  auto reqs = Read(kN);
  ASSERT_EQ(reqs.size(), (size_t)kN);
  // Answer last first; each answer carries its request's n as the result,
  // and the third gets a codec error instead.
  for (int i = kN - 1; i >= 0; i--) {
    std::string body = i == 2 ? "\"error\":{\"code\":-4,\"message\":\"no\"}" : "\"result\":" + reqs[i].second;
    ASSERT_TRUE(conn_->Send("{\"jsonrpc\":\"2.0\"," + body + ",\"id\":" + reqs[i].first + "}"));
  }
  // Ended in begin order, which is not the order of the answers.
  for (int i = 0; i < kN; i++) {
    int want = i == 2 ? -4 : 100 + i;
    EXPECT_EQ(csapi_call_end(&t[i]), want) << i;
    EXPECT_EQ(csError(), want) << i;
    EXPECT_EQ(member(m[i]->data, "id"), reqs[i].first) << "the answer left in the ticket's buffer is its own";
    csapi_client_msg_free(m[i]);
  }
}

TEST_F(Pipeline, LossFailsEveryWaitingTicketAtOnce) {
  constexpr int kN = 5;
  csapi_ticket_t t[kN];
  ccom_msg_t *m[kN];
  for (int i = 0; i < kN; i++) {
    m[i] = request("echo", i);
    ASSERT_EQ(csapi_call_begin((unsigned)inst_, m[i], 30, &t[i]), 0);
  }
  ASSERT_EQ(Read(kN).size(), (size_t)kN);
  auto t0 = std::chrono::steady_clock::now();
  conn_->Close(true);
  // Waiting for the last ticket first: the others must already be failed
  // when it returns, not each after a time-out of its own.
  EXPECT_EQ(csapi_call_end(&t[kN - 1]), CSAPI_ERR_NO_CONNECT);
  for (int i = 0; i < kN - 1; i++) EXPECT_EQ(csapi_call_end(&t[i]), CSAPI_ERR_NO_CONNECT) << i;
  EXPECT_EQ(csError(), CSAPI_ERR_NO_CONNECT);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_LT(ms, 5000) << "the call time-out is 30 s; a loss must not wait for it";
  for (ccom_msg_t *x : m) csapi_client_msg_free(x);
  // A begin after the loss fails at once and its end says the same.
  ccom_msg_t *late = request("echo", 9);
  csapi_ticket_t lt;
  EXPECT_EQ(csapi_call_begin((unsigned)inst_, late, 30, &lt), CSAPI_ERR_NO_CONNECT);
  EXPECT_EQ(csapi_call_end(&lt), CSAPI_ERR_NO_CONNECT);
  csapi_client_msg_free(late);
}

TEST_F(Pipeline, TypedOperationsDecodeIntoTheirOwnRecords) {
  CSConf conf{};
  conf.srvrInstance = inst_;
  conf.handle = 7;
  CSTerm a{}, b{};
  cs_op_ticket ta, tb;
  ASSERT_EQ(csTermGetBegin(&ta, &a, &conf, 0u), 0);
  ASSERT_EQ(csTermGetBegin(&tb, &b, &conf, 1u), 0);
  auto reqs = Read(2);
  ASSERT_EQ(reqs.size(), 2u);
  // The second request is answered first, with a codec error for the first.
  ASSERT_TRUE(conn_->Send("{\"jsonrpc\":\"2.0\",\"result\":{\"handle\":22,\"rate\":512,\"srvrInstance\":9},\"id\":" +
                          reqs[1].first + "}"));
  ASSERT_TRUE(conn_->Send("{\"jsonrpc\":\"2.0\",\"error\":{\"code\":-5,\"message\":\"x\"},\"id\":" + reqs[0].first +
                          "}"));
  a.rate = 77;
  EXPECT_EQ(cs_op_end(&ta), -5);
  EXPECT_EQ(csError(), -5);
  EXPECT_EQ(a.rate, 77u) << "an error answer leaves the record's fields alone";
  EXPECT_EQ(cs_op_end(&tb), 0);
  EXPECT_EQ(csError(), 0);
  EXPECT_EQ(b.handle, 22u);
  EXPECT_EQ(b.rate, 512u);
  EXPECT_EQ(b.srvrInstance, inst_) << "stamped with the instance the call went to";
  // A begin that cannot send still needs its end, which reports the failure.
  cs_op_ticket bad;
  EXPECT_EQ(csTermGetBegin(&bad, nullptr, &conf, 0u), CSAPI_ERR_BAD_PARAMETER);
  EXPECT_EQ(cs_op_end(&bad), CSAPI_ERR_BAD_PARAMETER);
  EXPECT_EQ(csError(), CSAPI_ERR_BAD_PARAMETER);
}

}  // namespace
