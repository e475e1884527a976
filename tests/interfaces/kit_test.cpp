// The interface kit: lists handed to Java, layouts and settings elements.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "service/interfaces/kyr_iface.h"
#include "service/interfaces/settings.h"
#include "support/log_capture.h"

namespace {

TEST(KitList, NodesLinkThroughHandlesAndReleaseOnce) {
  kyr_list l = KYR_LIST_INIT;
  size_t before = kyr_handle_count();
  char *a = static_cast<char *>(kyr_list_append(&l, 16, "test"));
  char *b = static_cast<char *>(kyr_list_append(&l, 16, "test"));
  char *c = static_cast<char *>(kyr_list_append(&l, 16, "test"));
  ASSERT_TRUE(a && b && c);
  int64_t head = kyr_list_take(&l);
  EXPECT_GT(head, 0);
  EXPECT_EQ(l.head, 0);
  EXPECT_EQ(kyr_list_node(head, 16), a);
  int32_t hb = kyr_list_next(a);
  EXPECT_EQ(kyr_list_node(hb, 16), b);
  EXPECT_EQ(kyr_list_node(kyr_list_next(b), 16), c);
  EXPECT_EQ(kyr_list_next(c), 0);
  EXPECT_EQ(kyr_list_node(head, 17), nullptr) << "a node never reads past its size";

  kyrtest::LogCapture log;
  EXPECT_EQ(kyr_list_release(head, "test"), 3);
  EXPECT_EQ(kyr_handle_count(), before);
  EXPECT_EQ(kyr_list_release(head, "test"), 0) << "a second release frees nothing";
  EXPECT_FALSE(log.Find("unknown handle").empty());
  EXPECT_EQ(kyr_list_release(0, "test"), 0);
  EXPECT_EQ(kyr_list_release(-1, "test"), 0);
  EXPECT_EQ(kyr_list_release(0x100000000LL, "test"), 0);
}

TEST(KitList, ReleaseStopsAtANodeJavaRelinkedIntoACycle) {
  kyr_list l = KYR_LIST_INIT;
  char *a = static_cast<char *>(kyr_list_append(&l, 8, "test"));
  char *b = static_cast<char *>(kyr_list_append(&l, 8, "test"));
  ASSERT_TRUE(a && b);
  int64_t head = kyr_list_take(&l);
  int32_t h = static_cast<int32_t>(head);
  memcpy(b, &h, 4);  // b -> a: Java may write into the buffers it reads
  kyrtest::LogCapture log;
  EXPECT_EQ(kyr_list_release(head, "test"), 2);
}

TEST(KitList, NodeCopyHasANullLinkThenTheRecord) {
  const char rec[6] = {1, 2, 3, 4, 5, 6};
  int32_t h = kyr_node_copy(rec, sizeof rec, "test");
  ASSERT_GT(h, 0);
  auto *n = static_cast<const char *>(kyr_list_node(h, 4 + sizeof rec));
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(kyr_list_next(n), 0);
  EXPECT_EQ(memcmp(n + 4, rec, sizeof rec), 0);
  EXPECT_EQ(kyr_list_release(h, "test"), 1);
}

TEST(KitList, DiscardFreesAnUnfinishedList) {
  size_t before = kyr_handle_count();
  kyr_list l = KYR_LIST_INIT;
  ASSERT_TRUE(kyr_list_append(&l, 8, "test"));
  ASSERT_TRUE(kyr_list_append(&l, 8, "test"));
  kyr_list_discard(&l);
  EXPECT_EQ(kyr_handle_count(), before);
  EXPECT_EQ(l.count, 0u);
}

TEST(KitLayout, CopyTextCutsTerminatesAndZeroFills) {
  char buf[8];
  memset(buf, 'x', sizeof buf);
  kyr_copy_text(buf, sizeof buf, "abcdefghijk");
  EXPECT_STREQ(buf, "abcdefg");
  kyr_copy_text(buf, sizeof buf, "ab");
  EXPECT_STREQ(buf, "ab");
  for (size_t i = 2; i < sizeof buf; i++) EXPECT_EQ(buf[i], 0);
  kyr_copy_text(buf, sizeof buf, nullptr);
  EXPECT_STREQ(buf, "");
}

TEST(KitSettings, ElementsAre516BytesLinkedByHandle) {
  static_assert(sizeof(SettingsStruct) == 516, "layout");
  SettingsStruct *first = nullptr, *last = nullptr;
  int minus_one = -1;
  std::string long_text(300, 'v');
  ASSERT_TRUE(newSettingsElement(&first, &last, "a_number", &minus_one, 0));
  ASSERT_TRUE(newSettingsElement(&first, &last, "a_text", long_text.c_str(), 1));
  int64_t head = SettingsListHandle(first);
  ASSERT_GT(head, 0);

  auto *bytes = static_cast<const unsigned char *>(kyr_list_node(head, 516));
  ASSERT_NE(bytes, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char *>(bytes + 4), "a_number");
  EXPECT_STREQ(reinterpret_cast<const char *>(bytes + 260), "-1");
  int32_t second;
  memcpy(&second, bytes, 4);
  auto *s2 = static_cast<const SettingsStruct *>(kyr_list_node(second, 516));
  ASSERT_EQ(s2, last);
  EXPECT_EQ(strlen(s2->value), 255u);
  EXPECT_EQ(s2->next, 0);

  kyrtest::LogCapture log;
  EXPECT_EQ(newSettingsElement(&first, &last, nullptr, &minus_one, 0), nullptr);
  EXPECT_EQ(newSettingsElement(&first, &last, "k", nullptr, 0), nullptr);
  EXPECT_EQ(log.Find("newSettingsElement: detected NULL element", KYR_SETTINGS_TAG).size(), 2u);
  EXPECT_EQ(last, s2) << "a refused element leaves the list as it was";

  SettingsListRelease(head);
  EXPECT_EQ(kyr_list_node(head, 4), nullptr);
  SettingsListRelease(head);  // harmless
}

}  // namespace
