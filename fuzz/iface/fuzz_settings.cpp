// libFuzzer target over the settings converters that take Java's key and
// value: every Set*SystemSettings and setSecuritySystemPassword, connected
// to the codec simulator's model in this process (plain TCP on 127.0.0.1),
// so a converter gets as far as parsing the value and sending the record.
// Input: a selector byte (converter = selector % converters), a key byte
// (high bit set: a known key from the table below, by index; 0x7f: no key
// at all, as Java's null; else the key is the text up to the first NUL),
// then the value (the rest; a single value byte with the high bit set picks
// a value from the value table, 0xff alone is Java's null).
// Converters not linked into this build are skipped.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "codec_sim.h"
#include "csapi/client/csapi_client.h"
#include "service/interfaces/settings.h"
#include "service/kyr_service.h"

#define KYR_FUZZ_WEAK_SET(fn) extern "C" int fn(const char *key, const char *value) __attribute__((weak));
KYR_SETTINGS_SET_LIST(KYR_FUZZ_WEAK_SET)
#undef KYR_FUZZ_WEAK_SET
extern "C" int setSecuritySystemPassword(int type, const char *old_password, const char *new_password)
    __attribute__((weak));

namespace {

typedef int (*set_fn)(const char *, const char *);
#define KYR_FUZZ_SET_ROW(fn) fn,
set_fn const kSetters[] = {KYR_SETTINGS_SET_LIST(KYR_FUZZ_SET_ROW)};
#undef KYR_FUZZ_SET_ROW
constexpr size_t kSetterCount = sizeof kSetters / sizeof kSetters[0];

const char *const kKeys[] = {
    "allow_user_settings", "allow_video_on_web", "auto_answer_mp", "availability_control", "availability_menu",
    "backlight_compensation", "far_control_of_near_camera", "log_threshold", "meeting_password",
    "meeting_password_minimum_length", "meeting_password_maximum_age", "meeting_password_reuse_count",
    "mute_auto_answer", "old_meeting_password", "system_name", "use_gatekeeper", "gatekeeper_address",
    "sip_registrar_server_address", "host_name", "time_server_state", "isdn_video_number_line_1",
    "isdn_switch_type", "calendaring_service_status", "ldap_status", "pxs_address", "voxtellan_ip_status",
    "", "x"};
const char *const kValues[] = {"0", "1", "-1", "2", "true", "false", "on", "off", "", "2147483647",
                               "2147483648", "-2147483649", "99999999999999999999", "0x10", " 1", "1 ", "abc",
                               "%s%n", "\xff\xfe", "\xc3\xa9"};

codec_sim *g_sim;
int g_instance = -1;

void connect_once() {
  static bool done = false;
  if (done) return;
  done = true;
  codec_sim_config cfg;
  cfg.model = true;
  g_sim = codec_sim_start(cfg);  // lives as long as the process
  if (!g_sim || csInit(nullptr) != 0) abort();
  char addr[64];
  snprintf(addr, sizeof addr, "127.0.0.1:%d", codec_sim_port(g_sim));
  g_instance = csConnect(addr, "davix", "2.0.0", "1.0.0", "9.0.0");
  if (g_instance < 0 || csAuth(g_instance, "SERIAL1") != 0) abort();
  kyr_service_debug_set_server_instance(g_instance);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  connect_once();
  const size_t which = data[0] % (kSetterCount + 1);
  std::string key, value;
  size_t at = 2;
  if (data[1] & 0x80) {
    key = kKeys[(data[1] & 0x7f) % (sizeof kKeys / sizeof kKeys[0])];
  } else {
    key.push_back(static_cast<char>(data[1]));
    while (at < size && data[at]) key.push_back(static_cast<char>(data[at++]));
    at++;
  }
  if (at < size && (data[at] & 0x80) && size - at == 1) {
    value = kValues[(data[at] & 0x7f) % (sizeof kValues / sizeof kValues[0])];
  } else if (at < size) {
    value.assign(reinterpret_cast<const char *>(data + at), size - at);
    value = value.c_str();  // Java text never holds a NUL here (cut at the first)
  }
  // Java's null: key byte 0x7f, or a value of the one byte 0xff.
  const char *k = data[1] == 0x7f ? nullptr : key.c_str();
  const char *v = (size - at == 1 && data[at] == 0xff) ? nullptr : value.c_str();
  if (which < kSetterCount) {
    if (kSetters[which]) kSetters[which](k, v);
  } else if (setSecuritySystemPassword) {
    setSecuritySystemPassword(static_cast<int>(data[1] % 6) - 1, k, v);
  }
  return 0;
}
