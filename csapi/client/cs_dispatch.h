/* Types shared by the notification dispatcher (client core) and the
 * notification handlers (record decoders): the callback table a handler is
 * given, and the (method name, handler) pairs each module registers. */
#ifndef CS_DISPATCH_H
#define CS_DISPATCH_H

#include <stdint.h>

#include "platform/kyr_api.h"

KYR_EXTERN_C_BEGIN

typedef struct ccom_msg_t ccom_msg_t;

/* A registered callback as stored in a callback table. The record pointer is
 * the decoded CS record of the notification's kind; handlers cast func back
 * to the kind's exact callback type (for example csTermCallback) before
 * calling it. userDefined is pointer-sized so that a pointer given as user
 * data survives on 64-bit hosts. */
typedef void (*csCallbackFunc)(const void *record, unsigned int flags, uintptr_t userDefined);

typedef struct csCallbackEntry {
  csCallbackFunc func; /* null in a free entry */
  uintptr_t userDefined;
  uintptr_t srvrInstance;
} csCallbackEntry;

/* Entries in one name's callback table. */
#define CS_CALLBACK_TABLE_ENTRIES 100

/* Client-side notification handler: decodes the message held in msg and
 * calls every entry of callbacks (a CS_CALLBACK_TABLE_ENTRIES-long copy)
 * registered for srvrInstance. Returns 0, or -2 for a malformed message. */
typedef int (*csMarshFunc)(int srvrInstance, ccom_msg_t *msg, const csCallbackEntry *callbacks);

/* One row of a module's handler table; a row with a null name ends it, a
 * row with a null func removes the name. */
typedef struct csMarshEntry {
  const char *name;
  csMarshFunc func;
} csMarshEntry;

/* Registers a module table in the process-wide handler table (client core). */
KYR_API int csapi_client_add_marsh_table(const csMarshEntry *table);

/* The twelve module init/exit functions, registered by csapiClientInitAll in
 * this order. */
#define CS_MODULE_LIST(X) \
  X(csapi_types)          \
  X(addresslist)          \
  X(audioapi)             \
  X(videoapi)             \
  X(commapi)              \
  X(cameraapi)            \
  X(dirapi)               \
  X(contentapi)           \
  X(screenapi)            \
  X(secapi)               \
  X(sysapi)               \
  X(calapi)

#define CS_DECLARE_MODULE(m) KYR_API int m##ClientInit(void); KYR_API int m##ClientExit(void);
CS_MODULE_LIST(CS_DECLARE_MODULE)
#undef CS_DECLARE_MODULE

/* The 55 notifications, by module: X(event, record kind, parameter name).
 * The method is "cs" event "CB" ("csTermChangedCB"), its handler
 * cs<event>CBClient, the record CS<kind>. */
#define CS_NOTIFY_csapi_types(X)
#define CS_NOTIFY_addresslist(X)
#define CS_NOTIFY_audioapi(X)                  \
  X(AudioChanged, Audio, "pAudio")             \
  X(AudioInChanged, AudioIn, "pAudioIn")
#define CS_NOTIFY_videoapi(X)                                    \
  X(VideoChanged, Video, "pVideo")                               \
  X(VideoInChanged, VideoIn, "pVideoIn")                         \
  X(VideoOutLayoutCapChanged, VideoOutLayoutCap, "pVideoLayout") \
  X(VideoOutLayoutChanged, VideoOutLayout, "pVideoLayout")
#define CS_NOTIFY_commapi(X)                                                \
  X(CommChanged, Comm, "pComm")                                             \
  X(ConfChanged, Conf, "pConf")                                             \
  X(FWTraversalChanged, FWTraversal, "pFWTraversal")                        \
  X(H323NicChanged, H323Nic, "pH323Nic")                                    \
  X(IsdnLineChanged, IsdnLine, "pIsdnLine")                                 \
  X(IsdnNicChanged, IsdnNic, "pIsdnNic")                                    \
  X(PotsNicChanged, PotsNic, "pPotsNic")                                    \
  X(QosChanged, Qos, "pQos")                                                \
  X(RecentCallListArchived, RecentCallArchive, "pRecentCallArchive")        \
  X(SipNicChanged, SipNic, "pSipNic")                                       \
  X(SpeakerPhoneNicChanged, SpeakerPhoneNic, "pSpeakerPhoneNic")            \
  X(TermChanged, Term, "pTerm")                                             \
  X(TermMediaChanged, TermMedia, "pTermMedia")                              \
  X(V35LineChanged, V35Line, "pV35Line")                                    \
  X(V35NicChanged, V35Nic, "pV35Nic")
#define CS_NOTIFY_cameraapi(X)                                    \
  X(CamSubsysChanged, CamSubsys, "pCamSubsys")                    \
  X(CameraAdded, Camera, "pCamera")                               \
  X(CameraChanged, Camera, "pCamera")                             \
  X(CameraFarGroupAdded, CameraFarGroup, "pCameraGroup")          \
  X(CameraFarGroupChanged, CameraFarGroup, "pCameraGroup")        \
  X(CameraFarGroupRemoved, CameraFarGroup, "pCameraGroup")        \
  X(CameraRemoved, Camera, "pCamera")                             \
  X(PresetChanged, Preset, "pPreset")                             \
  X(PresetSelected, Preset, "pPreset")
#define CS_NOTIFY_dirapi(X)                  \
  X(DirChanged, Dir, "pDir")                 \
  X(DirEntAdded, DirEnt, "pDirEnt")          \
  X(DirEntChanged, DirEnt, "pDirEnt")        \
  X(DirEntRemoved, DirEnt, "pDirEnt")        \
  X(DirSrvrChanged, DirSrvr, "pDirSrvr")
#define CS_NOTIFY_contentapi(X)                       \
  X(ContentChanged, Content, "pContent")              \
  X(ContentSrcChanged, ContentSrc, "pContentSrc")     \
  X(ContentSrvrChanged, ContentSrvr, "pContentSrvr")
#define CS_NOTIFY_screenapi(X) X(HomeScreenChanged, HomeScreen, "pScreen")
#define CS_NOTIFY_secapi(X)                              \
  X(SecChanged, Sec, "pSec")                             \
  X(SecPwdAttrChanged, SecPwdAttr, "pSecPwdAttr")        \
  X(SecPwdChanged, SecPwd, "pSecPwd")                    \
  X(SecPwdValidityChanged, SecPwdValidity, "pValidity")
#define CS_NOTIFY_sysapi(X)                              \
  X(WQTChanged, WQT, "pWQT")                             \
  X(LanChanged, Lan, "pLan")                             \
  X(LocationChanged, Location, "pLocation")              \
  X(LogChanged, Log, "pLog")                             \
  X(ProvisioningChanged, Provisioning, "pProvisioning")  \
  X(SysChanged, Sys, "pSys")                             \
  X(TimeChanged, Time, "pTime")
#define CS_NOTIFY_calapi(X)                          \
  X(CalChanged, Cal, "pCal")                         \
  X(CalMeetingAdded, CalMeeting, "pCalMeeting")      \
  X(CalMeetingChanged, CalMeeting, "pCalMeeting")    \
  X(CalMeetingRemoved, CalMeeting, "pCalMeeting")    \
  X(CalSrvrChanged, CalSrvr, "pCalSrvr")

#define CS_NOTIFY_ALL(X)     \
  CS_NOTIFY_csapi_types(X)  \
  CS_NOTIFY_addresslist(X)  \
  CS_NOTIFY_audioapi(X)     \
  CS_NOTIFY_videoapi(X)     \
  CS_NOTIFY_commapi(X)      \
  CS_NOTIFY_cameraapi(X)    \
  CS_NOTIFY_dirapi(X)       \
  CS_NOTIFY_contentapi(X)   \
  CS_NOTIFY_screenapi(X)    \
  CS_NOTIFY_secapi(X)       \
  CS_NOTIFY_sysapi(X)       \
  CS_NOTIFY_calapi(X)

/* The handlers: decode the record of the message held in msg and call every
 * entry of callbacks registered for srvrInstance, with the record (its
 * srvrInstance set to that instance), the message's "flags" (0 when absent)
 * and the entry's userDefined. 0, or -2 when msg holds no JSON-RPC request
 * with "params" (nothing is called then). */
#define CS_DECLARE_HANDLER(Event, Kind, Param) \
  KYR_API int cs##Event##CBClient(int srvrInstance, ccom_msg_t *msg, const csCallbackEntry *callbacks);
CS_NOTIFY_ALL(CS_DECLARE_HANDLER)
#undef CS_DECLARE_HANDLER

KYR_EXTERN_C_END

#endif
