#include "service/kyr_structs.h"

#include "service/kyr_handles.h"

#define KYR_STRUCT_DEFINE(cls)                                                                                  \
  extern "C" jobject Java_quorvex_kyrconnectservice_##cls##_newDirectByteBuffer(JNIEnv *env, jclass, jlong handle, \
                                                                               jlong capacity) {                \
    return kyr_handle_direct_buffer(env, handle, capacity);                                                     \
  }
KYR_STRUCT_CLASS_LIST(KYR_STRUCT_DEFINE)
#undef KYR_STRUCT_DEFINE
