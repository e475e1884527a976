/* System converters: fetch the current records of a settings page and list
 * every key of it. Which fetch failure ends a page, and which only leaves
 * its keys out, differs per page. The reads of a page that need nothing but
 * an earlier step's handle are issued together (kyr_fetch.h) and judged in
 * the page's own order. */
#include <string.h>

#include "csapi/client/cs_ops.h"
#include "csapi/client/csapi_rpc.h"
#include "service/interfaces/kyr_fetch.h"
#include "service/interfaces/settings_rows.h"
#include "service/kyr_service.h"

namespace {

const bool kAll = true;

/* A failed fetch: logged with its code; true when rc is a failure. */
bool fetch_failed(int rc, const char *text) {
  if (rc >= 0) return false;
  kyr_settings_log_error(text, rc);
  return true;
}

/* A record and the rows read from it, in page order. */
struct page_part {
  const void *record;
  kyr_setting_span span;
};

template <size_t N>
int64_t list_parts(const page_part (&parts)[N]) {
  kyr_settings_list l;
  for (const page_part &p : parts) l.add_rows(p.record, p.span, 0, kAll);
  return l.finish();
}

const kyr_setting_row kWqtRows[1] = {
    KYR_SETTING(CSWQT, 0, "wqt_model", TEXT, model),
};

const kyr_setting_row kInkpadRows[4] = {
    KYR_SETTING(CSInkpad, 0, "inkpad_state", INT, bAttached),
    KYR_SETTING(CSInkpad, 0, "inkpad_modelname", TEXT, model),
    KYR_SETTING(CSInkpad, 0, "inkpad_hw_ver", TEXT, hardwareVersion),
    KYR_SETTING(CSInkpad, 0, "inkpad_fw_ver", TEXT, firmwareVersion),
};

/* The communication page shows the H.323 and SIP keys in another order (and
 * the SIP address from another field) than their change lists do. */
const kyr_setting_row kH323PageRows[7] = {
    KYR_SETTING(CSH323Nic, 0, "use_gatekeeper", INT, gkAddrObtain),
    KYR_SETTING(CSH323Nic, 0, "gatekeeper_state", INT, gkState),
    KYR_SETTING(CSH323Nic, 0, "gatekeeper_model", TEXT, gkModel),
    KYR_SETTING(CSH323Nic, 0, "gatekeeper_address", TEXT, gkAddr),
    KYR_SETTING(CSH323Nic, 0, "gatekeeper_software_version", TEXT, gkSoftwareVersion),
    KYR_SETTING(CSH323Nic, 0, "h323_extension", TEXT, extension),
    KYR_SETTING(CSH323Nic, 0, "h323_address", TEXT, addr),
};

const kyr_setting_row kSipPageRows[4] = {
    KYR_SETTING(CSSipNic, 0, "sip_registrar_server_state", INT, registrarSrvrState),
    KYR_SETTING(CSSipNic, 0, "sip_registrar_server_address", TEXT, addr),
    KYR_SETTING(CSSipNic, 0, "sip_registrar_server_ntlm_version", INT, registrarSrvrAuthMethNegotiated),
    KYR_SETTING(CSSipNic, 0, "sip_registrar_server_model", TEXT, registrarSrvrModel),
};

const int kMeetingPassword = 1;
const int kV35Type = 4;
const int kNoType = -1;

}  // namespace

extern "C" int64_t GetContentSystemSettings(void) {
  CSCamSubsys cam{};
  if (fetch_failed(csCamSubsysGet(&cam, kyr_server_instance()), "can't get Camera settings, err=%d (%s)")) return -1;
  const page_part parts[] = {{&cam, kyr_span(kCamSubsysRows)}};
  return list_parts(parts);
}

extern "C" int64_t GetSecuritySystemSettings(void) {
  CSSec sec{};
  if (fetch_failed(csSecGet(&sec, kyr_server_instance()), "can't get security subsystem, err=%d (%s)")) return -1;
  CSSecPwd pwd{};
  CSSecPwdAttr attr{};
  cs_op_ticket t[2];
  (void)csSecPwdGetBegin(&t[0], &pwd, &sec, kMeetingPassword);
  (void)csSecPwdAttrGetBegin(&t[1], &attr, &sec, kMeetingPassword);
  int pwd_rc = cs_op_end(&t[0]);
  int attr_rc = cs_op_end(&t[1]);
  kyr_settings_list l;
  l.add_rows(&sec, kyr_span(kSecRows), 0, kAll);
  if (!fetch_failed(pwd_rc, "can't get Password settings, err=%d (%s)")) l.add_rows(&pwd, kyr_span(kSecPwdRows), 0, kAll);
  memset(&pwd, 0, sizeof pwd); /* no password text outlives the call */
  if (!fetch_failed(attr_rc, "can't get Password attributes, err=%d (%s)"))
    l.add_rows(&attr, kyr_span(kSecPwdAttrRows), 0, kAll);
  return l.finish();
}

extern "C" int64_t GetCalendarSystemSettings(void) {
  CSCal cal{};
  if (fetch_failed(csCalGet(&cal, kyr_server_instance()), "can't get CALENDAR subsystem err=%d (%s)")) return -1;
  CSCalSrvr srvr{};
  if (fetch_failed(csCalSrvrGet(&srvr, &cal, 0, 1), "can't get CALENDAR settings, err=%d (%s)")) return -1;
  memset(srvr.userPass, 0, sizeof srvr.userPass);
  kyr_settings_list l;
  l.add_rows(&srvr, kyr_span(kCalSrvrRows), 0, kAll);
  l.add_text("calendaring_service_ntlm_version", "0");
  return l.finish();
}

extern "C" int64_t GetDirectorySystemSettings(void) {
  CSDir dir{};
  if (fetch_failed(csDirGet(&dir, kyr_server_instance()), "can't get DIRECTORY settings, err=%d (%s)")) return -1;
  /* The presence, PXS and LDAP servers, in the page's order. */
  struct server_part {
    int prot;
    const char *failure;
    kyr_setting_span span;
  };
  const server_part parts[3] = {
      {2, "can't get PXS settings, err=%d (%s)", kyr_span(kPxsRows)},
      {4, "can't get PRESENCE settings, err=%d (%s)", kyr_span(kPresenceRows)},
      {3, "can't get LDAPv3 settings, err=%d (%s)", kyr_span(kLdapRows)},
  };
  CSDirSrvr srvr[3]{};
  cs_op_ticket t[3];
  for (int i = 0; i < 3; i++) (void)csDirSrvrGetBegin(&t[i], &srvr[i], &dir, 0, parts[i].prot);
  int rc[3];
  for (int i = 0; i < 3; i++) rc[i] = cs_op_end(&t[i]);
  kyr_settings_list l;
  l.add_rows(&dir, kyr_span(kDirRows), 0, kAll);
  for (int i = 0; i < 3; i++) {
    if (fetch_failed(rc[i], parts[i].failure)) continue;
    if (parts[i].prot == 2 && !srvr[i].enabled) srvr[i].address[0] = '\0'; /* a disabled server has no address to show */
    l.add_rows(&srvr[i], parts[i].span, 0, kAll);
  }
  memset(srvr, 0, sizeof srvr);
  return l.finish();
}

extern "C" int64_t GetAudioSystemSettings(void) {
  CSAudio audio{};
  if (csAudioGet(&audio, kyr_server_instance()) < 0) return -1;
  kyr_settings_list l;
  l.add_rows(&audio, kyr_span(kAudioRows), 0, kAll);
  kyr_settings_add_audio_inputs(&l, &audio, false);
  return l.finish();
}

extern "C" int64_t GetSysSystemSettings(void) {
  kyr_settings_log("GetSysSystemSettings: Get Sys System Settings\n");
  const int inst = kyr_server_instance();
  CSHomeScreen home{};
  CSSys sys{};
  CSLan lan{};
  CSTime time{};
  CSProvisioning prov{};
  CSLog log{};
  CSWQT wqt{};
  CSInkpad inkpad{};
  /* Reads in page order: the first two need only the instance, the rest the
   * system record's handle. */
  enum { HOME, SYS, LAN, TIME, PROV, LOG, WQT, INKPAD, N };
  static const char *const failure[N] = {
      "can't get HOME SCREEN settings, err=%d (%s)", "can't get SYS settings, err=%d (%s)",
      "can't get LAN settings, err=%d (%s)",         "can't get TIME settings, err=%d (%s)",
      "can't get PROVISIONING settings, err=%d (%s)", "can't get LOG settings, err=%d (%s)",
      "can't get WQT settings, err=%d (%s)",         "can't get INKPAD settings, err=%d (%s)",
  };
  cs_op_ticket t[N];
  (void)csHomeScreenGetBegin(&t[HOME], &home, inst);
  (void)csSysGetBegin(&t[SYS], &sys, inst);
  int rc = cs_op_end(&t[HOME]);
  if (rc < 0) {
    fetch_failed(rc, failure[HOME]);
    kyr_fetch_drop(t, SYS, SYS + 1, rc);
    return -1;
  }
  if (fetch_failed(cs_op_end(&t[SYS]), failure[SYS])) return -1;
  (void)csLanGetBegin(&t[LAN], &lan, &sys, 0);
  (void)csTimeGetBegin(&t[TIME], &time, &sys);
  (void)csProvisioningGetBegin(&t[PROV], &prov, &sys);
  (void)csLogGetBegin(&t[LOG], &log, &sys);
  (void)csWQTGetBegin(&t[WQT], &wqt, &sys);
  (void)csInkpadGetBegin(&t[INKPAD], &inkpad, &sys);
  for (int i = LAN; i < N; i++) {
    rc = cs_op_end(&t[i]);
    if (rc < 0) {
      fetch_failed(rc, failure[i]);
      kyr_fetch_drop(t, i + 1, N, rc);
      memset(&lan, 0, sizeof lan);
      memset(&prov, 0, sizeof prov);
      return -1;
    }
  }
  memset(lan.eapPassword, 0, sizeof lan.eapPassword);
  memset(prov.srvrAuthPass, 0, sizeof prov.srvrAuthPass);
  const page_part parts[] = {
      {&home, kyr_span(kHomeScreenRows)},
      {&sys, kyr_span(kSysRows)},
      {&lan, kyr_span(kLanRows, KYR_LAN_ADDRESSES, 5)},
      {&lan, kyr_span(kLanRows, KYR_LAN_STATE, 1)},
      {&time, kyr_span(kTimeRows)},
      {&prov, kyr_span(kProvisioningRows)},
      {&lan, kyr_span(kLanRows, KYR_LAN_EAP_STATE, 1)},
      {&lan, kyr_span(kLanRows, KYR_LAN_EAP_STATUS, 1)},
      {&log, kyr_span(kLogRows)},
      {&wqt, kyr_span(kWqtRows)},
      {&inkpad, kyr_span(kInkpadRows)},
  };
  return list_parts(parts);
}

extern "C" int64_t GetCommSystemSettings(void) {
  kyr_settings_list l;
  CSComm comm{};
  bool comm_ok = !fetch_failed(csCommGet(&comm, kyr_server_instance()), "can't get COM settings, err=%d (%s)");
  /* Every interface hangs off the comm record; without it only the H.323
   * and SIP reads go out (with the empty record, as they always did). */
  enum { PHONE, ISDN, V35, H323, SIP, N };
  CSSpeakerPhoneNic phone{};
  CSIsdnNic isdn{};
  CSV35Nic v35{};
  CSH323Nic h323{};
  CSSipNic sip{};
  cs_op_ticket t[N];
  if (comm_ok) {
    (void)csSpeakerPhoneNicGetBegin(&t[PHONE], &phone, &comm, 0);
    (void)csIsdnNicGetBegin(&t[ISDN], &isdn, &comm, 0);
    (void)csV35NicGetBegin(&t[V35], &v35, &comm, 0);
  }
  (void)csH323NicGetBegin(&t[H323], &h323, &comm, 0);
  (void)csSipNicGetBegin(&t[SIP], &sip, &comm, 0);
  if (comm_ok) {
    if (!fetch_failed(cs_op_end(&t[PHONE]), "can't get VoxtellanIP settings, err=%d (%s)"))
      l.add_rows(&phone, kyr_span(kSpeakerPhoneRows), 0, kAll);
    l.add_rows(&comm, kyr_span(kCommRows, 0, 1), 0, kAll);
    if (comm.maxTermsPerConf > 2) l.add_rows(&comm, kyr_span(kCommRows, 1, 1), 0, kAll);

    bool isdn_ok = !fetch_failed(cs_op_end(&t[ISDN]), "can't get ISDN NIC settings, err=%d (%s)");
    bool v35_ok = !fetch_failed(cs_op_end(&t[V35]), "can't get V35 NIC settings, err=%d (%s)");
    int isdn_type = isdn_ok ? isdn.type : kNoType;
    /* A V.35 interface in the ISDN slot (or none there) means the serial
     * interface is the one in use; an interface fetched from neither leaves
     * the group out. */
    if ((isdn_type == kV35Type || isdn_type == kNoType) && v35_ok && v35.type == kV35Type) {
      kyr_settings_v35_line_info(&l, &v35, v35.enable != 1);
      l.add_int("isdn_network_interface_type", v35.type);
    } else if (isdn_ok) {
      kyr_settings_isdn_line_info(&l, &isdn, isdn.enable != 1);
      l.add_int("isdn_network_interface_type", isdn.type);
      l.add_rows(&isdn, kyr_span(kIsdnSwitchRows), 0, kAll);
    }
  }
  if (!fetch_failed(cs_op_end(&t[H323]), "can't get H323 Nic settings, err=%d (%s)"))
    l.add_rows(&h323, kyr_span(kH323PageRows), 0, kAll);
  if (!fetch_failed(cs_op_end(&t[SIP]), "can't get SIP Nic settings, err=%d (%s)")) {
    memset(sip.authPass, 0, sizeof sip.authPass);
    l.add_rows(&sip, kyr_span(kSipPageRows), 0, kAll);
  }
  memset(&sip, 0, sizeof sip);
  return l.finish();
}
