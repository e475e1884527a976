/* What the files of the Directory module share: directory.cpp (the entry
 * points and the module's events), directory_servers.cpp (the known-server
 * table, the subsystem snapshot, server notifications) and
 * directory_entries.cpp (look-up, search, dialling, entry notifications).
 * Internal to the module. */
#ifndef KYR_DIRECTORY_INTERNAL_H
#define KYR_DIRECTORY_INTERNAL_H

#include "service/interfaces/directory.h"

namespace dir_impl {

constexpr const char *kTag = KYR_DIR_TAG;

/* Every event goes to Java through kyr_post, or to a test's sink (which
 * then owns what it was handed). 1 when received. */
int post(int code, int value1, int value2, jobject obj);
/* For the node several server events share: the caller frees it when none
 * was received. */
int post_keep(int code, int value1);
void post_error(int reason);

inline int instance() { return kyr_server_instance(); }

}  // namespace dir_impl

#endif
