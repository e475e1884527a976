// Records, field flags, operations and notifications, all expanded from the
// library's own descriptions: the record engine's field descriptors print a
// record, the record encoder writes its JSON, one more expansion of every
// CS_FIELDS_<Name> names the flag bits, and cs_ops.def / CS_NOTIFY_ALL list
// the methods. Nothing here is written per record kind.
#include <ctype.h>
#include <string.h>
#include <time.h>

#include <algorithm>

#include "csapi/client/cs_dispatch.h"
#include "csapi/client/cs_record_desc.inc"
#include "kyrctl.h"
#include "service/interfaces/comm.h"

namespace kyrctl {
namespace {

using cs_record_detail::FieldDesc;
using cs_record_detail::kKinds;

// ---- which fields carry a secret, a time or a state ----------------------

bool is_secret(const char *name) {
  std::string n(name);
  std::transform(n.begin(), n.end(), n.begin(), [](unsigned char c) { return (char)tolower(c); });
  return n.find("pass") != std::string::npos || n.find("pwd") != std::string::npos;
}

const char kHidden[] = "********";

enum class Note { None, Time, CallState, AuthState };

struct NoteRow {
  const char *kind;  // "CSTerm"
  const char *field;
  Note note;
};

// Codec times are seconds since 1970 (UTC); the call states have names.
const NoteRow kNotes[] = {
    {"CSTerm", "state", Note::CallState},
    {"CSTerm", "authState", Note::AuthState},
    {"CSTerm", "connectTime", Note::Time},
    {"CSTerm", "disconnectTime", Note::Time},
    {"CSRecentCallArchive", "archiveTime", Note::Time},
    {"CSDirSrvr", "lastModifiedTime", Note::Time},
    {"CSCalMeeting", "startTime", Note::Time},
    {"CSCalMeeting", "endTime", Note::Time},
    {"CSSys", "bootTime", Note::Time},
    {"CSTime", "time", Note::Time},
};

Note note_of(int kind, const char *field) {
  for (const NoteRow &r : kNotes)
    if (strcmp(r.kind, kKinds[kind].name) == 0 && strcmp(r.field, field) == 0) return r.note;
  return Note::None;
}

uint32_t word_at(const unsigned char *p) {
  uint32_t v;
  memcpy(&v, p, sizeof v);
  return v;
}

std::string text_at(const unsigned char *p, size_t cap) { return shown(reinterpret_cast<const char *>(p), cap); }

std::string value_text(int kind, const FieldDesc &f, const unsigned char *p) {
  char buf[64];
  switch (f.type) {
    case cs_record_detail::FT_I32:
      snprintf(buf, sizeof buf, "%d", (int32_t)word_at(p));
      break;
    case cs_record_detail::FT_DBL: {
      double d;
      memcpy(&d, p, sizeof d);
      snprintf(buf, sizeof buf, "%g", d);
      return buf;
    }
    case cs_record_detail::FT_TEXT: {
      std::string t = text_at(p, f.cap);
      return is_secret(f.name) && !t.empty() ? kHidden : t;
    }
    default:
      snprintf(buf, sizeof buf, "%u", word_at(p));
  }
  uint32_t v = word_at(p);
  switch (note_of(kind, f.name)) {
    case Note::Time:
      return v ? std::string(buf) + "  (" + local_time(v) + ")" : std::string(buf);
    case Note::CallState:
      return std::string(buf) + "  " + term_state_name(v);
    case Note::AuthState:
      return std::string(buf) + "  " + comm_auth_state_name(v);
    case Note::None:
      break;
  }
  return buf;
}

// Entries of the list that follows a count field, within its capacity.
uint32_t list_count(const FieldDesc *fields, unsigned i, unsigned n, const unsigned char *rec) {
  if (i == 0 || fields[i - 1].type != cs_record_detail::FT_COUNT) return fields[i].cap;
  int32_t c = (int32_t)word_at(rec + fields[i - 1].offset);
  (void)n;
  return c < 0 ? 0u : std::min<uint32_t>((uint32_t)c, fields[i].cap);
}

void print_kind(FILE *f, int kind, const unsigned char *rec, int indent) {
  const auto &d = kKinds[kind];
  size_t width = 0;
  for (unsigned i = 0; i < d.nfields; ++i) width = std::max(width, strlen(d.fields[i].name) + 4);
  for (unsigned i = 0; i < d.nfields; ++i) {
    const FieldDesc &fd = d.fields[i];
    const unsigned char *p = rec + fd.offset;
    if (fd.type == cs_record_detail::FT_LIST || fd.type == cs_record_detail::FT_STRS ||
        fd.type == cs_record_detail::FT_STRSKEEP) {
      uint32_t n = list_count(d.fields, i, d.nfields, rec);
      for (uint32_t k = 0; k < n; ++k) {
        const unsigned char *slot = p + (size_t)k * fd.elemSize;
        std::string label = std::string(fd.name) + "[" + std::to_string(k) + "]";
        if (fd.type == cs_record_detail::FT_LIST) {
          fprintf(f, "%*s%s  (%s)\n", indent, "", label.c_str(), kKinds[fd.elemKind].name);
          print_kind(f, fd.elemKind, slot, indent + 2);
        } else {
          fprintf(f, "%*s%-*s  %s\n", indent, "", (int)width, label.c_str(), text_at(slot, fd.elemSize).c_str());
        }
      }
      continue;
    }
    fprintf(f, "%*s%-*s  %s\n", indent, "", (int)width, fd.name, value_text(kind, fd, p).c_str());
  }
}

void hide_secrets(cJSON *o) {
  for (cJSON *m = o ? o->child : nullptr; m; m = m->next) {
    if (cJSON_IsString(m) && m->string && is_secret(m->string) && m->valuestring && *m->valuestring)
      cJSON_SetValuestring(m, kHidden);
    else if (cJSON_IsObject(m) || cJSON_IsArray(m))
      hide_secrets(m);
  }
}

// ---- flag bits: one more expansion of every CS_FIELDS_<Name> --------------
// The flag column is re-read as the bits it gives out; a field with two
// bits (the dial order) is named by either.

struct FlagBit {
  const char *field;
  uint32_t bits;
};

#undef CS_F0
#undef CS_F
#undef CS_F2
#define CS_F0 0u
#define CS_F(n, v) (uint32_t)(v)
#define CS_F2(n1, v1, n2, v2) (uint32_t)((v1) | (v2))
#define KC_FLAG_ROW(t, n, c, a, f) {#n, f},
#define KC_FLAG_TABLE(Name, Enum, P) const FlagBit kFlags_##Name[] = {CS_FIELDS_##Name(KC_FLAG_ROW){nullptr, 0}};
CS_RECORD_KINDS(KC_FLAG_TABLE)
#undef KC_FLAG_TABLE
#define KC_FLAG_ENTRY(Name, Enum, P) kFlags_##Name,
const FlagBit *const kFlags[CS_KIND_COUNT] = {CS_RECORD_KINDS(KC_FLAG_ENTRY)};
#undef KC_FLAG_ENTRY
#undef KC_FLAG_ROW

// ---- operations: one more expansion of cs_ops.def -------------------------

#define CS_UNPAREN(...) __VA_ARGS__
#define TGT(n, K) 0
#define TGT_NUM(n) 0
#define T_30 0
#define T_MS(n) 0
#define R_CALL -1
#define R_GET(K) CS_KIND_##K
#define R_LIST(K) CS_KIND_##K
#define P_H(n, K, key) key ":handle(CS" #K ") "
#define P_OBJ(n, K, key) key ":CS" #K " "
#define P_NULL(key) key ":null "
#define P_U(n, key) key ":unsigned "
#define P_I(n, key) key ":signed "
#define P_D(n, key) key ":number "
#define P_S(n, key) key ":text "
const OpInfo kOpTable[] = {
#define CS_OP(name, sig, args, target, timeout, result, params) {#name, result, CS_UNPAREN params ""},
#include "csapi/client/cs_ops.def"
#undef CS_OP
};

const NotifyInfo kNotifyTable[] = {
#define KC_NOTIFY_ROW(Event, Kind, Param) {"cs" #Event "CB", CS_KIND_##Kind},
    CS_NOTIFY_ALL(KC_NOTIFY_ROW)
#undef KC_NOTIFY_ROW
};

size_t edit_distance(const std::string &a, const std::string &b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diag = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t up = row[j];
      bool same = tolower((unsigned char)a[i - 1]) == tolower((unsigned char)b[j - 1]);
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + (same ? 0 : 1)});
      diag = up;
    }
  }
  return row[b.size()];
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return (char)tolower(c); });
  return s;
}

}  // namespace

cJSON *record_json(cs_kind kind, const void *rec) {
  cJSON *o = cs_record_encode(kind, rec);
  hide_secrets(o);
  return o;
}

void record_stamp_instance(cs_kind kind, void *rec, int32_t instance) {
  if ((unsigned)kind >= (unsigned)CS_KIND_COUNT || !rec) return;
  const auto &d = kKinds[kind];
  for (unsigned i = 0; i < d.nfields; ++i)
    if (strcmp(d.fields[i].name, "srvrInstance") == 0)
      memcpy(static_cast<unsigned char *>(rec) + d.fields[i].offset, &instance, sizeof instance);
}

void record_print(FILE *f, cs_kind kind, const void *rec, int indent) {
  if ((unsigned)kind >= (unsigned)CS_KIND_COUNT || !rec) return;
  print_kind(f, kind, static_cast<const unsigned char *>(rec), indent);
}

cJSON *changed_fields(cs_kind kind, uint32_t flags) {
  cJSON *a = cJSON_CreateArray();
  if ((unsigned)kind >= (unsigned)CS_KIND_COUNT) return a;
  uint32_t named = 0;
  for (const FlagBit *b = kFlags[kind]; b->field; ++b) {
    if (!(b->bits & flags)) continue;
    named |= b->bits;
    cJSON_AddItemToArray(a, cJSON_CreateString(b->field));
  }
  // Bits no field owns (the codec numbers some kinds itself) stay visible.
  for (uint32_t bit = 1; bit; bit <<= 1) {
    if (!(flags & bit) || (named & bit)) continue;
    char hex[16];
    snprintf(hex, sizeof hex, "0x%x", bit);
    cJSON_AddItemToArray(a, cJSON_CreateString(hex));
  }
  return a;
}

std::string shown(const char *text, size_t cap) {
  std::string out;
  for (size_t i = 0; text && i < cap && text[i]; ++i) {
    unsigned char c = (unsigned char)text[i];
    if (c < 0x20 || c == 0x7f) {
      char esc[8];
      snprintf(esc, sizeof esc, "\\x%02x", c);
      out += esc;
    } else {
      out += (char)c;
    }
  }
  return out;
}

const char *term_state_name(uint32_t state) { return comm_call_state_name(state); }

std::string local_time(uint32_t t) {
  if (!t) return "-";
  time_t tt = (time_t)t;
  struct tm tm;
  char buf[64];
  if (!localtime_r(&tt, &tm) || !strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S %Z", &tm)) return "?";
  return buf;
}

const OpInfo *op_find(const std::string &name) {
  for (const OpInfo &o : kOpTable)
    if (name == o.name) return &o;
  return nullptr;
}
size_t op_count() { return sizeof kOpTable / sizeof kOpTable[0]; }
const OpInfo &op_at(size_t i) { return kOpTable[i]; }

size_t notify_count() { return sizeof kNotifyTable / sizeof kNotifyTable[0]; }
const NotifyInfo &notify_at(size_t i) { return kNotifyTable[i]; }

std::vector<std::string> near_matches(const std::string &word, const std::vector<std::string> &names, size_t max) {
  std::vector<std::pair<size_t, std::string>> scored;
  const std::string w = lower(word);
  const size_t limit = std::max<size_t>(2, word.size() / 3);
  for (const std::string &n : names) {
    const std::string ln = lower(n);
    size_t d = edit_distance(word, n);
    // A fragment of the name counts as close too ("termget" finds csTermGet).
    if (w.size() >= 3 && ln.find(w) != std::string::npos) d = std::min<size_t>(d, 1);
    if (d <= limit) scored.emplace_back(d, n);
  }
  std::stable_sort(scored.begin(), scored.end(),
                   [](const auto &a, const auto &b) { return a.first < b.first; });
  std::vector<std::string> out;
  for (size_t i = 0; i < scored.size() && out.size() < max; ++i) out.push_back(scored[i].second);
  return out;
}

}  // namespace kyrctl
