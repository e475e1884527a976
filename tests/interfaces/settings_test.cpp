// Settings lists against the simulator's codec model: the list layout Java
// reads, the update converters' keys and special rules, the system
// converters' failure handling, the set converters and the meeting password.
#include "service/interfaces/settings.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "ops/ops_fixture.h"
#include "service/interfaces/kyr_iface.h"
#include "service/interfaces/settings_rows.h"
#include "service/kyr_service.h"
#include "support/log_capture.h"

extern "C" jint Java_quorvex_kyrconnectservice_KyrConnectService_NativeDisconnect(JNIEnv *, jobject);

// The settings pages as Java fetches them.
#define KYR_PAGE_GETTERS(X)                      \
  X(AudioSubSystemInterface, NativeGetAudioSettings) \
  X(SystemSubSystemInterface, NativeGetSystemSettings) \
  X(SecuritySubSystemInterface, NativeGetSecuritySettings) \
  X(ContentSubSystemInterface, NativeGetContentSettings) \
  X(CalendarSubSystemInterface, NativeGetCalendarSettings) \
  X(DirectorySubSystemInterface, NativeGetDirectorySettings) \
  X(CommSubSystemInterface, NativeGetCommSettings)
#define KYR_DECLARE_PAGE_GETTER(cls, fn) extern "C" jlong Java_quorvex_kyrconnectservice_##cls##_##fn(JNIEnv *, jobject);
KYR_PAGE_GETTERS(KYR_DECLARE_PAGE_GETTER)

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// Reads a list as Java does (following each element's next handle) and
// releases it.
Pairs Take(int64_t head) {
  Pairs out;
  int32_t h = static_cast<int32_t>(head);
  for (int guard = 0; h != 0 && guard < 1000; guard++) {
    auto *e = static_cast<const SettingsStruct *>(kyr_list_node(h, sizeof(SettingsStruct)));
    if (!e) {
      ADD_FAILURE() << "element handle " << h << " names no element";
      break;
    }
    out.emplace_back(e->name, e->value);
    h = e->next;
  }
  SettingsListRelease(head);
  return out;
}

std::vector<std::string> Keys(const Pairs &p) {
  std::vector<std::string> k;
  for (const auto &e : p) k.push_back(e.first);
  return k;
}

std::string Value(const Pairs &p, const std::string &key) {
  for (const auto &e : p)
    if (e.first == key) return e.second;
  return "<absent>";
}

bool Has(const Pairs &p, const std::string &key) { return Value(p, key) != "<absent>"; }

class SettingsTest : public opstest::OpsTest {
 protected:
  bool UseModel() const override { return true; }

  void SetUp() override {
    OpsTest::SetUp();
    ASSERT_GE(inst_, 0);
    kyr_service_debug_set_server_instance(inst_);
    handles_before_ = kyr_handle_count();
  }

  void TearDown() override {
    codec_sim_set_answer_hook(sim_, {});
    kyr_service_debug_set_server_instance(-1);
    SettingsWipeOldPassword();
    EXPECT_EQ(kyr_handle_count(), handles_before_) << "a list was left unreleased";
    OpsTest::TearDown();
  }

  // Answers `method` with an error when its params contain `part`.
  void FailWhen(const std::string &method, const std::string &part = "", int code = -4) {
    codec_sim_set_answer_hook(sim_, [method, part, code](const codec_sim_request &r, std::string *reply) {
      if (r.method != method || r.params.find(part) == std::string::npos) return static_cast<int>(CODEC_SIM_DEFAULT);
      *reply = codec_sim_error_text(r, code);
      return static_cast<int>(CODEC_SIM_REPLY);
    });
  }

  uint32_t First(const std::string &kind) {
    auto h = codec_sim_record_handles(sim_, kind);
    return h.empty() ? 0 : h[0];
  }
  void Merge(const std::string &kind, const std::string &json, uint32_t handle = 0) {
    ASSERT_NE(codec_sim_record_merge(sim_, kind, handle ? handle : First(kind), json), 0u);
  }
  std::string Record(const std::string &kind) { return codec_sim_record(sim_, kind, First(kind)); }

  size_t Requests(const std::string &method) {
    size_t n = 0;
    for (const auto &r : codec_sim_requests(sim_)) n += r.method == method;
    return n;
  }

  size_t handles_before_ = 0;
};

// ---- the list Java reads ----

TEST_F(SettingsTest, ElementsAre516BytesWithValueAt260AndNextHandleFirst) {
  CSLog log{};
  log.percentFilled = -1;
  log.percentFilledThreshold = 90;
  int64_t head = GetLogSettingsUpdates(&log, 0x3);
  ASSERT_GT(head, 0);
  auto *bytes = static_cast<const unsigned char *>(kyr_list_node(head, 516));
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(kyr_list_node(head, 517), nullptr) << "an element is exactly 516 bytes";
  EXPECT_STREQ(reinterpret_cast<const char *>(bytes + 4), "log_threshold_filled");
  EXPECT_STREQ(reinterpret_cast<const char *>(bytes + 260), "-1");
  for (size_t i = 4 + strlen("log_threshold_filled"); i < 260; i++) ASSERT_EQ(bytes[i], 0) << "name zero-filled";
  int32_t second;
  memcpy(&second, bytes, 4);
  auto *s2 = static_cast<const unsigned char *>(kyr_list_node(second, 516));
  ASSERT_NE(s2, nullptr) << "the first 4 bytes hold the second element's handle";
  EXPECT_STREQ(reinterpret_cast<const char *>(s2 + 4), "log_threshold");
  EXPECT_STREQ(reinterpret_cast<const char *>(s2 + 260), "90");
  int32_t third;
  memcpy(&third, s2, 4);
  EXPECT_EQ(third, 0);
  SettingsListRelease(head);
  EXPECT_EQ(kyr_list_node(second, 516), nullptr) << "release frees the whole chain";
}

TEST_F(SettingsTest, LongTextsAreCutTo255) {
  CSH323Nic nic{};
  memset(nic.addr, 'a', sizeof nic.addr - 1);
  Pairs p = Take(GetH323NicSettingsUpdates(&nic, 0x80));
  ASSERT_EQ(p.size(), 1u);
  EXPECT_EQ(p[0].first, "h323_address");
  EXPECT_EQ(p[0].second, std::string(255, 'a'));
}

TEST_F(SettingsTest, NothingToListIsZeroAndUnknownReleaseIsHarmless) {
  CSSys sys{};
  EXPECT_EQ(GetSysSettingsUpdates(&sys, 0x20), 0) << "bootTime has no key";
  CSTime t{};
  EXPECT_EQ(GetTimeSettingsUpdates(&t, 0x7F), 0);
  EXPECT_EQ(GetPotsNicSettingsUpdates(nullptr, 0xFFFFFFFFu), -1);
  kyrtest::LogCapture log;
  SettingsListRelease(0x7FFFFF00);  // never issued
  SettingsListRelease(-1);
  EXPECT_FALSE(log.Lines().empty()) << "an unknown list is logged";
}

// ---- update converters ----

TEST_F(SettingsTest, SysUpdatesFollowTableOrder) {
  CSSys sys{};
  ASSERT_EQ(csSysGet(&sys, inst_), 0);
  Pairs p = Take(GetSysSettingsUpdates(&sys, 0x81));
  EXPECT_EQ(p, (Pairs{{"system_name", "Room 1"}, {"host_name", "room1"}}));
  p = Take(GetSysSettingsUpdates(&sys, 0xFF));
  EXPECT_EQ(Keys(p), (std::vector<std::string>{"system_name", "host_name", "model", "hardware_version", "serial_number",
                                               "software_version"}));
}

TEST_F(SettingsTest, LanAddressesComeFromSlots01456) {
  CSLan lan{};
  CSSys sys{};
  ASSERT_EQ(csSysGet(&sys, inst_), 0);
  ASSERT_EQ(csLanGet(&lan, &sys, 0), 0);
  Pairs p = Take(GetLanSettingsUpdates(&lan, 0x4D));
  EXPECT_EQ(p, (Pairs{{"ip_network_state", "1"},
                      {"eap_state", "0"},
                      {"mac_address", "00:11:22:33:44:55"},
                      {"ipv4_address", "10.0.0.2"},
                      {"link_local_address", "fe80::2"},
                      {"site_local_address", "fec0::2"},
                      {"global_address", "2001:db8::2"},
                      {"eap_status", "0"}}));
}

TEST_F(SettingsTest, PasswordAttributesInTableOrderOnlyForTheMeetingPassword) {
  CSSecPwdAttr attr{};
  attr.type = 1;
  attr.minimumLength = 8;
  attr.minimumChangedChars = 3;
  attr.canContainIDorReverse = 1;
  Pairs p = Take(GetSecurityPwdAttributesUpdates(&attr, 0xFFF));
  EXPECT_EQ(Keys(p),
            (std::vector<std::string>{
                "meeting_password_minimum_length", "meeting_password_required_lower_case_count",
                "meeting_password_required_upper_case_count", "meeting_password_required_number_count",
                "meeting_password_required_special_characters_count", "meeting_password_minimum_changed_charecters",
                "meeting_password_maximum_consecutive_repeated_chars", "meeting_password_reuse_count",
                "meeting_password_minimum_age", "meeting_password_maximum_age",
                "meeting_password_expiration_warning_age", "meeting_password_contains_id"}));
  EXPECT_EQ(Value(p, "meeting_password_minimum_length"), "8");
  EXPECT_EQ(Value(p, "meeting_password_minimum_changed_charecters"), "3");
  EXPECT_EQ(Value(p, "meeting_password_contains_id"), "1");
  // 0x200 alone is minimumChangedChars, whatever its place in the list.
  EXPECT_EQ(Take(GetSecurityPwdAttributesUpdates(&attr, 0x200)),
            (Pairs{{"meeting_password_minimum_changed_charecters", "3"}}));
  attr.type = 2;
  EXPECT_EQ(GetSecurityPwdAttributesUpdates(&attr, 0xFFF), 0);

  CSSecPwd pwd{};
  pwd.type = 1;
  pwd.valid = 0x80000001u;
  EXPECT_EQ(Take(GetSecurityPwdUpdates(&pwd, 0)), (Pairs{{"meeting_password_present", "1"}}));
  pwd.valid = 0x7FFFFFFF;
  EXPECT_EQ(Take(GetSecurityPwdUpdates(&pwd, 0)), (Pairs{{"meeting_password_present", "0"}}));
  pwd.type = 3;
  EXPECT_EQ(GetSecurityPwdUpdates(&pwd, 0), 0);
  CSSecPwdValidity v{};
  v.type = 1;
  v.valid = 0x80000000u;
  EXPECT_EQ(Take(GetSecurityPwdValidityUpdates(&v, 0)), (Pairs{{"meeting_password_present", "1"}}));
}

TEST_F(SettingsTest, AudioUpdatesSkipAnInputThatCannotBeFetched) {
  uint32_t audio = First("Audio");
  ASSERT_NE(codec_sim_record_merge(sim_, "AudioIn", 0,
                                   "{\"parentHandle\":" + std::to_string(audio) +
                                       ",\"name\":\"Mic 3\",\"deviceVersion\":\"3.3\",\"enabled\":0}"),
            0u);
  Merge("Audio", "{\"numIns\":3,\"muteAutoAnswer\":1}");
  CSAudio rec{};
  ASSERT_EQ(csAudioGet(&rec, inst_), 0);
  FailWhen("csAudioInGet", "\"instance\":1");
  kyrtest::LogCapture log;
  Pairs p = Take(GetAudioSettingsUpdates(&rec, 0x2));
  EXPECT_EQ(p, (Pairs{{"number_of_mics", "3"},
                      {"microphone_version_0", "2.1"},
                      {"microphone_status_0", "1"},
                      {"microphone_version_2", "3.3"},
                      {"microphone_status_2", "0"}}));
  EXPECT_EQ(log.Count("can't get AUDIO IN settings for input 1, err=-4 (Not found)", KYR_SETTINGS_TAG), 1u);
  EXPECT_EQ(Take(GetAudioSettingsUpdates(&rec, 0x40)), (Pairs{{"mute_auto_answer", "1"}}));

  log.Clear();
  p = Take(GetAudioSystemSettings());
  EXPECT_EQ(Keys(p), (std::vector<std::string>{"mute_auto_answer", "number_of_mics", "microphone_version_0",
                                               "microphone_status_0", "microphone_version_2", "microphone_status_2"}));
  EXPECT_TRUE(log.Find("AUDIO IN").empty()) << "the system converter skips without a log line";
}

TEST_F(SettingsTest, AnAbsurdInputCountIsClamped) {
  CSAudio rec{};
  ASSERT_EQ(csAudioGet(&rec, inst_), 0);
  rec.numIns = 0xFFFFFFF0u;
  FailWhen("csAudioInGet");
  kyrtest::LogCapture log;
  size_t before = Requests("csAudioInGet");
  Pairs p = Take(GetAudioSettingsUpdates(&rec, 0x2));
  EXPECT_EQ(p.size(), 1u);
  EXPECT_EQ(Requests("csAudioInGet") - before, static_cast<size_t>(KYR_SETTINGS_MAX_AUDIO_INPUTS));
  EXPECT_FALSE(log.Find("above", KYR_SETTINGS_TAG).empty());
}

TEST_F(SettingsTest, DirectoryServerUpdatesDependOnProtocolAndChange) {
  CSDirSrvr now{}, before{};
  now.protocol = 2;
  now.status = 6;
  kyr_copy_text(now.address, sizeof now.address, "gds.example.test");
  before = now;
  before.status = 1;
  EXPECT_EQ(Take(GetDirectoryServerSettingsUpdates(&now, &before, 0xA)), (Pairs{{"pxs_status", "6"},
                                                                                {"pxs_address", "gds.example.test"},
                                                                                {"presence_registration_status", "0"},
                                                                                {"presence_ntlm_version", "0"}}));
  EXPECT_EQ(Keys(Take(GetDirectoryServerSettingsUpdates(&now, nullptr, 0x2))), std::vector<std::string>{})
      << "a status without a previous record is no change";
  EXPECT_EQ(GetDirectoryServerSettingsUpdates(&now, &now, 0x2), 0);

  now.protocol = 3;
  now.authMethodNegotiated = 2;
  before = now;
  before.presenceSrvrStatus = 1;  // only the presence status changed
  EXPECT_EQ(Take(GetDirectoryServerSettingsUpdates(&now, &before, 0x4000)),
            (Pairs{{"ldap_status", "6"}, {"presence_registration_status", "0"}}));
  EXPECT_EQ(Take(GetDirectoryServerSettingsUpdates(&now, &before, 0x8)),
            (Pairs{{"ldap_ntlm_version", "2"}, {"presence_ntlm_version", "0"}}));
  now.protocol = 4;
  now.presenceSrvrAuthMethodNegotiated = 5;
  EXPECT_EQ(Take(GetDirectoryServerSettingsUpdates(&now, &before, 0x8)), (Pairs{{"presence_ntlm_version", "5"}}));
  EXPECT_EQ(GetDirectoryServerSettingsUpdates(nullptr, &before, 0x8), -1);
}

// ---- ISDN and V.35 lines ----

class SettingsLineTest : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    Merge("IsdnNic",
          R"({"enable":1,"state":2,"type":1,"countryCode":"1","areaCode":"512","lineCount":1,"switchType":3})");
    Merge("IsdnLine", R"({"state":5,"addressA":"5551234"})");
    ASSERT_EQ(csCommGet(&comm_, inst_), 0);
    ASSERT_EQ(csIsdnNicGet(&isdn_, &comm_, 0), 0);
  }
  CSComm comm_{};
  CSIsdnNic isdn_{};
};

TEST_F(SettingsLineTest, VideoNumberIsCountryAreaAddressUnderBothKeys) {
  Pairs p = Take(GetIsdnNicSettingsUpdates(&isdn_, 0x200));
  EXPECT_EQ(p, (Pairs{{"isdn_network_interface_type", "1"},
                      {"isdn_state_line_0", "5"},
                      {"isdn_video_number_line_0", "1.512.5551234"},
                      {"isdn_video_number", "1.512.5551234"}}));
  // Enabled again: switch type, interface type, then the lines.
  p = Take(GetIsdnNicSettingsUpdates(&isdn_, 0x4));
  EXPECT_EQ(Keys(p),
            (std::vector<std::string>{"isdn_switch_type", "isdn_network_interface_type", "isdn_network_interface_type",
                                      "isdn_state_line_0", "isdn_video_number_line_0", "isdn_video_number"}));
  EXPECT_EQ(Value(p, "isdn_switch_type"), "3");
  EXPECT_EQ(GetIsdnNicSettingsUpdates(&isdn_, 0x8), 0) << "the state alone has no key";
  isdn_.enable = 0;
  p = Take(GetIsdnNicSettingsUpdates(&isdn_, 0x8));
  EXPECT_EQ(Value(p, "isdn_state_line_0"), "0") << "a disabled interface reports its lines as 0";
  isdn_.type = 4;
  EXPECT_EQ(GetIsdnNicSettingsUpdates(&isdn_, 0x200), -1);
}

TEST_F(SettingsLineTest, AnAbsurdLineCountIsClamped) {
  isdn_.lineCount = 100000;
  kyrtest::LogCapture log;
  size_t before = Requests("csIsdnLineGet");
  Pairs p = Take(GetIsdnNicSettingsUpdates(&isdn_, 0x100));
  EXPECT_EQ(Requests("csIsdnLineGet") - before, static_cast<size_t>(KYR_SETTINGS_MAX_LINES));
  EXPECT_EQ(Value(p, "isdn_video_number"), "1.512.5551234");
  EXPECT_FALSE(log.Find("above", KYR_SETTINGS_TAG).empty());
}

TEST_F(SettingsLineTest, LineUpdatesFetchTheInterfaceForTheVideoNumber) {
  CSIsdnLine line{};
  ASSERT_EQ(csIsdnLineGet(&line, &isdn_, 0), 0);
  EXPECT_EQ(Take(GetLineSettingsUpdates(&line, 0x28)), (Pairs{{"isdn_state_line_0", "5"},
                                                              {"isdn_video_number_line_0", "1.512.5551234"},
                                                              {"isdn_video_number", "1.512.5551234"}}));
  line.instance = 3;
  EXPECT_EQ(Take(GetLineSettingsUpdates(&line, 0x20)), (Pairs{{"isdn_video_number_line_3", "1.512.5551234"}}));
  FailWhen("csIsdnNicGet");
  kyrtest::LogCapture log;
  EXPECT_EQ(GetLineSettingsUpdates(&line, 0x28), -1);
  EXPECT_EQ(log.Count("can't get ISDN NIC settings, err=-4 (Not found)"), 1u);
}

TEST_F(SettingsLineTest, V35InterfaceListsItsLinesAndTheInterfaceState) {
  Merge("V35Nic", R"({"type":4,"enable":1,"state":7,"countryCode":"44","areaCode":"20","lineCount":1})");
  Merge("V35Line", R"({"state":2,"address":"7946000"})");
  CSV35Nic v35{};
  ASSERT_EQ(csV35NicGet(&v35, &comm_, 0), 0);
  Pairs p = Take(GetV35NicSettingsUpdates(&v35, 0x108));
  EXPECT_EQ(p, (Pairs{{"isdn_network_interface_type", "4"},
                      {"isdn_state_line_0", "2"},
                      {"isdn_video_number_line_0", "44.20.7946000"},
                      {"isdn_video_number", "44.20.7946000"},
                      {"isdn_state_line_0", "7"}}));
  v35.type = 2;
  EXPECT_EQ(GetV35NicSettingsUpdates(&v35, 0x108), -1);

  // The communication page takes the V.35 interface when the ISDN slot holds none.
  Merge("IsdnNic", R"({"type":-1})");
  p = Take(GetCommSystemSettings());
  EXPECT_EQ(Value(p, "isdn_video_number"), "44.20.7946000");
  EXPECT_EQ(Value(p, "isdn_network_interface_type"), "4");
  EXPECT_FALSE(Has(p, "isdn_switch_type"));
}

TEST_F(SettingsLineTest, BuildersRefuseMissingArgumentsAndSkipUnfetchableLines) {
  SettingsStruct *first = nullptr, *last = nullptr;
  kyrtest::LogCapture log;
  EXPECT_EQ(BuildIsdnLineInfo(nullptr, &last, 1, &isdn_, "1", nullptr, 0), -1);
  EXPECT_EQ(log.Count("BuildIsdnLineInfo: detected NULL ptr"), 1u);
  EXPECT_EQ(log.Count("firstStruct==NULL"), 1u);
  EXPECT_EQ(log.Count("nicAreaCode==NULL"), 1u);
  EXPECT_EQ(log.Count("prevStruct==NULL"), 0u);
  EXPECT_EQ(BuildV35LineInfo(&first, &last, 1, nullptr, "1", "2", 0), -1);
  EXPECT_EQ(log.Count("pV35Nic==NULL"), 1u);
  EXPECT_EQ(first, nullptr);

  FailWhen("csIsdnLineGet", "\"instance\":1");
  ASSERT_NE(codec_sim_record_merge(
                sim_, "IsdnLine", 0,
                "{\"parentHandle\":" + std::to_string(First("IsdnNic")) + ",\"instance\":1,\"addressA\":\"5559999\"}"),
            0u);
  ASSERT_NE(codec_sim_record_merge(sim_, "IsdnLine", 0,
                                   "{\"parentHandle\":" + std::to_string(First("IsdnNic")) +
                                       ",\"instance\":2,\"state\":9,\"addressA\":\"5552222\"}"),
            0u);
  log.Clear();
  ASSERT_EQ(BuildIsdnLineInfo(&first, &last, 3, &isdn_, "49", "30", 1), 0);
  Pairs p = Take(SettingsListHandle(first));
  EXPECT_EQ(p, (Pairs{{"isdn_network_interface_type", "1"},
                      {"isdn_state_line_0", "0"},
                      {"isdn_video_number_line_0", "49.30.5551234"},
                      {"isdn_video_number", "49.30.5551234"},
                      {"isdn_state_line_2", "0"},
                      {"isdn_video_number_line_2", "49.30.5552222"}}));
  EXPECT_EQ(log.Count("can't get NIC(nic=1) Line 1 settings, err=-4 (Not found)"), 1u);
}

// ---- system converters ----

TEST_F(SettingsTest, SysPageListsEveryKeyInPageOrder) {
  Merge("Inkpad", R"({"bAttached":1,"model":"Board","hardwareVersion":"H1","firmwareVersion":"F2"})");
  Merge("WQT", R"({"model":"Tele"})");
  kyrtest::LogCapture log;
  Pairs p = Take(GetSysSystemSettings());
  EXPECT_EQ(Keys(p), (std::vector<std::string>{"availability_menu",
                                               "system_name",
                                               "host_name",
                                               "model",
                                               "hardware_version",
                                               "serial_number",
                                               "software_version",
                                               "mac_address",
                                               "ipv4_address",
                                               "link_local_address",
                                               "site_local_address",
                                               "global_address",
                                               "ip_network_state",
                                               "time_server_state",
                                               "provisioning_service_state",
                                               "provisioning_service_ntlm_ver",
                                               "eap_state",
                                               "eap_status",
                                               "log_threshold_filled",
                                               "log_threshold",
                                               "wqt_model",
                                               "inkpad_state",
                                               "inkpad_modelname",
                                               "inkpad_hw_ver",
                                               "inkpad_fw_ver"}));
  EXPECT_EQ(Value(p, "log_threshold"), "90");
  EXPECT_EQ(Value(p, "inkpad_modelname"), "Board");
  EXPECT_EQ(Value(p, "inkpad_fw_ver"), "F2");
  EXPECT_EQ(Value(p, "wqt_model"), "Tele");
  EXPECT_EQ(log.Count("GetSysSystemSettings: Get Sys System Settings", KYR_SETTINGS_TAG), 1u);
  for (const auto &l : log.Lines())
    if (l.tag == std::string(KYR_SETTINGS_TAG)) {
      EXPECT_EQ(l.prio, KYR_LOG_ERROR);
    }
}

TEST_F(SettingsTest, SysPageFailsOnAnyFetch) {
  for (const char *m : {"csHomeScreenGet", "csSysGet", "csLanGet", "csTimeGet", "csProvisioningGet", "csLogGet",
                        "csWQTGet", "csInkpadGet"}) {
    SCOPED_TRACE(m);
    codec_sim_inject_error(sim_, m, -4, "", 1);
    kyrtest::LogCapture log;
    EXPECT_EQ(GetSysSystemSettings(), -1);
    EXPECT_EQ(log.Find("err=-4 (Not found)", KYR_SETTINGS_TAG).size(), 1u);
  }
}

// Which keys a system page keeps when one fetch fails.
struct PageCase {
  const char *name;
  int64_t (*page)(void);
  const char *method;
  const char *params;  // part of the failing request's params ("" any)
  bool whole_page_fails;
  std::vector<std::string> keys;  // keys when it does not
  const char *log_text;
};

void PrintTo(const PageCase &c, std::ostream *os) { *os << c.name; }

class SettingsPageTest : public SettingsTest, public ::testing::WithParamInterface<PageCase> {};

TEST_P(SettingsPageTest, FailingFetchGivesThePagesResult) {
  const PageCase &c = GetParam();
  FailWhen(c.method, c.params);
  kyrtest::LogCapture log;
  int64_t r = c.page();
  if (c.whole_page_fails) {
    EXPECT_EQ(r, -1);
  } else {
    ASSERT_GE(r, 0);
    EXPECT_EQ(Keys(Take(r)), c.keys);
  }
  if (*c.log_text)
    EXPECT_EQ(log.Count(std::string(c.log_text) + ", err=-4 (Not found)", KYR_SETTINGS_TAG) +
                  log.Count(std::string(c.log_text) + " err=-4 (Not found)", KYR_SETTINGS_TAG),
              1u);
  else
    EXPECT_TRUE(log.Find("", KYR_SETTINGS_TAG).empty());
}

const std::vector<std::string> kAttrKeys = {"meeting_password_minimum_length",
                                            "meeting_password_required_lower_case_count",
                                            "meeting_password_required_upper_case_count",
                                            "meeting_password_required_number_count",
                                            "meeting_password_required_special_characters_count",
                                            "meeting_password_minimum_changed_charecters",
                                            "meeting_password_maximum_consecutive_repeated_chars",
                                            "meeting_password_reuse_count",
                                            "meeting_password_minimum_age",
                                            "meeting_password_maximum_age",
                                            "meeting_password_expiration_warning_age",
                                            "meeting_password_contains_id"};

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::vector<std::string> kH323Keys = {
    "use_gatekeeper", "gatekeeper_state", "gatekeeper_model", "gatekeeper_address", "gatekeeper_software_version",
    "h323_extension", "h323_address"};
const std::vector<std::string> kIsdnKeys = {"isdn_network_interface_type", "isdn_state_line_0",
                                            "isdn_video_number_line_0",    "isdn_video_number",
                                            "isdn_network_interface_type", "isdn_switch_type"};

INSTANTIATE_TEST_SUITE_P(
    Pages, SettingsPageTest,
    ::testing::Values(
        PageCase{"content", GetContentSystemSettings, "csCamSubsysGet", "", true, {}, "can't get Camera settings"},
        PageCase{"security", GetSecuritySystemSettings, "csSecGet", "", true, {}, "can't get security subsystem"},
        PageCase{"security_pwd", GetSecuritySystemSettings, "csSecPwdGet", "", false,
                 Join({"allow_video_on_web", "allow_user_settings"}, kAttrKeys), "can't get Password settings"},
        PageCase{"security_attr",
                 GetSecuritySystemSettings,
                 "csSecPwdAttrGet",
                 "",
                 false,
                 {"allow_video_on_web", "allow_user_settings", "meeting_password_present"},
                 "can't get Password attributes"},
        PageCase{"calendar", GetCalendarSystemSettings, "csCalGet", "", true, {}, "can't get CALENDAR subsystem"},
        PageCase{
            "calendar_srvr", GetCalendarSystemSettings, "csCalSrvrGet", "", true, {}, "can't get CALENDAR settings"},
        PageCase{"directory", GetDirectorySystemSettings, "csDirGet", "", true, {}, "can't get DIRECTORY settings"},
        PageCase{"directory_pxs",
                 GetDirectorySystemSettings,
                 "csDirSrvrGet",
                 "\"prot\":2",
                 false,
                 {"availability_control", "presence_registration_status", "presence_ntlm_version", "ldap_status",
                  "ldap_ntlm_version"},
                 "can't get PXS settings"},
        PageCase{"directory_presence",
                 GetDirectorySystemSettings,
                 "csDirSrvrGet",
                 "\"prot\":4",
                 false,
                 {"availability_control", "pxs_status", "pxs_address", "ldap_status", "ldap_ntlm_version"},
                 "can't get PRESENCE settings"},
        PageCase{"directory_ldap",
                 GetDirectorySystemSettings,
                 "csDirSrvrGet",
                 "\"prot\":3",
                 false,
                 {"availability_control", "pxs_status", "pxs_address", "presence_registration_status",
                  "presence_ntlm_version"},
                 "can't get LDAPv3 settings"},
        PageCase{"audio", GetAudioSystemSettings, "csAudioGet", "", true, {}, ""},
        PageCase{"comm", GetCommSystemSettings, "csCommGet", "", false, {}, "can't get COM settings"},
        PageCase{"comm_phone", GetCommSystemSettings, "csSpeakerPhoneNicGet", "", false,
                 Join(Join({"auto_answer_pt2pt", "auto_answer_mp"}, kIsdnKeys),
                      Join(kH323Keys, {"sip_registrar_server_state", "sip_registrar_server_address",
                                       "sip_registrar_server_ntlm_version", "sip_registrar_server_model"})),
                 "can't get VoxtellanIP settings"},
        PageCase{"comm_sip", GetCommSystemSettings, "csSipNicGet", "", false,
                 Join(Join({"voxtellan_ip_status", "auto_answer_pt2pt", "auto_answer_mp"}, kIsdnKeys), kH323Keys),
                 "can't get SIP Nic settings"},
        PageCase{"comm_h323", GetCommSystemSettings, "csH323NicGet", "", false,
                 Join(Join({"voxtellan_ip_status", "auto_answer_pt2pt", "auto_answer_mp"}, kIsdnKeys),
                      {"sip_registrar_server_state", "sip_registrar_server_address",
                       "sip_registrar_server_ntlm_version", "sip_registrar_server_model"}),
                 "can't get H323 Nic settings"}),
    [](const ::testing::TestParamInfo<PageCase> &i) { return std::string(i.param.name); });

TEST_F(SettingsTest, DirectoryPageHidesTheAddressOfADisabledServer) {
  auto server = [this](int protocol) {
    for (uint32_t h : codec_sim_record_handles(sim_, "DirSrvr"))
      if (codec_sim_record(sim_, "DirSrvr", h).find("\"protocol\":" + std::to_string(protocol)) != std::string::npos)
        return h;
    return 0u;
  };
  Merge("DirSrvr", R"({"address":"gds.example.test","enabled":1,"status":4})", server(2));
  Merge("DirSrvr", R"({"presenceSrvrStatus":3,"presenceSrvrAuthMethodNegotiated":2})", server(4));
  Merge("DirSrvr", R"({"status":5,"authMethodNegotiated":1})", server(3));
  Pairs p = Take(GetDirectorySystemSettings());
  EXPECT_EQ(Value(p, "pxs_address"), "gds.example.test");
  Merge("DirSrvr", R"({"enabled":0})", server(2));
  p = Take(GetDirectorySystemSettings());
  EXPECT_EQ(Value(p, "pxs_address"), "");
  EXPECT_EQ(Value(p, "pxs_status"), "4");
  EXPECT_EQ(Value(p, "presence_registration_status"), "3");
  EXPECT_EQ(Value(p, "presence_ntlm_version"), "2");
  EXPECT_EQ(Value(p, "ldap_status"), "5");
  EXPECT_EQ(Value(p, "ldap_ntlm_version"), "1");
}

TEST_F(SettingsTest, CommPageShowsMultipointAnswerOnlyForLargeConferencesAndTheSipAddress) {
  Merge("Comm", R"({"maxTermsPerConf":2,"autoAnswerPP":1})");
  Pairs p = Take(GetCommSystemSettings());
  EXPECT_EQ(Value(p, "auto_answer_pt2pt"), "1");
  EXPECT_FALSE(Has(p, "auto_answer_mp"));
  EXPECT_EQ(Value(p, "sip_registrar_server_address"), "sip:codec@example.test") << "the interface's own address";
  EXPECT_EQ(Value(p, "isdn_state_line_0"), "0") << "the ISDN interface is disabled";
  p = Take(GetCalendarSystemSettings());
  EXPECT_EQ(p, (Pairs{{"calendaring_service_status", "6"}, {"calendaring_service_ntlm_version", "0"}}));
}

// ---- set converters ----

TEST_F(SettingsTest, SetTakesTheFirstDigitAndSendsOnlyItsFlag) {
  ASSERT_EQ(SetAudioSystemSettings("mute_auto_answer", "1"), 0);
  EXPECT_NE(Record("Audio").find("\"muteAutoAnswer\":1"), std::string::npos) << Record("Audio");
  codec_sim_request req;
  ASSERT_TRUE(codec_sim_wait_request(sim_, "csAudioSet", 1000, &req));
  EXPECT_NE(req.params.find("\"flags\":64"), std::string::npos) << req.params;
  ASSERT_EQ(SetAudioSystemSettings("mute_auto_answer", "0"), 0);
  EXPECT_NE(Record("Audio").find("\"muteAutoAnswer\":0"), std::string::npos);
  ASSERT_EQ(SetAudioSystemSettings("mute_auto_answer", "10"), 0);
  EXPECT_NE(Record("Audio").find("\"muteAutoAnswer\":1"), std::string::npos) << "only the first digit counts";

  ASSERT_EQ(SetCommSystemSettings("auto_answer_mp", "2"), 0);
  EXPECT_NE(Record("Comm").find("\"autoAnswerMP\":2"), std::string::npos);
  EXPECT_NE(Record("Comm").find("\"autoAnswerPP\":0"), std::string::npos);
  ASSERT_EQ(SetDirectorySystemSettings("availability_control", "3"), 0);
  EXPECT_NE(Record("Dir").find("\"localAvailability\":3"), std::string::npos);
  ASSERT_EQ(SetContentSystemSettings("backlight_compensation", "1"), 0);
  EXPECT_NE(Record("CamSubsys").find("\"backlightComp\":1"), std::string::npos);
  ASSERT_EQ(SetSecuritySystemSettings("allow_video_on_web", "1"), 0);
  EXPECT_NE(Record("Sec").find("\"allowVideoOnWeb\":1"), std::string::npos);
}

TEST_F(SettingsTest, AValueWithoutALeadingDigitSendsNothing) {
  codec_sim_clear_requests(sim_);
  kyrtest::LogCapture log;
  EXPECT_EQ(SetAudioSystemSettings("mute_auto_answer", ""), -10);
  EXPECT_EQ(SetAudioSystemSettings("mute_auto_answer", "x"), -10);
  EXPECT_EQ(SetCommSystemSettings("auto_answer_pt2pt", "-1"), -10);
  EXPECT_EQ(SetContentSystemSettings("far_control_of_near_camera", " 1"), -10);
  EXPECT_EQ(codec_sim_request_count(sim_), 0u) << "nothing was sent";
  EXPECT_EQ(log.Find("", KYR_SETTINGS_TAG).size(), 4u);

  EXPECT_EQ(SetAudioSystemSettings(nullptr, "1"), -1);
  EXPECT_EQ(SetAudioSystemSettings("mute_auto_answer", nullptr), -1);
  EXPECT_EQ(log.Count("SetAudioSystemSettings: detected NULL pointer..."), 2u);
  EXPECT_EQ(codec_sim_request_count(sim_), 0u);
}

TEST_F(SettingsTest, UnknownKeysChangeNothing) {
  std::string before = Record("CamSubsys");
  kyrtest::LogCapture log;
  EXPECT_EQ(SetContentSystemSettings("zoom_speed", "5"), 0);
  EXPECT_EQ(log.Count("zoom_speed is not supported"), 1u);
  EXPECT_EQ(Requests("csCamSubsysSet"), 0u);
  EXPECT_EQ(Record("CamSubsys"), before);
  EXPECT_EQ(SetAudioSystemSettings("volume", "9"), 0);
  EXPECT_EQ(Requests("csAudioSet"), 0u);
  EXPECT_EQ(SetSysSystemSettings("system_name", "x"), 0);
  EXPECT_EQ(SetCalendarSystemSettings("any", "x"), 0);
  EXPECT_EQ(SetVoxtellanIPSystemSettings("any", "x"), 0);
  EXPECT_EQ(Requests("csSysSet") + Requests("csCalSrvrSet") + Requests("csSpeakerPhoneNicSet"), 0u);
  FailWhen("csCalSrvrGet");
  EXPECT_EQ(SetCalendarSystemSettings("any", "x"), -4);
}

TEST_F(SettingsTest, FailedSetIsLoggedAndReturned) {
  FailWhen("csCommSet", "", -11);
  kyrtest::LogCapture log;
  EXPECT_EQ(SetCommSystemSettings("auto_answer_pt2pt", "1"), -11);
  EXPECT_EQ(log.Count("can't set COM settings, err=-11 (Not authorized)"), 1u);
  FailWhen("csCamSubsysSet", "", -11);
  EXPECT_EQ(SetContentSystemSettings("backlight_compensation", "1"), -11);
  EXPECT_EQ(log.Count("can't set Camera settings, err=-11 (Not authorized)"), 1u);
}

// ---- the meeting password ----

TEST_F(SettingsTest, MeetingPasswordUsesTheOldOneOnceAndNeverLogsEither) {
  kyrtest::LogCapture log;
  // No password yet: none to prove.
  EXPECT_EQ(SetSecuritySystemSettings("meeting_password", "abcd1"), 4095);
  Pairs p = Take(GetSecuritySystemSettings());
  EXPECT_EQ(Value(p, "meeting_password_present"), "1");
  EXPECT_NE(Record("SecPwdValidity").find("\"valid\":2147483648"), std::string::npos) << Record("SecPwdValidity");

  EXPECT_EQ(SetSecuritySystemSettings("old_meeting_password", "abcd1"), 0);
  EXPECT_EQ(SettingsOldPasswordHeld(), 1);
  // Too short and without a digit: the rules met come back.
  EXPECT_EQ(SetSecuritySystemSettings("meeting_password", "xy"), 0xFFF & ~0x9);
  EXPECT_EQ(SettingsOldPasswordHeld(), 0) << "wiped after one use";
  // The old password is gone, so the next change cannot prove it.
  int rc = SetSecuritySystemSettings("meeting_password", "wxyz2");
  EXPECT_EQ(rc, -11) << "a refused change is no success, although the new password meets every rule";

  EXPECT_EQ(SetSecuritySystemSettings("old_meeting_password", "abcd1"), 0);
  EXPECT_EQ(SetSecuritySystemSettings("meeting_password", "wxyz2"), 4095);

  for (const auto &l : log.Lines())
    for (const char *secret : {"abcd1", "wxyz2", "\"xy\""})
      EXPECT_EQ(l.text.find(secret), std::string::npos) << l.tag << ": " << l.text;
  EXPECT_GE(log.Count("can't set Security settings", KYR_SETTINGS_TAG), 2u);
}

TEST_F(SettingsTest, PasswordTypeMustBeOneToFour) {
  kyrtest::LogCapture log;
  EXPECT_EQ(setSecuritySystemPassword(0, "", "abcd1"), -1);
  EXPECT_EQ(setSecuritySystemPassword(5, "", "abcd1"), -1);
  EXPECT_EQ(log.Count("Password type 5 is outside the range {1,4}"), 1u);
  EXPECT_EQ(Requests("csSecPwdSet"), 0u);
  FailWhen("csSecPwdGet");
  EXPECT_EQ(setSecuritySystemPassword(1, "", "abcd1"), -4);
}

TEST_F(SettingsTest, OldPasswordIsWipedWhenTheConnectionCloses) {
  EXPECT_EQ(SetSecuritySystemSettings("old_meeting_password", std::string(100, 'p').c_str()), 0);
  EXPECT_EQ(SettingsOldPasswordHeld(), 1);
  Java_quorvex_kyrconnectservice_KyrConnectService_NativeDisconnect(nullptr, nullptr);
  conns_.clear();  // the service closed it
  EXPECT_EQ(SettingsOldPasswordHeld(), 0);
  EXPECT_EQ(kyr_server_instance(), -1);
  EXPECT_EQ(GetContentSystemSettings(), -1) << "no connection, no list";
}

// ---- what Java gets for a page ----

// A page whose fetch fails is -1 at the Java entry point (the converter's
// value), never the 0 of an empty page; handing -1 back releases nothing.
TEST_F(SettingsTest, AFailedPageIsMinusOneForJava) {
  using Getter = jlong (*)(JNIEnv *, jobject);
#define KYR_PAGE_GETTER(cls, fn) Getter fn = Java_quorvex_kyrconnectservice_##cls##_##fn;
  KYR_PAGE_GETTERS(KYR_PAGE_GETTER)
#undef KYR_PAGE_GETTER
  const std::vector<std::pair<Getter, const char *>> failing = {
      {NativeGetAudioSettings, "csAudioGet"},      {NativeGetSystemSettings, "csHomeScreenGet"},
      {NativeGetSystemSettings, "csLanGet"},       {NativeGetSystemSettings, "csWQTGet"},
      {NativeGetSystemSettings, "csInkpadGet"},    {NativeGetSecuritySettings, "csSecGet"},
      {NativeGetContentSettings, "csCamSubsysGet"}, {NativeGetCalendarSettings, "csCalGet"},
      {NativeGetCalendarSettings, "csCalSrvrGet"}, {NativeGetDirectorySettings, "csDirGet"}};
  for (const auto &c : failing) {
    SCOPED_TRACE(c.second);
    FailWhen(c.second);
    EXPECT_EQ(c.first(nullptr, nullptr), -1);
    codec_sim_set_answer_hook(sim_, {});
    jlong page = c.first(nullptr, nullptr);
    EXPECT_GT(page, 0) << "the same page when the codec answers";
    SettingsListRelease(page);
  }
  // The comm page's fetch failures only leave groups out: without the comm
  // record nothing is left, an empty page (0).
  FailWhen("csCommGet");
  EXPECT_EQ(NativeGetCommSettings(nullptr, nullptr), 0);

  kyrtest::LogCapture log;
  SettingsListRelease(-1);
  EXPECT_TRUE(log.Lines().empty());
}

// ---- the simulator applies only flagged members ----

TEST_F(SettingsTest, SimulatorSetterAppliesOnlyFlaggedMembers) {
  CSComm comm{};
  ASSERT_EQ(csCommGet(&comm, inst_), 0);
  CSComm sent = comm;
  sent.dialOrder[0].videoOrder = 9;
  sent.dialOrder[0].voiceOrder = 8;
  sent.autoAnswerPP = 1;
  ASSERT_GE(csCommSet(&sent, 0x400), 0);
  CSComm now{};
  ASSERT_EQ(csCommGet(&now, inst_), 0);
  EXPECT_EQ(now.dialOrder[0].videoOrder, 9u);
  EXPECT_EQ(now.dialOrder[0].voiceOrder, comm.dialOrder[0].voiceOrder);
  EXPECT_EQ(now.autoAnswerPP, comm.autoAnswerPP);

  CSSys sys{};
  ASSERT_EQ(csSysGet(&sys, inst_), 0);
  CSSys s2 = sys;
  kyr_copy_text(s2.hostName, sizeof s2.hostName, "renamed");
  kyr_copy_text(s2.systemName, sizeof s2.systemName, "Other");
  ASSERT_GE(csSysSet(&s2, 0x80), 0);
  ASSERT_EQ(csSysGet(&s2, inst_), 0);
  EXPECT_STREQ(s2.hostName, "renamed");
  EXPECT_STREQ(s2.systemName, sys.systemName);
}

}  // namespace
