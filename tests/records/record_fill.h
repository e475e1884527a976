// Test helpers over the engine's descriptors: fill any record kind with
// deterministic, wire-representable content.
#pragma once

#include <stdint.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "csapi/client/cs_record_desc.inc"
#include "csapi/client/cs_records.h"

namespace recfill {

using namespace cs_record_detail;

// Exact-size heap storage, so the sanitizer sees any write past a record.
struct Rec {
  explicit Rec(int kind, unsigned char init = 0) : bytes(new unsigned char[kKinds[kind].size]), size(kKinds[kind].size) {
    memset(bytes, init, size);
  }
  ~Rec() { delete[] bytes; }
  Rec(const Rec &) = delete;
  Rec &operator=(const Rec &) = delete;
  unsigned char *bytes;
  size_t size;
};

inline std::string random_text(std::mt19937 &rng, size_t cap) {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .:@-_/";
  size_t len = rng() % cap;  // at most cap-1
  std::string s;
  for (size_t i = 0; i < len; ++i) s += kChars[rng() % (sizeof kChars - 1)];
  return s;
}

// Fills every field; lists get a random count within capacity and only the
// counted entries are filled (the rest stay zero, as a decoder leaves them
// in a zeroed record).
inline void fill(int kind, unsigned char *rec, std::mt19937 &rng) {
  const KindDesc &d = kKinds[kind];
  int32_t count = 0;
  for (unsigned i = 0; i < d.nfields; ++i) {
    const FieldDesc &f = d.fields[i];
    unsigned char *p = rec + f.offset;
    switch (f.type) {
      case FT_I32:
      case FT_U32: {
        uint32_t v = (uint32_t)rng();
        if (rng() % 4 == 0) v = 0xFFFFFFFFu;  // -1 / 4294967295
        memcpy(p, &v, 4);
        break;
      }
      case FT_COUNT: {
        uint32_t cap = d.fields[i + 1].cap;
        count = (int32_t)(rng() % (cap + 1));
        memcpy(p, &count, 4);
        break;
      }
      case FT_TEXT: {
        std::string s = random_text(rng, f.cap);
        memset(p, 0, f.cap);
        memcpy(p, s.data(), s.size());
        break;
      }
      case FT_DBL: {
        double v = (double)(float)((int32_t)rng() / 1024.0);
        memcpy(p, &v, 8);
        break;
      }
      case FT_LIST:
        for (int32_t k = 0; k < count; ++k) fill(f.elemKind, p + (size_t)k * f.elemSize, rng);
        break;
      case FT_STRS:
      case FT_STRSKEEP:
        for (int32_t k = 0; k < count; ++k) {
          std::string s = random_text(rng, f.elemSize);
          memcpy(p + (size_t)k * f.elemSize, s.data(), s.size());
        }
        break;
    }
  }
}

inline const FieldDesc *field(int kind, const char *name) {
  const KindDesc &d = kKinds[kind];
  for (unsigned i = 0; i < d.nfields; ++i)
    if (strcmp(d.fields[i].name, name) == 0) return &d.fields[i];
  return nullptr;
}

}  // namespace recfill
