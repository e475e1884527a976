// Hostile input: counts far beyond a list or below zero, arrays shorter than
// their count, 1 MiB strings and members of the wrong type, for every kind.
// Records live in exact-size heap blocks so the sanitizer build catches any
// write past them.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "csapi/client/cs_records.h"
#include "record_fill.h"

namespace {

using namespace cs_record_detail;
using recfill::Rec;

const std::string &huge() {
  static const std::string s(1u << 20, 'h');
  return s;
}

enum Mode { kHugeCounts, kNegativeCounts, kWrongTypes };

cJSON *hostile_value(const FieldDesc &f, Mode mode, std::mt19937 &rng, int depth);

cJSON *hostile_object(int kind, Mode mode, std::mt19937 &rng, int depth) {
  const KindDesc &d = kKinds[kind];
  cJSON *o = cJSON_CreateObject();
  for (unsigned i = 0; i < d.nfields; ++i) cJSON_AddItemToObject(o, d.fields[i].name, hostile_value(d.fields[i], mode, rng, depth));
  return o;
}

cJSON *hostile_value(const FieldDesc &f, Mode mode, std::mt19937 &rng, int depth) {
  switch (f.type) {
    case FT_COUNT:
      if (mode == kHugeCounts) return cJSON_CreateNumber(rng() % 2 ? 1000000 : 1e300);
      if (mode == kNegativeCounts) return cJSON_CreateNumber(rng() % 2 ? -5 : -1e300);
      return cJSON_CreateString("7");
    case FT_I32:
    case FT_U32:
    case FT_DBL:
      return mode == kWrongTypes ? cJSON_CreateStringReference(huge().c_str()) : cJSON_CreateNumber(-1e308);
    case FT_TEXT:
      return mode == kWrongTypes ? cJSON_CreateNumber(12) : cJSON_CreateStringReference(huge().c_str());
    case FT_LIST: {
      if (mode == kWrongTypes) return rng() % 2 ? cJSON_CreateObject() : cJSON_CreateString("x");
      cJSON *a = cJSON_CreateArray();
      // Three entries, all short of any hostile count; one is not an object.
      for (int k = 0; k < 3 && depth < 4; ++k)
        cJSON_AddItemToArray(a, k == 1 ? cJSON_CreateNumber(5) : hostile_object(f.elemKind, mode, rng, depth + 1));
      return a;
    }
    case FT_STRS:
    case FT_STRSKEEP: {
      if (mode == kWrongTypes) return cJSON_CreateNumber(3);
      cJSON *a = cJSON_CreateArray();
      cJSON_AddItemToArray(a, cJSON_CreateStringReference(huge().c_str()));
      cJSON_AddItemToArray(a, cJSON_CreateNull());
      cJSON_AddItemToArray(a, cJSON_CreateStringReference(huge().c_str()));
      return a;
    }
  }
  return cJSON_CreateNull();
}

// Every count lies within its list and the entries the array held (3 at
// most), every text is terminated within its buffer; recursively.
void check(int kind, const unsigned char *rec, const std::string &where) {
  const KindDesc &d = kKinds[kind];
  int32_t count = 0;
  for (unsigned i = 0; i < d.nfields; ++i) {
    const FieldDesc &f = d.fields[i];
    const unsigned char *p = rec + f.offset;
    if (f.type == FT_COUNT) {
      memcpy(&count, p, 4);
      uint32_t cap = d.fields[i + 1].cap;
      EXPECT_GE(count, 0) << where << "." << f.name;
      EXPECT_LE(count, (int32_t)(cap < 3 ? cap : 3)) << where << "." << f.name;
    } else if (f.type == FT_TEXT) {
      EXPECT_EQ(p[f.cap - 1], 0) << where << "." << f.name;
    } else if (f.type == FT_LIST) {
      for (int32_t k = 0; k < count && k < (int32_t)f.cap; ++k)
        check(f.elemKind, p + (size_t)k * f.elemSize, where + "." + f.name);
    } else if (f.type == FT_STRS || f.type == FT_STRSKEEP) {
      for (int32_t k = 0; k < count && k < (int32_t)f.cap; ++k)
        EXPECT_EQ(p[(size_t)k * f.elemSize + f.elemSize - 1], 0) << where << "." << f.name;
    }
  }
}

void hostile(int kind) {
  for (Mode mode : {kHugeCounts, kNegativeCounts, kWrongTypes}) {
    std::mt19937 rng(kind * 31 + mode);
    cJSON *obj = hostile_object(kind, mode, rng, 0);
    Rec r(kind, 0x5A);
    ASSERT_EQ(cs_record_decode((cs_kind)kind, r.bytes, obj), 0);
    check(kind, r.bytes, cs_record_name((cs_kind)kind));
    // What came in can go out again, and comes back the same.
    cJSON *again = cs_record_encode((cs_kind)kind, r.bytes);
    ASSERT_NE(again, nullptr);
    Rec r2(kind, 0x5A);
    ASSERT_EQ(cs_record_decode((cs_kind)kind, r2.bytes, again), 0);
    check(kind, r2.bytes, cs_record_name((cs_kind)kind));
    cJSON_Delete(again);
    cJSON_Delete(obj);
  }
}

TEST(Hostile, NothingIsWrittenOrReadOutsideAnyKindOfRecord) {
  for (int kind = 0; kind < CS_KIND_COUNT; ++kind) {
    SCOPED_TRACE(cs_record_name((cs_kind)kind));
    hostile(kind);
  }
}

TEST(HostileCounts, ClampedToCapacityAndToTheArray) {
  struct Case {
    const char *json;
    int32_t count;
  } cases[] = {
      {"{\"dialOrderCount\":1000000,\"dialOrder\":[{},{},{},{},{},{},{},{},{},{},{},{}]}", 10},
      {"{\"dialOrderCount\":1000000,\"dialOrder\":[{\"videoOrder\":1}]}", 1},
      {"{\"dialOrderCount\":-5,\"dialOrder\":[{\"videoOrder\":1}]}", 0},
      {"{\"dialOrderCount\":-5}", 0},
      {"{\"dialOrderCount\":1000000}", 10},
      {"{\"dialOrderCount\":1e300}", 10},
      {"{\"dialOrderCount\":4294967295,\"dialOrder\":[{}]}", 1},
      {"{\"dialOrderCount\":4,\"dialOrder\":\"four\"}", 0},
      {"{\"dialOrderCount\":4,\"dialOrder\":{\"a\":{},\"b\":{}}}", 0},
  };
  for (const Case &c : cases) {
    auto *comm = new CSComm;
    memset(comm, 0, sizeof *comm);
    cJSON *j = cJSON_Parse(c.json);
    ASSERT_NE(j, nullptr);
    EXPECT_EQ(parseCSCommMsg(comm, j), 0);
    EXPECT_EQ(comm->dialOrderCount, c.count) << c.json;
    cJSON_Delete(j);
    delete comm;
  }
}

}  // namespace
