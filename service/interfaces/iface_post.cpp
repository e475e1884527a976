#include "service/interfaces/iface_post.h"

#include "service/interfaces/settings.h"
#include "service/kyr_service.h"

extern "C" void kyr_post_to_java(void *ctx, int code, int value1, int value2) {
  send_event(static_cast<callback_cookie *>(ctx), code, value1, value2, nullptr);
}

extern "C" void kyr_post_settings_list(kyr_event_fn post, void *ctx, int code, int64_t list) {
  /* Handles fit in 31 bits; 0 and -1 pass unchanged. */
  if (post) post(ctx, code, static_cast<int32_t>(list), 0);
  if ((!ctx || !post) && list > 0) SettingsListRelease(list);
}
