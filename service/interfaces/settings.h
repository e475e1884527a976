/* Settings lists: the codec's settings as flat key/value pairs for Java.
 *
 * A list is a chain of SettingsStruct elements (516 bytes: next handle at 0,
 * name at 4, value at 260, both NUL-terminated and zero-filled) that Java
 * reads in place and gives back to a Native*SettingsRelease entry point,
 * which calls SettingsListRelease.
 *
 *   Get*SystemSettings()         fetch the current records, list every key
 *                                of a settings page
 *   Get*SettingsUpdates(rec, f)  from a change callback: only the keys whose
 *                                field bits are set in f
 *   Set*SystemSettings(key, val) apply one pair from Java to the codec
 *
 * List results: the head element's handle (positive), 0 for an empty list,
 * -1 for failure (a converter that fails frees what it had built). Set
 * results: the CS operation's result (0 or more on success), -1 or a
 * negative CSAPI code.
 *
 * Every converter talks to the service's connection (kyr_server_instance)
 * on the calling thread and logs under "KyrConnectLib:Settings". No
 * password value ever appears in a log line. */
#ifndef KYR_SETTINGS_H
#define KYR_SETTINGS_H

#include <stdint.h>

#include "csapi/client/cs_records.h"
#include "platform/kyr_api.h"

#define KYR_LAYOUT_DEF "service/interfaces/layouts/SettingsStruct.def"
#include "service/interfaces/kyr_layout_expand.h"

#define KYR_SETTINGS_TAG "KyrConnectLib:Settings"

KYR_EXTERN_C_BEGIN

/* Appends an element with key and the value at `value` (a char text when
 * is_text is non-zero, else an int) after *last (or as *first). Null, with
 * the list unchanged, when key or value is null ("%s: detected NULL
 * element\n") or memory runs out. */
SettingsStruct *newSettingsElement(SettingsStruct **first, SettingsStruct **last, const char *key, const void *value,
                                   int is_text);

/* The handle of the element (the list head handed to Java), 0 for null. */
int64_t SettingsListHandle(const SettingsStruct *first);

/* Frees a list that was never handed over. */
void SettingsListFree(SettingsStruct *first);

/* Java's release of a list it was given: walks the chain and frees every
 * element; an unknown head is logged and ignored, 0 and -1 (a page that
 * could not be read) do nothing. */
void SettingsListRelease(int64_t head);

/* ---- update converters (record, field flags) ---- */
#define KYR_SETTINGS_UPDATE_LIST(X)                     \
  X(GetContentSettingsUpdates, CamSubsys)               \
  X(GetSecuritySettingsUpdates, Sec)                    \
  X(GetSecurityPwdAttributesUpdates, SecPwdAttr)        \
  X(GetSecurityPwdUpdates, SecPwd)                      \
  X(GetSecurityPwdValidityUpdates, SecPwdValidity)      \
  X(GetLogSettingsUpdates, Log)                         \
  X(GetLanSettingsUpdates, Lan)                         \
  X(GetTimeSettingsUpdates, Time)                       \
  X(GetHomeScreenSettingsUpdates, HomeScreen)           \
  X(GetProvisioningSettingsUpdates, Provisioning)       \
  X(GetSysSettingsUpdates, Sys)                         \
  X(GetDirectorySettingsUpdates, Dir)                   \
  X(GetCalendarSettingsUpdates, CalSrvr)                \
  X(GetSpeakerphoneNicSettingsUpdates, SpeakerPhoneNic) \
  X(GetSipNicSettingsUpdates, SipNic)                   \
  X(GetH323NicSettingsUpdates, H323Nic)                 \
  X(GetCommSettingsUpdates, Comm)                       \
  X(GetAudioSettingsUpdates, Audio)                     \
  X(GetPotsNicSettingsUpdates, PotsNic)                 \
  X(GetIsdnNicSettingsUpdates, IsdnNic)                 \
  X(GetV35NicSettingsUpdates, V35Nic)                   \
  X(GetLineSettingsUpdates, IsdnLine)

#define KYR_SETTINGS_DECLARE_UPDATE(fn, Kind) int64_t fn(const CS##Kind *record, unsigned int flags);
KYR_SETTINGS_UPDATE_LIST(KYR_SETTINGS_DECLARE_UPDATE)
#undef KYR_SETTINGS_DECLARE_UPDATE

/* ISDN / V.35 line info appended to a list (first and last element slots):
 * "isdn_network_interface_type", then for each line below lineCount its
 * state key (0 when disabled), its video number key ("country.area.address")
 * and, for line 0, "isdn_video_number". A line that cannot be fetched is
 * logged and skipped. 0, or -1 when an argument is null or memory runs out
 * (what was appended stays on the caller's list). */
int BuildIsdnLineInfo(SettingsStruct **firstStruct, SettingsStruct **prevStruct, unsigned int lineCount,
                      const CSIsdnNic *pIsdnNic, const char *nicCountryCode, const char *nicAreaCode, int disabled);
int BuildV35LineInfo(SettingsStruct **firstStruct, SettingsStruct **prevStruct, unsigned int lineCount,
                     const CSV35Nic *pV35Nic, const char *nicCountryCode, const char *nicAreaCode, int disabled);

/* Directory servers: what changed between previous (may be null) and server. */
int64_t GetDirectoryServerSettingsUpdates(const CSDirSrvr *server, const CSDirSrvr *previous, unsigned int flags);

/* ---- system converters ---- */
#define KYR_SETTINGS_SYSTEM_LIST(X) \
  X(GetContentSystemSettings)       \
  X(GetSecuritySystemSettings)      \
  X(GetCalendarSystemSettings)      \
  X(GetDirectorySystemSettings)     \
  X(GetAudioSystemSettings)         \
  X(GetSysSystemSettings)           \
  X(GetCommSystemSettings)

#define KYR_SETTINGS_DECLARE_SYSTEM(fn) int64_t fn(void);
KYR_SETTINGS_SYSTEM_LIST(KYR_SETTINGS_DECLARE_SYSTEM)
#undef KYR_SETTINGS_DECLARE_SYSTEM

/* ---- set converters (key, value) ---- */
#define KYR_SETTINGS_SET_LIST(X)  \
  X(SetContentSystemSettings)     \
  X(SetSecuritySystemSettings)    \
  X(SetDirectorySystemSettings)   \
  X(SetAudioSystemSettings)       \
  X(SetCommSystemSettings)        \
  X(SetSysSystemSettings)         \
  X(SetCalendarSystemSettings)    \
  X(SetVoxtellanIPSystemSettings)

#define KYR_SETTINGS_DECLARE_SET(fn) int fn(const char *key, const char *value);
KYR_SETTINGS_SET_LIST(KYR_SETTINGS_DECLARE_SET)
#undef KYR_SETTINGS_DECLARE_SET

/* Sends a new password of type 1..4 (old and new texts, at most 64
 * characters each). 4095 when every rule is met; otherwise the codec's
 * bit mask of the rules met, or a negative code. */
int setSecuritySystemPassword(int type, const char *old_password, const char *new_password);

/* Wipes the remembered "old_meeting_password" (also done when the
 * connection closes). */
void SettingsWipeOldPassword(void);
/* For tests: 1 while an old password is remembered (never its text). */
int SettingsOldPasswordHeld(void);

KYR_EXTERN_C_END

#endif
