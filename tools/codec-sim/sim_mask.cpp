// Password values out of the request echo: a request carries the
// administrator password (csPair) or new and old passwords (setters), and
// the echo goes to a terminal or a demo log.
#include <cctype>
#include <string>

#include "codec_sim.h"

namespace {

// End of the string whose opening quote is at q (one past its closing
// quote, or the text's end when it never closes).
size_t string_end(const std::string &t, size_t q) {
    size_t i = q + 1;
    while (i < t.size()) {
        if (t[i] == '\\') i += 2;
        else if (t[i] == '"') return i + 1;
        else i++;
    }
    return t.size();
}

bool names_a_password(const std::string &t, size_t from, size_t to) {
    std::string name;
    for (size_t i = from; i < to; i++) name += static_cast<char>(tolower(static_cast<unsigned char>(t[i])));
    return name.find("pwd") != std::string::npos || name.find("pass") != std::string::npos;
}

size_t skip_space(const std::string &t, size_t i) {
    while (i < t.size() && isspace(static_cast<unsigned char>(t[i]))) i++;
    return i;
}

}  // namespace

std::string codec_sim_mask_passwords(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '"') {
            out += text[i++];
            continue;
        }
        size_t end = string_end(text, i);
        out.append(text, i, end - i);
        // A member name is a string followed by a colon.
        size_t colon = skip_space(text, end);
        if (end <= i + 1 || colon >= text.size() || text[colon] != ':' ||
            !names_a_password(text, i + 1, end - 1)) {
            i = end;
            continue;
        }
        size_t value = skip_space(text, colon + 1);
        if (value >= text.size() || text[value] != '"') {
            i = end;
            continue;
        }
        out.append(text, end, value - end);  // the colon and any spaces
        out += "\"\"";
        i = string_end(text, value);
    }
    return out;
}
