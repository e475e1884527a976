/* Module handler tables. Each module contributes the notification methods it
 * decodes; csapiClientInitAll registers them in CS_MODULE_LIST order. */
#include "csapi/client/cs_dispatch.h"

namespace {

#define CS_EMPTY_TABLE(m) const csMarshEntry m##_marsh_func_table[] = {{nullptr, nullptr}};
CS_MODULE_LIST(CS_EMPTY_TABLE)
#undef CS_EMPTY_TABLE

}  // namespace

#define CS_DEFINE_MODULE(m)                                                             \
  extern "C" int m##ClientInit(void) { return csapi_client_add_marsh_table(m##_marsh_func_table); } \
  extern "C" int m##ClientExit(void) { return 0; }
CS_MODULE_LIST(CS_DEFINE_MODULE)
#undef CS_DEFINE_MODULE
