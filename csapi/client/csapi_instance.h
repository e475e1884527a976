/* The instance numbers and connection states, shared by the instance table
 * (csapi_client.h) and the notification registries (csapi_callback.h), so
 * that neither needs the other's header for them. */
#ifndef CSAPI_INSTANCE_H
#define CSAPI_INSTANCE_H

#define CSAPI_SRVR_MAX 10

enum {
  CLIENT_STATE_DISCONNECTED = 0,
  CLIENT_STATE_CONNECTED = 1,
  CLIENT_STATE_VERSION_OK = 2,
  CLIENT_STATE_AUTH_REQUIRED = 3,
  CLIENT_STATE_READY = 5
};

#endif
