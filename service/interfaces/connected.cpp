/* The records module: the communication, audio and directory records the
 * service caches for the interfaces (service/kyr_cache.h), and the known
 * directory servers that follow from the directory record. Emptied when a
 * new connection opens, fetched once it is authenticated. */
#include <memory>
#include <new>

#include "csapi/client/cs_ops.h"
#include "platform/kyr_log.h"
#include "service/interfaces/directory.h"
#include "service/interfaces/kyr_fetch.h"
#include "service/kyr_cache.h"
#include "service/kyr_modules.h"
#include "service/kyr_service.h"

namespace {

const char kTag[] = "KyrConnectLib";

/* The records the post-connect fetch fills; on the heap (they are large
 * for a thread stack). */
struct PostConnectRecords {
  CSComm comm;
  CSAudio audio;
  CSDir dir;
};

/* A failed post-connect read: logged, its code returned. */
int connected_failed(const char *what, int rc) {
  kyr_log_printf(KYR_LOG_ERROR, kTag, "connected: %s (error:NULL, %s)\n", what, kyr_err_text(rc));
  return rc;
}

}  // namespace

/* The three records need nothing but the instance, so they are read
 * together; the known directory servers follow from the directory record
 * just read (counts, then servers: two more round trips). Each result is
 * judged and logged in the order the records used to be read. */
extern "C" int kyr_post_connect_fetch(int instance) {
  std::unique_ptr<PostConnectRecords> r(new (std::nothrow) PostConnectRecords());
  if (!r) return CSAPI_ERR_OUT_OF_RESOURCES;
  cs_op_ticket t[3];
  (void)csCommGetBegin(&t[0], &r->comm, instance);
  (void)csAudioGetBegin(&t[1], &r->audio, instance);
  (void)csDirGetBegin(&t[2], &r->dir, instance);
  int comm = cs_op_end(&t[0]), audio = cs_op_end(&t[1]), dir = cs_op_end(&t[2]);
  int rc = 0;
  if (comm == 0)
    kyr_cache_comm_store(&r->comm);
  else
    rc = connected_failed("csCommGet", comm);
  if (audio == 0)
    kyr_cache_audio_store(&r->audio);
  else if (connected_failed("csAudioGet", audio) && rc == 0)
    rc = audio;
  if (dir != 0) {
    (void)connected_failed("csDirGet", dir);
    return rc != 0 ? rc : dir;
  }
  kyr_cache_dir_store(&r->dir);
  int servers = DirectoryKnownServersOf(&r->dir);
  return rc != 0 ? rc : servers < 0 ? servers : 0;
}


extern "C" void kyr_records_on_connect(int) { kyr_cache_clear_all(); }

extern "C" void kyr_records_on_pair(int instance) { (void)kyr_post_connect_fetch(instance); }
