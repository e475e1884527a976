/* Java-visible layouts: each structure Java reads in place through a direct
 * ByteBuffer is described once, in service/interfaces/layouts/<Name>.def:
 *
 *   KYR_LAYOUT(Name, total size, source record type or void)
 *   KYR_FIELD(Name, field, offset, TYPE)                 filled by hand
 *   KYR_ARRAY(Name, field, offset, TYPE, count)          filled by hand
 *   KYR_FIELD_FROM(Name, field, offset, TYPE, src)       copied from src
 *   KYR_ARRAY_FROM(Name, field, offset, TYPE, count, src)
 *   KYR_LAYOUT_END(Name)
 *
 * TYPE is one of I8 U8 CHAR I16 U16 I32 U32 I64 U64 F32 F64, or the Name of
 * another layout (an embedded record). One row per line, every byte of the
 * structure covered (padding is a row too). The description expands into
 *
 *   - the C structure `Name` (packed, so the offsets are exactly the rows'),
 *     with a compile-time check of every offset and of the total size;
 *   - `kyr_copy_Name(Name *dst, const Source *src)`, which copies every
 *     _FROM row from the source record (text cut to fit and terminated,
 *     integers converted, other arrays copied up to the shorter length);
 *   - at build time, the Java class quorvex.kyrconnectservice.NameLayout
 *     with SIZE, <FIELD>_OFFSET and, for arrays, <FIELD>_LENGTH constants,
 *     so Java reads fields by name (java/Layouts.cmake);
 *   - for a row followed on its line by a Java doc comment (opened with
 *     two stars, one line), a public final field of the Java record class
 *     Name (an int, long, float or double for a scalar, a String for a CHAR
 *     array), declared with that text and read by generated code; the class
 *     itself is
 *     java/src/quorvex/kyrconnectservice/Name.java.in, which keeps by hand
 *     only what is not a plain field read. A row without one stays out of
 *     Java's record (links, padding, passwords).
 *
 * To use a layout in C++:
 *
 *   #define KYR_LAYOUT_DEF "service/interfaces/layouts/SettingsStruct.def"
 *   #include "service/interfaces/kyr_layout_expand.h"
 */
#ifndef KYR_LAYOUT_H
#define KYR_LAYOUT_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

typedef int8_t kyr_t_I8;
typedef uint8_t kyr_t_U8;
typedef char kyr_t_CHAR;
typedef int16_t kyr_t_I16;
typedef uint16_t kyr_t_U16;
typedef int32_t kyr_t_I32;
typedef uint32_t kyr_t_U32;
typedef int64_t kyr_t_I64;
typedef uint64_t kyr_t_U64;
typedef float kyr_t_F32;
typedef double kyr_t_F64;

/* Copies text into a fixed field: cut to fit, always terminated, the rest
 * zero-filled (Java must never read stale bytes past the terminator). */
static inline void kyr_copy_text(char *dst, size_t cap, const char *src) {
  if (cap == 0) return;
  size_t n = 0;
  if (src)
    while (n + 1 < cap && src[n]) n++;
  if (n) memcpy(dst, src, n);
  memset(dst + n, 0, cap - n);
}

static inline void kyr_copy_bytes(void *dst, size_t dcap, const void *src, size_t scap) {
  size_t n = dcap < scap ? dcap : scap;
  memcpy(dst, src, n);
  if (dcap > n) memset(static_cast<char *>(dst) + n, 0, dcap - n);
}

#define KYR_COPY_ARRAY_CHAR(d, s) kyr_copy_text((d), sizeof(d), (s))
#define KYR_COPY_ARRAY_BYTES(d, s) kyr_copy_bytes((d), sizeof(d), (s), sizeof(s))
#define KYR_COPY_ARRAY_I8 KYR_COPY_ARRAY_BYTES
#define KYR_COPY_ARRAY_U8 KYR_COPY_ARRAY_BYTES
#define KYR_COPY_ARRAY_I16 KYR_COPY_ARRAY_BYTES
#define KYR_COPY_ARRAY_U16 KYR_COPY_ARRAY_BYTES
#define KYR_COPY_ARRAY_I32 KYR_COPY_ARRAY_BYTES
#define KYR_COPY_ARRAY_U32 KYR_COPY_ARRAY_BYTES
#define KYR_COPY_ARRAY_I64 KYR_COPY_ARRAY_BYTES
#define KYR_COPY_ARRAY_U64 KYR_COPY_ARRAY_BYTES
#define KYR_COPY_ARRAY_F32 KYR_COPY_ARRAY_BYTES
#define KYR_COPY_ARRAY_F64 KYR_COPY_ARRAY_BYTES

#endif
