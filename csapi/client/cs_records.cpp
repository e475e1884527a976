/* The generic record engine: one decoder and one encoder body serve every
 * record kind, driven by offset descriptors expanded from the field lists in
 * cs_records.h. */
#include "csapi/client/cs_records.h"

#include <math.h>
#include <stdint.h>
#include <string.h>

#include <cstddef>
#include <type_traits>

#include "csapi/client/cs_record_desc.inc"

namespace cs_record_detail {
namespace {

/* ---- descriptors ---------------------------------------------------------- */

template <typename T>
struct KindOf;
#define CS_KIND_OF_RECORD(Name, Enum, P) \
  template <>                            \
  struct KindOf<CS##Name> {              \
    static constexpr int value = CS_KIND_##Name; \
  };
CS_RECORD_KINDS(CS_KIND_OF_RECORD)
#undef CS_KIND_OF_RECORD
#define CS_KIND_OF_ELEMENT(Name) \
  template <>                    \
  struct KindOf<CS##Name> {      \
    static constexpr int value = EK_##Name; \
  };
CS_ELEMENT_KINDS(CS_KIND_OF_ELEMENT)
#undef CS_KIND_OF_ELEMENT

#define CS_DESC_I32(S, n, c, a) {#n, FT_I32, offsetof(S, n), 0, 0, -1},
#define CS_DESC_U32(S, n, c, a) {#n, FT_U32, offsetof(S, n), 0, 0, -1},
#define CS_DESC_COUNT(S, n, c, a) {#n, FT_COUNT, offsetof(S, n), 0, 0, -1},
#define CS_DESC_TEXT(S, n, c, a) {#n, FT_TEXT, offsetof(S, n), (c), 0, -1},
#define CS_DESC_DBL(S, n, c, a) {#n, FT_DBL, offsetof(S, n), 0, 0, -1},
#define CS_DESC_LIST(S, n, c, a) {#n, FT_LIST, offsetof(S, n), (c), sizeof(a), KindOf<a>::value},
#define CS_DESC_STRS(S, n, c, a) {#n, FT_STRS, offsetof(S, n), (c), (a), -1},
#define CS_DESC_STRSKEEP(S, n, c, a) {#n, FT_STRSKEEP, offsetof(S, n), (c), (a), -1},
#define CS_DESC_EVENT(S, n, c, a)
#define CS_DESC_ROW(t, n, c, a, f) CS_DESC_##t(S, n, c, a)

/* Layout checks: the struct holds every described field, and the kinds that Java-visible structures copy byte for byte keep the
 * sizes those structures are built on. */
#define CS_SIZE_OF_ROW(t, n, c, a, f) CS_SIZE_OF_##t(n, c, a)
#define CS_SIZE_OF_I32(n, c, a) +4
#define CS_SIZE_OF_U32(n, c, a) +4
#define CS_SIZE_OF_COUNT(n, c, a) +4
#define CS_SIZE_OF_TEXT(n, c, a) +(c)
#define CS_SIZE_OF_DBL(n, c, a) +8
#define CS_SIZE_OF_LIST(n, c, a) +(c) * sizeof(a)
#define CS_SIZE_OF_STRS(n, c, a) +(c) * (a)
#define CS_SIZE_OF_STRSKEEP(n, c, a) +(c) * (a)
#define CS_SIZE_OF_EVENT(n, c, a)

#define CS_FIELD_TABLE(Name)                                                        \
  namespace fields_##Name {                                                         \
  using S = CS##Name;                                                               \
  static_assert(std::is_standard_layout<S>::value, "records are plain structs");    \
  static_assert(sizeof(S) >= 0 CS_FIELDS_##Name(CS_SIZE_OF_ROW), "fields overlap");  \
  const FieldDesc table[] = {CS_FIELDS_##Name(CS_DESC_ROW)};                        \
  static_assert(sizeof(table) / sizeof(FieldDesc) <= kMaxFields, "kMaxFields");     \
  }
#define CS_FIELD_TABLE_RECORD(Name, Enum, P) CS_FIELD_TABLE(Name)
CS_ELEMENT_KINDS(CS_FIELD_TABLE)
CS_RECORD_KINDS(CS_FIELD_TABLE_RECORD)
#undef CS_FIELD_TABLE_RECORD
#undef CS_FIELD_TABLE

/* Sizes the Java side reads in place (a link word, sometimes an index word,
 * then the record). */
static_assert(sizeof(CSTerm) == 1200 && offsetof(CSTerm, rate) == 524 && offsetof(CSTerm, dialedAddr) == 932 &&
                  offsetof(CSTerm, encrypted) == 1192,
              "KyrCallStruct copies CSTerm");
static_assert(sizeof(CSTermMedia) == 736 && offsetof(CSTermMedia, actualFrameRate) == 664 &&
                  offsetof(CSTermMedia, percentPacketLoss) == 680 && offsetof(CSTermMedia, maxJitter) == 728,
              "KyrCallMediaStruct copies CSTermMedia");
static_assert(sizeof(CSConf) == 316 && offsetof(CSConf, contentRestrict) == 312, "KyrConferenceStruct copies CSConf");
static_assert(sizeof(CSComm) == 136 && offsetof(CSComm, dialOrderCount) == 48 && offsetof(CSComm, dialOrder) == 52 &&
                  offsetof(CSComm, capabilities) == 132,
              "CommSystemStruct is CSComm");
static_assert(sizeof(CSAudio) == 116 && offsetof(CSAudio, incomingCallTone) == 48 && offsetof(CSAudio, audioCaps) == 112,
              "AudioSystemStruct is CSAudio");
static_assert(sizeof(CSDir) == 20, "DirectorySystemStruct is CSDir");
static_assert(sizeof(CSDirSrvr) == 820, "KyrDirServerStruct copies CSDirSrvr");
static_assert(sizeof(CSDirEnt) == 8808 && offsetof(CSDirEnt, videoDevice) == 1072 && offsetof(CSDirEnt, timeZone) == 8660,
              "KyrDirEntryStruct copies CSDirEnt");
static_assert(sizeof(CSVideoDevice) == 1492 && offsetof(CSVideoDevice, addr) == 140 && offsetof(CSVideoDevice, id) == 1428,
              "video device layout");
static_assert(sizeof(CSAddressList) == 2708 && offsetof(CSAddressList, siteName) == 2644 && sizeof(CSAddressEntry) == 264,
              "DirAddressListStruct is CSAddressList");
static_assert(offsetof(CSAddressListArray, list) == 4, "DirAddressListArrayStruct is CSAddressListArray");
static_assert(sizeof(CSCalSrvr) == 420, "CalendarServerInfoStruct copies CSCalSrvr");
static_assert(sizeof(CSCalMeeting) == 1876, "CalendarMeetingInfoStruct copies CSCalMeeting");

}  // namespace

#define CS_KIND_DESC(Name) \
  {"CS" #Name, sizeof(CS##Name), fields_##Name::table, sizeof(fields_##Name::table) / sizeof(FieldDesc)},
#define CS_KIND_DESC_RECORD(Name, Enum, P) CS_KIND_DESC(Name)

const KindDesc kKinds[EK_TOTAL] = {CS_RECORD_KINDS(CS_KIND_DESC_RECORD) CS_ELEMENT_KINDS(CS_KIND_DESC)};
#undef CS_KIND_DESC_RECORD
#undef CS_KIND_DESC

namespace {

/* ---- member lookup ---------------------------------------------------------
 * Members are matched to fields without regard to case through a small
 * open-addressed table per kind, so a decode walks the object's members once
 * instead of searching the object once per field. */

constexpr unsigned kSlots = 128; /* > 2 x the widest kind */

inline unsigned char lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? (unsigned char)(c + 32) : c; }

/* FNV-1a over the bytes with the 0x20 bit set: the same for any case of a
 * name (and a few other byte pairs, which the comparison tells apart). */
inline uint32_t hash_ci(const char *s) {
  uint32_t h = 2166136261u;
  for (; *s; ++s) h = (h ^ ((unsigned char)*s | 0x20u)) * 16777619u;
  return h;
}

inline bool equal_ci(const char *a, const char *b) {
  for (; *a && *b; ++a, ++b)
    if (lower((unsigned char)*a) != lower((unsigned char)*b)) return false;
  return *a == *b;
}

struct Lookup {
  uint8_t slot[EK_TOTAL][kSlots];      /* field index + 1; 0 marks an empty slot */
  uint32_t hash[EK_TOTAL][kMaxFields]; /* each field name's hash */
};

Lookup build_lookup() {
  Lookup l;
  memset(&l, 0, sizeof l);
  for (int k = 0; k < EK_TOTAL; ++k) {
    const KindDesc &d = kKinds[k];
    for (unsigned i = 0; i < d.nfields; ++i) {
      uint32_t h = hash_ci(d.fields[i].name);
      l.hash[k][i] = h;
      unsigned s = h & (kSlots - 1);
      while (l.slot[k][s]) s = (s + 1) & (kSlots - 1);
      l.slot[k][s] = (uint8_t)(i + 1);
    }
  }
  return l;
}

const Lookup &lookup() {
  static const Lookup l = build_lookup();
  return l;
}

int find_field(const Lookup &l, int kind, const KindDesc &d, const char *name) {
  const uint32_t h = hash_ci(name);
  const uint8_t *slots = l.slot[kind];
  unsigned s = h & (kSlots - 1);
  while (uint8_t v = slots[s]) {
    const char *field = d.fields[v - 1].name;
    /* Codecs send the names as written; other cases take the slower path. */
    if (l.hash[kind][v - 1] == h && (strcmp(field, name) == 0 || equal_ci(field, name))) return v - 1;
    s = (s + 1) & (kSlots - 1);
  }
  return -1;
}

/* ---- value conversion ------------------------------------------------------ */

/* Integer members: numbers truncated toward zero, true 1, anything else 0.
 * Values beyond a field's range saturate instead of overflowing; an
 * unsigned field also takes a negative number's 32-bit pattern (-1 is
 * 4294967295), as some codecs send all-ones masks signed. */
double integral(const cJSON *m, bool *ok) {
  *ok = false;
  if (!m) return 0;
  if (cJSON_IsTrue(m)) {
    *ok = true;
    return 1;
  }
  if (!cJSON_IsNumber(m) || m->valuedouble != m->valuedouble) return 0;
  *ok = true;
  return trunc(m->valuedouble);
}

int32_t signed_of(const cJSON *m) {
  bool ok;
  double d = integral(m, &ok);
  if (!ok) return 0;
  if (d >= 2147483647.0) return INT32_MAX;
  if (d <= -2147483648.0) return INT32_MIN;
  return (int32_t)d;
}

}  // namespace

uint32_t unsigned_of(const cJSON *m) {
  bool ok;
  double d = integral(m, &ok);
  if (!ok) return 0;
  if (d >= 4294967295.0) return UINT32_MAX;
  if (d >= 0) return (uint32_t)d;
  if (d <= -2147483648.0) return 0x80000000u;
  return (uint32_t)(int32_t)d;
}

namespace {

double double_of(const cJSON *m) {
  if (!m) return 0.0;
  if (cJSON_IsTrue(m)) return 1.0;
  if (!cJSON_IsNumber(m)) return 0.0;
  return (double)(float)m->valuedouble;
}

void text_of(char *dst, size_t cap, const cJSON *m) {
  const char *s = (m && cJSON_IsString(m)) ? m->valuestring : nullptr;
  size_t n = s ? strnlen(s, cap - 1) : 0;
  if (n) memcpy(dst, s, n);
  memset(dst + n, 0, cap - n); /* the rest of the buffer too: records are copied whole to Java */
}

inline void put_word(unsigned char *p, uint32_t v) { memcpy(p, &v, sizeof v); }
inline uint32_t get_word(const unsigned char *p) {
  uint32_t v;
  memcpy(&v, p, sizeof v);
  return v;
}

/* ---- decoder ------------------------------------------------------------- */

void decode(int kind, unsigned char *rec, const cJSON *obj) {
  const KindDesc &d = kKinds[kind];
  const cJSON *found[kMaxFields] = {};
  if (obj && cJSON_IsObject(obj)) {
    const Lookup &l = lookup();
    for (const cJSON *m = obj->child; m; m = m->next) {
      if (!m->string) continue;
      int i = find_field(l, kind, d, m->string);
      if (i >= 0 && !found[i]) found[i] = m; /* the first of duplicate members wins */
    }
  }
  uint32_t count = 0;         /* the last count read, never negative */
  unsigned char *countAt = 0; /* where it is stored */
  for (unsigned i = 0; i < d.nfields; ++i) {
    const FieldDesc &f = d.fields[i];
    unsigned char *p = rec + f.offset;
    const cJSON *m = found[i];
    switch (f.type) {
      case FT_I32:
        put_word(p, (uint32_t)signed_of(m));
        break;
      case FT_U32:
        put_word(p, unsigned_of(m));
        break;
      case FT_COUNT: {
        int32_t v = signed_of(m);
        count = v < 0 ? 0u : (uint32_t)v;
        countAt = p;
        put_word(p, count);
        break;
      }
      case FT_TEXT:
        text_of((char *)p, f.cap, m);
        break;
      case FT_DBL: {
        double v = double_of(m);
        memcpy(p, &v, sizeof v);
        break;
      }
      case FT_LIST:
      case FT_STRS:
      case FT_STRSKEEP: {
        uint32_t want = count < f.cap ? count : f.cap;
        if (!m) {
          /* No array: the list is cleared, except the address slots that
           * keep their last known addresses. The count stays as sent, within
           * the capacity. */
          if (f.type != FT_STRSKEEP) memset(p, 0, (size_t)f.cap * f.elemSize);
        } else {
          /* Only the entries the array really holds are read; the entries
           * past them keep what they held. */
          uint32_t k = 0;
          const cJSON *e = cJSON_IsArray(m) ? m->child : nullptr;
          for (; k < want && e; ++k, e = e->next) {
            unsigned char *slot = p + (size_t)k * f.elemSize;
            if (f.type == FT_LIST)
              decode(f.elemKind, slot, e);
            else
              text_of((char *)slot, f.elemSize, e);
          }
          want = k;
        }
        if (countAt) put_word(countAt, want);
        count = 0;
        countAt = 0;
        break;
      }
    }
  }
}

/* ---- encoder ------------------------------------------------------------- */

cJSON *text_item(const unsigned char *p, size_t cap) {
  const char *s = (const char *)p;
  if (memchr(s, 0, cap)) return cJSON_CreateString(s);
  /* An unterminated buffer is sent as the decoder would have kept it. */
  char tmp[kMaxText];
  size_t n = cap - 1 < sizeof tmp - 1 ? cap - 1 : sizeof tmp - 1;
  memcpy(tmp, s, n);
  tmp[n] = 0;
  return cJSON_CreateString(tmp);
}

bool add(cJSON *to, const char *key, cJSON *item) {
  if (!item) return false;
  if (key ? cJSON_AddItemToObjectCS(to, key, item) : cJSON_AddItemToArray(to, item)) return true;
  cJSON_Delete(item);
  return false;
}

cJSON *encode(int kind, const unsigned char *rec) {
  const KindDesc &d = kKinds[kind];
  cJSON *o = cJSON_CreateObject();
  if (!o) return nullptr;
  uint32_t count = 0;
  for (unsigned i = 0; i < d.nfields; ++i) {
    const FieldDesc &f = d.fields[i];
    const unsigned char *p = rec + f.offset;
    cJSON *item = nullptr;
    switch (f.type) {
      case FT_I32:
        item = cJSON_CreateNumber((double)(int32_t)get_word(p));
        break;
      case FT_U32:
        item = cJSON_CreateNumber((double)get_word(p));
        break;
      case FT_COUNT: {
        /* Written as the number of entries that follow, so a count beyond
         * the list never makes the encoder read past it. */
        int32_t v = (int32_t)get_word(p);
        uint32_t cap = i + 1 < d.nfields ? d.fields[i + 1].cap : 0;
        count = v < 0 ? 0u : ((uint32_t)v < cap ? (uint32_t)v : cap);
        item = cJSON_CreateNumber((double)count);
        break;
      }
      case FT_TEXT:
        item = text_item(p, f.cap);
        break;
      case FT_DBL: {
        double v;
        memcpy(&v, p, sizeof v);
        item = cJSON_CreateNumber(v);
        break;
      }
      case FT_LIST:
      case FT_STRS:
      case FT_STRSKEEP: {
        item = cJSON_CreateArray();
        for (uint32_t k = 0; item && k < count; ++k) {
          const unsigned char *slot = p + (size_t)k * f.elemSize;
          cJSON *e = f.type == FT_LIST ? encode(f.elemKind, slot) : text_item(slot, f.elemSize);
          if (!add(item, nullptr, e)) {
            cJSON_Delete(item);
            item = nullptr;
          }
        }
        count = 0;
        break;
      }
    }
    if (!add(o, f.name, item)) {
      cJSON_Delete(o);
      return nullptr;
    }
  }
  return o;
}

}  // namespace
}  // namespace cs_record_detail

using namespace cs_record_detail;

extern "C" {

size_t cs_record_size(cs_kind kind) {
  return (unsigned)kind < (unsigned)CS_KIND_COUNT ? kKinds[kind].size : 0;
}

const char *cs_record_name(cs_kind kind) {
  return (unsigned)kind < (unsigned)CS_KIND_COUNT ? kKinds[kind].name : nullptr;
}

int cs_record_decode(cs_kind kind, void *rec, const cJSON *obj) {
  if (!rec || (unsigned)kind >= (unsigned)CS_KIND_COUNT) return -10;
  decode(kind, static_cast<unsigned char *>(rec), obj);
  return 0;
}

cJSON *cs_record_encode(cs_kind kind, const void *rec) {
  if (!rec || (unsigned)kind >= (unsigned)CS_KIND_COUNT) return nullptr;
  return encode(kind, static_cast<const unsigned char *>(rec));
}

#define CS_DEFINE_PARSER(Name, Enum, P) \
  int parseCS##Name##Msg(CS##Name *rec, const cJSON *obj) { return cs_record_decode(CS_KIND_##Name, rec, obj); }
CS_RECORD_KINDS(CS_DEFINE_PARSER)
#undef CS_DEFINE_PARSER

#define CS_DEFINE_BUILDER(Name) \
  cJSON *buildCS##Name##Msg(const CS##Name *rec) { return cs_record_encode(CS_KIND_##Name, rec); }
CS_DEFINE_BUILDER(CalSrvr)
CS_DEFINE_BUILDER(CalMeeting)
CS_DEFINE_BUILDER(DirEnt)
CS_DEFINE_BUILDER(ContentSrc)
CS_DEFINE_BUILDER(AddressList)
CS_DEFINE_BUILDER(AddressListArray)
#undef CS_DEFINE_BUILDER

}  // extern "C"
