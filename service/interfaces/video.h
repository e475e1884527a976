/* The video interface: picture-in-picture, panel swap, dual-monitor mode and
 * layout sequence, and the bridge (KLV) layout of the main monitor, and the
 * kind of endpoint the codec is connected to.
 *
 * Everything edits the layout record of the first video output of device
 * type 2 with the layout functions below and sends the whole record back
 * with the flags the function returns. Works on the service's connection
 * (kyr_server_instance) and logs under "KyrConnectLib:Video". */
#ifndef KYR_VIDEO_H
#define KYR_VIDEO_H

#include <stdint.h>

#include "csapi/client/cs_records.h"
#include "platform/kyr_api.h"

#define KYR_VIDEO_TAG "KyrConnectLib:Video"

/* The output whose layout is controlled, and the one that produces events. */
#define KYR_VIDEO_MAIN_DEVICE_TYPE 2
#define KYR_VIDEO_EVENT_OUTPUT 1
/* Outputs read at most, whatever numOuts a codec claims. */
#define KYR_VIDEO_MAX_OUTPUTS 64

KYR_EXTERN_C_BEGIN

/* ---- layout functions: each setter returns the flags to send ---- */

/* mode -1: PIP off (0x1); 0..3: PIP on at that location (0x3). */
int csVideoSetPIPMode(CSVideoOutLayout *layout, int mode);
/* The PIP location while PIP is on, else -1. */
int csVideoGetPIPMode(const CSVideoOutLayout *layout);
/* Exchanges panels 0 and 1 (0x10). */
int csVideoSetPIPSwap(CSVideoOutLayout *layout);
/* 1 when panel 0's source is 0, else 0. */
int csVideoGetPIPSwap(const CSVideoOutLayout *layout);
int csVideoSetDMESwap(CSVideoOutLayout *layout);
int csVideoGetDMESwap(const CSVideoOutLayout *layout);
/* monitorLayout 3 for a non-zero mode, 1 for 0 (0x4). */
int csVideoSetDMEMode(CSVideoOutLayout *layout, int mode);
/* 1 when monitorLayout is 4 or 8, else 0. */
int csVideoGetDMEMode(const CSVideoOutLayout *layout);
/* monitorLayout -1: the codec's next dual-monitor layout (0x4). */
int csVideoSetNextDMELayout(CSVideoOutLayout *layout);
/* The bridge layout value into panel 0 (panel 1 when panel 0's source is
 * 0), whose source becomes -100 (0x10). */
int csVideoSetKLVLayout(CSVideoOutLayout *layout, int value);
/* 4 or 3 for the bridge capability codes of panels 0 and 1, else bit 1 of
 * monitorSourceCap. */
int csVideoEndpointTypeConnected(const CSVideoOutLayoutCap *cap);

/* Zeroes the four records and reads the video subsystem, then outputs 1 to
 * numOuts until one of device type 2 with readable capabilities and layout
 * is found. -1 when a record is missing; else the code of the last read
 * (0 when the last output read was simply not of device type 2; the layout
 * and capabilities then stay zero). */
int initVideoObjects(CSVideo *video, CSVideoOut *output, CSVideoOutLayout *layout, CSVideoOutLayoutCap *cap);

/* A do-nothing callback for video-output changes (no notification reaches it). */
void onVideoOutChangedCB(const CSVideoOut *record, unsigned int flags, uintptr_t userDefined);

/* ---- what the entry points do, without a JVM ---- */

/* Reads of the main monitor's layout (the getter's value or a negative code). */
typedef enum kyr_video_value {
  KYR_VIDEO_PIP_CAPS = 0,
  KYR_VIDEO_PIP_MODE,
  KYR_VIDEO_PIP_SWAP,
  KYR_VIDEO_DME_MODE,
  KYR_VIDEO_DME_SWAP,
  KYR_VIDEO_ENDPOINT_TYPE
} kyr_video_value;
int64_t kyr_video_get(kyr_video_value what);

/* Changes of the main monitor's layout: the set's result, -1 for a value
 * out of range or no main monitor (logged, nothing sent), or the code of a
 * failed read. */
typedef enum kyr_video_change {
  KYR_VIDEO_SET_PIP_MODE = 0, /* value -1..3 */
  KYR_VIDEO_TOGGLE_PIP_SWAP,
  KYR_VIDEO_SET_DME_MODE,     /* value 0 or 1 */
  KYR_VIDEO_TOGGLE_DME_SWAP,
  KYR_VIDEO_NEXT_DME_LAYOUT,
  KYR_VIDEO_SET_KLV_LAYOUT    /* value -1..100 */
} kyr_video_change;
int64_t kyr_video_change_layout(kyr_video_change what, int64_t value);

KYR_EXTERN_C_END

#endif
