/* Every event the library posts to Java, as (code, value1, value2, obj).
 *
 * Codes are grouped by subsystem in their high byte: 0x1xx service, 0x2xx
 * audio, 0x3xx communications, 0x4xx directory, 0x5xx cameras and content,
 * 0x6xx calendar, 0x7xx security, 0x8xx system, 0x9xx video, 0xA00 error.
 * The list below is the one description of the codes: it expands into the
 * C constants, the name lookup, and (at build time) the Java constants of
 * quorvex.kyrconnectservice.KyrEvents. Keep one X(...) per line.
 *
 * Each row is X(name, code, payload kind). The kind says what value1 is and
 * who owns it, which kyr_post relies on and Java reads through
 * KyrEvents.payloadKind(code):
 *   PAYLOAD_NONE         plain numbers (an EVENT_DIR_SEARCH_DONE also
 *                        carries the Java search object)
 *   PAYLOAD_OWNED        the handle of a list or node (settings changes,
 *                        server and meeting nodes) or of a heap record
 *                        (directory entry changes) that the receiver owns
 *                        and releases; one nobody received is freed
 *   PAYLOAD_DURING_CALL  the handle of a record valid only while the
 *                        listener runs
 *   PAYLOAD_STATIC       the handle of a static snapshot the library keeps
 *                        and rewrites (read it during the call) */
#ifndef KYR_EVENTS_H
#define KYR_EVENTS_H

#include "platform/kyr_api.h"

#define KYR_EVENT_LIST(X)                                       \
  X(EVENT_CONNECT_STATE_CHANGED, 0x104, PAYLOAD_NONE)           \
  X(EVENT_AUDIO_VOLUME_CHANGED, 0x201, PAYLOAD_NONE)            \
  X(EVENT_AUDIO_MUTE_CHANGED, 0x202, PAYLOAD_NONE)              \
  X(EVENT_AUDIO_SYSTEM_CHANGED, 0x203, PAYLOAD_STATIC)          \
  X(EVENT_AUDIO_SETTINGS_CHANGED, 0x204, PAYLOAD_OWNED)         \
  X(EVENT_AUDIO_CAPS_CHANGED, 0x205, PAYLOAD_NONE)              \
  X(EVENT_COMM_CALL_STATE_CHANGED, 0x301, PAYLOAD_NONE)         \
  X(EVENT_COMM_PENDING_CALLS_CHANGED, 0x302, PAYLOAD_NONE)      \
  X(EVENT_COMM_CALL_LIST_CHANGED, 0x303, PAYLOAD_STATIC)        \
  X(EVENT_COMM_RECENT_CALLS_ARCHIVED, 0x304, PAYLOAD_NONE)      \
  X(EVENT_COMM_SYSTEM_CHANGED, 0x305, PAYLOAD_STATIC)           \
  X(EVENT_COMM_CONFERENCE_CHANGED, 0x306, PAYLOAD_STATIC)       \
  X(EVENT_COMM_SETTINGS_CHANGED, 0x307, PAYLOAD_OWNED)          \
  X(EVENT_COMM_CALL_AUTH_STATE_CHANGED, 0x308, PAYLOAD_NONE)    \
  X(EVENT_COMM_CALL_MUTE_CHANGED, 0x309, PAYLOAD_NONE)          \
  X(EVENT_DIR_SYSTEM_CHANGED, 0x401, PAYLOAD_STATIC)            \
  X(EVENT_DIR_SERVER_DISABLED, 0x402, PAYLOAD_OWNED)            \
  X(EVENT_DIR_SERVER_STATUS_CHANGED, 0x403, PAYLOAD_OWNED)      \
  X(EVENT_DIR_ENTRY_ADDED, 0x404, PAYLOAD_OWNED)                \
  X(EVENT_DIR_ENTRY_REMOVED, 0x405, PAYLOAD_OWNED)              \
  X(EVENT_DIR_ENTRY_CHANGED, 0x406, PAYLOAD_OWNED)              \
  X(EVENT_DIR_SEARCH_DONE, 0x408, PAYLOAD_NONE)                 \
  X(EVENT_DIR_SETTINGS_CHANGED, 0x409, PAYLOAD_OWNED)           \
  X(EVENT_DIR_SERVER_MODIFIED, 0x40A, PAYLOAD_OWNED)            \
  X(EVENT_CONTENT_SETTINGS_CHANGED, 0x501, PAYLOAD_OWNED)       \
  X(EVENT_CAMERA_CHANGED, 0x504, PAYLOAD_NONE)                  \
  X(EVENT_CAMERA_ADDED, 0x507, PAYLOAD_NONE)                    \
  X(EVENT_CAMERA_REMOVED, 0x508, PAYLOAD_NONE)                  \
  X(EVENT_CAMERA_FAR_GROUP_CHANGED, 0x509, PAYLOAD_NONE)        \
  X(EVENT_CAMERA_FAR_GROUP_ADDED, 0x50A, PAYLOAD_NONE)          \
  X(EVENT_CAMERA_FAR_GROUP_REMOVED, 0x50B, PAYLOAD_NONE)        \
  X(EVENT_CAMERA_PRESET_CHANGED, 0x50C, PAYLOAD_NONE)           \
  X(EVENT_CAMERA_PRESET_SELECTED, 0x50D, PAYLOAD_NONE)          \
  X(EVENT_CAL_SETTINGS_CHANGED, 0x601, PAYLOAD_OWNED)           \
  X(EVENT_CAL_MEETING_ADDED, 0x602, PAYLOAD_OWNED)              \
  X(EVENT_CAL_MEETING_REMOVED, 0x603, PAYLOAD_OWNED)            \
  X(EVENT_CAL_MEETING_CHANGED, 0x604, PAYLOAD_OWNED)            \
  X(EVENT_CAL_SERVER_CHANGED, 0x606, PAYLOAD_OWNED)             \
  X(EVENT_CAL_CHANGED, 0x607, PAYLOAD_DURING_CALL)              \
  X(EVENT_SECURITY_SETTINGS_CHANGED, 0x701, PAYLOAD_OWNED)      \
  X(EVENT_SYSTEM_SETTINGS_CHANGED, 0x801, PAYLOAD_OWNED)        \
  X(EVENT_VIDEO_ENDPOINT_TYPE, 0x902, PAYLOAD_NONE)             \
  X(EVENT_VIDEO_DME_MODE_CHANGED, 0x903, PAYLOAD_NONE)          \
  X(EVENT_VIDEO_DME_SWAP_CHANGED, 0x904, PAYLOAD_NONE)          \
  X(EVENT_VIDEO_PIP_MODE_CHANGED, 0x905, PAYLOAD_NONE)          \
  X(EVENT_VIDEO_PIP_SWAP_CHANGED, 0x906, PAYLOAD_NONE)          \
  X(EVENT_VIDEO_PIP_LOCATION_CAP_CHANGED, 0x907, PAYLOAD_NONE)  \
  X(EVENT_ERROR, 0xA00, PAYLOAD_NONE)

/* Failure reasons carried in value1 of EVENT_ERROR (value2 is -1). */
#define KYR_EVENT_ERROR_REASON_LIST(X)          \
  X(ERROR_REASON_DIAL_OUT_OF_RESOURCES, 0x302)   \
  X(ERROR_REASON_GROUP_DIAL_FAILED, 0x303)       \
  X(ERROR_REASON_DIAL_BAD_ADDRESS, 0x304)        \
  X(ERROR_REASON_DIR_SEARCH_BAD_PARAMETER, 0x402) \
  X(ERROR_REASON_CAMERA_UNSUPPORTED_RESOLUTION, 0x502)

/* The connection states carried in value1 of EVENT_CONNECT_STATE_CHANGED. */
#define KYR_CONNECT_STATE_LIST(X)    \
  X(KYR_Connect_Started, 0)          \
  X(KYR_Connect_Disconnected, 1)     \
  X(KYR_Connect_Failed, 2)           \
  X(KYR_Connect_PairingRequired, 3)  \
  X(KYR_Connect_Connected, 4)

/* What value1 of an event is (see above). */
#define KYR_PAYLOAD_KIND_LIST(X) \
  X(PAYLOAD_NONE, 0)             \
  X(PAYLOAD_OWNED, 1)            \
  X(PAYLOAD_DURING_CALL, 2)      \
  X(PAYLOAD_STATIC, 3)

KYR_EXTERN_C_BEGIN

#define KYR_X_ENUM(name, value) name = value,
#define KYR_X_EVENT_ENUM(name, value, kind) name = value,
enum kyr_event_code { KYR_EVENT_LIST(KYR_X_EVENT_ENUM) };
#undef KYR_X_EVENT_ENUM
typedef enum kyr_payload_kind { KYR_PAYLOAD_KIND_LIST(KYR_X_ENUM) } kyr_payload_kind;
enum kyr_event_error_reason { KYR_EVENT_ERROR_REASON_LIST(KYR_X_ENUM) };
typedef enum KYR_Connect_State { KYR_CONNECT_STATE_LIST(KYR_X_ENUM) } KYR_Connect_State;
#undef KYR_X_ENUM

/* "EVENT_CONNECT_STATE_CHANGED" for 0x104; null for a code not in the table. */
const char *kyr_event_name(int code);
/* The payload kind of an event code; PAYLOAD_NONE for a code not in the
 * table. */
kyr_payload_kind kyr_event_payload_kind(int code);
/* "KYR_Connect_Connected" for 4; null for an unknown state. */
const char *kyr_connect_state_name(int state);

KYR_EXTERN_C_END

#endif
