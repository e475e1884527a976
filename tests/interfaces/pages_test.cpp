// Pages and multi-record reads issue their independent requests together.
// Each read here runs twice against the codec model, once with every
// request answered before the next is sent (the operations' call hook set
// to the plain synchronous call) and once pipelined, first cleanly and then
// with each of its requests failing in turn; both runs must give the same
// result (keys and values in order, or the same failure), the same log
// lines and the same last error.
#include <gtest/gtest.h>
#include <stdio.h>

#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "csapi/client/cs_ops_hooks.h"
#include "ops/ops_fixture.h"
#include "service/interfaces/comm.h"
#include "service/interfaces/content.h"
#include "service/interfaces/directory.h"
#include "service/interfaces/kyr_iface.h"
#include "service/interfaces/settings.h"
#include "service/kyr_cache.h"
#include "service/kyr_service.h"
#include "support/log_capture.h"

namespace {

// A settings list as "key=value" lines (then released), or the failure.
std::string Pairs(int64_t head) {
  if (head <= 0) return "result " + std::to_string(head);
  std::string out;
  int32_t h = static_cast<int32_t>(head);
  for (int guard = 0; h != 0 && guard < 1000; guard++) {
    auto *e = static_cast<const SettingsStruct *>(kyr_list_node(h, sizeof(SettingsStruct)));
    if (!e) return out + "<broken chain>";
    out += std::string(e->name) + "=" + e->value + "\n";
    h = e->next;
  }
  SettingsListRelease(head);
  return out;
}

struct Outcome {
  std::string result;
  std::vector<std::string> logs;
  int last_error = 0;
  std::vector<std::pair<std::string, std::string>> requests;  // method, params
};

struct Read {
  const char *name;
  std::function<std::string()> run;
};

void NoEvents(callback_cookie *, int, int, int, jobject) {}

class Pages : public opstest::OpsTest {
 protected:
  bool UseModel() const override { return true; }

  void SetUp() override {
    OpsTest::SetUp();
    ASSERT_GE(inst_, 0);
    kyr_service_debug_set_server_instance(inst_);
    kyr_cache_clear_all();
    comm_debug_reset();
    comm_debug_set_event_sink(NoEvents);
    // Three ISDN lines of which the model has one: the page reads all three.
    Merge("IsdnNic", R"({"lineCount":3,"enable":1})");
    // A second far camera, so the far list has two reads after its group.
    uint32_t group = First("CameraFarGroup");
    Merge("CameraFarGroup", R"({"numCameras":2})");
    char cam[128];
    snprintf(cam, sizeof cam, R"({"parentHandle":%u,"id":12,"isNearCamera":0,"instance":1})", group);
    ASSERT_NE(codec_sim_record_merge(sim_, "Camera", 0, cam), 0u);
  }

  void TearDown() override {
    cs_ops_set_hooks(nullptr, nullptr);
    codec_sim_set_answer_hook(sim_, {});
    comm_debug_set_event_sink(nullptr);
    kyr_service_debug_set_server_instance(-1);
    OpsTest::TearDown();
  }

  uint32_t First(const std::string &kind) {
    auto h = codec_sim_record_handles(sim_, kind);
    return h.empty() ? 0 : h[0];
  }
  void Merge(const std::string &kind, const std::string &json) {
    ASSERT_NE(codec_sim_record_merge(sim_, kind, First(kind), json), 0u);
  }

  // The id of a call dialled and reported Active by the model.
  int DialActive() {
    EXPECT_EQ(comm_dial(0, "10.0.0.61", "h323", 1024), 0);
    auto terms = codec_sim_record_handles(sim_, "Term");
    for (int i = 0; i < 400 && !terms.empty(); i++) {
      std::string rec = codec_sim_record(sim_, "Term", terms.back());
      if (rec.find("\"state\":0") != std::string::npos) {
        cJSON *o = cJSON_Parse(rec.c_str());
        int id = cJSON_GetObjectItemCaseSensitive(o, "id")->valueint;
        cJSON_Delete(o);
        return id;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ADD_FAILURE() << "call never became Active";
    return -1;
  }

  Outcome Run(const Read &read, bool one_at_a_time) {
    if (one_at_a_time) cs_ops_set_hooks(nullptr, &csapi_client_call);
    codec_sim_clear_requests(sim_);
    Outcome o;
    {
      kyrtest::LogCapture log;
      o.result = read.run();
      o.last_error = csError();
      for (const auto &l : log.Lines())
        if (l.tag.rfind("KyrConnectLib", 0) == 0) o.logs.push_back(l.tag + ": " + l.text);
    }
    cs_ops_set_hooks(nullptr, nullptr);
    for (const auto &r : codec_sim_requests(sim_)) o.requests.push_back({r.method, r.params});
    return o;
  }

  // Answers every request equal to `failing` with error -4.
  void FailOnly(const std::pair<std::string, std::string> &failing) {
    codec_sim_set_answer_hook(sim_, [failing](const codec_sim_request &r, std::string *reply) {
      if (r.method != failing.first || r.params != failing.second) return static_cast<int>(CODEC_SIM_DEFAULT);
      *reply = codec_sim_error_text(r, -4);
      return static_cast<int>(CODEC_SIM_REPLY);
    });
  }

  void Compare(const Read &read, const std::string &what) {
    Outcome seq = Run(read, true);
    Outcome pipe = Run(read, false);
    EXPECT_EQ(pipe.result, seq.result) << read.name << what;
    EXPECT_EQ(pipe.logs, seq.logs) << read.name << what;
    EXPECT_EQ(pipe.last_error, seq.last_error) << read.name << what;
  }

  void CheckEveryFailure(const Read &read) {
    codec_sim_set_answer_hook(sim_, {});
    Outcome clean = Run(read, true);
    EXPECT_GT(clean.requests.size(), 1u) << read.name;
    Compare(read, " (no failure)");
    std::set<std::pair<std::string, std::string>> seen;
    for (const auto &req : clean.requests) {
      if (!seen.insert(req).second) continue;
      FailOnly(req);
      Compare(read, " failing " + req.first + " " + req.second);
    }
    codec_sim_set_answer_hook(sim_, {});
  }
};

TEST_F(Pages, SettingsPagesMatchOneAtATimeWhicheverFetchFails) {
  const Read pages[] = {
      {"security", [] { return Pairs(GetSecuritySystemSettings()); }},
      {"directory", [] { return Pairs(GetDirectorySystemSettings()); }},
      {"audio", [] { return Pairs(GetAudioSystemSettings()); }},
      {"system", [] { return Pairs(GetSysSystemSettings()); }},
      {"comm", [] { return Pairs(GetCommSystemSettings()); }},
      {"calendar", [] { return Pairs(GetCalendarSystemSettings()); }},
      {"audio updates", [this] {
         CSAudio audio{};
         if (csAudioGet(&audio, inst_) < 0) return std::string("no audio");
         return Pairs(GetAudioSettingsUpdates(&audio, 0x2));
       }},
  };
  for (const Read &r : pages) CheckEveryFailure(r);
  // The pages held real content, not just failures.
  EXPECT_NE(Run(pages[4], false).result.find("isdn_state_line_0="), std::string::npos);
  EXPECT_NE(Run(pages[3], false).result.find("inkpad_fw_ver="), std::string::npos);
}

TEST_F(Pages, MultiRecordReadsMatchOneAtATimeWhicheverFetchFails) {
  int id = DialActive();
  ASSERT_GT(id, 0);
  auto media = [id] {
    int64_t head = comm_get_call_stats(0, id);
    std::string out = "head " + std::to_string(head > 0) + "\n";
    for (int32_t h = static_cast<int32_t>(head); h;) {
      auto *m = static_cast<KyrCallMediaStruct *>(kyr_list_node(h, sizeof(KyrCallMediaStruct)));
      if (!m) return out + "<broken chain>";
      out += std::to_string(m->index) + " " + m->alg + " " + std::to_string(m->packetsLost) + "\n";
      h = kyr_list_next(m);
    }
    comm_release_list(head);
    return out;
  };
  auto servers = [] {
    std::string out = "rc " + std::to_string(getKnownDirectoryServers()) + "\n";
    CSDirSrvr s[KYR_DIR_MAX_SERVERS];
    int n = DirectoryKnownServers(s, KYR_DIR_MAX_SERVERS);
    for (int i = 0; i < n; i++) out += std::to_string(s[i].protocol) + " " + s[i].id + "\n";
    return out + "count " + std::to_string(DirectoryGetNumberServers(0xFFFFFFFFu));
  };
  auto far = [] {
    int64_t head = kyr_cam_far_list();
    std::string out = "far " + std::to_string(kyr_cam_num_far()) + " head " + std::to_string(head > 0) + "\n";
    for (int64_t h = head; h > 0;) {
      auto *n = static_cast<const KyrFarCameraList *>(kyr_list_node(h, sizeof(KyrFarCameraList)));
      if (!n) return out + "<broken chain>";
      out += std::to_string(n->id) + "\n";
      h = n->next;
    }
    if (head > 0) kyr_cam_far_list_release(head);
    return out;
  };
  auto post_connect = [this] {
    kyr_cache_clear_all();
    DirectoryForgetServers();
    std::string out = "rc " + std::to_string(kyr_post_connect_fetch(inst_)) + "\n";
    CSComm comm;
    CSAudio audio;
    CSDir dir;
    int c = kyr_cache_comm_load(&comm), a = kyr_cache_audio_load(&audio), d = kyr_cache_dir_load(&dir);
    out += "cached " + std::to_string(c) + std::to_string(a) + std::to_string(d) + " volume " +
           std::to_string(audio.volume) + "\n";
    CSDirSrvr s[KYR_DIR_MAX_SERVERS];
    int n = DirectoryKnownServers(s, KYR_DIR_MAX_SERVERS);
    for (int i = 0; i < n; i++) out += std::to_string(s[i].protocol) + " " + s[i].id + "\n";
    return out;
  };
  // Conferences, their calls and the pending ones (an incoming call waits).
  codec_sim_incoming_call(sim_, "10.0.0.77");
  auto calls = [] {
    int64_t head = comm_get_current_calls();
    std::string out = "calls " + std::to_string(comm_get_number_current_calls()) + "\n";
    for (int32_t h = static_cast<int32_t>(head); h > 0;) {
      auto *c = static_cast<KyrCallStruct *>(kyr_list_node(h, sizeof(KyrCallStruct)));
      if (!c) return out + "<broken chain>";
      out += std::to_string(c->index) + " " + c->addr + "\n";
      h = kyr_list_next(c);
    }
    if (head > 0) comm_release_list(head);
    int64_t confs = comm_get_current_conferences();
    for (int32_t h = static_cast<int32_t>(confs); h > 0;) {
      auto *c = static_cast<KyrConferenceStruct *>(kyr_list_node(h, sizeof(KyrConferenceStruct)));
      if (!c) return out + "<broken chain>";
      out += "conference " + std::to_string(c->index) + " " + c->name + "\n";
      h = kyr_list_next(c);
    }
    if (confs > 0) comm_release_list(confs);
    return out;
  };
  const Read reads[] = {{"call stats", media},     {"directory servers", servers}, {"far cameras", far},
                        {"post-connect", post_connect}, {"current calls", calls}};
  for (const Read &r : reads) CheckEveryFailure(r);
  EXPECT_NE(Run(reads[0], false).result.find("H.264"), std::string::npos);
  EXPECT_NE(Run(reads[2], false).result.find("\n12\n"), std::string::npos);
  EXPECT_NE(Run(reads[3], false).result.find("rc 0\ncached 111"), std::string::npos);
  EXPECT_NE(Run(reads[4], false).result.find("-1 10.0.0.77"), std::string::npos) << Run(reads[4], false).result;
}

}  // namespace
