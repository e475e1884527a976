// The benchmarks' terminal notification.
#include "bench_term.h"

#include <cjson/cJSON.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "csapi/client/cs_records.h"

namespace kyrbench {

std::string term_json(int32_t id) {
  CSTerm t;
  memset(&t, 0, sizeof t);
  t.handle = kHandleMark;
  snprintf(t.name, sizeof t.name, "Boardroom 4B North Wing - Main Codec (Building 7, Floor 4, East Campus) - Quarterly Business Review Session (recorded)");
  snprintf(t.callerID, sizeof t.callerID, "Quarterly Review Host, Finance EMEA <alexandra.vanderberg-hollingsworth@conference.example.com>");
  snprintf(t.addr, sizeof t.addr, "sip:boardroom-4b-north.building7.campus-east@video-cluster-02.headquarters.example.com:5061;transport=tls;maddr=10.40.7.21;x-route=primary-sbc-eu-west");
  t.rate = 6144;
  t.direction = 1;
  t.numCalls = 2;
  snprintf(t.remoteSysID, sizeof t.remoteSysID, "Quorvex Q-Room 70 Conference Pro - Release 6.2.0.4 build 2291 (H.323/SIP, AES-256, dual 1080p60, content 4K, FECC, presets)");
  t.confIndex = 1;
  t.causeCode = 16;
  t.state = 9;
  t.connectTime = 1765200000;
  snprintf(t.deviceName, sizeof t.deviceName, "QVX-QR70-4B-NORTH");
  t.numMedia = 6;
  t.id = id;
  t.callType = 2;
  snprintf(t.dirid, sizeof t.dirid, "ldap://dir.example.com/cn=boardroom-4b,ou=rooms,dc=example");
  t.contentState = 1;
  t.authState = 2;
  snprintf(t.dialedAddr, sizeof t.dialedAddr, "sip:quarterly-review-bridge-71220*4471902@bridge-pool-03.conference.example.com:5061;transport=tls;x-conference-id=71220-4471902;x-pin-required=1");
  snprintf(t.password, sizeof t.password, "%s", "");
  t.encrypted = 1;
  t.type = 1;
  cJSON *j = cs_record_encode(CS_KIND_Term, &t);
  char *s = cJSON_PrintUnformatted(j);
  std::string out(s);
  free(s);
  cJSON_Delete(j);
  return out;
}

void split_at(const std::string &text, const std::string &mark, std::string *pre, std::string *suf) {
  size_t k = text.find(mark);
  *pre = text.substr(0, k);
  *suf = text.substr(k + mark.size());
}

void term_note_parts(int32_t id, uint32_t flags, bool in_id, std::string *prefix, std::string *suffix) {
  std::string body = term_json(in_id ? kIdMark : id);
  split_at(body, std::to_string(in_id ? (long long)kIdMark : (long long)kHandleMark), prefix, suffix);
  *prefix = "{\"jsonrpc\":\"2.0\",\"method\":\"csTermChangedCB\",\"params\":{\"pTerm\":" + *prefix;
  *suffix += ",\"flags\":" + std::to_string(flags) + "}}";
}

}  // namespace kyrbench
