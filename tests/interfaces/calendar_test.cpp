// The calendar interface against the codec model: server and meeting
// nodes, the chunked meeting listing and its bounds against a hostile codec.
#include <string.h>

#include <memory>
#include <string>

#include "media_fixture.h"
#include "service/interfaces/calendar.h"
#include "support/log_capture.h"

namespace {

class Calendar : public mediatest::MediaTest {
 protected:
  // Answers csCalListGet with chunks of counts[0], counts[1], ... meetings
  // (ids "c-0", "c-1", ... across the chunks), then EOF; with `forever`
  // the last count is repeated without end.
  void Chunks(std::vector<int> counts, bool forever = false) {
    auto next = std::make_shared<size_t>(0);
    auto id = std::make_shared<int>(0);
    Override("csCalListGet", [counts, forever, next, id](const codec_sim_request &r) {
      size_t i = *next;
      if (i >= counts.size() && !forever) return codec_sim_error_text(r, -7, "EOF");
      int n = counts[i < counts.size() ? i : counts.size() - 1];
      (*next)++;
      std::string list;
      for (int k = 0; k < n; k++) {
        if (k) list += ",";
        list += R"({"srvrType":1,"id":"c-)" + std::to_string((*id)++) + R"(","subject":"Chunked","password":"pw"})";
      }
      return codec_sim_result_text(r, R"({"srvrInstance":0,"listCount":)" + std::to_string(n) + R"(,"list":[)" +
                                           list + "]}");
    });
  }

  // The ids of a meeting list, in order, and releases it.
  std::vector<std::string> Ids(int64_t head) {
    std::vector<std::string> out;
    for (int64_t h = head; h != 0;) {
      auto *n = static_cast<const CalendarMeetingInfoStruct *>(kyr_list_node(h, sizeof(CalendarMeetingInfoStruct)));
      if (!n) break;
      out.push_back(n->id);
      h = n->next;
    }
    EXPECT_EQ(kyr_cal_release(head), static_cast<int>(out.size()));
    return out;
  }

  void ExpectListClosed() {
    auto starts = Sent("csCalSrvrListStart");
    auto stops = Sent("csCalSrvrListStop");
    ASSERT_EQ(starts.size(), 1u);
    ASSERT_EQ(stops.size(), 1u);
    EXPECT_GT(Param(stops[0], "listHandle"), 0);
  }
};

TEST_F(Calendar, AnotherProtocolIsRefusedWithoutARequest) {
  kyrtest::LogCapture log;
  codec_sim_clear_requests(sim_);
  EXPECT_EQ(kyr_cal_get_server(2), 0);
  EXPECT_EQ(kyr_cal_get_meetings(0, 0, 0), 0);
  EXPECT_EQ(kyr_cal_get_meeting(2, "mtg-1"), 0);
  EXPECT_EQ(codec_sim_request_count(sim_), 0u);
  EXPECT_EQ(log.Find("protocol=2 is invalid", KYR_CAL_TAG).size(), 2u);
}

TEST_F(Calendar, ServerNodeHoldsTheRecordBehindANullLink) {
  int64_t h = kyr_cal_get_server(1);
  ASSERT_GT(h, 0);
  auto *n = static_cast<const CalendarServerInfoStruct *>(kyr_list_node(h, sizeof(CalendarServerInfoStruct)));
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->next, 0);
  EXPECT_EQ(n->status, 6u);
  EXPECT_EQ(n->protocol, 1);
  EXPECT_STREQ(n->address, "mail.example.test");
  EXPECT_STREQ(n->userEmail, "room1@example.test");
  EXPECT_EQ(Param(Sent("csCalSrvrGet")[0], "prot"), 1);
  EXPECT_EQ(Param(Sent("csCalSrvrGet")[0], "instance"), 0);
  EXPECT_EQ(kyr_cal_release(h), 1);
  EXPECT_EQ(kyr_handle_count(), handles_before_);
}

TEST_F(Calendar, MeetingNodeIsTheRecordByteForByte) {
  int64_t h = kyr_cal_get_meeting(1, "mtg-2");
  ASSERT_GT(h, 0);
  EXPECT_EQ(Param(Sent("csCalMeetingGet")[0], "timeoutMS"), 1000);
  // The same meeting fetched directly.
  CSCal cal;
  CSCalSrvr srvr;
  memset(&cal, 0, sizeof cal);
  memset(&srvr, 0, sizeof srvr);
  ASSERT_EQ(csCalGet(&cal, inst_), 0);
  ASSERT_EQ(csCalSrvrGet(&srvr, &cal, 0, 1), 0);
  std::unique_ptr<CSCalMeeting> m(new CSCalMeeting());
  ASSERT_EQ(csCalMeetingGet(m.get(), &srvr, 1000, "mtg-2"), 0);
  auto *n = static_cast<const unsigned char *>(kyr_list_node(h, 1880));
  ASSERT_NE(n, nullptr);
  const unsigned char zero[4] = {0, 0, 0, 0};
  EXPECT_EQ(memcmp(n, zero, 4), 0);
  EXPECT_EQ(memcmp(n + 4, m.get(), sizeof(CSCalMeeting)), 0);
  EXPECT_STREQ(reinterpret_cast<const char *>(n + offsetof(CalendarMeetingInfoStruct, subject)), "Meeting 2");
  kyr_cal_release(h);
}

TEST_F(Calendar, ServerNotOnlineListsNothingAndOpensNoList) {
  uint32_t srv = codec_sim_record_handles(sim_, "CalSrvr")[0];
  codec_sim_record_merge(sim_, "CalSrvr", srv, R"({"status":3})");
  EXPECT_EQ(kyr_cal_get_meetings(1, 0, 0x7FFFFFFF), 0);
  EXPECT_EQ(kyr_cal_get_meeting(1, "mtg-1"), 0);
  EXPECT_TRUE(Sent("csCalSrvrListStart").empty());
  EXPECT_TRUE(Sent("csCalMeetingGet").empty());
}

TEST_F(Calendar, ChunksOf64And64And10GiveAllInOrderAndTheListIsClosed) {
  Chunks({64, 64, 10});
  int64_t head = kyr_cal_get_meetings(1, 100, 200);
  ASSERT_GT(head, 0);
  auto ids = Ids(head);
  ASSERT_EQ(ids.size(), 138u);
  for (size_t i = 0; i < ids.size(); i++) ASSERT_EQ(ids[i], "c-" + std::to_string(i));
  ExpectListClosed();
  auto start = Sent("csCalSrvrListStart")[0];
  EXPECT_EQ(Param(start, "totalMeetings"), 64);
  EXPECT_EQ(Member(start, "pFilter", "srvrType"), 1);
  EXPECT_EQ(Member(start, "pFilter", "startTime"), 100);
  EXPECT_EQ(Member(start, "pFilter", "endTime"), 200);
  auto gets = Sent("csCalListGet");
  ASSERT_EQ(gets.size(), 4u);
  EXPECT_EQ(Param(gets[0], "numMeetings"), 64);
  EXPECT_EQ(Param(gets[0], "timeoutMS"), 6000);
  EXPECT_EQ(kyr_handle_count(), handles_before_);
}

TEST_F(Calendar, EmptyChunksAreReadAgainThenTheListGoesOn) {
  Chunks({0, -3, 2});
  auto ids = Ids(kyr_cal_get_meetings(1, 0, 0));
  EXPECT_EQ(ids, (std::vector<std::string>{"c-0", "c-1"}));
  EXPECT_EQ(Sent("csCalListGet").size(), 4u);
}

TEST_F(Calendar, AHostileCodecOfEmptyChunksIsLeftAfter100) {
  Chunks({0}, true);
  kyrtest::LogCapture log;
  EXPECT_EQ(kyr_cal_get_meetings(1, 0, 0), 0);
  EXPECT_EQ(Sent("csCalListGet").size(), 100u);
  ExpectListClosed();
  EXPECT_EQ(log.Find("empty chunks", KYR_CAL_TAG).size(), 1u);
}

TEST_F(Calendar, AHostileCodecThatNeverEndsStopsAt10000Meetings) {
  Chunks({64}, true);
  kyrtest::LogCapture log;
  int64_t head = kyr_cal_get_meetings(1, 0, 0);
  auto ids = Ids(head);
  EXPECT_EQ(ids.size(), 10000u);
  EXPECT_EQ(ids.back(), "c-9999");
  EXPECT_EQ(Sent("csCalListGet").size(), 157u) << "10000 meetings are 156 full chunks and part of one more";
  ExpectListClosed();
  EXPECT_EQ(log.Find("10000", KYR_CAL_TAG).size(), 1u);
  EXPECT_EQ(kyr_handle_count(), handles_before_);
}

TEST_F(Calendar, AChunkThatFailsKeepsTheMeetingsBeforeIt) {
  auto calls = std::make_shared<int>(0);
  Override("csCalListGet", [calls](const codec_sim_request &r) {
    if ((*calls)++ == 0)
      return codec_sim_result_text(r, R"({"srvrInstance":0,"listCount":1,"list":[{"id":"first"}]})");
    return codec_sim_error_text(r, -12, "Timeout");
  });
  kyrtest::LogCapture log;
  EXPECT_EQ(Ids(kyr_cal_get_meetings(1, 0, 0)), (std::vector<std::string>{"first"}));
  ExpectListClosed();
  EXPECT_EQ(log.Find("can't get CALENDAR meetings (protocol=1) object, err=-12", KYR_CAL_TAG).size(), 1u);
}

TEST_F(Calendar, AListThatCannotBeOpenedIsLogged) {
  codec_sim_inject_error(sim_, "csCalSrvrListStart", -4, "", 1);
  kyrtest::LogCapture log;
  EXPECT_EQ(kyr_cal_get_meetings(1, 0, 0), 0);
  EXPECT_EQ(log.Find("can't get CALENDAR SERVER (protocol=1), listHandle=-4", KYR_CAL_TAG).size(), 1u);
  EXPECT_TRUE(Sent("csCalListGet").empty());
}

TEST_F(Calendar, TodaysMeetingsOfTheModelWeekComeInOrder) {
  long now = static_cast<long>(time(nullptr));
  long today = now - now % 86400;
  auto head = kyr_cal_get_meetings(1, today, today + 86400);
  std::vector<std::string> subjects;
  for (int64_t h = head; h != 0;) {
    auto *n = static_cast<const CalendarMeetingInfoStruct *>(kyr_list_node(h, sizeof(CalendarMeetingInfoStruct)));
    ASSERT_NE(n, nullptr);
    subjects.push_back(n->subject);
    EXPECT_GE(n->endTime, static_cast<uint32_t>(today));
    EXPECT_LT(n->startTime, static_cast<uint32_t>(today + 86400));
    h = n->next;
  }
  kyr_cal_release(head);
  EXPECT_EQ(subjects, (std::vector<std::string>{"Stand-up", "Design review", "Customer call", "Weekly planning"}));
}

TEST_F(Calendar, NoPasswordReachesTheLogOnAnyFailure) {
  uint32_t srv = codec_sim_record_handles(sim_, "CalSrvr")[0];
  codec_sim_record_merge(sim_, "CalSrvr", srv, R"({"userPass":"calpw-4711"})");
  kyrtest::LogCapture log;
  codec_sim_inject_error(sim_, "csCalMeetingGet", -4, "", 1);
  EXPECT_EQ(kyr_cal_get_meeting(1, "week-01"), 0);
  codec_sim_inject_error(sim_, "csCalListGet", -12, "", 1);
  EXPECT_EQ(kyr_cal_get_meetings(1, 0, 0), 0);
  codec_sim_inject_error(sim_, "csCalSrvrGet", -4, "", 1);
  EXPECT_EQ(kyr_cal_get_servers(), 0);
  EXPECT_EQ(log.Find("can't get CALENDAR server for protocol 1, err=-4", KYR_CAL_TAG).size(), 1u);
  int64_t h = kyr_cal_get_meeting(1, "week-01");
  ASSERT_GT(h, 0) << "the meeting itself still carries its password for Java";
  kyr_cal_release(h);
  for (auto &l : log.Lines()) {
    EXPECT_EQ(l.text.find("calpw-4711"), std::string::npos) << l.tag << ": " << l.text;
    EXPECT_EQ(l.text.find("mtg-secret"), std::string::npos) << l.tag << ": " << l.text;
  }
}

}  // namespace
