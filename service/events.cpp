#include "service/events.h"

extern "C" const char *kyr_event_name(int code) {
  switch (code) {
#define KYR_X_CASE(name, value, kind) \
  case value:                         \
    return #name;
    KYR_EVENT_LIST(KYR_X_CASE)
#undef KYR_X_CASE
    default:
      return nullptr;
  }
}

extern "C" kyr_payload_kind kyr_event_payload_kind(int code) {
  switch (code) {
#define KYR_X_CASE(name, value, kind) \
  case value:                         \
    return kind;
    KYR_EVENT_LIST(KYR_X_CASE)
#undef KYR_X_CASE
    default:
      return PAYLOAD_NONE;
  }
}

extern "C" const char *kyr_connect_state_name(int state) {
  switch (state) {
#define KYR_X_CASE(name, value) \
  case value:                   \
    return #name;
    KYR_CONNECT_STATE_LIST(KYR_X_CASE)
#undef KYR_X_CASE
    default:
      return nullptr;
  }
}
