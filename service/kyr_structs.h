/* The static native newDirectByteBuffer(long handle, long capacity) of every
 * Java *Struct class. They all behave alike: Java passes the handle it was
 * given (as an event value or a result) and the size it wants to read; the
 * result is a direct ByteBuffer over that block, or null for an unknown
 * handle or a capacity larger than the block (see kyr_handles.h). */
#ifndef KYR_STRUCTS_H
#define KYR_STRUCTS_H

#include <jni.h>

#include "platform/kyr_api.h"

#define KYR_STRUCT_CLASS_LIST(X) \
  X(SettingsStruct)              \
  X(AudioSystemStruct)           \
  X(KyrCallStruct)               \
  X(KyrCallMediaStruct)          \
  X(KyrConferenceStruct)         \
  X(CommSystemStruct)            \
  X(DirectorySystemStruct)       \
  X(KyrDirServerStruct)          \
  X(KyrDirEntryStruct)           \
  X(DirEntryChangedStruct)       \
  X(DirAddressListStruct)        \
  X(DirAddressListArrayStruct)   \
  X(KyrCameraStruct)             \
  X(CalendarMeetingInfoStruct)   \
  X(CalendarServerInfoStruct)    \
  X(KyrFarCameraList)

KYR_EXTERN_C_BEGIN
#define KYR_STRUCT_DECLARE(cls)                                                                       \
  KYR_API JNIEXPORT jobject JNICALL Java_quorvex_kyrconnectservice_##cls##_newDirectByteBuffer(JNIEnv *env, \
                                                                                               jclass clazz, \
                                                                                               jlong handle, \
                                                                                               jlong capacity);
KYR_STRUCT_CLASS_LIST(KYR_STRUCT_DECLARE)
#undef KYR_STRUCT_DECLARE
KYR_EXTERN_C_END

#endif
