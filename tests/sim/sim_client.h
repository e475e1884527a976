// A minimal CSAPI peer for testing the simulator: a blocking loopback
// socket (optionally TLS 1.0) and a reader that takes whole JSON values off
// the stream with cJSON's own parser, so it shares nothing with the
// simulator's framer.
#pragma once

#include <arpa/inet.h>
#include <cjson/cJSON.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>

namespace simtest {

struct client {
    int fd = -1;
    SSL_CTX *ctx = nullptr;
    SSL *ssl = nullptr;
    std::string pending;  // received, not yet returned

    ~client() { close_now(); }

    bool open(int port, bool tls) {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0) return false;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) return false;
        timeval tv{5, 0};  // no test read or write hangs for ever
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        if (!tls) return true;
        ctx = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_security_level(ctx, 0);
        SSL_CTX_set_min_proto_version(ctx, TLS1_VERSION);
        SSL_CTX_set_max_proto_version(ctx, TLS1_VERSION);
        SSL_CTX_set_cipher_list(ctx, "ALL:@SECLEVEL=0");
        ssl = SSL_new(ctx);
        SSL_set_fd(ssl, fd);
        return SSL_connect(ssl) == 1;
    }

    void close_now() {
        if (ssl) SSL_free(ssl);
        if (ctx) SSL_CTX_free(ctx);
        if (fd >= 0) close(fd);
        ssl = nullptr;
        ctx = nullptr;
        fd = -1;
    }

    bool send_text(const std::string &t) {
        size_t off = 0;
        while (off < t.size()) {
            long n = ssl ? SSL_write(ssl, t.data() + off, static_cast<int>(t.size() - off))
                         : send(fd, t.data() + off, t.size() - off, MSG_NOSIGNAL);
            if (n <= 0) return false;
            off += static_cast<size_t>(n);
        }
        return true;
    }

    // Reads until one whole JSON value is buffered or timeout_ms passed.
    // Returns the value's text, "" on time-out, "<closed>" when the peer closed.
    std::string read_json(int timeout_ms = 2000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            size_t ws = pending.find_first_not_of(" \t\r\n");
            if (ws != std::string::npos && ws > 0) pending.erase(0, ws);
            if (!pending.empty()) {
                const char *endp = nullptr;
                cJSON *v = cJSON_ParseWithLengthOpts(pending.data(), pending.size(), &endp, 0);
                if (v) {
                    size_t used = static_cast<size_t>(endp - pending.data());
                    std::string out = pending.substr(0, used);
                    pending.erase(0, used);
                    cJSON_Delete(v);
                    return out;
                }
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0) return "";
            if (!(ssl && SSL_pending(ssl) > 0)) {
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, static_cast<int>(left)) <= 0) return "";
            }
            char buf[8192];
            long n = ssl ? SSL_read(ssl, buf, sizeof buf) : recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return "<closed>";
            pending.append(buf, static_cast<size_t>(n));
        }
    }

    // Reads raw bytes until at least n are buffered (or time-out); returns them all.
    std::string read_raw(size_t n, int timeout_ms = 2000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (pending.size() < n) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0) break;
            if (!(ssl && SSL_pending(ssl) > 0)) {
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
            }
            char buf[8192];
            long n2 = ssl ? SSL_read(ssl, buf, sizeof buf) : recv(fd, buf, sizeof buf, 0);
            if (n2 <= 0) break;
            pending.append(buf, static_cast<size_t>(n2));
        }
        std::string out;
        out.swap(pending);
        return out;
    }
};

// A parsed JSON document that deletes itself.
struct json {
    cJSON *root = nullptr;
    explicit json(const std::string &t) : root(cJSON_Parse(t.c_str())) {}
    ~json() { cJSON_Delete(root); }
    json(const json &) = delete;
    json &operator=(const json &) = delete;
    const cJSON *get(const char *k) const { return cJSON_GetObjectItemCaseSensitive(root, k); }
    const cJSON *path(const char *a, const char *b) const {
        return cJSON_GetObjectItemCaseSensitive(get(a), b);
    }
};

inline std::string request(const std::string &method, const std::string &params, long id) {
    return "{\"method\":\"" + method + "\",\"params\":" + params + ",\"id\":" + std::to_string(id) +
           ",\"jsonrpc\":\"2.0\"}";
}

// The error code of a response, 0 when it has a result, 1 when unreadable.
inline int rsp_code(const std::string &t) {
    json j(t);
    if (!j.root) return 1;
    const cJSON *e = j.get("error");
    if (!e) return j.get("result") ? 0 : 1;
    const cJSON *c = cJSON_GetObjectItemCaseSensitive(e, "code");
    return cJSON_IsNumber(c) ? c->valueint : 1;
}

}  // namespace simtest
