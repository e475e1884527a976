/* The address lists Java writes for a dial (DirAddressListStruct, and a
 * group's DirAddressListArrayStruct), read into the records the dial
 * operations send (CSAddressList, CSAddressListArray).
 *
 * Comm's dial list and Directory's entry and group dials all read through
 * here, so a list is checked and cut the same way whoever dials it. Each
 * caller keeps its own log tag and wording (kyr_addr_texts). Java's buffer
 * need not be aligned and may change while it is read: every field is
 * copied out once, and nothing past the counted lists is touched.
 *
 * Internal to the library (no exported symbol). */
#ifndef KYR_ADDR_LIST_H
#define KYR_ADDR_LIST_H

#include <stddef.h>

#include <type_traits>

#include "csapi/client/cs_records.h"
#include "service/interfaces/directory.h"

/* How a caller words its refusals, logged as errors under tag. The formats
 * take the arguments named; `none` is plain text. The two group texts are
 * only used by kyr_addr_group_read. */
struct kyr_addr_texts {
  const char *tag;
  const char *no_list;        /* (size_t bytes needed): no buffer, or a short one */
  const char *none;           /* a list counting no address */
  const char *too_many;       /* (int count, int most): addresses in one list */
  const char *too_many_lists; /* (int count, int most): lists in one group */
  const char *no_fit;         /* (int count, size_t len): the counted lists overrun the buffer */
};

/* What one list and one group can carry: as much as both the Java layout and
 * the record hold (they agree; checked where the reader is built). */
constexpr int kKyrAddrListMax = static_cast<int>(std::extent<decltype(CSAddressList::list)>::value);
constexpr int kKyrAddrGroupMax = static_cast<int>(std::extent<decltype(CSAddressListArray::list)>::value);

/* Reads the DirAddressListStruct in buf (len bytes) into dst: its count must
 * be 1..kKyrAddrListMax; the counted addresses (with their rates) and the
 * site name are cut to their fields and terminated, every other byte of dst
 * zero. 0, or -1 (logged, dst untouched) for a missing or short buffer or a
 * count out of range. */
int kyr_addr_list_read(CSAddressList *dst, const void *buf, size_t len, const kyr_addr_texts &texts);

/* Reads a DirAddressListArrayStruct in buf (len bytes: the count and the
 * counted lists are enough) into dst: 1..kKyrAddrGroupMax lists, each read
 * as kyr_addr_list_read does. 0, or -1 (logged, dst then unspecified) when
 * the buffer, the count or any one list cannot be dialled. */
int kyr_addr_group_read(CSAddressListArray *dst, const void *buf, size_t len, const kyr_addr_texts &texts);

#endif
