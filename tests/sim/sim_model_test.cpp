// The codec model behind the simulator, driven over a plain socket.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "codec_sim.h"
#include "sim_client.h"

using namespace simtest;

namespace {

struct sim_deleter {
    void operator()(codec_sim *s) const { codec_sim_stop(s); }
};
using sim_ptr = std::unique_ptr<codec_sim, sim_deleter>;

// A connected plain-socket session that separates answers from the
// notifications arriving in between.
struct session {
    sim_ptr sim;
    client c;
    long next_id = 1;
    std::vector<std::string> notes;

    explicit session(int dial_step_ms = 30) {
        codec_sim_config cfg;
        cfg.dial_step_ms = dial_step_ms;
        sim.reset(codec_sim_start(cfg));
        if (sim) c.open(codec_sim_port(sim.get()), false);
    }

    // Sends a request and returns its answer; notifications met on the way are kept.
    std::string call(const std::string &method, const std::string &params) {
        long id = next_id++;
        if (!c.send_text(request(method, params, id))) return "";
        for (int i = 0; i < 100; i++) {
            std::string t = c.read_json(2000);
            if (t.empty() || t == "<closed>") return t;
            json j(t);
            if (j.get("method")) {
                notes.push_back(t);
                continue;
            }
            return t;
        }
        return "";
    }

    // Waits for the next notification of that method (kept or arriving).
    std::string wait_note(const std::string &method, int timeout_ms = 2000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            for (size_t i = 0; i < notes.size(); i++) {
                json j(notes[i]);
                if (cJSON_IsString(j.get("method")) && method == j.get("method")->valuestring) {
                    std::string t = notes[i];
                    notes.erase(notes.begin() + static_cast<long>(i));
                    return t;
                }
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0) return "";
            std::string t = c.read_json(static_cast<int>(left));
            if (t.empty() || t == "<closed>") return "";
            notes.push_back(t);
        }
    }
};

double result_num(const std::string &rsp, const char *key) {
    json j(rsp);
    const cJSON *v = cJSON_GetObjectItemCaseSensitive(j.get("result"), key);
    return cJSON_IsNumber(v) ? v->valuedouble : -12345;
}

double result_int(const std::string &rsp) {
    json j(rsp);
    const cJSON *v = j.get("result");
    return cJSON_IsNumber(v) ? v->valuedouble : -12345;
}

std::string h(double v) { return std::to_string(static_cast<unsigned long>(v)); }

double note_num(const std::string &note, const char *param, const char *key) {
    json j(note);
    const cJSON *p = cJSON_GetObjectItemCaseSensitive(j.get("params"), param);
    const cJSON *v = cJSON_GetObjectItemCaseSensitive(p, key);
    return cJSON_IsNumber(v) ? v->valuedouble : -12345;
}

double note_flags(const std::string &note) {
    json j(note);
    const cJSON *v = cJSON_GetObjectItemCaseSensitive(j.get("params"), "flags");
    return cJSON_IsNumber(v) ? v->valuedouble : -12345;
}

// Every operation of the family, by name.
const char *const kAllOperations[] = {
    "csAudioGet", "csAudioInCount", "csAudioInGet", "csAudioInSet", "csAudioMute", "csAudioOutCount",
    "csAudioOutGet", "csAudioOutSet", "csAudioPlayDTMF", "csAudioPlayFile", "csAudioPlayTone", "csAudioSet",
    "csAudioVolume", "csCalGet", "csCalListGet", "csCalMeetingGet", "csCalMeetingSet", "csCalSrvrAdd",
    "csCalSrvrCount", "csCalSrvrGet", "csCalSrvrListStart", "csCalSrvrListStop", "csCalSrvrMeetingAdd",
    "csCalSrvrMeetingRemove", "csCalSrvrRemove", "csCalSrvrRetrieveURL", "csCalSrvrSet",
    "csCalSrvrSetResponseFile", "csCamSubsysGet", "csCamSubsysSet", "csCameraCreatePreset",
    "csCameraFarGroupGet", "csCameraFarGroupGetById", "csCameraGetById", "csCameraGetFar", "csCameraGetNear",
    "csCameraGetSelected", "csCameraMove", "csCameraMoveToPTZ", "csCameraSelect", "csCameraSet",
    "csCommConfCount", "csCommGet", "csCommPendingTermCount", "csCommSet", "csConfGet", "csConfHangup",
    "csConfLeave", "csConfSet", "csConfTermAnswer", "csConfTermCount", "csConfTermDial", "csConfTermDialList",
    "csConfTermDialListArray", "csConfTermHangup", "csContentGet", "csContentListGet", "csContentPlayCount",
    "csContentSrcGetPlaying", "csContentSrcGotoTrack", "csContentSrcPlay", "csContentSrcRecord",
    "csContentSrcSeek", "csContentSrcStop", "csContentSrvrAdd", "csContentSrvrCount", "csContentSrvrGet",
    "csContentSrvrListStart", "csContentSrvrListStop", "csContentSrvrRemove", "csContentSrvrSet",
    "csDirEntAddToGroup", "csDirEntGet", "csDirEntGetByName", "csDirEntRemoveFromGroup", "csDirEntSet",
    "csDirGet", "csDirListGet", "csDirSet", "csDirSrvrAdd", "csDirSrvrCount", "csDirSrvrEntAdd",
    "csDirSrvrEntRemove", "csDirSrvrGet", "csDirSrvrListStart", "csDirSrvrListStop", "csDirSrvrRemove",
    "csDirSrvrSet", "csFWTraversalGet", "csFWTraversalSet", "csH323NicGet", "csH323NicSet", "csHomeScreenGet",
    "csHomeScreenSet", "csInkpadGet", "csIsdnLineGet", "csIsdnLineSet", "csIsdnNicGet", "csIsdnNicSet",
    "csLanGet", "csLanSet", "csLocationGet", "csLocationSet", "csLogGet", "csLogSet", "csPotsNicGet",
    "csPotsNicSet", "csPresetClear", "csPresetGet", "csPresetGoTo", "csPresetIsSelected", "csPresetSet",
    "csProvisioningGet", "csProvisioningSet", "csQosGet", "csQosSet", "csRecentCallListGet", "csSecGet",
    "csSecPwdAttrGet", "csSecPwdAttrSet", "csSecPwdGet", "csSecPwdSet", "csSecSet", "csSipNicGet",
    "csSipNicSet", "csSpeakerPhoneNicGet", "csSpeakerPhoneNicSet", "csSysGet", "csSysSet", "csSysSleep",
    "csSysWake", "csTermGet", "csTermGetByID", "csTermHangup", "csTermMediaCount", "csTermMediaGet",
    "csTermPendingGet", "csTermSendFlash", "csTermSendKeystring", "csTermSet", "csTimeGet", "csTimeSet",
    "csV35LineGet", "csV35LineSet", "csV35NicGet", "csV35NicSet", "csVideoGet", "csVideoInCount",
    "csVideoInGet", "csVideoInSet", "csVideoOutCount", "csVideoOutGet", "csVideoOutLayoutCapGet",
    "csVideoOutLayoutGet", "csVideoOutLayoutSet", "csVideoOutSet", "csVideoSet", "csWQTGet", "csWQTSet",
};

TEST(SimModel, EveryOperationIsKnown) {
    session s;
    ASSERT_TRUE(s.sim);
    EXPECT_EQ(sizeof kAllOperations / sizeof kAllOperations[0], 159u);
    for (const char *m : kAllOperations) {
        // Empty params: a real handle is missing, so most answer an error,
        // but never "Unknown function".
        std::string rsp = s.call(m, "{}");
        EXPECT_NE(rsp_code(rsp), -1) << m;
        EXPECT_NE(rsp_code(rsp), 1) << m << " gave no readable answer: " << rsp;
    }
    EXPECT_EQ(rsp_code(s.call("csNoSuchOperation", "{}")), -1);
}

TEST(SimModel, TopLevelGettersAnswerTheirRecord) {
    session s;
    struct row {
        const char *method, *key, *member;
    } rows[] = {
        {"csAudioGet", "pAudioHandle", "volume"},     {"csCalGet", "pCalHandle", "numSrvrs"},
        {"csCamSubsysGet", "pCamSubsysHandle", "numNearCams"}, {"csCommGet", "pCommHandle", "maxConfs"},
        {"csContentGet", "pContentHandle", "maxPlaying"}, {"csDirGet", "pDirHandle", "maxSrvrs"},
        {"csHomeScreenGet", "pHomeScreenHandle", "dialingDisplay"}, {"csSecGet", "pSecHandle", "webAccessPort"},
        {"csSysGet", "pSysHandle", "bootTime"},        {"csVideoGet", "pVideoHandle", "numOuts"},
    };
    std::set<double> handles;
    for (const auto &r : rows) {
        std::string rsp = s.call(r.method, std::string("{\"") + r.key + "\":0,\"srvrInstance\":0}");
        EXPECT_EQ(rsp_code(rsp), 0) << r.method;
        EXPECT_NE(result_num(rsp, r.member), -12345) << r.method;
        handles.insert(result_num(rsp, "handle"));
    }
    EXPECT_EQ(handles.size(), 10u);  // every record has its own handle
}

TEST(SimModel, ChildGettersWalkFromParentsAndRefuseStrangers) {
    session s;
    double comm = result_num(s.call("csCommGet", "{\"pCommHandle\":0,\"srvrInstance\":0}"), "handle");
    EXPECT_EQ(result_int(s.call("csCommConfCount", "{\"pCommHandle\":" + h(comm) + "}")), 1);
    std::string conf = s.call("csConfGet", "{\"pConfHandle\":0,\"pCommHandle\":" + h(comm) + ",\"confInstance\":0}");
    EXPECT_EQ(rsp_code(conf), 0);
    EXPECT_EQ(result_num(conf, "numTerms"), 0);
    EXPECT_EQ(rsp_code(s.call("csConfGet", "{\"pConfHandle\":0,\"pCommHandle\":" + h(comm) + ",\"confInstance\":1}")), -4);
    EXPECT_EQ(rsp_code(s.call("csConfGet", "{\"pConfHandle\":0,\"pCommHandle\":7,\"confInstance\":0}")), -4);

    double dir = result_num(s.call("csDirGet", "{\"pDirHandle\":0,\"srvrInstance\":0}"), "handle");
    // Servers are counted and indexed within their protocol.
    EXPECT_EQ(result_int(s.call("csDirSrvrCount", "{\"pDirHandle\":" + h(dir) + ",\"prot\":3}")), 1);
    EXPECT_EQ(result_int(s.call("csDirSrvrCount", "{\"pDirHandle\":" + h(dir) + ",\"prot\":2}")), 1);
    EXPECT_EQ(result_int(s.call("csDirSrvrCount", "{\"pDirHandle\":" + h(dir) + ",\"prot\":4}")), 1);
    std::string gds = s.call("csDirSrvrGet", "{\"pDirSrvrHandle\":0,\"pDirHandle\":" + h(dir) + ",\"instance\":0,\"prot\":2}");
    EXPECT_EQ(result_num(gds, "protocol"), 2);

    double sec = result_num(s.call("csSecGet", "{\"pSecHandle\":0,\"srvrInstance\":0}"), "handle");
    std::string attr = s.call("csSecPwdAttrGet", "{\"pSecPwdAttrHandle\":0,\"pSecHandle\":" + h(sec) + ",\"type\":2}");
    EXPECT_EQ(result_num(attr, "minimumLength"), 8);
}

TEST(SimModel, DialRingsThenConnectsThenHangsUp) {
    session s(20);
    double comm = result_num(s.call("csCommGet", "{\"pCommHandle\":0,\"srvrInstance\":0}"), "handle");
    double conf = result_num(s.call("csConfGet", "{\"pConfHandle\":0,\"pCommHandle\":" + h(comm) + ",\"confInstance\":0}"), "handle");
    std::string rsp = s.call("csConfTermDial", "{\"pConfHandle\":" + h(conf) + ",\"rate\":1024,\"address\":\"10.1.2.3\"}");
    EXPECT_EQ(rsp_code(rsp), 0);

    const double states[] = {2, 3, 0};  // Dialing, Alerting, Active
    double term = 0;
    for (double st : states) {
        std::string n = s.wait_note("csTermChangedCB");
        ASSERT_FALSE(n.empty()) << "no terminal notification for state " << st;
        EXPECT_EQ(note_num(n, "pTerm", "state"), st);
        EXPECT_NE(static_cast<long>(note_flags(n)) & 0x200, 0);
        term = note_num(n, "pTerm", "handle");
    }
    std::string cn = s.wait_note("csConfChangedCB");
    EXPECT_EQ(note_num(cn, "pConf", "numTerms"), 1);
    EXPECT_EQ(note_flags(cn), 0x80);

    std::string t = s.call("csTermGet", "{\"pTermHandle\":0,\"pConfHandle\":" + h(conf) + ",\"termInstance\":0}");
    EXPECT_EQ(result_num(t, "state"), 0);
    EXPECT_EQ(result_num(t, "handle"), term);
    EXPECT_EQ(result_num(t, "rate"), 1024);
    EXPECT_EQ(result_int(s.call("csTermMediaCount", "{\"pTermHandle\":" + h(term) + "}")), 2);

    EXPECT_EQ(rsp_code(s.call("csTermHangup", "{\"pTermHandle\":" + h(term) + ",\"causeCode\":16}")), 0);
    std::string d = s.wait_note("csTermChangedCB");
    EXPECT_EQ(note_num(d, "pTerm", "state"), 7);
    EXPECT_EQ(note_num(d, "pTerm", "causeCode"), 16);
    cn = s.wait_note("csConfChangedCB");
    EXPECT_EQ(note_num(cn, "pConf", "numTerms"), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(result_int(s.call("csConfTermCount", "{\"pConfHandle\":" + h(conf) + "}")), 0);
    // A second hang-up finds nothing to hang up.
    EXPECT_EQ(rsp_code(s.call("csTermHangup", "{\"pTermHandle\":" + h(term) + ",\"causeCode\":16}")), -4);
    // The call is now first in the recent call list.
    std::string rc = s.call("csRecentCallListGet", "{\"pList\":null,\"pCommHandle\":" + h(comm) +
                                                       ",\"startIndex\":0,\"endIndex\":100,\"sort\":1,\"filter\":1}");
    json j(rc);
    const cJSON *list = cJSON_GetObjectItemCaseSensitive(j.get("result"), "list");
    ASSERT_GE(cJSON_GetArraySize(list), 1);
    EXPECT_STREQ(cJSON_GetObjectItemCaseSensitive(cJSON_GetArrayItem(list, 0), "addr")->valuestring, "10.1.2.3");
    EXPECT_EQ(result_num(rc, "listCount"), cJSON_GetArraySize(list));
}

TEST(SimModel, IncomingCallIsPendingUntilAnswered) {
    session s(20);
    ASSERT_TRUE(codec_sim_wait_connections(s.sim.get(), 1, 2000));
    double comm = result_num(s.call("csCommGet", "{\"pCommHandle\":0,\"srvrInstance\":0}"), "handle");
    double conf = result_num(s.call("csConfGet", "{\"pConfHandle\":0,\"pCommHandle\":" + h(comm) + ",\"confInstance\":0}"), "handle");
    EXPECT_EQ(codec_sim_incoming_call(s.sim.get(), "caller@example.test"), 1);
    std::string n = s.wait_note("csTermChangedCB");
    EXPECT_EQ(note_num(n, "pTerm", "state"), 4);
    EXPECT_EQ(result_int(s.call("csCommPendingTermCount", "{\"pCommHandle\":" + h(comm) + "}")), 1);
    std::string p = s.call("csTermPendingGet", "{\"pPendingTermHandle\":0,\"pCommHandle\":" + h(comm) + ",\"termInstance\":0}");
    double term = result_num(p, "handle");
    EXPECT_EQ(rsp_code(s.call("csConfTermAnswer", "{\"pConfHandle\":" + h(conf) + ",\"pTermHandle\":" + h(term) + "}")), 0);
    n = s.wait_note("csTermChangedCB");
    EXPECT_EQ(note_num(n, "pTerm", "state"), 0);
    EXPECT_EQ(result_int(s.call("csCommPendingTermCount", "{\"pCommHandle\":" + h(comm) + "}")), 0);
    EXPECT_EQ(result_int(s.call("csConfTermCount", "{\"pConfHandle\":" + h(conf) + "}")), 1);
}

TEST(SimModel, SetterMergesAndAnnouncesWithTheSameFlags) {
    session s;
    std::string a = s.call("csAudioGet", "{\"pAudioHandle\":0,\"srvrInstance\":0}");
    double audio = result_num(a, "handle");
    std::string rsp = s.call("csAudioSet", "{\"pAudio\":{\"srvrInstance\":0,\"handle\":" + h(audio) +
                                               ",\"volume\":77,\"alertTone\":\"Chime\"},\"flags\":2064}");
    EXPECT_EQ(rsp_code(rsp), 0);
    std::string n = s.wait_note("csAudioChangedCB");
    EXPECT_EQ(note_flags(n), 2064);
    EXPECT_EQ(note_num(n, "pAudio", "volume"), 77);
    std::string b = s.call("csAudioGet", "{\"pAudioHandle\":0,\"srvrInstance\":0}");
    EXPECT_EQ(result_num(b, "volume"), 77);
    EXPECT_EQ(result_num(b, "numIns"), result_num(a, "numIns"));  // members not sent stay
    // A record the codec does not have.
    EXPECT_EQ(rsp_code(s.call("csAudioSet", "{\"pAudio\":{\"handle\":1},\"flags\":16}")), -4);
    // The LAN record goes out as "pLAN" and comes back as "pLan".
    double sys = result_num(s.call("csSysGet", "{\"pSysHandle\":0,\"srvrInstance\":0}"), "handle");
    double lan = result_num(s.call("csLanGet", "{\"pLANHandle\":0,\"pSysHandle\":" + h(sys) + ",\"instance\":0}"), "handle");
    EXPECT_EQ(rsp_code(s.call("csLanSet", "{\"pLAN\":{\"handle\":" + h(lan) + ",\"eapEnabled\":1},\"flags\":8}")), 0);
    n = s.wait_note("csLanChangedCB");
    EXPECT_EQ(note_num(n, "pLan", "eapEnabled"), 1);
}

TEST(SimModel, VolumeAndMuteChangeTheAudioRecord) {
    session s;
    double audio = result_num(s.call("csAudioGet", "{\"pAudioHandle\":0,\"srvrInstance\":0}"), "handle");
    EXPECT_EQ(rsp_code(s.call("csAudioVolume", "{\"pAudioHandle\":" + h(audio) + ",\"volume\":33}")), 0);
    std::string n = s.wait_note("csAudioChangedCB");
    EXPECT_EQ(note_num(n, "pAudio", "volume"), 33);
    EXPECT_EQ(note_flags(n), 0x10);
    EXPECT_EQ(rsp_code(s.call("csAudioMute", "{\"pAudioHandle\":" + h(audio) + ",\"onOff\":1}")), 0);
    n = s.wait_note("csAudioChangedCB");
    EXPECT_EQ(note_num(n, "pAudio", "muted"), 1);
    EXPECT_EQ(note_flags(n), 0x20);
    EXPECT_EQ(result_num(s.call("csAudioGet", "{\"pAudioHandle\":0,\"srvrInstance\":0}"), "muted"), 1);
}

TEST(SimModel, DirectoryListPagesToEof) {
    session s;
    double dir = result_num(s.call("csDirGet", "{\"pDirHandle\":0,\"srvrInstance\":0}"), "handle");
    double srv = result_num(s.call("csDirSrvrGet", "{\"pDirSrvrHandle\":0,\"pDirHandle\":" + h(dir) + ",\"instance\":0,\"prot\":3}"), "handle");
    std::string start = s.call("csDirSrvrListStart", "{\"pDirSrvrHandle\":" + h(srv) +
                                                          ",\"totalNames\":0,\"pFilter\":{\"displayName\":\"\"},\"attrs\":4294967295}");
    ASSERT_EQ(rsp_code(start), 0);
    double list = result_int(start);
    EXPECT_GT(list, 0);
    std::string get = "{\"pDirList\":null,\"pDirSrvrHandle\":" + h(srv) + ",\"listHandle\":" + h(list) +
                      ",\"timeoutMS\":6000,\"maxNames\":64}";
    std::string p1 = s.call("csDirListGet", get);
    EXPECT_EQ(result_num(p1, "listCount"), 64);
    std::string p2 = s.call("csDirListGet", get);
    EXPECT_EQ(result_num(p2, "listCount"), 36);
    json j2(p2);
    const cJSON *l2 = cJSON_GetObjectItemCaseSensitive(j2.get("result"), "list");
    EXPECT_EQ(cJSON_GetArraySize(l2), 36);
    EXPECT_STREQ(cJSON_GetObjectItemCaseSensitive(cJSON_GetArrayItem(l2, 0), "id")->valuestring, "ldap-1:065");
    EXPECT_TRUE(cJSON_IsString(cJSON_GetObjectItemCaseSensitive(j2.get("result"), "locale")));
    std::string p3 = s.call("csDirListGet", get);
    EXPECT_EQ(rsp_code(p3), -7);
    json j3(p3);
    EXPECT_STREQ(cJSON_GetObjectItemCaseSensitive(j3.get("error"), "message")->valuestring, "EOF");
    EXPECT_EQ(rsp_code(s.call("csDirSrvrListStop", "{\"pDirSrvrHandle\":" + h(srv) + ",\"listHandle\":" + h(list) + "}")), 0);
    EXPECT_EQ(rsp_code(s.call("csDirListGet", get)), -4);

    // A filter narrows the list; a search finds one entry.
    start = s.call("csDirSrvrListStart", "{\"pDirSrvrHandle\":" + h(srv) +
                                             ",\"totalNames\":64,\"pFilter\":{\"displayName\":\"person 01\"},\"attrs\":0}");
    get = "{\"pDirList\":null,\"pDirSrvrHandle\":" + h(srv) + ",\"listHandle\":" + h(result_int(start)) +
          ",\"timeoutMS\":6000,\"maxNames\":64}";
    EXPECT_EQ(result_num(s.call("csDirListGet", get), "listCount"), 10);  // Person 010 to 019
    std::string e = s.call("csDirEntGet", "{\"pDirEnt\":null,\"pDirSrvrHandle\":" + h(srv) + ",\"timeoutMS\":6000,\"id\":\"ldap-1:042\"}");
    json je(e);
    EXPECT_STREQ(cJSON_GetObjectItemCaseSensitive(je.get("result"), "displayName")->valuestring, "Person 042");
}

TEST(SimModel, CalendarListReturnsMeetingsThenEof) {
    session s;
    double cal = result_num(s.call("csCalGet", "{\"pCalHandle\":0,\"srvrInstance\":0}"), "handle");
    std::string srv = s.call("csCalSrvrGet", "{\"pCalSrvrHandle\":0,\"pCalHandle\":" + h(cal) + ",\"instance\":0,\"prot\":1}");
    EXPECT_EQ(result_num(srv, "status"), 6);
    double sh = result_num(srv, "handle");
    double list = result_int(s.call("csCalSrvrListStart", "{\"pCalSrvrHandle\":" + h(sh) +
                                                              ",\"totalMeetings\":64,\"pFilter\":{\"srvrType\":1},\"attrs\":4294967295}"));
    std::string get = "{\"pCalList\":null,\"pCalSrvrHandle\":" + h(sh) + ",\"listHandle\":" + h(list) +
                      ",\"timeoutMS\":6000,\"numMeetings\":64}";
    // Three fixed meetings and the 28 of the current week (no time window in the filter).
    EXPECT_EQ(result_num(s.call("csCalListGet", get), "listCount"), 31);
    EXPECT_EQ(rsp_code(s.call("csCalListGet", get)), -7);
}

TEST(SimModel, InjectedErrorOverridesTheModel) {
    session s;
    codec_sim_inject_error(s.sim.get(), "csCommGet", -28, "", 1);
    EXPECT_EQ(rsp_code(s.call("csCommGet", "{\"pCommHandle\":0,\"srvrInstance\":0}")), -28);
    EXPECT_EQ(rsp_code(s.call("csCommGet", "{\"pCommHandle\":0,\"srvrInstance\":0}")), 0);
}

TEST(SimModel, EveryNotificationCanBePushedWithItsRecord) {
    session s;
    ASSERT_TRUE(codec_sim_wait_connections(s.sim.get(), 1, 2000));
    auto methods = codec_sim_notification_methods();
    ASSERT_EQ(methods.size(), 55u);
    EXPECT_EQ(std::set<std::string>(methods.begin(), methods.end()).size(), 55u);
    for (const auto &m : methods) {
        ASSERT_EQ(codec_sim_notify(s.sim.get(), m, 0x5), 1) << m;
        std::string t = s.c.read_json();
        json j(t);
        ASSERT_TRUE(j.root) << m;
        EXPECT_STREQ(j.get("method")->valuestring, m.c_str());
        EXPECT_EQ(j.get("id"), nullptr) << m;
        const cJSON *params = j.get("params");
        EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(params, "flags")->valuedouble, 5) << m;
        // Exactly one record object beside the flags, named "p...".
        int records = 0;
        for (const cJSON *c = params->child; c; c = c->next)
            if (cJSON_IsObject(c) && c->string[0] == 'p' && cJSON_GetArraySize(c) >= 2) records++;
        EXPECT_EQ(records, 1) << t;
    }
    EXPECT_EQ(codec_sim_notify(s.sim.get(), "csNoSuchCB", 0), -1);
}

TEST(SimModel, NotificationRecordsCarryTheirKindsMembers) {
    session s;
    ASSERT_TRUE(codec_sim_wait_connections(s.sim.get(), 1, 2000));
    struct row {
        const char *method, *param, *member;
    } rows[] = {
        {"csTermChangedCB", "pTerm", "numMedia"},
        {"csRecentCallListArchivedCB", "pRecentCallArchive", "archiveTime"},
        {"csSecPwdValidityChangedCB", "pValidity", "valid"},
        {"csHomeScreenChangedCB", "pScreen", "availabilityMenu"},
        {"csCameraFarGroupRemovedCB", "pCameraGroup", "camControlAllowed"},
        {"csVideoOutLayoutChangedCB", "pVideoLayout", "panelMapCount"},
        {"csVideoOutLayoutCapChangedCB", "pVideoLayout", "panelMapCapCount"},
        {"csLanChangedCB", "pLan", "addressCount"},
        {"csTermMediaChangedCB", "pTermMedia", "actualFrameRate"},
    };
    for (const auto &r : rows) {
        ASSERT_EQ(codec_sim_notify(s.sim.get(), r.method, 1), 1);
        std::string t = s.c.read_json();
        EXPECT_NE(note_num(t, r.param, r.member), -12345) << t;
    }
}

TEST(SimModel, RecordApiReadsAndMerges) {
    codec_sim_config cfg;
    sim_ptr sim(codec_sim_start(cfg));
    ASSERT_TRUE(sim);
    auto hs = codec_sim_record_handles(sim.get(), "AudioIn");
    ASSERT_EQ(hs.size(), 2u);
    EXPECT_EQ(codec_sim_record_merge(sim.get(), "AudioIn", hs[1], "{\"level\":9}"), hs[1]);
    json j(codec_sim_record(sim.get(), "AudioIn", hs[1]));
    EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(j.root, "level")->valueint, 9);
    EXPECT_EQ(codec_sim_record(sim.get(), "Audio", hs[1]), "");  // wrong kind for that handle
    uint32_t nh = codec_sim_record_merge(sim.get(), "Conf", 0, "{\"name\":\"Second\",\"parentHandle\":" +
                                                                  std::to_string(codec_sim_record_handles(sim.get(), "Comm")[0]) + "}");
    EXPECT_NE(nh, 0u);
    EXPECT_EQ(codec_sim_record_handles(sim.get(), "Conf").size(), 2u);
    EXPECT_EQ(codec_sim_record_merge(sim.get(), "NoSuchKind", 0, "{}"), 0u);
}

// The "result" object of an answer with some members replaced, as a set
// request's record (a client sends the whole record back).
std::string edited_result(const std::string &rsp, const std::string &changes) {
    json j(rsp);
    cJSON *obj = cJSON_Duplicate(j.get("result"), 1);
    cJSON *ch = cJSON_Parse(changes.c_str());
    for (cJSON *m = ch ? ch->child : nullptr; m; m = m->next)
        cJSON_ReplaceItemInObjectCaseSensitive(obj, m->string, cJSON_Duplicate(m, 1));
    cJSON_Delete(ch);
    char *t = cJSON_PrintUnformatted(obj);
    std::string out = t ? t : "";
    cJSON_free(t);
    cJSON_Delete(obj);
    return out;
}

TEST(SimModel, SettersApplyOnlyTheMembersTheirFlagsName) {
    session s;
    double cams = result_num(s.call("csCamSubsysGet", "{\"pCamSubsysHandle\":0,\"srvrInstance\":0}"), "handle");
    std::string get_cam = "{\"pCamera\":null,\"pCamSubsysHandle\":" + h(cams) + ",\"instance\":0}";
    std::string cam = s.call("csCameraGetNear", get_cam);
    double pan = result_num(cam, "pan");
    // Bit 0x400000 is trackingMode: two event bits lie between it and portIndicator.
    std::string sent = edited_result(cam, R"({"trackingMode":2,"pan":77,"portIndicator":5})");
    EXPECT_EQ(rsp_code(s.call("csCameraSet", "{\"pCamera\":" + sent + ",\"flags\":4194304}")), 0);
    cam = s.call("csCameraGetNear", get_cam);
    EXPECT_EQ(result_num(cam, "trackingMode"), 2);
    EXPECT_EQ(result_num(cam, "pan"), pan);
    EXPECT_NE(result_num(cam, "portIndicator"), 5);

    double sys = result_num(s.call("csSysGet", "{\"pSysHandle\":0,\"srvrInstance\":0}"), "handle");
    std::string get_lan = "{\"pLAN\":null,\"pSysHandle\":" + h(sys) + ",\"instance\":0}";
    std::string lan = s.call("csLanGet", get_lan);
    sent = edited_result(lan, R"({"state":9,"address":["aa:bb","10.9.9.9","","","","",""]})");
    EXPECT_EQ(rsp_code(s.call("csLanSet", "{\"pLAN\":" + sent + ",\"flags\":4}")), 0);
    lan = s.call("csLanGet", get_lan);
    EXPECT_NE(result_num(lan, "state"), 9);
    json j(lan);
    EXPECT_STREQ(cJSON_GetArrayItem(j.path("result", "address"), 1)->valuestring, "10.9.9.9");
}

TEST(SimModel, PasswordSetsProveTheOldOneAndMeetTheRules) {
    session s;
    double sec = result_num(s.call("csSecGet", "{\"pSecHandle\":0,\"srvrInstance\":0}"), "handle");
    auto set = [&](const char *old_pwd, const char *new_pwd) {
        std::string rec = std::string(R"({"srvrInstance":0,"type":1,"id":"meeting","newPwd":")") + new_pwd +
                          R"(","oldPwd":")" + old_pwd + R"(","valid":0})";
        return rsp_code(s.call("csSecPwdSet", "{\"pSecPwd\":" + rec + ",\"flags\":2}"));
    };
    auto valid = [&]() {
        return static_cast<unsigned long>(result_num(
            s.call("csSecPwdGet", "{\"pSecPwd\":null,\"pSecHandle\":" + h(sec) + ",\"type\":1}"), "valid"));
    };
    EXPECT_EQ(set("", "ab1"), -19);  // shorter than 4
    EXPECT_EQ(valid(), 0xFFFul & ~0x1ul);
    EXPECT_EQ(set("", "meeting7"), -19);  // contains the id
    EXPECT_EQ(valid(), 0xFFFul & ~0x800ul);
    EXPECT_EQ(set("", "aaaa1"), -19);  // four in a row, three allowed
    EXPECT_EQ(valid(), 0xFFFul & ~0x400ul);
    EXPECT_EQ(set("", "good1"), 0);
    EXPECT_EQ(valid(), 0x80000FFFul);
    EXPECT_EQ(set("wrong", "next2"), -11);
    EXPECT_EQ(set("good1", "good1"), -19);  // reused, and not one character changed
    EXPECT_EQ(valid() & 0xFFF, 0xFFFul & ~0x220ul);
    EXPECT_EQ(set("good1", "next2"), 0);
}

}  // namespace
