// A codec simulator in this process and helpers to run kyrctl against it
// and read its JSON lines.
#pragma once

#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "codec_sim.h"
#include "kyrctl_run.h"

namespace kyrtest {

struct JsonDeleter {
  void operator()(cJSON *j) const { cJSON_Delete(j); }
};
using Json = std::unique_ptr<cJSON, JsonDeleter>;

// Every line of out as a JSON object; a line that is not one fails the test.
inline std::vector<Json> JsonLines(const std::string &out) {
  std::vector<Json> v;
  size_t pos = 0;
  while (pos < out.size()) {
    size_t nl = out.find('\n', pos);
    std::string line = out.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    pos = nl == std::string::npos ? out.size() : nl + 1;
    if (line.empty()) continue;
    cJSON *j = cJSON_Parse(line.c_str());
    EXPECT_TRUE(j && cJSON_IsObject(j)) << "not a JSON object line: " << line;
    if (j) v.emplace_back(j);
  }
  return v;
}

inline std::string Str(const cJSON *o, const char *key) {
  const cJSON *m = cJSON_GetObjectItemCaseSensitive(o, key);
  return cJSON_IsString(m) ? m->valuestring : "";
}
inline double Num(const cJSON *o, const char *key) {
  const cJSON *m = cJSON_GetObjectItemCaseSensitive(o, key);
  return cJSON_IsNumber(m) ? m->valuedouble : -99999;
}

class KyrctlTest : public ::testing::Test {
 public:
  void Start(codec_sim_config cfg = {}) {
    cfg.dial_step_ms = 20;
    sim_ = codec_sim_start(cfg);
    ASSERT_NE(sim_, nullptr);
    addr_ = cfg.bind_addr + ":" + std::to_string(codec_sim_port(sim_));
  }
  // TLS on 127.0.0.2: the library never uses TLS towards 127.0.0.1.
  void StartTls(codec_sim_config cfg = {}) {
    cfg.tls = true;
    cfg.bind_addr = "127.0.0.2";
    Start(cfg);
  }
  void TearDown() override {
    if (sim_) codec_sim_stop(sim_);
  }
  // kyrctl [opts] ADDR args...
  RunResult Run(const std::vector<std::string> &opts, const std::vector<std::string> &args,
                const std::map<std::string, std::string> &env = {}) {
    std::vector<std::string> a = opts;
    a.push_back(addr_);
    a.insert(a.end(), args.begin(), args.end());
    return RunKyrctl(a, env);
  }
  codec_sim *sim_ = nullptr;
  std::string addr_;
};

}  // namespace kyrtest
