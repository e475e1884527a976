// kyr_post without a JVM: an event nobody can receive frees the payload the
// receiver would have owned, and nothing else. Run under the ASan build, a
// payload freed twice or read after the free is reported as well.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include "service/events.h"
#include "service/interfaces/kyr_handlers.h"
#include "service/interfaces/kyr_iface.h"
#include "service/kyr_handles.h"
#include "service/kyr_service.h"
#include "support/log_capture.h"

namespace {

int32_t two_node_list() {
  kyr_list l = KYR_LIST_INIT;
  EXPECT_NE(kyr_list_append(&l, 64, "test"), nullptr);
  EXPECT_NE(kyr_list_append(&l, 64, "test"), nullptr);
  return static_cast<int32_t>(kyr_list_take(&l));
}

int32_t heap_record() {
  void *rec = calloc(1, 48);
  int32_t h = kyr_handle_register(rec, 48, KYR_HANDLE_RECORD);
  if (h < 0) free(rec);
  return h;
}

TEST(Post, AnOwnedPayloadNobodyReceivesIsFreed) {
  kyrtest::LogCapture log;  // nothing set up: every post is dropped with a log line
  const size_t before = kyr_handle_count();
  struct {
    int code;
    int32_t payload;
  } cases[] = {
      {EVENT_SYSTEM_SETTINGS_CHANGED, two_node_list()},
      {EVENT_CAL_MEETING_ADDED, kyr_node_copy("meeting", 8, "test")},
      {EVENT_DIR_ENTRY_ADDED, heap_record()},
  };
  for (const auto &c : cases) {
    ASSERT_GT(c.payload, 0);
    EXPECT_EQ(kyr_post(c.code, c.payload, 0, nullptr), 0) << kyr_event_name(c.code);
    EXPECT_EQ(kyr_handle_resolve(c.payload, 0, KYR_HANDLE_ANY), nullptr) << kyr_event_name(c.code);
  }
  EXPECT_EQ(kyr_handle_count(), before);
}

TEST(Post, PayloadsThatStayTheLibrarysAreLeftAlone) {
  kyrtest::LogCapture log;
  static char snapshot[32];
  const int32_t stat = kyr_static_handle(snapshot, sizeof snapshot);
  const int32_t during = heap_record();
  const int32_t list = two_node_list();
  ASSERT_GT(stat, 0);
  ASSERT_GT(during, 0);
  ASSERT_GT(list, 0);
  EXPECT_EQ(kyr_post(EVENT_COMM_SYSTEM_CHANGED, stat, 0, nullptr), 0);
  EXPECT_EQ(kyr_post(EVENT_CAL_CHANGED, during, 0, nullptr), 0);
  /* A plain number in value1 is never taken for a handle. */
  EXPECT_EQ(kyr_post(EVENT_COMM_CALL_MUTE_CHANGED, list, 1, nullptr), 0);
  /* The caller of kyr_post_keep keeps an owned payload nobody received. */
  EXPECT_EQ(kyr_post_keep(EVENT_DIR_SERVER_MODIFIED, list, 0, nullptr), 0);
  EXPECT_NE(kyr_handle_resolve(stat, sizeof snapshot, KYR_HANDLE_STATIC), nullptr);
  EXPECT_NE(kyr_handle_resolve(during, 48, KYR_HANDLE_RECORD), nullptr);
  EXPECT_NE(kyr_list_node(list, 64), nullptr);
  kyr_handle_forget(snapshot);
  free(kyr_handle_release(during, KYR_HANDLE_RECORD, "test"));
  EXPECT_EQ(kyr_list_release(list, "test"), 2);
}

// The callbacks that used to lose their node or list when the event could
// not be delivered.
TEST(Post, CallbacksLeaveNoPayloadBehindWhenNothingIsSetUp) {
  kyrtest::LogCapture log;
  const size_t before = kyr_handle_count();
  CSCalMeeting meeting;
  memset(&meeting, 0, sizeof meeting);
  on_cal_meeting_added(&meeting, 1, 0);
  on_cal_meeting_changed(&meeting, 1, 0);
  CSCalSrvr server;
  memset(&server, 0, sizeof server);
  on_cal_server_changed(&server, 0xFFFFFFFFu, 0);
  CSDirSrvr dir;
  memset(&dir, 0, sizeof dir);
  strcpy(dir.id, "nowhere");
  on_dir_server_changed(&dir, 0xFFFFFFFFu, 0);
  EXPECT_EQ(kyr_handle_count(), before);
  EXPECT_GE(log.Count("NULL JavaVM"), 4u) << "each event was offered and dropped";
}

}  // namespace
