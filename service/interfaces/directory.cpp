/* The directory (address book) for Java: the entry points of
 * DirectorySubSystemInterface and the module's events. The work behind them
 * lives in directory_servers.cpp (known servers, the subsystem snapshot) and
 * directory_entries.cpp (look-up, search, dialling, entry events). */
#include "service/interfaces/directory.h"

#include <string.h>

#include <memory>
#include <mutex>
#include <new>

#include "service/interfaces/directory_internal.h"
#include "service/interfaces/kyr_iface.h"
#include "service/interfaces/settings.h"
#include "service/kyr_modules.h"

using namespace dir_impl;

namespace {

std::mutex s_sinkMu;
DirectoryEventSink s_sink = nullptr;

DirectoryEventSink current_sink() {
  std::lock_guard<std::mutex> g(s_sinkMu);
  return s_sink;
}

}  // namespace

namespace dir_impl {

/* Every event goes to Java through kyr_post, or to a test's sink (which
 * then owns what it was handed). 1 when received. */
int post(int code, int value1, int value2, jobject obj) {
  if (DirectoryEventSink sink = current_sink()) {
    sink(code, value1, value2, obj);
    return 1;
  }
  return kyr_post(code, value1, value2, obj);
}

/* For the node several server events share: the caller frees it when none
 * was received. */
int post_keep(int code, int value1) {
  if (DirectoryEventSink sink = current_sink()) {
    sink(code, value1, 0, nullptr);
    return 1;
  }
  return kyr_post_keep(code, value1, 0, nullptr);
}

void post_error(int reason) { post(EVENT_ERROR, reason, -1, nullptr); }

}  // namespace dir_impl

extern "C" void DirectoryDebugSetEventSink(DirectoryEventSink sink) {
  std::lock_guard<std::mutex> g(s_sinkMu);
  s_sink = sink;
}

/* ---- JNI entry points ---- */

namespace {

const char kSearchCallback[] = "searchResultsCallback";
const char kSearchCallbackSig[] = "(JJLquorvex/kyrconnectservice/DirectorySubSystemInterface$SearchParams;)V";

/* What one search hands to Java: its own class and method ID, so two
 * searches on two threads never use each other's. */
struct JavaPages {
  JNIEnv *env;
  jobject target;
  jmethodID mid;
  jobject params;
};

int deliver_page(void *ctx, int64_t first, int listHandle) {
  auto *p = static_cast<JavaPages *>(ctx);
  p->env->CallVoidMethod(p->target, p->mid, static_cast<jlong>(first), static_cast<jlong>(listHandle), p->params);
  /* A throwing callback ends the search; the nodes it was given stay Java's. */
  return jni_check_exception(p->env, kTag, kSearchCallback) ? -1 : 0;
}

}  // namespace

KYR_DIR_JNI(jint, NativeDirectoryDialEntry)(JNIEnv *env, jobject, jobject buf) {
  JniDirect view(env, buf, sizeof(DirAddressListStruct));
  if (!view.ok()) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "DirectoryDialEntry: no direct buffer of %zu bytes given\n",
                   sizeof(DirAddressListStruct));
    return -1;
  }
  return DirectoryDialEntry(view.data(), view.size());
}

KYR_DIR_JNI(jint, NativeDirectoryDialGroup)(JNIEnv *env, jobject, jobject buf) {
  JniDirect view(env, buf, offsetof(DirAddressListArrayStruct, lists));
  if (!view.ok()) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "DirectoryDialGroup: no direct buffer given\n");
    return -1;
  }
  return DirectoryDialGroup(view.data(), view.size());
}

KYR_DIR_JNI(void, NativeDirectoryAsyncSearch)(JNIEnv *env, jobject thiz, jstring serverId, jobject filter, jint attrs,
                                              jint totalNames, jint namesPerPage, jobject params) {
  JniUtf id(env, serverId);
  JniDirect view(env, filter, sizeof(KyrDirEntryStruct));
  if (!view.ok()) {
    kyr_log_printf(KYR_LOG_ERROR, kTag, "DirectoryAsyncSearch: no filter of %zu bytes given\n",
                   sizeof(KyrDirEntryStruct));
    return;
  }
  jclass cls = env->GetObjectClass(thiz);
  if (!cls) {
    jni_check_exception(env, kTag, "GetObjectClass");
    return;
  }
  jmethodID mid = jni_method(env, kTag, cls, kSearchCallback, kSearchCallbackSig);
  env->DeleteLocalRef(cls);
  if (!mid) return;
  /* Java may change the filter buffer while the search runs: work on a copy. */
  std::unique_ptr<KyrDirEntryStruct> copy(new (std::nothrow) KyrDirEntryStruct());
  if (!copy) return;
  memcpy(copy.get(), view.data(), sizeof *copy);
  JavaPages pages{env, thiz, mid, params};
  DirectorySearchResult r = DirectorySearch(id.get(), copy.get(), static_cast<unsigned int>(attrs), totalNames,
                                            namesPerPage, deliver_page, &pages);
  if (r == KYR_DIR_SEARCH_COMPLETE) post(EVENT_DIR_SEARCH_DONE, 0, 0, params);
}

KYR_DIR_JNI(jlong, NativeDirectoryGetEntry)(JNIEnv *env, jobject, jstring serverId, jstring entryId) {
  JniUtf server(env, serverId);
  JniUtf entry(env, entryId);
  return kyr_handle_result(DirectoryGetEntry(server.get(), entry.get()));
}

KYR_DIR_JNI(jlong, NativeDirectoryGetServers)(JNIEnv *, jobject, jint mask) {
  return kyr_handle_result(DirectoryGetServers(static_cast<unsigned int>(mask)));
}

KYR_DIR_JNI(jint, NativeDirectoryGetNumberServers)(JNIEnv *, jobject, jint mask) {
  return DirectoryGetNumberServers(static_cast<unsigned int>(mask));
}

KYR_DIR_JNI(jlong, NativeGetDirectorySystem)(JNIEnv *, jobject) { return kyr_handle_result(DirectoryGetSystem()); }

KYR_DIR_JNI(jlong, NativeGetDirectorySettings)(JNIEnv *, jobject) {
  return kyr_settings_result(GetDirectorySystemSettings());
}

KYR_DIR_JNI(jint, NativeSetDirectorySettings)(JNIEnv *env, jobject, jstring key, jstring value) {
  JniUtf k(env, key);
  JniUtf v(env, value);
  return SetDirectorySystemSettings(k.get(), v.get());
}

/* Editing the directory from the phone is not offered: accepted, nothing done. */
#define KYR_DIR_NOT_OFFERED(name) \
  KYR_DIR_JNI(jint, name)(JNIEnv *, jobject) { return 0; }
KYR_DIR_NOT_OFFERED(NativeDirectoryAddEntry)
KYR_DIR_NOT_OFFERED(NativeDirectoryDeleteEntry)
KYR_DIR_NOT_OFFERED(NativeDirectoryModifyEntry)
KYR_DIR_NOT_OFFERED(NativeDirectoryAddEntryToGroup)
KYR_DIR_NOT_OFFERED(NativeDirectoryDeleteEntryFromGroup)
#undef KYR_DIR_NOT_OFFERED

KYR_DIR_JNI(void, NativeDirectorySettingsRelease)(JNIEnv *, jobject, jlong head) { SettingsListRelease(head); }
KYR_DIR_JNI(void, NativeDirectoryReleaseSearchResults)(JNIEnv *, jobject, jlong head) { DirectoryReleaseList(head); }
KYR_DIR_JNI(void, NativeDirectoryReleaseServerList)(JNIEnv *, jobject, jlong head) { DirectoryReleaseList(head); }
KYR_DIR_JNI(void, NativeDirectoryReleaseEntry)(JNIEnv *, jobject, jlong handle) { DirectoryReleaseEntry(handle); }
KYR_DIR_JNI(void, NativeDirectoryReleaseDirEntryChanged)(JNIEnv *, jobject, jlong handle) {
  DirectoryReleaseEntryChanged(handle);
}

/* ---- the module's part in the connection's life (service/kyr_modules.h) ---- */

/* The servers belong to the connection that reported them. */
extern "C" void kyr_directory_on_connect(int) { DirectoryForgetServers(); }
extern "C" void kyr_directory_on_loss(int) { DirectoryForgetServers(); }
