// Natives of the JVM event benchmark (KyrEventBench): the loopback codec in
// this process, the client connection the service's worker reads, and the
// bare upcall loop the event path is measured against. Built into one
// shared library together with the service's own objects, so the Java side
// loads a single copy of the library.
#include <jni.h>
#include <stdio.h>

#include <memory>
#include <string>
#include <vector>

#include "bench_peer.h"
#include "bench_term.h"
#include "csapi/client/cs_records.h"
#include "csapi/client/csapi.h"

namespace {

std::unique_ptr<kyrbench::Peer> g_peer;
int g_inst = -1;

jlongArray to_java(JNIEnv *env, const std::vector<int64_t> &v) {
  jlongArray a = env->NewLongArray((jsize)v.size());
  if (a) env->SetLongArrayRegion(a, 0, (jsize)v.size(), reinterpret_cast<const jlong *>(v.data()));
  return a;
}

}  // namespace

#define BENCH_NATIVE(ret, name) \
  extern "C" JNIEXPORT ret JNICALL Java_quorvex_kyrconnectservice_bench_KyrEventBench_##name

// Starts the codec and connects the client to it, marked ready as after a
// handshake (the peer answers everything with one canned record, so it
// cannot take part in one). The instance, or -1.
BENCH_NATIVE(jint, startPeer)(JNIEnv *, jclass) {
  std::string body = kyrbench::term_json(7);
  g_peer.reset(new kyrbench::Peer(false, "{\"jsonrpc\":\"2.0\",\"result\":" + body + ",\"id\":", "}"));
  if (!g_peer->start()) return -1;
  char addr[64];
  snprintf(addr, sizeof addr, "%s:%d", g_peer->host(), g_peer->port());
  g_inst = new_csapi_client(addr);
  if (g_inst < 0 || !g_peer->wait_conns(1, 5000)) return -1;
  if (csapi_client_set_state(g_inst, CLIENT_STATE_READY) != 0) return -1;
  return g_inst;
}

BENCH_NATIVE(void, stopPeer)(JNIEnv *, jclass) {
  if (g_inst >= 0) delete_csapi_client(g_inst);
  g_inst = -1;
  g_peer.reset();
}

// The codec writes n terminal notifications whose record id is 0..n-1 and
// whose flags name the mute field (one event each), back to back or paced
// at perSecond. Returns the time of each write (System.nanoTime's clock).
BENCH_NATIVE(jlongArray, push)(JNIEnv *env, jclass, jint n, jint perSecond) {
  if (!g_peer || n <= 0) return nullptr;
  std::string pre, suf;
  kyrbench::term_note_parts(0, CSTERM_MUTED_FIELD, true, &pre, &suf);
  std::vector<int64_t> stamp((size_t)n, 0);
  g_peer->push(0, pre, suf, n, perSecond, &stamp);
  return to_java(env, stamp);
}

// The baseline: n calls of the static method upcall(Object, int, int, int,
// Object) - the shape of postEventFromNative - from a native loop on this
// thread. Returns the time just before each call.
BENCH_NATIVE(jlongArray, upcallLoop)(JNIEnv *env, jclass cls, jint n, jint code) {
  jmethodID mid = env->GetStaticMethodID(cls, "upcall", "(Ljava/lang/Object;IIILjava/lang/Object;)V");
  if (!mid || n <= 0) return nullptr;
  std::vector<int64_t> stamp((size_t)n, 0);
  for (jint i = 0; i < n; i++) {
    stamp[(size_t)i] = kyrbench::now_ns();
    env->CallStaticVoidMethod(cls, mid, nullptr, code, i, 1, nullptr);
    if (env->ExceptionCheck()) return nullptr;
  }
  return to_java(env, stamp);
}
