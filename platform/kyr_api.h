/* Export control for libkyrconnect.so.
 *
 * The library is compiled with -fvisibility=hidden; only declarations marked
 * KYR_API are visible to Java (JNI exports) and to C programs linking the
 * shared library. Every function with a name in the C interface carries it;
 * internal helpers never do. */
#ifndef KYR_API_H
#define KYR_API_H

#define KYR_API __attribute__((visibility("default")))

#ifdef __cplusplus
#define KYR_EXTERN_C_BEGIN extern "C" {
#define KYR_EXTERN_C_END }
#define KYR_NODISCARD [[nodiscard]]
#else
#define KYR_EXTERN_C_BEGIN
#define KYR_EXTERN_C_END
#define KYR_NODISCARD __attribute__((warn_unused_result))
#endif

#endif
