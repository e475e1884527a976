/* Reading the address lists Java writes for a dial (kyr_addr_list.h). */
#include "service/interfaces/kyr_addr_list.h"

#include <string.h>

#include <type_traits>

#include "platform/kyr_log.h"

namespace {

/* The layout Java writes and the record the codec is sent must hold the same
 * lists, or one side would cut what the other carries. */
static_assert(std::extent<decltype(DirAddressListStruct::entries)>::value == kKyrAddrListMax,
              "a Java list holds as many addresses as the record");
static_assert(std::extent<decltype(DirAddressListArrayStruct::lists)>::value == kKyrAddrGroupMax,
              "a Java group holds as many lists as the record");
static_assert(kKyrAddrListMax == KYR_COMM_MAX_DIAL_ADDRESSES && kKyrAddrListMax == KYR_DIR_MAX_ADDRESSES,
              "Comm and Directory dial lists of the same length");
static_assert(kKyrAddrGroupMax == KYR_DIR_MAX_GROUP_LISTS, "a group dial holds as many lists as Java can pass");

/* Text from Java's field into the record's: at most what the source field
 * holds (it need not be terminated), cut to the destination, terminated and
 * zero-filled. */
template <size_t D, size_t S>
void copy_text(char (&dst)[D], const char (&src)[S]) {
  static_assert(D > 0, "a text field holds at least its terminator");
  size_t n = strnlen(src, S);
  if (n > D - 1) n = D - 1;
  memcpy(dst, src, n);
  memset(dst + n, 0, D - n);
}

/* A count of 1..most passes; anything else is logged (too_many with the
 * count and most when above). */
bool count_ok(int count, int most, const char *too_many, const kyr_addr_texts &texts) {
  if (count <= 0) {
    kyr_log_printf(KYR_LOG_ERROR, texts.tag, "%s", texts.none);
    return false;
  }
  if (count > most) {
    kyr_log_printf(KYR_LOG_ERROR, texts.tag, too_many, count, most);
    return false;
  }
  return true;
}

}  // namespace

int kyr_addr_list_read(CSAddressList *dst, const void *buf, size_t len, const kyr_addr_texts &texts) {
  if (!buf || len < sizeof(DirAddressListStruct)) {
    kyr_log_printf(KYR_LOG_ERROR, texts.tag, texts.no_list, sizeof(DirAddressListStruct));
    return -1;
  }
  DirAddressListStruct in;
  memcpy(&in, buf, sizeof in); /* one copy: Java may write while we read */
  const int count = in.count;
  if (!count_ok(count, kKyrAddrListMax, texts.too_many, texts)) return -1;
  memset(dst, 0, sizeof *dst);
  dst->listCount = count;
  for (int i = 0; i < count; i++) {
    dst->list[i].rate = in.entries[i].rate;
    copy_text(dst->list[i].Address, in.entries[i].address);
  }
  copy_text(dst->siteName, in.siteName);
  return 0;
}

int kyr_addr_group_read(CSAddressListArray *dst, const void *buf, size_t len, const kyr_addr_texts &texts) {
  const size_t head = offsetof(DirAddressListArrayStruct, lists);
  if (!buf || len < head) {
    kyr_log_printf(KYR_LOG_ERROR, texts.tag, texts.no_list, head);
    return -1;
  }
  int32_t count;
  memcpy(&count, buf, sizeof count);
  if (!count_ok(count, kKyrAddrGroupMax, texts.too_many_lists, texts)) return -1;
  const size_t each = sizeof(DirAddressListStruct);
  if ((len - head) / each < static_cast<size_t>(count)) {
    kyr_log_printf(KYR_LOG_ERROR, texts.tag, texts.no_fit, count, len);
    return -1;
  }
  const char *lists = static_cast<const char *>(buf) + head;
  for (int i = 0; i < count; i++)
    if (kyr_addr_list_read(&dst->list[i], lists + each * static_cast<size_t>(i), each, texts) != 0) return -1;
  dst->listCount = count;
  return 0;
}
