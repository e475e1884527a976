// Shared set-up of the operation tests: a codec simulator on loopback and
// client connections to it (plain TCP, since 127.0.0.1 never uses TLS).
// A connection is usable for calls right after new_csapi_client (state 1).
#pragma once

#include <gtest/gtest.h>

#include <cjson/cJSON.h>

#include <cstdio>
#include <functional>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codec_sim.h"
#include "csapi/client/cs_ops.h"
#include "csapi/client/cs_ops_hooks.h"
#include "csapi/client/csapi_client.h"
#include "csapi/client/csapi_rpc.h"

namespace opstest {

class OpsTest : public ::testing::Test {
 protected:
  virtual bool UseModel() const { return false; }

  void SetUp() override {
    codec_sim_config cfg;
    cfg.model = UseModel();
    sim_ = codec_sim_start(cfg);
    ASSERT_NE(sim_, nullptr);
    ASSERT_EQ(csInit(nullptr), 0);
    if (UseModel()) {
      // The model's notifications are dispatched only to a ready session.
      char addr[64];
      snprintf(addr, sizeof addr, "127.0.0.1:%d", codec_sim_port(sim_));
      inst_ = csConnect(addr, "davix", "2.0.0", "1.0.0", "9.0.0");
      ASSERT_GE(inst_, 0);
      conns_.push_back(inst_);
      ASSERT_EQ(csAuth(inst_, "SERIAL1"), 0);
    } else {
      inst_ = Connect();
    }
    ASSERT_GE(inst_, 0);
  }

  void TearDown() override {
    cs_ops_set_hooks(nullptr, nullptr);
    for (int i : conns_) delete_csapi_client(i);
    conns_.clear();
    if (sim_) codec_sim_stop(sim_);
    sim_ = nullptr;
  }

  int Connect() {
    char addr[64];
    snprintf(addr, sizeof addr, "127.0.0.1:%d", codec_sim_port(sim_));
    int i = new_csapi_client(addr);
    if (i >= 0) conns_.push_back(i);
    return i;
  }

  // Answers every request through fn(request) -> reply text.
  void Answer(std::function<std::string(const codec_sim_request &)> fn) {
    codec_sim_set_answer_hook(sim_, [fn](const codec_sim_request &r, std::string *reply) {
      *reply = fn(r);
      return static_cast<int>(CODEC_SIM_REPLY);
    });
  }
  void AnswerResult(const std::string &json) {
    Answer([json](const codec_sim_request &r) { return codec_sim_result_text(r, json); });
  }
  void AnswerError(int code) {
    Answer([code](const codec_sim_request &r) { return codec_sim_error_text(r, code, "refused"); });
  }

  codec_sim *sim_ = nullptr;
  int inst_ = -1;
  std::vector<int> conns_;
};

// The "params" object of a request exactly as it was written on the wire
// (strings and nesting skipped by their own syntax); "" when absent.
inline std::string RawParams(const std::string &text) {
  size_t at = text.find("\"params\":");
  if (at == std::string::npos) return "";
  size_t start = at + 9, depth = 0;
  bool in_str = false, esc = false;
  for (size_t i = start; i < text.size(); ++i) {
    char c = text[i];
    if (in_str) {
      if (esc) esc = false;
      else if (c == '\\') esc = true;
      else if (c == '"') in_str = false;
      continue;
    }
    if (c == '"') in_str = true;
    else if (c == '{' || c == '[') ++depth;
    else if (c == '}' || c == ']') {
      if (--depth == 0) return text.substr(start, i - start + 1);
    }
  }
  return "";
}

// Compares two JSON texts member by member: the same keys in the same order,
// the same kinds of value, numbers equal as numbers (so 1.5 and 1.500000 are
// one value, but 4294967295 and -1 are not). "" when they agree, else where
// they first differ.
inline std::string JsonDiff(const cJSON *a, const cJSON *b, const std::string &at) {
  if (!a || !b) return at + ": missing";
  if ((a->type & 0xFF) != (b->type & 0xFF)) return at + ": kinds differ";
  if (cJSON_IsNumber(a)) return a->valuedouble == b->valuedouble ? "" : at + ": numbers differ";
  if (cJSON_IsString(a)) return strcmp(a->valuestring, b->valuestring) == 0 ? "" : at + ": texts differ";
  if (cJSON_IsObject(a) || cJSON_IsArray(a)) {
    const cJSON *x = a->child, *y = b->child;
    for (int i = 0; x || y; ++i, x = x ? x->next : nullptr, y = y ? y->next : nullptr) {
      std::string where = at + "/" + (x && x->string ? x->string : std::to_string(i));
      if (!x || !y) return where + ": member count differs";
      if (cJSON_IsObject(a) && strcmp(x->string, y->string) != 0)
        return where + ": key " + x->string + " where " + y->string + " was expected";
      std::string d = JsonDiff(x, y, where);
      if (!d.empty()) return d;
    }
  }
  return "";
}

inline std::string JsonDiff(const std::string &got, const std::string &want) {
  cJSON *a = cJSON_Parse(got.c_str()), *b = cJSON_Parse(want.c_str());
  std::string d = !a ? "sent text is not JSON" : !b ? "expectation is not JSON" : JsonDiff(a, b, "params");
  cJSON_Delete(a);
  cJSON_Delete(b);
  return d;
}

}  // namespace opstest
