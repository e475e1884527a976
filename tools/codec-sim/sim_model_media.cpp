// The codec model's calendar week and camera movement (used by sim_model.cpp).
#include <cjson/cJSON.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "sim_internal.h"

namespace codec_sim_internal {

namespace {

struct slot {
    int hour, minutes;
    const char *subject;
    const char *location;
};

// A working day of the room: the same four meetings each day.
const slot kDay[] = {
    {9, 30, "Stand-up", "Room 1"},
    {11, 60, "Design review", "Room 1"},
    {14, 45, "Customer call", "Room 1"},
    {16, 30, "Weekly planning", "Board room"},
};

double number(const cJSON *o, const char *k) {
    const cJSON *v = o ? cJSON_GetObjectItemCaseSensitive(o, k) : nullptr;
    return cJSON_IsNumber(v) ? v->valuedouble : 0;
}

}  // namespace

std::vector<std::string> media_week_meetings(long now) {
    std::vector<std::string> out;
    long today = now - now % 86400;  // midnight UTC
    int n = 0;
    for (int day = 0; day < 7; day++) {
        for (const slot &s : kDay) {
            long start = today + day * 86400L + s.hour * 3600L;
            long end = start + s.minutes * 60L;
            char ov[512];
            snprintf(ov, sizeof ov,
                     R"({"id":"week-%02d","subject":"%s","location":"%s","startTime":%ld,"endTime":%ld,)"
                     R"("status":1,"password":"mtg-secret-%02d","organizer":"organizer@example.test",)"
                     R"("videoAddr1":"vmr%02d@example.test","timeUntilMeeting":%ld})",
                     n, s.subject, s.location, start, end, n, n, std::max(0L, start - now));
            out.push_back(ov);
            n++;
        }
    }
    return out;
}

bool media_meeting_in_window(const cJSON *meeting, const cJSON *filter) {
    double from = number(filter, "startTime"), to = number(filter, "endTime");
    if (from == 0 && to == 0) return true;  // no window asked for
    double start = number(meeting, "startTime"), end = number(meeting, "endTime");
    // Meetings that overlap [from, to); an end of 0 leaves the window open.
    return end > from && (to == 0 || start < to);
}

uint32_t media_camera_move(cJSON *camera, long long move_type) {
    static const char *const kAxis[] = {"pan", "tilt", "zoom"};
    static const uint32_t kFlags[] = {0x200, 0x400, 0x800};
    if (!camera || move_type < 0 || move_type > 5) return 0;  // 6 stops: nothing moves
    int axis = static_cast<int>(move_type / 2);
    int step = (move_type % 2) ? 10 : -10;
    std::string name = kAxis[axis];
    std::string cap = name;
    cap[0] = static_cast<char>(cap[0] - 'a' + 'A');
    double lo = number(camera, ("min" + cap).c_str()), hi = number(camera, ("max" + cap).c_str());
    double v = std::min(hi, std::max(lo, number(camera, name.c_str()) + step));
    cJSON *n = cJSON_CreateNumber(v);
    if (cJSON_GetObjectItemCaseSensitive(camera, name.c_str()))
        cJSON_ReplaceItemInObjectCaseSensitive(camera, name.c_str(), n);
    else
        cJSON_AddItemToObject(camera, name.c_str(), n);
    return kFlags[axis];
}

}  // namespace codec_sim_internal
