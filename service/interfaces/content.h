/* The content and camera interface: near and far cameras, their selection,
 * pan/tilt/zoom moves, presets and tracking mode for Java, and camera
 * notifications as events.
 *
 * Cameras reach Java as KyrCameraStruct records and the far cameras as a
 * list of KyrFarCameraList nodes, both named by handles and released by
 * Java. Every function reads the camera subsystem first, works on the
 * service's connection (kyr_server_instance) and logs under
 * "KyrConnectLib:Content". */
#ifndef KYR_CONTENT_H
#define KYR_CONTENT_H

#include <stdint.h>

#include "csapi/client/cs_records.h"
#include "platform/kyr_api.h"

#define KYR_LAYOUT_DEF "service/interfaces/layouts/KyrCameraStruct.def"
#include "service/interfaces/kyr_layout_expand.h"
#define KYR_LAYOUT_DEF "service/interfaces/layouts/KyrFarCameraList.def"
#include "service/interfaces/kyr_layout_expand.h"

#define KYR_CONTENT_TAG "KyrConnectLib:Content"

/* A codec that claims more far terminals or cameras than this is read only
 * this far (logged), so a hostile answer cannot keep a Java thread busy. */
#define KYR_CAM_MAX_FAR_TERMINALS 64
#define KYR_CAM_MAX_FAR_CAMERAS 64

/* The "moveType" values of csCameraMove. */
enum kyr_camera_move {
  KYR_CAM_PAN_NEG = 0,
  KYR_CAM_PAN_POS = 1,
  KYR_CAM_TILT_NEG = 2,
  KYR_CAM_TILT_POS = 3,
  KYR_CAM_ZOOM_NEG = 4,
  KYR_CAM_ZOOM_POS = 5,
  KYR_CAM_STOP = 6
};

/* The three axes of the PTZ entry points. */
enum kyr_camera_axis { KYR_CAM_AXIS_PAN = 0, KYR_CAM_AXIS_TILT = 1, KYR_CAM_AXIS_ZOOM = 2 };

/* Selection operations of kyr_cam_select: clear or set bit 0 (people) or
 * bit 1 (content) of the camera's "selected". */
enum kyr_camera_select_op {
  KYR_CAM_PEOPLE_OFF = 0,
  KYR_CAM_PEOPLE_ON = 1,
  KYR_CAM_CONTENT_OFF = 2,
  KYR_CAM_CONTENT_ON = 3
};

/* The preset actions of kyr_cam_preset_action. */
enum kyr_preset_action { KYR_PRESET_GOTO = 0, KYR_PRESET_CLEAR = 1 };

KYR_EXTERN_C_BEGIN

/* Counts: -1 when the camera subsystem cannot be read. */
int kyr_cam_num_near(void);
int kyr_cam_num_far(void);
int kyr_cam_num_presets(int near);

/* The far cameras' ids as a list: its head handle, 0 when there is none, or
 * a negative code (nothing is left allocated). */
int64_t kyr_cam_far_list(void);
int kyr_cam_far_list_release(int64_t head);

/* The description of one camera (fill_camera below): its handle, or -1. */
int64_t kyr_cam_info_by_id(int id);
int64_t kyr_cam_info_by_index(int near, int index);
void kyr_cam_info_release(int64_t handle);
/* Fills dst from a camera record (zeroed first). */
void kyr_cam_fill(KyrCameraStruct *dst, const CSCamera *cam);

/* Changes the selection bits (op: kyr_camera_select_op); -1 for another op
 * (nothing sent). A refusal with -21 also posts EVENT_ERROR. */
int kyr_cam_select(int id, int op);
int kyr_cam_set_tracking(int id, int mode);
/* Moves the selected near (near != 0) or far camera along axis, or stops it. */
int kyr_cam_move(int axis, int near, int direction, int move);
/* The move type sent for an axis, direction and move switch. */
unsigned int kyr_cam_move_type(int axis, int direction, int move);

/* Presets: the low byte of isSet (0 on failure), the low byte of the
 * "is selected" answer (0xFF on failure), go to or clear (-1 on failure),
 * store again (the result, or 0 when it failed). */
int kyr_cam_preset_is_set(int near, int instance);
int kyr_cam_preset_is_selected(int near, int instance);
int kyr_cam_preset_action(int near, int instance, int action);
int kyr_cam_preset_store(int near, int instance);

KYR_EXTERN_C_END

#endif
