// Linked against the shared library: every transport function must be
// reachable by its C name from outside, and internal helpers must not be.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>

#include "ipc/libccom/ccom.h"

TEST(TransportExports, EveryNamedFunctionIsExportedAndHelpersAreNot) {
  void *self = dlopen(nullptr, RTLD_NOW);
  ASSERT_NE(self, nullptr);
  const char *exported[] = {
      "ccom_get_version", "ccom_msg_init", "ccom_msg_alloc", "ccom_msg_grow", "ccom_msg_strcpy",
      "ccom_msg_memcpy", "ccom_msg_append", "ccom_msg_sprintf", "ccom_msg_queue_init", "ccom_msg_enqueue",
      "ccom_msg_dequeue", "ccom_msg_queue_free", "ccom_client_init", "ccom_client_msg_alloc",
      "ccom_client_msg_free", "ccom_client_exit", "clist_add", "clist_remove", "clist_walk", "clist_size",
      "ccom_gen_challenge_rsp", "ccom_socket_read_ready", "ccom_socket_write_line", "ccom_socket_read_line",
      "debug_string", "csLogLocalEnable", "csLog", "ccom_client_connect", "ccom_client_send", "ccom_client_recv",
      "ccom_client_disconnect", "ccom_client_free", "close_socket", "help_crypto_init", "CRYPTO_thread_setup",
      "CRYPTO_thread_cleanup", "ccom_tls_set_pin", "ccom_tls_get_pin", "ccom_client_get_fingerprint",
      "ccom_client_connect_result",
  };
  for (const char *name : exported) EXPECT_NE(dlsym(RTLD_DEFAULT, name), nullptr) << name;
  for (const char *hidden : {"gbLogEnable", "client_msg_queue", "alloc_bufs_num", "ccom_connect_timeout_ms", "lock_cs",
                             "ccom_tls_client_context", "ccom_tls_after_handshake"})
    EXPECT_EQ(dlsym(RTLD_DEFAULT, hidden), nullptr) << hidden;
  EXPECT_STREQ(ccom_get_version(), "libccom 0.0.1");
  dlclose(self);
}
