// The simulator's server: the listening socket and its restarts, the
// connection table, the request log and the public API. Connections live in
// sim_conn.cpp, network faults in sim_faults.cpp.
#include "codec_sim.h"

#include <arpa/inet.h>
#include <cjson/cJSON.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "sim_server.h"

namespace codec_sim_internal {
SSL_CTX *tls_server_ctx(const codec_sim_config &cfg);
std::string tls_ctx_fingerprint(SSL_CTX *ctx);
}

using namespace codec_sim_internal;

namespace {

// ---- error texts, one list ----
#define CODEC_SIM_ERRORS(X)                        \
    X(0, "No error")                               \
    X(-1, "Unknown function")                      \
    X(-2, "Bad message")                           \
    X(-3, "Unsupported function")                  \
    X(-4, "Not found")                             \
    X(-5, "Full")                                  \
    X(-6, "Timeout")                               \
    X(-7, "EOF")                                   \
    X(-8, "Bad address")                           \
    X(-9, "Out of range")                          \
    X(-10, "Bad parameter")                        \
    X(-11, "Not authorized")                       \
    X(-12, "Out of resources")                     \
    X(-13, "In use")                               \
    X(-14, "Wrong version")                        \
    X(-15, "Not initialized")                      \
    X(-16, "Unknown")                              \
    X(-17, "Duplicate")                            \
    X(-18, "No Connection")                        \
    X(-19, "Invalid")                              \
    X(-20, "Pending")                              \
    X(-21, "Unsupported Resolution")               \
    X(-22, "Login required")                       \
    X(-23, "Pairing required")                     \
    X(-24, "I/O error")                            \
    X(-25, "Not configured")                       \
    X(-26, "Protocol error")                       \
    X(-27, "Operation error")                      \
    X(-28, "Busy")                                 \
    X(-29, "Wrong client version")                 \
    X(-30, "Wrong server version")                 \
    X(-31, "Too many attempts")

}  // namespace

namespace codec_sim_internal {

void wake_fd(int fd) {
    if (fd < 0) return;
    char b = 1;
    ssize_t r = write(fd, &b, 1);
    (void)r;  // a full pipe already means "wake up"
}

void drain_fd(int fd) {
    char buf[64];
    while (read(fd, buf, sizeof buf) > 0) {
    }
}

bool make_pipe(int p[2]) {
    if (pipe(p) != 0) return false;
    for (int i = 0; i < 2; i++) {
        fcntl(p[i], F_SETFL, fcntl(p[i], F_GETFL) | O_NONBLOCK);
        fcntl(p[i], F_SETFD, FD_CLOEXEC);
    }
    return true;
}

void close_pipe(int p[2]) {
    for (int i = 0; i < 2; i++) {
        if (p[i] >= 0) close(p[i]);
        p[i] = -1;
    }
}

std::vector<std::shared_ptr<sim_conn>> open_conns(codec_sim *sim, int conn) {
    std::vector<std::shared_ptr<sim_conn>> out;
    std::lock_guard<std::mutex> lk(sim->mu);
    for (auto &c : sim->conns) {
        if (c->done) continue;
        if (conn != 0 && c->id != conn) continue;
        out.push_back(c);
    }
    return out;
}

int enqueue_all(codec_sim *sim, const outbound &o, int delay_ms, int conn) {
    auto list = open_conns(sim, conn);
    for (auto &c : list) enqueue(*c, o, delay_ms);
    return static_cast<int>(list.size());
}

std::string print_json(const cJSON *item) {
    if (!item) return "";
    char *s = cJSON_PrintUnformatted(item);
    std::string out = s ? s : "";
    cJSON_free(s);
    return out;
}

std::string build_response(const cJSON *id, bool is_error, int code, const std::string &message, cJSON *result,
                           cJSON *data) {
    cJSON *root = cJSON_CreateObject();
    if (is_error) {
        cJSON *err = cJSON_AddObjectToObject(root, "error");
        cJSON_AddNumberToObject(err, "code", code);
        cJSON_AddStringToObject(err, "message", message.empty() ? error_text(code) : message.c_str());
        if (data) cJSON_AddItemToObject(err, "data", data);
        cJSON_Delete(result);
    } else {
        cJSON_AddItemToObject(root, "result", result ? result : cJSON_CreateNumber(code));
        cJSON_Delete(data);
    }
    cJSON_AddItemToObject(root, "id", id ? cJSON_Duplicate(id, 1) : cJSON_CreateNull());
    cJSON_AddStringToObject(root, "jsonrpc", "2.0");
    std::string s = print_json(root);
    cJSON_Delete(root);
    return s;
}

}  // namespace codec_sim_internal

namespace {

void reap(codec_sim *sim, bool all) {
    std::vector<std::shared_ptr<sim_conn>> gone;
    {
        std::lock_guard<std::mutex> lk(sim->mu);
        for (auto it = sim->conns.begin(); it != sim->conns.end();) {
            if (all || (*it)->done) {
                gone.push_back(*it);
                it = sim->conns.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto &c : gone) {
        if (c->th.joinable()) c->th.join();
        close_pipe(c->wake);
    }
}

// Opens the listening socket on the configured address (IPv4 or IPv6) and
// port; port 0 picks a free one. -1 on failure.
int open_listener(const std::string &addr, int port, int *bound_port) {
    sockaddr_storage ss{};
    socklen_t len;
    auto *a4 = reinterpret_cast<sockaddr_in *>(&ss);
    auto *a6 = reinterpret_cast<sockaddr_in6 *>(&ss);
    if (inet_pton(AF_INET, addr.c_str(), &a4->sin_addr) == 1) {
        a4->sin_family = AF_INET;
        a4->sin_port = htons(static_cast<uint16_t>(port));
        len = sizeof *a4;
    } else if (inet_pton(AF_INET6, addr.c_str(), &a6->sin6_addr) == 1) {
        a6->sin6_family = AF_INET6;
        a6->sin6_port = htons(static_cast<uint16_t>(port));
        len = sizeof *a6;
    } else {
        return -1;
    }
    int fd = socket(ss.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, reinterpret_cast<sockaddr *>(&ss), len) != 0 || listen(fd, 64) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&ss), &len) != 0) {
        close(fd);
        return -1;
    }
    *bound_port = ntohs(ss.ss_family == AF_INET ? a4->sin_port : a6->sin6_port);
    return fd;
}

// A codec that reboots: the listener and every connection close, and after
// the pause the listener opens again on the same port (retrying while the
// port is still held).
void restart_listener(codec_sim *sim, int pause_ms) {
    close(sim->lfd);
    sim->lfd = -1;
    for (auto &c : open_conns(sim, 0)) {
        {
            std::lock_guard<std::mutex> lk(c->mu);
            c->close_req = true;
        }
        wake_fd(c->wake[1]);
    }
    auto until = clock_type::now() + std::chrono::milliseconds(pause_ms);
    while (!sim->stopping) {
        if (clock_type::now() >= until) {
            int port = 0;
            sim->lfd = open_listener(sim->cfg.bind_addr, sim->port, &port);
            if (sim->lfd >= 0) break;
        }
        reap(sim, false);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    {
        std::lock_guard<std::mutex> lk(sim->mu);
        sim->restarts++;
    }
    sim->cv.notify_all();
}

void accept_main(codec_sim *sim) {
    while (!sim->stopping) {
        int pause_ms;
        {
            std::lock_guard<std::mutex> lk(sim->mu);
            pause_ms = sim->restart_pause_ms;
            sim->restart_pause_ms = -1;
        }
        if (pause_ms >= 0) restart_listener(sim, pause_ms);
        if (sim->lfd < 0) break;
        pollfd p[2] = {{sim->lfd, POLLIN, 0}, {sim->wake[0], POLLIN, 0}};
        int r = poll(p, 2, 200);
        reap(sim, false);
        if (r <= 0) continue;
        if (p[1].revents & POLLIN) drain_fd(sim->wake[0]);
        if (!(p[0].revents & POLLIN)) continue;
        int fd = accept(sim->lfd, nullptr, nullptr);
        if (fd < 0) continue;
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto c = std::make_shared<sim_conn>();
        c->fd = fd;
        if (!make_pipe(c->wake)) {
            close(fd);
            continue;
        }
        {
            std::lock_guard<std::mutex> lk(sim->mu);
            c->id = sim->next_id++;
            net_take_for_new_conn(sim, *c);
            sim->conns.push_back(c);
        }
        c->th = std::thread(conn_main, sim, c);
        sim->cv.notify_all();
    }
}

}  // namespace

namespace codec_sim_internal {
const char *error_text(int code) {
    switch (code) {
#define X(c, t) \
    case c:     \
        return t;
        CODEC_SIM_ERRORS(X)
#undef X
    default:
        return "Unknown error";
    }
}
}  // namespace codec_sim_internal

// ---------------------------------------------------------------------------

codec_sim *codec_sim_start(const codec_sim_config &cfg) {
    auto sim = std::make_unique<codec_sim>();
    sim->cfg = cfg;
    sim->stall = cfg.stall;
    sim->delay_ms = cfg.answer_delay_ms;
    sim->version_error = cfg.version_error;
    sim->pairing_required = cfg.pairing_required;
    if (cfg.tls) {
        sim->ctx = tls_server_ctx(cfg);
        if (!sim->ctx) return nullptr;
    }
    auto fail = [&]() -> codec_sim * {
        if (sim->lfd >= 0) close(sim->lfd);
        close_pipe(sim->wake);
        if (sim->ctx) SSL_CTX_free(sim->ctx);
        return nullptr;
    };
    sim->lfd = open_listener(cfg.bind_addr, cfg.port, &sim->port);
    if (sim->lfd < 0) return fail();
    for (const auto &f : cfg.faults) {
        std::string why;
        if (codec_sim_fault_command(sim.get(), f, &why) < 0) {
            fprintf(stderr, "codec-sim: %s\n", why.c_str());
            return fail();
        }
    }
    if (!make_pipe(sim->wake)) return fail();
    model_options mo;
    mo.dial_step_ms = cfg.dial_step_ms;
    sim->model = model_new(mo);
    codec_sim *s = sim.release();
    s->accept_th = std::thread(accept_main, s);
    return s;
}

void codec_sim_stop(codec_sim *sim) {
    if (!sim) return;
    sim->stopping = true;
    wake_fd(sim->wake[1]);
    if (sim->accept_th.joinable()) sim->accept_th.join();
    for (auto &c : open_conns(sim, 0)) wake_fd(c->wake[1]);
    reap(sim, true);
    if (sim->lfd >= 0) close(sim->lfd);
    close_pipe(sim->wake);
    if (sim->ctx) SSL_CTX_free(sim->ctx);
    model_free(sim->model);
    delete sim;
}

int codec_sim_port(const codec_sim *sim) { return sim ? sim->port : 0; }

std::string codec_sim_fingerprint(const codec_sim *sim) { return sim ? tls_ctx_fingerprint(sim->ctx) : ""; }

int codec_sim_connection_count(codec_sim *sim) { return static_cast<int>(open_conns(sim, 0).size()); }

std::vector<int> codec_sim_connection_ids(codec_sim *sim) {
    std::vector<int> ids;
    for (auto &c : open_conns(sim, 0)) ids.push_back(c->id);
    return ids;
}

bool codec_sim_wait_connections(codec_sim *sim, int n, int timeout_ms) {
    std::unique_lock<std::mutex> lk(sim->mu);
    return sim->cv.wait_for(lk, std::chrono::milliseconds(timeout_ms), [&] {
        int open = 0;
        for (auto &c : sim->conns) open += c->done ? 0 : 1;
        return open >= n;
    });
}

bool codec_sim_wait_ready(codec_sim *sim, int n, int timeout_ms) {
    std::unique_lock<std::mutex> lk(sim->mu);
    return sim->cv.wait_for(lk, std::chrono::milliseconds(timeout_ms), [&] { return sim->ready_count >= n; });
}

int codec_sim_close_connections(codec_sim *sim, int conn) {
    auto list = open_conns(sim, conn);
    for (auto &c : list) {
        {
            std::lock_guard<std::mutex> lk(c->mu);
            c->close_req = true;
        }
        wake_fd(c->wake[1]);
    }
    return static_cast<int>(list.size());
}

void codec_sim_forget_pairings(codec_sim *sim) {
    std::lock_guard<std::mutex> lk(sim->mu);
    sim->paired.clear();
}

int codec_sim_push(codec_sim *sim, const std::string &text, int conn) {
    return enqueue_all(sim, notification_out(text), 0, conn);
}

int codec_sim_notify(codec_sim *sim, const std::string &method, uint32_t flags, int conn, uint32_t handle) {
    std::string t = model_notification(sim->model, method, flags, handle);
    if (t.empty()) return -1;
    return enqueue_all(sim, notification_out(t), 0, conn);
}

std::vector<std::string> codec_sim_notification_methods() { return model_notification_methods(); }

void codec_sim_set_stall(codec_sim *sim, bool stall) {
    std::lock_guard<std::mutex> lk(sim->mu);
    sim->stall = stall;
}

void codec_sim_set_answer_delay(codec_sim *sim, int ms) {
    std::lock_guard<std::mutex> lk(sim->mu);
    sim->delay_ms = ms;
}

void codec_sim_inject_error(codec_sim *sim, const std::string &method, int code, const std::string &message,
                            int times) {
    std::lock_guard<std::mutex> lk(sim->mu);
    if (times == 0) {
        sim->errors.erase(method);
        return;
    }
    sim->errors[method] = injected_error{code, message, times};
}

void codec_sim_clear_errors(codec_sim *sim) {
    std::lock_guard<std::mutex> lk(sim->mu);
    sim->errors.clear();
}

void codec_sim_set_version_error(codec_sim *sim, int code) {
    std::lock_guard<std::mutex> lk(sim->mu);
    sim->version_error = code;
}

void codec_sim_set_pairing_required(codec_sim *sim, bool required) {
    std::lock_guard<std::mutex> lk(sim->mu);
    sim->pairing_required = required;
}

void codec_sim_set_answer_hook(codec_sim *sim, codec_sim_answer_fn fn) {
    std::lock_guard<std::mutex> lk(sim->mu);
    sim->hook = std::move(fn);
}

std::string codec_sim_result_text(const codec_sim_request &req, const std::string &result_json) {
    cJSON *id = req.id.empty() ? nullptr : cJSON_Parse(req.id.c_str());
    cJSON *result = cJSON_Parse(result_json.c_str());
    std::string s = build_response(id, false, 0, "", result ? result : cJSON_CreateNull(), nullptr);
    cJSON_Delete(id);
    return s;
}

std::string codec_sim_error_text(const codec_sim_request &req, int code, const std::string &message,
                                 const std::string &data_json) {
    cJSON *id = req.id.empty() ? nullptr : cJSON_Parse(req.id.c_str());
    cJSON *data = data_json.empty() ? nullptr : cJSON_Parse(data_json.c_str());
    std::string s = build_response(id, true, code, message, nullptr, data);
    cJSON_Delete(id);
    return s;
}

std::vector<codec_sim_request> codec_sim_requests(codec_sim *sim) {
    std::lock_guard<std::mutex> lk(sim->mu);
    return sim->log;
}

size_t codec_sim_request_count(codec_sim *sim) {
    std::lock_guard<std::mutex> lk(sim->mu);
    return sim->log.size();
}

void codec_sim_clear_requests(codec_sim *sim) {
    std::lock_guard<std::mutex> lk(sim->mu);
    sim->log.clear();
}

bool codec_sim_wait_request(codec_sim *sim, const std::string &method, int timeout_ms, codec_sim_request *out,
                            size_t from, size_t *index) {
    std::unique_lock<std::mutex> lk(sim->mu);
    size_t found = 0;
    bool ok = sim->cv.wait_for(lk, std::chrono::milliseconds(timeout_ms), [&] {
        for (size_t i = from; i < sim->log.size(); i++) {
            if (method.empty() || sim->log[i].method == method) {
                found = i;
                return true;
            }
        }
        return false;
    });
    if (ok) {
        if (out) *out = sim->log[found];
        if (index) *index = found;
    }
    return ok;
}

std::string codec_sim_record(codec_sim *sim, const std::string &kind, uint32_t handle) {
    return model_record_text(sim->model, kind, handle);
}

std::vector<uint32_t> codec_sim_record_handles(codec_sim *sim, const std::string &kind) {
    return model_record_handles(sim->model, kind);
}

uint32_t codec_sim_record_merge(codec_sim *sim, const std::string &kind, uint32_t handle,
                                const std::string &json_object) {
    return model_record_merge(sim->model, kind, handle, json_object);
}

int codec_sim_incoming_call(codec_sim *sim, const std::string &address) {
    model_answer a;
    model_incoming_call(sim->model, address, &a);
    int n = 0;
    for (auto &e : a.effects) n = enqueue_all(sim, notification_out(e.text), e.delay_ms, 0);
    return n;
}

int codec_sim_send_raw(codec_sim *sim, const std::string &bytes, int conn) {
    return enqueue_all(sim, outbound{bytes}, 0, conn);
}

int codec_sim_send_and_cut(codec_sim *sim, const std::string &text, size_t keep, int conn) {
    outbound o{text};
    o.keep = std::min(keep, text.size());
    return enqueue_all(sim, o, 0, conn);
}

int codec_sim_flood(codec_sim *sim, const std::string &text, int count, int per_second, int conn) {
    auto list = open_conns(sim, conn);
    for (auto &c : list) {
        auto now = clock_type::now();
        {
            std::lock_guard<std::mutex> lk(c->mu);
            for (int i = 0; i < count; i++) {
                auto due = per_second > 0 ? now + std::chrono::microseconds(1000000LL * i / per_second) : now;
                c->queue.emplace(std::make_pair(due, c->seq++), outbound{text});
            }
        }
        wake_fd(c->wake[1]);
    }
    return static_cast<int>(list.size());
}

std::string codec_sim_challenge_response(const std::string &id, const std::string &challenge) {
    std::string text = id.substr(0, 32) + challenge.substr(0, 95);
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (EVP_Digest(text.data(), text.size(), md, &n, EVP_sha1(), nullptr) != 1) return "";
    static const char hexd[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < n; i++) {
        out += hexd[md[i] >> 4];
        out += hexd[md[i] & 15];
    }
    return out;
}

const char *codec_sim_error_string(int code) { return error_text(code); }