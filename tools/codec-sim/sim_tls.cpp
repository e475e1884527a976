// TLS for the simulator: a server context speaking one protocol version
// (TLS 1.0, 1.2 or 1.3), with the certificate and key from PEM files or a
// self-signed certificate over a key made at start (once per process, so two
// runs present different keys), and the key's fingerprint.
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "codec_sim.h"

namespace codec_sim_internal {

namespace {

std::once_flag g_cert_once;
EVP_PKEY *g_key = nullptr;  // made once per process; RSA key generation is slow under the sanitizers
X509 *g_cert = nullptr;

// KYR_TEST_TLS_KEY names a PEM private key to use instead of a new one:
// where key generation is slow (32-bit programs under qemu-user take seconds
// per key), a test run makes one key for all its test peers.
EVP_PKEY *load_or_make_key() {
    const char *path = getenv("KYR_TEST_TLS_KEY");
    if (path && *path) {
        EVP_PKEY *key = nullptr;
        if (FILE *f = fopen(path, "r")) {
            key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
            fclose(f);
        }
        if (key) return key;
        fprintf(stderr, "codec-sim: no key in %s; making one\n", path);
    }
    return EVP_RSA_gen(2048);
}

void make_cert() {
    EVP_PKEY *key = load_or_make_key();
    if (!key) return;
    X509 *x = X509_new();
    if (!x) {
        EVP_PKEY_free(key);
        return;
    }
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), 1);
    X509_gmtime_adj(X509_getm_notBefore(x), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x), 10L * 365 * 24 * 3600);
    X509_set_pubkey(x, key);
    X509_NAME *name = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>("codec-sim"), -1, -1, 0);
    X509_set_issuer_name(x, name);
    if (X509_sign(x, key, EVP_sha256()) <= 0) {
        X509_free(x);
        EVP_PKEY_free(key);
        return;
    }
    g_key = key;
    g_cert = x;
}

struct tls_version_row {
    const char *name;
    int version;
};
const tls_version_row kVersions[] = {{"1.0", TLS1_VERSION}, {"1.2", TLS1_2_VERSION}, {"1.3", TLS1_3_VERSION}};

bool load_pem(const std::string &cert_file, const std::string &key_file, X509 **cert, EVP_PKEY **key) {
    FILE *f = fopen(cert_file.c_str(), "r");
    if (!f) return false;
    *cert = PEM_read_X509(f, nullptr, nullptr, nullptr);
    fclose(f);
    f = fopen(key_file.c_str(), "r");
    if (!f) return false;
    *key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
    fclose(f);
    return *cert && *key;
}

}  // namespace

int tls_version_of(const std::string &name) {
    for (const auto &v : kVersions)
        if (name == v.name) return v.version;
    return 0;
}

SSL_CTX *tls_server_ctx(const codec_sim_config &cfg) {
    const int version = tls_version_of(cfg.tls_version);
    if (!version) {
        fprintf(stderr, "codec-sim: unknown TLS version %s\n", cfg.tls_version.c_str());
        return nullptr;
    }
    X509 *cert = nullptr;
    EVP_PKEY *key = nullptr;
    if (!cfg.cert_file.empty() || !cfg.key_file.empty()) {
        if (!load_pem(cfg.cert_file, cfg.key_file, &cert, &key)) {
            fprintf(stderr, "codec-sim: cannot read the certificate %s and key %s\n", cfg.cert_file.c_str(),
                    cfg.key_file.c_str());
            X509_free(cert);
            EVP_PKEY_free(key);
            return nullptr;
        }
    } else {
        std::call_once(g_cert_once, make_cert);
        if (!g_key || !g_cert) {
            fprintf(stderr, "codec-sim: cannot make a certificate\n");
            return nullptr;
        }
        cert = g_cert;
        key = g_key;
        X509_up_ref(cert);
        EVP_PKEY_up_ref(key);
    }
    SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
    bool ok = ctx && SSL_CTX_set_min_proto_version(ctx, version) == 1 &&
              SSL_CTX_set_max_proto_version(ctx, version) == 1;
    // A TLS 1.0 codec: OpenSSL 3 allows TLS 1.0 and its SHA-1 signatures
    // only at security level 0.
    if (ok && version == TLS1_VERSION) {
        SSL_CTX_set_security_level(ctx, 0);
        ok = SSL_CTX_set_cipher_list(ctx, "ALL:@SECLEVEL=0") == 1;
    }
    ok = ok && SSL_CTX_use_certificate(ctx, cert) == 1 && SSL_CTX_use_PrivateKey(ctx, key) == 1 &&
         SSL_CTX_check_private_key(ctx) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    if (!ok) {
        ERR_print_errors_fp(stderr);
        SSL_CTX_free(ctx);
        return nullptr;
    }
    SSL_CTX_set_mode(ctx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    return ctx;
}

std::string tls_ctx_fingerprint(SSL_CTX *ctx) {
    X509 *cert = ctx ? SSL_CTX_get0_certificate(ctx) : nullptr;
    EVP_PKEY *key = cert ? X509_get0_pubkey(cert) : nullptr;
    unsigned char *der = nullptr;
    int len = key ? i2d_PUBKEY(key, &der) : 0;
    if (len <= 0) return "";
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    int ok = EVP_Digest(der, (size_t)len, md, &n, EVP_sha256(), nullptr);
    OPENSSL_free(der);
    if (ok != 1) return "";
    std::string hex;
    char b[3];
    for (unsigned i = 0; i < n; i++) {
        snprintf(b, sizeof b, "%02x", md[i]);
        hex += b;
    }
    return hex;
}

}  // namespace codec_sim_internal
