// Wire conformance of every operation: the request the codec receives
// (method, "params" members in order, each value in its JSON form) against
// expectations written by hand from the operation tables, one row each.
//
// Conventions of the expectations:
//   $Kind   the handle of the fixture record of that kind (3000000000 and
//           up, so a handle printed as signed shows up at once)
//   $inst   the server instance of the connection
//   @Kind   the record object of the live fixture record of that kind, as
//           the records' own encoder writes it; @~Kind the other record
// Signed parameters are given negative values and unsigned ones values above
// 2^31, so a signed/unsigned mix-up changes the text.
//
// Every target record ("live") carries the connection's instance; every
// other record ("other"), output records included, carries instance 9,
// which has no connection: an operation sent to the wrong record's instance
// never reaches the codec.
#include <cjson/cJSON.h>

#include <functional>
#include <map>
#include <set>

#include "ops_fixture.h"

namespace opstest {
namespace {

#define HANDLE_KINDS(X)                                                                                      \
  X(Audio) X(AudioIn) X(AudioOut) X(Cal) X(CalSrvr) X(CamSubsys) X(Camera) X(CameraFarGroup) X(Comm) X(Conf) \
  X(Content) X(ContentSrvr) X(Dir) X(DirSrvr) X(FWTraversal) X(H323Nic) X(HomeScreen) X(IsdnLine) X(IsdnNic)  \
  X(Lan) X(Location) X(Log) X(PotsNic) X(Preset) X(Provisioning) X(Qos) X(Sec) X(SecPwdAttr) X(SipNic)         \
  X(SpeakerPhoneNic) X(Sys) X(Term) X(TermMedia) X(Time) X(V35Line) X(V35Nic) X(Video) X(VideoIn) X(VideoOut) \
  X(VideoOutLayout) X(VideoOutLayoutCap) X(WQT)

#define PLAIN_KINDS(X) X(DirEnt) X(ContentSrc) X(CalMeeting) X(SecPwd) X(Inkpad)
#define LIST_KINDS(X) X(RecentCallList) X(DirList) X(ContentList) X(CalList)

struct Side {
#define FIELD(K) CS##K K{};
  HANDLE_KINDS(FIELD)
  PLAIN_KINDS(FIELD)
#undef FIELD
};

struct Fx {
  int inst = 0;
  Side live, other;
  CSContentSrvr dstSrvr{};
  CSAddressList addrList{};
  CSAddressListArray addrArray{};
  std::map<std::string, std::string> vars;  // placeholder -> text

  // A fresh output record of list kind L, aimed at no connection.
  template <typename L>
  std::unique_ptr<L> List() {
    auto l = std::make_unique<L>();
    l->srvrInstance = 9;
    return l;
  }
};

std::string Print(cJSON *obj) {
  if (!obj) return "<no object>";
  char *t = cJSON_PrintUnformatted(obj);
  std::string s = t ? t : "";
  cJSON_free(t);
  cJSON_Delete(obj);
  return s;
}

std::unique_ptr<Fx> MakeFixture(int inst) {
  auto f = std::make_unique<Fx>();
  f->inst = inst;
  uint32_t h = 3000000000u;
#define SET_HANDLE(K)                                                \
  ++h;                                                               \
  f->live.K.handle = f->other.K.handle = h;                          \
  f->live.K.srvrInstance = inst;                                     \
  f->other.K.srvrInstance = 9;                                       \
  f->vars["$" #K] = std::to_string(h);
  HANDLE_KINDS(SET_HANDLE)
#undef SET_HANDLE
#define SET_PLAIN(K)               \
  f->live.K.srvrInstance = inst;   \
  f->other.K.srvrInstance = 9;
  PLAIN_KINDS(SET_PLAIN)
#undef SET_PLAIN
  f->dstSrvr = f->other.ContentSrvr;
  f->dstSrvr.handle = 3999999999u;
  f->vars["$ContentSrvr2"] = "3999999999";
  f->vars["$inst"] = std::to_string(inst);

  // A few distinguishing texts so that objects of one kind differ.
  snprintf(f->live.DirEnt.id, sizeof f->live.DirEnt.id, "grp-1");
  snprintf(f->other.DirEnt.id, sizeof f->other.DirEnt.id, "ent-2");
  snprintf(f->live.CalMeeting.subject, sizeof f->live.CalMeeting.subject, "Budget } review");
  snprintf(f->other.CalMeeting.id, sizeof f->other.CalMeeting.id, "filter");
  snprintf(f->live.ContentSrc.name, sizeof f->live.ContentSrc.name, "clip");
  snprintf(f->other.ContentSrc.name, sizeof f->other.ContentSrc.name, "filter");
  f->live.Term.state = 4000000000u;
  f->live.Audio.volume = 4294967295u;
  f->addrList.listCount = 2;
  f->addrList.list[0].rate = 384;
  snprintf(f->addrList.list[0].Address, sizeof f->addrList.list[0].Address, "10.0.0.1");
  f->addrList.list[1].rate = 768;
  snprintf(f->addrList.list[1].Address, sizeof f->addrList.list[1].Address, "10.0.0.2");
  snprintf(f->addrList.siteName, sizeof f->addrList.siteName, "HQ");
  f->addrArray.listCount = 1;
  f->addrArray.list[0] = f->addrList;

#define SET_OBJ(K)                                                             \
  f->vars["@" #K] = Print(cs_record_encode(CS_KIND_##K, &f->live.K));          \
  f->vars["@~" #K] = Print(cs_record_encode(CS_KIND_##K, &f->other.K));
  HANDLE_KINDS(SET_OBJ)
  PLAIN_KINDS(SET_OBJ)
#undef SET_OBJ
  f->vars["@AddressList"] = Print(cs_record_encode(CS_KIND_AddressList, &f->addrList));
  f->vars["@AddressListArray"] = Print(cs_record_encode(CS_KIND_AddressListArray, &f->addrArray));
  return f;
}

// Replaces $Name, @Name and @~Name with the fixture's texts.
std::string Expand(const std::string &pattern, const Fx &f) {
  std::string out;
  for (size_t i = 0; i < pattern.size();) {
    char c = pattern[i];
    if (c != '$' && c != '@') {
      out += c;
      ++i;
      continue;
    }
    size_t j = i + 1;
    if (c == '@' && j < pattern.size() && pattern[j] == '~') ++j;
    while (j < pattern.size() && isalnum(static_cast<unsigned char>(pattern[j]))) ++j;
    std::string key = pattern.substr(i, j - i);
    auto it = f.vars.find(key);
    out += it == f.vars.end() ? "<unknown " + key + ">" : it->second;
    i = j;
  }
  return out;
}

struct Row {
  const char *name;
  bool getter;  // answered with a record object, result 0; else answered 7
  std::function<int(Fx &)> call;
  const char *params;
};

#define SET_ROW(fn, K, key) \
  {#fn, false, [](Fx &f) { return fn(&f.live.K, 0x80000001u); }, "{\"" key "\":@" #K ",\"flags\":2147483649}"}
#define TOP_ROW(fn, K, key)                                                    \
  {#fn, true, [](Fx &f) { auto r = f.other.K; return fn(&r, f.inst); },       \
   "{\"" key "\":$" #K ",\"srvrInstance\":$inst}"}
#define COUNT_ROW(fn, P, key) {#fn, false, [](Fx &f) { return fn(&f.live.P); }, "{\"" key "\":$" #P "}"}
#define COUNT_PROT_ROW(fn, P, key) \
  {#fn, false, [](Fx &f) { return fn(&f.live.P, -3); }, "{\"" key "\":$" #P ",\"prot\":-3}"}
// A child getter: output record `other.K`, then the live parent and the rest.
#define UNPAREN(...) __VA_ARGS__
#define GET_ROW(fn, K, rest, params) \
  {#fn, true, [](Fx &f) { auto r = f.other.K; return fn(&r, UNPAREN rest); }, params}
#define ACT_ROW(fn, call, params) {#fn, false, [](Fx &f) { return call; }, params}

const std::vector<Row> &Rows() {
  static const std::vector<Row> rows = {
      // Setters
      SET_ROW(csAudioInSet, AudioIn, "pAudioIn"),
      SET_ROW(csAudioOutSet, AudioOut, "pAudioOut"),
      SET_ROW(csAudioSet, Audio, "pAudio"),
      SET_ROW(csCamSubsysSet, CamSubsys, "pCamSubsys"),
      SET_ROW(csCameraSet, Camera, "pCamera"),
      SET_ROW(csCommSet, Comm, "pComm"),
      SET_ROW(csConfSet, Conf, "pConf"),
      SET_ROW(csContentSrvrSet, ContentSrvr, "pContentSrvr"),
      SET_ROW(csDirSet, Dir, "pDir"),
      SET_ROW(csDirSrvrSet, DirSrvr, "pDirSrvr"),
      SET_ROW(csFWTraversalSet, FWTraversal, "pFWTraversal"),
      SET_ROW(csH323NicSet, H323Nic, "pH323Nic"),
      SET_ROW(csHomeScreenSet, HomeScreen, "pHomeScreen"),
      SET_ROW(csIsdnLineSet, IsdnLine, "pIsdnLine"),
      SET_ROW(csIsdnNicSet, IsdnNic, "pIsdnNic"),
      SET_ROW(csLanSet, Lan, "pLAN"),
      SET_ROW(csLocationSet, Location, "pLocation"),
      SET_ROW(csLogSet, Log, "pLog"),
      SET_ROW(csPotsNicSet, PotsNic, "pPotsNic"),
      SET_ROW(csPresetSet, Preset, "pPreset"),
      SET_ROW(csProvisioningSet, Provisioning, "pProvisioning"),
      SET_ROW(csQosSet, Qos, "pQos"),
      SET_ROW(csSecPwdAttrSet, SecPwdAttr, "pSecPwdAttr"),
      SET_ROW(csSecPwdSet, SecPwd, "pSecPwd"),
      SET_ROW(csSecSet, Sec, "pSec"),
      SET_ROW(csSipNicSet, SipNic, "pSipNic"),
      SET_ROW(csSpeakerPhoneNicSet, SpeakerPhoneNic, "pSpeakerPhoneNic"),
      SET_ROW(csSysSet, Sys, "pSys"),
      SET_ROW(csTermSet, Term, "pTerm"),
      SET_ROW(csTimeSet, Time, "pTime"),
      SET_ROW(csV35LineSet, V35Line, "pV35Line"),
      SET_ROW(csV35NicSet, V35Nic, "pV35Nic"),
      SET_ROW(csVideoInSet, VideoIn, "pVideoIn"),
      SET_ROW(csVideoOutLayoutSet, VideoOutLayout, "pVideoLayout"),
      SET_ROW(csVideoOutSet, VideoOut, "pVideoOut"),
      SET_ROW(csVideoSet, Video, "pVideo"),
      SET_ROW(csWQTSet, WQT, "pWQT"),
      SET_ROW(csCalSrvrSet, CalSrvr, "pCalSrvr"),
      ACT_ROW(csCalMeetingSet, csCalMeetingSet(&f.live.CalMeeting, &f.other.CalSrvr, 5u),
              R"({"pCalMeeting":@CalMeeting,"pCalSrvrHandle":$CalSrvr,"flags":5})"),
      ACT_ROW(csDirEntSet, csDirEntSet(&f.live.DirEnt, &f.other.DirSrvr, 4294967295u),
              R"({"pDirEnt":@DirEnt,"pDirSrvrHandle":$DirSrvr,"flags":4294967295})"),

      // Top-level getters
      TOP_ROW(csAudioGet, Audio, "pAudioHandle"),
      TOP_ROW(csCalGet, Cal, "pCalHandle"),
      TOP_ROW(csCamSubsysGet, CamSubsys, "pCamSubsysHandle"),
      TOP_ROW(csCommGet, Comm, "pCommHandle"),
      TOP_ROW(csContentGet, Content, "pContentHandle"),
      TOP_ROW(csDirGet, Dir, "pDirHandle"),
      TOP_ROW(csHomeScreenGet, HomeScreen, "pHomeScreenHandle"),
      TOP_ROW(csSecGet, Sec, "pSecHandle"),
      TOP_ROW(csSysGet, Sys, "pSysHandle"),
      TOP_ROW(csVideoGet, Video, "pVideoHandle"),

      // Child getters
      GET_ROW(csAudioInGet, AudioIn, (&f.live.Audio, -2),
              R"({"pAudioInHandle":$AudioIn,"pAudioHandle":$Audio,"instance":-2})"),
      GET_ROW(csAudioOutGet, AudioOut, (&f.live.Audio, -2),
              R"({"pAudioOutHandle":$AudioOut,"pAudioHandle":$Audio,"instance":-2})"),
      GET_ROW(csCalSrvrGet, CalSrvr, (&f.live.Cal, -2, -3),
              R"({"pCalSrvrHandle":$CalSrvr,"pCalHandle":$Cal,"instance":-2,"prot":-3})"),
      GET_ROW(csCameraFarGroupGet, CameraFarGroup, (&f.live.CamSubsys, -2),
              R"({"pCameraGroupHandle":$CameraFarGroup,"pSubsysHandle":$CamSubsys,"instance":-2})"),
      GET_ROW(csCameraFarGroupGetById, CameraFarGroup, (&f.live.CamSubsys, -5),
              R"({"pCamGroupHandle":$CameraFarGroup,"pSubsysHandle":$CamSubsys,"id":-5})"),
      GET_ROW(csCameraGetById, Camera, (&f.live.CamSubsys, -5),
              R"({"pCameraHandle":$Camera,"pSubSysHandle":$CamSubsys,"id":-5})"),
      GET_ROW(csCameraGetFar, Camera, (&f.live.CameraFarGroup, -2),
              R"({"pCameraHandle":$Camera,"pFarTerminalHandle":$CameraFarGroup,"instance":-2})"),
      GET_ROW(csCameraGetNear, Camera, (&f.live.CamSubsys, -2),
              R"({"pCameraHandle":$Camera,"pCamSubsysHandle":$CamSubsys,"instance":-2})"),
      GET_ROW(csCameraGetSelected, Camera, (&f.live.CamSubsys, 4000000001u, 4000000002u),
              R"({"pCameraHandle":$Camera,"pSubsysHandle":$CamSubsys,"isNear":4000000001,"searchPeople":4000000002})"),
      GET_ROW(csConfGet, Conf, (&f.live.Comm, 4000000003u),
              R"({"pConfHandle":$Conf,"pCommHandle":$Comm,"confInstance":4000000003})"),
      GET_ROW(csContentSrcGetPlaying, ContentSrc, (&f.live.Content, -2),
              R"({"pContentSrc":null,"pContentHandle":$Content,"instance":-2})"),
      GET_ROW(csContentSrvrGet, ContentSrvr, (&f.live.Content, -2, -3),
              R"({"pContentSrvrHandle":$ContentSrvr,"pContentHandle":$Content,"instance":-2,"prot":-3})"),
      GET_ROW(csDirSrvrGet, DirSrvr, (&f.live.Dir, -2, -3),
              R"({"pDirSrvrHandle":$DirSrvr,"pDirHandle":$Dir,"instance":-2,"prot":-3})"),
      GET_ROW(csFWTraversalGet, FWTraversal, (&f.live.Comm),
              R"({"pFWTraversalHandle":$FWTraversal,"pCommHandle":$Comm})"),
      GET_ROW(csH323NicGet, H323Nic, (&f.live.Comm, 4000000003u),
              R"({"pH323NicHandle":$H323Nic,"pCommHandle":$Comm,"instance":4000000003})"),
      GET_ROW(csInkpadGet, Inkpad, (&f.live.Sys), R"({"pInkpad":null,"pSysHandle":$Sys})"),
      GET_ROW(csIsdnLineGet, IsdnLine, (&f.live.IsdnNic, 4000000003u),
              R"({"pIsdnLineHandle":$IsdnLine,"pISDNNicHandle":$IsdnNic,"instance":4000000003})"),
      GET_ROW(csIsdnNicGet, IsdnNic, (&f.live.Comm, 4000000003u),
              R"({"pIsdnNicHandle":$IsdnNic,"pCommHandle":$Comm,"instance":4000000003})"),
      GET_ROW(csLanGet, Lan, (&f.live.Sys, -2), R"({"pLANHandle":$Lan,"pSysHandle":$Sys,"instance":-2})"),
      GET_ROW(csLocationGet, Location, (&f.live.Sys), R"({"pLocationHandle":$Location,"pSysHandle":$Sys})"),
      GET_ROW(csLogGet, Log, (&f.live.Sys), R"({"pLogHandle":$Log,"pSysHandle":$Sys})"),
      GET_ROW(csPotsNicGet, PotsNic, (&f.live.Comm, 4000000003u),
              R"({"pPotsNicHandle":$PotsNic,"pCommHandle":$Comm,"instance":4000000003})"),
      GET_ROW(csPresetGet, Preset, (&f.live.CamSubsys, 4000000001u, -2),
              R"({"pPresetHandle":$Preset,"pSubsysHandle":$CamSubsys,"isNear":4000000001,"instance":-2})"),
      GET_ROW(csProvisioningGet, Provisioning, (&f.live.Sys),
              R"({"pProvisioningHandle":$Provisioning,"pSysHandle":$Sys})"),
      GET_ROW(csQosGet, Qos, (&f.live.Comm), R"({"pQosHandle":$Qos,"pCommHandle":$Comm})"),
      GET_ROW(csSecPwdAttrGet, SecPwdAttr, (&f.live.Sec, 4000000004u),
              R"({"pSecPwdAttrHandle":$SecPwdAttr,"pSecHandle":$Sec,"type":4000000004})"),
      GET_ROW(csSecPwdGet, SecPwd, (&f.live.Sec, 4000000004u),
              R"({"pSecPwd":null,"pSecHandle":$Sec,"type":4000000004})"),
      GET_ROW(csSipNicGet, SipNic, (&f.live.Comm, 4000000003u),
              R"({"pSipNicHandle":$SipNic,"pCommHandle":$Comm,"instance":4000000003})"),
      GET_ROW(csSpeakerPhoneNicGet, SpeakerPhoneNic, (&f.live.Comm, 4000000003u),
              R"({"pSpeakerPhoneNicHandle":$SpeakerPhoneNic,"pCommHandle":$Comm,"instance":4000000003})"),
      GET_ROW(csTermGet, Term, (&f.live.Conf, 4000000003u),
              R"({"pTermHandle":$Term,"pConfHandle":$Conf,"termInstance":4000000003})"),
      GET_ROW(csTermGetByID, Term, (&f.live.Conf, -5),
              R"({"pTermHandle":$Term,"pConfHandle":$Conf,"termID":-5})"),
      GET_ROW(csTermMediaGet, TermMedia, (&f.live.Term, -2),
              R"({"pTermMediaHandle":$TermMedia,"pTermHandle":$Term,"mediaInstance":-2})"),
      GET_ROW(csTermPendingGet, Term, (&f.live.Comm, 4000000003u),
              R"({"pPendingTermHandle":$Term,"pCommHandle":$Comm,"termInstance":4000000003})"),
      GET_ROW(csTimeGet, Time, (&f.live.Sys), R"({"pTimeHandle":$Time,"pSysHandle":$Sys})"),
      GET_ROW(csV35LineGet, V35Line, (&f.live.V35Nic, 4000000003u),
              R"({"pV35LineHandle":$V35Line,"pV35NicHandle":$V35Nic,"instance":4000000003})"),
      GET_ROW(csV35NicGet, V35Nic, (&f.live.Comm, 4000000003u),
              R"({"pV35NicHandle":$V35Nic,"pCommHandle":$Comm,"instance":4000000003})"),
      GET_ROW(csVideoInGet, VideoIn, (&f.live.Video, -2),
              R"({"pVideoInHandle":$VideoIn,"pVideoHandle":$Video,"instance":-2})"),
      GET_ROW(csVideoOutGet, VideoOut, (&f.live.Video, -2),
              R"({"pVideoOutHandle":$VideoOut,"pVideoHandle":$Video,"instance":-2})"),
      GET_ROW(csVideoOutLayoutCapGet, VideoOutLayoutCap, (&f.live.VideoOut),
              R"({"pVideoLayoutCapHandle":$VideoOutLayoutCap,"pVideoOutHandle":$VideoOut})"),
      GET_ROW(csVideoOutLayoutGet, VideoOutLayout, (&f.live.VideoOut),
              R"({"pVideoLayoutHandle":$VideoOutLayout,"pVideoOutHandle":$VideoOut})"),
      GET_ROW(csWQTGet, WQT, (&f.live.Sys), R"({"pWQTHandle":$WQT,"pSysHandle":$Sys})"),

      // Counts
      COUNT_ROW(csAudioInCount, Audio, "pAudioHandle"),
      COUNT_ROW(csAudioOutCount, Audio, "pAudioHandle"),
      COUNT_PROT_ROW(csCalSrvrCount, Cal, "pCalHandle"),
      COUNT_ROW(csCommConfCount, Comm, "pCommHandle"),
      COUNT_ROW(csCommPendingTermCount, Comm, "pCommHandle"),
      COUNT_ROW(csConfTermCount, Conf, "pConfHandle"),
      COUNT_ROW(csContentPlayCount, Content, "pContentHandle"),
      COUNT_PROT_ROW(csContentSrvrCount, Content, "pContentHandle"),
      COUNT_PROT_ROW(csDirSrvrCount, Dir, "pDirHandle"),
      COUNT_ROW(csTermMediaCount, Term, "pTermHandle"),
      COUNT_ROW(csVideoInCount, Video, "pVideoHandle"),
      COUNT_ROW(csVideoOutCount, Video, "pVideoHandle"),

      // Actions
      ACT_ROW(csAudioMute, csAudioMute(&f.live.Audio, 4000000005u),
              R"({"pAudioHandle":$Audio,"onOff":4000000005})"),
      ACT_ROW(csAudioPlayDTMF, csAudioPlayDTMF(&f.live.Audio, "12#", -250, 4000000006u),
              R"({"pAudioHandle":$Audio,"dtmfChars":"12#","duration":-250,"where":4000000006})"),
      ACT_ROW(csAudioPlayFile, csAudioPlayFile(&f.live.Audio, "ring.wav", 4000000007u),
              R"({"pAudioHandle":$Audio,"filename":"ring.wav","startStop":4000000007})"),
      ACT_ROW(csAudioPlayTone, csAudioPlayTone(&f.live.Audio, 4000000007u, -440, -480),
              R"({"pAudioHandle":$Audio,"startStop":4000000007,"freq0":-440,"freq1":-480})"),
      ACT_ROW(csAudioVolume, csAudioVolume(&f.live.Audio, 4000000008u),
              R"({"pAudioHandle":$Audio,"volume":4000000008})"),
      ACT_ROW(csCalSrvrAdd, csCalSrvrAdd(&f.live.Cal, &f.other.CalSrvr),
              R"({"pCalHandle":$Cal,"pCalSrvrHandle":$CalSrvr})"),
      ACT_ROW(csCalSrvrMeetingAdd, csCalSrvrMeetingAdd(&f.live.CalSrvr, &f.other.CalMeeting),
              R"({"pCalSrvrHandle":$CalSrvr,"pCalMeeting":@~CalMeeting})"),
      ACT_ROW(csCalSrvrMeetingRemove, csCalSrvrMeetingRemove(&f.live.CalSrvr, "m-1"),
              R"({"pCalSrvrHandle":$CalSrvr,"id":"m-1"})"),
      ACT_ROW(csCalSrvrRemove, csCalSrvrRemove(&f.live.Cal, &f.other.CalSrvr),
              R"({"pCalHandle":$Cal,"pCalSrvrHandle":$CalSrvr})"),
      ACT_ROW(csCalSrvrRetrieveURL, csCalSrvrRetrieveURL(&f.live.CalSrvr, "http://cal/x?a=1"),
              R"({"pCalSrvrHandle":$CalSrvr,"url":"http://cal/x?a=1"})"),
      ACT_ROW(csCalSrvrSetResponseFile, csCalSrvrSetResponseFile(&f.live.CalSrvr, "resp.xml"),
              R"({"pCalSrvr":@CalSrvr,"filename":"resp.xml"})"),
      ACT_ROW(csCameraCreatePreset, csCameraCreatePreset(&f.live.Camera, -2),
              R"({"pCameraHandle":$Camera,"instance":-2})"),
      ACT_ROW(csCameraMove, csCameraMove(&f.live.Camera, 4000000009u),
              R"({"pCameraHandle":$Camera,"moveType":4000000009})"),
      ACT_ROW(csCameraMoveToPTZ, csCameraMoveToPTZ(&f.live.Camera, -10, -20, -30),
              R"({"pCameraHandle":$Camera,"pan":-10,"tilt":-20,"zoom":-30})"),
      ACT_ROW(csCameraSelect, csCameraSelect(&f.live.Camera, 4000000010u),
              R"({"pCameraHandle":$Camera,"select":4000000010})"),
      ACT_ROW(csConfHangup, csConfHangup(&f.live.Conf, -16), R"({"pConfHandle":$Conf,"causeCode":-16})"),
      ACT_ROW(csConfLeave, csConfLeave(&f.live.Conf, -16), R"({"pConfHandle":$Conf,"causeCode":-16})"),
      ACT_ROW(csConfTermAnswer, csConfTermAnswer(&f.live.Conf, &f.other.Term),
              R"({"pConfHandle":$Conf,"pTermHandle":$Term})"),
      ACT_ROW(csConfTermDial, csConfTermDial(&f.live.Conf, 4000000011u, "10.0.0.9"),
              R"({"pConfHandle":$Conf,"rate":4000000011,"address":"10.0.0.9"})"),
      ACT_ROW(csConfTermDialList, csConfTermDialList(&f.live.Conf, &f.addrList, 4000000012u),
              R"({"pConfHandle":$Conf,"pAddressList":@AddressList,"bAll":4000000012})"),
      ACT_ROW(csConfTermDialListArray, csConfTermDialListArray(&f.live.Conf, &f.addrArray, 4000000012u),
              R"({"pConfHandle":$Conf,"pAddressListArray":@AddressListArray,"bAll":4000000012})"),
      ACT_ROW(csConfTermHangup, csConfTermHangup(&f.live.Conf, 4000000003u, -16),
              R"({"pConfHandle":$Conf,"termInstance":4000000003,"causeCode":-16})"),
      ACT_ROW(csContentSrcGotoTrack, csContentSrcGotoTrack(&f.live.ContentSrc, -4, 4000000013u),
              R"({"pContentSrc":@ContentSrc,"trackNum":-4,"pos":4000000013})"),
      ACT_ROW(csContentSrcPlay, csContentSrcPlay(&f.live.ContentSrc, &f.other.ContentSrvr, 1.5),
              R"({"pContentSrc":@ContentSrc,"pContentSrvrHandle":$ContentSrvr,"multiplier":1.5})"),
      ACT_ROW(csContentSrcRecord,
              csContentSrcRecord(&f.live.ContentSrc, &f.other.ContentSrvr, "dst", &f.dstSrvr, -0.25),
              R"({"pContentSrc":@ContentSrc,"pContentSrcSrvrHandle":$ContentSrvr,"contentDstName":"dst",)"
              R"("pContentDstSrvrHandle":$ContentSrvr2,"multiplier":-0.25})"),
      ACT_ROW(csContentSrcSeek, csContentSrcSeek(&f.live.ContentSrc, -100, 4000000013u),
              R"({"pContentSrc":@ContentSrc,"timeMS":-100,"pos":4000000013})"),
      ACT_ROW(csContentSrcStop, csContentSrcStop(&f.live.ContentSrc), R"({"pContentSrc":@ContentSrc})"),
      ACT_ROW(csContentSrvrAdd, csContentSrvrAdd(&f.live.Content, &f.other.ContentSrvr),
              R"({"pContentHandle":$Content,"pContentSrvrHandle":$ContentSrvr})"),
      ACT_ROW(csContentSrvrRemove, csContentSrvrRemove(&f.live.Content, &f.other.ContentSrvr),
              R"({"pContentHandle":$Content,"pContentSrvrHandle":$ContentSrvr})"),
      ACT_ROW(csDirEntAddToGroup, csDirEntAddToGroup(&f.live.DirEnt, &f.other.DirEnt),
              R"({"pDirGrp":@DirEnt,"pDirEnt":@~DirEnt})"),
      ACT_ROW(csDirEntRemoveFromGroup, csDirEntRemoveFromGroup(&f.live.DirEnt, "e-7"),
              R"({"pDirGrp":@DirEnt,"id":"e-7"})"),
      ACT_ROW(csDirSrvrAdd, csDirSrvrAdd(&f.live.Dir, &f.other.DirSrvr),
              R"({"pDirHandle":$Dir,"pDirSrvrHandle":$DirSrvr})"),
      ACT_ROW(csDirSrvrEntAdd, csDirSrvrEntAdd(&f.live.DirSrvr, &f.other.DirEnt),
              R"({"pDirSrvrHandle":$DirSrvr,"pDirEnt":@~DirEnt})"),
      ACT_ROW(csDirSrvrEntRemove, csDirSrvrEntRemove(&f.live.DirSrvr, "e-7"),
              R"({"pDirSrvrHandle":$DirSrvr,"id":"e-7"})"),
      ACT_ROW(csDirSrvrRemove, csDirSrvrRemove(&f.live.Dir, &f.other.DirSrvr),
              R"({"pDirHandle":$Dir,"pDirSrvrHandle":$DirSrvr})"),
      ACT_ROW(csPresetClear, csPresetClear(&f.live.Preset), R"({"pPresetHandle":$Preset})"),
      ACT_ROW(csPresetGoTo, csPresetGoTo(&f.live.Preset), R"({"pPresetHandle":$Preset})"),
      ACT_ROW(csPresetIsSelected, csPresetIsSelected(&f.live.Preset), R"({"pPresetHandle":$Preset})"),
      ACT_ROW(csSysSleep, csSysSleep(&f.live.Sys), R"({"pSysHandle":$Sys})"),
      ACT_ROW(csSysWake, csSysWake(&f.live.Sys), R"({"pSysHandle":$Sys})"),
      ACT_ROW(csTermHangup, csTermHangup(&f.live.Term, -16), R"({"pTermHandle":$Term,"causeCode":-16})"),
      ACT_ROW(csTermSendFlash, csTermSendFlash(&f.live.Term, 4000000014u),
              R"({"pTermHandle":$Term,"durationMs":4000000014})"),
      ACT_ROW(csTermSendKeystring, csTermSendKeystring(&f.live.Term, "*9\"x\\"),
              R"({"pTermHandle":$Term,"keystring":"*9\"x\\"})"),

      // Lists and searches
      ACT_ROW(csCalSrvrListStart, csCalSrvrListStart(&f.live.CalSrvr, 64, &f.other.CalMeeting, -1),
              R"({"pCalSrvrHandle":$CalSrvr,"totalMeetings":64,"pFilter":@~CalMeeting,"attrs":4294967295})"),
      ACT_ROW(csCalSrvrListStop, csCalSrvrListStop(&f.live.CalSrvr, -9),
              R"({"pCalSrvrHandle":$CalSrvr,"listHandle":-9})"),
      {"csCalListGet", true,
       [](Fx &f) { return csCalListGet(f.List<CSCalList>().get(), &f.live.CalSrvr, -9, 6000, 64); },
       R"({"pCalList":null,"pCalSrvrHandle":$CalSrvr,"listHandle":-9,"timeoutMS":6000,"numMeetings":64})"},
      GET_ROW(csCalMeetingGet, CalMeeting, (&f.live.CalSrvr, -1, "m-1"),
              R"({"pCalMeeting":null,"pCalSrvrHandle":$CalSrvr,"timeoutMS":-1,"id":"m-1"})"),
      ACT_ROW(csContentSrvrListStart, csContentSrvrListStart(&f.live.ContentSrvr, &f.other.ContentSrc),
              R"({"pContentSrvrHandle":$ContentSrvr,"pFilter":@~ContentSrc})"),
      ACT_ROW(csContentSrvrListStop, csContentSrvrListStop(&f.live.ContentSrvr, -9),
              R"({"pContentSrvrHandle":$ContentSrvr,"listHandle":-9})"),
      {"csContentListGet", true,
       [](Fx &f) { return csContentListGet(f.List<CSContentList>().get(), &f.live.ContentSrvr, -9, 6000, -3); },
       R"({"pContentList":null,"pContentSrvrHandle":$ContentSrvr,"listHandle":-9,"timeoutMS":6000,"maxNames":-3})"},
      ACT_ROW(csDirSrvrListStart, csDirSrvrListStart(&f.live.DirSrvr, -100, &f.other.DirEnt, 4000000015u),
              R"({"pDirSrvrHandle":$DirSrvr,"totalNames":-100,"pFilter":@~DirEnt,"attrs":4000000015})"),
      ACT_ROW(csDirSrvrListStop, csDirSrvrListStop(&f.live.DirSrvr, -9),
              R"({"pDirSrvrHandle":$DirSrvr,"listHandle":-9})"),
      {"csDirListGet", true,
       [](Fx &f) { return csDirListGet(f.List<CSDirList>().get(), &f.live.DirSrvr, -9, 60000, 64); },
       R"({"pDirList":null,"pDirSrvrHandle":$DirSrvr,"listHandle":-9,"timeoutMS":60000,"maxNames":64})"},
      GET_ROW(csDirEntGet, DirEnt, (&f.live.DirSrvr, -1, "e-7"),
              R"({"pDirEnt":null,"pDirSrvrHandle":$DirSrvr,"timeoutMS":-1,"id":"e-7"})"),
      GET_ROW(csDirEntGetByName, DirEnt, (&f.live.DirSrvr, -1, "Ann"),
              R"({"pDirEnt":null,"pDirSrvrHandle":$DirSrvr,"timeoutMS":-1,"name":"Ann"})"),
      {"csRecentCallListGet", true,
       [](Fx &f) {
         return csRecentCallListGet(f.List<CSRecentCallList>().get(), &f.live.Comm, 0u, 4000000016u, 1u,
                                    4000000017u);
       },
       R"({"pList":null,"pCommHandle":$Comm,"startIndex":0,"endIndex":4000000016,"sort":1,"filter":4000000017})"},
  };
  return rows;
}

using WireTest = OpsTest;

TEST_F(WireTest, RowsCoverEveryOperationOnce) {
  std::multiset<std::string> mine;
  for (const Row &r : Rows()) mine.insert(r.name);
  std::multiset<std::string> lib;
  for (size_t i = 0; cs_ops_name(i); ++i) lib.insert(cs_ops_name(i));
  EXPECT_EQ(Rows().size(), 159u);
  EXPECT_EQ(cs_ops_count(), 159u);
  EXPECT_EQ(mine, lib);
}

TEST_F(WireTest, EveryOperationSendsItsParamsInOrderAndForm) {
  std::set<std::string> getters;
  for (const Row &r : Rows())
    if (r.getter) getters.insert(r.name);
  Answer([getters](const codec_sim_request &r) {
    return codec_sim_result_text(r, getters.count(r.method) ? "{\"srvrInstance\":5}" : "7");
  });
  auto f = MakeFixture(inst_);
  for (const Row &row : Rows()) {
    SCOPED_TRACE(row.name);
    size_t before = codec_sim_request_count(sim_);
    int rc = row.call(*f);
    EXPECT_EQ(rc, row.getter ? 0 : 7);
    EXPECT_EQ(csError(), rc);
    codec_sim_request req;
    if (!codec_sim_wait_request(sim_, "", 2000, &req, before)) {
      ADD_FAILURE() << "nothing reached the codec";
      continue;
    }
    EXPECT_EQ(req.method, row.name);
    std::string sent = RawParams(req.text), want = Expand(row.params, *f);
    EXPECT_EQ(JsonDiff(sent, want), "") << "sent:     " << sent << "\nexpected: " << want;
    // Numbers travel as plain decimals (no sign flip, no exponent, no
    // fraction on whole values); doubles are compared by value above.
    for (const char *n : {"4294967295", "2147483649", "3000000001", "-16", "-250"})
      if (want.find(n) != std::string::npos) {
        EXPECT_NE(sent.find(n), std::string::npos) << n;
      }
    EXPECT_EQ(codec_sim_request_count(sim_), before + 1) << "exactly one request per operation";
  }
}

}  // namespace
}  // namespace opstest
