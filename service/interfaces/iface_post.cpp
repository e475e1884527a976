#include "service/interfaces/iface_post.h"

#include "service/interfaces/settings.h"
#include "service/kyr_service.h"

extern "C" void kyr_post_to_java(void *, int code, int value1, int value2) {
  (void)kyr_post(code, value1, value2, nullptr);
}

extern "C" void kyr_post_settings_list(kyr_event_fn post, void *ctx, int code, int64_t list) {
  /* Handles fit in 31 bits; 0 and -1 pass unchanged. */
  if (post)
    post(ctx, code, static_cast<int32_t>(list), 0);
  else if (list > 0)
    SettingsListRelease(list);
}
