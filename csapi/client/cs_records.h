/* CS records: the codec's objects as plain fixed-size C structures.
 *
 * Every record kind is described exactly once below, as a field list
 * (CS_FIELDS_<Name>). Each row reads
 *
 *   X(TYPE, field, capacity, aux, flags)
 *
 *   TYPE      I32 / U32    32-bit integer, written to JSON signed / unsigned
 *             COUNT        i32 holding the number of valid entries of the
 *                          list that follows it
 *             TEXT         char[capacity], NUL-terminated
 *             DBL          double, carried through single precision
 *             LIST         aux[capacity]: entries of record type aux
 *             STRS         char[capacity][aux]: a list of strings
 *             STRSKEEP     as STRS, but a missing array keeps the slots
 *             EVENT        no storage: a flag bit that describes the event
 *   field     C name and (matched without regard to case) JSON member name
 *   flags     CS_F0 (no bit), CS_F(NAME, bit) or CS_F2(NAME, bit, NAME, bit)
 *
 * The same list drives the struct, its ...Fields enumeration, the layout
 * checks, the decoder, the encoder and the typed callback. Fields that the
 * codec numbers itself (shown without a bit) get no constant; every
 * enumeration also has <PREFIX>_NO_FIELDS (0), <PREFIX>_ALL_FIELDS (all
 * bits, -1) and <PREFIX>_FIELDS_INT_MAX (0x7FFFFFFF). The last two widen the
 * enumeration to the whole 32-bit range, so any flags value the codec sends
 * is a valid value of the type (C++ allows only the values of the narrowest
 * bit-field holding every enumerator).
 *
 * Threads: the decoders, encoders and the engine keep no state; records are
 * owned by their callers.
 */
#ifndef CS_RECORDS_H
#define CS_RECORDS_H

#include <stddef.h>
#include <stdint.h>

#include <cjson/cJSON.h>

#include "platform/kyr_api.h"

/* ---- flag column helpers (expanded only while building the enumerations) */
#define CS_F0
#define CS_F(n, v) n = (v),
#define CS_F2(n1, v1, n2, v2) n1 = (v1), n2 = (v2),

/* ---- list entries that are not records of their own ---------------------- */

/* One dial-order pair of CSComm. */
#define CS_FIELDS_DialOrder(X)      \
  X(U32, videoOrder, 0, 0, CS_F0) \
  X(U32, voiceOrder, 0, 0, CS_F0)

/* One panel of CSVideoOutLayout. */
#define CS_FIELDS_PanelMap(X)   \
  X(I32, source, 0, 0, CS_F0) \
  X(I32, layout, 0, 0, CS_F0)

/* One panel of CSVideoOutLayoutCap. */
#define CS_FIELDS_PanelMapCap(X)    \
  X(U32, sourceCap, 0, 0, CS_F0)  \
  X(U32, layoutCap, 0, 0, CS_F0)  \
  X(U32, layoutCap2, 0, 0, CS_F0) \
  X(U32, layoutCap3, 0, 0, CS_F0)

/* One video endpoint of a directory entry. */
#define CS_FIELDS_VideoDevice(X)         \
  X(I32, srvrInstance, 0, 0, CS_F0)     \
  X(TEXT, name, 128, 0, CS_F0)          \
  X(U32, rate, 0, 0, CS_F0)             \
  X(COUNT, addrCount, 0, 0, CS_F0)      \
  X(STRS, addr, 10, 128, CS_F0)         \
  X(U32, presence, 0, 0, CS_F0)         \
  X(U32, presenceProt, 0, 0, CS_F0)     \
  X(TEXT, id, 64, 0, CS_F0)

/* One call of CSAddressList ("Address" with a capital A on the wire). */
#define CS_FIELDS_AddressEntry(X) \
  X(I32, rate, 0, 0, CS_F0)     \
  X(TEXT, Address, 257, 0, CS_F0)

/* Element kinds, in dependency order. */
#define CS_ELEMENT_KINDS(X) \
  X(DialOrder)              \
  X(PanelMap)               \
  X(PanelMapCap)            \
  X(VideoDevice)            \
  X(AddressEntry)

/* ---- communication, conferences, terminals ------------------------------- */

#define CS_FIELDS_Comm(X)                                                      \
  X(I32, srvrInstance, 0, 0, CS_F0)                                           \
  X(U32, handle, 0, 0, CS_F0)                                                 \
  X(U32, maxConfs, 0, 0, CS_F(CSCOMM_MAX_CONFS_FIELD, 0x1))                   \
  X(U32, numConfs, 0, 0, CS_F(CSCOMM_NUM_CONFS_FIELD, 0x2))                   \
  X(U32, numPendingTerms, 0, 0, CS_F(CSCOMM_NUM_PENDING_TERMS_FIELD, 0x4))    \
  X(U32, autoAnswerPP, 0, 0, CS_F(CSCOMM_AUTO_ANSWER_PP_FIELD, 0x8))          \
  X(U32, autoAnswerMP, 0, 0, CS_F(CSCOMM_AUTO_ANSWER_MP_FIELD, 0x10))         \
  X(U32, connectTimeout, 0, 0, CS_F(CSCOMM_CONNECT_TIMEOUT_FIELD, 0x20))      \
  X(U32, disconnectTimeout, 0, 0, CS_F(CSCOMM_DISCONNECT_TIMEOUT_FIELD, 0x40)) \
  X(U32, maxTermsPerConf, 0, 0, CS_F(CSCOMM_MAX_TERMS_PER_CONF_FIELD, 0x80))  \
  X(U32, maxRecentCallListLen, 0, 0, CS_F(CSCOMM_MAX_RECENT_CALL_LIST_LEN_FIELD, 0x100)) \
  X(U32, autoSearchOrder, 0, 0, CS_F(CSCOMM_AUTO_SEARCH_ORDER_FIELD, 0x200))  \
  X(COUNT, dialOrderCount, 0, 0, CS_F0)                                       \
  X(LIST, dialOrder, 10, CSDialOrder,                                         \
    CS_F2(CSCOMM_VIDEO_CALL_ORDER_FIELD, 0x400, CSCOMM_VOICE_CALL_ORDER_FIELD, 0x800)) \
  X(U32, capabilities, 0, 0, CS_F0)

#define CS_FIELDS_Conf(X)                                                    \
  X(I32, srvrInstance, 0, 0, CS_F0)                                         \
  X(U32, handle, 0, 0, CS_F0)                                               \
  X(TEXT, name, 128, 0, CS_F(CSCONF_NAME_FIELD, 0x1))                       \
  X(TEXT, userName, 128, 0, CS_F(CSCONF_USERNAME_FIELD, 0x2))               \
  X(U32, maxTerms, 0, 0, CS_F(CSCONF_MAX_TERMS_FIELD, 0x4))                 \
  X(U32, rate, 0, 0, CS_F(CSCONF_RATE_FIELD, 0x8))                          \
  X(U32, encrypted, 0, 0, CS_F(CSCONF_ENCRYPTED_FIELD, 0x10))               \
  X(U32, contentState, 0, 0, CS_F(CSCONF_CONTENT_STATE_FIELD, 0x20))        \
  X(U32, chairState, 0, 0, CS_F(CSCONF_CHAIR_STATE_FIELD, 0x40))            \
  X(U32, numTerms, 0, 0, CS_F(CSCONF_NUM_TERMS_FIELD, 0x80))                \
  X(U32, numTalkers, 0, 0, CS_F(CSCONF_NUM_TALKERS_FIELD, 0x100))           \
  X(I32, id, 0, 0, CS_F(CSCONF_ID_FIELD, 0x200))                            \
  X(U32, confControlCap, 0, 0, CS_F(CSCONF_CONF_CONTROL_CAP_FIELD, 0x400))  \
  X(U32, confRoles, 0, 0, CS_F(CSCONF_CONF_ROLES_FIELD, 0x800))             \
  X(U32, confMute, 0, 0, CS_F(CSCONF_CONF_MUTE_FIELD, 0x1000))              \
  X(U32, action, 0, 0, CS_F0)                                               \
  X(U32, contentRestrict, 0, 0, CS_F0)

#define CS_FIELDS_Term(X)                                                     \
  X(I32, srvrInstance, 0, 0, CS_F0)                                          \
  X(U32, handle, 0, 0, CS_F0)                                                \
  X(TEXT, name, 128, 0, CS_F(CSTERM_NAME_FIELD, 0x1))                        \
  X(TEXT, callerID, 128, 0, CS_F(CSTERM_CALLERID_FIELD, 0x2))                \
  X(TEXT, addr, 257, 0, CS_F(CSTERM_ADDR_FIELD, 0x4))                        \
  X(U32, rate, 0, 0, CS_F(CSTERM_RATE_FIELD, 0x8))                           \
  X(U32, direction, 0, 0, CS_F(CSTERM_DIRECTION_FIELD, 0x10))                \
  X(U32, numCalls, 0, 0, CS_F(CSTERM_NUM_CALLS_FIELD, 0x20))                 \
  X(TEXT, remoteSysID, 128, 0, CS_F(CSTERM_REMOTE_SYSID_FIELD, 0x40))        \
  X(U32, confIndex, 0, 0, CS_F(CSTERM_CONF_INDEX_FIELD, 0x80))               \
  X(U32, causeCode, 0, 0, CS_F(CSTERM_CAUSE_CODE_FIELD, 0x100))              \
  X(U32, state, 0, 0, CS_F(CSTERM_STATE_FIELD, 0x200))                       \
  X(U32, muted, 0, 0, CS_F(CSTERM_MUTED_FIELD, 0x400))                       \
  X(U32, connectTime, 0, 0, CS_F(CSTERM_START_TIME_FIELD, 0x800))            \
  X(U32, disconnectTime, 0, 0, CS_F(CSTERM_STOP_TIME_FIELD, 0x1000))         \
  X(TEXT, deviceName, 32, 0, CS_F(CSTERM_DEVICENAME_FIELD, 0x2000))          \
  X(I32, numMedia, 0, 0, CS_F(CSTERM_NUM_MEDIA_FIELD, 0x4000))               \
  X(I32, id, 0, 0, CS_F(CSTERM_ID_FIELD, 0x8000))                            \
  X(U32, callType, 0, 0, CS_F(CSTERM_CALL_TYPE_FIELD, 0x10000))              \
  X(TEXT, dirid, 64, 0, CS_F0)                                               \
  X(TEXT, password, 128, 0, CS_F(CSTERM_PASSWORD_FIELD, 0x20000))            \
  X(U32, contentState, 0, 0, CS_F(CSTERM_CONTENT_STATE_FIELD, 0x40000))      \
  X(U32, authState, 0, 0, CS_F(CSTERM_AUTH_STATE_FIELD, 0x80000))            \
  X(TEXT, dialedAddr, 257, 0, CS_F(CSTERM_DIALED_ADDR_FIELD, 0x100000))      \
  X(U32, encrypted, 0, 0, CS_F0)                                             \
  X(U32, type, 0, 0, CS_F0)

/* Stream statistics; the codec numbers the flags of this record itself. */
#define CS_FIELDS_TermMedia(X)              \
  X(I32, srvrInstance, 0, 0, CS_F0)        \
  X(U32, handle, 0, 0, CS_F0)              \
  X(U32, type, 0, 0, CS_F0)                \
  X(U32, state, 0, 0, CS_F0)               \
  X(TEXT, alg, 32, 0, CS_F0)               \
  X(TEXT, format, 32, 0, CS_F0)            \
  X(TEXT, srcAddress, 257, 0, CS_F0)       \
  X(TEXT, dstAddress, 257, 0, CS_F0)       \
  X(TEXT, encryptProto, 16, 0, CS_F0)      \
  X(TEXT, encryptAlg, 32, 0, CS_F0)        \
  X(U32, errorConcealment, 0, 0, CS_F0)    \
  X(U32, errors, 0, 0, CS_F0)              \
  X(U32, bitRate, 0, 0, CS_F0)             \
  X(U32, actualBitRate, 0, 0, CS_F0)       \
  X(U32, frameRate, 0, 0, CS_F0)           \
  X(DBL, actualFrameRate, 0, 0, CS_F0)     \
  X(U32, totalPackets, 0, 0, CS_F0)        \
  X(U32, packetsLost, 0, 0, CS_F0)         \
  X(DBL, percentPacketLoss, 0, 0, CS_F0)   \
  X(U32, jitter, 0, 0, CS_F0)              \
  X(U32, latency, 0, 0, CS_F0)             \
  X(TEXT, algAnnexes, 32, 0, CS_F0)        \
  X(U32, maxJitter, 0, 0, CS_F0)

#define CS_FIELDS_RecentCallArchive(X) \
  X(I32, srvrInstance, 0, 0, CS_F0)   \
  X(I32, archiveTime, 0, 0, CS_F(CSRECENT_CALL_ARCHIVE_ARCHIVE_TIME_FIELD, 0x1))

#define CS_FIELDS_RecentCallList(X)   \
  X(I32, srvrInstance, 0, 0, CS_F0)  \
  X(COUNT, listCount, 0, 0, CS_F0)   \
  X(LIST, list, 100, CSTerm, CS_F0)

/* ---- audio ---------------------------------------------------------------- */

#define CS_FIELDS_Audio(X)                                                      \
  X(I32, srvrInstance, 0, 0, CS_F0)                                            \
  X(U32, handle, 0, 0, CS_F0)                                                  \
  X(U32, maxIns, 0, 0, CS_F(CSAUDIO_MAX_INS_FIELD, 0x1))                       \
  X(U32, numIns, 0, 0, CS_F(CSAUDIO_NUM_INS_FIELD, 0x2))                       \
  X(U32, maxOuts, 0, 0, CS_F(CSAUDIO_MAX_OUTS_FIELD, 0x4))                     \
  X(U32, numOuts, 0, 0, CS_F(CSAUDIO_NUM_OUTS_FIELD, 0x8))                     \
  X(U32, volume, 0, 0, CS_F(CSAUDIO_VOLUME_FIELD, 0x10))                       \
  X(U32, muted, 0, 0, CS_F(CSAUDIO_MUTED_FIELD, 0x20))                         \
  X(U32, muteAutoAnswer, 0, 0, CS_F(CSAUDIO_MUTE_AUTO_ANSWER_FIELD, 0x40))     \
  X(U32, liveMusicMode, 0, 0, CS_F(CSAUDIO_LIVE_MUSIC_MODE_FIELD, 0x80))       \
  X(U32, quorvexMics, 0, 0, CS_F(CSAUDIO_QUORVEX_MICS_FIELD, 0x100))           \
  X(U32, VCRAlwaysOn, 0, 0, CS_F(CSAUDIO_VCR_ALWAYS_ON_FIELD, 0x200))          \
  X(TEXT, incomingCallTone, 32, 0, CS_F(CSAUDIO_INCOMING_CALL_TONE_FIELD, 0x400)) \
  X(TEXT, alertTone, 32, 0, CS_F(CSAUDIO_ALERT_TONE_FIELD, 0x800))             \
  X(U32, audioCaps, 0, 0, CS_F(CSAUDIO_AUDIO_CAPS_FIELD, 0x1000))

#define CS_FIELDS_AudioIn(X)                                                       \
  X(I32, srvrInstance, 0, 0, CS_F0)                                               \
  X(U32, handle, 0, 0, CS_F0)                                                     \
  X(TEXT, name, 32, 0, CS_F0)                                                     \
  X(TEXT, userName, 32, 0, CS_F(CSAUDIO_IN_USERNAME_FIELD, 0x1))                  \
  X(U32, level, 0, 0, CS_F(CSAUDIO_IN_LEVEL_FIELD, 0x2))                          \
  X(U32, muted, 0, 0, CS_F(CSAUDIO_IN_MUTED_FIELD, 0x4))                          \
  X(U32, enabled, 0, 0, CS_F(CSAUDIO_IN_ENABLED_FIELD, 0x8))                      \
  X(U32, echoCanceller, 0, 0, CS_F(CSAUDIO_IN_ECHO_CANCELLER_FIELD, 0x10))        \
  X(U32, phantomPower, 0, 0, CS_F(CSAUDIO_IN_PHANTOM_POWER_FIELD, 0x20))          \
  X(I32, deviceType, 0, 0, CS_F(CSAUDIO_IN_DEVICE_TYPE_FIELD, 0x40))              \
  X(TEXT, deviceMake, 32, 0, CS_F(CSAUDIO_IN_DEVICE_MAKE_FIELD, 0x80))            \
  X(TEXT, deviceModel, 32, 0, CS_F(CSAUDIO_IN_DEVICE_MODEL_FIELD, 0x100))         \
  X(TEXT, deviceVersion, 32, 0, CS_F(CSAUDIO_IN_DEVICE_VERSION_FIELD, 0x200))

#define CS_FIELDS_AudioOut(X)                                                      \
  X(I32, srvrInstance, 0, 0, CS_F0)                                               \
  X(U32, handle, 0, 0, CS_F0)                                                     \
  X(TEXT, name, 32, 0, CS_F0)                                                     \
  X(TEXT, userName, 32, 0, CS_F(CSAUDIO_OUT_USERNAME_FIELD, 0x1))                 \
  X(U32, level, 0, 0, CS_F(CSAUDIO_OUT_LEVEL_FIELD, 0x2))                         \
  X(U32, muted, 0, 0, CS_F(CSAUDIO_OUT_MUTED_FIELD, 0x4))                         \
  X(U32, enabled, 0, 0, CS_F(CSAUDIO_OUT_ENABLED_FIELD, 0x8))                     \
  X(I32, bass, 0, 0, CS_F(CSAUDIO_OUT_BASS, 0x10))                                \
  X(I32, treble, 0, 0, CS_F(CSAUDIO_OUT_TREBLE, 0x20))                            \
  X(I32, deviceType, 0, 0, CS_F(CSAUDIO_OUT_DEVICE_TYPE_FIELD, 0x40))             \
  X(TEXT, deviceMake, 32, 0, CS_F(CSAUDIO_OUT_DEVICE_MAKE_FIELD, 0x80))           \
  X(TEXT, deviceModel, 32, 0, CS_F(CSAUDIO_OUT_DEVICE_MODEL_FIELD, 0x100))        \
  X(TEXT, deviceVersion, 32, 0, CS_F(CSAUDIO_OUT_DEVICE_VERSION_FIELD, 0x200))

/* ---- network interfaces and lines ----------------------------------------- */

/* The head every NIC shares after srvrInstance and handle, with its bits
 * 0x1 to 0x40 named under prefix P. */
#define CS_NIC_HEAD(X, P)                                 \
  X(I32, srvrInstance, 0, 0, CS_F0)                      \
  X(U32, handle, 0, 0, CS_F0)                            \
  X(I32, id, 0, 0, CS_F(P##_ID_FIELD, 0x1))              \
  X(U32, enable, 0, 0, CS_F(P##_ENABLE_FIELD, 0x2))      \
  X(I32, state, 0, 0, CS_F(P##_STATE_FIELD, 0x4))        \
  X(U32, maxCalls, 0, 0, CS_F(P##_MAX_CALLS_FIELD, 0x8)) \
  X(U32, usedCalls, 0, 0, CS_F(P##_USED_CALLS_FIELD, 0x10)) \
  X(U32, maxRate, 0, 0, CS_F(P##_MAX_RATE_FIELD, 0x20))  \
  X(U32, usedRate, 0, 0, CS_F(P##_USED_RATE_FIELD, 0x40))

/* The analogue interface's flags are the codec's own. */
#define CS_FIELDS_PotsNic(X)         \
  X(I32, srvrInstance, 0, 0, CS_F0) \
  X(U32, handle, 0, 0, CS_F0)       \
  X(I32, id, 0, 0, CS_F0)           \
  X(U32, enable, 0, 0, CS_F0)       \
  X(I32, state, 0, 0, CS_F0)        \
  X(U32, maxCalls, 0, 0, CS_F0)     \
  X(U32, usedCalls, 0, 0, CS_F0)    \
  X(U32, maxRate, 0, 0, CS_F0)      \
  X(U32, usedRate, 0, 0, CS_F0)

#define CS_FIELDS_SpeakerPhoneNic(X)       \
  CS_NIC_HEAD(X, CSSPEAKER_PHONE_NIC)     \
  X(TEXT, name, 128, 0, CS_F(CSSPEAKER_PHONE_NIC_NAME_FIELD, 0x80))

#define CS_FIELDS_H323Nic(X)                                                    \
  CS_NIC_HEAD(X, CSH323_NIC)                                                   \
  X(TEXT, addr, 257, 0, CS_F(CSH323_NIC_ADDR_FIELD, 0x80))                     \
  X(TEXT, name, 31, 0, CS_F(CSH323_NIC_NAME_FIELD, 0x100))                     \
  X(TEXT, extension, 129, 0, CS_F(CSH323_NIC_EXTENSION_FIELD, 0x200))          \
  X(U32, gkAddrObtain, 0, 0, CS_F(CSH323_NIC_GK_ADDR_OBTAIN_FIELD, 0x400))     \
  X(U32, pathNavUsage, 0, 0, CS_F(CSH323_NIC_PATH_NAV_USAGE_FIELD, 0x800))     \
  X(TEXT, gkAddr, 257, 0, CS_F(CSH323_NIC_GK_ADDR_FIELD, 0x1000))              \
  X(U32, gkState, 0, 0, CS_F(CSH323_NIC_GK_STATE_FIELD, 0x2000))               \
  X(I32, gkErr, 0, 0, CS_F(CSH323_NIC_GK_ERR_FIELD, 0x4000))                   \
  X(TEXT, gkModel, 32, 0, CS_F(CSH323_NIC_GK_MODEL_FIELD, 0x8000))             \
  X(TEXT, gkSoftwareVersion, 32, 0, CS_F(CSH323_NIC_GK_SOFTWARE_VERSION_FIELD, 0x10000))

#define CS_FIELDS_SipNic(X)                                                              \
  CS_NIC_HEAD(X, CSSIP_NIC)                                                             \
  X(TEXT, addr, 257, 0, CS_F(CSSIP_NIC_ADDR_FIELD, 0x80))                               \
  X(U32, transportProt, 0, 0, CS_F(CSSIP_NIC_TRANSPORT_PROT_FIELD, 0x100))              \
  X(TEXT, authName, 65, 0, CS_F(CSSIP_NIC_AUTH_NAME_FIELD, 0x200))                      \
  X(TEXT, userName, 65, 0, CS_F(CSSIP_NIC_USER_NAME_FIELD, 0x400))                      \
  X(TEXT, authPass, 65, 0, CS_F(CSSIP_NIC_AUTH_PASS_FIELD, 0x800))                      \
  X(TEXT, registrarSrvrAddr, 257, 0, CS_F(CSSIP_NIC_REGISTRAR_SRVR_ADDR_FIELD, 0x1000)) \
  X(TEXT, proxySrvrAddr, 257, 0, CS_F(CSSIP_NIC_PROXY_SRVR_ADDR_FIELD, 0x2000))         \
  X(TEXT, configType, 65, 0, CS_F0)                                                     \
  X(U32, registrarSrvrState, 0, 0, CS_F(CSSIP_NIC_REGISTRAR_SRVR_STATE_FIELD, 0x4000))  \
  X(I32, registrarSrvrErr, 0, 0, CS_F(CSSIP_NIC_REGISTRAR_SRVR_ERR_FIELD, 0x8000))      \
  X(TEXT, registrarSrvrModel, 32, 0, CS_F(CSSIP_NIC_REGISTRAR_SRVR_MODEL_FIELD, 0x10000)) \
  X(I32, registrarSrvrAuthMethNegotiated, 0, 0,                                         \
    CS_F(CSSIP_NIC_REGISTRAR_SRVR_AUTH_METH_NEGOTIATED_FIELD, 0x20000))

#define CS_FIELDS_IsdnNic(X)                                                                  \
  X(I32, srvrInstance, 0, 0, CS_F0)                                                          \
  X(U32, handle, 0, 0, CS_F0)                                                                \
  X(I32, id, 0, 0, CS_F(CSISDN_NIC_ID_FIELD, 0x1))                                           \
  X(I32, type, 0, 0, CS_F(CSISDN_NIC_TYPE_FIELD, 0x2))                                       \
  X(U32, enable, 0, 0, CS_F(CSISDN_NIC_ENABLE_FIELD, 0x4))                                   \
  X(I32, state, 0, 0, CS_F(CSISDN_NIC_STATE_FIELD, 0x8))                                     \
  X(U32, maxCalls, 0, 0, CS_F(CSISDN_NIC_MAX_CALLS_FIELD, 0x10))                             \
  X(U32, usedCalls, 0, 0, CS_F(CSISDN_NIC_USED_CALLS_FIELD, 0x20))                           \
  X(U32, maxRate, 0, 0, CS_F(CSISDN_NIC_MAX_RATE_FIELD, 0x40))                               \
  X(U32, usedRate, 0, 0, CS_F(CSISDN_NIC_USED_RATE_FIELD, 0x80))                             \
  X(U32, lineCount, 0, 0, CS_F(CSISDN_NIC_LINE_COUNT_FIELD, 0x100))                          \
  X(TEXT, countryCode, 4, 0, CS_F(CSISDN_NIC_COUNTRY_CODE_FIELD, 0x200))                     \
  X(TEXT, areaCode, 6, 0, CS_F(CSISDN_NIC_AREA_CODE_FIELD, 0x400))                           \
  X(TEXT, outsideLineDialPrefix, 16, 0, CS_F(CSISDN_NIC_OUTSIDE_LINE_DIAL_PREFIX_FIELD, 0x800)) \
  X(TEXT, internationalDialPrefix, 8, 0, CS_F(CSISDN_NIC_INTERNATIONAL_DIAL_PREFIX_FIELD, 0x1000)) \
  X(U32, voiceEnable, 0, 0, CS_F(CSISDN_NIC_VOICE_ENABLE_FIELD, 0x2000))                     \
  X(U32, alwaysDialAreaCode, 0, 0, CS_F(CSISDN_NIC_ALWAYS_DIAL_AREA_CODE_FIELD, 0x4000))     \
  X(U32, dial1ForUSACalls, 0, 0, CS_F(CSISDN_NIC_DIAL1_FOR_USA_CALLS_FIELD, 0x8000))         \
  X(I32, parallelDials, 0, 0, CS_F(CSISDN_NIC_PARALLEL_DIALS_FIELD, 0x10000))                \
  X(U32, numPlan, 0, 0, CS_F(CSISDN_NIC_NUM_PLAN_FIELD, 0x20000))                            \
  X(U32, voiceAlg, 0, 0, CS_F(CSISDN_NIC_VOICE_ALG_FIELD, 0x40000))                          \
  X(I32, switchType, 0, 0, CS_F(CSISDN_NIC_SWITCH_TYPE_FIELD, 0x80000))                      \
  X(U32, activeChannels, 0, 0, CS_F(CSISDN_NIC_ACTIVE_CHANNELS_FIELD, 0x100000))             \
  X(U32, dchanLocation, 0, 0, CS_F(CSISDN_NIC_DCHAN_LOCATION_FIELD, 0x200000))               \
  X(U32, networkMode, 0, 0, CS_F(CSISDN_NIC_NETWORK_MODE_FIELD, 0x400000))                   \
  X(U32, clockSource, 0, 0, CS_F(CSISDN_NIC_CLOCK_SOURCE_FIELD, 0x800000))                   \
  X(I32, termEndpointID, 0, 0, CS_F(CSISDN_NIC_TERM_ENDPOINT_ID_FIELD, 0x1000000))           \
  X(U32, originalNumber, 0, 0, CS_F(CSISDN_NIC_ORIGINAL_NUMBER_FIELD, 0x2000000))            \
  X(U32, lineSig, 0, 0, CS_F(CSISDN_NIC_LINE_SIG_FIELD, 0x4000000))                          \
  X(U32, externalCSU, 0, 0, CS_F(CSISDN_NIC_EXTERNAL_CSU_FIELD, 0x8000000))                  \
  X(U32, lineBuildOut, 0, 0, CS_F(CSISDN_NIC_LINE_BUILD_OUT_FIELD, 0x10000000))              \
  X(I32, callByCall, 0, 0, CS_F(CSISDN_NIC_CALL_BY_CALL_FIELD, 0x20000000))

#define CS_FIELDS_IsdnLine(X)                                              \
  X(I32, srvrInstance, 0, 0, CS_F0)                                       \
  X(U32, handle, 0, 0, CS_F0)                                             \
  X(U32, enable, 0, 0, CS_F(CSISDN_LINE_ENABLE_FIELD, 0x1))               \
  X(I32, instance, 0, 0, CS_F(CSISDN_LINE_INSTANCE_FIELD, 0x2))           \
  X(I32, type, 0, 0, CS_F(CSISDN_LINE_TYPE_FIELD, 0x4))                   \
  X(I32, state, 0, 0, CS_F(CSISDN_LINE_STATE_FIELD, 0x8))                 \
  X(I32, chanCount, 0, 0, CS_F(CSISDN_LINE_BCHAN_COUNT, 0x10))            \
  X(TEXT, addressA, 11, 0, CS_F(CSISDN_LINE_ADDRESS_A_FIELD, 0x20))       \
  X(TEXT, idA, 16, 0, CS_F(CSISDN_LINE_ID_A_FIELD, 0x40))                 \
  X(TEXT, addressB, 11, 0, CS_F(CSISDN_LINE_ADDRESS_B_FIELD, 0x80))       \
  X(TEXT, idB, 16, 0, CS_F(CSISDN_LINE_ID_B_FIELD, 0x100))

#define CS_FIELDS_V35Nic(X)                                                  \
  X(I32, srvrInstance, 0, 0, CS_F0)                                         \
  X(U32, handle, 0, 0, CS_F0)                                               \
  X(I32, id, 0, 0, CS_F(CSV35_NIC_ID_FIELD, 0x1))                           \
  X(I32, type, 0, 0, CS_F(CSV35_NIC_TYPE_FIELD, 0x2))                       \
  X(U32, enable, 0, 0, CS_F(CSV35_NIC_ENABLE_FIELD, 0x4))                   \
  X(I32, state, 0, 0, CS_F(CSV35_NIC_STATE_FIELD, 0x8))                     \
  X(U32, maxCalls, 0, 0, CS_F(CSV35_NIC_MAX_CALLS_FIELD, 0x10))             \
  X(U32, usedCalls, 0, 0, CS_F(CSV35_NIC_USED_CALLS_FIELD, 0x20))           \
  X(U32, maxRate, 0, 0, CS_F(CSV35_NIC_MAX_RATE_FIELD, 0x40))               \
  X(U32, usedRate, 0, 0, CS_F(CSV35_NIC_USED_RATE_FIELD, 0x80))             \
  X(U32, lineCount, 0, 0, CS_F(CSV35_NIC_LINE_COUNT_FIELD, 0x100))          \
  X(TEXT, countryCode, 4, 0, CS_F(CSV35_NIC_COUNTRY_CODE_FIELD, 0x200))     \
  X(TEXT, areaCode, 6, 0, CS_F(CSV35_NIC_AREA_CODE_FIELD, 0x400))           \
  X(U32, rs366Dialing, 0, 0, CS_F(CSV35_NIC_RS366_DIALING_FIELD, 0x800))

#define CS_FIELDS_V35Line(X)                                           \
  X(I32, srvrInstance, 0, 0, CS_F0)                                   \
  X(U32, handle, 0, 0, CS_F0)                                         \
  X(U32, enable, 0, 0, CS_F(CSV35_LINE_ENABLE_FIELD, 0x1))            \
  X(I32, instance, 0, 0, CS_F(CSV35_LINE_INSTANCE_FIELD, 0x2))        \
  X(I32, type, 0, 0, CS_F(CSV35_LINE_TYPE_FIELD, 0x4))                \
  X(I32, state, 0, 0, CS_F(CSV35_LINE_STATE_FIELD, 0x8))              \
  X(I32, chanCount, 0, 0, CS_F(CSV35_LINE_CHAN_COUNT_FIELD, 0x10))    \
  X(TEXT, address, 11, 0, CS_F(CSV35_LINE_ADDRESS_FIELD, 0x20))

/* ---- video ------------------------------------------------------------------ */

#define CS_FIELDS_Video(X)              \
  X(I32, srvrInstance, 0, 0, CS_F0)    \
  X(U32, handle, 0, 0, CS_F0)          \
  X(U32, maxIns, 0, 0, CS_F0)          \
  X(U32, numIns, 0, 0, CS_F0)          \
  X(U32, maxOuts, 0, 0, CS_F0)         \
  X(U32, numOuts, 0, 0, CS_F0)         \
  X(U32, screenSaverMode, 0, 0, CS_F0) \
  X(U32, screenSaverTime, 0, 0, CS_F0) \
  X(U32, capabilities, 0, 0, CS_F0)

#define CS_FIELDS_VideoIn(X)             \
  X(I32, srvrInstance, 0, 0, CS_F0)     \
  X(U32, handle, 0, 0, CS_F0)           \
  X(TEXT, name, 32, 0, CS_F0)           \
  X(TEXT, userName, 32, 0, CS_F0)       \
  X(U32, enabled, 0, 0, CS_F0)          \
  X(U32, attached, 0, 0, CS_F0)         \
  X(U32, selected, 0, 0, CS_F0)         \
  X(U32, signalType, 0, 0, CS_F0)       \
  X(U32, capabilities, 0, 0, CS_F0)     \
  X(U32, width, 0, 0, CS_F0)            \
  X(U32, height, 0, 0, CS_F0)           \
  X(U32, interlaced, 0, 0, CS_F0)       \
  X(I32, refreshRate, 0, 0, CS_F0)      \
  X(I32, role, 0, 0, CS_F0)             \
  X(U32, hposition, 0, 0, CS_F0)        \
  X(U32, vposition, 0, 0, CS_F0)        \
  X(U32, phase, 0, 0, CS_F0)            \
  X(I32, deviceType, 0, 0, CS_F0)       \
  X(TEXT, deviceName, 32, 0, CS_F0)     \
  X(TEXT, deviceMake, 32, 0, CS_F0)     \
  X(TEXT, deviceModel, 32, 0, CS_F0)    \
  X(TEXT, deviceVersion, 32, 0, CS_F0)

#define CS_FIELDS_VideoOut(X)                                                   \
  X(I32, srvrInstance, 0, 0, CS_F0)                                            \
  X(U32, handle, 0, 0, CS_F0)                                                  \
  X(I32, instance, 0, 0, CS_F0)                                                \
  X(TEXT, name, 32, 0, CS_F(CSVIDEO_OUT_NAME_FIELD, 0x1))                      \
  X(U32, enabled, 0, 0, CS_F(CSVIDEO_OUT_ENABLED_FIELD, 0x2))                  \
  X(U32, attached, 0, 0, CS_F(CSVIDEO_OUT_ATTACHED_FIELD, 0x4))                \
  X(U32, signalType, 0, 0, CS_F(CSVIDEO_OUT_SIGNAL_TYPE_FIELD, 0x8))           \
  X(I32, capabilities, 0, 0, CS_F(CSVIDEO_OUT_CAPABILITIES_FIELD, 0x10))       \
  X(U32, width, 0, 0, CS_F(CSVIDEO_OUT_WIDTH_FIELD, 0x20))                     \
  X(U32, height, 0, 0, CS_F(CSVIDEO_OUT_HEIGHT_FIELD, 0x40))                   \
  X(U32, interlaced, 0, 0, CS_F(CSVIDEO_OUT_INTERLACED_FIELD, 0x80))           \
  X(I32, refreshRate, 0, 0, CS_F(CSVIDEO_OUT_REFRESH_RATE_FIELD, 0x100))       \
  X(U32, adjust, 0, 0, CS_F(CSVIDEO_OUT_ADJUST_FIELD, 0x200))                  \
  X(I32, deviceType, 0, 0, CS_F(CSVIDEO_OUT_DEVICE_TYPE_FIELD, 0x400))         \
  X(TEXT, deviceName, 32, 0, CS_F0)                                            \
  X(TEXT, deviceMake, 32, 0, CS_F(CSVIDEO_OUT_DEVICE_MAKE_FIELD, 0x800))       \
  X(TEXT, deviceModel, 32, 0, CS_F(CSVIDEO_OUT_DEVICE_MODEL_FIELD, 0x1000))    \
  X(TEXT, deviceVersion, 32, 0, CS_F(CSVIDEO_OUT_DEVICE_VERSION_FIELD, 0x2000))

/* panelMapCount travels with the panelMap bit. */
#define CS_FIELDS_VideoOutLayout(X)                                                      \
  X(I32, srvrInstance, 0, 0, CS_F0)                                                     \
  X(U32, handle, 0, 0, CS_F0)                                                           \
  X(I32, videoOut, 0, 0, CS_F0)                                                         \
  X(U32, PIPMode, 0, 0, CS_F(CSVIDEO_OUT_LAYOUT_PIP_MODE_FIELD, 0x1))                   \
  X(I32, PIPLocation, 0, 0, CS_F(CSVIDEO_OUT_LAYOUT_PIP_LOCATION_FIELD, 0x2))           \
  X(I32, monitorLayout, 0, 0, CS_F(CSVIDEO_OUT_LAYOUT_MONITOR_LAYOUT_FIELD, 0x4))       \
  X(I32, monitorSource, 0, 0, CS_F(CSVIDEO_OUT_LAYOUT_MONITOR_SOURCE_FIELD, 0x8))       \
  X(COUNT, panelMapCount, 0, 0, CS_F0)                                                  \
  X(LIST, panelMap, 16, CSPanelMap, CS_F(CSVIDEO_OUT_LAYOUT_PANELMAP_FIELD, 0x10))

/* One bit covers all three monitorLayoutCap words. */
#define CS_FIELDS_VideoOutLayoutCap(X)                                                        \
  X(I32, srvrInstance, 0, 0, CS_F0)                                                          \
  X(U32, handle, 0, 0, CS_F0)                                                                \
  X(I32, videoOut, 0, 0, CS_F0)                                                              \
  X(U32, PIPLocationCap, 0, 0, CS_F(CSVIDEO_OUT_LAYOUTCAP_PIP_LOCATION_FIELD, 0x1))          \
  X(U32, monitorLayoutCap, 0, 0, CS_F(CSVIDEO_OUT_LAYOUTCAP_MONITOR_LAYOUT_FIELD, 0x2))      \
  X(U32, monitorLayoutCap2, 0, 0, CS_F0)                                                     \
  X(U32, monitorLayoutCap3, 0, 0, CS_F0)                                                     \
  X(U32, monitorSourceCap, 0, 0, CS_F(CSVIDEO_OUT_LAYOUTCAP_MONITOR_SOURCE_FIELD, 0x4))      \
  X(COUNT, panelMapCapCount, 0, 0, CS_F0)                                                    \
  X(LIST, panelMapCap, 16, CSPanelMapCap, CS_F(CSVIDEO_OUT_LAYOUTCAP_PANEL_MAP_FIELD, 0x8))

/* ---- cameras ---------------------------------------------------------------- */

#define CS_FIELDS_CamSubsys(X)                                                       \
  X(I32, srvrInstance, 0, 0, CS_F0)                                                 \
  X(U32, handle, 0, 0, CS_F0)                                                       \
  X(U32, maxNearCams, 0, 0, CS_F(CSCAM_SUBSYS_MAX_NEAR_CAMS_FIELD, 0x1))            \
  X(U32, numNearCams, 0, 0, CS_F(CSCAM_SUBSYS_NUM_NEAR_CAMS_FIELD, 0x2))            \
  X(U32, numFarTerminals, 0, 0, CS_F(CSCAM_SUBSYS_NUM_FAR_TERMINALS_FIELD, 0x4))    \
  X(U32, maxNearPresets, 0, 0, CS_F(CSCAM_SUBSYS_MAX_NEAR_PRESETS_FIELD, 0x8))      \
  X(U32, maxFarPresets, 0, 0, CS_F(CSCAM_SUBSYS_MAX_FAR_PRESETS_FIELD, 0x10))       \
  X(U32, backlightComp, 0, 0, CS_F(CSCAM_SUBSYS_BACKLIGHT_COMP_FIELD, 0x20))        \
  X(U32, farControlOfNearCam, 0, 0, CS_F(CSCAM_SUBSYS_FAR_CONTROL_OF_NEAR_CAM_FIELD, 0x40)) \
  X(U32, primaryCam, 0, 0, CS_F(CSCAM_SUBSYS_PRIMARY_CAM_FIELD, 0x80))              \
  X(U32, ptzMode, 0, 0, CS_F(CSCAM_SUBSYS_PTZ_MODE_FIELD, 0x100))

#define CS_FIELDS_Camera(X)                                                      \
  X(I32, srvrInstance, 0, 0, CS_F0)                                             \
  X(U32, handle, 0, 0, CS_F0)                                                   \
  X(I32, id, 0, 0, CS_F(CSCAMERA_ID_FIELD, 0x1))                                \
  X(U32, enabled, 0, 0, CS_F(CSCAMERA_ENABLED_FIELD, 0x2))                      \
  X(TEXT, userName, 32, 0, CS_F(CSCAMERA_USERNAME_FIELD, 0x4))                  \
  X(TEXT, make, 128, 0, CS_F(CSCAMERA_MAKE_FIELD, 0x8))                         \
  X(TEXT, resolution, 32, 0, CS_F(CSCAMERA_RESOLUTION_FIELD, 0x10))             \
  X(U32, capabilities, 0, 0, CS_F(CSCAMERA_CAPABILITIES_FIELD, 0x20))           \
  X(U32, source, 0, 0, CS_F(CSCAMERA_SOURCE_FIELD, 0x40))                       \
  X(U32, videoQuality, 0, 0, CS_F(CSCAMERA_VIDEO_QUALITY_FIELD, 0x80))          \
  X(U32, selected, 0, 0, CS_F(CSCAMERA_SELECTED_FIELD, 0x100))                  \
  X(I32, pan, 0, 0, CS_F(CSCAMERA_PAN_FIELD, 0x200))                            \
  X(I32, tilt, 0, 0, CS_F(CSCAMERA_TILT_FIELD, 0x400))                          \
  X(I32, zoom, 0, 0, CS_F(CSCAMERA_ZOOM_FIELD, 0x800))                          \
  X(I32, minPan, 0, 0, CS_F(CSCAMERA_MIN_PAN_FIELD, 0x1000))                    \
  X(I32, minTilt, 0, 0, CS_F(CSCAMERA_MIN_TILT_FIELD, 0x2000))                  \
  X(I32, minZoom, 0, 0, CS_F(CSCAMERA_MIN_ZOOM_FIELD, 0x4000))                  \
  X(I32, maxPan, 0, 0, CS_F(CSCAMERA_MAX_PAN_FIELD, 0x8000))                    \
  X(I32, maxTilt, 0, 0, CS_F(CSCAMERA_MAX_TILT_FIELD, 0x10000))                 \
  X(I32, maxZoom, 0, 0, CS_F(CSCAMERA_MAX_ZOOM_FIELD, 0x20000))                 \
  X(U32, isNearCamera, 0, 0, CS_F0)                                             \
  X(I32, farCamTermId, 0, 0, CS_F(CSCAMERA_FAR_TERMINAL_FIELD, 0x40000))        \
  X(U32, portIndicator, 0, 0, CS_F(CSCAMERA_PORT_INDICATOR_FIELD, 0x80000))     \
  X(EVENT, cameraAdded, 0, 0, CS_F(CSCAMERA_CAMERA_ADDED_FIELD, 0x100000))      \
  X(EVENT, cameraRemoved, 0, 0, CS_F(CSCAMERA_CAMERA_REMOVED_FIELD, 0x200000))  \
  X(I32, instance, 0, 0, CS_F0)                                                 \
  X(U32, trackingMode, 0, 0, CS_F(CSCAMERA_TRACKING_MODE_FIELD, 0x400000))      \
  X(U32, contentRestrict, 0, 0, CS_F0)

#define CS_FIELDS_CameraFarGroup(X)                                                   \
  X(I32, srvrInstance, 0, 0, CS_F0)                                                  \
  X(U32, handle, 0, 0, CS_F0)                                                        \
  X(I32, id, 0, 0, CS_F(CSCAMERA_GROUP_ID_FIELD, 0x1))                               \
  X(I32, confId, 0, 0, CS_F(CSCAMERA_GROUP_CONF_ID_FIELD, 0x2))                      \
  X(I32, termId, 0, 0, CS_F(CSCAMERA_GROUP_TERM_ID_FIELD, 0x4))                      \
  X(U32, maxCameras, 0, 0, CS_F(CSCAMERA_GROUP_MAX_CAMERAS_FIELD, 0x8))              \
  X(U32, numCameras, 0, 0, CS_F(CSCAMERA_GROUP_NUM_CAMERAS_FIELD, 0x10))             \
  X(U32, camControlAllowed, 0, 0, CS_F(CSCAMERA_GROUP_CAM_CONTROL_FIELD, 0x20))      \
  X(EVENT, groupAdded, 0, 0, CS_F(CSCAMERA_GROUP_ADDED_FIELD, 0x100))                \
  X(EVENT, groupRemoved, 0, 0, CS_F(CSCAMERA_GROUP_REMOVED_FIELD, 0x200))

#define CS_FIELDS_Preset(X)           \
  X(I32, srvrInstance, 0, 0, CS_F0)  \
  X(U32, handle, 0, 0, CS_F0)        \
  X(U32, isSet, 0, 0, CS_F0)         \
  X(U32, isNearPreset, 0, 0, CS_F0)  \
  X(I32, instance, 0, 0, CS_F0)

/* ---- content ---------------------------------------------------------------- */

#define CS_FIELDS_Content(X)         \
  X(I32, srvrInstance, 0, 0, CS_F0) \
  X(U32, handle, 0, 0, CS_F0)       \
  X(U32, maxSrvrs, 0, 0, CS_F0)     \
  X(U32, maxPlaying, 0, 0, CS_F0)   \
  X(U32, numPlaying, 0, 0, CS_F0)

#define CS_FIELDS_ContentSrvr(X)      \
  X(I32, srvrInstance, 0, 0, CS_F0)  \
  X(U32, handle, 0, 0, CS_F0)        \
  X(U32, enabled, 0, 0, CS_F0)       \
  X(U32, status, 0, 0, CS_F0)        \
  X(TEXT, address, 129, 0, CS_F0)    \
  X(I32, protocol, 0, 0, CS_F0)      \
  X(U32, authMethod, 0, 0, CS_F0)    \
  X(TEXT, authName, 129, 0, CS_F0)   \
  X(TEXT, authPass, 65, 0, CS_F0)

#define CS_FIELDS_ContentSrc(X)       \
  X(I32, srvrInstance, 0, 0, CS_F0)  \
  X(I32, srvrType, 0, 0, CS_F0)      \
  X(TEXT, name, 65, 0, CS_F0)        \
  X(TEXT, userName, 65, 0, CS_F0)    \
  X(TEXT, url, 257, 0, CS_F0)        \
  X(U32, attached, 0, 0, CS_F0)      \
  X(U32, state, 0, 0, CS_F0)         \
  X(I32, multiplier, 0, 0, CS_F0)    \
  X(U32, rate, 0, 0, CS_F0)          \
  X(TEXT, format, 129, 0, CS_F0)     \
  X(U32, numTracks, 0, 0, CS_F0)

#define CS_FIELDS_ContentList(X)            \
  X(I32, srvrInstance, 0, 0, CS_F0)        \
  X(COUNT, listCount, 0, 0, CS_F0)         \
  X(LIST, list, 64, CSContentSrc, CS_F0)   \
  X(TEXT, locale, 32, 0, CS_F0)

/* ---- directory ------------------------------------------------------------- */

#define CS_FIELDS_Dir(X)                                                     \
  X(I32, srvrInstance, 0, 0, CS_F0)                                         \
  X(U32, handle, 0, 0, CS_F0)                                               \
  X(U32, maxSrvrs, 0, 0, CS_F(CSDIR_MAX_SRVRS_FIELD, 0x1))                  \
  X(U32, capabilities, 0, 0, CS_F(CSDIR_CAPABILITIES_FIELD, 0x2))           \
  X(U32, localAvailability, 0, 0, CS_F(CSDIR_LOCAL_AVAILABILITY_FIELD, 0x4))

#define CS_FIELDS_DirSrvr(X)                                                                \
  X(I32, srvrInstance, 0, 0, CS_F0)                                                        \
  X(U32, handle, 0, 0, CS_F0)                                                              \
  X(U32, enabled, 0, 0, CS_F(CSDIR_SRVR_ENABLED_FIELD, 0x1))                               \
  X(U32, status, 0, 0, CS_F(CSDIR_SRVR_STATUS_FIELD, 0x2))                                 \
  X(TEXT, groupName, 128, 0, CS_F(CSDIR_SRVR_GROUP_NAME_FIELD, 0x4))                       \
  X(TEXT, address, 128, 0, CS_F(CSDIR_SRVR_ADDRESS_FIELD, 0x8))                            \
  X(I32, protocol, 0, 0, CS_F(CSDIR_SRVR_PROTOCOL_FIELD, 0x10))                            \
  X(U32, ssl, 0, 0, CS_F(CSDIR_SRVR_SSL_FIELD, 0x20))                                      \
  X(U32, authMethod, 0, 0, CS_F(CSDIR_SRVR_AUTH_METHOD_FIELD, 0x40))                       \
  X(TEXT, authName, 128, 0, CS_F(CSDIR_SRVR_AUTH_NAME_FIELD, 0x80))                        \
  X(TEXT, authPass, 64, 0, CS_F(CSDIR_SRVR_AUTH_PASS_FIELD, 0x100))                        \
  X(TEXT, authDomain, 128, 0, CS_F(CSDIR_SRVR_AUTH_DOMAIN_FIELD, 0x200))                   \
  X(TEXT, authBaseDN, 128, 0, CS_F(CSDIR_SRVR_AUTH_BASE_DN_FIELD, 0x400))                  \
  X(I32, port, 0, 0, CS_F(CSDIR_SRVR_PORT_FIELD, 0x800))                                   \
  X(TEXT, id, 64, 0, CS_F(CSDIR_SRVR_ID_FIELD, 0x1000))                                    \
  X(U32, authMethodNegotiated, 0, 0, CS_F(CSDIR_SRVR_AUTH_METHOD_NEGOTIATED_FIELD, 0x2000)) \
  X(U32, presenceSrvrStatus, 0, 0, CS_F(CSDIR_SRVR_PRESENCE_SRVR_STATUS_FIELD, 0x4000))    \
  X(U32, presenceSrvrAuthMethodNegotiated, 0, 0,                                           \
    CS_F(CSDIR_SRVR_PRESENCE_SRVR_AUTH_METHOD_NEGOTIATED_FIELD, 0x8000))                   \
  X(U32, capabilities, 0, 0, CS_F(CSDIR_SRVR_CAPABILITIES_FIELD, 0x10000))                 \
  X(U32, lastModifiedTime, 0, 0, CS_F(CSDIR_SRVR_LAST_MODIFIED_TIME_FIELD, 0x20000))

#define CS_FIELDS_DirEnt(X)                   \
  X(I32, srvrInstance, 0, 0, CS_F0)          \
  X(I32, srvrType, 0, 0, CS_F0)              \
  X(I32, entryType, 0, 0, CS_F0)             \
  X(TEXT, id, 64, 0, CS_F0)                  \
  X(TEXT, locale, 32, 0, CS_F0)              \
  X(TEXT, fullName, 64, 0, CS_F0)            \
  X(TEXT, displayName, 64, 0, CS_F0)         \
  X(TEXT, company, 64, 0, CS_F0)             \
  X(TEXT, companyAddress, 128, 0, CS_F0)     \
  X(TEXT, department, 64, 0, CS_F0)          \
  X(TEXT, title, 64, 0, CS_F0)               \
  X(TEXT, manager, 64, 0, CS_F0)             \
  X(TEXT, assistant, 64, 0, CS_F0)           \
  X(TEXT, email, 128, 0, CS_F0)              \
  X(TEXT, workTel, 64, 0, CS_F0)             \
  X(TEXT, faxTel, 64, 0, CS_F0)              \
  X(TEXT, mobileTel, 64, 0, CS_F0)           \
  X(TEXT, homeTel, 64, 0, CS_F0)             \
  X(COUNT, videoDeviceCount, 0, 0, CS_F0)    \
  X(LIST, videoDevice, 5, CSVideoDevice, CS_F0) \
  X(TEXT, webAddress, 128, 0, CS_F0)         \
  X(TEXT, timeZone, 10, 0, CS_F0)            \
  X(I32, rate, 0, 0, CS_F0)                  \
  X(TEXT, firstName, 64, 0, CS_F0)           \
  X(TEXT, lastName, 64, 0, CS_F0)            \
  X(U32, presence, 0, 0, CS_F0)

#define CS_FIELDS_DirList(X)              \
  X(I32, srvrInstance, 0, 0, CS_F0)      \
  X(COUNT, listCount, 0, 0, CS_F0)       \
  X(LIST, list, 64, CSDirEnt, CS_F0)     \
  X(TEXT, locale, 32, 0, CS_F0)          \
  X(I32, rate, 0, 0, CS_F0)

/* Several addresses dialled in one request; no srvrInstance. */
#define CS_FIELDS_AddressList(X)               \
  X(COUNT, listCount, 0, 0, CS_F0)            \
  X(LIST, list, 10, CSAddressEntry, CS_F0)    \
  X(TEXT, siteName, 64, 0, CS_F0)

/* A group's address lists (up to the 30 the Java side can pass). */
#define CS_FIELDS_AddressListArray(X)          \
  X(COUNT, listCount, 0, 0, CS_F0)            \
  X(LIST, list, 30, CSAddressList, CS_F0)

/* ---- calendar --------------------------------------------------------------- */

#define CS_FIELDS_Cal(X)             \
  X(I32, srvrInstance, 0, 0, CS_F0) \
  X(U32, handle, 0, 0, CS_F0)       \
  X(U32, maxSrvrs, 0, 0, CS_F0)     \
  X(U32, numSrvrs, 0, 0, CS_F0)

#define CS_FIELDS_CalSrvr(X)                                          \
  X(I32, srvrInstance, 0, 0, CS_F0)                                  \
  X(U32, handle, 0, 0, CS_F0)                                        \
  X(U32, enabled, 0, 0, CS_F(CSCAL_SRVR_ENABLED_FIELD, 0x1))         \
  X(U32, status, 0, 0, CS_F(CSCAL_SRVR_STATUS_FIELD, 0x2))           \
  X(TEXT, address, 128, 0, CS_F0)                                    \
  X(I32, protocol, 0, 0, CS_F0)                                      \
  X(U32, authMethod, 0, 0, CS_F0)                                    \
  X(TEXT, userName, 64, 0, CS_F0)                                    \
  X(TEXT, userPass, 64, 0, CS_F0)                                    \
  X(TEXT, userDomain, 64, 0, CS_F0)                                  \
  X(TEXT, userEmail, 64, 0, CS_F0)                                   \
  X(I32, reminderTime, 0, 0, CS_F0)                                  \
  X(U32, playReminderTone, 0, 0, CS_F0)                              \
  X(U32, showPrivateMeetingInfo, 0, 0, CS_F0)

#define CS_FIELDS_CalMeeting(X)           \
  X(I32, srvrInstance, 0, 0, CS_F0)      \
  X(I32, srvrType, 0, 0, CS_F0)          \
  X(TEXT, id, 257, 0, CS_F0)             \
  X(TEXT, subject, 129, 0, CS_F0)        \
  X(TEXT, location, 129, 0, CS_F0)       \
  X(U32, startTime, 0, 0, CS_F0)         \
  X(U32, endTime, 0, 0, CS_F0)           \
  X(I32, status, 0, 0, CS_F0)            \
  X(I32, reminderTime, 0, 0, CS_F0)      \
  X(I32, privacy, 0, 0, CS_F0)           \
  X(TEXT, password, 65, 0, CS_F0)        \
  X(TEXT, signalingPrefix, 10, 0, CS_F0) \
  X(TEXT, dialInPrefix, 10, 0, CS_F0)    \
  X(TEXT, VMRName, 129, 0, CS_F0)        \
  X(TEXT, VMRNumber, 129, 0, CS_F0)      \
  X(TEXT, signalingPostfix, 129, 0, CS_F0) \
  X(TEXT, audioAddr1, 129, 0, CS_F0)     \
  X(TEXT, audioAddr2, 129, 0, CS_F0)     \
  X(U32, options, 0, 0, CS_F0)           \
  X(TEXT, recordingURI, 129, 0, CS_F0)   \
  X(TEXT, chairPassword, 65, 0, CS_F0)   \
  X(TEXT, invitationLang, 10, 0, CS_F0)  \
  X(TEXT, organizer, 129, 0, CS_F0)      \
  X(TEXT, videoAddr1, 129, 0, CS_F0)     \
  X(TEXT, videoAddr2, 129, 0, CS_F0)     \
  X(I32, timeUntilMeeting, 0, 0, CS_F0)

#define CS_FIELDS_CalList(X)                \
  X(I32, srvrInstance, 0, 0, CS_F0)        \
  X(COUNT, listCount, 0, 0, CS_F0)         \
  X(LIST, list, 64, CSCalMeeting, CS_F0)

/* ---- system, network, security ------------------------------------------------ */

#define CS_FIELDS_Sys(X)                                                    \
  X(I32, srvrInstance, 0, 0, CS_F0)                                        \
  X(U32, handle, 0, 0, CS_F0)                                              \
  X(TEXT, systemName, 128, 0, CS_F(CSSYS_SYSTEM_NAME_FIELD, 0x1))          \
  X(TEXT, serialNumber, 64, 0, CS_F(CSSYS_SERIAL_NUMBER_FIELD, 0x2))       \
  X(TEXT, softwareVersion, 128, 0, CS_F(CSSYS_SOFTWARE_VERSION_FIELD, 0x4)) \
  X(TEXT, hardwareVersion, 32, 0, CS_F(CSSYS_HARDWARE_VERSION_FIELD, 0x8)) \
  X(TEXT, model, 32, 0, CS_F(CSSYS_MODEL_FIELD, 0x10))                     \
  X(U32, bootTime, 0, 0, CS_F(CSSYS_BOOT_TIME_FIELD, 0x20))                \
  X(U32, state, 0, 0, CS_F(CSSYS_STATE_FIELD, 0x40))                       \
  X(TEXT, hostName, 128, 0, CS_F(CSSYS_HOST_NAME_FIELD, 0x80))

/* Address slots: 0 MAC, 1 IPv4, 4 IPv6 link-local, 5 site-local, 6 global.
 * A message without "address" leaves the slots as they were. */
#define CS_FIELDS_Lan(X)                                                  \
  X(I32, srvrInstance, 0, 0, CS_F0)                                      \
  X(U32, handle, 0, 0, CS_F0)                                            \
  X(U32, state, 0, 0, CS_F(CSLAN_STATE_FIELD, 0x1))                      \
  X(COUNT, addressCount, 0, 0, CS_F(CSLAN_ADDRESS_COUNT_FIELD, 0x2))     \
  X(STRSKEEP, address, 7, 256, CS_F(CSLAN_ADDRESS_FIELD, 0x4))           \
  X(U32, eapEnabled, 0, 0, CS_F(CSLAN_EAP_ENABLED_FIELD, 0x8))           \
  X(TEXT, eapIdentity, 32, 0, CS_F(CSLAN_EAP_IDENTITY_FIELD, 0x10))      \
  X(TEXT, eapPassword, 32, 0, CS_F(CSLAN_EAP_PASSWORD_FIELD, 0x20))      \
  X(U32, eapState, 0, 0, CS_F(CSLAN_EAP_STATE_FIELD, 0x40))              \
  X(U32, vlanEnabled, 0, 0, CS_F0)

#define CS_FIELDS_Time(X)                                                     \
  X(I32, srvrInstance, 0, 0, CS_F0)                                          \
  X(U32, handle, 0, 0, CS_F0)                                                \
  X(U32, time, 0, 0, CS_F(CSTIME_TIME_FIELD, 0x1))                           \
  X(U32, timeZoneOffset, 0, 0, CS_F(CSTIME_TIME_ZONE_OFFSET_FIELD, 0x2))     \
  X(U32, dateDisplayFormat, 0, 0, CS_F(CSTIME_DATE_DISPLAY_FORMAT_FIELD, 0x4)) \
  X(U32, timeDisplayFormat, 0, 0, CS_F(CSTIME_TIME_DISPLAY_FORMAT_FIELD, 0x8)) \
  X(U32, adjustForDST, 0, 0, CS_F(CSTIME_ADJUST_FOR_DST_FIELD, 0x10))        \
  X(U32, srvrAddrObtain, 0, 0, CS_F(CSTIME_SRVR_ADDR_OBTAIN_FIELD, 0x20))    \
  X(TEXT, srvrAddr, 256, 0, CS_F(CSTIME_SRVR_ADDR_FIELD, 0x40))              \
  X(U32, srvrState, 0, 0, CS_F(CSTIME_SRVR_STATE_FIELD, 0x80))               \
  X(U32, displayTimeInCall, 0, 0, CS_F0)

#define CS_FIELDS_Provisioning(X)                                                   \
  X(I32, srvrInstance, 0, 0, CS_F0)                                                \
  X(U32, handle, 0, 0, CS_F0)                                                      \
  X(U32, srvrState, 0, 0, CS_F(CSPROVISIONING_SRVR_STATE_FIELD, 0x1))              \
  X(I32, srvrErr, 0, 0, CS_F(CSPROVISIONING_SRVR_ERR_FIELD, 0x2))                  \
  X(TEXT, srvrDomain, 129, 0, CS_F(CSPROVISIONING_SRVR_DOMAIN_FIELD, 0x4))         \
  X(TEXT, srvrAuthName, 65, 0, CS_F(CSPROVISIONING_SRVR_AUTH_NAME_FIELD, 0x8))     \
  X(TEXT, srvrAuthPass, 65, 0, CS_F(CSPROVISIONING_SRVR_AUTH_PASS_FIELD, 0x10))    \
  X(TEXT, srvrAddr, 256, 0, CS_F(CSPROVISIONING_SRVR_ADDR_FIELD, 0x20))            \
  X(I32, srvrAuthMethNegotiated, 0, 0,                                             \
    CS_F(CSPROVISIONING_SRVR_AUTH_METH_NEGOTIATED_FIELD, 0x40))                    \
  X(U32, maintWindowEnabled, 0, 0, CS_F0)                                          \
  X(U32, maintWindowStartTime, 0, 0, CS_F0)                                        \
  X(U32, maintWindowDuration, 0, 0, CS_F0)

#define CS_FIELDS_Log(X)                                                              \
  X(I32, srvrInstance, 0, 0, CS_F0)                                                  \
  X(U32, handle, 0, 0, CS_F0)                                                        \
  X(I32, percentFilled, 0, 0, CS_F(CSLOG_PERCENT_FILLED_FIELD, 0x1))                 \
  X(I32, percentFilledThreshold, 0, 0, CS_F(CSLOG_PERCENT_FILLED_THRESHOLD_FIELD, 0x2))

#define CS_FIELDS_Location(X)                    \
  X(I32, srvrInstance, 0, 0, CS_F0)             \
  X(U32, handle, 0, 0, CS_F0)                   \
  X(TEXT, countryShortName, 3, 0, CS_F0)        \
  X(TEXT, countryLongName, 64, 0, CS_F0)        \
  X(I32, countryCode, 0, 0, CS_F0)              \
  X(U32, areaCodeRequired, 0, 0, CS_F0)         \
  X(TEXT, isdnInternationalPrefix, 32, 0, CS_F0) \
  X(TEXT, potsInternationalPrefix, 32, 0, CS_F0) \
  X(TEXT, language, 32, 0, CS_F0)

#define CS_FIELDS_HomeScreen(X)                                                              \
  X(I32, srvrInstance, 0, 0, CS_F0)                                                         \
  X(U32, handle, 0, 0, CS_F0)                                                               \
  X(U32, dialingDisplay, 0, 0, CS_F(CSHOME_SCREEN_DIALING_DISPLAY_FIELD, 0x1))              \
  X(U32, contactListAsHomeScreen, 0, 0, CS_F(CSHOME_SCREEN_CONTACT_LIST_AS_HOME_SCREEN_FIELD, 0x2)) \
  X(U32, callQualityMenu, 0, 0, CS_F(CSHOME_SCREEN_CALL_QUALITY_MENU_FIELD, 0x4))           \
  X(U32, h323ExtensionBox, 0, 0, CS_F(CSHOME_SCREEN_H323_EXTENSION_BOX_FIELD, 0x8))         \
  X(U32, directoryButton, 0, 0, CS_F(CSHOME_SCREEN_DIRECTORY_BUTTON_FIELD, 0x10))           \
  X(U32, systemButton, 0, 0, CS_F(CSHOME_SCREEN_SYSTEM_BUTTON_FIELD, 0x20))                 \
  X(U32, multipointButton, 0, 0, CS_F(CSHOME_SCREEN_MULTIPOINT_BUTTON_FIELD, 0x40))         \
  X(U32, systemNameText, 0, 0, CS_F(CSHOME_SCREEN_SYSTEM_NAME_TEXT_FIELD, 0x80))            \
  X(U32, addrText, 0, 0, CS_F(CSHOME_SCREEN_ADDR_TEXT_FIELD, 0x100))                        \
  X(U32, dateTimeText, 0, 0, CS_F(CSHOME_SCREEN_DATE_TIME_TEXT_FIELD, 0x200))               \
  X(U32, availabilityMenu, 0, 0, CS_F(CSHOME_SCREEN_AVAILABILITY_MENU_FIELD, 0x400))        \
  X(U32, callDetailReportButton, 0, 0, CS_F0)                                               \
  X(U32, recentCallsButton, 0, 0, CS_F0)                                                    \
  X(U32, sitesButton, 0, 0, CS_F0)                                                          \
  X(U32, lastNumberDialedText, 0, 0, CS_F0)

#define CS_FIELDS_Qos(X)                    \
  X(I32, srvrInstance, 0, 0, CS_F0)        \
  X(U32, handle, 0, 0, CS_F0)              \
  X(U32, type, 0, 0, CS_F0)                \
  X(U32, videoTOS, 0, 0, CS_F0)            \
  X(U32, audioTOS, 0, 0, CS_F0)            \
  X(U32, controlTOS, 0, 0, CS_F0)          \
  X(U32, mtu, 0, 0, CS_F0)                 \
  X(U32, videoErrorConcealProt, 0, 0, CS_F0) \
  X(U32, rsvp, 0, 0, CS_F0)                \
  X(U32, dynamicBandwidth, 0, 0, CS_F0)    \
  X(U32, maxTxBandwidth, 0, 0, CS_F0)      \
  X(U32, maxRxBandwidth, 0, 0, CS_F0)

#define CS_FIELDS_FWTraversal(X)          \
  X(I32, srvrInstance, 0, 0, CS_F0)      \
  X(U32, handle, 0, 0, CS_F0)            \
  X(U32, fixedPortsEnable, 0, 0, CS_F0)  \
  X(U32, fixedTCPPortLow, 0, 0, CS_F0)   \
  X(U32, fixedTCPPortHigh, 0, 0, CS_F0)  \
  X(U32, fixedUDPPortLow, 0, 0, CS_F0)   \
  X(U32, fixedUDPPortHigh, 0, 0, CS_F0)  \
  X(U32, prot, 0, 0, CS_F0)

/* A message without "address" leaves the slots as they were. */
#define CS_FIELDS_WQT(X)                   \
  X(I32, srvrInstance, 0, 0, CS_F0)       \
  X(U32, handle, 0, 0, CS_F0)             \
  X(TEXT, model, 32, 0, CS_F0)            \
  X(I32, numCodecs, 0, 0, CS_F0)          \
  X(COUNT, addressCount, 0, 0, CS_F0)     \
  X(STRSKEEP, address, 3, 256, CS_F0)

#define CS_FIELDS_Inkpad(X)                 \
  X(I32, srvrInstance, 0, 0, CS_F0)        \
  X(U32, bAttached, 0, 0, CS_F0)           \
  X(TEXT, hardwareVersion, 32, 0, CS_F0)   \
  X(TEXT, firmwareVersion, 128, 0, CS_F0)  \
  X(TEXT, model, 32, 0, CS_F0)

#define CS_FIELDS_Sec(X)                                                                     \
  X(I32, srvrInstance, 0, 0, CS_F0)                                                         \
  X(U32, handle, 0, 0, CS_F0)                                                               \
  X(U32, securityMode, 0, 0, CS_F(CSSEC_SECURITY_MODE_FIELD, 0x1))                          \
  X(U32, useRoomPasswordForRemoteAccess, 0, 0,                                              \
    CS_F(CSSEC_USE_ROOM_PASSWORD_FOR_REMOTE_ACCESS_FIELD, 0x2))                             \
  X(U32, allowAccessToUserSettings, 0, 0, CS_F(CSSEC_ALLOW_ACCESS_TO_USER_SETTINGS_FIELD, 0x4)) \
  X(U32, enableWebAccess, 0, 0, CS_F(CSSEC_ENABLE_WEB_ACCESS_FIELD, 0x8))                   \
  X(U32, enableTelnetAccess, 0, 0, CS_F(CSSEC_ENABLE_TELNET_ACCESS_FIELD, 0x10))            \
  X(U32, enableSNMPAccess, 0, 0, CS_F(CSSEC_ENABLE_SNMP_ACCESS_FIELD, 0x20))                \
  X(U32, mediaEncryption, 0, 0, CS_F(CSSEC_MEDIA_ENCRYPTION_FIELD, 0x40))                   \
  X(U32, ntlmVersion, 0, 0, CS_F(CSSEC_NTLM_VERSION_FIELD, 0x80))                           \
  X(U32, allowVideoOnWeb, 0, 0, CS_F(CSSEC_ALLOW_VIDEO_ON_WEB_FIELD, 0x100))                \
  X(I32, webAccessPort, 0, 0, CS_F0)

#define CS_FIELDS_SecPwd(X)          \
  X(I32, srvrInstance, 0, 0, CS_F0) \
  X(U32, type, 0, 0, CS_F0)         \
  X(TEXT, id, 65, 0, CS_F0)         \
  X(TEXT, newPwd, 65, 0, CS_F0)     \
  X(TEXT, oldPwd, 65, 0, CS_F0)     \
  X(U32, valid, 0, 0, CS_F0)

#define CS_FIELDS_SecPwdValidity(X)  \
  X(I32, srvrInstance, 0, 0, CS_F0) \
  X(U32, type, 0, 0, CS_F0)         \
  X(U32, valid, 0, 0, CS_F0)

#define CS_FIELDS_SecPwdAttr(X)                                                                 \
  X(I32, srvrInstance, 0, 0, CS_F0)                                                            \
  X(U32, handle, 0, 0, CS_F0)                                                                  \
  X(U32, type, 0, 0, CS_F0)                                                                    \
  X(U32, minimumLength, 0, 0, CS_F(CSSEC_PWD_ATTR_MINIMUM_LENGTH_FIELD, 0x1))                  \
  X(I32, requireLowerCount, 0, 0, CS_F(CSSEC_PWD_ATTR_REQUIRE_LOWER_COUNT_FIELD, 0x2))         \
  X(I32, requireUpperCount, 0, 0, CS_F(CSSEC_PWD_ATTR_REQUIRE_UPPER_COUNT_FIELD, 0x4))         \
  X(I32, requireNumberCount, 0, 0, CS_F(CSSEC_PWD_ATTR_REQUIRE_NUMBER_COUNT_FIELD, 0x8))       \
  X(I32, requireSpecialCount, 0, 0, CS_F(CSSEC_PWD_ATTR_REQUIRE_SPECIAL_COUNT_FIELD, 0x10))    \
  X(U32, reuseCount, 0, 0, CS_F(CSSEC_PWD_ATTR_REUSE_COUNT_FIELD, 0x20))                       \
  X(U32, minimumAge, 0, 0, CS_F(CSSEC_PWD_ATTR_MINIMUM_AGE_FIELD, 0x40))                       \
  X(U32, maximumAge, 0, 0, CS_F(CSSEC_PWD_ATTR_MAXIMUM_AGE_FIELD, 0x80))                       \
  X(U32, expirationWarningAge, 0, 0, CS_F(CSSEC_PWD_ATTR_EXPIRATION_WARNING_AGE_FIELD, 0x100)) \
  X(I32, minimumChangedChars, 0, 0, CS_F(CSSEC_PWD_ATTR_MINIMUM_CHANGED_CHARS_FIELD, 0x200))   \
  X(U32, maximumRepeatedChars, 0, 0, CS_F(CSSEC_PWD_ATTR_MAXIMUM_REPEATED_CHARS_FIELD, 0x400)) \
  X(U32, canContainIDorReverse, 0, 0, CS_F(CSSEC_PWD_ATTR_CAN_CONTAIN_ID_OR_REVERSE_FIELD, 0x800)) \
  X(U32, encryptionType, 0, 0, CS_F0)

/* Every record kind once: X(Name, Fields enumeration, constant prefix), in
 * dependency order (a kind used as a list entry comes before its list). The
 * struct is CS<Name>, the decoder parseCS<Name>Msg, the callback type
 * cs<Name>Callback and the engine's kind CS_KIND_<Name>. */
#define CS_RECORD_KINDS(X)                                            \
  X(Comm, CSCommFields, CSCOMM)                                       \
  X(Conf, CSConfFields, CSCONF)                                       \
  X(Term, CSTermFields, CSTERM)                                       \
  X(TermMedia, CSTermMediaFields, CSTERM_MEDIA)                       \
  X(RecentCallArchive, CSRecentCallArchiveFields, CSRECENT_CALL_ARCHIVE) \
  X(RecentCallList, CSRecentCallListFields, CSRECENT_CALL_LIST)       \
  X(Audio, CSAudioFields, CSAUDIO)                                    \
  X(AudioIn, CSAudioInFields, CSAUDIO_IN)                             \
  X(AudioOut, CSAudioOutFields, CSAUDIO_OUT)                          \
  X(PotsNic, CSPotsNicFields, CSPOTS_NIC)                             \
  X(SpeakerPhoneNic, CSSpeakerPhoneNicFields, CSSPEAKER_PHONE_NIC)    \
  X(H323Nic, CSH323NicFields, CSH323_NIC)                             \
  X(SipNic, CSSipNicFields, CSSIP_NIC)                                \
  X(IsdnNic, CSIsdnNicFields, CSISDN_NIC)                             \
  X(IsdnLine, CSIsdnLineFields, CSISDN_LINE)                          \
  X(V35Nic, CSV35NicFields, CSV35_NIC)                                \
  X(V35Line, CSV35LineFields, CSV35_LINE)                             \
  X(Video, CSVideoFields, CSVIDEO)                                    \
  X(VideoIn, CSVideoInFields, CSVIDEO_IN)                             \
  X(VideoOut, CSVideoOutFields, CSVIDEO_OUT)                          \
  X(VideoOutLayout, CSVideoOutLayoutFields, CSVIDEO_OUT_LAYOUT)       \
  X(VideoOutLayoutCap, CSVideoOutLayoutCapFields, CSVIDEO_OUT_LAYOUTCAP) \
  X(CamSubsys, CSCamSubsysFields, CSCAM_SUBSYS)                       \
  X(Camera, CSCameraFields, CSCAMERA)                                 \
  X(CameraFarGroup, CSCameraFarGroupFields, CSCAMERA_GROUP)           \
  X(Preset, CSPresetFields, CSPRESET)                                 \
  X(Content, CSContentFields, CSCONTENT)                              \
  X(ContentSrvr, CSContentSrvrFields, CSCONTENT_SRVR)                 \
  X(ContentSrc, CSContentSrcFields, CSCONTENT_SRC)                    \
  X(ContentList, CSContentListFields, CSCONTENT_LIST)                 \
  X(Dir, CSDirFields, CSDIR)                                          \
  X(DirSrvr, CSDirSrvrFields, CSDIR_SRVR)                             \
  X(DirEnt, CSDirEntFields, CSDIR_ENT)                                \
  X(DirList, CSDirListFields, CSDIR_LIST)                             \
  X(AddressList, CSAddressListFields, CSADDRESS_LIST)                 \
  X(AddressListArray, CSAddressListArrayFields, CSADDRESS_LIST_ARRAY) \
  X(Cal, CSCalFields, CSCAL)                                          \
  X(CalSrvr, CSCalSrvrFields, CSCAL_SRVR)                             \
  X(CalMeeting, CSCalMeetingFields, CSCAL_MEETING)                    \
  X(CalList, CSCalListFields, CSCAL_LIST)                             \
  X(Sys, CSSysFields, CSSYS)                                          \
  X(Lan, CSLanFields, CSLAN)                                          \
  X(Time, CSTimeFields, CSTIME)                                       \
  X(Provisioning, CSProvisioningFields, CSPROVISIONING)               \
  X(Log, CSLogFields, CSLOG)                                          \
  X(Location, CSLocationFields, CSLOCATION)                           \
  X(HomeScreen, CSHomeScreenFields, CSHOME_SCREEN)                    \
  X(Qos, CSQosFields, CSQOS)                                          \
  X(FWTraversal, CSFWTraversalFields, CSFWTRAVERSAL)                  \
  X(WQT, CSWQTFields, CSWQT)                                          \
  X(Inkpad, CSInkpadFields, CSINKPAD)                                 \
  X(Sec, CSSecFields, CSSEC)                                          \
  X(SecPwd, CSSecPwdFields, CSSEC_PWD)                                \
  X(SecPwdValidity, CSSecPwdValidFields, CSSEC_PWD_VALID)             \
  X(SecPwdAttr, CSSecPwdAttrFields, CSSEC_PWD_ATTR)

/* ---- expansions ------------------------------------------------------------ */

#define CS_DECL_I32(n, c, a) int32_t n;
#define CS_DECL_U32(n, c, a) uint32_t n;
#define CS_DECL_COUNT(n, c, a) int32_t n;
#define CS_DECL_TEXT(n, c, a) char n[c];
/* Doubles are 8-aligned on every ABI (i386 and Android x86 would put them on
 * 4), so records Java reads in place have one layout everywhere. */
#define CS_DECL_DBL(n, c, a) __attribute__((aligned(8))) double n;
#define CS_DECL_LIST(n, c, a) a n[c];
#define CS_DECL_STRS(n, c, a) char n[c][a];
#define CS_DECL_STRSKEEP(n, c, a) char n[c][a];
#define CS_DECL_EVENT(n, c, a)
#define CS_DECL_ROW(t, n, c, a, f) CS_DECL_##t(n, c, a)
#define CS_ENUM_ROW(t, n, c, a, f) f

/* Element structs, then every record struct, its enumeration and its
 * callback type. Kinds that are list entries of later kinds come first. */
#define CS_DEFINE_ELEMENT(Name) typedef struct CS##Name { CS_FIELDS_##Name(CS_DECL_ROW) } CS##Name;
CS_ELEMENT_KINDS(CS_DEFINE_ELEMENT)
#undef CS_DEFINE_ELEMENT

#define CS_DEFINE_RECORD(Name, Enum, P)                                        \
  typedef struct CS##Name { CS_FIELDS_##Name(CS_DECL_ROW) } CS##Name;          \
  typedef enum Enum { P##_NO_FIELDS = 0, CS_FIELDS_##Name(CS_ENUM_ROW) P##_ALL_FIELDS = -1, P##_FIELDS_INT_MAX = 0x7FFFFFFF } Enum; \
  typedef void (*cs##Name##Callback)(const CS##Name *record, Enum flags, uintptr_t userDefined);
CS_RECORD_KINDS(CS_DEFINE_RECORD)
#undef CS_DEFINE_RECORD

/* The engine's kinds. */
typedef enum cs_kind {
#define CS_KIND_ENUM(Name, Enum, P) CS_KIND_##Name,
  CS_RECORD_KINDS(CS_KIND_ENUM)
#undef CS_KIND_ENUM
  CS_KIND_COUNT
} cs_kind;

KYR_EXTERN_C_BEGIN

/* Generic engine. cs_record_size is 0 and cs_record_name null for a kind out
 * of range. */
KYR_API size_t cs_record_size(cs_kind kind);
KYR_API const char *cs_record_name(cs_kind kind); /* "CSTerm" */

/* Fills rec from obj: members are matched without regard to case; missing or
 * mistyped members give 0 or the empty text; list counts are clamped to the
 * list's capacity and to the entries the array holds (a negative count reads
 * as 0); a missing array clears the list (the LAN and telepresence address
 * lists keep theirs). A null obj decodes like an empty object. Returns 0, or
 * -10 for a null record or an unknown kind. */
KYR_API int cs_record_decode(cs_kind kind, void *rec, const cJSON *obj);

/* A new JSON object holding every field in declaration order (u32 unsigned,
 * i32 signed, lists as the count and exactly count entries, the count taken
 * within the list's capacity). The caller deletes it. Null for a null record,
 * an unknown kind or when memory runs out. */
KYR_API cJSON *cs_record_encode(cs_kind kind, const void *rec);

/* One decoder per kind: parseCSTermMsg(CSTerm *, const cJSON *) and so on.
 * Same contract as cs_record_decode. */
#define CS_DECLARE_PARSER(Name, Enum, P) KYR_API int parseCS##Name##Msg(CS##Name *rec, const cJSON *obj);
CS_RECORD_KINDS(CS_DECLARE_PARSER)
#undef CS_DECLARE_PARSER

/* Shared builders: a new JSON object with exactly the members the matching
 * decoder reads, in the same order (null on a null record or no memory). */
KYR_API cJSON *buildCSCalSrvrMsg(const CSCalSrvr *rec);
KYR_API cJSON *buildCSCalMeetingMsg(const CSCalMeeting *rec);
KYR_API cJSON *buildCSDirEntMsg(const CSDirEnt *rec);
KYR_API cJSON *buildCSContentSrcMsg(const CSContentSrc *rec);
KYR_API cJSON *buildCSAddressListMsg(const CSAddressList *rec);
KYR_API cJSON *buildCSAddressListArrayMsg(const CSAddressListArray *rec);

KYR_EXTERN_C_END

#endif
