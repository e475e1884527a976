// The audio, system and security interfaces without a JVM: the audio
// notification's events and their order, the cached record and the
// Java-visible structure, SHA-1 texts, DTMF, mute and volume against the
// codec model, wake and sleep, and the update callbacks' posting.
#include <gtest/gtest.h>

#include <string.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "codec_sim.h"
#include "csapi/client/csapi_client.h"
#include "csapi/client/csapi_rpc.h"
#include "ipc/libccom/ccom.h"
#include "service/interfaces/audio.h"
#include "service/interfaces/kyr_iface.h"
#include "service/interfaces/security.h"
#include "service/interfaces/settings.h"
#include "service/interfaces/system.h"
#include "service/kyr_cache.h"
#include "iface_session.h"
#include "support/log_capture.h"

namespace {

struct Ev {
  int code, v1, v2;
  bool operator==(const Ev &o) const { return code == o.code && v1 == o.v1 && v2 == o.v2; }
};

std::ostream &operator<<(std::ostream &os, const Ev &e) {
  return os << "(" << e.code << ", " << e.v1 << ", " << e.v2 << ")";
}

// Records events; releases every list it was handed when it goes away.
struct Recorder {
  std::vector<Ev> events;
  std::vector<int> lists;
  static void Post(void *ctx, int code, int v1, int v2) {
    auto *r = static_cast<Recorder *>(ctx);
    r->events.push_back({code, v1, v2});
    if ((code == EVENT_AUDIO_SETTINGS_CHANGED || code == EVENT_SYSTEM_SETTINGS_CHANGED ||
         code == EVENT_SECURITY_SETTINGS_CHANGED) &&
        v1 > 0)
      r->lists.push_back(v1);
  }
  std::vector<int> Codes() const {
    std::vector<int> out;
    for (const auto &e : events) out.push_back(e.code);
    return out;
  }
  ~Recorder() {
    for (int h : lists) SettingsListRelease(h);
  }
};

CSAudio SampleAudio() {
  CSAudio a;
  memset(&a, 0, sizeof a);
  a.srvrInstance = 0;
  a.handle = 77;
  a.maxIns = 4;
  a.numIns = 2;
  a.maxOuts = 2;
  a.numOuts = 1;
  a.volume = 50;
  a.muted = 0;
  a.muteAutoAnswer = 1;
  a.liveMusicMode = 0;
  a.quorvexMics = 1;
  a.VCRAlwaysOn = 1;
  strcpy(a.incomingCallTone, "Ring1");
  strcpy(a.alertTone, "Alert1");
  a.audioCaps = 5;
  return a;
}

// ---- the audio notification, with a recorder instead of Java ----

class AudioChanged : public ::testing::Test {
 protected:
  void SetUp() override {
    kyr_cache_clear_all();
    cached_ = SampleAudio();
    kyr_cache_audio_store(&cached_);
  }
  void TearDown() override { kyr_cache_clear_all(); }
  CSAudio cached_;
};

TEST_F(AudioChanged, CachedVolumePostsNoVolumeEventButSystemAndSettings) {
  Recorder r;
  CSAudio n = cached_;
  kyr_audio_changed(&n, CSAUDIO_VOLUME_FIELD, Recorder::Post, &r);
  EXPECT_EQ(r.Codes(), (std::vector<int>{EVENT_AUDIO_SYSTEM_CHANGED, EVENT_AUDIO_SETTINGS_CHANGED}));
}

TEST_F(AudioChanged, EventsComeInOrderAndTheCacheFollowsTheRecord) {
  Recorder r;
  CSAudio n = cached_;
  n.volume = 70;
  n.muted = 1;
  n.audioCaps = 9;
  kyr_audio_changed(&n, CSAUDIO_VOLUME_FIELD | CSAUDIO_MUTED_FIELD | CSAUDIO_AUDIO_CAPS_FIELD, Recorder::Post, &r);
  ASSERT_EQ(r.events.size(), 5u);
  EXPECT_EQ(r.events[0], (Ev{EVENT_AUDIO_VOLUME_CHANGED, 70, 0}));
  EXPECT_EQ(r.events[1], (Ev{EVENT_AUDIO_MUTE_CHANGED, 1, 0}));
  EXPECT_EQ(r.events[2], (Ev{EVENT_AUDIO_CAPS_CHANGED, 9, 0}));
  EXPECT_EQ(r.events[3].code, EVENT_AUDIO_SYSTEM_CHANGED);
  EXPECT_EQ(r.events[4].code, EVENT_AUDIO_SETTINGS_CHANGED);

  // The system event names the static structure by its handle, and it holds
  // the new record.
  int32_t h = r.events[3].v1;
  EXPECT_GT(h, 0);
  EXPECT_EQ(h, kyr_audio_system_handle());
  auto *s = static_cast<const AudioSystemStruct *>(kyr_handle_resolve(h, sizeof(AudioSystemStruct), KYR_HANDLE_STATIC));
  ASSERT_EQ(s, kyr_audio_system());
  EXPECT_EQ(s->volume, 70);
  EXPECT_EQ(s->muted, 1);
  EXPECT_EQ(s->audioCaps, 9);

  CSAudio now;
  ASSERT_EQ(kyr_cache_audio_load(&now), 1);
  EXPECT_EQ(now.volume, 70u);
  EXPECT_EQ(now.muted, 1u);

  // The same notification again: the values are cached now, only the
  // capabilities are announced again.
  Recorder again;
  kyr_audio_changed(&n, CSAUDIO_VOLUME_FIELD | CSAUDIO_MUTED_FIELD | CSAUDIO_AUDIO_CAPS_FIELD, Recorder::Post,
                    &again);
  EXPECT_EQ(again.Codes(), (std::vector<int>{EVENT_AUDIO_CAPS_CHANGED, EVENT_AUDIO_SYSTEM_CHANGED,
                                             EVENT_AUDIO_SETTINGS_CHANGED}));
}

TEST_F(AudioChanged, AChangedValueWithoutItsFlagPostsNothingForIt) {
  Recorder r;
  CSAudio n = cached_;
  n.volume = 10;
  n.muted = 1;
  kyr_audio_changed(&n, CSAUDIO_ALERT_TONE_FIELD, Recorder::Post, &r);
  EXPECT_EQ(r.Codes(), (std::vector<int>{EVENT_AUDIO_SYSTEM_CHANGED, EVENT_AUDIO_SETTINGS_CHANGED}));
  EXPECT_EQ(kyr_audio_system()->volume, 10) << "the record is still copied";
}

TEST_F(AudioChanged, NullRecordIsIgnored) {
  Recorder r;
  kyr_audio_changed(nullptr, CSAUDIO_VOLUME_FIELD, Recorder::Post, &r);
  EXPECT_TRUE(r.events.empty());
}

TEST_F(AudioChanged, StructureHoldsEveryFieldAndTonesCutTo31) {
  Recorder r;
  CSAudio n = cached_;
  // A tone that fills its whole field, without a terminator.
  memset(n.incomingCallTone, 'T', sizeof n.incomingCallTone);
  memset(n.alertTone, 'A', sizeof n.alertTone);
  kyr_audio_changed(&n, 0, Recorder::Post, &r);
  const AudioSystemStruct *s = kyr_audio_system();
  const unsigned char *raw = reinterpret_cast<const unsigned char *>(s);
  EXPECT_EQ(std::string(s->incomingCallTone), std::string(31, 'T'));
  EXPECT_EQ(std::string(s->alertTone), std::string(31, 'A'));
  EXPECT_EQ(raw[79], 0);
  EXPECT_EQ(raw[111], 0);
  const int32_t expect[] = {0, 77, 4, 2, 2, 1, 50, 0, 1, 0, 1, 1};
  for (int i = 0; i < 12; i++) {
    int32_t v;
    memcpy(&v, raw + 4 * i, 4);
    EXPECT_EQ(v, expect[i]) << "integer at offset " << 4 * i;
  }
  int32_t caps;
  memcpy(&caps, raw + 112, 4);
  EXPECT_EQ(caps, 5);
}

// ---- posting update lists ----

TEST(UpdatePosting, AListNobodyCanReceiveIsFreed) {
  SettingsStruct *first = nullptr, *last = nullptr;
  int v = 3;
  ASSERT_NE(newSettingsElement(&first, &last, "k", &v, 0), nullptr);
  int64_t head = SettingsListHandle(first);
  ASSERT_GT(head, 0);
  size_t live = kyr_handle_count();
  kyrtest::LogCapture log;  // send_event without a service logs and drops
  kyr_post_settings_list(kyr_post_to_java, nullptr, EVENT_SYSTEM_SETTINGS_CHANGED, head);
  EXPECT_EQ(kyr_handle_count(), live - 1);
  EXPECT_EQ(kyr_list_node(head, sizeof(SettingsStruct)), nullptr);
}

TEST(UpdatePosting, ValuesPassAsTheirThirtyTwoBits) {
  Recorder r;
  kyr_post_settings_list(Recorder::Post, &r, EVENT_SECURITY_SETTINGS_CHANGED, 0);
  kyr_post_settings_list(Recorder::Post, &r, EVENT_SECURITY_SETTINGS_CHANGED, -1);
  EXPECT_EQ(r.events, (std::vector<Ev>{{EVENT_SECURITY_SETTINGS_CHANGED, 0, 0}, {EVENT_SECURITY_SETTINGS_CHANGED, -1, 0}}));
}

TEST(UpdatePosting, NullRecordsPostNothing) {
  Recorder r;
  kyrtest::LogCapture log;
  kyr_on_sys_settings_changed(nullptr, 1, Recorder::Post, &r);
  kyr_on_security_pwd_changed(nullptr, 0, Recorder::Post, &r);
  EXPECT_TRUE(r.events.empty());
  EXPECT_EQ(log.Count("on_sys_settings_changed: no record", KYR_SYSTEM_TAG), 1u);
}

// The callbacks hand the converters' lists on: one key for the system name,
// nothing for a password other than the meeting password.
TEST(UpdateCallbacks, SystemNamePostsItsOneKeyList) {
  CSSys sys;
  memset(&sys, 0, sizeof sys);
  strcpy(sys.systemName, "Board Room");
  strcpy(sys.hostName, "board");
  Recorder r;
  kyr_on_sys_settings_changed(&sys, CSSYS_SYSTEM_NAME_FIELD, Recorder::Post, &r);
  ASSERT_EQ(r.events.size(), 1u);
  EXPECT_EQ(r.events[0].code, EVENT_SYSTEM_SETTINGS_CHANGED);
  EXPECT_EQ(r.events[0].v2, 0);
  auto *e = static_cast<const SettingsStruct *>(kyr_list_node(r.events[0].v1, sizeof(SettingsStruct)));
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->name, "system_name");
  EXPECT_STREQ(e->value, "Board Room");
  EXPECT_EQ(e->next, 0);
}

TEST(UpdateCallbacks, PasswordOfAnotherTypePostsZero) {
  CSSecPwd pwd;
  memset(&pwd, 0, sizeof pwd);
  pwd.type = 2;
  pwd.valid = 0x80000000u;
  Recorder r;
  kyr_on_security_pwd_changed(&pwd, 0, Recorder::Post, &r);
  pwd.type = 1;
  kyr_on_security_pwd_changed(&pwd, 0, Recorder::Post, &r);
  ASSERT_EQ(r.events.size(), 2u);
  EXPECT_EQ(r.events[0], (Ev{EVENT_SECURITY_SETTINGS_CHANGED, 0, 0}));
  EXPECT_GT(r.events[1].v1, 0);
  auto *e = static_cast<const SettingsStruct *>(kyr_list_node(r.events[1].v1, sizeof(SettingsStruct)));
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->name, "meeting_password_present");
  EXPECT_STREQ(e->value, "1");
}

TEST(UpdateCallbacks, EveryCallbackPostsItsEventEvenWithNothingToList) {
  Recorder r;
  CSHomeScreen hs{};
  CSLog lg{};
  CSLan lan{};
  CSTime tm{};
  CSProvisioning pr{};
  CSSys sys{};
  CSSec sec{};
  CSSecPwdValidity val{};
  CSSecPwdAttr attr{};
  val.type = 3;
  attr.type = 3;
  kyr_on_home_screen_changed(&hs, 0, Recorder::Post, &r);
  kyr_on_log_settings_changed(&lg, 0, Recorder::Post, &r);
  kyr_on_lan_settings_changed(&lan, 0, Recorder::Post, &r);
  kyr_on_time_settings_changed(&tm, CSTIME_TIME_FIELD, Recorder::Post, &r);
  kyr_on_provisioning_settings_changed(&pr, 0, Recorder::Post, &r);
  kyr_on_sys_settings_changed(&sys, CSSYS_STATE_FIELD, Recorder::Post, &r);
  kyr_on_security_settings_changed(&sec, 0, Recorder::Post, &r);
  kyr_on_security_pwd_validity_changed(&val, 0, Recorder::Post, &r);
  kyr_on_security_pwd_attr_changed(&attr, CSSEC_PWD_ATTR_MINIMUM_LENGTH_FIELD, Recorder::Post, &r);
  const int S = EVENT_SYSTEM_SETTINGS_CHANGED, X = EVENT_SECURITY_SETTINGS_CHANGED;
  EXPECT_EQ(r.events, (std::vector<Ev>{{S, 0, 0}, {S, 0, 0}, {S, 0, 0}, {S, 0, 0}, {S, 0, 0}, {S, 0, 0},
                                       {X, 0, 0}, {X, 0, 0}, {X, 0, 0}}));
}

// ---- SHA-1 ----

std::string Sha1(const char *text) {
  char out[KYR_SHA1_TEXT_SIZE];
  memset(out, 'x', sizeof out);
  EXPECT_EQ(kyr_sha1_text(text, text ? strlen(text) : 0, out), 0);
  return out;
}

TEST(Sha1Text, KnownDigestsNullAndTheFortyByteCut) {
  EXPECT_EQ(Sha1(""), "{SHA1}da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(Sha1(nullptr), Sha1(""));
  EXPECT_EQ(Sha1("abc"), "{SHA1}a9993e364706816aba3e25717850c26c9cd0d89d");
  const std::string fifty = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMN";
  ASSERT_EQ(fifty.size(), 50u);
  EXPECT_EQ(Sha1(fifty.c_str()), Sha1(fifty.substr(0, 40).c_str()));
  EXPECT_NE(Sha1(fifty.substr(0, 40).c_str()), Sha1(fifty.substr(0, 39).c_str()));
  EXPECT_EQ(Sha1("abc").size(), 46u);
}

// ---- against the codec model ----

class AudioModel : public ::testing::Test {
 protected:
  void SetUp() override {
    codec_sim_config cfg;
    kyrtest::OpenInterfaceSession(cfg, &sim_, &inst_);
    if (HasFatalFailure()) return;
    kyr_cache_clear_all();
  }
  void TearDown() override {
    kyr_service_debug_set_server_instance(-1);
    kyr_cache_clear_all();
    if (inst_ >= 0) delete_csapi_client(inst_);
    if (sim_) codec_sim_stop(sim_);
  }
  uint32_t AudioHandle() {
    auto hs = codec_sim_record_handles(sim_, "Audio");
    return hs.empty() ? 0 : hs[0];
  }
  std::vector<codec_sim_request> Requests(const std::string &method) {
    std::vector<codec_sim_request> out;
    for (auto &r : codec_sim_requests(sim_))
      if (r.method == method) out.push_back(r);
    return out;
  }
  codec_sim *sim_ = nullptr;
  int inst_ = -1;
};

TEST_F(AudioModel, VolumeAndMuteAreReadFreshAndCached) {
  ASSERT_GT(codec_sim_record_merge(sim_, "Audio", AudioHandle(), R"({"volume":33,"muted":1})"), 0u);
  EXPECT_EQ(kyr_audio_get_volume(), 33);
  EXPECT_EQ(kyr_audio_get_mute(), 1);
  CSAudio c;
  ASSERT_EQ(kyr_cache_audio_load(&c), 1);
  EXPECT_EQ(c.volume, 33u);
  EXPECT_EQ(c.handle, AudioHandle());

  kyrtest::LogCapture log;
  codec_sim_inject_error(sim_, "csAudioGet", -4, "", 1);
  EXPECT_EQ(kyr_audio_get_volume(), 0);
  EXPECT_EQ(log.Count("connected: csAudioGet (error:NULL, ", KYR_AUDIO_TAG), 1u);
}

TEST_F(AudioModel, SetMuteStillSendsWhenTheRefreshFails) {
  ASSERT_EQ(kyr_audio_get_volume(), 50);  // caches the record and its handle
  kyrtest::LogCapture log;
  codec_sim_inject_error(sim_, "csAudioGet", -4, "", 1);
  EXPECT_EQ(kyr_audio_set_mute(1), 0);
  auto sent = Requests("csAudioMute");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_NE(sent[0].params.find("\"pAudioHandle\":" + std::to_string(AudioHandle())), std::string::npos)
      << sent[0].params;
  EXPECT_NE(sent[0].params.find("\"onOff\":1"), std::string::npos) << sent[0].params;
  EXPECT_EQ(log.Count("connected: csAudioGet (error:NULL, ", KYR_AUDIO_TAG), 1u);
  EXPECT_NE(codec_sim_record(sim_, "Audio").find("\"muted\":1"), std::string::npos);
}

TEST_F(AudioModel, SetVolumeSendsTheRefreshedHandle) {
  EXPECT_EQ(kyr_audio_set_volume(64), 0);
  auto sent = Requests("csAudioVolume");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_NE(sent[0].params.find("\"pAudioHandle\":" + std::to_string(AudioHandle())), std::string::npos);
  EXPECT_NE(sent[0].params.find("\"volume\":64"), std::string::npos);
  EXPECT_EQ(Requests("csAudioGet").size(), 1u);
}

TEST_F(AudioModel, DtmfUsesTheCachedRecordAndNullSendsNothing) {
  ASSERT_EQ(kyr_audio_get_volume(), 50);
  size_t gets = Requests("csAudioGet").size();
  kyrtest::LogCapture log;
  EXPECT_EQ(kyr_audio_play_dtmf(nullptr, 100, 1), -10);
  EXPECT_EQ(log.Count("NativePlayDTMF: no DTMF characters", KYR_AUDIO_TAG), 1u);
  EXPECT_TRUE(Requests("csAudioPlayDTMF").empty());

  EXPECT_EQ(kyr_audio_play_dtmf("12#*", 150, 2), 0);
  auto sent = Requests("csAudioPlayDTMF");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_NE(sent[0].params.find("\"dtmfChars\":\"12#*\""), std::string::npos) << sent[0].params;
  EXPECT_NE(sent[0].params.find("\"duration\":150"), std::string::npos);
  EXPECT_NE(sent[0].params.find("\"where\":2"), std::string::npos);
  EXPECT_NE(sent[0].params.find("\"pAudioHandle\":" + std::to_string(AudioHandle())), std::string::npos);
  EXPECT_EQ(Requests("csAudioGet").size(), gets) << "DTMF does not refresh";

  codec_sim_inject_error(sim_, "csAudioPlayDTMF", -4, "", 1);
  EXPECT_EQ(kyr_audio_play_dtmf("1", 100, 0), -4);
  EXPECT_EQ(log.Count("csAudioPlayDTMF error (error:-4, ", KYR_AUDIO_TAG), 1u);

  // The codec refuses what it cannot play; the refusal is passed on.
  EXPECT_EQ(kyr_audio_play_dtmf("12X", 100, 0), -10);
  EXPECT_EQ(kyr_audio_play_dtmf("", 100, 0), -10);
  EXPECT_EQ(kyr_audio_play_dtmf("1,2", -1, 0), -10);
  EXPECT_EQ(kyr_audio_play_dtmf("1,2", 0, 0), 0);
  EXPECT_EQ(log.Count("csAudioPlayDTMF error (error:-10, ", KYR_AUDIO_TAG), 3u);
}

TEST_F(AudioModel, AudioSystemCutsAFortyCharacterToneTo31) {
  const std::string forty(40, 'x');
  ASSERT_GT(codec_sim_record_merge(sim_, "Audio", AudioHandle(), "{\"incomingCallTone\":\"" + forty + "\"}"), 0u);
  int32_t h = kyr_audio_get_system();
  ASSERT_GT(h, 0);
  auto *s = static_cast<const AudioSystemStruct *>(kyr_handle_resolve(h, sizeof(AudioSystemStruct), KYR_HANDLE_ANY));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(std::string(s->incomingCallTone), forty.substr(0, 31));
  EXPECT_EQ(std::string(s->alertTone), "Alert1");
  EXPECT_EQ(s->volume, 50);
  EXPECT_EQ(s->handle, static_cast<int32_t>(AudioHandle()));

  kyrtest::LogCapture log;
  codec_sim_inject_error(sim_, "csAudioGet", -4, "", 1);
  EXPECT_EQ(kyr_audio_get_system(), 0);
  EXPECT_EQ(log.Count("csAudioGet error (error:-4, ", KYR_AUDIO_TAG), 1u);
}

// Java threads refreshing and the worker notifying write the cached record
// and the structure together: whoever holds the lock sees the structure as
// a copy of the cache, and each record whole.
TEST_F(AudioModel, RefreshesAndNotificationsPublishCacheAndStructureTogether) {
  ASSERT_GT(codec_sim_record_merge(sim_, "Audio", AudioHandle(), R"({"volume":7,"liveMusicMode":7})"), 0u);
  std::atomic<bool> stop{false};
  std::atomic<int> mismatches{0}, checks{0};
  std::thread worker([&] {
    CSAudio n = SampleAudio();
    for (uint32_t k = 100; k < 5100; k++) {
      n.volume = n.liveMusicMode = k;
      kyr_audio_changed(&n, 0, [](void *, int, int, int) {}, nullptr);
    }
  });
  std::thread java([&] {
    for (int i = 0; i < 60 && !stop; i++) {
      if (i % 2)
        kyr_audio_get_volume();
      else
        kyr_audio_get_system();
    }
  });
  std::thread reader([&] {
    while (!stop) {
      CSAudio *c = kyr_cache_audio_lock();
      const AudioSystemStruct *s = kyr_audio_system();
      bool same = static_cast<uint32_t>(s->volume) == c->volume && c->volume == c->liveMusicMode &&
                  s->volume == s->liveMusicMode;
      kyr_cache_audio_unlock();
      if (!same) mismatches++;
      checks++;
    }
  });
  worker.join();
  java.join();
  stop = true;
  reader.join();
  EXPECT_EQ(mismatches.load(), 0) << "of " << checks.load() << " checks";
}

// Changing the meeting password, accepted or refused, never puts either
// password into a log line (the client's own request logging included).
TEST_F(AudioModel, PasswordChangesLogNoPasswordValue) {
  kyrtest::LogCapture log;
  csLogLocalEnable(1);
  EXPECT_EQ(SetSecuritySystemSettings("old_meeting_password", "Old-Secret-1"), 0);
  int ok = SetSecuritySystemSettings("meeting_password", "Fresh-Secret-22");
  EXPECT_EQ(SetSecuritySystemSettings("old_meeting_password", "Wrong-Secret-3"), 0);
  int refused = SetSecuritySystemSettings("meeting_password", "x");
  csLogLocalEnable(0);
  EXPECT_NE(ok, refused) << "one change is accepted, the other is not";
  EXPECT_FALSE(log.Find("csSecPwdSet").empty()) << "the requests were logged";
  for (const char *secret : {"Old-Secret-1", "Fresh-Secret-22", "Wrong-Secret-3"})
    EXPECT_TRUE(log.Find(secret).empty()) << secret << " was logged: " << log.Find(secret)[0].text;
}

TEST_F(AudioModel, SleepAndWakeNameTheSystemRecord) {
  EXPECT_EQ(kyr_system_sleep(), 0);
  EXPECT_NE(codec_sim_record(sim_, "Sys").find("\"state\":1"), std::string::npos);
  EXPECT_EQ(kyr_system_wake(), 0);
  EXPECT_NE(codec_sim_record(sim_, "Sys").find("\"state\":0"), std::string::npos);
  auto sent = Requests("csSysWake");
  ASSERT_EQ(sent.size(), 1u);
  auto sys = codec_sim_record_handles(sim_, "Sys");
  ASSERT_FALSE(sys.empty());
  EXPECT_NE(sent[0].params.find("\"pSysHandle\":" + std::to_string(sys[0])), std::string::npos);

  kyrtest::LogCapture log;
  codec_sim_inject_error(sim_, "csSysGet", -4, "", 1);
  EXPECT_EQ(kyr_system_sleep(), -4);
  EXPECT_EQ(Requests("csSysSleep").size(), 1u) << "no action without the record";
  EXPECT_EQ(log.Count("csSysGet error (error:-4, ", KYR_SYSTEM_TAG), 1u);
  codec_sim_inject_error(sim_, "csSysWake", -12, "", 1);
  EXPECT_EQ(kyr_system_wake(), -12);
  EXPECT_EQ(log.Count("csSysWake error (error:-12, ", KYR_SYSTEM_TAG), 1u);
}

}  // namespace
