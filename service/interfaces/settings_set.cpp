/* Set converters: one key/value pair from Java applied to one field of a
 * record, sent to the codec with the flag of that field. Also the meeting
 * password, whose old value Java hands over first under its own key. */
#include <ctype.h>
#include <string.h>

#include <mutex>

#include "csapi/client/cs_ops.h"
#include "csapi/client/csapi_rpc.h"
#include "service/kyr_modules.h"
#include "service/interfaces/settings_rows.h"
#include "service/kyr_service.h"

namespace {

/* ---- the remembered old meeting password ---- */

const size_t kPasswordMax = 64;
std::mutex s_old_password_mu;
char old_password[kPasswordMax + 1];

/* Overwrites the buffer in a way the compiler may not drop. */
void wipe(void *p, size_t n) {
  volatile unsigned char *b = static_cast<volatile unsigned char *>(p);
  while (n--) *b++ = 0;
}

/* ---- records a key can change ---- */

/* How one record kind is fetched and sent back. */
struct set_record {
  const char *name; /* as the failure texts name it */
  size_t size;
  int (*get)(void *rec);
  int (*set)(const void *rec, unsigned int flags);
};

template <typename R, int (*Get)(R *, int)>
int get_top(void *rec) {
  return Get(static_cast<R *>(rec), kyr_server_instance());
}

template <typename R, int (*Set)(const R *, unsigned int)>
int set_rec(const void *rec, unsigned int flags) {
  return Set(static_cast<const R *>(rec), flags);
}

#define KYR_SET_RECORD(Kind, name) \
  set_record { name, sizeof(CS##Kind), get_top<CS##Kind, cs##Kind##Get>, set_rec<CS##Kind, cs##Kind##Set> }

const set_record kCamRecord = KYR_SET_RECORD(CamSubsys, "Camera");
const set_record kSecRecord = KYR_SET_RECORD(Sec, "Security");
const set_record kDirRecord = KYR_SET_RECORD(Dir, "DIRECTORY");
const set_record kAudioRecord = KYR_SET_RECORD(Audio, "AUDIO");
const set_record kCommRecord = KYR_SET_RECORD(Comm, "COM");

/* One key: the digit of its value goes into the u32 field at offset, sent
 * with flag. */
struct set_key {
  const char *key;
  size_t offset;
  unsigned int flag;
};

#define KYR_SET_KEY(Rec, key, field, flag) \
  { key, offsetof(Rec, field), flag }

const set_key kCamKeys[] = {
    KYR_SET_KEY(CSCamSubsys, "backlight_compensation", backlightComp, 0x20),
    KYR_SET_KEY(CSCamSubsys, "far_control_of_near_camera", farControlOfNearCam, 0x40),
};
const set_key kSecKeys[] = {
    KYR_SET_KEY(CSSec, "allow_video_on_web", allowVideoOnWeb, 0x100),
};
const set_key kDirKeys[] = {
    KYR_SET_KEY(CSDir, "availability_control", localAvailability, 0x4),
};
const set_key kAudioKeys[] = {
    KYR_SET_KEY(CSAudio, "mute_auto_answer", muteAutoAnswer, 0x40),
};
const set_key kCommKeys[] = {
    KYR_SET_KEY(CSComm, "auto_answer_pt2pt", autoAnswerPP, 0x8),
    KYR_SET_KEY(CSComm, "auto_answer_mp", autoAnswerMP, 0x10),
};

/* A settings page that Java can change. */
struct set_page {
  const char *converter;
  const set_record *record;
  const set_key *keys;
  size_t key_count;
  /* A key the page does not know: logged with this text ("%s" the key), or
   * the record is sent back anyway with unknown_flag (when not 0). */
  const char *unknown_text;
  unsigned int unknown_flag;
};

template <size_t N>
constexpr set_page page(const char *converter, const set_record &rec, const set_key (&keys)[N],
                        const char *unknown_text, unsigned int unknown_flag) {
  return set_page{converter, &rec, keys, N, unknown_text, unknown_flag};
}

const set_page kContentPage = page("SetContentSystemSettings", kCamRecord, kCamKeys, "%s is not supported\n", 0);
const set_page kSecurityPage = page("SetSecuritySystemSettings", kSecRecord, kSecKeys, nullptr, 0x100);
const set_page kDirectoryPage = page("SetDirectorySystemSettings", kDirRecord, kDirKeys, nullptr, 0);
const set_page kAudioPage = page("SetAudioSystemSettings", kAudioRecord, kAudioKeys, nullptr, 0);
const set_page kCommPage = page("SetCommSystemSettings", kCommRecord, kCommKeys, nullptr, 0);

bool null_args(const char *converter, const char *key, const char *value) {
  if (key && value) return false;
  kyr_settings_log("%s: detected NULL pointer...", converter);
  return true;
}

/* Only the first character counts ("10" means 1); it must be a digit. */
bool digit_value(const char *converter, const char *key, const char *value, unsigned int *out) {
  if (isdigit(static_cast<unsigned char>(value[0]))) {
    *out = static_cast<unsigned int>(value[0] - '0');
    return true;
  }
  kyr_settings_log("%s: %s needs a value starting with a digit\n", converter, key);
  return false;
}

int apply(const set_page &p, const char *key, const char *value) {
  if (null_args(p.converter, key, value)) return -1;
  const set_key *k = nullptr;
  for (size_t i = 0; i < p.key_count; i++)
    if (strcmp(p.keys[i].key, key) == 0) k = &p.keys[i];
  unsigned int digit = 0;
  if (k && !digit_value(p.converter, key, value, &digit)) return CSAPI_ERR_BAD_PARAMETER;

  alignas(8) unsigned char rec[1024];
  static_assert(sizeof(CSCamSubsys) <= sizeof rec && sizeof(CSSec) <= sizeof rec && sizeof(CSDir) <= sizeof rec &&
                    sizeof(CSAudio) <= sizeof rec && sizeof(CSComm) <= sizeof rec,
                "record buffer");
  memset(rec, 0, p.record->size);
  int rc = p.record->get(rec);
  if (rc < 0) {
    kyr_settings_log("can't get %s settings, err=%d (%s)", p.record->name, rc, csErrorString());
    return rc;
  }
  unsigned int flag = p.unknown_flag;
  if (k) {
    memcpy(rec + k->offset, &digit, sizeof digit);
    flag = k->flag;
  } else if (p.unknown_text) {
    kyr_settings_log(p.unknown_text, key);
  }
  if (!flag) return rc; /* nothing this page knows: the record stays as it was */
  rc = p.record->set(rec, flag);
  if (rc < 0) kyr_settings_log("can't set %s settings, err=%d (%s)", p.record->name, rc, csErrorString());
  return rc;
}

}  // namespace

extern "C" int SetContentSystemSettings(const char *key, const char *value) { return apply(kContentPage, key, value); }
extern "C" int SetDirectorySystemSettings(const char *key, const char *value) {
  return apply(kDirectoryPage, key, value);
}
extern "C" int SetAudioSystemSettings(const char *key, const char *value) { return apply(kAudioPage, key, value); }
extern "C" int SetCommSystemSettings(const char *key, const char *value) { return apply(kCommPage, key, value); }

extern "C" int SetSecuritySystemSettings(const char *key, const char *value) {
  if (null_args(kSecurityPage.converter, key, value)) return -1;
  if (strcmp(key, "old_meeting_password") == 0) {
    std::lock_guard<std::mutex> g(s_old_password_mu);
    wipe(old_password, sizeof old_password);
    kyr_copy_text(old_password, sizeof old_password, value);
    return 0;
  }
  if (strcmp(key, "meeting_password") == 0) {
    char old_copy[kPasswordMax + 1];
    {
      std::lock_guard<std::mutex> g(s_old_password_mu);
      memcpy(old_copy, old_password, sizeof old_copy);
      wipe(old_password, sizeof old_password); /* one use only */
    }
    int rc = setSecuritySystemPassword(1, old_copy, value);
    wipe(old_copy, sizeof old_copy);
    return rc;
  }
  return apply(kSecurityPage, key, value);
}

/* These pages change nothing from Java: fetching tells whether the codec
 * can be reached. */
extern "C" int SetSysSystemSettings(const char *key, const char *value) {
  if (null_args("SetSysSystemSettings", key, value)) return -1;
  CSSys sys{};
  return csSysGet(&sys, kyr_server_instance());
}

namespace {

/* Fetches a subsystem and then one record under it; the second result. */
template <typename P, typename C, typename GetChild>
int fetch_under(const char *converter, const char *key, const char *value, int (*get_parent)(P *, int),
                GetChild get_child) {
  if (null_args(converter, key, value)) return -1;
  P parent{};
  int rc = get_parent(&parent, kyr_server_instance());
  if (rc < 0) return rc;
  C child{};
  rc = get_child(&child, &parent);
  wipe(&child, sizeof child);
  return rc;
}

}  // namespace

extern "C" int SetCalendarSystemSettings(const char *key, const char *value) {
  return fetch_under<CSCal, CSCalSrvr>("SetCalendarSystemSettings", key, value, csCalGet,
                                       [](CSCalSrvr *s, const CSCal *cal) { return csCalSrvrGet(s, cal, 0, 1); });
}

extern "C" int SetVoxtellanIPSystemSettings(const char *key, const char *value) {
  return fetch_under<CSComm, CSSpeakerPhoneNic>(
      "SetVoxtellanIPSystemSettings", key, value, csCommGet,
      [](CSSpeakerPhoneNic *n, const CSComm *comm) { return csSpeakerPhoneNicGet(n, comm, 0); });
}

extern "C" int setSecuritySystemPassword(int type, const char *old_pwd, const char *new_pwd) {
  const int kFirst = 1, kLast = 4;
  const int kAllRulesMet = 0xFFF;
  if (type < kFirst || type > kLast) {
    kyr_settings_log("Password type %d is outside the range {%d,%d}", type, kFirst, kLast);
    return -1;
  }
  if (!new_pwd) {
    kyr_settings_log("%s: detected NULL pointer...", "setSecuritySystemPassword");
    return -1;
  }
  CSSec sec{};
  int rc = csSecGet(&sec, kyr_server_instance());
  if (rc < 0) {
    kyr_settings_log_error("can't get security subsystem, err=%d (%s)", rc);
    return rc;
  }
  CSSecPwd pwd{};
  rc = csSecPwdGet(&pwd, &sec, 1);
  if (rc < 0) {
    kyr_settings_log_error("can't get Password settings, err=%d (%s)", rc);
    return rc;
  }
  pwd.type = static_cast<unsigned int>(type);
  kyr_copy_text(pwd.newPwd, kPasswordMax + 1, new_pwd);
  kyr_copy_text(pwd.oldPwd, kPasswordMax + 1, old_pwd ? old_pwd : "");
  const int set_rc = csSecPwdSet(&pwd, 0x2);
  wipe(&pwd, sizeof pwd);
  if (set_rc >= 0) return kAllRulesMet;
  kyr_settings_log_error("can't set Security settings, err=%d (%s)", set_rc);
  rc = csSecPwdGet(&pwd, &sec, 1);
  unsigned int valid = pwd.valid;
  wipe(&pwd, sizeof pwd);
  if (rc < 0) return rc;
  /* Only the rule bits: bit 31 (a password is present) would read as a
   * negative code. A refusal with every rule met (the old password was
   * wrong, say) is no success: the set's code tells why. */
  unsigned int rules = valid & static_cast<unsigned int>(kAllRulesMet);
  return rules == static_cast<unsigned int>(kAllRulesMet) ? set_rc : static_cast<int>(rules);
}

extern "C" void SettingsWipeOldPassword(void) {
  std::lock_guard<std::mutex> g(s_old_password_mu);
  wipe(old_password, sizeof old_password);
}

/* For tests: whether an old password is remembered (never its text). */
extern "C" int SettingsOldPasswordHeld(void) {
  std::lock_guard<std::mutex> g(s_old_password_mu);
  return old_password[0] != '\0';
}

/* The remembered meeting password goes with the connection, and with the
 * set-up (service/kyr_modules.h). */
extern "C" void kyr_settings_on_loss(int) { SettingsWipeOldPassword(); }
