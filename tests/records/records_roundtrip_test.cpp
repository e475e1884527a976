// Encoders: every kind survives encode -> text -> decode unchanged; members
// come out in declaration order with the right number forms; lists carry
// exactly their count.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "csapi/client/cs_records.h"
#include "record_fill.h"

namespace {

using recfill::Rec;

void round_trip(int kind) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    std::mt19937 rng(seed * 7919u + (unsigned)kind);
    Rec src(kind), dst(kind);
    recfill::fill(kind, src.bytes, rng);
    cJSON *obj = cs_record_encode((cs_kind)kind, src.bytes);
    ASSERT_NE(obj, nullptr) << cs_record_name((cs_kind)kind);
    char *text = cJSON_PrintUnformatted(obj);
    cJSON_Delete(obj);
    ASSERT_NE(text, nullptr);
    cJSON *back = cJSON_Parse(text);
    ASSERT_NE(back, nullptr);
    ASSERT_EQ(cs_record_decode((cs_kind)kind, dst.bytes, back), 0);
    cJSON_Delete(back);
    EXPECT_EQ(memcmp(src.bytes, dst.bytes, src.size), 0) << cs_record_name((cs_kind)kind) << " seed " << seed << "\n"
                                                         << text;
    cJSON_free(text);
  }
}

void member_order(int kind) {
  std::mt19937 rng(99);
  Rec src(kind);
  recfill::fill(kind, src.bytes, rng);
  cJSON *obj = cs_record_encode((cs_kind)kind, src.bytes);
  ASSERT_NE(obj, nullptr);
  const recfill::KindDesc &d = recfill::kKinds[kind];
  unsigned i = 0;
  for (cJSON *m = obj->child; m; m = m->next, ++i) {
    ASSERT_LT(i, d.nfields);
    EXPECT_STREQ(m->string, d.fields[i].name);
  }
  EXPECT_EQ(i, d.nfields);
  cJSON_Delete(obj);
}

// One test over all kinds (each kind its own trace), rather than a process
// per kind in the sanitizer run.
TEST(RoundTrip, EveryKindEncodeThenDecodeGivesBackEveryField) {
  for (int kind = 0; kind < CS_KIND_COUNT; ++kind) {
    SCOPED_TRACE(cs_record_name((cs_kind)kind));
    round_trip(kind);
  }
}

TEST(RoundTrip, EveryKindWritesItsMembersInDeclarationOrder) {
  for (int kind = 0; kind < CS_KIND_COUNT; ++kind) {
    SCOPED_TRACE(cs_record_name((cs_kind)kind));
    member_order(kind);
  }
}

TEST(Encode, UnsignedAndSignedFieldsKeepTheirForms) {
  CSAudioOut o;
  memset(&o, 0, sizeof o);
  o.level = 0xFFFFFFFFu;
  o.bass = -3;
  o.treble = INT32_MIN;
  cJSON *j = cs_record_encode(CS_KIND_AudioOut, &o);
  ASSERT_NE(j, nullptr);
  char *text = cJSON_PrintUnformatted(j);
  std::string s(text);
  EXPECT_NE(s.find("\"level\":4294967295"), std::string::npos) << s;
  EXPECT_NE(s.find("\"bass\":-3"), std::string::npos) << s;
  EXPECT_NE(s.find("\"treble\":-2147483648"), std::string::npos) << s;
  EXPECT_EQ(s.rfind("{\"srvrInstance\":0,\"handle\":0,\"name\":\"\",", 0), 0u) << s;
  cJSON_free(text);
  cJSON_Delete(j);
}

TEST(Encode, AddressListWritesExactlyItsCountWhateverTheOtherEntriesHold) {
  CSAddressList l;
  memset(&l, 'x', sizeof l);  // unterminated garbage everywhere
  l.listCount = 2;
  l.list[0].rate = 384;
  strcpy(l.list[0].Address, "10.0.0.1");
  l.list[1].rate = 512;
  strcpy(l.list[1].Address, "h323:room");
  strcpy(l.siteName, "HQ");
  cJSON *j = buildCSAddressListMsg(&l);
  ASSERT_NE(j, nullptr);
  char *text = cJSON_PrintUnformatted(j);
  EXPECT_STREQ(text,
               "{\"listCount\":2,\"list\":[{\"rate\":384,\"Address\":\"10.0.0.1\"},{\"rate\":512,\"Address\":"
               "\"h323:room\"}],\"siteName\":\"HQ\"}");
  cJSON_free(text);
  cJSON_Delete(j);
}

TEST(Encode, CountsOutsideTheListAreWrittenWithinItAndTextIsNeverReadPastItsBuffer) {
  struct Case {
    int32_t count;
    int expect;
  } cases[] = {{-5, 0}, {0, 0}, {10, 10}, {11, 10}, {1000000, 10}};
  for (const Case &c : cases) {
    auto *comm = new CSComm;
    memset(comm, 0, sizeof *comm);
    comm->dialOrderCount = c.count;
    cJSON *j = cs_record_encode(CS_KIND_Comm, comm);
    ASSERT_NE(j, nullptr);
    EXPECT_EQ(cJSON_GetObjectItem(j, "dialOrderCount")->valueint, c.expect);
    EXPECT_EQ(cJSON_GetArraySize(cJSON_GetObjectItem(j, "dialOrder")), c.expect);
    cJSON_Delete(j);
    delete comm;
  }
  // A text buffer without its NUL goes out as capacity-1 characters.
  Rec r(CS_KIND_Sys, 'q');
  cJSON *j = cs_record_encode(CS_KIND_Sys, r.bytes);
  ASSERT_NE(j, nullptr);
  EXPECT_EQ(strlen(cJSON_GetObjectItem(j, "model")->valuestring), 31u);
  EXPECT_EQ(strlen(cJSON_GetObjectItem(j, "hostName")->valuestring), 127u);
  cJSON_Delete(j);
}

TEST(Encode, BuildersWriteWhatTheirDecodersRead) {
  std::mt19937 rng(5);
  Rec m(CS_KIND_CalMeeting), s(CS_KIND_CalSrvr), e(CS_KIND_DirEnt), c(CS_KIND_ContentSrc), a(CS_KIND_AddressListArray);
  recfill::fill(CS_KIND_CalMeeting, m.bytes, rng);
  recfill::fill(CS_KIND_CalSrvr, s.bytes, rng);
  recfill::fill(CS_KIND_DirEnt, e.bytes, rng);
  recfill::fill(CS_KIND_ContentSrc, c.bytes, rng);
  recfill::fill(CS_KIND_AddressListArray, a.bytes, rng);
  struct Case {
    cs_kind kind;
    cJSON *built;
    const unsigned char *rec;
  } cases[] = {
      {CS_KIND_CalMeeting, buildCSCalMeetingMsg((const CSCalMeeting *)m.bytes), m.bytes},
      {CS_KIND_CalSrvr, buildCSCalSrvrMsg((const CSCalSrvr *)s.bytes), s.bytes},
      {CS_KIND_DirEnt, buildCSDirEntMsg((const CSDirEnt *)e.bytes), e.bytes},
      {CS_KIND_ContentSrc, buildCSContentSrcMsg((const CSContentSrc *)c.bytes), c.bytes},
      {CS_KIND_AddressListArray, buildCSAddressListArrayMsg((const CSAddressListArray *)a.bytes), a.bytes},
  };
  for (const Case &k : cases) {
    ASSERT_NE(k.built, nullptr);
    Rec back(k.kind);
    ASSERT_EQ(cs_record_decode(k.kind, back.bytes, k.built), 0);
    EXPECT_EQ(memcmp(back.bytes, k.rec, back.size), 0) << cs_record_name(k.kind);
    cJSON_Delete(k.built);
  }
  EXPECT_EQ(buildCSDirEntMsg(nullptr), nullptr);
  EXPECT_EQ(cs_record_encode(CS_KIND_COUNT, m.bytes), nullptr);
}

}  // namespace
