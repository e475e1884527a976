// The address-list reader Comm's and Directory's dials go through: what Java
// writes is cut to the records or refused, never read past the bytes given.
#include <gtest/gtest.h>

#include <climits>
#include <cstddef>
#include <cstring>
#include <memory>

#include "service/interfaces/kyr_addr_list.h"
#include "support/log_capture.h"

namespace {

const char kTag[] = "Test:AddrList";
const kyr_addr_texts kTexts = {kTag,
                               "no list of %zu bytes\n",
                               "no addresses\n",
                               "%d addresses, at most %d\n",
                               "%d lists, at most %d\n",
                               "%d lists do not fit in %zu bytes\n"};

const size_t kList = sizeof(DirAddressListStruct);
const size_t kHead = offsetof(DirAddressListArrayStruct, lists);

// Exactly n bytes of heap, one byte off alignment, every byte 'x': no text
// is terminated, and AddressSanitizer sees any read past the end.
class Block {
 public:
  explicit Block(size_t n) : raw_(new unsigned char[n + 1]), size_(n) { memset(raw_.get(), 'x', n + 1); }
  unsigned char *data() { return raw_.get() + 1; }
  size_t size() const { return size_; }
  void put_count(size_t at, int32_t count) { memcpy(data() + at, &count, sizeof count); }

 private:
  std::unique_ptr<unsigned char[]> raw_;
  size_t size_;
};

int32_t x_word() {
  int32_t v;
  memset(&v, 'x', sizeof v);
  return v;
}

TEST(AddrListRead, UnterminatedListIsCutToTheRecordAndBadCountsLeaveItUntouched) {
  Block b(kList);
  b.put_count(offsetof(DirAddressListStruct, count), kKyrAddrListMax);
  CSAddressList out;
  memset(&out, 0x55, sizeof out);
  ASSERT_EQ(kyr_addr_list_read(&out, b.data(), b.size(), kTexts), 0);
  EXPECT_EQ(out.listCount, kKyrAddrListMax);
  for (int i = 0; i < kKyrAddrListMax; i++) {
    EXPECT_EQ(out.list[i].rate, x_word());
    EXPECT_EQ(strlen(out.list[i].Address), sizeof out.list[i].Address - 1) << "address " << i;
  }
  EXPECT_EQ(strlen(out.siteName), sizeof out.siteName - 1);

  b.put_count(offsetof(DirAddressListStruct, count), 1);
  ASSERT_EQ(kyr_addr_list_read(&out, b.data(), b.size(), kTexts), 0);
  CSAddressEntry zero;
  memset(&zero, 0, sizeof zero);
  for (int i = 1; i < kKyrAddrListMax; i++)
    EXPECT_EQ(memcmp(&out.list[i], &zero, sizeof zero), 0) << "slot " << i << " past the count keeps nothing";

  const CSAddressList before = out;
  kyrtest::LogCapture log;
  for (int32_t bad : {0, -1, INT_MIN, kKyrAddrListMax + 1, INT_MAX}) {
    b.put_count(offsetof(DirAddressListStruct, count), bad);
    EXPECT_EQ(kyr_addr_list_read(&out, b.data(), b.size(), kTexts), -1) << "count " << bad;
  }
  b.put_count(offsetof(DirAddressListStruct, count), 1);
  EXPECT_EQ(kyr_addr_list_read(&out, b.data(), b.size() - 1, kTexts), -1) << "one byte short";
  EXPECT_EQ(kyr_addr_list_read(&out, nullptr, kList, kTexts), -1);
  EXPECT_EQ(memcmp(&out, &before, sizeof out), 0) << "a refused list changes nothing";
  EXPECT_EQ(log.Find("", kTag).size(), 7u) << "every refusal is logged once, under the caller's tag";
  EXPECT_EQ(log.Lines().size(), 7u);
}

TEST(AddrListRead, GroupReadsOnlyTheCountedListsAndRefusesAnyBadOne) {
  for (int n : {1, kKyrAddrGroupMax}) {
    Block b(kHead + kList * static_cast<size_t>(n));  // only the counted lists are given
    b.put_count(0, n);
    for (int i = 0; i < n; i++)
      b.put_count(kHead + kList * static_cast<size_t>(i), i % kKyrAddrListMax + 1);
    std::unique_ptr<CSAddressListArray> out(new CSAddressListArray());
    ASSERT_EQ(kyr_addr_group_read(out.get(), b.data(), b.size(), kTexts), 0) << n << " lists";
    EXPECT_EQ(out->listCount, n);
    const CSAddressList &last = out->list[n - 1];
    EXPECT_EQ(last.listCount, (n - 1) % kKyrAddrListMax + 1);
    EXPECT_EQ(strlen(last.list[last.listCount - 1].Address), sizeof last.list[0].Address - 1);

    kyrtest::LogCapture log;
    EXPECT_EQ(kyr_addr_group_read(out.get(), b.data(), b.size() - 1, kTexts), -1) << "last list one byte short";
    b.put_count(kHead + kList * static_cast<size_t>(n - 1), kKyrAddrListMax + 1);
    EXPECT_EQ(kyr_addr_group_read(out.get(), b.data(), b.size(), kTexts), -1) << "the last list cannot be dialled";
    b.put_count(kHead + kList * static_cast<size_t>(n - 1), 0);
    EXPECT_EQ(kyr_addr_group_read(out.get(), b.data(), b.size(), kTexts), -1) << "the last list is empty";
    EXPECT_EQ(log.Count("do not fit", kTag), 1u);
    EXPECT_EQ(log.Count("addresses, at most", kTag), 1u);
    EXPECT_EQ(log.Count("no addresses", kTag), 1u);
  }
  Block b(kHead + kList);
  kyrtest::LogCapture log;
  std::unique_ptr<CSAddressListArray> out(new CSAddressListArray());
  for (int32_t bad : {0, -5, kKyrAddrGroupMax + 1, INT_MAX}) {
    b.put_count(0, bad);
    EXPECT_EQ(kyr_addr_group_read(out.get(), b.data(), b.size(), kTexts), -1) << "count " << bad;
  }
  b.put_count(0, 1);
  EXPECT_EQ(kyr_addr_group_read(out.get(), b.data(), kHead - 1, kTexts), -1);
  EXPECT_EQ(kyr_addr_group_read(out.get(), nullptr, b.size(), kTexts), -1);
  EXPECT_EQ(log.Find("", kTag).size(), 6u);
}

}  // namespace
