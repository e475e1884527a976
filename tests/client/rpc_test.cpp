// JSON-RPC records, number printing, the top-level scanner, error texts and
// the per-thread last error.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "csapi/client/csapi.h"
#include "csapi/client/csapi_internal.h"

namespace {

std::string take(char *text) {
  std::string s = text ? text : "<null>";
  free(text);
  return s;
}

TEST(RpcReq, WithoutIdHasNoIdMember) {
  RpcReq req;
  cJSON *tree = nullptr;
  ASSERT_EQ(allocRpcReq(&req, &tree, "x", 0), 0);
  EXPECT_EQ(req.id, nullptr);
  EXPECT_EQ(take(buildRpcReqMsg(&req, tree)), R"({"method":"x","params":{},"jsonrpc":"2.0"})");
  cJSON_Delete(tree);
}

TEST(RpcReq, EveryRequestGetsItsOwnPositiveId) {
  // Two requests built on one thread with the same id argument (what a
  // thread-based scheme would give) must still differ on the wire.
  std::set<int> seen;
  for (int i = 0; i < 50; i++) {
    RpcReq req;
    cJSON *tree = nullptr;
    ASSERT_EQ(allocRpcReq(&req, &tree, "csTermGet", 1234), 0);
    ASSERT_TRUE(cJSON_IsNumber(req.id));
    int id = req.id->valueint;
    EXPECT_GT(id, 0);
    EXPECT_TRUE(seen.insert(id).second) << "id repeated: " << id;
    cJSON_AddNumberToObject(req.params, "handle", 3);
    std::string text = take(buildRpcReqMsg(&req, tree));
    EXPECT_EQ(text, R"({"method":"csTermGet","params":{"handle":3},"id":)" + std::to_string(id) + R"(,"jsonrpc":"2.0"})");
    cJSON_Delete(tree);
  }
}

TEST(RpcReq, IdsStayUniqueAcrossThreads) {
  constexpr int kThreads = 4, kEach = 2000;
  std::vector<std::vector<int32_t>> got(kThreads);
  std::vector<std::thread> ts;
  for (int t = 0; t < kThreads; t++)
    ts.emplace_back([&, t] {
      for (int i = 0; i < kEach; i++) got[t].push_back(csapi_next_request_id());
    });
  for (auto &t : ts) t.join();
  std::set<int32_t> all;
  for (auto &v : got)
    for (int32_t id : v) {
      EXPECT_GT(id, 0);
      all.insert(id);
    }
  EXPECT_EQ(all.size(), (size_t)kThreads * kEach);
}

TEST(RpcReq, NullArgumentsFail) {
  RpcReq req;
  cJSON *tree = nullptr;
  EXPECT_EQ(allocRpcReq(nullptr, &tree, "x", 0), -1);
  EXPECT_EQ(allocRpcReq(&req, nullptr, "x", 0), -1);
  EXPECT_EQ(allocRpcReq(&req, &tree, nullptr, 0), -1);
  EXPECT_EQ(buildRpcReqMsg(nullptr, nullptr), nullptr);
}

struct NumberCase {
  double value;
  const char *text;
};

class NumberPrinting : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberPrinting, PrintsAsTheWireExpects) {
  RpcReq req;
  cJSON *tree = nullptr;
  ASSERT_EQ(allocRpcReq(&req, &tree, "m", 0), 0);
  cJSON_AddNumberToObject(req.params, "v", GetParam().value);
  std::string text = take(buildRpcReqMsg(&req, tree));
  EXPECT_EQ(text, std::string(R"({"method":"m","params":{"v":)") + GetParam().text + R"(},"jsonrpc":"2.0"})");
  // Printing must not change the caller's tree.
  EXPECT_TRUE(cJSON_IsNumber(cJSON_GetObjectItem(req.params, "v")));
  cJSON_Delete(tree);
}

INSTANTIATE_TEST_SUITE_P(Numbers, NumberPrinting,
                         ::testing::Values(NumberCase{7, "7"}, NumberCase{-2147483648.0, "-2147483648"},
                                           NumberCase{2147483647.0, "2147483647"},
                                           NumberCase{2147483648.0, "2147483648"},
                                           NumberCase{4294967295.0, "4294967295"},
                                           NumberCase{-5000000000.0, "-5000000000"}, NumberCase{1.5, "1.500000"},
                                           NumberCase{-0.25, "-0.250000"}, NumberCase{1e-7, "1.000000e-07"},
                                           NumberCase{2500000000.5, "2.500000e+09"}, NumberCase{NAN, "null"},
                                           NumberCase{INFINITY, "null"}));

TEST(RpcRsp, ErrorAndResultTogether) {
  RpcRsp rsp;
  cJSON *tree = nullptr;
  ASSERT_EQ(parseRpcRspMsg(&rsp, &tree,
                           R"({"result":{"a":1},"error":{"code":-23,"message":"Pairing required","data":{"x":2}},"id":9,"jsonrpc":"2.0"})"),
            0);
  EXPECT_EQ(rsp.code, -23);
  EXPECT_STREQ(rsp.message, "Pairing required");
  ASSERT_TRUE(cJSON_IsObject(rsp.result));
  EXPECT_EQ(cJSON_GetObjectItem(rsp.result, "a")->valueint, 1);
  EXPECT_EQ(cJSON_GetObjectItem(rsp.data, "x")->valueint, 2);
  EXPECT_EQ(rsp.id->valueint, 9);
  EXPECT_STREQ(rsp.jsonrpc, "2.0");
  cJSON_Delete(tree);
}

TEST(RpcRsp, BareResponseAndBadText) {
  RpcRsp rsp;
  cJSON *tree = nullptr;
  ASSERT_EQ(parseRpcRspMsg(&rsp, &tree, R"({"id":5,"jsonrpc":"2.0"})"), 0);
  EXPECT_EQ(rsp.code, 0);
  EXPECT_EQ(rsp.result, nullptr);
  EXPECT_STREQ(rsp.message, "");
  cJSON_Delete(tree);

  tree = reinterpret_cast<cJSON *>(1);
  EXPECT_EQ(parseRpcRspMsg(&rsp, &tree, "not json {"), -1);
  EXPECT_EQ(tree, nullptr);
}

TEST(RpcRsp, LongTextsAreCutToTheirFields) {
  std::string msg(2000, 'm'), ver(100, 'v');
  std::string text = R"({"error":{"code":-1,"message":")" + msg + R"("},"id":1,"jsonrpc":")" + ver + R"("})";
  RpcRsp rsp;
  cJSON *tree = nullptr;
  ASSERT_EQ(parseRpcRspMsg(&rsp, &tree, text.c_str()), 0);
  EXPECT_EQ(strlen(rsp.message), 1023u);
  EXPECT_EQ(strlen(rsp.jsonrpc), 31u);
  cJSON_Delete(tree);
}

TEST(RpcReqParse, NotificationAndMissingParams) {
  RpcReq req;
  cJSON *tree = nullptr;
  ASSERT_EQ(parseRpcReqMsg(&req, &tree, R"({"method":"csCalChangedCB","params":{"flags":3},"jsonrpc":"2.0"})"), 0);
  EXPECT_STREQ(req.method, "csCalChangedCB");
  EXPECT_EQ(req.id, nullptr);
  EXPECT_EQ(cJSON_GetObjectItem(req.params, "flags")->valueint, 3);
  cJSON_Delete(tree);

  ASSERT_EQ(parseRpcReqMsg(&req, &tree, R"({"method":"x","id":77})"), -1);
  ASSERT_NE(tree, nullptr);  // still handed back
  ASSERT_NE(req.id, nullptr);
  EXPECT_EQ(req.id->valueint, 77);
  EXPECT_EQ(cJSON_GetObjectItem(tree, "id"), nullptr);  // detached
  cJSON_Delete(req.id);
  cJSON_Delete(tree);
}

TEST(RpcRspBuild, ErrorAndResultShapes) {
  RpcReq req;
  cJSON *reqTree = nullptr;
  ASSERT_EQ(parseRpcReqMsg(&req, &reqTree, R"({"method":"x","params":{},"id":12,"jsonrpc":"2.0"})"), 0);
  RpcRsp rsp;
  EXPECT_EQ(take(buildRpcRspIntMsg(&rsp, &req, -10, "Bad parameter")),
            R"({"error":{"code":-10,"message":"Bad parameter"},"id":12,"jsonrpc":"2.0"})");
  EXPECT_EQ(take(buildRpcRspIntMsg(&rsp, &req, 0, nullptr)), R"({"result":0,"id":12,"jsonrpc":"2.0"})");
  cJSON_Delete(req.id);
  cJSON_Delete(reqTree);

  // A request without an id is answered with a null id.
  ASSERT_EQ(parseRpcReqMsg(&req, &reqTree, R"({"method":"x","params":{}})"), 0);
  EXPECT_EQ(take(buildRpcRspIntMsg(&rsp, &req, -1, "Unknown function")),
            R"({"error":{"code":-1,"message":"Unknown function"},"id":null,"jsonrpc":"2.0"})");
  cJSON_Delete(reqTree);
}

struct ErrCase {
  int code;
  const char *text;
};

class ErrorTexts : public ::testing::TestWithParam<ErrCase> {};

TEST_P(ErrorTexts, Text) { EXPECT_STREQ(csapi_err_get_string(GetParam().code), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(Codes, ErrorTexts,
                         ::testing::Values(ErrCase{0, "No error"}, ErrCase{-18, "No Connection"},
                                           ErrCase{-32, "Server identity changed"}, ErrCase{-33, "Unknown error"},
                                           ErrCase{1, "Unknown error"},
                                           ErrCase{-31, "Too many attempts"}, ErrCase{-1, "Unknown function"},
                                           ErrCase{-24, "I/O error"}, ErrCase{-2147483647 - 1, "Unknown error"}));

TEST(LastError, EveryThreadKeepsItsOwn) {
  csInit(nullptr);
  csapi_err_set(-18);
  std::string otherText;
  int otherAfterSet = 0, otherFresh = 99;
  std::thread t([&] {
    otherFresh = csError();
    csapi_err_set(-23);
    otherAfterSet = csError();
    otherText = csErrorString();
  });
  t.join();
  EXPECT_EQ(otherFresh, 0);
  EXPECT_EQ(otherAfterSet, -23);
  EXPECT_EQ(otherText, "Pairing required");
  EXPECT_EQ(csError(), -18);
  EXPECT_STREQ(csErrorString(), "No Connection");
}

struct ScanCase {
  const char *text;
  bool ok;
  bool hasId;
  long long id;
  const char *method;  // null: none
};

class TopScanner : public ::testing::TestWithParam<ScanCase> {};

TEST_P(TopScanner, FindsOnlyTopLevelMembers) {
  const ScanCase &c = GetParam();
  csapi_detail::TopScan s;
  bool ok = csapi_detail::scan_top(c.text, strlen(c.text), &s);
  ASSERT_EQ(ok, c.ok) << c.text;
  if (!ok) return;
  EXPECT_EQ(s.hasId, c.hasId) << c.text;
  if (c.hasId) {
    EXPECT_EQ(s.id, c.id) << c.text;
  }
  if (c.method) {
    EXPECT_EQ(std::string(s.method, s.methodLen), c.method) << c.text;
  } else {
    EXPECT_EQ(s.method, nullptr) << c.text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Messages, TopScanner,
    ::testing::Values(
        ScanCase{R"({"result":1,"id":42,"jsonrpc":"2.0"})", true, true, 42, nullptr},
        ScanCase{R"({"method":"csAuth","params":{"id":"serial","x":{"id":5}},"id":-7,"jsonrpc":"2.0"})", true, true,
                 -7, "csAuth"},
        ScanCase{R"({"params":{"id":9},"method":"csTermChangedCB"})", true, false, 0, "csTermChangedCB"},
        ScanCase{R"({"method":"n","params":{"s":"}{\"id\":3"},"id":0})", true, true, 0, "n"},
        ScanCase{R"( {"id":"5","method":"m"} )", true, false, 0, "m"},
        ScanCase{R"({"result":[1,{"id":2}],"id":3000000000})", true, true, 2147483647, nullptr},
        ScanCase{R"({"id":1.9})", true, true, 1, nullptr}, ScanCase{"{}", true, false, 0, nullptr},
        ScanCase{"not json", false, false, 0, nullptr}, ScanCase{R"({"id":4)", false, false, 0, nullptr},
        ScanCase{R"({"method":"m","params":{"a":"unterminated})", false, false, 0, nullptr},
        ScanCase{R"({"id" 4})", false, false, 0, nullptr}, ScanCase{"", false, false, 0, nullptr}));

}  // namespace
