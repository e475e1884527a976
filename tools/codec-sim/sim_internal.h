// Internal interfaces between the simulator's server part and its codec model.
#pragma once

#include <cstdint>
#include <map>
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

// ---- set requests (sim_model_settings.cpp) ----

// Applies to dst only the members of src that the kind's flag bits in flags
// name; a kind without fixed bits takes every member but the header.
void apply_flagged_members(const std::string &kind, cJSON *dst, const cJSON *src, uint32_t flags);
// The member paths the bits name ("list.member" for a member of every entry).
std::vector<std::string> flagged_member_names(const std::string &kind, uint32_t flags);

// Password records: "valid" holds the rules met (bits 0..11) and, in bit 31,
// whether a password is set.
const uint32_t kPasswordAllRules = 0xFFF;
const uint32_t kPasswordPresent = 0x80000000u;
struct password_book {
    std::map<long long, std::vector<std::string>> history;  // by type, oldest first; back() is current
};
// The rules of attr (a SecPwdAttr object; null: no rules) that pwd meets.
uint32_t password_rules_met(const std::string &pwd, const std::string &old_pwd, const std::string &id,
                            const std::vector<std::string> &history, const cJSON *attr);
// A password set request: the old password must be the current one (-11)
// and the new one must meet every rule (-19); the rules it met are stored in
// the record's "valid" either way. 0 when it became the current password.
int password_change(password_book &book, cJSON *record, const cJSON *request, const cJSON *attr);

// ---- the directory (sim_model_directory.cpp) ----

// One record the model starts with: kind, the index of its parent row (-1:
// top level) and its members as a JSON object text.
struct seed_row {
    std::string kind;
    int parent;
    std::string members;
};
// The directory subsystem, its servers and their entries, parents first.
std::vector<seed_row> directory_seed();
// Whether a directory server's record asks for empty pages for ever.
bool directory_pages_empty(const cJSON *server);
// A list page without entries (the caller owns it).
cJSON *directory_empty_page();

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
