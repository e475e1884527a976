// The codec model (being filled in).
#include <cjson/cJSON.h>

#include "sim_internal.h"

namespace codec_sim_internal {
struct sim_model {
    model_options opt;
};
sim_model *model_new(const model_options &opt) { return new sim_model{opt}; }
void model_free(sim_model *m) { delete m; }
bool model_handle(sim_model *, const std::string &, const cJSON *, model_answer *) { return false; }
std::string model_notification(sim_model *, const std::string &, uint32_t, uint32_t) { return ""; }
std::vector<std::string> model_notification_methods() { return {}; }
std::string model_record_text(sim_model *, const std::string &, uint32_t) { return ""; }
std::vector<uint32_t> model_record_handles(sim_model *, const std::string &) { return {}; }
uint32_t model_record_merge(sim_model *, const std::string &, uint32_t, const std::string &) { return 0; }
}  // namespace codec_sim_internal
