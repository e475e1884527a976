/* Internal to the settings converters: rows that name one key each, the
 * list builder that reads them, and the row tables the update and system
 * converters share. */
#ifndef KYR_SETTINGS_ROWS_H
#define KYR_SETTINGS_ROWS_H

#include <stddef.h>

#include "service/interfaces/settings.h"

/* How a row's source field becomes the value text. */
enum kyr_setting_kind {
  KYR_SETTING_INT,   /* 32-bit integer, "%d" */
  KYR_SETTING_TEXT,  /* NUL-terminated text field, cut to 255 */
  KYR_SETTING_BIT31, /* 1 when bit 31 of a 32-bit field is set, else 0 */
};

/* One key: listed when any bit of `flag` is in the field flags (flag 0:
 * always), with the value read at `offset` of the record. */
struct kyr_setting_row {
  unsigned int flag;
  const char *key;
  kyr_setting_kind kind;
  size_t offset;
};

#define KYR_SETTING(Rec, flag, key, kind, field) \
  { flag, key, KYR_SETTING_##kind, offsetof(Rec, field) }

/* Rows handed around as a span: a whole table or a part of it. */
struct kyr_setting_span {
  const kyr_setting_row *rows;
  size_t count;
};

template <size_t N>
constexpr kyr_setting_span kyr_span(const kyr_setting_row (&rows)[N], size_t from = 0, size_t count = N) {
  return kyr_setting_span{rows + from, from + count <= N ? count : 0};
}

/* A list under construction. The first failing append marks it failed;
 * later appends are then ignored, and finishing frees it and gives -1. */
struct kyr_settings_list {
  SettingsStruct *first = nullptr;
  SettingsStruct *last = nullptr;
  bool failed = false;

  kyr_settings_list() = default;
  kyr_settings_list(const kyr_settings_list &) = delete;
  kyr_settings_list &operator=(const kyr_settings_list &) = delete;
  ~kyr_settings_list() { SettingsListFree(first); }

  void add_int(const char *key, int value);
  void add_text(const char *key, const char *value);
  /* Appends the rows of span whose flag matches flags (every row when all). */
  void add_rows(const void *record, kyr_setting_span span, unsigned int flags, bool all = false);
  /* The head's handle (0 when empty), or -1 after a failed append; the list
   * is handed over either way. */
  int64_t finish();
};

/* Logs a converter's failure text under the settings tag, at error priority. */
void kyr_settings_log(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
/* Logs a failure text whose two arguments are a CSAPI code and its text
 * ("can't get ... err=%d (%s)"); the text is the thread's last error's. */
void kyr_settings_log_error(const char *fmt, int rc);

/* Counts read from the codec, bounded to what a list may reasonably hold;
 * a larger count is logged and clamped. */
#define KYR_SETTINGS_MAX_AUDIO_INPUTS 16
#define KYR_SETTINGS_MAX_LINES 8
unsigned int kyr_settings_clamp(unsigned int count, unsigned int max, const char *what);

/* Audio inputs 0..numIns-1 ("microphone_version_<i>", "microphone_status_<i>");
 * an input that cannot be fetched is skipped, logged when log_failures. */
void kyr_settings_add_audio_inputs(kyr_settings_list *list, const CSAudio *audio, bool log_failures);

/* Line info of an ISDN or V.35 interface (its type, then per line its state
 * key, 0 when disabled, and video number keys) appended to list. */
void kyr_settings_isdn_line_info(kyr_settings_list *list, const CSIsdnNic *nic, bool disabled);
void kyr_settings_v35_line_info(kyr_settings_list *list, const CSV35Nic *nic, bool disabled);

/* Row tables shared by update and system converters (in their update order). */
extern const kyr_setting_row kCamSubsysRows[2];
extern const kyr_setting_row kSecRows[2];
extern const kyr_setting_row kSecPwdAttrRows[12];
extern const kyr_setting_row kSecPwdRows[1];
extern const kyr_setting_row kLogRows[2];
extern const kyr_setting_row kLanRows[8];
extern const kyr_setting_row kTimeRows[1];
extern const kyr_setting_row kHomeScreenRows[1];
extern const kyr_setting_row kProvisioningRows[2];
extern const kyr_setting_row kSysRows[6];
extern const kyr_setting_row kDirRows[1];
extern const kyr_setting_row kCalSrvrRows[1];
extern const kyr_setting_row kSpeakerPhoneRows[1];
extern const kyr_setting_row kCommRows[2];
extern const kyr_setting_row kAudioRows[2];
extern const kyr_setting_row kIsdnSwitchRows[1];
extern const kyr_setting_row kPxsRows[2];
extern const kyr_setting_row kLdapRows[2];
extern const kyr_setting_row kPresenceRows[2];

/* Where the parts of kLanRows sit. */
enum { KYR_LAN_STATE = 0, KYR_LAN_EAP_STATE = 1, KYR_LAN_ADDRESSES = 2, KYR_LAN_EAP_STATUS = 7 };

#endif
