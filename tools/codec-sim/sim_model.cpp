// The codec model: an in-memory codec whose state is a set of JSON record
// objects (one per codec object, keyed by kind and handle, linked to a parent
// handle). Getters answer from it, setters merge into it and announce the
// change, counts count, actions act, and lists page through entries.
//
// Records are kept as JSON on purpose: the model needs no field tables of
// its own, so it cannot share a mistake with the library's record tables.
// Each kind is described once by a seed object listing every member in
// declaration order; the operations are rows of one table served by a few
// generic bodies.
#include <cjson/cJSON.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim_internal.h"

namespace codec_sim_internal {

namespace {

// ---- record kinds: name, handle or not, seed members in declaration order ----

struct kind_desc {
    const char *kind;
    bool has_handle;
    const char *seed;
};

#define NIC_HEAD "\"id\":1,\"enable\":1,\"state\":1,\"maxCalls\":2,\"usedCalls\":0,\"maxRate\":6144,\"usedRate\":0"

const kind_desc kKinds[] = {
    {"Comm", true,
     R"({"maxConfs":2,"numConfs":1,"numPendingTerms":0,"autoAnswerPP":0,"autoAnswerMP":0,"connectTimeout":60,
        "disconnectTimeout":10,"maxTermsPerConf":8,"maxRecentCallListLen":100,"autoSearchOrder":0,"dialOrderCount":2,
        "dialOrder":[{"videoOrder":1,"voiceOrder":2},{"videoOrder":3,"voiceOrder":4}],"capabilities":3})"},
    {"Conf", true,
     R"({"name":"Conference 1","userName":"","maxTerms":8,"rate":1920,"encrypted":0,"contentState":0,"chairState":0,
        "numTerms":0,"numTalkers":0,"id":1,"confControlCap":0,"confRoles":0,"confMute":0,"action":0,"contentRestrict":0})"},
    {"Term", true,
     R"({"name":"Far End","callerID":"","addr":"10.0.0.9","rate":1920,"direction":0,"numCalls":1,"remoteSysID":"",
        "confIndex":0,"causeCode":0,"state":0,"muted":0,"connectTime":0,"disconnectTime":0,"deviceName":"",
        "numMedia":2,"id":1,"callType":1,"dirid":"","password":"","contentState":0,"authState":0,
        "dialedAddr":"10.0.0.9","encrypted":0,"type":0})"},
    {"TermMedia", true,
     R"({"type":1,"state":1,"alg":"H.264","format":"1080p","srcAddress":"10.0.0.2:3230","dstAddress":"10.0.0.9:3230",
        "encryptProto":"SRTP","encryptAlg":"AES-128","errorConcealment":1,"errors":0,"bitRate":1920,
        "actualBitRate":1850,"frameRate":30,"actualFrameRate":29.97,"totalPackets":120000,"packetsLost":12,
        "percentPacketLoss":0.01,"jitter":3,"latency":40,"algAnnexes":"","maxJitter":9})"},
    {"RecentCallArchive", false, R"({"archiveTime":1700000000})"},
    {"Audio", true,
     R"({"maxIns":4,"numIns":2,"maxOuts":2,"numOuts":1,"volume":50,"muted":0,"muteAutoAnswer":0,"liveMusicMode":0,
        "quorvexMics":1,"VCRAlwaysOn":0,"incomingCallTone":"Ring1","alertTone":"Alert1","audioCaps":1})"},
    {"AudioIn", true,
     R"({"name":"Mic 1","userName":"Table mic","level":5,"muted":0,"enabled":1,"echoCanceller":1,"phantomPower":0,
        "deviceType":1,"deviceMake":"Quorvex","deviceModel":"MicArray","deviceVersion":"2.1"})"},
    {"AudioOut", true,
     R"({"name":"Line out","userName":"Speakers","level":7,"muted":0,"enabled":1,"bass":-2,"treble":3,
        "deviceType":2,"deviceMake":"Quorvex","deviceModel":"Speaker","deviceVersion":"1.0"})"},
    {"PotsNic", true, "{" NIC_HEAD "}"},
    {"SpeakerPhoneNic", true, "{" NIC_HEAD ",\"name\":\"Q-Voice 20\"}"},
    {"H323Nic", true,
     "{" NIC_HEAD R"(,"addr":"10.0.0.2","name":"codec-h323","extension":"4711","gkAddrObtain":0,"pathNavUsage":0,
        "gkAddr":"10.0.0.1","gkState":1,"gkErr":0,"gkModel":"GK","gkSoftwareVersion":"5.0"})"},
    {"SipNic", true,
     "{" NIC_HEAD R"(,"addr":"sip:codec@example.test","transportProt":1,"authName":"codec","userName":"codec",
        "authPass":"","registrarSrvrAddr":"10.0.0.1","proxySrvrAddr":"10.0.0.1","configType":"auto",
        "registrarSrvrState":1,"registrarSrvrErr":0,"registrarSrvrModel":"Reg","registrarSrvrAuthMethNegotiated":2})"},
    {"IsdnNic", true,
     R"({"id":1,"type":1,"enable":0,"state":0,"maxCalls":2,"usedCalls":0,"maxRate":128,"usedRate":0,"lineCount":1,
        "countryCode":"1","areaCode":"512","outsideLineDialPrefix":"9","internationalDialPrefix":"011","voiceEnable":1,
        "alwaysDialAreaCode":0,"dial1ForUSACalls":1,"parallelDials":0,"numPlan":0,"voiceAlg":0,"switchType":0,
        "activeChannels":0,"dchanLocation":0,"networkMode":0,"clockSource":0,"termEndpointID":0,"originalNumber":0,
        "lineSig":0,"externalCSU":0,"lineBuildOut":0,"callByCall":0})"},
    {"IsdnLine", true,
     R"({"enable":1,"instance":0,"type":0,"state":0,"chanCount":2,"addressA":"5551000","idA":"A1","addressB":"5551001",
        "idB":"B1"})"},
    {"V35Nic", true,
     R"({"id":1,"type":2,"enable":0,"state":0,"maxCalls":1,"usedCalls":0,"maxRate":2048,"usedRate":0,"lineCount":1,
        "countryCode":"1","areaCode":"512","rs366Dialing":0})"},
    {"V35Line", true, R"({"enable":1,"instance":0,"type":0,"state":0,"chanCount":1,"address":"5552000"})"},
    {"Qos", true,
     R"({"type":0,"videoTOS":34,"audioTOS":46,"controlTOS":26,"mtu":1260,"videoErrorConcealProt":1,"rsvp":0,
        "dynamicBandwidth":1,"maxTxBandwidth":6144,"maxRxBandwidth":6144})"},
    {"FWTraversal", true,
     R"({"fixedPortsEnable":0,"fixedTCPPortLow":3230,"fixedTCPPortHigh":3253,"fixedUDPPortLow":3230,
        "fixedUDPPortHigh":3330,"prot":0})"},
    {"Video", true,
     R"({"maxIns":4,"numIns":2,"maxOuts":2,"numOuts":2,"screenSaverMode":0,"screenSaverTime":600,"capabilities":1})"},
    {"VideoIn", true,
     R"({"name":"Camera","userName":"Main camera","enabled":1,"attached":1,"selected":1,"signalType":1,
        "capabilities":0,"width":1920,"height":1080,"interlaced":0,"refreshRate":60,"role":1,"hposition":0,
        "vposition":0,"phase":0,"deviceType":1,"deviceName":"QCam 2","deviceMake":"Quorvex","deviceModel":"QC2",
        "deviceVersion":"1.2"})"},
    {"VideoOut", true,
     R"({"instance":1,"name":"Monitor 1","enabled":1,"attached":1,"signalType":1,"capabilities":0,"width":1920,
        "height":1080,"interlaced":0,"refreshRate":60,"adjust":0,"deviceType":2,"deviceName":"Display",
        "deviceMake":"Quorvex","deviceModel":"QView 55","deviceVersion":"3"})"},
    {"VideoOutLayout", true,
     R"({"videoOut":1,"PIPMode":0,"PIPLocation":0,"monitorLayout":1,"monitorSource":0,"panelMapCount":2,
        "panelMap":[{"source":1,"layout":1},{"source":2,"layout":2}]})"},
    {"VideoOutLayoutCap", true,
     R"({"videoOut":1,"PIPLocationCap":15,"monitorLayoutCap":7,"monitorLayoutCap2":0,"monitorLayoutCap3":0,
        "monitorSourceCap":3,"panelMapCapCount":2,
        "panelMapCap":[{"sourceCap":3,"layoutCap":7,"layoutCap2":0,"layoutCap3":0},
                       {"sourceCap":3,"layoutCap":7,"layoutCap2":0,"layoutCap3":0}]})"},
    {"CamSubsys", true,
     R"({"maxNearCams":4,"numNearCams":1,"numFarTerminals":1,"maxNearPresets":3,"maxFarPresets":3,
        "backlightComp":0,"farControlOfNearCam":1,"primaryCam":1,"ptzMode":0})"},
    {"Camera", true,
     R"({"id":1,"enabled":1,"userName":"Main camera","make":"Quorvex QCam 2","resolution":"1080p","capabilities":7,
        "source":1,"videoQuality":0,"selected":1,"pan":0,"tilt":0,"zoom":0,"minPan":-100,"minTilt":-30,"minZoom":0,
        "maxPan":100,"maxTilt":30,"maxZoom":100,"isNearCamera":1,"farCamTermId":0,"portIndicator":0,"instance":0,
        "trackingMode":0,"contentRestrict":0})"},
    {"CameraFarGroup", true,
     R"({"id":1,"confId":1,"termId":1,"maxCameras":4,"numCameras":1,"camControlAllowed":1})"},
    {"Preset", true, R"({"isSet":0,"isNearPreset":1,"instance":0})"},
    {"Content", true, R"({"maxSrvrs":2,"maxPlaying":2,"numPlaying":1})"},
    {"ContentSrvr", true,
     R"({"enabled":1,"status":6,"address":"content.example.test","protocol":1,"authMethod":0,"authName":"",
        "authPass":""})"},
    {"ContentSrc", false,
     R"({"srvrType":1,"name":"Lecture","userName":"","url":"rtsp://content.example.test/lecture","attached":1,
        "state":1,"multiplier":1,"rate":2048,"format":"H.264","numTracks":3})"},
    {"Dir", true, R"({"maxSrvrs":4,"capabilities":3,"localAvailability":1})"},
    {"DirSrvr", true,
     R"({"enabled":1,"status":6,"groupName":"Everyone","address":"ldap.example.test","protocol":3,"ssl":0,
        "authMethod":1,"authName":"codec","authPass":"","authDomain":"EXAMPLE","authBaseDN":"dc=example,dc=test",
        "port":389,"id":"ldap-1","authMethodNegotiated":1,"presenceSrvrStatus":0,
        "presenceSrvrAuthMethodNegotiated":0,"capabilities":1,"lastModifiedTime":1700000000})"},
    {"DirEnt", false,
     R"({"srvrType":3,"entryType":0,"id":"","locale":"en_US","fullName":"","displayName":"","company":"Example",
        "companyAddress":"1 Main St","department":"Engineering","title":"Engineer","manager":"","assistant":"",
        "email":"","workTel":"+1 555 0100","faxTel":"","mobileTel":"","homeTel":"","videoDeviceCount":1,
        "videoDevice":[{"srvrInstance":0,"name":"Room system","rate":1920,"addrCount":1,"addr":[""],"presence":1,
                        "presenceProt":0,"id":"dev-1"}],
        "webAddress":"","timeZone":"UTC","rate":1920,"firstName":"","lastName":"","presence":1})"},
    {"Cal", true, R"({"maxSrvrs":1,"numSrvrs":1})"},
    {"CalSrvr", true,
     R"({"enabled":1,"status":6,"address":"mail.example.test","protocol":1,"authMethod":1,"userName":"room1",
        "userPass":"","userDomain":"EXAMPLE","userEmail":"room1@example.test","reminderTime":5,
        "playReminderTone":1,"showPrivateMeetingInfo":0})"},
    {"CalMeeting", false,
     R"({"srvrType":1,"id":"","subject":"","location":"Room 1","startTime":0,"endTime":0,"status":0,
        "reminderTime":5,"privacy":0,"password":"","signalingPrefix":"","dialInPrefix":"","VMRName":"","VMRNumber":"",
        "signalingPostfix":"","audioAddr1":"","audioAddr2":"","options":0,"recordingURI":"","chairPassword":"",
        "invitationLang":"en","organizer":"organizer@example.test","videoAddr1":"","videoAddr2":"",
        "timeUntilMeeting":0})"},
    {"Sys", true,
     R"({"systemName":"Room 1","serialNumber":"SIM0000001","softwareVersion":"6.2.0","hardwareVersion":"A",
        "model":"Q-Room 50","bootTime":1700000000,"state":0,"hostName":"room1"})"},
    {"Lan", true,
     R"({"state":1,"addressCount":7,"address":["00:11:22:33:44:55","10.0.0.2","","","fe80::2","fec0::2","2001:db8::2"],
        "eapEnabled":0,"eapIdentity":"","eapPassword":"","eapState":0,"vlanEnabled":0})"},
    {"Time", true,
     R"({"time":1700000000,"timeZoneOffset":0,"dateDisplayFormat":0,"timeDisplayFormat":0,"adjustForDST":1,
        "srvrAddrObtain":0,"srvrAddr":"pool.ntp.example.test","srvrState":1,"displayTimeInCall":0})"},
    {"Provisioning", true,
     R"({"srvrState":0,"srvrErr":0,"srvrDomain":"","srvrAuthName":"","srvrAuthPass":"","srvrAddr":"",
        "srvrAuthMethNegotiated":0,"maintWindowEnabled":0,"maintWindowStartTime":0,"maintWindowDuration":0})"},
    {"Log", true, R"({"percentFilled":12,"percentFilledThreshold":90})"},
    {"Location", true,
     R"({"countryShortName":"US","countryLongName":"United States","countryCode":1,"areaCodeRequired":0,
        "isdnInternationalPrefix":"011","potsInternationalPrefix":"011","language":"en"})"},
    {"HomeScreen", true,
     R"({"dialingDisplay":1,"contactListAsHomeScreen":0,"callQualityMenu":1,"h323ExtensionBox":0,"directoryButton":1,
        "systemButton":1,"multipointButton":0,"systemNameText":1,"addrText":1,"dateTimeText":1,"availabilityMenu":1,
        "callDetailReportButton":0,"recentCallsButton":1,"sitesButton":0,"lastNumberDialedText":0})"},
    {"WQT", true, R"({"model":"","numCodecs":0,"addressCount":0,"address":[]})"},
    {"Inkpad", false,
     R"({"bAttached":0,"hardwareVersion":"","firmwareVersion":"","model":""})"},
    {"Sec", true,
     R"({"securityMode":0,"useRoomPasswordForRemoteAccess":0,"allowAccessToUserSettings":1,"enableWebAccess":1,
        "enableTelnetAccess":0,"enableSNMPAccess":0,"mediaEncryption":1,"ntlmVersion":2,"allowVideoOnWeb":0,
        "webAccessPort":443})"},
    {"SecPwd", false, R"({"type":1,"id":"meeting","newPwd":"","oldPwd":"","valid":0})"},
    {"SecPwdValidity", false, R"({"type":1,"valid":0})"},
    {"SecPwdAttr", true,
     R"({"type":1,"minimumLength":4,"requireLowerCount":0,"requireUpperCount":0,"requireNumberCount":1,
        "requireSpecialCount":0,"reuseCount":3,"minimumAge":0,"maximumAge":90,"expirationWarningAge":7,
        "minimumChangedChars":1,"maximumRepeatedChars":3,"canContainIDorReverse":0,"encryptionType":0})"},
};

const kind_desc *find_kind(const std::string &k) {
    for (const auto &d : kKinds)
        if (k == d.kind) return &d;
    return nullptr;
}

// ---- the 55 notifications ----

struct notif_desc {
    const char *method;
    const char *kind;
    const char *param;
};

const notif_desc kNotifications[] = {
    {"csCommChangedCB", "Comm", "pComm"},
    {"csConfChangedCB", "Conf", "pConf"},
    {"csFWTraversalChangedCB", "FWTraversal", "pFWTraversal"},
    {"csH323NicChangedCB", "H323Nic", "pH323Nic"},
    {"csIsdnLineChangedCB", "IsdnLine", "pIsdnLine"},
    {"csIsdnNicChangedCB", "IsdnNic", "pIsdnNic"},
    {"csPotsNicChangedCB", "PotsNic", "pPotsNic"},
    {"csQosChangedCB", "Qos", "pQos"},
    {"csRecentCallListArchivedCB", "RecentCallArchive", "pRecentCallArchive"},
    {"csSipNicChangedCB", "SipNic", "pSipNic"},
    {"csSpeakerPhoneNicChangedCB", "SpeakerPhoneNic", "pSpeakerPhoneNic"},
    {"csTermChangedCB", "Term", "pTerm"},
    {"csTermMediaChangedCB", "TermMedia", "pTermMedia"},
    {"csV35LineChangedCB", "V35Line", "pV35Line"},
    {"csV35NicChangedCB", "V35Nic", "pV35Nic"},
    {"csAudioChangedCB", "Audio", "pAudio"},
    {"csAudioInChangedCB", "AudioIn", "pAudioIn"},
    {"csVideoChangedCB", "Video", "pVideo"},
    {"csVideoInChangedCB", "VideoIn", "pVideoIn"},
    {"csVideoOutLayoutCapChangedCB", "VideoOutLayoutCap", "pVideoLayout"},
    {"csVideoOutLayoutChangedCB", "VideoOutLayout", "pVideoLayout"},
    {"csCamSubsysChangedCB", "CamSubsys", "pCamSubsys"},
    {"csCameraAddedCB", "Camera", "pCamera"},
    {"csCameraChangedCB", "Camera", "pCamera"},
    {"csCameraFarGroupAddedCB", "CameraFarGroup", "pCameraGroup"},
    {"csCameraFarGroupChangedCB", "CameraFarGroup", "pCameraGroup"},
    {"csCameraFarGroupRemovedCB", "CameraFarGroup", "pCameraGroup"},
    {"csCameraRemovedCB", "Camera", "pCamera"},
    {"csPresetChangedCB", "Preset", "pPreset"},
    {"csPresetSelectedCB", "Preset", "pPreset"},
    {"csDirChangedCB", "Dir", "pDir"},
    {"csDirEntAddedCB", "DirEnt", "pDirEnt"},
    {"csDirEntChangedCB", "DirEnt", "pDirEnt"},
    {"csDirEntRemovedCB", "DirEnt", "pDirEnt"},
    {"csDirSrvrChangedCB", "DirSrvr", "pDirSrvr"},
    {"csContentChangedCB", "Content", "pContent"},
    {"csContentSrcChangedCB", "ContentSrc", "pContentSrc"},
    {"csContentSrvrChangedCB", "ContentSrvr", "pContentSrvr"},
    {"csHomeScreenChangedCB", "HomeScreen", "pScreen"},
    {"csSecChangedCB", "Sec", "pSec"},
    {"csSecPwdAttrChangedCB", "SecPwdAttr", "pSecPwdAttr"},
    {"csSecPwdChangedCB", "SecPwd", "pSecPwd"},
    {"csSecPwdValidityChangedCB", "SecPwdValidity", "pValidity"},
    {"csWQTChangedCB", "WQT", "pWQT"},
    {"csLanChangedCB", "Lan", "pLan"},
    {"csLocationChangedCB", "Location", "pLocation"},
    {"csLogChangedCB", "Log", "pLog"},
    {"csProvisioningChangedCB", "Provisioning", "pProvisioning"},
    {"csSysChangedCB", "Sys", "pSys"},
    {"csTimeChangedCB", "Time", "pTime"},
    {"csCalChangedCB", "Cal", "pCal"},
    {"csCalMeetingAddedCB", "CalMeeting", "pCalMeeting"},
    {"csCalMeetingChangedCB", "CalMeeting", "pCalMeeting"},
    {"csCalMeetingRemovedCB", "CalMeeting", "pCalMeeting"},
    {"csCalSrvrChangedCB", "CalSrvr", "pCalSrvr"},
};
static_assert(sizeof kNotifications / sizeof kNotifications[0] == 55, "the codec has 55 notifications");

std::string changed_method(const std::string &kind) {
    for (const auto &n : kNotifications) {
        std::string m = n.method;
        if (kind == n.kind && m.size() > 9 && m.compare(m.size() - 9, 9, "ChangedCB") == 0) return m;
    }
    return "";
}

const notif_desc *find_notification(const std::string &method) {
    for (const auto &n : kNotifications)
        if (method == n.method) return &n;
    return nullptr;
}

// ---- small JSON helpers ----

const cJSON *member(const cJSON *o, const char *k) { return o ? cJSON_GetObjectItemCaseSensitive(o, k) : nullptr; }

double num(const cJSON *o, const char *k, double def = 0) {
    const cJSON *v = member(o, k);
    return cJSON_IsNumber(v) ? v->valuedouble : def;
}

long long integer(const cJSON *o, const char *k, long long def = 0) {
    return static_cast<long long>(num(o, k, static_cast<double>(def)));
}

uint32_t handle_param(const cJSON *params, const char *k) {
    return static_cast<uint32_t>(static_cast<unsigned long long>(integer(params, k)));
}

std::string str(const cJSON *o, const char *k) {
    const cJSON *v = member(o, k);
    return cJSON_IsString(v) && v->valuestring ? v->valuestring : "";
}

void set_num(cJSON *o, const char *k, double v) {
    cJSON *n = cJSON_CreateNumber(v);
    if (cJSON_GetObjectItemCaseSensitive(o, k))
        cJSON_ReplaceItemInObjectCaseSensitive(o, k, n);
    else
        cJSON_AddItemToObject(o, k, n);
}

// Copies every member of src into dst except the header, replacing members
// of the same name (matched without regard to case, as the codec's decoder
// would) and adding the others.
void merge_members(cJSON *dst, const cJSON *src) {
    if (!cJSON_IsObject(src)) return;
    for (const cJSON *m = src->child; m; m = m->next) {
        if (!m->string) continue;
        if (strcasecmp(m->string, "srvrInstance") == 0 || strcasecmp(m->string, "handle") == 0) continue;
        cJSON *copy = cJSON_Duplicate(m, 1);
        cJSON *old = cJSON_GetObjectItem(dst, m->string);
        if (old)
            cJSON_ReplaceItemViaPointer(dst, old, copy);
        else
            cJSON_AddItemToObject(dst, m->string, copy);
    }
}

std::string print(const cJSON *o) {
    char *s = cJSON_PrintUnformatted(o);
    std::string out = s ? s : "";
    cJSON_free(s);
    return out;
}

bool ieq_contains(const std::string &hay, const std::string &needle) {
    if (needle.empty()) return true;
    auto it = std::search(hay.begin(), hay.end(), needle.begin(), needle.end(),
                          [](char a, char b) { return tolower(static_cast<unsigned char>(a)) == tolower(static_cast<unsigned char>(b)); });
    return it != hay.end();
}

using clock_type = std::chrono::steady_clock;

}  // namespace

// ---- the model state ----

struct record {
    std::string kind;
    uint32_t handle = 0;
    uint32_t parent = 0;
    cJSON *obj = nullptr;
};

struct transition {
    clock_type::time_point due;
    uint32_t handle;
    std::string merge;  // members to merge into the record; "" = remove the record
};

struct list_session {
    std::vector<std::string> entries;  // record objects as text, in order
    size_t pos = 0;
    std::string result_tail;           // "locale" / "rate" members that follow the list
    uint32_t server = 0;
};

struct sim_model {
    model_options opt;
    std::mutex mu;
    uint32_t next_handle = 1000;
    int next_term_id = 100;
    int next_list = 1;
    std::map<uint32_t, record> recs;
    std::vector<uint32_t> order;  // creation order
    std::vector<transition> pending;
    std::map<int, list_session> lists;
    std::vector<std::string> recent;  // recent calls, newest first, as terminal objects
    uint32_t selected_preset = 0;
    password_book passwords;

    ~sim_model() {
        for (auto &r : recs) cJSON_Delete(r.second.obj);
    }
};

namespace {

// Builds a record object of a kind: header, then the seed members, then overrides.
cJSON *make_object(const kind_desc &d, uint32_t handle, const char *overrides) {
    cJSON *o = cJSON_CreateObject();
    cJSON_AddNumberToObject(o, "srvrInstance", 0);
    if (d.has_handle) cJSON_AddNumberToObject(o, "handle", handle);
    cJSON *seed = cJSON_Parse(d.seed);
    merge_members(o, seed);
    cJSON_Delete(seed);
    if (overrides) {
        cJSON *ov = cJSON_Parse(overrides);
        merge_members(o, ov);
        cJSON_Delete(ov);
    }
    return o;
}

uint32_t add_record(sim_model &m, const char *kind, uint32_t parent, const char *overrides = nullptr) {
    const kind_desc *d = find_kind(kind);
    if (!d) return 0;
    uint32_t h = m.next_handle++;
    record r;
    r.kind = kind;
    r.handle = h;
    r.parent = parent;
    r.obj = make_object(*d, h, overrides);
    m.recs.emplace(h, r);
    m.order.push_back(h);
    return h;
}

void add_record_obj(sim_model &m, const char *kind, uint32_t parent, const cJSON *members) {
    uint32_t h = add_record(m, kind, parent);
    if (h) merge_members(m.recs[h].obj, members);
}

void remove_record(sim_model &m, uint32_t h) {
    auto it = m.recs.find(h);
    if (it == m.recs.end()) return;
    // Children go with their parent.
    std::vector<uint32_t> kids;
    for (auto &r : m.recs)
        if (r.second.parent == h) kids.push_back(r.first);
    for (uint32_t k : kids) remove_record(m, k);
    it = m.recs.find(h);
    cJSON_Delete(it->second.obj);
    m.recs.erase(it);
    m.order.erase(std::remove(m.order.begin(), m.order.end(), h), m.order.end());
}

record *find(sim_model &m, uint32_t h) {
    auto it = m.recs.find(h);
    return it == m.recs.end() ? nullptr : &it->second;
}

record *first_of(sim_model &m, const std::string &kind) {
    for (uint32_t h : m.order) {
        record &r = m.recs[h];
        if (r.kind == kind) return &r;
    }
    return nullptr;
}

std::vector<record *> children(sim_model &m, uint32_t parent, const std::string &kind) {
    std::vector<record *> out;
    for (uint32_t h : m.order) {
        record &r = m.recs[h];
        if (r.parent == parent && r.kind == kind) out.push_back(&r);
    }
    return out;
}

void seed(sim_model &m) {
    uint32_t comm = add_record(m, "Comm", 0);
    add_record(m, "Conf", comm);
    add_record(m, "H323Nic", comm);
    add_record(m, "SipNic", comm, R"({"id":2})");
    add_record(m, "PotsNic", comm, R"({"id":3,"enable":0})");
    add_record(m, "SpeakerPhoneNic", comm, R"({"id":4})");
    uint32_t isdn = add_record(m, "IsdnNic", comm);
    add_record(m, "IsdnLine", isdn);
    uint32_t v35 = add_record(m, "V35Nic", comm);
    add_record(m, "V35Line", v35);
    add_record(m, "Qos", comm);
    add_record(m, "FWTraversal", comm);

    uint32_t audio = add_record(m, "Audio", 0);
    add_record(m, "AudioIn", audio);
    add_record(m, "AudioIn", audio, R"({"name":"Mic 2","userName":"Ceiling mic","deviceModel":"Ceiling","deviceVersion":"1.4","enabled":0})");
    add_record(m, "AudioOut", audio);

    uint32_t video = add_record(m, "Video", 0);
    add_record(m, "VideoIn", video);
    add_record(m, "VideoIn", video, R"({"name":"PC","userName":"Laptop","selected":0,"role":2,"deviceType":3})");
    for (int i = 1; i <= 2; i++) {
        char ov[128];
        snprintf(ov, sizeof ov, R"({"instance":%d,"name":"Monitor %d","deviceType":%d})", i, i, i == 1 ? 2 : 1);
        uint32_t out = add_record(m, "VideoOut", video, ov);
        snprintf(ov, sizeof ov, R"({"videoOut":%d})", i);
        add_record(m, "VideoOutLayout", out, ov);
        add_record(m, "VideoOutLayoutCap", out, ov);
    }

    uint32_t cams = add_record(m, "CamSubsys", 0, R"({"numNearCams":2})");
    add_record(m, "Camera", cams);
    add_record(m, "Camera", cams,
               R"({"id":2,"userName":"Document camera","make":"Quorvex DocCam","source":2,"selected":0,"instance":1,)"
               R"("capabilities":1})");
    for (int near = 1; near >= 0; near--)
        for (int i = 0; i < 3; i++) {
            char ov[96];
            snprintf(ov, sizeof ov, R"({"isSet":%d,"isNearPreset":%d,"instance":%d})", i == 0 ? 1 : 0, near, i);
            add_record(m, "Preset", cams, ov);
        }
    uint32_t group = add_record(m, "CameraFarGroup", cams);
    add_record(m, "Camera", group,
               R"({"id":11,"userName":"Far camera","isNearCamera":0,"farCamTermId":1,"selected":0,"instance":0})");

    uint32_t content = add_record(m, "Content", 0);
    uint32_t csrv = add_record(m, "ContentSrvr", content);
    add_record(m, "ContentSrc", csrv);
    add_record(m, "ContentSrc", csrv, R"({"name":"Training","url":"rtsp://content.example.test/training","state":0})");

    std::vector<uint32_t> dir_rows;
    for (const seed_row &row : directory_seed())
        dir_rows.push_back(add_record(m, row.kind.c_str(), row.parent < 0 ? 0 : dir_rows[static_cast<size_t>(row.parent)],
                                      row.members.c_str()));

    uint32_t cal = add_record(m, "Cal", 0);
    uint32_t calsrv = add_record(m, "CalSrvr", cal);
    for (int i = 1; i <= 3; i++) {
        char ov[256];
        snprintf(ov, sizeof ov, R"({"id":"mtg-%d","subject":"Meeting %d","startTime":%d,"endTime":%d,"videoAddr1":"vmr%d@example.test"})",
                 i, i, 1700000000 + i * 3600, 1700000000 + i * 3600 + 1800, i);
        add_record(m, "CalMeeting", calsrv, ov);
    }
    for (const std::string &ov : media_week_meetings(static_cast<long>(time(nullptr))))
        add_record(m, "CalMeeting", calsrv, ov.c_str());

    uint32_t sys = add_record(m, "Sys", 0);
    add_record(m, "Lan", sys);
    add_record(m, "Time", sys);
    add_record(m, "Provisioning", sys);
    add_record(m, "Log", sys);
    add_record(m, "Location", sys);
    add_record(m, "WQT", sys);
    add_record(m, "Inkpad", sys);
    add_record(m, "HomeScreen", 0);

    uint32_t sec = add_record(m, "Sec", 0);
    add_record(m, "SecPwd", sec);
    add_record(m, "SecPwdValidity", sec);
    add_record(m, "SecPwdAttr", sec);
    add_record(m, "SecPwdAttr", sec, R"({"type":2,"minimumLength":8})");
    add_record(m, "RecentCallArchive", 0);

    // Two earlier calls in the recent call list.
    for (int i = 1; i <= 2; i++) {
        char ov[256];
        snprintf(ov, sizeof ov, R"({"name":"Earlier call %d","addr":"10.0.1.%d","state":7,"id":%d,"dialedAddr":"10.0.1.%d"})", i, i, i, i);
        cJSON *t = make_object(*find_kind("Term"), 0, ov);
        m.recent.push_back(print(t));
        cJSON_Delete(t);
    }
}

void tick(sim_model &m) {
    auto now = clock_type::now();
    std::vector<transition> due, later;
    for (auto &t : m.pending) (t.due <= now ? due : later).push_back(t);
    m.pending.swap(later);
    for (auto &t : due) {
        record *r = find(m, t.handle);
        if (!r) continue;
        if (t.merge.empty()) {
            remove_record(m, t.handle);
            continue;
        }
        cJSON *ov = cJSON_Parse(t.merge.c_str());
        merge_members(r->obj, ov);
        cJSON_Delete(ov);
    }
}

std::string notification_text(const std::string &method, const char *param, const cJSON *obj, uint32_t flags) {
    cJSON *root = cJSON_CreateObject();
    cJSON_AddStringToObject(root, "method", method.c_str());
    cJSON *params = cJSON_AddObjectToObject(root, "params");
    cJSON_AddItemToObject(params, param, obj ? cJSON_Duplicate(obj, 1) : cJSON_CreateObject());
    cJSON_AddNumberToObject(params, "flags", flags);
    cJSON_AddStringToObject(root, "jsonrpc", "2.0");
    std::string s = print(root);
    cJSON_Delete(root);
    return s;
}

// Queues a notification about record r (as it is now, or with `with` merged
// into a copy) at delay_ms.
void announce(sim_model &m, model_answer *a, const std::string &method, const record &r, uint32_t flags,
              int delay_ms = 0, const char *with = nullptr) {
    (void)m;
    const notif_desc *n = find_notification(method);
    if (!n) return;
    cJSON *copy = cJSON_Duplicate(r.obj, 1);
    if (with) {
        cJSON *ov = cJSON_Parse(with);
        merge_members(copy, ov);
        cJSON_Delete(ov);
    }
    a->effects.push_back(model_effect{delay_ms, notification_text(method, n->param, copy, flags)});
    cJSON_Delete(copy);
}

void later(sim_model &m, uint32_t handle, int delay_ms, const std::string &merge) {
    m.pending.push_back(transition{clock_type::now() + std::chrono::milliseconds(delay_ms), handle, merge});
}

int fail(model_answer *a, int code) {
    a->is_error = true;
    a->code = code;
    return code;
}

void answer_record(model_answer *a, const record &r) { a->result = cJSON_Duplicate(r.obj, 1); }

// ---- generic operation bodies ----

struct op_row;
typedef void (*op_fn)(sim_model &, const op_row &, const cJSON *, model_answer *);

struct op_row {
    const char *method;
    op_fn fn;
    const char *kind;   // record kind answered, set, counted or acted on
    const char *a;      // first parameter key (meaning depends on fn)
    const char *b;      // second parameter key
    const char *c;      // third
};

// Top-level getter: the one record of the kind.
void op_top_get(sim_model &m, const op_row &row, const cJSON *, model_answer *a) {
    record *r = first_of(m, row.kind);
    if (!r) return (void)fail(a, -4);
    answer_record(a, *r);
}

// Children of the parent named by params[row.a], optionally filtered by
// "prot" (the record's "protocol") or by a member equal to a parameter.
std::vector<record *> select_children(sim_model &m, const op_row &row, const cJSON *params, bool *parent_ok) {
    record *p = find(m, handle_param(params, row.a));
    *parent_ok = p != nullptr;
    if (!p) return {};
    auto kids = children(m, p->handle, row.kind);
    if (member(params, "prot")) {
        long long prot = integer(params, "prot");
        kids.erase(std::remove_if(kids.begin(), kids.end(),
                                  [&](record *r) { return integer(r->obj, "protocol") != prot; }),
                   kids.end());
    }
    return kids;
}

// Child getter by index (row.b names the index parameter; none: the only child).
void op_child_get(sim_model &m, const op_row &row, const cJSON *params, model_answer *a) {
    bool ok;
    auto kids = select_children(m, row, params, &ok);
    if (!ok) return (void)fail(a, -4);
    long long idx = row.b ? integer(params, row.b) : 0;
    if (idx < 0 || idx >= static_cast<long long>(kids.size())) return (void)fail(a, -4);
    answer_record(a, *kids[static_cast<size_t>(idx)]);
}

// Child getter by key: the child whose member row.c equals params[row.b].
void op_child_get_by(sim_model &m, const op_row &row, const cJSON *params, model_answer *a) {
    bool ok;
    auto kids = select_children(m, row, params, &ok);
    if (!ok) return (void)fail(a, -4);
    const cJSON *want = member(params, row.b);
    for (record *r : kids) {
        const cJSON *have = member(r->obj, row.c);
        if (cJSON_IsNumber(want) && cJSON_IsNumber(have) && want->valuedouble == have->valuedouble)
            return answer_record(a, *r);
        if (cJSON_IsString(want) && cJSON_IsString(have) && strcmp(want->valuestring, have->valuestring) == 0)
            return answer_record(a, *r);
    }
    fail(a, -4);
}

void op_count(sim_model &m, const op_row &row, const cJSON *params, model_answer *a) {
    bool ok;
    auto kids = select_children(m, row, params, &ok);
    if (!ok) return (void)fail(a, -4);
    a->result = cJSON_CreateNumber(static_cast<double>(kids.size()));
}

// The rules for passwords of a type (a SecPwdAttr object), null when none.
const cJSON *password_rules(sim_model &m, long long type) {
    for (uint32_t h : m.order) {
        record &r = m.recs[h];
        if (r.kind == "SecPwdAttr" && integer(r.obj, "type") == type) return r.obj;
    }
    return nullptr;
}

// Setter: the record object under row.a; matched by handle, or (kinds
// without a handle) by the member row.c, among the children of params[row.b]
// when row.b is given.
void op_set(sim_model &m, const op_row &row, const cJSON *params, model_answer *a) {
    const cJSON *obj = member(params, row.a);
    if (!cJSON_IsObject(obj)) return (void)fail(a, -10);
    uint32_t flags = handle_param(params, "flags");
    record *target = nullptr;
    if (find_kind(row.kind)->has_handle) {
        record *r = find(m, handle_param(obj, "handle"));
        if (r && r->kind == row.kind) target = r;
    } else {
        for (uint32_t h : m.order) {
            record &r = m.recs[h];
            if (r.kind != row.kind) continue;
            if (row.b && r.parent != handle_param(params, row.b)) continue;
            if (str(r.obj, row.c) == str(obj, row.c) && integer(r.obj, row.c) == integer(obj, row.c)) {
                target = &r;
                break;
            }
        }
    }
    if (!target) return (void)fail(a, -4);
    if (strcmp(row.kind, "SecPwd") == 0) {
        int rc = password_change(m.passwords, target->obj, obj, password_rules(m, integer(obj, "type")));
        if (rc < 0) return (void)fail(a, rc);
        // Whether a password is set now: the validity record follows.
        for (uint32_t h : m.order) {
            record &v = m.recs[h];
            if (v.kind != "SecPwdValidity" || integer(v.obj, "type") != integer(obj, "type")) continue;
            set_num(v.obj, "valid", static_cast<double>(static_cast<uint32_t>(integer(target->obj, "valid")) & kPasswordPresent));
            announce(m, a, "csSecPwdValidityChangedCB", v, 0);
        }
    } else {
        apply_flagged_members(row.kind, target->obj, obj, flags);
    }
    std::string method = changed_method(row.kind);
    if (!method.empty()) announce(m, a, method, *target, flags);
}

// ---- actions ----

const char *kTermChanged = "csTermChangedCB";
const char *kConfChanged = "csConfChangedCB";

void set_num_terms(sim_model &m, record &conf, int delta, model_answer *a, int delay_ms) {
    long long n = integer(conf.obj, "numTerms") + delta;
    if (n < 0) n = 0;
    set_num(conf.obj, "numTerms", static_cast<double>(n));
    (void)m;
    announce(m, a, kConfChanged, conf, 0x80, delay_ms);
}

// An audio and a video stream for a call.
void add_media(sim_model &m, uint32_t term) {
    add_record(m, "TermMedia", term, R"({"type":0,"alg":"G.722.1C","format":"","bitRate":64,"actualBitRate":64,"frameRate":0,"actualFrameRate":0})");
    add_record(m, "TermMedia", term);
}

// An address the codec cannot dial: the part after the call-type prefix
// ("h323:", "sip:", or just ":") holds no letter or digit, or the address
// says "invalid" (any case). Such a dial is answered -8 "Bad address".
bool undialable(const std::string &dial) {
    size_t colon = dial.find(':');
    std::string addr = colon == std::string::npos ? dial : dial.substr(colon + 1);
    bool alnum = false;
    for (char c : addr) alnum = alnum || isalnum(static_cast<unsigned char>(c));
    std::string lower = dial;
    for (char &c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return !alnum || lower.find("invalid") != std::string::npos;
}

// csTermMediaGet: a call has eight media slots. The streams it carries
// (csTermMediaCount of them) come first and stream (state 2) only while the
// call is Active (state 1 before); the remaining slots up to 8 are idle
// (state 0, no algorithm, no counters).
void act_media_get(sim_model &m, const op_row &, const cJSON *params, model_answer *a) {
    record *t = find(m, handle_param(params, "pTermHandle"));
    if (!t || t->kind != "Term") return (void)fail(a, -4);
    auto streams = children(m, t->handle, "TermMedia");
    long long i = integer(params, "mediaInstance");
    if (i < 0 || i >= 8) return (void)fail(a, -4);
    if (i < static_cast<long long>(streams.size())) {
        answer_record(a, *streams[static_cast<size_t>(i)]);
        set_num(a->result, "state", integer(t->obj, "state") == 0 ? 2 : 1);
        return;
    }
    a->result = make_object(*find_kind("TermMedia"), 0, R"({"type":2,"state":0,"alg":"","format":"","srcAddress":"",
        "dstAddress":"","encryptProto":"","encryptAlg":"","errorConcealment":0,"bitRate":0,"actualBitRate":0,
        "frameRate":0,"actualFrameRate":0,"totalPackets":0,"packetsLost":0,"percentPacketLoss":0,"jitter":0,
        "latency":0,"maxJitter":0})");
}

// Flash and key strings reach only a call that is still up; key strings
// carry DTMF digits only (0-9, *, #, A-D, and ',' for a pause).
void act_term_keys(sim_model &m, const op_row &, const cJSON *params, model_answer *a) {
    record *t = find(m, handle_param(params, "pTermHandle"));
    if (!t || t->kind != "Term" || integer(t->obj, "state") == 7) return (void)fail(a, -4);
    if (!member(params, "keystring")) return;
    std::string keys = str(params, "keystring");
    if (keys.empty()) return (void)fail(a, -10);
    for (char c : keys)
        if (!strchr("0123456789*#ABCDabcd,", c)) return (void)fail(a, -10);
}

void act_dial(sim_model &m, const op_row &, const cJSON *params, model_answer *a) {
    record *conf = find(m, handle_param(params, "pConfHandle"));
    if (!conf || conf->kind != "Conf") return (void)fail(a, -4);
    std::string addr = str(params, "address");
    if (undialable(addr)) return (void)fail(a, -8);
    const int step = m.opt.dial_step_ms;
    cJSON *ov = cJSON_CreateObject();
    cJSON_AddStringToObject(ov, "name", addr.c_str());
    cJSON_AddStringToObject(ov, "addr", addr.c_str());
    cJSON_AddStringToObject(ov, "dialedAddr", addr.c_str());
    cJSON_AddNumberToObject(ov, "rate", static_cast<double>(handle_param(params, "rate")));
    cJSON_AddNumberToObject(ov, "direction", 0);
    cJSON_AddNumberToObject(ov, "state", 2);
    cJSON_AddNumberToObject(ov, "id", m.next_term_id++);
    cJSON_AddNumberToObject(ov, "connectTime", 0);
    std::string ovs = print(ov);
    cJSON_Delete(ov);
    uint32_t h = add_record(m, "Term", conf->handle, ovs.c_str());
    add_media(m, h);
    record &t = m.recs[h];
    announce(m, a, kTermChanged, t, 0x1 | 0x4 | 0x8 | 0x10 | 0x200 | 0x8000);
    set_num_terms(m, *conf, +1, a, 0);
    char active[96];
    snprintf(active, sizeof active, R"({"state":0,"connectTime":%ld})", static_cast<long>(time(nullptr)));
    announce(m, a, kTermChanged, t, 0x200, step, R"({"state":3})");
    announce(m, a, kTermChanged, t, 0x200 | 0x800, 2 * step, active);
    later(m, h, step, R"({"state":3})");
    later(m, h, 2 * step, active);
}

// Takes a terminal to Disconnected now and out of its conference one step later.
void hang_up(sim_model &m, record &t, long long cause, model_answer *a) {
    char ov[96];
    snprintf(ov, sizeof ov, R"({"state":7,"causeCode":%lld,"disconnectTime":%ld})", cause, static_cast<long>(time(nullptr)));
    cJSON *o = cJSON_Parse(ov);
    merge_members(t.obj, o);
    cJSON_Delete(o);
    announce(m, a, kTermChanged, t, 0x100 | 0x200 | 0x1000);
    m.recent.insert(m.recent.begin(), print(t.obj));
    if (m.recent.size() > 100) m.recent.resize(100);
    record *parent = find(m, t.parent);
    if (parent && parent->kind == "Conf") set_num_terms(m, *parent, -1, a, m.opt.dial_step_ms);
    if (parent && parent->kind == "Comm") {
        set_num(parent->obj, "numPendingTerms", std::max<long long>(0, integer(parent->obj, "numPendingTerms") - 1));
        announce(m, a, "csCommChangedCB", *parent, 0x4);
    }
    later(m, t.handle, m.opt.dial_step_ms, "");
}

std::vector<record *> live_terms(sim_model &m, uint32_t parent) {
    auto kids = children(m, parent, "Term");
    kids.erase(std::remove_if(kids.begin(), kids.end(), [](record *r) { return integer(r->obj, "state") == 7; }),
               kids.end());
    return kids;
}

void act_term_hangup(sim_model &m, const op_row &, const cJSON *params, model_answer *a) {
    record *t = find(m, handle_param(params, "pTermHandle"));
    if (!t || t->kind != "Term" || integer(t->obj, "state") == 7) return (void)fail(a, -4);
    hang_up(m, *t, integer(params, "causeCode"), a);
}

void act_conf_term_hangup(sim_model &m, const op_row &, const cJSON *params, model_answer *a) {
    record *conf = find(m, handle_param(params, "pConfHandle"));
    if (!conf || conf->kind != "Conf") return (void)fail(a, -4);
    auto terms = live_terms(m, conf->handle);
    long long i = integer(params, "termInstance");
    if (i < 0 || i >= static_cast<long long>(terms.size())) return (void)fail(a, -4);
    hang_up(m, *terms[static_cast<size_t>(i)], integer(params, "causeCode"), a);
}

void act_conf_hangup(sim_model &m, const op_row &, const cJSON *params, model_answer *a) {
    record *conf = find(m, handle_param(params, "pConfHandle"));
    if (!conf || conf->kind != "Conf") return (void)fail(a, -4);
    for (record *t : live_terms(m, conf->handle)) hang_up(m, *t, integer(params, "causeCode"), a);
}

void act_answer(sim_model &m, const op_row &, const cJSON *params, model_answer *a) {
    record *conf = find(m, handle_param(params, "pConfHandle"));
    record *t = find(m, handle_param(params, "pTermHandle"));
    if (!conf || conf->kind != "Conf" || !t || t->kind != "Term") return (void)fail(a, -4);
    record *old = find(m, t->parent);
    if (old && old->kind == "Comm") {
        set_num(old->obj, "numPendingTerms", std::max<long long>(0, integer(old->obj, "numPendingTerms") - 1));
        announce(m, a, "csCommChangedCB", *old, 0x4);
    }
    t->parent = conf->handle;
    if (children(m, t->handle, "TermMedia").empty()) add_media(m, t->handle);
    char ov[96];
    snprintf(ov, sizeof ov, R"({"state":0,"connectTime":%ld})", static_cast<long>(time(nullptr)));
    cJSON *o = cJSON_Parse(ov);
    merge_members(t->obj, o);
    cJSON_Delete(o);
    announce(m, a, kTermChanged, *t, 0x200 | 0x800);
    set_num_terms(m, *conf, +1, a, 0);
}

// Changes one member of the row's record (found by params[row.a]) to the
// value of params[row.b] and announces it with flag row.c (hex text).
void act_set_member(sim_model &m, const op_row &row, const cJSON *params, model_answer *a) {
    record *r = find(m, handle_param(params, row.a));
    if (!r || r->kind != row.kind) return (void)fail(a, -4);
    // "b" is "param=member" when the names differ.
    std::string param_desc = row.b, pkey = param_desc, mkey = param_desc;
    size_t eq = param_desc.find('=');
    if (eq != std::string::npos) {
        pkey = param_desc.substr(0, eq);
        mkey = param_desc.substr(eq + 1);
    }
    set_num(r->obj, mkey.c_str(), num(params, pkey.c_str()));
    std::string method = changed_method(row.kind);
    announce(m, a, method, *r, static_cast<uint32_t>(strtoul(row.c, nullptr, 16)));
}

void act_ptz(sim_model &m, const op_row &, const cJSON *params, model_answer *a) {
    record *r = find(m, handle_param(params, "pCameraHandle"));
    if (!r || r->kind != "Camera") return (void)fail(a, -4);
    for (const char *k : {"pan", "tilt", "zoom"}) set_num(r->obj, k, num(params, k));
    announce(m, a, "csCameraChangedCB", *r, 0x200 | 0x400 | 0x800);
}

// A step of the camera in the direction of "moveType", announced; a stop is accepted as it is.
void act_move(sim_model &m, const op_row &, const cJSON *params, model_answer *a) {
    record *r = find(m, handle_param(params, "pCameraHandle"));
    if (!r || r->kind != "Camera") return (void)fail(a, -4);
    uint32_t flags = media_camera_move(r->obj, integer(params, "moveType"));
    if (flags) announce(m, a, "csCameraChangedCB", *r, flags);
}

// Accepted and answered 0 without changing anything the client can read.
void act_ok(sim_model &m, const op_row &row, const cJSON *params, model_answer *a) {
    if (row.a && !find(m, handle_param(params, row.a))) fail(a, -4);
}

// DTMF: the codec plays only the sixteen DTMF characters (and ',' for a
// pause), at least one of them, for a duration that is not negative.
void act_dtmf(sim_model &m, const op_row &row, const cJSON *params, model_answer *a) {
    if (!find(m, handle_param(params, row.a))) return (void)fail(a, -4);
    std::string chars = str(params, "dtmfChars");
    bool ok = !chars.empty() && integer(params, "duration") >= 0;
    for (char c : chars) ok = ok && strchr("0123456789*#ABCDabcd,", c) != nullptr;
    if (!ok) fail(a, -10);
}

void act_preset(sim_model &m, const op_row &row, const cJSON *params, model_answer *a) {
    std::string what = row.b;
    if (what == "create") {
        record *cam = find(m, handle_param(params, "pCameraHandle"));
        if (!cam || cam->kind != "Camera") return (void)fail(a, -4);
        long long inst = integer(params, "instance");
        long long near = integer(cam->obj, "isNearCamera");
        for (uint32_t h : m.order) {
            record &p = m.recs[h];
            if (p.kind == "Preset" && integer(p.obj, "instance") == inst && integer(p.obj, "isNearPreset") == near) {
                set_num(p.obj, "isSet", 1);
                announce(m, a, "csPresetChangedCB", p, 0x1);
                return;
            }
        }
        return (void)fail(a, -9);
    }
    record *p = find(m, handle_param(params, "pPresetHandle"));
    if (!p || p->kind != "Preset") return (void)fail(a, -4);
    if (what == "clear") {
        set_num(p->obj, "isSet", 0);
        announce(m, a, "csPresetChangedCB", *p, 0x1);
    } else if (what == "goto") {
        if (!integer(p->obj, "isSet")) return (void)fail(a, -19);
        m.selected_preset = p->handle;
        announce(m, a, "csPresetSelectedCB", *p, 0);
    } else {  // is selected
        a->result = cJSON_CreateNumber(m.selected_preset == p->handle ? 1 : 0);
    }
}

void act_sleep_wake(sim_model &m, const op_row &row, const cJSON *params, model_answer *a) {
    record *r = find(m, handle_param(params, "pSysHandle"));
    if (!r || r->kind != "Sys") return (void)fail(a, -4);
    set_num(r->obj, "state", strcmp(row.b, "sleep") == 0 ? 1 : 0);
    announce(m, a, "csSysChangedCB", *r, 0x40);
}

// Server add/remove under a subsystem: add makes a new server record of the
// row's kind, remove deletes the named one.
void act_srvr_add_remove(sim_model &m, const op_row &row, const cJSON *params, model_answer *a) {
    record *parent = find(m, handle_param(params, row.a));
    if (!parent) return (void)fail(a, -4);
    std::string what = row.c;
    if (what == "add") {
        uint32_t h = add_record(m, row.kind, parent->handle);
        announce(m, a, changed_method(row.kind), m.recs[h], 0);
        a->result = cJSON_CreateNumber(0);
        return;
    }
    record *s = find(m, handle_param(params, row.b));
    if (!s || s->kind != row.kind || s->parent != parent->handle) return (void)fail(a, -4);
    remove_record(m, s->handle);
}

// Entry add/remove on a server: kind DirEnt or CalMeeting, object under row.b
// (add) or "id" (remove); notifications Added/Removed.
void act_entry(sim_model &m, const op_row &row, const cJSON *params, model_answer *a) {
    record *srv = find(m, handle_param(params, row.a));
    if (!srv) return (void)fail(a, -4);
    std::string base = std::string("cs") + row.kind;
    if (strcmp(row.c, "add") == 0) {
        const cJSON *obj = member(params, row.b);
        if (!cJSON_IsObject(obj)) return (void)fail(a, -10);
        add_record_obj(m, row.kind, srv->handle, obj);
        announce(m, a, base + "AddedCB", m.recs[m.order.back()], 0);
        return;
    }
    std::string id = str(params, "id");
    for (record *r : children(m, srv->handle, row.kind)) {
        if (str(r->obj, "id") == id) {
            announce(m, a, base + "RemovedCB", *r, 0);
            remove_record(m, r->handle);
            return;
        }
    }
    fail(a, -4);
}

// Content source actions: the source object names the source (by "name").
void act_content_src(sim_model &m, const op_row &row, const cJSON *params, model_answer *a) {
    const cJSON *obj = member(params, "pContentSrc");
    if (!cJSON_IsObject(obj)) return (void)fail(a, -10);
    std::string name = str(obj, "name");
    for (uint32_t h : m.order) {
        record &r = m.recs[h];
        if (r.kind != "ContentSrc" || str(r.obj, "name") != name) continue;
        if (row.b) set_num(r.obj, "state", atoi(row.b));
        announce(m, a, "csContentSrcChangedCB", r, 0);
        return;
    }
    fail(a, -4);
}

void act_playing(sim_model &m, const op_row &, const cJSON *params, model_answer *a) {
    record *content = find(m, handle_param(params, "pContentHandle"));
    if (!content || content->kind != "Content") return (void)fail(a, -4);
    std::vector<record *> playing;
    for (record *srv : children(m, content->handle, "ContentSrvr"))
        for (record *s : children(m, srv->handle, "ContentSrc"))
            if (integer(s->obj, "state") == 1) playing.push_back(s);
    long long i = integer(params, "instance");
    if (i < 0 || i >= static_cast<long long>(playing.size())) return (void)fail(a, -4);
    answer_record(a, *playing[static_cast<size_t>(i)]);
}

void act_playing_count(sim_model &m, const op_row &, const cJSON *params, model_answer *a) {
    record *content = find(m, handle_param(params, "pContentHandle"));
    if (!content || content->kind != "Content") return (void)fail(a, -4);
    int n = 0;
    for (record *srv : children(m, content->handle, "ContentSrvr"))
        for (record *s : children(m, srv->handle, "ContentSrc")) n += integer(s->obj, "state") == 1;
    a->result = cJSON_CreateNumber(n);
}

void act_selected_camera(sim_model &m, const op_row &, const cJSON *params, model_answer *a) {
    record *subsys = find(m, handle_param(params, "pSubsysHandle"));
    if (!subsys || subsys->kind != "CamSubsys") return (void)fail(a, -4);
    long long near = integer(params, "isNear") ? 1 : 0;
    for (uint32_t h : m.order) {
        record &r = m.recs[h];
        if (r.kind == "Camera" && integer(r.obj, "isNearCamera") == near && integer(r.obj, "selected"))
            return answer_record(a, r);
    }
    fail(a, -4);
}

void act_near_camera(sim_model &m, const op_row &, const cJSON *params, model_answer *a) {
    record *subsys = find(m, handle_param(params, "pCamSubsysHandle"));
    if (!subsys || subsys->kind != "CamSubsys") return (void)fail(a, -4);
    auto cams = children(m, subsys->handle, "Camera");
    long long i = integer(params, "instance");
    if (i < 0 || i >= static_cast<long long>(cams.size())) return (void)fail(a, -4);
    answer_record(a, *cams[static_cast<size_t>(i)]);
}

void act_camera_by_id(sim_model &m, const op_row &, const cJSON *params, model_answer *a) {
    if (!find(m, handle_param(params, "pSubSysHandle"))) return (void)fail(a, -4);
    for (uint32_t h : m.order) {
        record &r = m.recs[h];
        if (r.kind == "Camera" && integer(r.obj, "id") == integer(params, "id")) return answer_record(a, r);
    }
    fail(a, -4);
}

void act_preset_get(sim_model &m, const op_row &, const cJSON *params, model_answer *a) {
    record *subsys = find(m, handle_param(params, "pSubsysHandle"));
    if (!subsys || subsys->kind != "CamSubsys") return (void)fail(a, -4);
    for (record *p : children(m, subsys->handle, "Preset"))
        if (integer(p->obj, "isNearPreset") == (integer(params, "isNear") ? 1 : 0) &&
            integer(p->obj, "instance") == integer(params, "instance"))
            return answer_record(a, *p);
    fail(a, -4);
}

void act_inkpad(sim_model &m, const op_row &, const cJSON *params, model_answer *a) {
    record *sys = find(m, handle_param(params, "pSysHandle"));
    if (!sys || sys->kind != "Sys") return (void)fail(a, -4);
    auto k = children(m, sys->handle, "Inkpad");
    if (k.empty()) return (void)fail(a, -4);
    answer_record(a, *k[0]);
}

// ---- lists and searches ----

// List start: row.a names the server handle; entries are the server's
// children of the row's kind, filtered by the non-empty text members of
// "pFilter" (substring, any case), at most "total..." (row.b) of them.
void list_start(sim_model &m, const op_row &row, const cJSON *params, model_answer *a) {
    record *srv = find(m, handle_param(params, row.a));
    if (!srv) return (void)fail(a, -4);
    const cJSON *filter = member(params, "pFilter");
    long long total = row.b ? integer(params, row.b) : 0;
    list_session s;
    s.server = srv->handle;
    for (record *r : children(m, srv->handle, row.kind)) {
        bool match = true;
        if (cJSON_IsObject(filter)) {
            for (const cJSON *f = filter->child; f && match; f = f->next) {
                if (!cJSON_IsString(f) || !f->valuestring || !*f->valuestring || !f->string) continue;
                match = ieq_contains(str(r->obj, f->string), f->valuestring);
            }
        }
        if (match && strcmp(row.kind, "CalMeeting") == 0) match = media_meeting_in_window(r->obj, filter);
        if (!match) continue;
        s.entries.push_back(print(r->obj));
        if (total > 0 && static_cast<long long>(s.entries.size()) >= total) break;
    }
    if (strcmp(row.kind, "DirEnt") == 0) s.result_tail = R"({"locale":"en_US","rate":0})";
    if (strcmp(row.kind, "ContentSrc") == 0) s.result_tail = R"({"locale":"en_US"})";
    int id = m.next_list++;
    m.lists[id] = std::move(s);
    a->result = cJSON_CreateNumber(id);
}

void list_stop(sim_model &m, const op_row &, const cJSON *params, model_answer *a) {
    auto it = m.lists.find(static_cast<int>(integer(params, "listHandle")));
    if (it == m.lists.end()) return (void)fail(a, -4);
    m.lists.erase(it);
}

// List get: the next page of at most params[row.b] entries (and never more
// than row.c, the client's list capacity); -7 "EOF" once everything was given.
void list_get(sim_model &m, const op_row &row, const cJSON *params, model_answer *a) {
    auto it = m.lists.find(static_cast<int>(integer(params, "listHandle")));
    if (it == m.lists.end() || it->second.server != handle_param(params, row.a)) return (void)fail(a, -4);
    list_session &s = it->second;
    record *srv = find(m, s.server);
    if (srv && directory_pages_empty(srv->obj)) return (void)(a->result = directory_empty_page());
    if (s.pos >= s.entries.size()) return (void)fail(a, -7);
    long long want = integer(params, row.b);
    long long cap = atoi(row.c);
    if (want <= 0 || want > cap) want = cap;
    cJSON *res = cJSON_CreateObject();
    cJSON_AddNumberToObject(res, "srvrInstance", 0);
    size_t n = std::min(s.entries.size() - s.pos, static_cast<size_t>(want));
    cJSON_AddNumberToObject(res, "listCount", static_cast<double>(n));
    cJSON *list = cJSON_AddArrayToObject(res, "list");
    for (size_t i = 0; i < n; i++) cJSON_AddItemToArray(list, cJSON_Parse(s.entries[s.pos + i].c_str()));
    s.pos += n;
    if (!s.result_tail.empty()) {
        cJSON *tail = cJSON_Parse(s.result_tail.c_str());
        merge_members(res, tail);
        cJSON_Delete(tail);
    }
    a->result = res;
}

void recent_get(sim_model &m, const op_row &, const cJSON *params, model_answer *a) {
    if (!find(m, handle_param(params, "pCommHandle"))) return (void)fail(a, -4);
    long long start = integer(params, "startIndex"), end = integer(params, "endIndex");
    cJSON *res = cJSON_CreateObject();
    cJSON_AddNumberToObject(res, "srvrInstance", 0);
    cJSON *list = cJSON_CreateArray();
    int n = 0;
    for (long long i = std::max(0LL, start); i < end && i < static_cast<long long>(m.recent.size()) && n < 100; i++, n++)
        cJSON_AddItemToArray(list, cJSON_Parse(m.recent[static_cast<size_t>(i)].c_str()));
    cJSON_AddNumberToObject(res, "listCount", n);
    cJSON_AddItemToObject(res, "list", list);
    a->result = res;
}

// Search get: the child of the server (params[row.a]) whose member row.c
// equals params[row.b].
void search_get(sim_model &m, const op_row &row, const cJSON *params, model_answer *a) {
    record *srv = find(m, handle_param(params, row.a));
    if (!srv) return (void)fail(a, -4);
    std::string key = str(params, row.b);
    for (record *r : children(m, srv->handle, row.kind)) {
        if (str(r->obj, row.c) == key) return answer_record(a, *r);
        if (strcmp(row.c, "displayName") == 0 && str(r->obj, "fullName") == key) return answer_record(a, *r);
    }
    fail(a, -4);
}

// ---- the operation table ----

const op_row kOps[] = {
    // top-level getters
    {"csAudioGet", op_top_get, "Audio", nullptr, nullptr, nullptr},
    {"csCalGet", op_top_get, "Cal", nullptr, nullptr, nullptr},
    {"csCamSubsysGet", op_top_get, "CamSubsys", nullptr, nullptr, nullptr},
    {"csCommGet", op_top_get, "Comm", nullptr, nullptr, nullptr},
    {"csContentGet", op_top_get, "Content", nullptr, nullptr, nullptr},
    {"csDirGet", op_top_get, "Dir", nullptr, nullptr, nullptr},
    {"csHomeScreenGet", op_top_get, "HomeScreen", nullptr, nullptr, nullptr},
    {"csSecGet", op_top_get, "Sec", nullptr, nullptr, nullptr},
    {"csSysGet", op_top_get, "Sys", nullptr, nullptr, nullptr},
    {"csVideoGet", op_top_get, "Video", nullptr, nullptr, nullptr},
    // child getters: kind, parent handle key, index key
    {"csAudioInGet", op_child_get, "AudioIn", "pAudioHandle", "instance", nullptr},
    {"csAudioOutGet", op_child_get, "AudioOut", "pAudioHandle", "instance", nullptr},
    {"csCalSrvrGet", op_child_get, "CalSrvr", "pCalHandle", "instance", nullptr},
    {"csCameraFarGroupGet", op_child_get, "CameraFarGroup", "pSubsysHandle", "instance", nullptr},
    {"csCameraGetFar", op_child_get, "Camera", "pFarTerminalHandle", "instance", nullptr},
    {"csConfGet", op_child_get, "Conf", "pCommHandle", "confInstance", nullptr},
    {"csContentSrvrGet", op_child_get, "ContentSrvr", "pContentHandle", "instance", nullptr},
    {"csDirSrvrGet", op_child_get, "DirSrvr", "pDirHandle", "instance", nullptr},
    {"csFWTraversalGet", op_child_get, "FWTraversal", "pCommHandle", nullptr, nullptr},
    {"csH323NicGet", op_child_get, "H323Nic", "pCommHandle", "instance", nullptr},
    {"csIsdnLineGet", op_child_get, "IsdnLine", "pISDNNicHandle", "instance", nullptr},
    {"csIsdnNicGet", op_child_get, "IsdnNic", "pCommHandle", "instance", nullptr},
    {"csLanGet", op_child_get, "Lan", "pSysHandle", "instance", nullptr},
    {"csLocationGet", op_child_get, "Location", "pSysHandle", nullptr, nullptr},
    {"csLogGet", op_child_get, "Log", "pSysHandle", nullptr, nullptr},
    {"csPotsNicGet", op_child_get, "PotsNic", "pCommHandle", "instance", nullptr},
    {"csProvisioningGet", op_child_get, "Provisioning", "pSysHandle", nullptr, nullptr},
    {"csQosGet", op_child_get, "Qos", "pCommHandle", nullptr, nullptr},
    {"csSipNicGet", op_child_get, "SipNic", "pCommHandle", "instance", nullptr},
    {"csSpeakerPhoneNicGet", op_child_get, "SpeakerPhoneNic", "pCommHandle", "instance", nullptr},
    {"csTermGet", op_child_get, "Term", "pConfHandle", "termInstance", nullptr},
    {"csTermMediaGet", act_media_get, "TermMedia", "pTermHandle", "mediaInstance", nullptr},
    {"csTermPendingGet", op_child_get, "Term", "pCommHandle", "termInstance", nullptr},
    {"csTimeGet", op_child_get, "Time", "pSysHandle", nullptr, nullptr},
    {"csV35LineGet", op_child_get, "V35Line", "pV35NicHandle", "instance", nullptr},
    {"csV35NicGet", op_child_get, "V35Nic", "pCommHandle", "instance", nullptr},
    {"csVideoInGet", op_child_get, "VideoIn", "pVideoHandle", "instance", nullptr},
    {"csVideoOutGet", op_child_get_by, "VideoOut", "pVideoHandle", "instance", "instance"},
    {"csVideoOutLayoutCapGet", op_child_get, "VideoOutLayoutCap", "pVideoOutHandle", nullptr, nullptr},
    {"csVideoOutLayoutGet", op_child_get, "VideoOutLayout", "pVideoOutHandle", nullptr, nullptr},
    {"csWQTGet", op_child_get, "WQT", "pSysHandle", nullptr, nullptr},
    // child getters by key: kind, parent key, parameter, record member
    {"csCameraFarGroupGetById", op_child_get_by, "CameraFarGroup", "pSubsysHandle", "id", "id"},
    {"csTermGetByID", op_child_get_by, "Term", "pConfHandle", "termID", "id"},
    {"csSecPwdAttrGet", op_child_get_by, "SecPwdAttr", "pSecHandle", "type", "type"},
    {"csSecPwdGet", op_child_get_by, "SecPwd", "pSecHandle", "type", "type"},
    {"csCameraGetById", act_camera_by_id, "Camera", nullptr, nullptr, nullptr},
    {"csCameraGetNear", act_near_camera, "Camera", nullptr, nullptr, nullptr},
    {"csCameraGetSelected", act_selected_camera, "Camera", nullptr, nullptr, nullptr},
    {"csContentSrcGetPlaying", act_playing, "ContentSrc", nullptr, nullptr, nullptr},
    {"csInkpadGet", act_inkpad, "Inkpad", nullptr, nullptr, nullptr},
    {"csPresetGet", act_preset_get, "Preset", nullptr, nullptr, nullptr},
    // setters: kind, record key, parent key (handle-less kinds), match member
    {"csAudioInSet", op_set, "AudioIn", "pAudioIn", nullptr, nullptr},
    {"csAudioOutSet", op_set, "AudioOut", "pAudioOut", nullptr, nullptr},
    {"csAudioSet", op_set, "Audio", "pAudio", nullptr, nullptr},
    {"csCamSubsysSet", op_set, "CamSubsys", "pCamSubsys", nullptr, nullptr},
    {"csCameraSet", op_set, "Camera", "pCamera", nullptr, nullptr},
    {"csCommSet", op_set, "Comm", "pComm", nullptr, nullptr},
    {"csConfSet", op_set, "Conf", "pConf", nullptr, nullptr},
    {"csContentSrvrSet", op_set, "ContentSrvr", "pContentSrvr", nullptr, nullptr},
    {"csDirSet", op_set, "Dir", "pDir", nullptr, nullptr},
    {"csDirSrvrSet", op_set, "DirSrvr", "pDirSrvr", nullptr, nullptr},
    {"csFWTraversalSet", op_set, "FWTraversal", "pFWTraversal", nullptr, nullptr},
    {"csH323NicSet", op_set, "H323Nic", "pH323Nic", nullptr, nullptr},
    {"csHomeScreenSet", op_set, "HomeScreen", "pHomeScreen", nullptr, nullptr},
    {"csIsdnLineSet", op_set, "IsdnLine", "pIsdnLine", nullptr, nullptr},
    {"csIsdnNicSet", op_set, "IsdnNic", "pIsdnNic", nullptr, nullptr},
    {"csLanSet", op_set, "Lan", "pLAN", nullptr, nullptr},
    {"csLocationSet", op_set, "Location", "pLocation", nullptr, nullptr},
    {"csLogSet", op_set, "Log", "pLog", nullptr, nullptr},
    {"csPotsNicSet", op_set, "PotsNic", "pPotsNic", nullptr, nullptr},
    {"csPresetSet", op_set, "Preset", "pPreset", nullptr, nullptr},
    {"csProvisioningSet", op_set, "Provisioning", "pProvisioning", nullptr, nullptr},
    {"csQosSet", op_set, "Qos", "pQos", nullptr, nullptr},
    {"csSecPwdAttrSet", op_set, "SecPwdAttr", "pSecPwdAttr", nullptr, nullptr},
    {"csSecPwdSet", op_set, "SecPwd", "pSecPwd", nullptr, "type"},
    {"csSecSet", op_set, "Sec", "pSec", nullptr, nullptr},
    {"csSipNicSet", op_set, "SipNic", "pSipNic", nullptr, nullptr},
    {"csSpeakerPhoneNicSet", op_set, "SpeakerPhoneNic", "pSpeakerPhoneNic", nullptr, nullptr},
    {"csSysSet", op_set, "Sys", "pSys", nullptr, nullptr},
    {"csTermSet", op_set, "Term", "pTerm", nullptr, nullptr},
    {"csTimeSet", op_set, "Time", "pTime", nullptr, nullptr},
    {"csV35LineSet", op_set, "V35Line", "pV35Line", nullptr, nullptr},
    {"csV35NicSet", op_set, "V35Nic", "pV35Nic", nullptr, nullptr},
    {"csVideoInSet", op_set, "VideoIn", "pVideoIn", nullptr, nullptr},
    {"csVideoOutLayoutSet", op_set, "VideoOutLayout", "pVideoLayout", nullptr, nullptr},
    {"csVideoOutSet", op_set, "VideoOut", "pVideoOut", nullptr, nullptr},
    {"csVideoSet", op_set, "Video", "pVideo", nullptr, nullptr},
    {"csWQTSet", op_set, "WQT", "pWQT", nullptr, nullptr},
    {"csCalSrvrSet", op_set, "CalSrvr", "pCalSrvr", nullptr, nullptr},
    {"csCalMeetingSet", op_set, "CalMeeting", "pCalMeeting", "pCalSrvrHandle", "id"},
    {"csDirEntSet", op_set, "DirEnt", "pDirEnt", "pDirSrvrHandle", "id"},
    // counts: kind, parent key
    {"csAudioInCount", op_count, "AudioIn", "pAudioHandle", nullptr, nullptr},
    {"csAudioOutCount", op_count, "AudioOut", "pAudioHandle", nullptr, nullptr},
    {"csCalSrvrCount", op_count, "CalSrvr", "pCalHandle", nullptr, nullptr},
    {"csCommConfCount", op_count, "Conf", "pCommHandle", nullptr, nullptr},
    {"csCommPendingTermCount", op_count, "Term", "pCommHandle", nullptr, nullptr},
    {"csConfTermCount", op_count, "Term", "pConfHandle", nullptr, nullptr},
    {"csContentPlayCount", act_playing_count, "ContentSrc", nullptr, nullptr, nullptr},
    {"csContentSrvrCount", op_count, "ContentSrvr", "pContentHandle", nullptr, nullptr},
    {"csDirSrvrCount", op_count, "DirSrvr", "pDirHandle", nullptr, nullptr},
    {"csTermMediaCount", op_count, "TermMedia", "pTermHandle", nullptr, nullptr},
    {"csVideoInCount", op_count, "VideoIn", "pVideoHandle", nullptr, nullptr},
    {"csVideoOutCount", op_count, "VideoOut", "pVideoHandle", nullptr, nullptr},
    // actions
    {"csAudioMute", act_set_member, "Audio", "pAudioHandle", "onOff=muted", "20"},
    {"csAudioVolume", act_set_member, "Audio", "pAudioHandle", "volume", "10"},
    {"csAudioPlayDTMF", act_dtmf, "Audio", "pAudioHandle", nullptr, nullptr},
    {"csAudioPlayFile", act_ok, "Audio", "pAudioHandle", nullptr, nullptr},
    {"csAudioPlayTone", act_ok, "Audio", "pAudioHandle", nullptr, nullptr},
    {"csCalSrvrAdd", act_srvr_add_remove, "CalSrvr", "pCalHandle", "pCalSrvrHandle", "add"},
    {"csCalSrvrRemove", act_srvr_add_remove, "CalSrvr", "pCalHandle", "pCalSrvrHandle", "remove"},
    {"csCalSrvrMeetingAdd", act_entry, "CalMeeting", "pCalSrvrHandle", "pCalMeeting", "add"},
    {"csCalSrvrMeetingRemove", act_entry, "CalMeeting", "pCalSrvrHandle", nullptr, "remove"},
    {"csCalSrvrRetrieveURL", act_ok, "CalSrvr", "pCalSrvrHandle", nullptr, nullptr},
    {"csCalSrvrSetResponseFile", act_ok, "CalSrvr", nullptr, nullptr, nullptr},
    {"csCameraCreatePreset", act_preset, "Preset", nullptr, "create", nullptr},
    {"csCameraMove", act_move, "Camera", nullptr, nullptr, nullptr},
    {"csCameraMoveToPTZ", act_ptz, "Camera", nullptr, nullptr, nullptr},
    {"csCameraSelect", act_set_member, "Camera", "pCameraHandle", "select=selected", "100"},
    {"csConfHangup", act_conf_hangup, "Conf", nullptr, nullptr, nullptr},
    {"csConfLeave", act_conf_hangup, "Conf", nullptr, nullptr, nullptr},
    {"csConfTermAnswer", act_answer, "Term", nullptr, nullptr, nullptr},
    {"csConfTermDial", act_dial, "Term", nullptr, nullptr, nullptr},
    {"csConfTermDialList", act_ok, "Conf", "pConfHandle", nullptr, nullptr},
    {"csConfTermDialListArray", act_ok, "Conf", "pConfHandle", nullptr, nullptr},
    {"csConfTermHangup", act_conf_term_hangup, "Term", nullptr, nullptr, nullptr},
    {"csContentSrcGotoTrack", act_content_src, "ContentSrc", nullptr, nullptr, nullptr},
    {"csContentSrcPlay", act_content_src, "ContentSrc", nullptr, "1", nullptr},
    {"csContentSrcRecord", act_content_src, "ContentSrc", nullptr, "2", nullptr},
    {"csContentSrcSeek", act_content_src, "ContentSrc", nullptr, nullptr, nullptr},
    {"csContentSrcStop", act_content_src, "ContentSrc", nullptr, "0", nullptr},
    {"csContentSrvrAdd", act_srvr_add_remove, "ContentSrvr", "pContentHandle", "pContentSrvrHandle", "add"},
    {"csContentSrvrRemove", act_srvr_add_remove, "ContentSrvr", "pContentHandle", "pContentSrvrHandle", "remove"},
    {"csDirEntAddToGroup", act_ok, "DirEnt", nullptr, nullptr, nullptr},
    {"csDirEntRemoveFromGroup", act_ok, "DirEnt", nullptr, nullptr, nullptr},
    {"csDirSrvrAdd", act_srvr_add_remove, "DirSrvr", "pDirHandle", "pDirSrvrHandle", "add"},
    {"csDirSrvrRemove", act_srvr_add_remove, "DirSrvr", "pDirHandle", "pDirSrvrHandle", "remove"},
    {"csDirSrvrEntAdd", act_entry, "DirEnt", "pDirSrvrHandle", "pDirEnt", "add"},
    {"csDirSrvrEntRemove", act_entry, "DirEnt", "pDirSrvrHandle", nullptr, "remove"},
    {"csPresetClear", act_preset, "Preset", nullptr, "clear", nullptr},
    {"csPresetGoTo", act_preset, "Preset", nullptr, "goto", nullptr},
    {"csPresetIsSelected", act_preset, "Preset", nullptr, "is", nullptr},
    {"csSysSleep", act_sleep_wake, "Sys", nullptr, "sleep", nullptr},
    {"csSysWake", act_sleep_wake, "Sys", nullptr, "wake", nullptr},
    {"csTermHangup", act_term_hangup, "Term", nullptr, nullptr, nullptr},
    {"csTermSendFlash", act_term_keys, "Term", "pTermHandle", nullptr, nullptr},
    {"csTermSendKeystring", act_term_keys, "Term", "pTermHandle", nullptr, nullptr},
    // lists and searches: kind, server key, count key, capacity
    // (the calendar's "totalMeetings" is the page size the client reads with, not a cap)
    {"csCalSrvrListStart", list_start, "CalMeeting", "pCalSrvrHandle", nullptr, nullptr},
    {"csCalSrvrListStop", list_stop, "CalMeeting", nullptr, nullptr, nullptr},
    {"csCalListGet", list_get, "CalMeeting", "pCalSrvrHandle", "numMeetings", "64"},
    {"csCalMeetingGet", search_get, "CalMeeting", "pCalSrvrHandle", "id", "id"},
    {"csContentSrvrListStart", list_start, "ContentSrc", "pContentSrvrHandle", nullptr, nullptr},
    {"csContentSrvrListStop", list_stop, "ContentSrc", nullptr, nullptr, nullptr},
    {"csContentListGet", list_get, "ContentSrc", "pContentSrvrHandle", "maxNames", "64"},
    {"csDirSrvrListStart", list_start, "DirEnt", "pDirSrvrHandle", "totalNames", nullptr},
    {"csDirSrvrListStop", list_stop, "DirEnt", nullptr, nullptr, nullptr},
    {"csDirListGet", list_get, "DirEnt", "pDirSrvrHandle", "maxNames", "64"},
    {"csDirEntGet", search_get, "DirEnt", "pDirSrvrHandle", "id", "id"},
    {"csDirEntGetByName", search_get, "DirEnt", "pDirSrvrHandle", "name", "displayName"},
    {"csRecentCallListGet", recent_get, "Term", nullptr, nullptr, nullptr},
};

const op_row *find_op(const std::string &method) {
    for (const auto &r : kOps)
        if (method == r.method) return &r;
    return nullptr;
}

}  // namespace

// ---- interface to the server part ----

sim_model *model_new(const model_options &opt) {
    auto *m = new sim_model;
    m->opt = opt;
    if (m->opt.dial_step_ms < 0) m->opt.dial_step_ms = 0;
    seed(*m);
    return m;
}

void model_free(sim_model *m) { delete m; }

bool model_handle(sim_model *m, const std::string &method, const cJSON *params, model_answer *out) {
    const op_row *row = find_op(method);
    if (!row) return false;
    std::lock_guard<std::mutex> lk(m->mu);
    tick(*m);
    row->fn(*m, *row, cJSON_IsObject(params) ? params : nullptr, out);
    return true;
}

std::string model_notification(sim_model *m, const std::string &method, uint32_t flags, uint32_t handle) {
    const notif_desc *n = find_notification(method);
    if (!n) return "";
    std::lock_guard<std::mutex> lk(m->mu);
    tick(*m);
    record *r = handle ? find(*m, handle) : first_of(*m, n->kind);
    if (r && r->kind == n->kind) return notification_text(method, n->param, r->obj, flags);
    // No live record of the kind (a terminal while no call is up): a sample one.
    cJSON *o = make_object(*find_kind(n->kind), handle ? handle : 1, nullptr);
    std::string s = notification_text(method, n->param, o, flags);
    cJSON_Delete(o);
    return s;
}

void model_incoming_call(sim_model *m, const std::string &address, model_answer *out) {
    std::lock_guard<std::mutex> lk(m->mu);
    tick(*m);
    record *comm = first_of(*m, "Comm");
    if (!comm) return;
    cJSON *ov = cJSON_CreateObject();
    cJSON_AddStringToObject(ov, "name", address.c_str());
    cJSON_AddStringToObject(ov, "callerID", address.c_str());
    cJSON_AddStringToObject(ov, "addr", address.c_str());
    cJSON_AddNumberToObject(ov, "direction", 1);
    cJSON_AddNumberToObject(ov, "state", 4);
    cJSON_AddNumberToObject(ov, "id", m->next_term_id++);
    std::string ovs = print(ov);
    cJSON_Delete(ov);
    uint32_t h = add_record(*m, "Term", comm->handle, ovs.c_str());
    set_num(comm->obj, "numPendingTerms", static_cast<double>(integer(comm->obj, "numPendingTerms") + 1));
    announce(*m, out, kTermChanged, m->recs[h], 0x1 | 0x2 | 0x4 | 0x10 | 0x200 | 0x8000);
    announce(*m, out, "csCommChangedCB", *comm, 0x4);
}

std::vector<std::string> model_notification_methods() {
    std::vector<std::string> out;
    for (const auto &n : kNotifications) out.push_back(n.method);
    return out;
}

std::string model_record_text(sim_model *m, const std::string &kind, uint32_t handle) {
    std::lock_guard<std::mutex> lk(m->mu);
    tick(*m);
    record *r = handle ? find(*m, handle) : first_of(*m, kind);
    if (!r || r->kind != kind) return "";
    return print(r->obj);
}

std::vector<uint32_t> model_record_handles(sim_model *m, const std::string &kind) {
    std::lock_guard<std::mutex> lk(m->mu);
    tick(*m);
    std::vector<uint32_t> out;
    for (uint32_t h : m->order)
        if (m->recs[h].kind == kind) out.push_back(h);
    return out;
}

uint32_t model_record_merge(sim_model *m, const std::string &kind, uint32_t handle, const std::string &json) {
    std::lock_guard<std::mutex> lk(m->mu);
    tick(*m);
    cJSON *o = cJSON_Parse(json.c_str());
    record *r = handle ? find(*m, handle) : nullptr;
    if (r && r->kind != kind) r = nullptr;
    uint32_t h = 0;
    if (r) {
        merge_members(r->obj, o);
        h = r->handle;
    } else if (find_kind(kind)) {
        // A new record hangs under the first record of its usual parent kind
        // when the object names one with "parentHandle"; otherwise top level.
        uint32_t parent = o ? handle_param(o, "parentHandle") : 0;
        h = add_record(*m, kind.c_str(), parent);
        cJSON_DeleteItemFromObjectCaseSensitive(o, "parentHandle");
        merge_members(m->recs[h].obj, o);
    }
    cJSON_Delete(o);
    return h;
}

}  // namespace codec_sim_internal
