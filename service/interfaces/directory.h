/* The directory (address book) for Java's DirectorySubSystemInterface: the
 * directory subsystem snapshot, the table of known directory servers, server
 * lists by protocol, paged searches handed to Java page by page, single
 * entry look-up, dialling an entry or a whole group, and the events for
 * server and entry changes.
 *
 * Everything Java is given is named by a handle (service/kyr_handles.h):
 * search results and server lists are lists of nodes linked through their
 * first word; a looked-up entry and an entry-changed record are single
 * records; the subsystem snapshot is one static structure.
 *
 * Threads: the entry points run on Java threads (a search blocks its caller
 * until the list ends, up to a minute per page); the notification callbacks
 * and getKnownDirectoryServers run on the worker and post-connect threads.
 * The known-server table and the snapshot are read and written under one
 * lock that is never held across a codec request or a call into Java.
 * Logging under "KyrConnectLib:Dir". */
#ifndef KYR_DIRECTORY_H
#define KYR_DIRECTORY_H

#include <stddef.h>
#include <stdint.h>

#include <jni.h>

#include "csapi/client/cs_records.h"
#include "platform/kyr_api.h"
#include "service/interfaces/comm.h"
#include "service/kyr_service.h"

#define KYR_LAYOUT_DEF "service/interfaces/layouts/DirectorySystemStruct.def"
#include "service/interfaces/kyr_layout_expand.h"
#define KYR_LAYOUT_DEF "service/interfaces/layouts/KyrDirServerStruct.def"
#include "service/interfaces/kyr_layout_expand.h"
#define KYR_LAYOUT_DEF "service/interfaces/layouts/DirVideoAddressStruct.def"
#include "service/interfaces/kyr_layout_expand.h"
#define KYR_LAYOUT_DEF "service/interfaces/layouts/DirVideoDeviceStruct.def"
#include "service/interfaces/kyr_layout_expand.h"
#define KYR_LAYOUT_DEF "service/interfaces/layouts/KyrDirEntryStruct.def"
#include "service/interfaces/kyr_layout_expand.h"
#define KYR_LAYOUT_DEF "service/interfaces/layouts/DirEntryChangedStruct.def"
#include "service/interfaces/kyr_layout_expand.h"
#define KYR_LAYOUT_DEF "service/interfaces/layouts/DirAddressListArrayStruct.def"
#include "service/interfaces/kyr_layout_expand.h"

#define KYR_DIR_TAG "KyrConnectLib:Dir"

/* Capacity of the known-server table; servers the codec reports beyond it
 * are logged and ignored. */
#define KYR_DIR_MAX_SERVERS 64
/* A search gives up (list stopped, no completion event) after this many
 * empty pages in a row, or once this many entries were delivered: a
 * misbehaving codec must not keep a Java thread for ever. */
#define KYR_DIR_SEARCH_MAX_EMPTY_PAGES 100
#define KYR_DIR_SEARCH_MAX_ENTRIES 10000
/* Server status meaning "online". */
#define KYR_DIR_SERVER_ONLINE 6
/* Lists of a group dial. */
#define KYR_DIR_MAX_GROUP_LISTS 30
/* Addresses of one entry's list. */
#define KYR_DIR_MAX_ADDRESSES 10

/* Protocol mask bits: 0x1 protocol 1 ... 0x8 protocol 4. */
#define KYR_DIR_PROTOCOL_BIT(p) (1u << ((p) - 1))

KYR_EXTERN_C_BEGIN

/* ---- known servers ---- */

/* Refreshes the subsystem record and the known-server table from the codec:
 * protocols 1 to 4 in turn, each protocol's servers into consecutive slots.
 * Returns the number of servers now known, or the failing CSAPI code (the
 * table then holds the servers fetched before the failure). */
int getKnownDirectoryServers(void);
/* The same from a subsystem record already read (the post-connect fetch has
 * one): counts and servers only, the record is not read again. */
int DirectoryKnownServersOf(const CSDir *dir);

/* Copies the known server whose id matches (first 63 characters) into out;
 * 1 when found, 0 when not (out untouched). */
int DirectoryFindServer(const char *id, CSDirSrvr *out);

/* Copies up to cap known servers, in slot order, into out; their number. */
int DirectoryKnownServers(CSDirSrvr *out, int cap);

/* Empties the known-server table (a new connection starts without one). */
void DirectoryForgetServers(void);

/* ---- what the entry points do ---- */

/* A list of KyrDirServerStruct nodes, protocol 1 servers first, then 2, 3, 4
 * (those the mask selects), from the known-server table only. Its handle, 0
 * when none. */
int64_t DirectoryGetServers(unsigned int mask);

/* The codec's number of servers of the selected protocols, 0 on failure. */
int DirectoryGetNumberServers(unsigned int mask);

/* The handle of the static DirectorySystemStruct after a fresh csDirGet, or
 * 0 when the codec cannot be asked. */
int64_t DirectoryGetSystem(void);

/* One entry of a known server, as a KyrDirEntryStruct record (link 0)
 * released with DirectoryReleaseEntry; 0 when the server is unknown or the
 * look-up fails. */
int64_t DirectoryGetEntry(const char *serverId, const char *entryId);

/* Dials the addresses of one entry (a DirAddressListStruct of len bytes) or
 * of a group (a DirAddressListArrayStruct of len bytes). 0, a CSAPI code, or
 * -1 for a missing or short buffer, or a count out of range (nothing is
 * dialled then). */
int DirectoryDialEntry(const void *buf, size_t len);
int DirectoryDialGroup(const void *buf, size_t len);

/* Called once per delivered page with the handle of its first node and the
 * list handle; Java owns the nodes from then on. Non-zero stops the search
 * (the list is stopped; no completion event). */
typedef int (*DirectoryPageFn)(void *ctx, int64_t first, int listHandle);

typedef enum DirectorySearchResult {
  KYR_DIR_SEARCH_NOTHING = 0,  /* no such server or no filter: nothing asked */
  KYR_DIR_SEARCH_COMPLETE = 1, /* the codec reached the end of the list */
  KYR_DIR_SEARCH_FAILED = -1,  /* a codec error, a bound, no memory or the page function stopped it */
} DirectorySearchResult;

/* Runs a whole search on the calling thread: starts the list on the server
 * named by serverId with a filter holding the filter entry's id, entryType,
 * displayName, fullName, firstName and lastName, and pages through it,
 * handing each non-empty page to page(). The caller posts the completion
 * event for KYR_DIR_SEARCH_COMPLETE. */
DirectorySearchResult DirectorySearch(const char *serverId, const KyrDirEntryStruct *filter, unsigned int attrs,
                                      int totalNames, int namesPerPage, DirectoryPageFn page, void *ctx);

/* Java's releases: a list (every node of the chain), a looked-up entry, an
 * entry-changed record. A handle of another kind or size, or one already
 * released, is logged and ignored. */
void DirectoryReleaseList(int64_t head);
void DirectoryReleaseEntry(int64_t handle);
void DirectoryReleaseEntryChanged(int64_t handle);

/* ---- for tests ---- */

/* Where the directory's events go instead of kyr_post (null: kyr_post
 * again). Called on the posting thread, synchronously. */
typedef void (*DirectoryEventSink)(int code, int value1, int value2, jobject obj);
void DirectoryDebugSetEventSink(DirectoryEventSink sink);

/* ---- JNI entry points of quorvex.kyrconnectservice.DirectorySubSystemInterface ---- */

#define KYR_DIR_JNI(ret, name) KYR_API JNIEXPORT ret JNICALL Java_quorvex_kyrconnectservice_DirectorySubSystemInterface_##name

KYR_DIR_JNI(jint, NativeDirectoryDialEntry)(JNIEnv *env, jobject thiz, jobject list);
KYR_DIR_JNI(jint, NativeDirectoryDialGroup)(JNIEnv *env, jobject thiz, jobject array);
KYR_DIR_JNI(void, NativeDirectoryAsyncSearch)(JNIEnv *env, jobject thiz, jstring serverId, jobject filter,
                                              jint attrs, jint totalNames, jint namesPerPage, jobject params);
KYR_DIR_JNI(jlong, NativeDirectoryGetEntry)(JNIEnv *env, jobject thiz, jstring serverId, jstring entryId);
KYR_DIR_JNI(jlong, NativeDirectoryGetServers)(JNIEnv *env, jobject thiz, jint mask);
KYR_DIR_JNI(jint, NativeDirectoryGetNumberServers)(JNIEnv *env, jobject thiz, jint mask);
KYR_DIR_JNI(jlong, NativeGetDirectorySystem)(JNIEnv *env, jobject thiz);
KYR_DIR_JNI(jlong, NativeGetDirectorySettings)(JNIEnv *env, jobject thiz);
KYR_DIR_JNI(jint, NativeSetDirectorySettings)(JNIEnv *env, jobject thiz, jstring key, jstring value);
KYR_DIR_JNI(jint, NativeDirectoryAddEntry)(JNIEnv *env, jobject thiz);
KYR_DIR_JNI(jint, NativeDirectoryDeleteEntry)(JNIEnv *env, jobject thiz);
KYR_DIR_JNI(jint, NativeDirectoryModifyEntry)(JNIEnv *env, jobject thiz);
KYR_DIR_JNI(jint, NativeDirectoryAddEntryToGroup)(JNIEnv *env, jobject thiz);
KYR_DIR_JNI(jint, NativeDirectoryDeleteEntryFromGroup)(JNIEnv *env, jobject thiz);
KYR_DIR_JNI(void, NativeDirectorySettingsRelease)(JNIEnv *env, jobject thiz, jlong head);
KYR_DIR_JNI(void, NativeDirectoryReleaseSearchResults)(JNIEnv *env, jobject thiz, jlong head);
KYR_DIR_JNI(void, NativeDirectoryReleaseServerList)(JNIEnv *env, jobject thiz, jlong head);
KYR_DIR_JNI(void, NativeDirectoryReleaseEntry)(JNIEnv *env, jobject thiz, jlong handle);
KYR_DIR_JNI(void, NativeDirectoryReleaseDirEntryChanged)(JNIEnv *env, jobject thiz, jlong handle);

KYR_EXTERN_C_END

#endif
