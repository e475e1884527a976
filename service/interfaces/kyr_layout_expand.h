/* Expands the layout description named by KYR_LAYOUT_DEF (see kyr_layout.h).
 * Deliberately without include guard: included once per description. */
#include "service/interfaces/kyr_layout.h"

#ifndef KYR_LAYOUT_DEF
#error "define KYR_LAYOUT_DEF to the layout description before including kyr_layout_expand.h"
#endif

/* 1: the structure. */
#define KYR_LAYOUT(N, size, Src) typedef struct __attribute__((packed)) N {
#define KYR_FIELD(N, f, off, T) kyr_t_##T f;
#define KYR_ARRAY(N, f, off, T, n) kyr_t_##T f[n];
#define KYR_FIELD_FROM(N, f, off, T, src) kyr_t_##T f;
#define KYR_ARRAY_FROM(N, f, off, T, n, src) kyr_t_##T f[n];
#define KYR_LAYOUT_END(N) \
  }                       \
  N;                      \
  typedef N kyr_t_##N;
#include KYR_LAYOUT_DEF
#undef KYR_LAYOUT
#undef KYR_FIELD
#undef KYR_ARRAY
#undef KYR_FIELD_FROM
#undef KYR_ARRAY_FROM
#undef KYR_LAYOUT_END

/* 2: every offset and the total size, checked against the description. */
#define KYR_LAYOUT(N, size, Src) static_assert(sizeof(N) == (size), #N " must be " #size " bytes");
#define KYR_FIELD(N, f, off, T) static_assert(offsetof(N, f) == (off), #N "." #f " must be at " #off);
#define KYR_ARRAY(N, f, off, T, n) static_assert(offsetof(N, f) == (off), #N "." #f " must be at " #off);
#define KYR_FIELD_FROM(N, f, off, T, src) KYR_FIELD(N, f, off, T)
#define KYR_ARRAY_FROM(N, f, off, T, n, src) KYR_ARRAY(N, f, off, T, n)
#define KYR_LAYOUT_END(N)
#include KYR_LAYOUT_DEF
#undef KYR_LAYOUT
#undef KYR_FIELD
#undef KYR_ARRAY
#undef KYR_FIELD_FROM
#undef KYR_ARRAY_FROM
#undef KYR_LAYOUT_END

/* 3: the copy from the source record (fields without a source are left as
 * they are). */
#define KYR_LAYOUT(N, size, Src)                                                            \
  [[maybe_unused]] static inline void kyr_copy_##N(N *dst, const Src *src) { \
    (void)dst;                                                                              \
    (void)src;
#define KYR_FIELD(N, f, off, T)
#define KYR_ARRAY(N, f, off, T, n)
#define KYR_FIELD_FROM(N, f, off, T, source) dst->f = static_cast<kyr_t_##T>(src->source);
#define KYR_ARRAY_FROM(N, f, off, T, n, source) KYR_COPY_ARRAY_##T(dst->f, src->source);
#define KYR_LAYOUT_END(N) }
#include KYR_LAYOUT_DEF
#undef KYR_LAYOUT
#undef KYR_FIELD
#undef KYR_ARRAY
#undef KYR_FIELD_FROM
#undef KYR_ARRAY_FROM
#undef KYR_LAYOUT_END

#undef KYR_LAYOUT_DEF
