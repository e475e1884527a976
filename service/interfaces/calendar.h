/* The calendar interface: the codec's calendaring server and its meetings
 * for Java, and calendar notifications as events.
 *
 * Servers and meetings reach Java as lists of CalendarServerInfoStruct /
 * CalendarMeetingInfoStruct nodes (a link word, then the record byte for
 * byte), named by handles and released by Java. Only calendar protocol 1 is
 * served, and only its first server. Everything runs on the service's
 * connection (kyr_server_instance) and logs under "KyrConnectLib:Calendar".
 * No password of a server or a meeting is ever logged. */
#ifndef KYR_CALENDAR_H
#define KYR_CALENDAR_H

#include <stdint.h>

#include "csapi/client/cs_records.h"
#include "platform/kyr_api.h"

#define KYR_LAYOUT_DEF "service/interfaces/layouts/CalendarServerInfoStruct.def"
#include "service/interfaces/kyr_layout_expand.h"
#define KYR_LAYOUT_DEF "service/interfaces/layouts/CalendarMeetingInfoStruct.def"
#include "service/interfaces/kyr_layout_expand.h"
#define KYR_LAYOUT_DEF "service/interfaces/layouts/CalendarStruct.def"
#include "service/interfaces/kyr_layout_expand.h"

#define KYR_CAL_TAG "KyrConnectLib:Calendar"

/* The only calendar protocol served, and the server status in which
 * meetings can be read. */
#define KYR_CAL_PROTOCOL 1
#define KYR_CAL_STATUS_ONLINE 6

/* Bounds of one meeting listing against a codec that never ends it. */
#define KYR_CAL_CHUNK 64
#define KYR_CAL_MAX_EMPTY_CHUNKS 100
#define KYR_CAL_MAX_MEETINGS 10000

KYR_EXTERN_C_BEGIN

/* Each returns the handle of a new list (positive) or 0 when there is none
 * or anything failed (logged). */
int64_t kyr_cal_get_server(int protocol);
int64_t kyr_cal_get_servers(void);
int64_t kyr_cal_get_meeting(int protocol, const char *id);
/* Meetings between start and end (the codec's times, low 32 bits used), in
 * the order the codec lists them. The listing opened on the codec is always
 * closed again. */
int64_t kyr_cal_get_meetings(int protocol, int64_t start, int64_t end);

/* Java's release of a server or meeting list (any head it was given). */
int kyr_cal_release(int64_t head);

KYR_EXTERN_C_END

#endif
