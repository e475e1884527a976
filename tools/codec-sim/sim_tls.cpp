// TLS for the simulator: a TLS 1.0-only server context with a self-signed
// certificate made in memory. The client under test speaks TLS 1.0 and does
// not verify certificates, so the certificate only has to exist.
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

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

}  // namespace

SSL_CTX *tls_server_ctx() {
    std::call_once(g_cert_once, make_cert);
    if (!g_key || !g_cert) {
        fprintf(stderr, "codec-sim: cannot make a certificate\n");
        return nullptr;
    }
    SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx) return nullptr;
    // The codec speaks TLS 1.0 only; level 0 lets OpenSSL 3 offer its
    // SHA-1 based suites at all.
    SSL_CTX_set_security_level(ctx, 0);
    if (SSL_CTX_set_min_proto_version(ctx, TLS1_VERSION) != 1 ||
        SSL_CTX_set_max_proto_version(ctx, TLS1_VERSION) != 1 ||
        SSL_CTX_set_cipher_list(ctx, "ALL:@SECLEVEL=0") != 1 ||
        SSL_CTX_use_certificate(ctx, g_cert) != 1 || SSL_CTX_use_PrivateKey(ctx, g_key) != 1) {
        ERR_print_errors_fp(stderr);
        SSL_CTX_free(ctx);
        return nullptr;
    }
    SSL_CTX_set_mode(ctx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    return ctx;
}

}  // namespace codec_sim_internal
