/* The 45 notification callbacks of the Java-facing interfaces, in the order
 * the worker registers them (for server instance 0, each with the set-up's
 * cookie as userDefined). Each row: X(notification, callback, record kind).
 *
 * Every callback runs on the worker thread, receives the decoded record
 * (valid only during the call), the notification's field flags and the
 * cookie, and posts its events through kyr_post. */
#ifndef KYR_HANDLERS_H
#define KYR_HANDLERS_H

#include <stdint.h>

#include "csapi/client/cs_records.h"
#include "platform/kyr_api.h"

#define KYR_INTERFACE_HANDLER_LIST(X)                                               \
  X("csAudioChangedCB", on_audio_changed, Audio)                                   \
  X("csConfChangedCB", on_conf_changed, Conf)                                      \
  X("csCommChangedCB", on_comm_changed, Comm)                                      \
  X("csTermChangedCB", on_term_changed, Term)                                      \
  X("csRecentCallListArchivedCB", on_recent_call_list_archived, RecentCallArchive) \
  X("csIsdnNicChangedCB", on_isdn_nic_changed, IsdnNic)                            \
  X("csIsdnLineChangedCB", on_line_changed, IsdnLine)                              \
  X("csH323NicChangedCB", on_h323_nic_changed, H323Nic)                            \
  X("csSipNicChangedCB", on_sip_nic_changed, SipNic)                               \
  X("csSpeakerPhoneNicChangedCB", on_speakerphone_nic_changed, SpeakerPhoneNic)    \
  X("csV35NicChangedCB", on_v35_nic_changed, V35Nic)                               \
  X("csPotsNicChangedCB", on_pots_nic_changed, PotsNic)                            \
  X("csDirChangedCB", on_dir_changed, Dir)                                         \
  X("csDirSrvrChangedCB", on_dir_server_changed, DirSrvr)                          \
  X("csDirEntAddedCB", on_dir_entry_added, DirEnt)                                 \
  X("csDirEntRemovedCB", on_dir_entry_removed, DirEnt)                             \
  X("csDirEntChangedCB", on_dir_entry_changed, DirEnt)                             \
  X("csCalChangedCB", on_cal_changed, Cal)                                         \
  X("csCalSrvrChangedCB", on_cal_server_changed, CalSrvr)                          \
  X("csCalMeetingAddedCB", on_cal_meeting_added, CalMeeting)                       \
  X("csCalMeetingRemovedCB", on_cal_meeting_removed, CalMeeting)                   \
  X("csCalMeetingChangedCB", on_cal_meeting_changed, CalMeeting)                   \
  X("csSecChangedCB", on_security_settings_changed, Sec)                           \
  X("csSecPwdChangedCB", on_security_pwd_changed, SecPwd)                          \
  X("csSecPwdValidityChangedCB", on_security_pwd_validity_changed, SecPwdValidity) \
  X("csSecPwdAttrChangedCB", on_security_pwd_attr_changed, SecPwdAttr)             \
  X("csSysChangedCB", on_sys_settings_changed, Sys)                                \
  X("csLanChangedCB", on_lan_settings_changed, Lan)                                \
  X("csTimeChangedCB", on_time_settings_changed, Time)                             \
  X("csProvisioningChangedCB", on_provisioning_settings_changed, Provisioning)     \
  X("csLogChangedCB", on_log_settings_changed, Log)                                \
  X("csCamSubsysChangedCB", on_camera_sub_system_changed, CamSubsys)               \
  X("csCameraChangedCB", on_camera_changed, Camera)                                \
  X("csCameraAddedCB", on_camera_added, Camera)                                    \
  X("csCameraRemovedCB", on_camera_removed, Camera)                                \
  X("csCameraFarGroupChangedCB", on_camera_farGroup_changed, CameraFarGroup)       \
  X("csCameraFarGroupAddedCB", on_camera_farGroup_added, CameraFarGroup)           \
  X("csCameraFarGroupRemovedCB", on_camera_farGroup_removed, CameraFarGroup)       \
  X("csPresetChangedCB", on_preset_changed, Preset)                                \
  X("csPresetSelectedCB", on_preset_selected, Preset)                              \
  X("csVideoChangedCB", onVideoChangedCB, Video)                                   \
  X("csVideoInChangedCB", onVideoInChangedCB, VideoIn)                             \
  X("csVideoOutLayoutChangedCB", onVideoOutLayoutChangedCB, VideoOutLayout)        \
  X("csVideoOutLayoutCapChangedCB", onVideoOutLayoutCapChangedCB, VideoOutLayoutCap) \
  X("csHomeScreenChangedCB", on_home_screen_changed, HomeScreen)

/* A build that leaves an interface out can define KYR_HANDLER_ATTR as
 * __attribute__((weak)): the worker then skips (and logs) every callback
 * that is not linked in. */
#ifndef KYR_HANDLER_ATTR
#define KYR_HANDLER_ATTR
#endif

KYR_EXTERN_C_BEGIN
#define KYR_DECLARE_INTERFACE_HANDLER(name, fn, Kind) \
  KYR_HANDLER_ATTR void fn(const CS##Kind *record, unsigned int flags, uintptr_t userDefined);
KYR_INTERFACE_HANDLER_LIST(KYR_DECLARE_INTERFACE_HANDLER)
#undef KYR_DECLARE_INTERFACE_HANDLER
KYR_EXTERN_C_END

#endif
