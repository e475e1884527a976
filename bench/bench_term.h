// The notification both benchmark programs push: a terminal record as the
// codec sends it (about 1.1 KB of JSON, long texts as a real room system
// has them), with one number left open for a sequence number.
#pragma once

#include <stdint.h>

#include <string>

namespace kyrbench {

// Handle and id the record carries before a mark is replaced.
constexpr uint32_t kHandleMark = 987654321u;
constexpr int32_t kIdMark = 876543219;

// The terminal record with the given id, as JSON.
std::string term_json(int32_t id);

// text split around the first occurrence of mark.
void split_at(const std::string &text, const std::string &mark, std::string *pre, std::string *suf);

// A "csTermChangedCB" notification with flags, split where its record's
// handle (or, with in_id, its id) goes, so prefix + N + suffix numbers it.
void term_note_parts(int32_t id, uint32_t flags, bool in_id, std::string *prefix, std::string *suffix);

}  // namespace kyrbench
