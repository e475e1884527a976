// The simulator's server state shared by its parts: the listener and the
// public API (codec_sim.cpp), the connection threads (sim_conn.cpp) and the
// network faults (sim_faults.cpp).
#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "codec_sim.h"
#include "sim_framer.h"
#include "sim_internal.h"

struct cJSON;

namespace codec_sim_internal {

using clock_type = std::chrono::steady_clock;

struct outbound {
    std::string text;
    size_t keep = std::string::npos;  // send only this many bytes, then close
    bool close_after = false;
    bool answer = false;              // an answer to a request (stall-answers holds it back)
    bool notification = false;        // a pushed notification (drop-notifications may lose it)
};

inline outbound notification_out(std::string text) {
    outbound o{std::move(text)};
    o.notification = true;
    return o;
}

// Network conditions of a connection. The lasting ones are copied from the
// simulator's set when the connection is accepted.
struct net_conditions {
    bool blackhole = false;
    int stall_answers_ms = 0;
    int delay_ms = 0;
    int jitter_ms = 0;
    int drop_percent = 0;
    int random_rst_mean_s = 0;
    // One-shot, for a connection only.
    bool rst = false;                 // reset as soon as the connection thread sees it
    bool cut_next = false;            // send half of the next message, then close
};

struct sim_conn {
    int id = 0;
    int fd = -1;
    SSL *ssl = nullptr;
    int wake[2] = {-1, -1};
    std::thread th;

    std::mutex mu;  // guards queue, close_req, net and last_due
    std::map<std::pair<clock_type::time_point, uint64_t>, outbound> queue;
    uint64_t seq = 0;
    bool close_req = false;
    net_conditions net;
    clock_type::time_point last_due{};        // keeps delayed messages in order, as TCP would
    clock_type::time_point rst_at = clock_type::time_point::max();

    std::atomic<bool> done{false};
    std::atomic<bool> ready{false};

    // Connection-thread state.
    sim_framer framer;
    std::string challenge;
    bool ready_push_pending = false;
    clock_type::time_point ready_push_at;
};

struct injected_error {
    int code = 0;
    std::string message;
    int times = -1;
};

}  // namespace codec_sim_internal

struct codec_sim {
    codec_sim_config cfg;
    int lfd = -1;
    int port = 0;
    SSL_CTX *ctx = nullptr;
    int wake[2] = {-1, -1};
    std::thread accept_th;
    std::atomic<bool> stopping{false};
    codec_sim_internal::sim_model *model = nullptr;

    std::mutex mu;  // guards everything below
    std::condition_variable cv;
    std::vector<std::shared_ptr<codec_sim_internal::sim_conn>> conns;
    int next_id = 1;
    int ready_count = 0;
    bool stall = false;
    int delay_ms = 0;
    int version_error = 0;
    bool pairing_required = false;
    std::map<std::string, codec_sim_internal::injected_error> errors;
    codec_sim_answer_fn hook;
    std::set<std::string> paired;
    std::vector<codec_sim_request> log;

    // Network faults: the lasting conditions of every new connection, the
    // faults waiting for the next one, and a pending restart.
    codec_sim_internal::net_conditions net_every;
    codec_sim_internal::net_conditions net_next;
    bool net_next_armed = false;
    int restart_pause_ms = -1;        // >= 0: the accept thread restarts the listener
    int restarts = 0;
};

namespace codec_sim_internal {

void wake_fd(int fd);
void drain_fd(int fd);
bool make_pipe(int p[2]);
void close_pipe(int p[2]);

// Queues a message on a connection at now + delay_ms, under the connection's
// network conditions (delay and jitter, stalled answers, lost notifications).
void enqueue(sim_conn &c, outbound o, int delay_ms);
std::vector<std::shared_ptr<sim_conn>> open_conns(codec_sim *sim, int conn);
int enqueue_all(codec_sim *sim, const outbound &o, int delay_ms, int conn);

std::string print_json(const cJSON *item);
// Builds a response around the request's id (copied unchanged, or null when
// the request could not be read). Takes ownership of result and data.
std::string build_response(const cJSON *id, bool is_error, int code, const std::string &message, cJSON *result,
                           cJSON *data);

// The thread of one accepted connection (sim_conn.cpp).
void conn_main(codec_sim *sim, std::shared_ptr<sim_conn> cp);

// Network faults (sim_faults.cpp).
// The conditions a newly accepted connection starts with (consumes the
// faults armed for the next connection).
void net_take_for_new_conn(codec_sim *sim, sim_conn &c);
// When a connection with a random reset is due to be reset.
clock_type::time_point net_random_rst_time(int mean_s);
// A uniformly drawn integer in [lo, hi].
int net_random(int lo, int hi);

}  // namespace codec_sim_internal
