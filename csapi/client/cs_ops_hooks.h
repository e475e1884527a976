/* Seams of the operation family for tests; not exported from the shared
 * library (reach them through kyrconnect_static). */
#ifndef CS_OPS_HOOKS_H
#define CS_OPS_HOOKS_H

#include <stddef.h>

typedef struct ccom_msg_t ccom_msg_t;

typedef ccom_msg_t *(*cs_ops_msg_alloc_fn)(void);
typedef int (*cs_ops_call_fn)(unsigned int instance, ccom_msg_t *msg, int timeout);

/* Replaces the message pool and the synchronous call the operations use;
 * a null function restores the library's own. Not thread-safe: set before
 * the operations run. */
void cs_ops_set_hooks(cs_ops_msg_alloc_fn alloc, cs_ops_call_fn call);

/* The operation table, for checking that tests cover every row. */
size_t cs_ops_count(void);
const char *cs_ops_name(size_t index); /* null past the end */

#endif
