/* Module handler tables. Each module contributes the notification methods it
 * decodes; csapiClientInitAll registers them in CS_MODULE_LIST order. */
#include "csapi/client/cs_dispatch.h"

namespace {

#define CS_MARSH_ROW(Event, Kind, Param) {"cs" #Event "CB", &cs##Event##CBClient},
#define CS_MODULE_TABLE(m) const csMarshEntry m##_marsh_func_table[] = {CS_NOTIFY_##m(CS_MARSH_ROW){nullptr, nullptr}};
CS_MODULE_LIST(CS_MODULE_TABLE)
#undef CS_MODULE_TABLE
#undef CS_MARSH_ROW

}  // namespace

#define CS_DEFINE_MODULE(m)                                                             \
  extern "C" int m##ClientInit(void) { return csapi_client_add_marsh_table(m##_marsh_func_table); } \
  extern "C" int m##ClientExit(void) { return 0; }
CS_MODULE_LIST(CS_DEFINE_MODULE)
#undef CS_DEFINE_MODULE
