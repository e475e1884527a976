#include "service/kyr_modules.h"

#include <atomic>

namespace {

#define KYR_MODULE_ROW(module, c, p, l, r) {#module, c, p, l, r},
const kyr_module_hooks kModules[] = {KYR_MODULE_LIST(KYR_MODULE_ROW)};
#undef KYR_MODULE_ROW

std::atomic<const kyr_module_hooks *> s_extra{nullptr};

void run_one(const kyr_module_hooks &m, kyr_module_event event, int instance) {
  kyr_module_hook h = event == KYR_MODULE_CONNECT ? m.on_connect
                      : event == KYR_MODULE_PAIR  ? m.on_pair
                      : event == KYR_MODULE_LOSS  ? m.on_loss
                                                  : m.on_release;
  if (h) h(instance);
}

}  // namespace

extern "C" void kyr_modules_run(kyr_module_event event, int instance) {
  for (const kyr_module_hooks &m : kModules) run_one(m, event, instance);
  if (const kyr_module_hooks *extra = s_extra.load()) run_one(*extra, event, instance);
}

extern "C" void kyr_modules_debug_set_extra(const kyr_module_hooks *extra) { s_extra.store(extra); }
