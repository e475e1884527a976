#include "service/interfaces/content.h"

#include <stdlib.h>
#include <string.h>

#include <memory>
#include <new>

#include "csapi/client/cs_ops.h"
#include "csapi/client/csapi_rpc.h"
#include "service/interfaces/kyr_fetch.h"
#include "service/interfaces/kyr_handlers.h"
#include "service/interfaces/kyr_iface.h"
#include "service/interfaces/settings.h"
#include "service/interfaces/settings.h"


namespace {

const char *const kTag = KYR_CONTENT_TAG;
const char *const kReadFail = "can't get Camera sub-system, err=%d (%s)\n";

/* The camera subsystem; 0 or its code (logged). */
int read_subsys(CSCamSubsys *s) {
  memset(s, 0, sizeof *s);
  int rc = csCamSubsysGet(s, kyr_server_instance());
  if (rc < 0) kyr_log_printf(KYR_LOG_ERROR, kTag, kReadFail, rc, csErrorString());
  return rc < 0 ? rc : 0;
}

/* Logs a failed camera or preset read the way a subsystem read is logged. */
int read_failed(int rc) {
  kyr_log_printf(KYR_LOG_ERROR, kTag, kReadFail, rc, csErrorString());
  return rc;
}

/* The subsystem and the camera with that id; 0 or the first failing code. */
int read_camera_by_id(int id, CSCamSubsys *s, CSCamera *cam) {
  int rc = read_subsys(s);
  if (rc < 0) return rc;
  memset(cam, 0, sizeof *cam);
  rc = csCameraGetById(cam, s, id);
  return rc < 0 ? read_failed(rc) : 0;
}

/* The subsystem and one preset; 0 or the first failing code. */
int read_preset(int near, int instance, CSPreset *p) {
  CSCamSubsys s;
  int rc = read_subsys(&s);
  if (rc < 0) return rc;
  memset(p, 0, sizeof *p);
  rc = csPresetGet(p, &s, near ? 1u : 0u, instance);
  return rc < 0 ? read_failed(rc) : 0;
}

/* A new KyrCameraStruct for Java holding cam: its handle, or -1. */
int64_t camera_struct(const CSCamera *cam) {
  auto *c = static_cast<KyrCameraStruct *>(calloc(1, sizeof(KyrCameraStruct)));
  if (!c) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "out of memory for a camera description\n");
    return -1;
  }
  kyr_cam_fill(c, cam);
  int32_t h = kyr_handle_register(c, sizeof *c, KYR_HANDLE_RECORD);
  if (h < 0) {
    free(c);
    return -1;
  }
  return h;
}

}  // namespace

extern "C" void kyr_cam_fill(KyrCameraStruct *dst, const CSCamera *cam) {
  memset(dst, 0, sizeof *dst);
  kyr_copy_KyrCameraStruct(dst, cam);
  dst->selectedPeople = static_cast<uint8_t>(cam->selected & 0x1);
  dst->selectedContent = cam->selected & 0x2;
}

/* ---- counts ---- */

extern "C" int kyr_cam_num_near(void) {
  CSCamSubsys s;
  return read_subsys(&s) < 0 ? -1 : static_cast<int>(s.maxNearCams);
}

extern "C" int kyr_cam_num_presets(int near) {
  CSCamSubsys s;
  if (read_subsys(&s) < 0) return -1;
  return static_cast<int>(near ? s.maxNearPresets : s.maxFarPresets);
}

namespace {

unsigned int far_terminals(const CSCamSubsys &s) {
  if (s.numFarTerminals <= KYR_CAM_MAX_FAR_TERMINALS) return s.numFarTerminals;
  kyr_log_printf(KYR_LOG_ERROR, kTag, "codec reports %u far terminals, reading %d\n", s.numFarTerminals,
                 KYR_CAM_MAX_FAR_TERMINALS);
  return KYR_CAM_MAX_FAR_TERMINALS;
}

/* Every far terminal's camera group at once; rc[i] is each read's result. */
void read_far_groups(const CSCamSubsys &s, unsigned int terminals, CSCameraFarGroup *g, int *rc) {
  cs_op_ticket t[KYR_CAM_MAX_FAR_TERMINALS];
  for (unsigned int i = 0; i < terminals; i++) {
    memset(&g[i], 0, sizeof g[i]);
    (void)csCameraFarGroupGetBegin(&t[i], &g[i], &s, static_cast<int>(i));
  }
  for (unsigned int i = 0; i < terminals; i++) rc[i] = cs_op_end(&t[i]);
}

}  // namespace

extern "C" int kyr_cam_num_far(void) {
  CSCamSubsys s;
  if (read_subsys(&s) < 0) return -1;
  unsigned int terminals = far_terminals(s);
  CSCameraFarGroup g[KYR_CAM_MAX_FAR_TERMINALS];
  int rc[KYR_CAM_MAX_FAR_TERMINALS];
  read_far_groups(s, terminals, g, rc);
  int64_t sum = 0;
  for (unsigned int i = 0; i < terminals; i++)
    if (rc[i] >= 0) sum += g[i].maxCameras;
  return sum > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(sum);
}

/* ---- the far-camera list ---- */

/* Read in two steps (every group, then every camera of the groups before
 * the first that failed) and judged in the order they used to be read one
 * by one: group, its cameras, next group. */
extern "C" int64_t kyr_cam_far_list(void) {
  CSCamSubsys s;
  int rc = read_subsys(&s);
  if (rc < 0) return rc;
  unsigned int terminals = far_terminals(s);
  CSCameraFarGroup g[KYR_CAM_MAX_FAR_TERMINALS];
  int grc[KYR_CAM_MAX_FAR_TERMINALS];
  read_far_groups(s, terminals, g, grc);
  unsigned int cams[KYR_CAM_MAX_FAR_TERMINALS] = {};
  size_t total = 0;
  for (unsigned int i = 0; i < terminals && grc[i] >= 0; i++) {
    cams[i] = g[i].numCameras < KYR_CAM_MAX_FAR_CAMERAS ? g[i].numCameras : KYR_CAM_MAX_FAR_CAMERAS;
    total += cams[i];
  }
  std::unique_ptr<CSCamera[]> cam(new (std::nothrow) CSCamera[total ? total : 1]());
  std::unique_ptr<cs_op_ticket[]> ct(new (std::nothrow) cs_op_ticket[total ? total : 1]);
  if (!cam || !ct) return -1;
  size_t k = 0;
  for (unsigned int i = 0; i < terminals && grc[i] >= 0; i++)
    for (unsigned int j = 0; j < cams[i]; j++, k++) (void)csCameraGetFarBegin(&ct[k], &cam[k], &g[i], static_cast<int>(j));

  kyr_list out = KYR_LIST_INIT;
  int last_rc = 0;
  k = 0;
  for (unsigned int i = 0; i < terminals; i++) {
    last_rc = grc[i];
    if (grc[i] < 0) {
      kyr_log_printf(KYR_LOG_ERROR, kTag, "can't get cameraFarGroup, err=%d (%s)\n", grc[i], kyr_err_text(grc[i]));
      kyr_list_discard(&out);
      return kyr_fetch_drop(ct.get(), k, total, grc[i]);
    }
    if (g[i].numCameras > KYR_CAM_MAX_FAR_CAMERAS)
      kyr_log_printf(KYR_LOG_ERROR, kTag, "far terminal reports %u cameras, reading %d\n", g[i].numCameras,
                     KYR_CAM_MAX_FAR_CAMERAS);
    for (unsigned int j = 0; j < cams[i]; j++, k++) {
      last_rc = cs_op_end(&ct[k]);
      if (last_rc < 0) {
        kyr_log_printf(KYR_LOG_ERROR, kTag, "can't get cameraFar, err=%d (%s)\n", last_rc, kyr_err_text(last_rc));
        kyr_list_discard(&out);
        return kyr_fetch_drop(ct.get(), k + 1, total, last_rc);
      }
      auto *node = static_cast<KyrFarCameraList *>(kyr_list_append(&out, sizeof(KyrFarCameraList), kTag));
      if (!node) {
        kyr_list_discard(&out);
        kyr_fetch_drop(ct.get(), k + 1, total, last_rc);
        return -1;
      }
      node->id = cam[k].id;
    }
  }
  csapi_err_set(last_rc);
  return kyr_list_take(&out);
}

extern "C" int kyr_cam_far_list_release(int64_t head) { return kyr_list_release(head, kTag); }

/* ---- camera descriptions ---- */

extern "C" int64_t kyr_cam_info_by_id(int id) {
  CSCamSubsys s;
  CSCamera cam;
  if (read_camera_by_id(id, &s, &cam) < 0) return -1;
  return camera_struct(&cam);
}

extern "C" int64_t kyr_cam_info_by_index(int near, int index) {
  if (!near) {
    /* Far cameras are numbered per far terminal: an index alone names none. */
    kyr_log_printf(KYR_LOG_ERROR, kTag, "camera info by index is for near cameras only (index=%d)\n", index);
    return -1;
  }
  CSCamSubsys s;
  if (read_subsys(&s) < 0) return -1;
  CSCamera cam;
  memset(&cam, 0, sizeof cam);
  int rc = csCameraGetNear(&cam, &s, index);
  if (rc < 0) {
    read_failed(rc);
    return -1;
  }
  return camera_struct(&cam);
}

extern "C" void kyr_cam_info_release(int64_t handle) {
  if (handle < KYR_HANDLE_MIN || handle > KYR_HANDLE_MAX) {
    if (handle != 0) kyr_log_printf(KYR_LOG_ERROR, kTag, "release of an unknown camera %lld ignored\n", (long long)handle);
    return;
  }
  free(kyr_handle_release(static_cast<int32_t>(handle), KYR_HANDLE_RECORD, kTag));
}

/* ---- selection, tracking, moves ---- */

extern "C" int kyr_cam_select(int id, int op) {
  if (op < KYR_CAM_PEOPLE_OFF || op > KYR_CAM_CONTENT_ON) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "invalid camera operation, operation=%d\n", op);
    return -1;
  }
  CSCamSubsys s;
  CSCamera cam;
  int rc = read_camera_by_id(id, &s, &cam);
  if (rc < 0) return rc;
  unsigned int bit = (op >= KYR_CAM_CONTENT_OFF) ? 0x2u : 0x1u;
  unsigned int sel = (op & 1) ? (cam.selected | bit) : (cam.selected & ~bit);
  rc = csCameraSelect(&cam, sel);
  if (rc == -21) kyr_post(EVENT_ERROR, ERROR_REASON_CAMERA_UNSUPPORTED_RESOLUTION, -1, nullptr);
  return rc;
}

extern "C" int kyr_cam_set_tracking(int id, int mode) {
  CSCamSubsys s;
  CSCamera cam;
  if (read_camera_by_id(id, &s, &cam) < 0) return -1;
  cam.trackingMode = static_cast<uint32_t>(mode);
  int rc = csCameraSet(&cam, CSCAMERA_TRACKING_MODE_FIELD);
  if (rc < 0) kyr_log_printf(KYR_LOG_ERROR, kTag, "Failed to set Camera tracking mode, err=%d (%s)\n", rc, csErrorString());
  return rc;
}

extern "C" unsigned int kyr_cam_move_type(int axis, int direction, int move) {
  static const unsigned int kMoves[3][2] = {
      {KYR_CAM_PAN_POS, KYR_CAM_PAN_NEG}, {KYR_CAM_TILT_POS, KYR_CAM_TILT_NEG}, {KYR_CAM_ZOOM_POS, KYR_CAM_ZOOM_NEG}};
  if (!move || axis < KYR_CAM_AXIS_PAN || axis > KYR_CAM_AXIS_ZOOM) return KYR_CAM_STOP;
  return kMoves[axis][direction >= 0 ? 0 : 1];
}

extern "C" int kyr_cam_move(int axis, int near, int direction, int move) {
  CSCamSubsys s;
  int rc = read_subsys(&s);
  if (rc < 0) return rc;
  CSCamera cam;
  memset(&cam, 0, sizeof cam);
  rc = csCameraGetSelected(&cam, &s, near ? 1u : 0u, 1);
  if (rc < 0) return read_failed(rc);
  return csCameraMove(&cam, kyr_cam_move_type(axis, direction, move));
}

/* ---- presets ---- */

extern "C" int kyr_cam_preset_is_set(int near, int instance) {
  CSPreset p;
  return read_preset(near, instance, &p) < 0 ? 0 : static_cast<int>(p.isSet & 0xFF);
}

extern "C" int kyr_cam_preset_is_selected(int near, int instance) {
  CSPreset p;
  if (read_preset(near, instance, &p) < 0) return 0xFF;
  int rc = csPresetIsSelected(&p);
  return rc < 0 ? 0xFF : (rc & 0xFF);
}

extern "C" int kyr_cam_preset_action(int near, int instance, int action) {
  static int (*const kActions[])(const CSPreset *) = {csPresetGoTo, csPresetClear};
  if (action < KYR_PRESET_GOTO || action > KYR_PRESET_CLEAR) return -1;
  CSPreset p;
  if (read_preset(near, instance, &p) < 0) return -1;
  return kActions[action](&p);
}

extern "C" int kyr_cam_preset_store(int near, int instance) {
  CSPreset p;
  if (read_preset(near, instance, &p) < 0) return 0;
  int rc = csPresetSet(&p, 0);
  return rc < 0 ? 0 : rc;
}

/* ---- notifications ---- */

extern "C" void on_camera_sub_system_changed(const CSCamSubsys *record, unsigned int flags, uintptr_t) {
  if (!record) return;
  int64_t updates = GetContentSettingsUpdates(record, flags);
  kyr_post(EVENT_CONTENT_SETTINGS_CHANGED, static_cast<int32_t>(updates), 0, nullptr);
}

/* X(callback, record kind, event, value1, value2): each posts one event. */
#define KYR_CAMERA_CALLBACKS(X)                                                                       \
  X(on_camera_changed, Camera, EVENT_CAMERA_CHANGED, record->id, flags)                               \
  X(on_camera_added, Camera, EVENT_CAMERA_ADDED, record->id, flags)                                   \
  X(on_camera_removed, Camera, EVENT_CAMERA_REMOVED, record->id, flags)                               \
  X(on_camera_farGroup_changed, CameraFarGroup, EVENT_CAMERA_FAR_GROUP_CHANGED, record->id, flags)    \
  X(on_camera_farGroup_added, CameraFarGroup, EVENT_CAMERA_FAR_GROUP_ADDED, record->id, flags)        \
  X(on_camera_farGroup_removed, CameraFarGroup, EVENT_CAMERA_FAR_GROUP_REMOVED, record->id, flags)    \
  X(on_preset_changed, Preset, EVENT_CAMERA_PRESET_CHANGED, record->isNearPreset, record->instance)   \
  X(on_preset_selected, Preset, EVENT_CAMERA_PRESET_SELECTED, record->isNearPreset, record->instance)
#define KYR_CAMERA_CALLBACK(fn, Kind, code, v1, v2)                                                 \
  extern "C" void fn(const CS##Kind *record, unsigned int flags, uintptr_t) {                       \
    (void)flags;                                                                                    \
    if (!record) return;                                                                            \
    kyr_post(code, static_cast<int>(v1), static_cast<int>(v2), nullptr);                            \
  }
KYR_CAMERA_CALLBACKS(KYR_CAMERA_CALLBACK)
#undef KYR_CAMERA_CALLBACK

/* ---- JNI entry points of quorvex.kyrconnectservice.ContentSubSystemInterface ---- */

#define KYR_CONTENT_JNI(name) Java_quorvex_kyrconnectservice_ContentSubSystemInterface_##name

extern "C" {

KYR_API JNIEXPORT jint JNICALL KYR_CONTENT_JNI(NativeGetNumNearCameras)(JNIEnv *, jobject) { return kyr_cam_num_near(); }

KYR_API JNIEXPORT jint JNICALL KYR_CONTENT_JNI(NativeGetNumFarCameras)(JNIEnv *, jobject) { return kyr_cam_num_far(); }

KYR_API JNIEXPORT jint JNICALL KYR_CONTENT_JNI(NativeGetNumPresets)(JNIEnv *, jobject, jint near) {
  return kyr_cam_num_presets(near);
}

KYR_API JNIEXPORT jlong JNICALL KYR_CONTENT_JNI(NativeGetFarCameraList)(JNIEnv *, jobject) { return kyr_cam_far_list(); }

KYR_API JNIEXPORT void JNICALL KYR_CONTENT_JNI(NativeReleaseFarCameraList)(JNIEnv *, jobject, jint list) {
  kyr_cam_far_list_release(list);
}

KYR_API JNIEXPORT jlong JNICALL KYR_CONTENT_JNI(NativeGetCameraInfoId)(JNIEnv *, jobject, jint id) {
  return kyr_cam_info_by_id(id);
}

KYR_API JNIEXPORT jlong JNICALL KYR_CONTENT_JNI(NativeGetCameraInfoIndex)(JNIEnv *, jobject, jint near, jint index) {
  return kyr_cam_info_by_index(near, index);
}

KYR_API JNIEXPORT void JNICALL KYR_CONTENT_JNI(NativeReleaseCameraStruct)(JNIEnv *, jobject, jint handle) {
  kyr_cam_info_release(handle);
}

KYR_API JNIEXPORT jint JNICALL KYR_CONTENT_JNI(NativeNearCameraSelect)(JNIEnv *, jobject, jint id, jint op) {
  return kyr_cam_select(id, op);
}

KYR_API JNIEXPORT jint JNICALL KYR_CONTENT_JNI(NativeSetTrackingMode)(JNIEnv *, jobject, jint id, jint mode) {
  return kyr_cam_set_tracking(id, mode);
}

#define KYR_CONTENT_PTZ(X) X(NativePanCamera, KYR_CAM_AXIS_PAN) X(NativeTiltCamera, KYR_CAM_AXIS_TILT) X(NativeZoomCamera, KYR_CAM_AXIS_ZOOM)
#define KYR_CONTENT_PTZ_ENTRY(name, axis)                                                                 \
  KYR_API JNIEXPORT jint JNICALL KYR_CONTENT_JNI(name)(JNIEnv *, jobject, jint near, jint direction, jboolean move) { \
    return kyr_cam_move(axis, near, direction, move ? 1 : 0);                                             \
  }
KYR_CONTENT_PTZ(KYR_CONTENT_PTZ_ENTRY)
#undef KYR_CONTENT_PTZ_ENTRY

KYR_API JNIEXPORT jbyte JNICALL KYR_CONTENT_JNI(NativeGetPreset)(JNIEnv *, jobject, jint near, jint instance) {
  return static_cast<jbyte>(kyr_cam_preset_is_set(near, instance));
}

KYR_API JNIEXPORT jbyte JNICALL KYR_CONTENT_JNI(NativePresetIsSelected)(JNIEnv *, jobject, jint near, jint instance) {
  return static_cast<jbyte>(kyr_cam_preset_is_selected(near, instance));
}

KYR_API JNIEXPORT jint JNICALL KYR_CONTENT_JNI(NativeGotoPreset)(JNIEnv *, jobject, jint near, jint instance) {
  return kyr_cam_preset_action(near, instance, KYR_PRESET_GOTO);
}

KYR_API JNIEXPORT jint JNICALL KYR_CONTENT_JNI(NativeClearPreset)(JNIEnv *, jobject, jint near, jint instance) {
  return kyr_cam_preset_action(near, instance, KYR_PRESET_CLEAR);
}

KYR_API JNIEXPORT jint JNICALL KYR_CONTENT_JNI(NativeSetPreset)(JNIEnv *, jobject, jint near, jint instance) {
  return kyr_cam_preset_store(near, instance);
}

KYR_API JNIEXPORT jlong JNICALL KYR_CONTENT_JNI(NativeGetContentSettings)(JNIEnv *, jobject) {
  return kyr_settings_result(GetContentSystemSettings());
}

KYR_API JNIEXPORT jint JNICALL KYR_CONTENT_JNI(NativeSetContentSettings)(JNIEnv *env, jobject, jstring key,
                                                                       jstring value) {
  JniUtf k(env, key), v(env, value);
  return SetContentSystemSettings(k.get(), v.get());
}

KYR_API JNIEXPORT void JNICALL KYR_CONTENT_JNI(NativeContentSettingsRelease)(JNIEnv *, jobject, jint list) {
  SettingsListRelease(list);
}

}  // extern "C"
