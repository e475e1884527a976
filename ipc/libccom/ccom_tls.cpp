/* The transport's TLS policy: which protocol versions and cipher suites a
 * connection may use, the server's fingerprint, and the pinned identity.
 *
 * Versions: TLS 1.0 up to TLS 1.3, the highest both sides speak. Suites:
 * forward-secret ones first, then RSA key exchange with AES for codecs that
 * have nothing better; never NULL, anonymous, export, RC4, DES, 3DES or MD5.
 * OpenSSL 3 allows TLS 1.0 and 1.1 only at security level 0, which would
 * also let weak keys, MD5 signatures and unauthenticated suites through.
 * The context therefore stays at level 1 and a security callback makes
 * exactly the exceptions TLS 1.0 needs: the protocol versions themselves and
 * the SHA-1 (MD5+SHA-1 before TLS 1.2) handshake signatures of a TLS 1.0 or
 * 1.1 session. Every setting is made on the connection's own context, so
 * the system's OpenSSL configuration cannot widen or narrow it.
 *
 * Identity: the fingerprint is the SHA-256 of the certificate's
 * SubjectPublicKeyInfo, which stays the same when a codec renews its
 * self-signed certificate with the same key. A pinned fingerprint is
 * checked right after the handshake, before the owner can send a byte. */
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <stdio.h>
#include <string.h>

#include <mutex>

#include "ipc/libccom/ccom_internal.h"

namespace {

const char kName[] = "CCOM";

/* TLS 1.0 to 1.2 suites, in order of preference. */
const char kCipherList[] =
    "ECDHE+AESGCM:ECDHE+CHACHA20:DHE+AESGCM:DHE+CHACHA20:ECDHE+AES:DHE+AES:RSA+AESGCM:RSA+AES"
    ":!aNULL:!eNULL:!EXP:!RC4:!DES:!3DES:!MD5:!PSK:!SRP:!DSS:!CAMELLIA:!ARIA:!SEED:!IDEA";
/* TLS 1.3 suites (all forward-secret AEADs). */
const char kTls13Suites[] = "TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256:TLS_AES_128_GCM_SHA256";

/* The ciphers a suite may encrypt with. */
const int kAllowedCiphers[] = {NID_aes_128_cbc, NID_aes_256_cbc, NID_aes_128_gcm, NID_aes_256_gcm,
                               NID_aes_128_ccm, NID_aes_256_ccm, NID_chacha20_poly1305};

std::mutex g_pin_mu;
bool g_pinned = false;
unsigned char g_pin[CCOM_FINGERPRINT_BYTES];

thread_local int t_connect_result = CCOM_CONNECT_OK;

int hex_value(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

void to_hex(const unsigned char *bytes, size_t n, char *out) {
  static const char digits[] = "0123456789abcdef";
  for (size_t i = 0; i < n; i++) {
    out[2 * i] = digits[bytes[i] >> 4];
    out[2 * i + 1] = digits[bytes[i] & 15];
  }
  out[2 * n] = '\0';
}

typedef int (*security_fn)(const SSL *, const SSL_CTX *, int, int, int, void *, void *);

/* The default policy of OpenSSL, captured once from a fresh context. */
security_fn default_security() {
  static security_fn fn = [] {
    SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
    security_fn f = ctx ? SSL_CTX_get_security_callback(ctx) : nullptr;
    SSL_CTX_free(ctx);
    return f;
  }();
  return fn;
}

bool sha1_family(int nid) { return nid == NID_sha1 || nid == NID_md5_sha1; }

int security_callback(const SSL *s, const SSL_CTX *ctx, int op, int bits, int nid, void *other, void *ex) {
  switch (op & SSL_SECOP_OTHER_TYPE) {
    case SSL_SECOP_OTHER_CIPHER:
      if (!ccom_tls_suite_allowed(static_cast<const SSL_CIPHER *>(other))) return 0;
      break;
    case SSL_SECOP_OTHER_SIGALG:
      /* A TLS 1.0 or 1.1 server signs with MD5+SHA-1 or SHA-1; nothing
       * newer may fall back to it. */
      if (sha1_family(nid) && s && SSL_version(s) < TLS1_2_VERSION && SSL_version(s) >= TLS1_VERSION) return 1;
      break;
    default:
      break;
  }
  if (op == SSL_SECOP_VERSION) return nid >= TLS1_VERSION && nid <= TLS1_3_VERSION;
  security_fn def = default_security();
  return def ? def(s, ctx, op, bits, nid, other, ex) : 0;
}

}  // namespace

bool ccom_tls_suite_allowed(const SSL_CIPHER *c) {
  if (!c) return false;
  const int enc = SSL_CIPHER_get_cipher_nid(c);
  bool cipher_ok = false;
  for (int allowed : kAllowedCiphers) cipher_ok = cipher_ok || enc == allowed;
  if (!cipher_ok) return false;
  if (SSL_CIPHER_get_digest_nid(c) == NID_md5) return false;
  const int auth = SSL_CIPHER_get_auth_nid(c);
  if (auth == NID_auth_null || auth == NID_auth_psk || auth == NID_auth_srp) return false;
  const int kx = SSL_CIPHER_get_kx_nid(c);
  return kx != NID_kx_psk && kx != NID_kx_ecdhe_psk && kx != NID_kx_dhe_psk && kx != NID_kx_rsa_psk &&
         kx != NID_kx_srp;
}

SSL_CTX *ccom_tls_client_context(void) {
  SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
  if (!ctx) return nullptr;
  SSL_CTX_set_security_level(ctx, 1);
  SSL_CTX_set_security_callback(ctx, security_callback);
  if (SSL_CTX_set_min_proto_version(ctx, TLS1_VERSION) != 1 ||
      SSL_CTX_set_max_proto_version(ctx, TLS1_3_VERSION) != 1 || SSL_CTX_set_cipher_list(ctx, kCipherList) != 1 ||
      SSL_CTX_set_ciphersuites(ctx, kTls13Suites) != 1) {
    SSL_CTX_free(ctx);
    return nullptr;
  }
  /* Codecs use self-signed certificates: the chain is not verified; the
   * pinned fingerprint is what identifies the codec. */
  SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
  /* Fewer reads per message; the reader drains SSL_pending before waiting
   * on the socket again. */
  SSL_CTX_set_read_ahead(ctx, 1);
  /* A peer that closes without close_notify ends the connection like a
   * plain close. No compression: it leaks secrets through lengths. */
  SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_COMPRESSION);
  return ctx;
}

void ccom_tls_log_handshake_failure(const char *host, int port) {
  /* Nothing to explain for a time-out or a closed connection. */
  unsigned long e = ERR_peek_last_error();
  if (!e) return;
  char reason[256];
  ERR_error_string_n(e, reason, sizeof reason);
  csLog(kName, CS_LOG_ERR,
        "TLS handshake with %s:%d refused (%s): the codec must offer TLS 1.0 to 1.3 with a cipher suite that is "
        "forward-secret or AES/ChaCha20 with SHA-1 or better\n",
        host, port, reason);
}

int ccom_tls_fingerprint_of(X509 *cert, char *out) {
  out[0] = '\0';
  if (!cert) return -1;
  unsigned char *der = nullptr;
  int len = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert), &der);
  if (len <= 0 || !der) return -1;
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int mdlen = 0;
  int ok = EVP_Digest(der, (size_t)len, md, &mdlen, EVP_sha256(), nullptr);
  OPENSSL_free(der);
  if (ok != 1 || mdlen != CCOM_FINGERPRINT_BYTES) return -1;
  to_hex(md, mdlen, out);
  return 0;
}

int ccom_tls_after_handshake(ccom_client_t *c, const char *host, int port) {
  const SSL_CIPHER *suite = SSL_get_current_cipher(c->tls);
  csLog(kName, CS_LOG_INFO, "TLS to %s:%d: %s, %s\n", host, port, SSL_get_version(c->tls),
        suite ? SSL_CIPHER_get_name(suite) : "(none)");
  X509 *cert = SSL_get1_peer_certificate(c->tls);
  int have = ccom_tls_fingerprint_of(cert, c->peer_fp);
  X509_free(cert);

  std::lock_guard<std::mutex> g(g_pin_mu);
  if (!g_pinned) return 0;
  unsigned char got[CCOM_FINGERPRINT_BYTES];
  bool match = have == 0;
  for (int i = 0; match && i < CCOM_FINGERPRINT_BYTES; i++)
    got[i] = (unsigned char)(hex_value(c->peer_fp[2 * i]) << 4 | hex_value(c->peer_fp[2 * i + 1]));
  match = match && CRYPTO_memcmp(got, g_pin, sizeof got) == 0;
  if (match) return 0;
  char want[2 * CCOM_FINGERPRINT_BYTES + 1];
  to_hex(g_pin, sizeof g_pin, want);
  csLog(kName, CS_LOG_ERR, "server identity changed: %s:%d presents key %s, pinned %s; closing before any request\n",
        host, port, have == 0 ? c->peer_fp : "(none)", want);
  t_connect_result = CCOM_CONNECT_IDENTITY;
  return -1;
}

int ccom_tls_plain_allowed(const char *host, int port) {
  std::lock_guard<std::mutex> g(g_pin_mu);
  if (!g_pinned) return 1;
  csLog(kName, CS_LOG_ERR, "server identity pinned but the connection to %s:%d is not encrypted; closing\n", host,
        port);
  t_connect_result = CCOM_CONNECT_IDENTITY;
  return 0;
}

void ccom_tls_connect_begin(void) { t_connect_result = CCOM_CONNECT_FAILED; }

void ccom_tls_connect_done(void) { t_connect_result = CCOM_CONNECT_OK; }

extern "C" KYR_API int ccom_client_connect_result(void) { return t_connect_result; }

extern "C" KYR_API int ccom_tls_set_pin(const char *hex) {
  unsigned char pin[CCOM_FINGERPRINT_BYTES];
  bool clear = !hex || !hex[0];
  if (!clear) {
    if (strnlen(hex, 2 * CCOM_FINGERPRINT_BYTES + 1) != 2 * CCOM_FINGERPRINT_BYTES) return -1;
    for (int i = 0; i < CCOM_FINGERPRINT_BYTES; i++) {
      int hi = hex_value(hex[2 * i]), lo = hex_value(hex[2 * i + 1]);
      if (hi < 0 || lo < 0) return -1;
      pin[i] = (unsigned char)(hi << 4 | lo);
    }
  }
  std::lock_guard<std::mutex> g(g_pin_mu);
  g_pinned = !clear;
  if (!clear) memcpy(g_pin, pin, sizeof g_pin);
  return 0;
}

extern "C" KYR_API int ccom_tls_get_pin(char *out, size_t size) {
  if (!out || size < 2 * CCOM_FINGERPRINT_BYTES + 1) return -1;
  std::lock_guard<std::mutex> g(g_pin_mu);
  if (!g_pinned) {
    out[0] = '\0';
    return 0;
  }
  to_hex(g_pin, sizeof g_pin, out);
  return 1;
}

extern "C" KYR_API int ccom_client_get_fingerprint(ccom_client_t *client, char *out, size_t size) {
  if (!out || size == 0) return -1;
  out[0] = '\0';
  if (!client || !client->peer_fp[0] || size < sizeof client->peer_fp) return -1;
  memcpy(out, client->peer_fp, sizeof client->peer_fp);
  return 0;
}
