/* Seams of the transport for command-line tools (kyrctl): a trace of every
 * message, a TLS choice that overrides the usual rules, and the TLS version
 * a connection negotiated. Not exported from the shared library (reach them
 * through kyrconnect_static). */
#ifndef CCOM_TOOL_H
#define CCOM_TOOL_H

typedef struct ccom_client_t ccom_client_t;
typedef struct ccom_msg_t ccom_msg_t;

/* Called with "send" or "recv" and the message text with password values
 * emptied (as debug_string does), for every framed message of every
 * connection, on the sending thread or the connection's reader thread.
 * Independent of the DEBUG log switch. */
typedef void (*ccom_trace_fn)(const char *what, const char *text, void *user);
/* Installs (null removes) the trace. Set it before connecting. */
void ccom_set_trace(ccom_trace_fn fn, void *user);

/* TLS for later connections: CCOM_TLS_AUTO decides by address, caller's
 * flag and marker file; ON and OFF ignore all three. */
enum { CCOM_TLS_AUTO = -1, CCOM_TLS_OFF = 0, CCOM_TLS_ON = 1 };
void ccom_set_tls_mode(int mode);
int ccom_tls_mode(void);

/* Bounds on the TCP connect and on the TLS handshake of later connections,
 * in milliseconds (10 000 each unless set). */
void ccom_set_connect_timeout_ms(int ms);

/* "TLSv1" and so on, or null when the connection is plain or gone. */
const char *ccom_client_tls_version(ccom_client_t *client);

/* Internal: hands one message to the trace, if any. */
void ccom_trace_msg(const char *what, ccom_msg_t *msg);

#endif
