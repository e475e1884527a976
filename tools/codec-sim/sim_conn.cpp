// A connection of the simulator: its thread, socket and TLS work, the
// JSON-RPC envelope, the handshake, and the network conditions that hold
// its messages back, lose them or end the connection.
#include <cjson/cJSON.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/rand.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sim_server.h"

namespace codec_sim_internal {

namespace {

outbound answer_out(std::string text) {
    outbound o{std::move(text)};
    o.answer = true;
    return o;
}

std::mutex g_print_mu;  // keeps echoed requests whole when connections interleave

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
    for (const auto &t : sim->cfg.notify_on_ready) enqueue(c, notification_out(t), delay_ms);
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
            enqueue(c, answer_out(reply), delay);
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
        enqueue(c, answer_out(build_response(nullptr, true, -2, "", nullptr, nullptr)), delay);
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
    enqueue(c, answer_out(build_response(id, a.is_error, a.code, a.message, a.result, data)), delay);
    for (auto &e : a.effects) enqueue_all(sim, notification_out(e.text), delay + e.delay_ms, 0);
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

// What the connection thread is to do next, read under the connection lock.
enum class conn_step { run, close, reset, blackhole };

conn_step next_step(codec_sim *sim, sim_conn &c) {
    std::lock_guard<std::mutex> lk(c.mu);
    if (c.close_req || sim->stopping) return conn_step::close;
    if (c.net.rst || clock_type::now() >= c.rst_at) return conn_step::reset;
    return c.net.blackhole ? conn_step::blackhole : conn_step::run;
}

// Holds the socket open without reading or writing a byte: to the client
// the codec has vanished without a FIN or RST. False once the client has
// given up and closed its end (nothing is read to learn that).
bool blackhole_wait(sim_conn &c) {
    pollfd p[2] = {{c.fd, POLLRDHUP, 0}, {c.wake[0], POLLIN, 0}};
    if (poll(p, 2, 200) <= 0) return true;
    if (p[1].revents & POLLIN) drain_fd(c.wake[0]);
    return !(p[0].revents & (POLLRDHUP | POLLHUP | POLLERR));
}

// Sends every message that is due; false when the connection is to end.
bool send_due(codec_sim *sim, sim_conn &c) {
    for (;;) {
        outbound o;
        {
            std::lock_guard<std::mutex> lk(c.mu);
            if (c.close_req || c.net.blackhole || c.queue.empty() || c.queue.begin()->first.first > clock_type::now())
                return true;
            o = std::move(c.queue.begin()->second);
            c.queue.erase(c.queue.begin());
            if (c.net.cut_next) {
                c.net.cut_next = false;
                o.keep = o.text.size() / 2;
            }
        }
        size_t n = std::min(o.keep, o.text.size());
        if (!write_all(sim, c, o.text.data(), n) || o.keep != std::string::npos || o.close_after) return false;
    }
}

// Ends the socket: a reset (linger 0, no FIN) or an orderly close, which
// under TLS starts with the close_notify alert.
void end_socket(sim_conn &c, bool reset) {
    if (reset) {
        linger lg{1, 0};
        setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    } else if (c.ssl) {
        SSL_shutdown(c.ssl);
        ERR_clear_error();
    }
    if (c.ssl) {
        SSL_free(c.ssl);
        c.ssl = nullptr;
    }
    if (!reset) shutdown(c.fd, SHUT_RDWR);
    close(c.fd);
    c.fd = -1;
}

}  // namespace

void conn_main(codec_sim *sim, std::shared_ptr<sim_conn> cp) {
    sim_conn &c = *cp;
    // TLS writes to a peer that has gone raise SIGPIPE; on this thread it stays pending, never delivered.
    sigset_t pipe_set;
    sigemptyset(&pipe_set);
    sigaddset(&pipe_set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_set, nullptr);
    c.framer.max_message = sim->cfg.max_message;
    // A connection blackholed from its start does not even shake hands.
    conn_step first = next_step(sim, c);
    while (first == conn_step::blackhole) first = blackhole_wait(c) ? next_step(sim, c) : conn_step::close;
    bool reset = first == conn_step::reset;
    bool ok = first == conn_step::run;
    if (ok && sim->cfg.tls) {
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
        conn_step step = next_step(sim, c);
        if (step == conn_step::close) break;
        if (step == conn_step::reset) {
            reset = true;
            break;
        }
        if (step == conn_step::blackhole) {
            if (!blackhole_wait(c)) break;
            continue;
        }
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
        if (next_step(sim, c) != conn_step::run) continue;  // a fault arrived while waiting
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
        if (!send_due(sim, c)) break;
    }
    if (c.ready) set_ready(sim, c, false);
    end_socket(c, reset);
    c.done = true;
    sim->cv.notify_all();
}


}  // namespace codec_sim_internal
