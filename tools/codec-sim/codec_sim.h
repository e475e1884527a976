// codec-sim: an in-process stand-in for the video codec, for tests and demos.
//
// It listens on loopback (plain TCP, or TLS 1.0, 1.2 or 1.3 with a given
// certificate or one made at start), frames JSON-RPC objects with its own string-aware framer, answers
// the handshake ("csVersion", "csAuth", "csPair", "csUnpair", "csLogEnable",
// "csClientSet"), answers the operation family from an in-memory codec model,
// and pushes notifications on command. Every request it receives is logged
// and can be waited for.
//
// Threads: one accept thread per simulator and one thread per connection.
// All socket and TLS work of a connection happens on that connection's
// thread; the functions below may be called from any thread and only queue
// work for it. The answer hook runs on the connection thread that received
// the request, without any simulator lock held.
//
// The simulator does not use any code of libkyrconnect: its framing, JSON
// and handshake logic are its own, so a fault in the library cannot hide
// behind the same fault in its peer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct codec_sim;

struct codec_sim_config {
    bool tls = false;
    std::string tls_version = "1.0";      // the one protocol version spoken: "1.0", "1.2" or "1.3"
    // PEM certificate and private key; both empty: a self-signed certificate
    // over a key made once per process.
    std::string cert_file;
    std::string key_file;
    std::string bind_addr = "127.0.0.1";  // an IPv4 or IPv6 address ("::1")
    int port = 0;                         // 0: any free port (see codec_sim_port)

    // Authentication. An empty serial accepts any client id and checks the
    // challenge response against the id the client sent.
    std::string serial;
    std::string admin_user = "admin";
    std::string admin_pwd;
    bool pairing_required = false;

    // "csVersion": 0 answers the server information; a negative code answers
    // that error with the server information in "data" (-29, -30, ...).
    int version_error = 0;
    bool send_challenge = true;           // false: leave "srvrChallenge" out
    std::string challenge;                // fixed challenge; empty: fresh random one per connection
    std::string proto_vers = "CSAPI/1.0";
    std::string srvr_device_type = "codec-sim";
    std::string srvr_sw_ver = "6.2.0";
    std::string min_client_sw_ver = "1.0.0";
    std::string max_client_sw_ver = "99.0.0";

    bool stall = false;                   // accept, read and log, never answer
    bool tls_stall = false;               // accept the TCP connection, never do the TLS handshake
    int answer_delay_ms = 0;              // every answer waits this long
    bool echo_requests = false;           // print every request to stdout (the command line does)
    bool model = true;                    // answer the operation family from the codec model

    // Notifications pushed to a connection once it is ready (authenticated
    // or paired and its first request after that arrived, or one second
    // after it became ready, whichever comes first).
    std::vector<std::string> notify_on_ready;

    // Step times of a dialled call (Dialing -> Alerting -> Active).
    int dial_step_ms = 50;

    size_t max_message = 8u << 20;        // an incoming object larger than this closes the connection

    // Network faults in effect from the start, as fault commands (see
    // codec_sim_fault_command), e.g. "delay 200 100" or "next blackhole".
    std::vector<std::string> faults;
};

// One request as it arrived.
struct codec_sim_request {
    int conn = 0;            // connection id (1, 2, ... in accept order)
    std::string method;      // "" when the text was not a JSON object with a "method"
    std::string text;        // the object exactly as framed
    std::string params;      // "params" printed unformatted ("" when absent)
    std::string id;          // "id" printed unformatted ("" when absent)
};

// Starts listening and serving; null when the socket or TLS set-up fails.
codec_sim *codec_sim_start(const codec_sim_config &cfg);
// Closes every connection, joins every thread and frees the simulator.
void codec_sim_stop(codec_sim *sim);
int codec_sim_port(const codec_sim *sim);
// SHA-256 of the TLS certificate's SubjectPublicKeyInfo as 64 lowercase hex
// digits; "" without TLS.
std::string codec_sim_fingerprint(const codec_sim *sim);

// ---- connections ----
int codec_sim_connection_count(codec_sim *sim);       // open connections
std::vector<int> codec_sim_connection_ids(codec_sim *sim);
// Waits until at least n connections are open (true) or the time passed.
bool codec_sim_wait_connections(codec_sim *sim, int n, int timeout_ms);
// Waits until at least n connections have authenticated or paired.
bool codec_sim_wait_ready(codec_sim *sim, int n, int timeout_ms);
// Closes every connection (conn 0) or one; returns how many were closed.
int codec_sim_close_connections(codec_sim *sim, int conn = 0);
// Client ids that paired and are remembered across connections.
void codec_sim_forget_pairings(codec_sim *sim);

// ---- pushing ----
// Queues text (normally one JSON object) to every open connection (conn 0)
// or to one; returns the number of connections it was queued to.
int codec_sim_push(codec_sim *sim, const std::string &text, int conn = 0);
// Pushes one of the 55 notifications with the model's record of its kind
// (first record of the kind unless handle is given) and the flags.
// Returns the number of connections, or -1 for an unknown method.
int codec_sim_notify(codec_sim *sim, const std::string &method, uint32_t flags,
                     int conn = 0, uint32_t handle = 0);
// Names of the 55 notification methods.
std::vector<std::string> codec_sim_notification_methods();

// ---- answering ----
void codec_sim_set_stall(codec_sim *sim, bool stall);
void codec_sim_set_answer_delay(codec_sim *sim, int ms);
// Answers method with error code (and message; empty: the code's usual text).
// times < 0: for ever; otherwise the next `times` requests of that method.
void codec_sim_inject_error(codec_sim *sim, const std::string &method, int code,
                            const std::string &message = "", int times = -1);
void codec_sim_clear_errors(codec_sim *sim);
void codec_sim_set_version_error(codec_sim *sim, int code);
void codec_sim_set_pairing_required(codec_sim *sim, bool required);

// Custom answers. The hook sees every request first. Return:
//   CODEC_SIM_DEFAULT  let the simulator answer as usual;
//   CODEC_SIM_REPLY    send *reply as it stands (raw text; may be anything);
//   CODEC_SIM_SILENT   send nothing.
enum codec_sim_hook_result { CODEC_SIM_DEFAULT = 0, CODEC_SIM_REPLY = 1, CODEC_SIM_SILENT = 2 };
typedef std::function<int(const codec_sim_request &req, std::string *reply)> codec_sim_answer_fn;
void codec_sim_set_answer_hook(codec_sim *sim, codec_sim_answer_fn fn);  // empty fn removes it

// Answer texts for hooks: {"result":<result_json>,"id":<id>,"jsonrpc":"2.0"}
// and {"error":{"code":..,"message":..[,"data":<data_json>]},"id":<id>,"jsonrpc":"2.0"}.
std::string codec_sim_result_text(const codec_sim_request &req, const std::string &result_json);
std::string codec_sim_error_text(const codec_sim_request &req, int code,
                                 const std::string &message = "",
                                 const std::string &data_json = "");

// ---- the request log ----
std::vector<codec_sim_request> codec_sim_requests(codec_sim *sim);
size_t codec_sim_request_count(codec_sim *sim);
void codec_sim_clear_requests(codec_sim *sim);
// Waits for a request of that method (any method when empty) at log
// position `from` or later; true and *out filled (when out is not null) if one
// arrived in time. *index (when not null) receives its log position.
bool codec_sim_wait_request(codec_sim *sim, const std::string &method, int timeout_ms,
                            codec_sim_request *out = nullptr, size_t from = 0,
                            size_t *index = nullptr);

// ---- the codec model ----
// Records are JSON objects keyed by kind (the record name without "CS",
// e.g. "Term", "Audio", "DirEnt") and handle.
// The record as JSON text, "" when there is none.
std::string codec_sim_record(codec_sim *sim, const std::string &kind, uint32_t handle = 0);
// Handles of every record of the kind, in creation order.
std::vector<uint32_t> codec_sim_record_handles(codec_sim *sim, const std::string &kind);
// Merges the members of json_object into the record of that kind and handle;
// when handle is 0 or names no record of the kind, a new record is made
// (under the record named by a "parentHandle" member, else at top level).
// Returns the record's handle, 0 for an unknown kind. Pushes nothing.
uint32_t codec_sim_record_merge(codec_sim *sim, const std::string &kind, uint32_t handle,
                                const std::string &json_object);

// A call arrives: a pending terminal in state 4 (Incoming) is added and its
// terminal and communication notifications are pushed to every connection.
// Returns the number of connections.
int codec_sim_incoming_call(codec_sim *sim, const std::string &address);

// ---- hostile codec behaviour (for robustness tests) ----
// Raw bytes to one connection or all, not framed or checked in any way.
int codec_sim_send_raw(codec_sim *sim, const std::string &bytes, int conn = 0);
// Sends the first `keep` bytes of text and then closes the connection.
int codec_sim_send_and_cut(codec_sim *sim, const std::string &text, size_t keep, int conn = 0);
// Pushes `count` copies of text at `per_second` (0: as fast as possible) to
// every connection; returns at once, the connection threads pace it.
int codec_sim_flood(codec_sim *sim, const std::string &text, int count, int per_second, int conn = 0);

// ---- network faults ----
// Without next_only a fault hits every open connection, and the lasting
// ones (blackhole, stall-answers, delay, drop-notifications, random-rst)
// every later connection as well, until codec_sim_clear_faults. With
// next_only it waits for the next connection accepted and applies to it
// alone, from its first byte.
enum codec_sim_fault_kind {
    CODEC_SIM_BLACKHOLE,           // keep the socket open, stop reading and writing
    CODEC_SIM_RST,                 // close with a reset (no FIN)
    CODEC_SIM_CUT_MID_FRAME,       // send half of the next message, then close
    CODEC_SIM_STALL_ANSWERS,       // answer requests a seconds late (notifications flow)
    CODEC_SIM_DELAY,               // every message sent a ms late, +- b ms of jitter, order kept
    CODEC_SIM_DROP_NOTIFICATIONS,  // lose a % of the notifications
    CODEC_SIM_RANDOM_RST,          // reset a connection after a random time, a seconds on average
    CODEC_SIM_RESTART,             // close the listener and every connection, reopen the same
                                   // port after a ms (next_only does not apply)
};
// Returns the number of open connections it hit (0 for next_only), -1 for
// an argument out of range.
int codec_sim_fault(codec_sim *sim, codec_sim_fault_kind kind, int a = 0, int b = 0, bool next_only = false);
void codec_sim_clear_faults(codec_sim *sim);
// Restarts completed so far (the listener is open again).
int codec_sim_restarts(codec_sim *sim);
// The text form every front end accepts:
//   [next] blackhole | rst | cut-mid-frame | stall-answers S | delay MS [JITTER_MS]
//        | drop-notifications PERCENT | random-rst MEAN_S
//   restart [PAUSE_MS]      (default pause 2000 ms)
//   net PRESET              the commands of a preset
//   clear                   every fault ends
// Returns as codec_sim_fault (0 for clear and net) and a one-line *reply;
// -1 for text it does not understand.
int codec_sim_fault_command(codec_sim *sim, const std::string &line, std::string *reply);
// The fault commands of a preset: "flaky-wifi" (200 ms latency with 50 %
// jitter, a reset about once a minute), "barely-working" (1 s latency with
// 80 % jitter, a fifth of the notifications lost, a reset about every 20 s).
// Empty for an unknown name.
std::vector<std::string> codec_sim_net_preset(const std::string &name);

// ---- helpers ----
// 40 lowercase hex digits of SHA-1 over id (first 32 characters) followed
// by challenge (first 95 characters).
std::string codec_sim_challenge_response(const std::string &id, const std::string &challenge);
const char *codec_sim_error_string(int code);
// A copy of a message's text with the value of every string member whose
// name contains "pwd" or "pass" (any letter case) emptied, at any depth; the
// request echo prints this. Bytes that are not JSON pass through unchanged.
std::string codec_sim_mask_passwords(const std::string &text);
