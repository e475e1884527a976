// Message framing of the codec simulator: JSON objects written back to back
// with no length prefix. The simulator keeps its own framer, independent of
// the library's, and unlike a plain brace counter it knows about JSON strings,
// so a "{" inside a string value does not unbalance it. That lets the tests
// tell whether the library copes with such text rather than hiding a fault
// behind a matching fault in the peer.
#pragma once

#include <cstddef>
#include <string>

namespace codec_sim_internal {

// Bytes that are never part of an object (garbage before a "{", a stray
// "}") are dropped and counted, not returned.
struct sim_framer {
    std::string buf;          // unconsumed input
    size_t scan = 0;          // position up to which buf has been scanned
    size_t start = 0;         // start of the object being scanned (valid when depth > 0)
    int depth = 0;            // brace depth of the object being scanned
    bool in_string = false;   // inside a JSON string of that object
    bool escaped = false;     // previous byte was a backslash inside a string
    size_t dropped = 0;       // bytes discarded outside of objects
    size_t max_message = 8u << 20;  // an object growing past this is a protocol fault
    bool overflow = false;    // sticky: set once an object exceeded max_message
};

void framer_feed(sim_framer &f, const char *data, size_t len);

// Takes the next complete object out of the buffer. Returns false when no
// complete object is buffered yet (or the framer has overflowed).
[[nodiscard]] bool framer_next(sim_framer &f, std::string *out);

}  // namespace codec_sim_internal
