/* How the audio, system and security callbacks post their events: through
 * a function and its context, so the callbacks' bodies run in native tests
 * with a recorder and in the library with kyr_post. */
#ifndef KYR_IFACE_POST_H
#define KYR_IFACE_POST_H

#include <stdint.h>

#include "platform/kyr_api.h"

KYR_EXTERN_C_BEGIN

/* Receives one event (code, value1, value2; no object). */
typedef void (*kyr_event_fn)(void *ctx, int code, int value1, int value2);

/* Posts to Java with kyr_post (ctx is not used; the current set-up
 * receives), which frees an owned payload nobody received. */
void kyr_post_to_java(void *ctx, int code, int value1, int value2);

/* Posts a settings update list as value1 (its handle, 0 for nothing to
 * report, or the converter's failure value) with value2 0. post takes the
 * list over (kyr_post_to_java frees one nobody received); with no post
 * function it is freed instead of being lost. */
void kyr_post_settings_list(kyr_event_fn post, void *ctx, int code, int64_t list);

KYR_EXTERN_C_END

#endif
