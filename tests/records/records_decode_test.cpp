// Decoding rules: member lookup, number, text and double conversion, lists.
#include <gtest/gtest.h>
#include <math.h>

#include <memory>
#include <string>

#include "csapi/client/cs_records.h"
#include "record_fill.h"

namespace {

struct JsonDeleter {
  void operator()(cJSON *j) const { cJSON_Delete(j); }
};
using Json = std::unique_ptr<cJSON, JsonDeleter>;

Json parse(const std::string &text) {
  Json j(cJSON_Parse(text.c_str()));
  EXPECT_NE(j.get(), nullptr) << text;
  return j;
}

template <typename T>
T decode(cs_kind kind, const std::string &text, unsigned char init = 0) {
  T rec;
  memset(&rec, init, sizeof rec);
  Json j = parse(text);
  EXPECT_EQ(cs_record_decode(kind, &rec, j.get()), 0);
  return rec;
}

// Numbers: one table of member values and what a u32 field (CSTerm.state)
// and an i32 field (CSTerm.numMedia) make of each.
struct NumberCase {
  const char *json;
  uint32_t u32;
  int32_t i32;
};
const NumberCase kNumbers[] = {
    {"7", 7, 7},
    {"true", 1, 1},
    {"false", 0, 0},
    {"null", 0, 0},
    {"\"3\"", 0, 0},
    {"[1]", 0, 0},
    {"{\"a\":1}", 0, 0},
    {"2.9", 2, 2},
    {"-2.9", 0xFFFFFFFEu, -2},
    {"-1", 0xFFFFFFFFu, -1},
    {"0.999", 0, 0},
    {"4294967295", 0xFFFFFFFFu, INT32_MAX},
    {"2147483648", 0x80000000u, INT32_MAX},
    {"2147483647", 0x7FFFFFFFu, INT32_MAX},
    {"-2147483648", 0x80000000u, INT32_MIN},
    {"1e30", 0xFFFFFFFFu, INT32_MAX},
    {"-1e30", 0x80000000u, INT32_MIN},
};

TEST(Decode, IntegerFieldsTakeTheTruncatedValueWithinTheirRange) {
  for (const NumberCase &c : kNumbers) {
    SCOPED_TRACE(c.json);
    CSTerm t =
        decode<CSTerm>(CS_KIND_Term, std::string("{\"state\":") + c.json + ",\"numMedia\":" + c.json + "}", 0x5A);
    EXPECT_EQ(t.state, c.u32);
    EXPECT_EQ(t.numMedia, c.i32);
  }
}

TEST(Decode, MissingMembersGiveZeroAndEmptyWhateverTheRecordHeld) {
  CSTerm t = decode<CSTerm>(CS_KIND_Term, "{\"name\":\"far end\",\"muted\":true}", 0x5A);
  EXPECT_STREQ(t.name, "far end");
  EXPECT_EQ(t.state, 0u);  // "Active"
  EXPECT_EQ(t.muted, 1u);
  EXPECT_EQ(t.handle, 0u);
  EXPECT_EQ(t.callerID[0], 0);
  EXPECT_EQ(t.dialedAddr[0], 0);
  EXPECT_EQ(t.type, 0u);
}

TEST(Decode, ConferenceNumTermsGivenAsStringIsZero) {
  CSConf c = decode<CSConf>(CS_KIND_Conf, "{\"numTerms\":\"3\",\"maxTerms\":4}");
  EXPECT_EQ(c.numTerms, 0u);
  EXPECT_EQ(c.maxTerms, 4u);
}

TEST(Decode, TextIsCutToCapacityAndTerminated) {
  struct Case {
    cs_kind kind;
    const char *field;
    size_t len;
  } cases[] = {
      {CS_KIND_Term, "name", 200},           {CS_KIND_Term, "name", 127},         {CS_KIND_Term, "addr", 300},
      {CS_KIND_Camera, "userName", 40},      {CS_KIND_CalMeeting, "subject", 200}, {CS_KIND_Location, "countryShortName", 3},
      {CS_KIND_IsdnLine, "addressA", 11},
  };
  for (const Case &c : cases) {
    const recfill::FieldDesc *f = recfill::field(c.kind, c.field);
    ASSERT_NE(f, nullptr) << c.field;
    std::string value;
    for (size_t i = 0; i < c.len; ++i) value += (char)('a' + i % 26);
    Json j(cJSON_CreateObject());
    cJSON_AddStringToObject(j.get(), c.field, value.c_str());
    recfill::Rec r(c.kind, 0x5A);
    ASSERT_EQ(cs_record_decode(c.kind, r.bytes, j.get()), 0);
    const char *got = (const char *)r.bytes + f->offset;
    size_t keep = c.len < f->cap - 1 ? c.len : f->cap - 1;
    EXPECT_EQ(std::string(got), value.substr(0, keep)) << c.field;
    EXPECT_EQ(got[f->cap - 1], 0) << c.field;
  }
  // The examples as they stand: 127 of 200, 31 of 40, 128 of 200, 2 of 3.
  CSLocation loc = decode<CSLocation>(CS_KIND_Location, "{\"countryShortName\":\"USA\"}");
  EXPECT_STREQ(loc.countryShortName, "US");
}

TEST(Decode, TextThatIsNotAStringIsEmpty) {
  CSTerm t = decode<CSTerm>(CS_KIND_Term, "{\"name\":12,\"callerID\":null,\"addr\":[\"x\"],\"dirid\":{\"a\":\"b\"}}", 0x5A);
  EXPECT_STREQ(t.name, "");
  EXPECT_STREQ(t.callerID, "");
  EXPECT_STREQ(t.addr, "");
  EXPECT_STREQ(t.dirid, "");
}

TEST(Decode, MemberNamesMatchInAnyCase) {
  CSTerm t = decode<CSTerm>(CS_KIND_Term, "{\"callerid\":\"a\",\"NAME\":\"b\",\"ReMoTeSySiD\":\"c\",\"STATE\":3}");
  EXPECT_STREQ(t.callerID, "a");
  EXPECT_STREQ(t.name, "b");
  EXPECT_STREQ(t.remoteSysID, "c");
  EXPECT_EQ(t.state, 3u);
}

TEST(Decode, TheFirstOfDuplicateMembersWins) {
  CSTerm t = decode<CSTerm>(CS_KIND_Term, "{\"state\":4,\"State\":7}");
  EXPECT_EQ(t.state, 4u);
}

TEST(Decode, DoublesArriveThroughSinglePrecision) {
  CSTermMedia m =
      decode<CSTermMedia>(CS_KIND_TermMedia, "{\"actualFrameRate\":29.97,\"percentPacketLoss\":true,\"jitter\":5}");
  EXPECT_EQ(m.actualFrameRate, (double)29.97f);
  EXPECT_NE(m.actualFrameRate, 29.97);
  EXPECT_EQ(m.percentPacketLoss, 1.0);
  EXPECT_EQ(m.jitter, 5u);
  CSTermMedia big = decode<CSTermMedia>(CS_KIND_TermMedia, "{\"actualFrameRate\":1e300,\"percentPacketLoss\":\"x\"}");
  EXPECT_TRUE(isinf(big.actualFrameRate));
  EXPECT_EQ(big.percentPacketLoss, 0.0);
}

TEST(Decode, DialOrderCountWithoutArrayKeepsCountAndZeroesEntries) {
  CSComm c = decode<CSComm>(CS_KIND_Comm, "{\"dialOrderCount\":2}", 0x5A);
  EXPECT_EQ(c.dialOrderCount, 2);
  for (const CSDialOrder &d : c.dialOrder) {
    EXPECT_EQ(d.videoOrder, 0u);
    EXPECT_EQ(d.voiceOrder, 0u);
  }
  EXPECT_EQ(c.capabilities, 0u);
}

TEST(Decode, ListEntriesPastTheCountKeepWhatTheyHeld) {
  CSVideoOutLayout l;
  memset(&l, 0, sizeof l);
  for (int i = 0; i < 16; ++i) l.panelMap[i] = {100 + i, 200 + i};
  Json j = parse(
      "{\"panelMapCount\":2,\"panelMap\":[{\"source\":1,\"layout\":2},{\"source\":3,\"layout\":4},"
      "{\"source\":9,\"layout\":9}]}");
  ASSERT_EQ(parseCSVideoOutLayoutMsg(&l, j.get()), 0);
  EXPECT_EQ(l.panelMapCount, 2);
  EXPECT_EQ(l.panelMap[0].source, 1);
  EXPECT_EQ(l.panelMap[1].layout, 4);
  for (int i = 2; i < 16; ++i) {
    EXPECT_EQ(l.panelMap[i].source, 100 + i);
    EXPECT_EQ(l.panelMap[i].layout, 200 + i);
  }
  // Without "panelMap" every panel is zero.
  Json none = parse("{\"panelMapCount\":2}");
  ASSERT_EQ(parseCSVideoOutLayoutMsg(&l, none.get()), 0);
  for (const CSPanelMap &p : l.panelMap) EXPECT_EQ(p.source | p.layout, 0);
}

TEST(Decode, AddressSlotsOfLanAndTelepresenceSurviveAMissingArray) {
  CSLan lan;
  memset(&lan, 0, sizeof lan);
  Json full = parse(
      "{\"addressCount\":7,\"address\":[\"mac\",\"10.0.0.2\",\"\",\"\",\"fe80::1\",\"fec0::1\",\"2001::1\"],"
      "\"eapEnabled\":1}");
  ASSERT_EQ(parseCSLanMsg(&lan, full.get()), 0);
  EXPECT_EQ(lan.addressCount, 7);
  EXPECT_STREQ(lan.address[1], "10.0.0.2");
  EXPECT_STREQ(lan.address[6], "2001::1");
  Json partial = parse("{\"addressCount\":7,\"state\":3}");
  ASSERT_EQ(parseCSLanMsg(&lan, partial.get()), 0);
  EXPECT_EQ(lan.state, 3u);
  EXPECT_EQ(lan.eapEnabled, 0u);
  EXPECT_STREQ(lan.address[0], "mac");
  EXPECT_STREQ(lan.address[1], "10.0.0.2");

  CSWQT w;
  memset(&w, 0, sizeof w);
  Json wfull = parse("{\"addressCount\":2,\"address\":[\"a\",\"b\"]}");
  ASSERT_EQ(parseCSWQTMsg(&w, wfull.get()), 0);
  Json wnone = parse("{\"model\":\"x\"}");
  ASSERT_EQ(parseCSWQTMsg(&w, wnone.get()), 0);
  EXPECT_STREQ(w.address[1], "b");
  EXPECT_STREQ(w.model, "x");
}

TEST(Decode, DirectoryEntryDevicesAndTheirAddresses) {
  CSDirEnt e = decode<CSDirEnt>(CS_KIND_DirEnt,
                                "{\"id\":\"srv:1\",\"videoDeviceCount\":1,\"videoDevice\":[{\"name\":\"room\","
                                "\"addrCount\":2,\"addr\":[\"10.1.1.1\",\"h323:x\"],\"id\":\"d1\"}],\"presence\":2}",
                                0x5A);
  EXPECT_STREQ(e.id, "srv:1");
  EXPECT_EQ(e.videoDeviceCount, 1);
  EXPECT_STREQ(e.videoDevice[0].name, "room");
  EXPECT_EQ(e.videoDevice[0].addrCount, 2);
  EXPECT_STREQ(e.videoDevice[0].addr[0], "10.1.1.1");
  EXPECT_STREQ(e.videoDevice[0].addr[1], "h323:x");
  // The entry's own "addr" array was present, so its other slots keep their
  // bytes; devices past the count keep theirs.
  EXPECT_EQ((unsigned char)e.videoDevice[0].addr[2][0], 0x5A);
  EXPECT_EQ((unsigned char)e.videoDevice[1].name[0], 0x5A);
  EXPECT_EQ(e.presence, 2u);
  CSDirEnt none = decode<CSDirEnt>(CS_KIND_DirEnt, "{\"videoDeviceCount\":3}", 0x5A);
  EXPECT_EQ(none.videoDeviceCount, 3);
  for (const CSVideoDevice &d : none.videoDevice) {
    EXPECT_EQ(d.name[0], 0);
    EXPECT_EQ(d.addrCount, 0);
    EXPECT_EQ(d.addr[9][127], 0);
  }
}

TEST(Decode, RecentCallListCountZeroIgnoresTheList) {
  auto *l = new CSRecentCallList;
  memset(l, 0, sizeof *l);
  Json j = parse("{\"srvrInstance\":3,\"listCount\":0,\"list\":[{\"name\":\"a\"},{\"name\":\"b\"}]}");
  ASSERT_EQ(parseCSRecentCallListMsg(l, j.get()), 0);
  EXPECT_EQ(l->listCount, 0);
  EXPECT_EQ(l->srvrInstance, 3);
  EXPECT_EQ(l->list[0].name[0], 0);
  Json two = parse("{\"listCount\":2,\"list\":[{\"name\":\"a\",\"state\":7},{\"name\":\"b\"}]}");
  ASSERT_EQ(parseCSRecentCallListMsg(l, two.get()), 0);
  EXPECT_EQ(l->listCount, 2);
  EXPECT_STREQ(l->list[1].name, "b");
  EXPECT_EQ(l->list[0].state, 7u);
  delete l;
}

TEST(Decode, ANullObjectDecodesLikeAnEmptyOneAndNullRecordsAreRefused) {
  CSTerm t;
  memset(&t, 0x5A, sizeof t);
  EXPECT_EQ(parseCSTermMsg(&t, nullptr), 0);
  EXPECT_EQ(t.state, 0u);
  EXPECT_EQ(t.name[0], 0);
  Json arr = parse("[{\"state\":3}]");
  EXPECT_EQ(parseCSTermMsg(&t, arr.get()), 0);  // not an object: no members
  EXPECT_EQ(t.state, 0u);
  EXPECT_EQ(parseCSTermMsg(nullptr, arr.get()), -10);
  EXPECT_EQ(cs_record_decode(CS_KIND_COUNT, &t, arr.get()), -10);
  EXPECT_EQ(cs_record_decode((cs_kind)-1, &t, arr.get()), -10);
}

TEST(Decode, EveryKindHasANameASizeAndWellFormedLists) {
  for (int k = 0; k < CS_KIND_COUNT; ++k) {
    const char *name = cs_record_name((cs_kind)k);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(strncmp(name, "CS", 2), 0);
    EXPECT_GT(cs_record_size((cs_kind)k), 0u);
  }
  EXPECT_EQ(cs_record_name(CS_KIND_COUNT), nullptr);
  EXPECT_EQ(cs_record_size(CS_KIND_COUNT), 0u);
  EXPECT_STREQ(cs_record_name(CS_KIND_SecPwdValidity), "CSSecPwdValidity");
  // Every list is preceded by its count, and offsets grow in declaration order.
  for (int k = 0; k < recfill::EK_TOTAL; ++k) {
    const recfill::KindDesc &d = recfill::kKinds[k];
    for (unsigned i = 0; i < d.nfields; ++i) {
      const recfill::FieldDesc &f = d.fields[i];
      if (i > 0) {
        EXPECT_GT(f.offset, d.fields[i - 1].offset) << d.name << "." << f.name;
      }
      bool isList = f.type == recfill::FT_LIST || f.type == recfill::FT_STRS || f.type == recfill::FT_STRSKEEP;
      if (isList) {
        ASSERT_GT(i, 0u);
        EXPECT_EQ(d.fields[i - 1].type, recfill::FT_COUNT) << d.name << "." << f.name;
      }
      if (f.type == recfill::FT_COUNT) {
        ASSERT_LT(i + 1, d.nfields);
        const recfill::FieldDesc &n = d.fields[i + 1];
        EXPECT_TRUE(n.type == recfill::FT_LIST || n.type == recfill::FT_STRS || n.type == recfill::FT_STRSKEEP);
      }
    }
  }
}

TEST(Flags, BitsFollowFieldOrderAndNamedConstantsHoldTheirValues) {
  EXPECT_EQ(CSTERM_STATE_FIELD, 0x200);
  EXPECT_EQ(CSTERM_MUTED_FIELD, 0x400);
  EXPECT_EQ(CSTERM_PASSWORD_FIELD, 0x20000);
  EXPECT_EQ(CSTERM_AUTH_STATE_FIELD, 0x80000);
  EXPECT_EQ(CSTERM_DIALED_ADDR_FIELD, 0x100000);
  EXPECT_EQ(CSCOMM_NUM_PENDING_TERMS_FIELD, 0x4);
  EXPECT_EQ(CSCOMM_VOICE_CALL_ORDER_FIELD, 0x800);
  EXPECT_EQ(CSCONF_CONF_MUTE_FIELD, 0x1000);
  EXPECT_EQ(CSAUDIO_VOLUME_FIELD, 0x10);
  EXPECT_EQ(CSAUDIO_AUDIO_CAPS_FIELD, 0x1000);
  EXPECT_EQ(CSAUDIO_OUT_TREBLE, 0x20);
  EXPECT_EQ(CSISDN_LINE_BCHAN_COUNT, 0x10);
  EXPECT_EQ(CSISDN_NIC_CALL_BY_CALL_FIELD, 0x20000000);
  EXPECT_EQ(CSSPEAKER_PHONE_NIC_NAME_FIELD, 0x80);
  EXPECT_EQ(CSSIP_NIC_REGISTRAR_SRVR_AUTH_METH_NEGOTIATED_FIELD, 0x20000);
  EXPECT_EQ(CSVIDEO_OUT_LAYOUT_PANELMAP_FIELD, 0x10);
  EXPECT_EQ(CSVIDEO_OUT_LAYOUTCAP_PANEL_MAP_FIELD, 0x8);
  EXPECT_EQ(CSCAMERA_FAR_TERMINAL_FIELD, 0x40000);
  EXPECT_EQ(CSCAMERA_CAMERA_REMOVED_FIELD, 0x200000);
  EXPECT_EQ(CSCAMERA_TRACKING_MODE_FIELD, 0x400000);
  EXPECT_EQ(CSCAMERA_GROUP_REMOVED_FIELD, 0x200);
  EXPECT_EQ(CSDIR_SRVR_LAST_MODIFIED_TIME_FIELD, 0x20000);
  EXPECT_EQ(CSSYS_HOST_NAME_FIELD, 0x80);
  EXPECT_EQ(CSSEC_ALLOW_VIDEO_ON_WEB_FIELD, 0x100);
  EXPECT_EQ(CSSEC_PWD_ATTR_CAN_CONTAIN_ID_OR_REVERSE_FIELD, 0x800);
  EXPECT_EQ(CSHOME_SCREEN_AVAILABILITY_MENU_FIELD, 0x400);
  EXPECT_EQ(CSCAL_SRVR_STATUS_FIELD, 0x2);
  EXPECT_EQ(CSLAN_EAP_STATE_FIELD, 0x40);
  EXPECT_EQ((int)CSSEC_PWD_VALID_ALL_FIELDS, -1);
  CSSecPwdValidFields none = CSSEC_PWD_VALID_NO_FIELDS;
  EXPECT_EQ(none, 0);
}

}  // namespace
