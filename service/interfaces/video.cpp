#include "service/interfaces/video.h"

#include <string.h>

#include "csapi/client/cs_ops.h"
#include "csapi/client/csapi_rpc.h"
#include "service/interfaces/kyr_handlers.h"
#include "service/interfaces/kyr_iface.h"
#include "service/interfaces/settings.h"

namespace {

const char *const kTag = KYR_VIDEO_TAG;

/* Panel capability codes that mark a bridge endpoint. */
const uint32_t kBridgeLayoutCap = 0x7F000200u;
const uint32_t kGatewayLayoutCap = 655u;
/* The source that asks a bridge for the layout in the panel's "layout". */
const int32_t kKlvSource = -100;

void swap_panels(CSVideoOutLayout *layout) {
  CSPanelMap t = layout->panelMap[0];
  layout->panelMap[0] = layout->panelMap[1];
  layout->panelMap[1] = t;
}

}  // namespace

/* ---- layout functions ---- */

extern "C" int csVideoSetPIPMode(CSVideoOutLayout *layout, int mode) {
  if (mode == -1) {
    layout->PIPMode = 0;
    return CSVIDEO_OUT_LAYOUT_PIP_MODE_FIELD;
  }
  layout->PIPMode = 1;
  layout->PIPLocation = mode;
  return CSVIDEO_OUT_LAYOUT_PIP_MODE_FIELD | CSVIDEO_OUT_LAYOUT_PIP_LOCATION_FIELD;
}

extern "C" int csVideoGetPIPMode(const CSVideoOutLayout *layout) { return layout->PIPMode ? layout->PIPLocation : -1; }

extern "C" int csVideoSetPIPSwap(CSVideoOutLayout *layout) {
  swap_panels(layout);
  return CSVIDEO_OUT_LAYOUT_PANELMAP_FIELD;
}

extern "C" int csVideoGetPIPSwap(const CSVideoOutLayout *layout) { return layout->panelMap[0].source == 0 ? 1 : 0; }

extern "C" int csVideoSetDMESwap(CSVideoOutLayout *layout) { return csVideoSetPIPSwap(layout); }

extern "C" int csVideoGetDMESwap(const CSVideoOutLayout *layout) { return csVideoGetPIPSwap(layout); }

extern "C" int csVideoSetDMEMode(CSVideoOutLayout *layout, int mode) {
  layout->monitorLayout = mode ? 3 : 1;
  return CSVIDEO_OUT_LAYOUT_MONITOR_LAYOUT_FIELD;
}

extern "C" int csVideoGetDMEMode(const CSVideoOutLayout *layout) {
  return (layout->monitorLayout == 4 || layout->monitorLayout == 8) ? 1 : 0;
}

extern "C" int csVideoSetNextDMELayout(CSVideoOutLayout *layout) {
  layout->monitorLayout = -1;
  return CSVIDEO_OUT_LAYOUT_MONITOR_LAYOUT_FIELD;
}

extern "C" int csVideoSetKLVLayout(CSVideoOutLayout *layout, int value) {
  CSPanelMap &target = layout->panelMap[layout->panelMap[0].source != 0 ? 0 : 1];
  target.layout = value;
  target.source = kKlvSource;
  return CSVIDEO_OUT_LAYOUT_PANELMAP_FIELD;
}

extern "C" int csVideoEndpointTypeConnected(const CSVideoOutLayoutCap *cap) {
  uint32_t a = cap->panelMapCap[0].layoutCap, b = cap->panelMapCap[1].layoutCap;
  if (a == kBridgeLayoutCap || b == kBridgeLayoutCap) return 4;
  if (a == kGatewayLayoutCap || b == kGatewayLayoutCap) return 3;
  return (cap->monitorSourceCap >> 1) & 1;
}

/* ---- finding the main monitor ---- */

namespace {

/* initVideoObjects, also telling whether a main monitor was found. */
int find_main_layout(CSVideo *video, CSVideoOut *output, CSVideoOutLayout *layout, CSVideoOutLayoutCap *cap,
                     bool *found) {
  if (found) *found = false;
  if (!video || !output || !layout || !cap) return -1;
  memset(video, 0, sizeof *video);
  memset(output, 0, sizeof *output);
  memset(layout, 0, sizeof *layout);
  memset(cap, 0, sizeof *cap);
  int rc = csVideoGet(video, kyr_server_instance());
  if (rc < 0) return rc;
  uint32_t outs = video->numOuts;
  if (outs > KYR_VIDEO_MAX_OUTPUTS) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "codec reports %u video outputs, reading %d\n", outs, KYR_VIDEO_MAX_OUTPUTS);
    outs = KYR_VIDEO_MAX_OUTPUTS;
  }
  for (uint32_t i = 1; i <= outs; i++) {
    rc = csVideoOutGet(output, video, static_cast<int>(i));
    if (rc < 0 || output->deviceType != KYR_VIDEO_MAIN_DEVICE_TYPE) continue;
    rc = csVideoOutLayoutCapGet(cap, output);
    if (rc < 0) continue;
    rc = csVideoOutLayoutGet(layout, output);
    if (rc >= 0) {
      if (found) *found = true;
      break;
    }
  }
  return rc;
}

struct video_records {
  CSVideo video;
  CSVideoOut output;
  CSVideoOutLayout layout;
  CSVideoOutLayoutCap cap;
  bool found;
};

int read_records(video_records *r) { return find_main_layout(&r->video, &r->output, &r->layout, &r->cap, &r->found); }

/* One change of the layout: its range, what it logs, what it does. */
struct change_desc {
  int64_t lo, hi;
  bool check_before_reading;
  const char *invalid;  /* format for a value out of range */
  const char *name;     /* the layout function, for a failure */
  int (*apply)(CSVideoOutLayout *layout, int value);
};

int apply_pip_swap(CSVideoOutLayout *l, int) { return csVideoSetPIPSwap(l); }
int apply_dme_swap(CSVideoOutLayout *l, int) { return csVideoSetDMESwap(l); }
int apply_next_dme(CSVideoOutLayout *l, int) { return csVideoSetNextDMELayout(l); }

const change_desc kChanges[] = {
    /* KYR_VIDEO_SET_PIP_MODE */ {-1, 3, false, "Invalid PIP mode %d\n", "CSVideoSetPIPMode", csVideoSetPIPMode},
    /* KYR_VIDEO_TOGGLE_PIP_SWAP */ {0, 0, false, nullptr, "CSVideoSetPIPSwap", apply_pip_swap},
    /* KYR_VIDEO_SET_DME_MODE */ {0, 1, true, "Invalid DME mode %d\n", "CSVideoSetDMEMode", csVideoSetDMEMode},
    /* KYR_VIDEO_TOGGLE_DME_SWAP */ {0, 0, false, nullptr, "CSVideoSetDMESwap", apply_dme_swap},
    /* KYR_VIDEO_NEXT_DME_LAYOUT */ {0, 0, false, nullptr, "CSVideoSetNextDMELayout", apply_next_dme},
    /* KYR_VIDEO_SET_KLV_LAYOUT */ {-1, 100, false, "Invalid KLV Layout %X\n", "CSVideoSetKLVLayout",
                                    csVideoSetKLVLayout},
};

bool in_range(const change_desc &d, int64_t value) {
  if (!d.invalid || (value >= d.lo && value <= d.hi)) return true;
  kyr_log_printf(KYR_LOG_ERROR, kTag, d.invalid, static_cast<int>(value));
  return false;
}

}  // namespace

extern "C" int initVideoObjects(CSVideo *video, CSVideoOut *output, CSVideoOutLayout *layout,
                                CSVideoOutLayoutCap *cap) {
  return find_main_layout(video, output, layout, cap, nullptr);
}

extern "C" int64_t kyr_video_get(kyr_video_value what) {
  video_records r;
  int rc = read_records(&r);
  if (rc < 0) return rc;
  switch (what) {
    case KYR_VIDEO_PIP_CAPS: return r.cap.PIPLocationCap;
    case KYR_VIDEO_PIP_MODE: return csVideoGetPIPMode(&r.layout);
    case KYR_VIDEO_PIP_SWAP: return csVideoGetPIPSwap(&r.layout);
    case KYR_VIDEO_DME_MODE: return csVideoGetDMEMode(&r.layout);
    case KYR_VIDEO_DME_SWAP: return csVideoGetDMESwap(&r.layout);
    case KYR_VIDEO_ENDPOINT_TYPE: return csVideoEndpointTypeConnected(&r.cap);
  }
  return -1;
}

extern "C" int64_t kyr_video_change_layout(kyr_video_change what, int64_t value) {
  if (what < KYR_VIDEO_SET_PIP_MODE || what > KYR_VIDEO_SET_KLV_LAYOUT) return -1;
  const change_desc &d = kChanges[what];
  if (d.check_before_reading && !in_range(d, value)) return -1;
  video_records r;
  int rc = read_records(&r);
  if (rc < 0) return rc;
  if (!d.check_before_reading && !in_range(d, value)) return -1;
  if (!r.found) {
    /* A zeroed layout sent back would overwrite a layout the codec never gave us. */
    kyr_log_printf(KYR_LOG_ERROR, kTag, "no video output of device type %d, layout not changed\n",
                   KYR_VIDEO_MAIN_DEVICE_TYPE);
    return -1;
  }
  int flags = d.apply(&r.layout, static_cast<int>(value));
  if (flags < 0) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "can't %s, err=%d (%s)\n", d.name, flags, csapi_err_get_string(flags));
    return -1;
  }
  rc = csVideoOutLayoutSet(&r.layout, static_cast<unsigned int>(flags));
  if (rc < 0) kyr_log_printf(KYR_LOG_ERROR, kTag, "csVideoOutLayoutSet error (error:%d, %s)\n", rc, csErrorString());
  return rc;
}

/* ---- notifications ---- */

extern "C" void onVideoOutLayoutChangedCB(const CSVideoOutLayout *layout, unsigned int flags, uintptr_t) {
  if (!layout || layout->videoOut != KYR_VIDEO_EVENT_OUTPUT) return;
  int pip = csVideoGetPIPMode(layout);
  if (flags & CSVIDEO_OUT_LAYOUT_PIP_MODE_FIELD) kyr_post(EVENT_VIDEO_PIP_MODE_CHANGED, pip, 0, nullptr);
  if (flags & CSVIDEO_OUT_LAYOUT_PIP_LOCATION_FIELD) kyr_post(EVENT_VIDEO_PIP_MODE_CHANGED, pip, 0, nullptr);
  if (flags & CSVIDEO_OUT_LAYOUT_PANELMAP_FIELD) {
    kyr_post(EVENT_VIDEO_PIP_SWAP_CHANGED, csVideoGetPIPSwap(layout), 0, nullptr);
    kyr_post(EVENT_VIDEO_DME_MODE_CHANGED, csVideoGetDMEMode(layout), 0, nullptr);
    kyr_post(EVENT_VIDEO_DME_SWAP_CHANGED, csVideoGetDMESwap(layout), 0, nullptr);
  }
}

extern "C" void onVideoOutLayoutCapChangedCB(const CSVideoOutLayoutCap *cap, unsigned int flags, uintptr_t) {
  if (!cap || cap->videoOut != KYR_VIDEO_EVENT_OUTPUT) return;
  kyr_post(EVENT_VIDEO_ENDPOINT_TYPE, csVideoEndpointTypeConnected(cap), 0, nullptr);
  if (flags & CSVIDEO_OUT_LAYOUTCAP_PIP_LOCATION_FIELD)
    kyr_post(EVENT_VIDEO_PIP_LOCATION_CAP_CHANGED, static_cast<int>(cap->PIPLocationCap), 0, nullptr);
}

/* The codec's video subsystem, inputs and outputs change nothing Java sees. */
extern "C" void onVideoChangedCB(const CSVideo *, unsigned int, uintptr_t) {}
extern "C" void onVideoInChangedCB(const CSVideoIn *, unsigned int, uintptr_t) {}
extern "C" void onVideoOutChangedCB(const CSVideoOut *, unsigned int, uintptr_t) {}

/* ---- JNI entry points of quorvex.kyrconnectservice.VideoSubSystemInterface ---- */

#define KYR_VIDEO_JNI(name) Java_quorvex_kyrconnectservice_VideoSubSystemInterface_##name

extern "C" {

#define KYR_VIDEO_GETTERS(X)                          \
  X(NativeGetPipCapabilities, KYR_VIDEO_PIP_CAPS)     \
  X(NativeGetPipMode, KYR_VIDEO_PIP_MODE)             \
  X(NativeGetPIPSwapMode, KYR_VIDEO_PIP_SWAP)         \
  X(NativeGetDMEMode, KYR_VIDEO_DME_MODE)             \
  X(NativeGetDMESwapMode, KYR_VIDEO_DME_SWAP)         \
  X(NativeGetEndPointType, KYR_VIDEO_ENDPOINT_TYPE)
#define KYR_VIDEO_GETTER(name, what) \
  KYR_API JNIEXPORT jlong JNICALL KYR_VIDEO_JNI(name)(JNIEnv *, jobject) { return kyr_video_get(what); }
KYR_VIDEO_GETTERS(KYR_VIDEO_GETTER)
#undef KYR_VIDEO_GETTER

#define KYR_VIDEO_TOGGLES(X)                                \
  X(NativeTogglePIPSwapMode, KYR_VIDEO_TOGGLE_PIP_SWAP)     \
  X(NativeToggleDMESwapMode, KYR_VIDEO_TOGGLE_DME_SWAP)     \
  X(NativeGotoNextDMELayout, KYR_VIDEO_NEXT_DME_LAYOUT)
#define KYR_VIDEO_TOGGLE(name, what) \
  KYR_API JNIEXPORT jlong JNICALL KYR_VIDEO_JNI(name)(JNIEnv *, jobject) { return kyr_video_change_layout(what, 0); }
KYR_VIDEO_TOGGLES(KYR_VIDEO_TOGGLE)
#undef KYR_VIDEO_TOGGLE

#define KYR_VIDEO_SETTERS(X)                         \
  X(NativeSetPipMode, KYR_VIDEO_SET_PIP_MODE)        \
  X(NativeSetDMEMode, KYR_VIDEO_SET_DME_MODE)        \
  X(NativeGotoKLVLayout, KYR_VIDEO_SET_KLV_LAYOUT)
#define KYR_VIDEO_SETTER(name, what)                                     \
  KYR_API JNIEXPORT jlong JNICALL KYR_VIDEO_JNI(name)(JNIEnv *, jobject, jlong value) { \
    return kyr_video_change_layout(what, value);                         \
  }
KYR_VIDEO_SETTERS(KYR_VIDEO_SETTER)
#undef KYR_VIDEO_SETTER

KYR_API JNIEXPORT jlong JNICALL KYR_VIDEO_JNI(NativeGetVideoSettings)(JNIEnv *, jobject) { return 0; }

KYR_API JNIEXPORT jlong JNICALL KYR_VIDEO_JNI(NativeSetVideoSettings)(JNIEnv *env, jobject, jstring key, jstring value) {
  /* There are no video settings: the texts are read and dropped. */
  JniUtf k(env, key), v(env, value);
  return 0;
}

KYR_API JNIEXPORT void JNICALL KYR_VIDEO_JNI(NativeVideoSettingsRelease)(JNIEnv *, jobject, jint list) {
  SettingsListRelease(list);
}

}  // extern "C"
