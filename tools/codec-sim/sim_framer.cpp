#include "sim_framer.h"

namespace codec_sim_internal {

void framer_feed(sim_framer &f, const char *data, size_t len) {
    if (f.overflow || len == 0) return;
    f.buf.append(data, len);
}

bool framer_next(sim_framer &f, std::string *out) {
    if (f.overflow) return false;
    while (f.scan < f.buf.size()) {
        const char c = f.buf[f.scan];
        if (f.depth == 0) {
            // Between objects: only "{" starts one; white space, garbage and
            // stray closing braces are skipped.
            if (c == '{') {
                f.start = f.scan;
                f.depth = 1;
                f.in_string = false;
                f.escaped = false;
            } else if (!(c == ' ' || c == '\t' || c == '\r' || c == '\n')) {
                f.dropped++;
            }
            f.scan++;
            continue;
        }
        f.scan++;
        if (f.in_string) {
            if (f.escaped) {
                f.escaped = false;
            } else if (c == '\\') {
                f.escaped = true;
            } else if (c == '"') {
                f.in_string = false;
            }
            continue;
        }
        if (c == '"') {
            f.in_string = true;
        } else if (c == '{') {
            f.depth++;
        } else if (c == '}') {
            if (--f.depth == 0) {
                out->assign(f.buf, f.start, f.scan - f.start);
                f.buf.erase(0, f.scan);
                f.scan = 0;
                f.start = 0;
                return true;
            }
        }
    }
    if (f.depth == 0) {
        // Nothing but skipped bytes: forget them.
        f.buf.clear();
        f.scan = 0;
    } else {
        if (f.start > 0) {
            f.buf.erase(0, f.start);
            f.scan -= f.start;
            f.start = 0;
        }
        if (f.buf.size() > f.max_message) f.overflow = true;
    }
    return false;
}

}  // namespace codec_sim_internal
