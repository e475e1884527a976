/* How the audio, system and security callbacks post their events: through
 * a function and its context, so the callbacks' bodies run in native tests
 * with a recorder and in the library with send_event and the cookie. */
#ifndef KYR_IFACE_POST_H
#define KYR_IFACE_POST_H

#include <stdint.h>

#include "platform/kyr_api.h"

KYR_EXTERN_C_BEGIN

/* Receives one event (code, value1, value2; no object). */
typedef void (*kyr_event_fn)(void *ctx, int code, int value1, int value2);

/* Posts to Java: ctx is the callback_cookie (send_event). */
void kyr_post_to_java(void *ctx, int code, int value1, int value2);

/* Posts a settings update list as value1 (its handle, 0 for nothing to
 * report, or the converter's failure value) with value2 0. The receiver owns
 * the list; with no context nobody can receive it, so it is freed instead of
 * being lost. */
void kyr_post_settings_list(kyr_event_fn post, void *ctx, int code, int64_t list);

KYR_EXTERN_C_END

#endif
