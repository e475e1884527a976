// Internal interfaces between the simulator's server part and its codec model.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct cJSON;

namespace codec_sim_internal {

struct sim_model;

// Something the model wants pushed after answering: a notification text,
// sent to every open connection delay_ms after the answer.
struct model_effect {
    int delay_ms = 0;
    std::string text;
};

struct model_answer {
    bool is_error = false;
    int code = 0;              // error code when is_error
    std::string message;       // error message ("" = the code's usual text)
    cJSON *result = nullptr;   // owned by the caller once returned; null = integer 0
    std::vector<model_effect> effects;
};

struct model_options {
    int dial_step_ms = 50;
};

sim_model *model_new(const model_options &opt);
void model_free(sim_model *m);

// Answers one operation of the family. Returns false when the method is not
// one the model knows (the server then answers "Unknown function").
bool model_handle(sim_model *m, const std::string &method, const cJSON *params, model_answer *out);

// The notification text for method with the model's record (first of its
// kind unless handle is non-zero); "" for an unknown method.
std::string model_notification(sim_model *m, const std::string &method, uint32_t flags, uint32_t handle);
std::vector<std::string> model_notification_methods();

// A call comes in: a pending terminal (state Incoming) under the
// communication subsystem, announced in out->effects.
void model_incoming_call(sim_model *m, const std::string &address, model_answer *out);

std::string model_record_text(sim_model *m, const std::string &kind, uint32_t handle);
std::vector<uint32_t> model_record_handles(sim_model *m, const std::string &kind);
uint32_t model_record_merge(sim_model *m, const std::string &kind, uint32_t handle, const std::string &json);

const char *error_text(int code);

}  // namespace codec_sim_internal

// ---- calendar week and camera movement (sim_model_media.cpp) ----
namespace codec_sim_internal {

// Meeting objects (members to merge into a new CalMeeting) for the seven
// days starting with today (UTC), four a day.
std::vector<std::string> media_week_meetings(long now);
// Whether a meeting falls in the time window of a list filter (its
// "startTime"/"endTime"; both 0: any meeting).
bool media_meeting_in_window(const cJSON *meeting, const cJSON *filter);
// Moves a camera one step for a "moveType" of 0..5 (within its limits);
// the flags of what changed, 0 for a stop or an unknown move.
uint32_t media_camera_move(cJSON *camera, long long move_type);

}  // namespace codec_sim_internal
