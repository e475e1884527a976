// Shared set-up of the calendar, camera and video tests: the codec model on
// loopback, a session with it, and the interfaces pointed at that session.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ops/ops_fixture.h"
#include "service/interfaces/kyr_iface.h"
#include "service/kyr_handles.h"
#include "service/kyr_service.h"

namespace mediatest {

class MediaTest : public opstest::OpsTest {
 protected:
  bool UseModel() const override { return true; }

  void SetUp() override {
    opstest::OpsTest::SetUp();
    kyr_service_debug_set_server_instance(inst_);
    handles_before_ = kyr_handle_count();
  }

  void TearDown() override {
    kyr_service_debug_set_server_instance(-1);
    opstest::OpsTest::TearDown();
  }

  // Requests of method since the log was last cleared.
  std::vector<codec_sim_request> Sent(const std::string &method) {
    std::vector<codec_sim_request> out;
    for (auto &r : codec_sim_requests(sim_))
      if (r.method == method) out.push_back(r);
    return out;
  }

  // An integer member of a request's params (0 when absent).
  static long long Param(const codec_sim_request &r, const char *key) {
    cJSON *p = cJSON_Parse(r.params.c_str());
    const cJSON *v = cJSON_GetObjectItemCaseSensitive(p, key);
    long long out = cJSON_IsNumber(v) ? static_cast<long long>(v->valuedouble) : 0;
    cJSON_Delete(p);
    return out;
  }

  // An integer member of an object member of a request's params.
  static long long Member(const codec_sim_request &r, const char *obj, const char *key) {
    cJSON *p = cJSON_Parse(r.params.c_str());
    const cJSON *o = cJSON_GetObjectItemCaseSensitive(p, obj);
    const cJSON *v = cJSON_GetObjectItemCaseSensitive(o, key);
    long long out = cJSON_IsNumber(v) ? static_cast<long long>(v->valuedouble) : 0;
    cJSON_Delete(p);
    return out;
  }

  // Lets every method but `method` through to the model; `method` is
  // answered by fn.
  void Override(const std::string &method, std::function<std::string(const codec_sim_request &)> fn) {
    codec_sim_set_answer_hook(sim_, [method, fn](const codec_sim_request &r, std::string *reply) {
      if (r.method != method) return static_cast<int>(CODEC_SIM_DEFAULT);
      *reply = fn(r);
      return static_cast<int>(CODEC_SIM_REPLY);
    });
  }

  size_t handles_before_ = 0;
};

}  // namespace mediatest
