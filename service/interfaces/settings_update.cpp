/* Update converters: from a change callback's record and field flags, the
 * keys whose fields changed. Also the list builder every converter uses and
 * the row tables shared with the system converters. */
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "csapi/client/cs_ops.h"
#include "csapi/client/csapi_rpc.h"
#include "platform/kyr_log.h"
#include "service/interfaces/kyr_fetch.h"
#include "service/interfaces/settings_rows.h"
#include "service/kyr_service.h"

/* ---- the list builder ---- */

void kyr_settings_list::add_int(const char *key, int value) {
  if (!failed && !newSettingsElement(&first, &last, key, &value, 0)) failed = true;
}

void kyr_settings_list::add_text(const char *key, const char *value) {
  if (!failed && !newSettingsElement(&first, &last, key, value, 1)) failed = true;
}

void kyr_settings_list::add_rows(const void *record, kyr_setting_span span, unsigned int flags, bool all) {
  const char *base = static_cast<const char *>(record);
  for (size_t i = 0; i < span.count && !failed; i++) {
    const kyr_setting_row &r = span.rows[i];
    if (!all && r.flag != 0 && !(flags & r.flag)) continue;
    const char *field = base + r.offset;
    if (r.kind == KYR_SETTING_TEXT) {
      add_text(r.key, field);
      continue;
    }
    int v;
    memcpy(&v, field, sizeof v);
    if (r.kind == KYR_SETTING_BIT31) v = (static_cast<unsigned int>(v) & 0x80000000u) ? 1 : 0;
    add_int(r.key, v);
  }
}

int64_t kyr_settings_list::finish() {
  if (failed) {
    SettingsListFree(first);
    first = last = nullptr;
    return -1;
  }
  int64_t head = SettingsListHandle(first);
  first = last = nullptr;
  return head;
}

void kyr_settings_log(const char *fmt, ...) {
  char text[512];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(text, sizeof text, fmt, ap);
  va_end(ap);
  kyr_log_printf(KYR_LOG_ERROR, KYR_SETTINGS_TAG, "%s", text);
}

void kyr_settings_log_error(const char *fmt, int rc) {
  char text[512];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  snprintf(text, sizeof text, fmt, rc, kyr_err_text(rc));
#pragma GCC diagnostic pop
  kyr_log_printf(KYR_LOG_ERROR, KYR_SETTINGS_TAG, "%s", text);
}

unsigned int kyr_settings_clamp(unsigned int count, unsigned int max, const char *what) {
  if (count <= max) return count;
  kyr_settings_log("%s: count %u above %u, only the first %u listed\n", what, count, max, max);
  return max;
}

/* ---- row tables ---- */

const kyr_setting_row kCamSubsysRows[2] = {
    KYR_SETTING(CSCamSubsys, 0x20, "backlight_compensation", INT, backlightComp),
    KYR_SETTING(CSCamSubsys, 0x40, "far_control_of_near_camera", INT, farControlOfNearCam),
};

const kyr_setting_row kSecRows[2] = {
    KYR_SETTING(CSSec, 0x100, "allow_video_on_web", INT, allowVideoOnWeb),
    KYR_SETTING(CSSec, 0x4, "allow_user_settings", INT, allowAccessToUserSettings),
};

/* In the order the settings page shows them, which is not the bit order. */
const kyr_setting_row kSecPwdAttrRows[12] = {
    KYR_SETTING(CSSecPwdAttr, 0x1, "meeting_password_minimum_length", INT, minimumLength),
    KYR_SETTING(CSSecPwdAttr, 0x2, "meeting_password_required_lower_case_count", INT, requireLowerCount),
    KYR_SETTING(CSSecPwdAttr, 0x4, "meeting_password_required_upper_case_count", INT, requireUpperCount),
    KYR_SETTING(CSSecPwdAttr, 0x8, "meeting_password_required_number_count", INT, requireNumberCount),
    KYR_SETTING(CSSecPwdAttr, 0x10, "meeting_password_required_special_characters_count", INT, requireSpecialCount),
    KYR_SETTING(CSSecPwdAttr, 0x200, "meeting_password_minimum_changed_charecters", INT, minimumChangedChars),
    KYR_SETTING(CSSecPwdAttr, 0x400, "meeting_password_maximum_consecutive_repeated_chars", INT, maximumRepeatedChars),
    KYR_SETTING(CSSecPwdAttr, 0x20, "meeting_password_reuse_count", INT, reuseCount),
    KYR_SETTING(CSSecPwdAttr, 0x40, "meeting_password_minimum_age", INT, minimumAge),
    KYR_SETTING(CSSecPwdAttr, 0x80, "meeting_password_maximum_age", INT, maximumAge),
    KYR_SETTING(CSSecPwdAttr, 0x100, "meeting_password_expiration_warning_age", INT, expirationWarningAge),
    KYR_SETTING(CSSecPwdAttr, 0x800, "meeting_password_contains_id", INT, canContainIDorReverse),
};

const kyr_setting_row kSecPwdRows[1] = {
    KYR_SETTING(CSSecPwd, 0, "meeting_password_present", BIT31, valid),
};

static const kyr_setting_row kSecPwdValidityRows[1] = {
    KYR_SETTING(CSSecPwdValidity, 0, "meeting_password_present", BIT31, valid),
};

const kyr_setting_row kLogRows[2] = {
    KYR_SETTING(CSLog, 0x1, "log_threshold_filled", INT, percentFilled),
    KYR_SETTING(CSLog, 0x2, "log_threshold", INT, percentFilledThreshold),
};

const kyr_setting_row kLanRows[8] = {
    KYR_SETTING(CSLan, 0x1, "ip_network_state", INT, state),
    KYR_SETTING(CSLan, 0x8, "eap_state", INT, eapEnabled),
    KYR_SETTING(CSLan, 0x4, "mac_address", TEXT, address[0]),
    KYR_SETTING(CSLan, 0x4, "ipv4_address", TEXT, address[1]),
    KYR_SETTING(CSLan, 0x4, "link_local_address", TEXT, address[4]),
    KYR_SETTING(CSLan, 0x4, "site_local_address", TEXT, address[5]),
    KYR_SETTING(CSLan, 0x4, "global_address", TEXT, address[6]),
    KYR_SETTING(CSLan, 0x40, "eap_status", INT, eapState),
};

const kyr_setting_row kTimeRows[1] = {
    KYR_SETTING(CSTime, 0x80, "time_server_state", INT, srvrState),
};

const kyr_setting_row kHomeScreenRows[1] = {
    KYR_SETTING(CSHomeScreen, 0x400, "availability_menu", INT, availabilityMenu),
};

const kyr_setting_row kProvisioningRows[2] = {
    KYR_SETTING(CSProvisioning, 0x1, "provisioning_service_state", INT, srvrState),
    KYR_SETTING(CSProvisioning, 0x40, "provisioning_service_ntlm_ver", INT, srvrAuthMethNegotiated),
};

const kyr_setting_row kSysRows[6] = {
    KYR_SETTING(CSSys, 0x1, "system_name", TEXT, systemName),
    KYR_SETTING(CSSys, 0x80, "host_name", TEXT, hostName),
    KYR_SETTING(CSSys, 0x10, "model", TEXT, model),
    KYR_SETTING(CSSys, 0x8, "hardware_version", TEXT, hardwareVersion),
    KYR_SETTING(CSSys, 0x2, "serial_number", TEXT, serialNumber),
    KYR_SETTING(CSSys, 0x4, "software_version", TEXT, softwareVersion),
};

const kyr_setting_row kDirRows[1] = {
    KYR_SETTING(CSDir, 0x4, "availability_control", INT, localAvailability),
};

const kyr_setting_row kCalSrvrRows[1] = {
    KYR_SETTING(CSCalSrvr, 0x2, "calendaring_service_status", INT, status),
};

const kyr_setting_row kSpeakerPhoneRows[1] = {
    KYR_SETTING(CSSpeakerPhoneNic, 0x4, "voxtellan_ip_status", INT, state),
};

static const kyr_setting_row kSipRows[4] = {
    KYR_SETTING(CSSipNic, 0x4000, "sip_registrar_server_state", INT, registrarSrvrState),
    KYR_SETTING(CSSipNic, 0x1000, "sip_registrar_server_address", TEXT, registrarSrvrAddr),
    KYR_SETTING(CSSipNic, 0x20000, "sip_registrar_server_ntlm_version", INT, registrarSrvrAuthMethNegotiated),
    KYR_SETTING(CSSipNic, 0x10000, "sip_registrar_server_model", TEXT, registrarSrvrModel),
};

static const kyr_setting_row kH323Rows[6] = {
    KYR_SETTING(CSH323Nic, 0x2000, "gatekeeper_state", INT, gkState),
    KYR_SETTING(CSH323Nic, 0x200, "h323_extension", TEXT, extension),
    KYR_SETTING(CSH323Nic, 0x80, "h323_address", TEXT, addr),
    KYR_SETTING(CSH323Nic, 0x1000, "gatekeeper_address", TEXT, gkAddr),
    KYR_SETTING(CSH323Nic, 0x8000, "gatekeeper_model", TEXT, gkModel),
    KYR_SETTING(CSH323Nic, 0x10000, "gatekeeper_software_version", TEXT, gkSoftwareVersion),
};

const kyr_setting_row kCommRows[2] = {
    KYR_SETTING(CSComm, 0x8, "auto_answer_pt2pt", INT, autoAnswerPP),
    KYR_SETTING(CSComm, 0x10, "auto_answer_mp", INT, autoAnswerMP),
};

const kyr_setting_row kAudioRows[2] = {
    KYR_SETTING(CSAudio, 0x40, "mute_auto_answer", INT, muteAutoAnswer),
    KYR_SETTING(CSAudio, 0x2, "number_of_mics", INT, numIns),
};

const kyr_setting_row kIsdnSwitchRows[1] = {
    KYR_SETTING(CSIsdnNic, 0x80000, "isdn_switch_type", INT, switchType),
};

const kyr_setting_row kPxsRows[2] = {
    KYR_SETTING(CSDirSrvr, 0x2, "pxs_status", INT, status),
    KYR_SETTING(CSDirSrvr, 0x8, "pxs_address", TEXT, address),
};

const kyr_setting_row kLdapRows[2] = {
    KYR_SETTING(CSDirSrvr, 0x4002, "ldap_status", INT, status),
    KYR_SETTING(CSDirSrvr, 0x8, "ldap_ntlm_version", INT, authMethodNegotiated),
};

const kyr_setting_row kPresenceRows[2] = {
    KYR_SETTING(CSDirSrvr, 0x4002, "presence_registration_status", INT, presenceSrvrStatus),
    KYR_SETTING(CSDirSrvr, 0x8, "presence_ntlm_version", INT, presenceSrvrAuthMethodNegotiated),
};

/* ---- converters that are their table ---- */

static int64_t list_rows(const void *record, kyr_setting_span span, unsigned int flags) {
  kyr_settings_list l;
  l.add_rows(record, span, flags);
  return l.finish();
}

static const unsigned int kMeetingPassword = 1;

/* converter, record kind, rows, when the record is listed at all */
#define KYR_TABLE_UPDATES(X)                                                                              \
  X(GetContentSettingsUpdates, CamSubsys, kCamSubsysRows, true)                                           \
  X(GetSecuritySettingsUpdates, Sec, kSecRows, true)                                                      \
  X(GetSecurityPwdAttributesUpdates, SecPwdAttr, kSecPwdAttrRows, record->type == kMeetingPassword)       \
  X(GetSecurityPwdUpdates, SecPwd, kSecPwdRows, record->type == kMeetingPassword)                         \
  X(GetSecurityPwdValidityUpdates, SecPwdValidity, kSecPwdValidityRows, record->type == kMeetingPassword) \
  X(GetLogSettingsUpdates, Log, kLogRows, true)                                                           \
  X(GetLanSettingsUpdates, Lan, kLanRows, true)                                                           \
  X(GetTimeSettingsUpdates, Time, kTimeRows, true)                                                        \
  X(GetHomeScreenSettingsUpdates, HomeScreen, kHomeScreenRows, true)                                      \
  X(GetProvisioningSettingsUpdates, Provisioning, kProvisioningRows, true)                                \
  X(GetSysSettingsUpdates, Sys, kSysRows, true)                                                           \
  X(GetDirectorySettingsUpdates, Dir, kDirRows, true)                                                     \
  X(GetCalendarSettingsUpdates, CalSrvr, kCalSrvrRows, true)                                              \
  X(GetSpeakerphoneNicSettingsUpdates, SpeakerPhoneNic, kSpeakerPhoneRows, true)                          \
  X(GetSipNicSettingsUpdates, SipNic, kSipRows, true)                                                     \
  X(GetH323NicSettingsUpdates, H323Nic, kH323Rows, true)                                                  \
  X(GetCommSettingsUpdates, Comm, kCommRows, true)

#define KYR_DEFINE_TABLE_UPDATE(fn, Kind, rows, when)                 \
  extern "C" int64_t fn(const CS##Kind *record, unsigned int flags) { \
    if (!record) {                                                    \
      kyr_settings_log("%s: detected NULL ptr", #fn);                 \
      return -1;                                                      \
    }                                                                 \
    if (!(when)) return 0;                                            \
    return list_rows(record, kyr_span(rows), flags);                  \
  }
KYR_TABLE_UPDATES(KYR_DEFINE_TABLE_UPDATE)
#undef KYR_DEFINE_TABLE_UPDATE

/* ---- audio: the inputs follow their count ---- */

void kyr_settings_add_audio_inputs(kyr_settings_list *list, const CSAudio *audio, bool log_failures) {
  unsigned int n = kyr_settings_clamp(audio->numIns, KYR_SETTINGS_MAX_AUDIO_INPUTS, "audio inputs");
  CSAudioIn in[KYR_SETTINGS_MAX_AUDIO_INPUTS]{};
  cs_op_ticket t[KYR_SETTINGS_MAX_AUDIO_INPUTS];
  for (unsigned int i = 0; i < n; i++) (void)csAudioInGetBegin(&t[i], &in[i], audio, static_cast<int>(i));
  for (unsigned int i = 0; i < n; i++) {
    int rc = cs_op_end(&t[i]);
    if (list->failed) continue;
    if (rc < 0) {
      if (log_failures)
        kyr_settings_log("can't get AUDIO IN settings for input %d, err=%d (%s)", static_cast<int>(i), rc,
                         kyr_err_text(rc));
      continue;
    }
    char key[64];
    snprintf(key, sizeof key, "microphone_version_%u", i);
    list->add_text(key, in[i].deviceVersion);
    snprintf(key, sizeof key, "microphone_status_%u", i);
    list->add_int(key, static_cast<int>(in[i].enabled));
  }
}

extern "C" int64_t GetAudioSettingsUpdates(const CSAudio *record, unsigned int flags) {
  if (!record) {
    kyr_settings_log("%s: detected NULL ptr", "GetAudioSettingsUpdates");
    return -1;
  }
  kyr_settings_list l;
  l.add_rows(record, kyr_span(kAudioRows), flags);
  if (flags & 0x2) kyr_settings_add_audio_inputs(&l, record, true);
  return l.finish();
}

extern "C" int64_t GetPotsNicSettingsUpdates(const CSPotsNic *, unsigned int) { return -1; }

/* ---- directory servers: what a status change means depends on the protocol ---- */

extern "C" int64_t GetDirectoryServerSettingsUpdates(const CSDirSrvr *server, const CSDirSrvr *previous,
                                                     unsigned int flags) {
  if (!server) {
    kyr_settings_log("%s: detected NULL ptr", "GetDirectoryServerSettingsUpdates");
    return -1;
  }
  /* A status is reported only as a change against the previous record. */
  const unsigned int kStatusBits = 0x4002;
  bool status_changed = previous && previous->status != server->status;
  bool either_changed = status_changed || (previous && previous->presenceSrvrStatus != server->presenceSrvrStatus);
  kyr_settings_list l;
  if (server->protocol == 2)
    l.add_rows(server, kyr_span(kPxsRows), status_changed ? flags : flags & ~kStatusBits);
  else if (server->protocol == 3)
    l.add_rows(server, kyr_span(kLdapRows), either_changed ? flags : flags & ~kStatusBits);
  l.add_rows(server, kyr_span(kPresenceRows), either_changed ? flags : flags & ~kStatusBits);
  return l.finish();
}

/* ---- ISDN and V.35 lines ---- */

namespace {

/* What the line builder needs of one line. */
struct line_view {
  int state;
  char address[16];
};

/* A line record of either kind, read while the others are in flight. */
union line_rec {
  CSIsdnLine isdn;
  CSV35Line v35;
};

/* The two kinds of interface, seen alike by the line builder. */
struct line_source {
  const char *builder;  /* function name for the log */
  const char *nic_null; /* what a null interface is logged as */
  const void *nic;
  int nic_id;
  int nic_type;
  unsigned int line_count;
  const char *country;
  const char *area;
  int (*begin)(cs_op_ticket *t, const void *nic, unsigned int i, line_rec *rec);
  void (*view)(const line_rec *rec, line_view *out);
};

int begin_isdn_line(cs_op_ticket *t, const void *nic, unsigned int i, line_rec *rec) {
  return csIsdnLineGetBegin(t, &rec->isdn, static_cast<const CSIsdnNic *>(nic), i);
}

void view_isdn_line(const line_rec *rec, line_view *out) {
  out->state = rec->isdn.state;
  kyr_copy_text(out->address, sizeof out->address, rec->isdn.addressA);
}

int begin_v35_line(cs_op_ticket *t, const void *nic, unsigned int i, line_rec *rec) {
  return csV35LineGetBegin(t, &rec->v35, static_cast<const CSV35Nic *>(nic), i);
}

void view_v35_line(const line_rec *rec, line_view *out) {
  out->state = rec->v35.state;
  kyr_copy_text(out->address, sizeof out->address, rec->v35.address);
}

void line_key(char *key, size_t cap, const char *prefix, unsigned int line) {
  snprintf(key, cap, "%s%u", prefix, line);
}

void video_number(char *out, size_t cap, const char *country, const char *area, const char *address) {
  snprintf(out, cap, "%s.%s.%s", country, area, address);
}

const char *const kStateKey = "isdn_state_line_";
const char *const kVideoKey = "isdn_video_number_line_";

void build_line_info(kyr_settings_list *list, const line_source &src, bool disabled) {
  list->add_int("isdn_network_interface_type", src.nic_type);
  unsigned int n = kyr_settings_clamp(src.line_count, KYR_SETTINGS_MAX_LINES, "interface lines");
  line_rec rec[KYR_SETTINGS_MAX_LINES];
  memset(rec, 0, sizeof rec);
  cs_op_ticket t[KYR_SETTINGS_MAX_LINES];
  for (unsigned int i = 0; i < n; i++) (void)src.begin(&t[i], src.nic, i, &rec[i]);
  for (unsigned int i = 0; i < n; i++) {
    int rc = cs_op_end(&t[i]);
    if (list->failed) continue;
    if (rc < 0) {
      kyr_settings_log("can't get NIC(nic=%d) Line %d settings, err=%d (%s)", src.nic_id, static_cast<int>(i), rc,
                       kyr_err_text(rc));
      continue;
    }
    line_view line{};
    src.view(&rec[i], &line);
    char key[64], number[64];
    line_key(key, sizeof key, kStateKey, i);
    list->add_int(key, disabled ? 0 : line.state);
    video_number(number, sizeof number, src.country, src.area, line.address);
    line_key(key, sizeof key, kVideoKey, i);
    list->add_text(key, number);
    if (i == 0) list->add_text("isdn_video_number", number);
  }
}

/* Both interface records carry id, type, line count and codes alike. */
template <typename Nic>
line_source source_of(const Nic *nic, const char *builder, const char *nic_null,
                      int (*begin)(cs_op_ticket *, const void *, unsigned int, line_rec *),
                      void (*view)(const line_rec *, line_view *)) {
  line_source s{builder, nic_null, nic, 0, 0, 0, nullptr, nullptr, begin, view};
  if (nic) {
    s.nic_id = nic->id;
    s.nic_type = nic->type;
    s.line_count = nic->lineCount;
    s.country = nic->countryCode;
    s.area = nic->areaCode;
  }
  return s;
}

line_source isdn_source(const CSIsdnNic *nic) {
  return source_of(nic, "BuildIsdnLineInfo", "pIsdnNic==NULL", begin_isdn_line, view_isdn_line);
}

line_source v35_source(const CSV35Nic *nic) {
  return source_of(nic, "BuildV35LineInfo", "pV35Nic==NULL", begin_v35_line, view_v35_line);
}

/* The builders of the C interface: onto a list the caller owns (first and
 * last slots), with a line count and codes that may differ from the
 * interface's own. Whatever was appended stays linked to the caller's list,
 * also when an append failed (the caller then frees it all). */
int build_into_slots(SettingsStruct **first, SettingsStruct **last, const line_source &src, bool disabled) {
  if (!first || !last || !src.area || !src.country || !src.nic) {
    kyr_settings_log("%s: detected NULL ptr", src.builder);
    if (!first) kyr_settings_log("firstStruct==NULL");
    if (!last) kyr_settings_log("prevStruct==NULL");
    if (!src.area) kyr_settings_log("nicAreaCode==NULL");
    if (!src.country) kyr_settings_log("nicCountryCode==NULL");
    if (!src.nic) kyr_settings_log("%s", src.nic_null);
    return -1;
  }
  kyr_settings_list l;
  l.first = *first;
  l.last = *last;
  build_line_info(&l, src, disabled);
  *first = l.first;
  *last = l.last;
  l.first = l.last = nullptr;
  return l.failed ? -1 : 0;
}

line_source with_codes(line_source src, unsigned int line_count, const char *country, const char *area) {
  src.line_count = line_count;
  src.country = country;
  src.area = area;
  return src;
}

const unsigned int kV35Type = 4;
const unsigned int kLineInfoBits = 0x700;

}  // namespace

void kyr_settings_isdn_line_info(kyr_settings_list *list, const CSIsdnNic *nic, bool disabled) {
  build_line_info(list, isdn_source(nic), disabled);
}

void kyr_settings_v35_line_info(kyr_settings_list *list, const CSV35Nic *nic, bool disabled) {
  build_line_info(list, v35_source(nic), disabled);
}

extern "C" int BuildIsdnLineInfo(SettingsStruct **firstStruct, SettingsStruct **prevStruct, unsigned int lineCount,
                                 const CSIsdnNic *pIsdnNic, const char *nicCountryCode, const char *nicAreaCode,
                                 int disabled) {
  return build_into_slots(firstStruct, prevStruct,
                          with_codes(isdn_source(pIsdnNic), lineCount, nicCountryCode, nicAreaCode), disabled != 0);
}

extern "C" int BuildV35LineInfo(SettingsStruct **firstStruct, SettingsStruct **prevStruct, unsigned int lineCount,
                                const CSV35Nic *pV35Nic, const char *nicCountryCode, const char *nicAreaCode,
                                int disabled) {
  return build_into_slots(firstStruct, prevStruct,
                          with_codes(v35_source(pV35Nic), lineCount, nicCountryCode, nicAreaCode), disabled != 0);
}

extern "C" int64_t GetIsdnNicSettingsUpdates(const CSIsdnNic *record, unsigned int flags) {
  if (!record) {
    kyr_settings_log("%s: detected NULL ptr", "GetIsdnNicSettingsUpdates");
    return -1;
  }
  if (static_cast<unsigned int>(record->type) == kV35Type) return -1;
  kyr_settings_list l;
  if (!record->enable) {
    kyr_settings_isdn_line_info(&l, record, true);
    return l.finish();
  }
  if (flags & 0x4) flags |= 0x80202; /* enabled again: switch, type and lines anew */
  l.add_rows(record, kyr_span(kIsdnSwitchRows), flags);
  if (flags & 0x2) l.add_int("isdn_network_interface_type", record->type);
  if (flags & kLineInfoBits) kyr_settings_isdn_line_info(&l, record, false);
  return l.finish();
}

extern "C" int64_t GetV35NicSettingsUpdates(const CSV35Nic *record, unsigned int flags) {
  if (!record) {
    kyr_settings_log("%s: detected NULL ptr", "GetV35NicSettingsUpdates");
    return -1;
  }
  if (static_cast<unsigned int>(record->type) != kV35Type) return -1;
  kyr_settings_list l;
  if (!record->enable) {
    kyr_settings_v35_line_info(&l, record, true);
    return l.finish();
  }
  if (flags & 0x4) flags |= 0x602;
  if (flags & 0x2) l.add_int("isdn_network_interface_type", record->type);
  if (flags & kLineInfoBits) kyr_settings_v35_line_info(&l, record, false);
  if (flags & 0x8) {
    unsigned int n = kyr_settings_clamp(record->lineCount, KYR_SETTINGS_MAX_LINES, "interface lines");
    for (unsigned int i = 0; i < n; i++) {
      char key[64];
      line_key(key, sizeof key, kStateKey, i);
      l.add_int(key, record->state);
    }
  }
  return l.finish();
}

extern "C" int64_t GetLineSettingsUpdates(const CSIsdnLine *record, unsigned int flags) {
  if (!record) {
    kyr_settings_log("%s: detected NULL ptr", "GetLineSettingsUpdates");
    return -1;
  }
  if (record->instance < 0) return 0; /* no key can name such a line */
  unsigned int n = static_cast<unsigned int>(record->instance);
  kyr_settings_list l;
  char key[64];
  if (flags & 0x8) {
    line_key(key, sizeof key, kStateKey, n);
    l.add_int(key, record->state);
  }
  if (flags & 0x20) {
    CSComm comm{};
    int rc = csCommGet(&comm, kyr_server_instance());
    if (rc < 0) {
      kyr_settings_log_error("can't get COM settings, err=%d (%s)", rc);
      return -1;
    }
    CSIsdnNic nic{};
    rc = csIsdnNicGet(&nic, &comm, 0);
    if (rc < 0) {
      kyr_settings_log_error("can't get ISDN NIC settings, err=%d (%s)", rc);
      return -1;
    }
    char number[64];
    video_number(number, sizeof number, nic.countryCode, nic.areaCode, record->addressA);
    line_key(key, sizeof key, kVideoKey, n);
    l.add_text(key, number);
    if (n == 0) l.add_text("isdn_video_number", number);
  }
  return l.finish();
}
