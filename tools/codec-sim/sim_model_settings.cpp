// What a codec does with a set request: it applies only the members the
// request's "flags" name, and checks a new password against its rules.
//
// The table below is the simulator's own account of which member each flag
// bit of a record kind names (it does not borrow the library's record
// tables, so a wrong bit on either side shows up as a test failure).
#include <cjson/cJSON.h>

#include <algorithm>
#include <cctype>
#include <strings.h>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "sim_internal.h"

namespace codec_sim_internal {

namespace {

// One row per kind: the members of bit 0x1, 0x2, 0x4, ... separated by
// spaces. "-" is a bit that names no member (an event bit); "a+b" is one
// bit covering several members; "list.member" is that member of every
// entry of an array member. Kinds not listed have no fixed bits: their set
// requests apply every member sent.
struct flag_row {
    const char *kind;
    const char *bits;
};

#define SIM_NIC_HEAD "id enable state maxCalls usedCalls maxRate usedRate "

const flag_row kFlagBits[] = {
    {"Comm",
     "maxConfs numConfs numPendingTerms autoAnswerPP autoAnswerMP connectTimeout disconnectTimeout maxTermsPerConf "
     "maxRecentCallListLen autoSearchOrder dialOrderCount+dialOrder.videoOrder dialOrderCount+dialOrder.voiceOrder"},
    {"Conf",
     "name userName maxTerms rate encrypted contentState chairState numTerms numTalkers id confControlCap confRoles "
     "confMute"},
    {"Term",
     "name callerID addr rate direction numCalls remoteSysID confIndex causeCode state muted connectTime "
     "disconnectTime deviceName numMedia id callType password contentState authState dialedAddr"},
    {"RecentCallArchive", "archiveTime"},
    {"Audio",
     "maxIns numIns maxOuts numOuts volume muted muteAutoAnswer liveMusicMode quorvexMics VCRAlwaysOn "
     "incomingCallTone alertTone audioCaps"},
    {"AudioIn",
     "userName level muted enabled echoCanceller phantomPower deviceType deviceMake deviceModel deviceVersion"},
    {"AudioOut", "userName level muted enabled bass treble deviceType deviceMake deviceModel deviceVersion"},
    {"SpeakerPhoneNic", SIM_NIC_HEAD "name"},
    {"H323Nic",
     SIM_NIC_HEAD "addr name extension gkAddrObtain pathNavUsage gkAddr gkState gkErr gkModel gkSoftwareVersion"},
    {"SipNic",
     SIM_NIC_HEAD
     "addr transportProt authName userName authPass registrarSrvrAddr proxySrvrAddr registrarSrvrState "
     "registrarSrvrErr registrarSrvrModel registrarSrvrAuthMethNegotiated"},
    {"IsdnNic",
     "id type enable state maxCalls usedCalls maxRate usedRate lineCount countryCode areaCode outsideLineDialPrefix "
     "internationalDialPrefix voiceEnable alwaysDialAreaCode dial1ForUSACalls parallelDials numPlan voiceAlg "
     "switchType activeChannels dchanLocation networkMode clockSource termEndpointID originalNumber lineSig "
     "externalCSU lineBuildOut callByCall"},
    {"IsdnLine", "enable instance type state chanCount addressA idA addressB idB"},
    {"V35Nic", "id type enable state maxCalls usedCalls maxRate usedRate lineCount countryCode areaCode rs366Dialing"},
    {"V35Line", "enable instance type state chanCount address"},
    {"VideoOut",
     "name enabled attached signalType capabilities width height interlaced refreshRate adjust deviceType "
     "deviceMake deviceModel deviceVersion"},
    {"VideoOutLayout", "PIPMode PIPLocation monitorLayout monitorSource panelMapCount+panelMap"},
    {"VideoOutLayoutCap",
     "PIPLocationCap monitorLayoutCap+monitorLayoutCap2+monitorLayoutCap3 monitorSourceCap "
     "panelMapCapCount+panelMapCap"},
    {"CamSubsys",
     "maxNearCams numNearCams numFarTerminals maxNearPresets maxFarPresets backlightComp farControlOfNearCam "
     "primaryCam ptzMode"},
    {"Camera",
     "id enabled userName make resolution capabilities source videoQuality selected pan tilt zoom minPan minTilt "
     "minZoom maxPan maxTilt maxZoom farCamTermId portIndicator - - trackingMode"},
    {"CameraFarGroup", "id confId termId maxCameras numCameras camControlAllowed"},
    {"Dir", "maxSrvrs capabilities localAvailability"},
    {"DirSrvr",
     "enabled status groupName address protocol ssl authMethod authName authPass authDomain authBaseDN port id "
     "authMethodNegotiated presenceSrvrStatus presenceSrvrAuthMethodNegotiated capabilities lastModifiedTime"},
    {"CalSrvr", "enabled status"},
    {"Sys", "systemName serialNumber softwareVersion hardwareVersion model bootTime state hostName"},
    {"Lan", "state addressCount address eapEnabled eapIdentity eapPassword eapState"},
    {"Time", "time timeZoneOffset dateDisplayFormat timeDisplayFormat adjustForDST srvrAddrObtain srvrAddr srvrState"},
    {"Provisioning", "srvrState srvrErr srvrDomain srvrAuthName srvrAuthPass srvrAddr srvrAuthMethNegotiated"},
    {"Log", "percentFilled percentFilledThreshold"},
    {"HomeScreen",
     "dialingDisplay contactListAsHomeScreen callQualityMenu h323ExtensionBox directoryButton systemButton "
     "multipointButton systemNameText addrText dateTimeText availabilityMenu"},
    {"Sec",
     "securityMode useRoomPasswordForRemoteAccess allowAccessToUserSettings enableWebAccess enableTelnetAccess "
     "enableSNMPAccess mediaEncryption ntlmVersion allowVideoOnWeb"},
    {"SecPwdAttr",
     "minimumLength requireLowerCount requireUpperCount requireNumberCount requireSpecialCount reuseCount "
     "minimumAge maximumAge expirationWarningAge minimumChangedChars maximumRepeatedChars canContainIDorReverse"},
};

const flag_row *find_flag_row(const std::string &kind) {
    for (const auto &r : kFlagBits)
        if (kind == r.kind) return &r;
    return nullptr;
}

std::vector<std::string> split(const std::string &s, char sep) {
    std::vector<std::string> out;
    std::string part;
    std::istringstream in(s);
    while (std::getline(in, part, sep))
        if (!part.empty()) out.push_back(part);
    return out;
}

// Replaces (or adds) dst[key] with a copy of v; keys matched without regard
// to case, as the codec's decoder reads them.
void put(cJSON *dst, const char *key, const cJSON *v) {
    cJSON *copy = cJSON_Duplicate(v, 1);
    if (cJSON_GetObjectItem(dst, key))
        cJSON_ReplaceItemInObject(dst, key, copy);  // names the copy key
    else
        cJSON_AddItemToObject(dst, key, copy);
}

// Applies one member path ("name" or "list.member") from src to dst.
void apply_member(cJSON *dst, const cJSON *src, const std::string &path) {
    size_t dot = path.find('.');
    if (dot == std::string::npos) {
        const cJSON *v = cJSON_GetObjectItem(src, path.c_str());
        if (v) put(dst, path.c_str(), v);
        return;
    }
    std::string list = path.substr(0, dot), sub = path.substr(dot + 1);
    const cJSON *from = cJSON_GetObjectItem(src, list.c_str());
    if (!cJSON_IsArray(from)) return;
    cJSON *to = cJSON_GetObjectItem(dst, list.c_str());
    if (!cJSON_IsArray(to)) {
        put(dst, list.c_str(), from);
        return;
    }
    int i = 0;
    for (const cJSON *e = from->child; e; e = e->next, ++i) {
        cJSON *t = cJSON_GetArrayItem(to, i);
        if (!t) {
            cJSON_AddItemToArray(to, cJSON_Duplicate(e, 1));
            continue;
        }
        const cJSON *v = cJSON_IsObject(e) ? cJSON_GetObjectItem(e, sub.c_str()) : nullptr;
        if (v && cJSON_IsObject(t)) put(t, sub.c_str(), v);
    }
}

bool is_header(const char *k) { return strcasecmp(k, "srvrInstance") == 0 || strcasecmp(k, "handle") == 0; }

// ---- passwords ----

int count_if_chars(const std::string &s, int (*pred)(int)) {
    int n = 0;
    for (unsigned char c : s) n += pred(c) ? 1 : 0;
    return n;
}

int is_special(int c) { return isprint(c) && !isalnum(c) && c != ' '; }

int longest_run(const std::string &s) {
    int best = 0, run = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        run = (i > 0 && s[i] == s[i - 1]) ? run + 1 : 1;
        if (run > best) best = run;
    }
    return best;
}

int changed_chars(const std::string &a, const std::string &b) {
    size_t n = std::max(a.size(), b.size());
    int d = 0;
    for (size_t i = 0; i < n; ++i) d += (i >= a.size() || i >= b.size() || a[i] != b[i]) ? 1 : 0;
    return d;
}

bool contains_ci(std::string hay, std::string needle) {
    if (needle.empty()) return false;
    for (auto &c : hay) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    for (auto &c : needle) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return hay.find(needle) != std::string::npos;
}

long long num_of(const cJSON *o, const char *k) {
    const cJSON *v = o ? cJSON_GetObjectItem(o, k) : nullptr;
    return cJSON_IsNumber(v) ? static_cast<long long>(v->valuedouble) : 0;
}

std::string text_of(const cJSON *o, const char *k) {
    const cJSON *v = o ? cJSON_GetObjectItem(o, k) : nullptr;
    return cJSON_IsString(v) && v->valuestring ? v->valuestring : "";
}

}  // namespace

void apply_flagged_members(const std::string &kind, cJSON *dst, const cJSON *src, uint32_t flags) {
    if (!cJSON_IsObject(src)) return;
    const flag_row *row = find_flag_row(kind);
    if (!row) {
        for (const cJSON *m = src->child; m; m = m->next)
            if (m->string && !is_header(m->string)) put(dst, m->string, m);
        return;
    }
    std::vector<std::string> bits = split(row->bits, ' ');
    for (size_t i = 0; i < bits.size() && i < 32; ++i) {
        if (!(flags & (1u << i)) || bits[i] == "-") continue;
        for (const std::string &path : split(bits[i], '+')) apply_member(dst, src, path);
    }
}

std::vector<std::string> flagged_member_names(const std::string &kind, uint32_t flags) {
    std::vector<std::string> out;
    const flag_row *row = find_flag_row(kind);
    if (!row) return out;
    std::vector<std::string> bits = split(row->bits, ' ');
    for (size_t i = 0; i < bits.size() && i < 32; ++i)
        if ((flags & (1u << i)) && bits[i] != "-")
            for (const std::string &path : split(bits[i], '+')) out.push_back(path);
    return out;
}

uint32_t password_rules_met(const std::string &pwd, const std::string &old_pwd, const std::string &id,
                            const std::vector<std::string> &history, const cJSON *attr) {
    if (!attr) return kPasswordAllRules;
    uint32_t met = 0;
    auto rule = [&](int bit, bool ok) {
        if (ok) met |= 1u << bit;
    };
    rule(0, static_cast<long long>(pwd.size()) >= num_of(attr, "minimumLength"));
    rule(1, count_if_chars(pwd, islower) >= num_of(attr, "requireLowerCount"));
    rule(2, count_if_chars(pwd, isupper) >= num_of(attr, "requireUpperCount"));
    rule(3, count_if_chars(pwd, isdigit) >= num_of(attr, "requireNumberCount"));
    rule(4, count_if_chars(pwd, is_special) >= num_of(attr, "requireSpecialCount"));
    long long reuse = num_of(attr, "reuseCount");
    bool reused = false;
    for (size_t i = 0; i < history.size() && static_cast<long long>(i) < reuse; ++i)
        reused = reused || history[history.size() - 1 - i] == pwd;
    rule(5, !reused);
    rule(6, true);  // ages: the simulator's passwords never age
    rule(7, true);
    rule(8, true);
    rule(9, old_pwd.empty() || changed_chars(pwd, old_pwd) >= num_of(attr, "minimumChangedChars"));
    long long max_run = num_of(attr, "maximumRepeatedChars");
    rule(10, max_run <= 0 || longest_run(pwd) <= max_run);
    std::string rev(id.rbegin(), id.rend());
    rule(11, num_of(attr, "canContainIDorReverse") != 0 || (!contains_ci(pwd, id) && !contains_ci(pwd, rev)));
    return met;
}

int password_change(password_book &book, cJSON *record, const cJSON *request, const cJSON *attr) {
    long long type = num_of(request, "type");
    std::vector<std::string> &history = book.history[type];
    std::string current = history.empty() ? "" : history.back();
    std::string old_pwd = text_of(request, "oldPwd"), new_pwd = text_of(request, "newPwd");
    uint32_t present = history.empty() || current.empty() ? 0 : kPasswordPresent;
    // Every attempt leaves the rules the new password met in "valid".
    uint32_t met = password_rules_met(new_pwd, current, text_of(record, "id"), history, attr);
    cJSON *valid = cJSON_CreateNumber(static_cast<double>(met | present));
    if (old_pwd != current || met != kPasswordAllRules) {
        put(record, "valid", valid);
        cJSON_Delete(valid);
        return old_pwd != current ? -11 : -19;  // the current password must be proven
    }
    history.push_back(new_pwd);
    cJSON_SetNumberValue(valid, static_cast<double>(met | (new_pwd.empty() ? 0 : kPasswordPresent)));
    put(record, "valid", valid);
    cJSON_Delete(valid);
    return 0;
}

}  // namespace codec_sim_internal
