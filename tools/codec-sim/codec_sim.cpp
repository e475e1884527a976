// The simulator's server: listening socket, one thread per connection,
// the JSON-RPC envelope, the handshake and the request log.
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

#include "sim_framer.h"
#include "sim_internal.h"

namespace codec_sim_internal {
SSL_CTX *tls_server_ctx(const codec_sim_config &cfg);
std::string tls_ctx_fingerprint(SSL_CTX *ctx);
}

using namespace codec_sim_internal;
using clock_type = std::chrono::steady_clock;

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

std::mutex g_print_mu;  // keeps echoed requests whole when connections interleave

struct outbound {
    std::string text;
    size_t keep = std::string::npos;  // send only this many bytes, then close
    bool close_after = false;
};

struct sim_conn {
    int id = 0;
    int fd = -1;
    SSL *ssl = nullptr;
    int wake[2] = {-1, -1};
    std::thread th;

    std::mutex mu;  // guards queue and close_req
    std::map<std::pair<clock_type::time_point, uint64_t>, outbound> queue;
    uint64_t seq = 0;
    bool close_req = false;

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

}  // namespace

struct codec_sim {
    codec_sim_config cfg;
    int lfd = -1;
    int port = 0;
    SSL_CTX *ctx = nullptr;
    int wake[2] = {-1, -1};
    std::thread accept_th;
    std::atomic<bool> stopping{false};
    sim_model *model = nullptr;

    std::mutex mu;  // guards everything below
    std::condition_variable cv;
    std::vector<std::shared_ptr<sim_conn>> conns;
    int next_id = 1;
    int ready_count = 0;
    bool stall = false;
    int delay_ms = 0;
    int version_error = 0;
    bool pairing_required = false;
    std::map<std::string, injected_error> errors;
    codec_sim_answer_fn hook;
    std::set<std::string> paired;
    std::vector<codec_sim_request> log;
};

namespace {

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

// Queues text on a connection at now + delay_ms.
void enqueue(sim_conn &c, outbound o, int delay_ms) {
    auto due = clock_type::now() + std::chrono::milliseconds(delay_ms > 0 ? delay_ms : 0);
    {
        std::lock_guard<std::mutex> lk(c.mu);
        c.queue.emplace(std::make_pair(due, c.seq++), std::move(o));
    }
    wake_fd(c.wake[1]);
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

std::string random_hex(size_t bytes) {
    std::vector<unsigned char> b(bytes);
    if (RAND_bytes(b.data(), static_cast<int>(bytes)) != 1) {
        for (auto &x : b) x = static_cast<unsigned char>(rand());
    }
    static const char hexd[] = "0123456789abcdef";
    std::string s;
    for (unsigned char x : b) {
        s += hexd[x >> 4];
        s += hexd[x & 15];
    }
    return s;
}

// Builds a response around the request's id (copied unchanged, or null when
// the request could not be read). Takes ownership of result and data.
std::string build_response(const cJSON *id, bool is_error, int code, const std::string &message,
                           cJSON *result, cJSON *data) {
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

std::string param_string(const cJSON *params, const char *key) {
    const cJSON *v = cJSON_GetObjectItemCaseSensitive(params, key);
    return cJSON_IsString(v) && v->valuestring ? v->valuestring : "";
}

cJSON *server_info(codec_sim *sim, sim_conn &c) {
    const codec_sim_config &cfg = sim->cfg;
    cJSON *o = cJSON_CreateObject();
    cJSON_AddStringToObject(o, "protoVers", cfg.proto_vers.c_str());
    cJSON_AddStringToObject(o, "srvrDeviceType", cfg.srvr_device_type.c_str());
    cJSON_AddStringToObject(o, "srvrSWVer", cfg.srvr_sw_ver.c_str());
    cJSON_AddStringToObject(o, "minClientSWVer", cfg.min_client_sw_ver.c_str());
    cJSON_AddStringToObject(o, "maxClientSWVer", cfg.max_client_sw_ver.c_str());
    if (cfg.send_challenge) cJSON_AddStringToObject(o, "srvrChallenge", c.challenge.c_str());
    return o;
}

void set_ready(codec_sim *sim, sim_conn &c, bool ready) {
    bool was = c.ready.exchange(ready);
    if (was == ready) return;
    {
        std::lock_guard<std::mutex> lk(sim->mu);
        sim->ready_count += ready ? 1 : -1;
    }
    sim->cv.notify_all();
    if (ready && !sim->cfg.notify_on_ready.empty()) {
        c.ready_push_pending = true;
        c.ready_push_at = clock_type::now() + std::chrono::seconds(1);
    }
}

void push_ready_notifications(codec_sim *sim, sim_conn &c, int delay_ms) {
    if (!c.ready_push_pending) return;
    c.ready_push_pending = false;
    for (const auto &t : sim->cfg.notify_on_ready) enqueue(c, outbound{t}, delay_ms);
}

// The handshake methods. Returns false for any other method.
bool handshake(codec_sim *sim, sim_conn &c, const std::string &method, const cJSON *params,
               model_answer *a) {
    const codec_sim_config &cfg = sim->cfg;
    if (method == "csVersion") {
        // A challenge the client never saw cannot be part of its answer.
        if (!cfg.send_challenge)
            c.challenge.clear();
        else
            c.challenge = cfg.challenge.empty() ? random_hex(12) : cfg.challenge;
        int verr;
        {
            std::lock_guard<std::mutex> lk(sim->mu);
            verr = sim->version_error;
        }
        if (verr < 0) {
            a->is_error = true;
            a->code = verr;
            a->result = server_info(sim, c);  // travels as the error's "data"
        } else {
            a->result = server_info(sim, c);
        }
        return true;
    }
    if (method == "csAuth") {
        std::string id = param_string(params, "id");
        std::string rsp = param_string(params, "authChallengeResponse");
        std::string who = cfg.serial.empty() ? id : cfg.serial;
        bool ok = id == who && rsp == codec_sim_challenge_response(who, c.challenge);
        bool pair_needed;
        {
            std::lock_guard<std::mutex> lk(sim->mu);
            pair_needed = sim->pairing_required && !sim->paired.count(id);
        }
        if (!ok) {
            a->is_error = true;
            a->code = -11;
        } else if (pair_needed) {
            a->is_error = true;
            a->code = -23;
        } else {
            set_ready(sim, c, true);
        }
        return true;
    }
    if (method == "csPair" || method == "csUnpair") {
        std::string id = param_string(params, "id");
        bool ok = param_string(params, "adminName") == cfg.admin_user &&
                  param_string(params, "adminPwd") == cfg.admin_pwd;
        if (!ok) {
            a->is_error = true;
            a->code = -11;
            return true;
        }
        {
            std::lock_guard<std::mutex> lk(sim->mu);
            if (method == "csPair")
                sim->paired.insert(id);
            else
                sim->paired.erase(id);
        }
        set_ready(sim, c, method == "csPair");
        return true;
    }
    if (method == "csLogEnable" || method == "csClientSet") {
        return true;  // the request log keeps what was sent
    }
    return false;
}

void echo_request(const codec_sim_request &r) {
    std::lock_guard<std::mutex> lk(g_print_mu);
    printf("recv[%d] %s\n", r.conn, codec_sim_mask_passwords(r.text).c_str());
    fflush(stdout);
}

void handle_frame(codec_sim *sim, sim_conn &c, const std::string &frame) {
    codec_sim_request r;
    r.conn = c.id;
    r.text = frame;
    cJSON *root = cJSON_ParseWithLength(frame.data(), frame.size());
    const cJSON *params = nullptr;
    const cJSON *id = nullptr;
    if (cJSON_IsObject(root)) {
        const cJSON *m = cJSON_GetObjectItemCaseSensitive(root, "method");
        if (cJSON_IsString(m) && m->valuestring) r.method = m->valuestring;
        params = cJSON_GetObjectItemCaseSensitive(root, "params");
        id = cJSON_GetObjectItemCaseSensitive(root, "id");
        r.params = print_json(params);
        r.id = print_json(id);
    }

    codec_sim_answer_fn hook;
    bool stall;
    int delay;
    bool inject = false;
    injected_error inj;
    {
        std::lock_guard<std::mutex> lk(sim->mu);
        sim->log.push_back(r);
        hook = sim->hook;
        stall = sim->stall;
        delay = sim->delay_ms;
        auto it = sim->errors.find(r.method);
        if (it != sim->errors.end()) {
            inject = true;
            inj = it->second;
            if (it->second.times > 0 && --it->second.times == 0) sim->errors.erase(it);
        }
    }
    sim->cv.notify_all();
    if (sim->cfg.echo_requests) echo_request(r);

    if (hook) {
        std::string reply;
        int h = hook(r, &reply);
        if (h == CODEC_SIM_REPLY) {
            enqueue(c, outbound{reply}, delay);
            cJSON_Delete(root);
            return;
        }
        if (h == CODEC_SIM_SILENT) {
            cJSON_Delete(root);
            return;
        }
    }
    if (stall) {
        cJSON_Delete(root);
        return;
    }
    if (!root || !cJSON_IsObject(root) || r.method.empty()) {
        enqueue(c, outbound{build_response(nullptr, true, -2, "", nullptr, nullptr)}, delay);
        cJSON_Delete(root);
        return;
    }
    if (!id || cJSON_IsNull(id)) {
        // A request without an id expects no answer.
        cJSON_Delete(root);
        return;
    }

    model_answer a;
    if (inject) {
        a.is_error = true;
        a.code = inj.code;
        a.message = inj.message;
    } else if (!handshake(sim, c, r.method, params, &a)) {
        if (!(sim->cfg.model && sim->model && model_handle(sim->model, r.method, params, &a))) {
            a.is_error = true;
            a.code = -1;
        }
    }
    cJSON *data = nullptr;
    if (a.is_error) {
        data = a.result;  // the server information of a version error
        a.result = nullptr;
    }
    enqueue(c, outbound{build_response(id, a.is_error, a.code, a.message, a.result, data)}, delay);
    for (auto &e : a.effects) enqueue_all(sim, outbound{e.text}, delay + e.delay_ms, 0);
    if (r.method != "csAuth" && r.method != "csPair") push_ready_notifications(sim, c, delay);
    cJSON_Delete(root);
}

bool wait_io(sim_conn &c, short events, codec_sim *sim) {
    // Waits up to 100 ms at a time for the socket, giving up when the
    // simulator stops or the connection is to be closed.
    for (;;) {
        if (sim->stopping) return false;
        {
            std::lock_guard<std::mutex> lk(c.mu);
            if (c.close_req) return false;
        }
        pollfd p{c.fd, events, 0};
        int r = poll(&p, 1, 100);
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) return false;
    }
}

// Writes len bytes; false when the connection failed or is being closed.
bool write_all(codec_sim *sim, sim_conn &c, const char *data, size_t len) {
    size_t off = 0;
    while (off < len) {
        if (c.ssl) {
            int n = SSL_write(c.ssl, data + off, static_cast<int>(std::min<size_t>(len - off, 1 << 20)));
            if (n > 0) {
                off += static_cast<size_t>(n);
                continue;
            }
            int e = SSL_get_error(c.ssl, n);
            if (e == SSL_ERROR_WANT_WRITE) {
                if (!wait_io(c, POLLOUT, sim)) return false;
            } else if (e == SSL_ERROR_WANT_READ) {
                if (!wait_io(c, POLLIN, sim)) return false;
            } else {
                return false;
            }
        } else {
            ssize_t n = send(c.fd, data + off, len - off, MSG_NOSIGNAL);
            if (n > 0) {
                off += static_cast<size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!wait_io(c, POLLOUT, sim)) return false;
            } else {
                return false;
            }
        }
    }
    return true;
}

// Reads what is available; false when the peer closed or the read failed.
bool read_some(codec_sim *sim, sim_conn &c) {
    char buf[16384];
    for (;;) {
        if (c.ssl) {
            int n = SSL_read(c.ssl, buf, sizeof buf);
            if (n > 0) {
                framer_feed(c.framer, buf, static_cast<size_t>(n));
                continue;
            }
            int e = SSL_get_error(c.ssl, n);
            if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) return true;
            return false;
        }
        ssize_t n = recv(c.fd, buf, sizeof buf, 0);
        if (n > 0) {
            framer_feed(c.framer, buf, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        (void)sim;
        return false;
    }
}

bool tls_accept(codec_sim *sim, sim_conn &c) {
    c.ssl = SSL_new(sim->ctx);
    if (!c.ssl) return false;
    SSL_set_fd(c.ssl, c.fd);
    for (;;) {
        int r = SSL_accept(c.ssl);
        if (r == 1) return true;
        int e = SSL_get_error(c.ssl, r);
        if (e == SSL_ERROR_WANT_READ) {
            if (!wait_io(c, POLLIN, sim)) return false;
        } else if (e == SSL_ERROR_WANT_WRITE) {
            if (!wait_io(c, POLLOUT, sim)) return false;
        } else {
            ERR_clear_error();
            return false;
        }
    }
}

void conn_main(codec_sim *sim, std::shared_ptr<sim_conn> cp) {
    sim_conn &c = *cp;
    c.framer.max_message = sim->cfg.max_message;
    bool ok = true;
    if (sim->cfg.tls) {
        if (sim->cfg.tls_stall) {
            // Hold the socket open without a word until told to close or
            // the client gives up.
            for (;;) {
                if (sim->stopping) break;
                {
                    std::lock_guard<std::mutex> lk(c.mu);
                    if (c.close_req) break;
                }
                pollfd p[2] = {{c.fd, 0, 0}, {c.wake[0], POLLIN, 0}};
                int r = poll(p, 2, 200);
                if (r < 0 && errno != EINTR) break;
                if (r > 0 && (p[0].revents & (POLLHUP | POLLERR))) break;
                if (r > 0 && (p[1].revents & POLLIN)) drain_fd(c.wake[0]);
            }
            ok = false;
        } else {
            ok = tls_accept(sim, c);
        }
    }
    while (ok && !sim->stopping) {
        auto now = clock_type::now();
        int timeout = 200;
        {
            std::lock_guard<std::mutex> lk(c.mu);
            if (c.close_req) break;
            if (!c.queue.empty()) {
                auto due = c.queue.begin()->first.first;
                auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count();
                timeout = ms <= 0 ? 0 : static_cast<int>(std::min<long long>(ms + 1, timeout));
            }
        }
        if (c.ready_push_pending) {
            auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(c.ready_push_at - now).count();
            if (ms <= 0) push_ready_notifications(sim, c, 0);
            else timeout = std::min<int>(timeout, static_cast<int>(ms + 1));
        }
        if (c.ssl && SSL_pending(c.ssl) > 0) timeout = 0;
        pollfd p[2] = {{c.fd, POLLIN, 0}, {c.wake[0], POLLIN, 0}};
        int r = poll(p, 2, timeout);
        if (r < 0 && errno != EINTR) break;
        if (r > 0 && (p[1].revents & POLLIN)) drain_fd(c.wake[0]);
        if ((r > 0 && (p[0].revents & (POLLIN | POLLHUP | POLLERR))) || (c.ssl && SSL_pending(c.ssl) > 0)) {
            bool alive = read_some(sim, c);
            std::string frame;
            while (framer_next(c.framer, &frame)) handle_frame(sim, c, frame);
            if (c.framer.overflow) {
                fprintf(stderr, "codec-sim: connection %d sent an object over %zu bytes, closing\n", c.id,
                        c.framer.max_message);
                break;
            }
            if (!alive) break;
        }
        // Send whatever is due.
        bool stop = false;
        for (;;) {
            outbound o;
            {
                std::lock_guard<std::mutex> lk(c.mu);
                if (c.close_req || c.queue.empty() || c.queue.begin()->first.first > clock_type::now()) break;
                o = std::move(c.queue.begin()->second);
                c.queue.erase(c.queue.begin());
            }
            size_t n = std::min(o.keep, o.text.size());
            if (!write_all(sim, c, o.text.data(), n) || o.keep != std::string::npos || o.close_after) {
                stop = true;
                break;
            }
        }
        if (stop) break;
    }
    if (c.ready) set_ready(sim, c, false);
    if (c.ssl) {
        SSL_free(c.ssl);
        c.ssl = nullptr;
    }
    shutdown(c.fd, SHUT_RDWR);
    close(c.fd);
    c.fd = -1;
    c.done = true;
    sim->cv.notify_all();
}

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

void accept_main(codec_sim *sim) {
    while (!sim->stopping) {
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
    sim->lfd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sim->lfd < 0) return fail();
    int one = 1;
    setsockopt(sim->lfd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(cfg.port));
    if (inet_pton(AF_INET, cfg.bind_addr.c_str(), &a.sin_addr) != 1) return fail();
    if (bind(sim->lfd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) return fail();
    if (listen(sim->lfd, 64) != 0) return fail();
    socklen_t len = sizeof a;
    if (getsockname(sim->lfd, reinterpret_cast<sockaddr *>(&a), &len) != 0) return fail();
    sim->port = ntohs(a.sin_port);
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
    close(sim->lfd);
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
    return enqueue_all(sim, outbound{text}, 0, conn);
}

int codec_sim_notify(codec_sim *sim, const std::string &method, uint32_t flags, int conn, uint32_t handle) {
    std::string t = model_notification(sim->model, method, flags, handle);
    if (t.empty()) return -1;
    return enqueue_all(sim, outbound{t}, 0, conn);
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
    for (auto &e : a.effects) n = enqueue_all(sim, outbound{e.text}, e.delay_ms, 0);
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
