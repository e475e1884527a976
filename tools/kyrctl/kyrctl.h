// kyrctl: a command-line client of the codec built on the library's client
// core. Declarations shared by its parts:
//   main.cpp      options, help, connecting, one command or the shell
//   session.cpp   connect, authenticate, pair, the trace, the generic call
//   records.cpp   records, flags and operations for people and for JSON,
//                 expanded from the library's own record and operation tables
//   commands.cpp  the command table and its handlers
//   shell.cpp     the interactive shell (libedit)
#pragma once

#include <cjson/cJSON.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "csapi/client/cs_records.h"

namespace kyrctl {

// Exit statuses: each means one thing.
enum Exit { kOk = 0, kCodecError = 1, kUsage = 2, kNoConnect = 3 };

struct Options {
  std::string address;  // HOST[:PORT] as given
  int tls = -1;         // CCOM_TLS_AUTO / _OFF / _ON
  std::string serial;   // identity for csAuth/csPair
  std::string user;     // administrator for pairing; empty: never pair
  bool json = false;
  bool trace = false;
  int timeout = 30;     // seconds per call
};

struct Session {
  Options opt;
  int instance = -1;
  bool paired = false;  // pairing ran on this connection
};

// ---- session.cpp ----
// Connects, authenticates and pairs when needed. kOk or kNoConnect (the
// reason already printed).
int session_open(Session &s);
void session_close(Session &s);
// Opens the session unless it is open: commands check their words first,
// so a usage error never needs a codec.
int session_need(Session &s);
void trace_install(bool on);
// The negotiated TLS version of the connection, or null when plain.
const char *session_tls_version(const Session &s);

// The codec's answer to one request.
struct Answer {
  int rc = 0;             // the call's result or error code
  bool codec_error = false;
  int code = 0;           // error code of an error answer
  std::string message;    // its text
  cJSON *tree = nullptr;  // the parsed answer (owned), null when none
  const cJSON *result = nullptr;
  ~Answer() { cJSON_Delete(tree); }
};
// Sends method with params (taken over, may be null) and reads the answer.
void session_call(Session &s, const char *method, cJSON *params, Answer *out);

// ---- records.cpp ----
// A record as JSON: every field by name (password values hidden).
cJSON *record_json(cs_kind kind, const void *rec);
// Sets the record's srvrInstance, when its kind has one.
void record_stamp_instance(cs_kind kind, void *rec, int32_t instance);
// A record for people: one aligned "name  value" line per field.
void record_print(FILE *f, cs_kind kind, const void *rec, int indent);
// Names of the fields a notification's flags say changed, as a JSON array.
cJSON *changed_fields(cs_kind kind, uint32_t flags);
// Text for one call-state / authentication-state value.
const char *term_state_name(uint32_t state);
// Codec text for a terminal: at most cap bytes, control characters shown
// as \xNN so that a codec cannot drive the terminal.
std::string shown(const char *text, size_t cap = (size_t)-1);
// Local time "YYYY-MM-DD HH:MM:SS" of a codec time, or "-" for 0.
std::string local_time(uint32_t t);

struct OpInfo {
  const char *name;
  int result_kind;  // cs_kind of the answer record, -1 for a plain result
  const char *params;  // "key:type key:type ..." in wire order
};
const OpInfo *op_find(const std::string &name);
size_t op_count();
const OpInfo &op_at(size_t i);

struct NotifyInfo {
  const char *method;
  cs_kind kind;
};
size_t notify_count();
const NotifyInfo &notify_at(size_t i);

// Up to max names from names close to word (edit distance or prefix).
std::vector<std::string> near_matches(const std::string &word, const std::vector<std::string> &names,
                                      size_t max = 5);

// ---- output ----
// A new JSON output object whose first key is "type".
cJSON *json_line(const char *type);
// Prints obj as one line on stdout, flushes, and deletes it.
void emit(cJSON *obj);
// An error for people (stderr) or as a JSON line (stdout); returns status.
int fail(const Session &s, int status, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
// A codec error answer: its code and text; kCodecError, or kNoConnect when
// the codec could not be reached.
int fail_answer(const Session &s, const char *method, const Answer &a);

// ---- commands.cpp, calls.cpp ----
using Args = std::vector<std::string>;
#define X(name, synopsis, summary, description) int cmd_##name(Session &s, const Args &args);
#include "commands.def"
#undef X
// Helpers of the handlers.
int fail_code(const Session &s, const char *method, int rc);  // a failed operation
int usage(const Session &s, const char *command, const char *what);
bool parse_uint(const std::string &t, unsigned long max, unsigned long *out);
// Splits a command's words from its "--name value" options (only those in
// takes); false with *status set on anything else.
bool split_args(const Session &s, const char *command, const Args &args, const std::vector<std::string> &takes,
                Args *words, std::vector<std::pair<std::string, std::string>> *opts, int *status);
int print_result(const Session &s, const char *method, int rc);
void print_pairs(const std::vector<std::pair<std::string, std::string>> &rows);
std::string join(const std::vector<std::string> &v);
std::vector<std::pair<std::string, std::string>> op_params(const OpInfo &op);
// Runs one command line (args[0] is the command). Exit status.
int run_command(Session &s, const std::vector<std::string> &args);
bool is_command(const std::string &name);
std::vector<std::string> command_names();
void print_help(FILE *f, const std::string &command);  // "" for the overview

// ---- shell.cpp ----
int run_shell(Session &s);

}  // namespace kyrctl
