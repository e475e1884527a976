/* The operation family. Every operation is one row of cs_ops.def, expanded
 * here twice: into a descriptor (wire parameters, target, time-out rule,
 * how the answer is read) and into a thin C entry that hands its arguments
 * to the one generic body, run_op. */
#include "csapi/client/cs_ops.h"

#include <cjson/cJSON.h>
#include <pthread.h>

#include <charconv>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "csapi/client/cs_ops_hooks.h"
#include "csapi/client/csapi_client.h"
#include "csapi/client/csapi_internal.h"
#include "csapi/client/csapi_rpc.h"
#include "csapi/client/test/csapi_test.h"
#include "ipc/libccom/ccom.h"

namespace {

/* ---- What an entry hands to the generic body ------------------------- */

/* One C argument of an operation. The converting constructors let a thin
 * entry pass its arguments as they are, whatever their declared types. */
struct OpArg {
  const void *p = nullptr;
  const char *s = nullptr;
  uint32_t u = 0;
  int32_t i = 0;
  double d = 0;
  OpArg(const void *v) : p(v) {}
  OpArg(const char *v) : s(v) {}
  OpArg(unsigned int v) : u(v) {}
  OpArg(int v) : i(v) {}
  OpArg(double v) : d(v) {}
};

using EncodeFn = cJSON *(*)(const void *rec);
using DecodeFn = void (*)(void *rec, const cJSON *json);

/* ---- How records become "params" members and answers become records --- */

template <typename T>
struct KindOf;
#define CS_OPS_KIND_OF(Name, Enum, Prefix)               \
  template <>                                            \
  struct KindOf<CS##Name> {                              \
    static constexpr cs_kind value = CS_KIND_##Name;     \
  };
CS_RECORD_KINDS(CS_OPS_KIND_OF)
#undef CS_OPS_KIND_OF

/* Records, list records included, travel in the form their own codec writes
 * and reads; list counts are kept within the list there. */
template <typename T>
struct Codec {
  static cJSON *encode(const void *rec) { return cs_record_encode(KindOf<T>::value, rec); }
  static void decode(void *rec, const cJSON *json) { (void)cs_record_decode(KindOf<T>::value, rec, json); }
};

/* ---- The operation descriptors ----------------------------------------- */

enum class Src : uint8_t { Handle, Object, Null, U, I, D, S };

struct Param {
  const char *key; /* null ends the list */
  Src src;
  uint8_t arg;
  size_t handleOff;
  EncodeFn encode;
};

struct Target {
  uint8_t arg;
  bool isRecord; /* else the argument is the instance number itself */
  size_t instOff;
};

struct Result {
  DecodeFn decode; /* null: the call's result is the operation's */
  size_t instOff;
};

constexpr int kMaxParams = 6;

struct Op {
  const char *name;
  Target target;
  int timeoutArg; /* -1: the fixed time-out */
  Result result;
  Param params[kMaxParams + 1];
};

#define CS_UNPAREN(...) __VA_ARGS__

#define TGT(n, K) {n, true, offsetof(CS##K, srvrInstance)}
#define TGT_NUM(n) {n, false, 0}
#define T_30 -1
#define T_MS(n) n
#define R_CALL {nullptr, 0}
#define R_GET(K) {&Codec<CS##K>::decode, offsetof(CS##K, srvrInstance)}
#define R_LIST(L) R_GET(L)
#define P_H(n, K, key) {key, Src::Handle, n, offsetof(CS##K, handle), nullptr},
#define P_OBJ(n, K, key) {key, Src::Object, n, 0, &Codec<CS##K>::encode},
#define P_NULL(key) {key, Src::Null, 0, 0, nullptr},
#define P_U(n, key) {key, Src::U, n, 0, nullptr},
#define P_I(n, key) {key, Src::I, n, 0, nullptr},
#define P_D(n, key) {key, Src::D, n, 0, nullptr},
#define P_S(n, key) {key, Src::S, n, 0, nullptr},

enum OpId {
#define CS_OP(name, sig, args, target, timeout, result, params) OP_##name,
#include "csapi/client/cs_ops.def"
#undef CS_OP
  OP_COUNT
};

const Op kOps[] = {
#define CS_OP(name, sig, args, target, timeout, result, params) \
  {#name, target, timeout, result, {CS_UNPAREN params}},
#include "csapi/client/cs_ops.def"
#undef CS_OP
};
static_assert(sizeof kOps / sizeof kOps[0] == OP_COUNT, "one descriptor per operation");

/* ---- The generic body ---------------------------------------------------- */

cs_ops_msg_alloc_fn g_alloc = nullptr;
cs_ops_call_fn g_call = nullptr;

ccom_msg_t *msg_alloc() { return g_alloc ? g_alloc() : csapi_client_msg_alloc(); }

uint32_t read_u32(const void *rec, size_t off) {
  uint32_t v;
  memcpy(&v, static_cast<const char *>(rec) + off, sizeof v);
  return v;
}
int32_t read_i32(const void *rec, size_t off) {
  int32_t v;
  memcpy(&v, static_cast<const char *>(rec) + off, sizeof v);
  return v;
}
void stamp_instance(void *rec, size_t off, int32_t instance) {
  memcpy(static_cast<char *>(rec) + off, &instance, sizeof instance);
}

/* Every record and text the request needs is there. */
bool args_present(const Op &op, const OpArg *a) {
  if (op.result.decode && !a[0].p) return false;
  if (op.target.isRecord && !a[op.target.arg].p) return false;
  for (const Param *p = op.params; p->key; ++p) {
    if ((p->src == Src::Handle || p->src == Src::Object) && !a[p->arg].p) return false;
    if (p->src == Src::S && !a[p->arg].s) return false;
  }
  return true;
}

/* A whole number as its decimal text, the way the printer writes one; made
 * here because the printer formats every number as a double and checks it
 * by reading it back, which is most of a small request's cost. */
cJSON *int_param(int64_t v) {
  char text[24];
  auto r = std::to_chars(text, text + sizeof text - 1, v);
  *r.ptr = '\0';
  return cJSON_CreateRaw(text);
}

cJSON *param_value(const Param &p, const OpArg *a) {
  const OpArg &v = a[p.arg];
  switch (p.src) {
    case Src::Handle: return int_param(read_u32(v.p, p.handleOff));
    case Src::Object: return p.encode(v.p);
    case Src::Null: return cJSON_CreateNull();
    case Src::U: return int_param(v.u);
    case Src::I: return int_param(v.i);
    case Src::D: return cJSON_CreateNumber(v.d);
    case Src::S: return cJSON_CreateString(v.s);
  }
  return nullptr;
}

/* The request text in msg; 0, or -2 when it cannot be built. */
[[nodiscard]] int build_request(const Op &op, const OpArg *a, ccom_msg_t *msg) {
  RpcReq req;
  cJSON *tree = nullptr;
  int32_t id = static_cast<int32_t>(reinterpret_cast<uintptr_t>(reinterpret_cast<void *>(pthread_self())));
  if (allocRpcReq(&req, &tree, op.name, id ? id : 1) != 0) {
    cJSON_Delete(tree);
    return CSAPI_ERR_BAD_MESSAGE;
  }
  for (const Param *p = op.params; p->key; ++p) {
    cJSON *item = param_value(*p, a);
    if (!item || !cJSON_AddItemToObject(req.params, p->key, item)) {
      cJSON_Delete(item);
      cJSON_Delete(tree);
      return CSAPI_ERR_BAD_MESSAGE;
    }
  }
  char *text = buildRpcReqMsg(&req, tree);
  cJSON_Delete(tree);
  if (!text) return CSAPI_ERR_BAD_MESSAGE;
  bool copied = ccom_msg_strcpy(msg, text) != nullptr;
  free(text);
  return copied ? 0 : CSAPI_ERR_BAD_MESSAGE;
}

/* Text of the answer left in msg, terminated (the buffer keeps a margin). */
const char *answer_text(ccom_msg_t *msg) {
  if (!msg->data || msg->len > msg->size) return "";
  msg->data[msg->len] = '\0';
  return msg->data;
}

/* The call's own result from a parsed answer: its integer "result" (0 when
 * that is no number), else its error code. */
int call_result(const RpcRsp &rsp) {
  if (rsp.result) return cJSON_IsNumber(rsp.result) ? rsp.result->valueint : 0;
  return rsp.code;
}

/* Reads a getter's answer into out: rc is the call's result, tree the
 * parsed answer (null when there is none or it is not JSON). */
int read_answer(const Op &op, void *out, int32_t instance, int rc, const RpcRsp &rsp, const cJSON *tree) {
  bool parsed = tree != nullptr;
  bool error = parsed && cJSON_GetObjectItemCaseSensitive(tree, "error");
  if (rc < 0) {
    /* A codec's error answer still says which connection the record belongs
     * to; a local failure (no connection, time-out) leaves it alone. */
    if (error) stamp_instance(out, op.result.instOff, instance);
  } else if (!parsed) {
    rc = CSAPI_ERR_BAD_MESSAGE;
    stamp_instance(out, op.result.instOff, instance);
  } else if (error) {
    /* An error answer never fills the record, so it never reads as success,
     * whatever code (0 or positive included) the codec put in it. */
    rc = rsp.code < 0 ? rsp.code : CSAPI_ERR_BAD_MESSAGE;
    stamp_instance(out, op.result.instOff, instance);
  } else if (!rsp.result) {
    /* Neither "result" nor an error code is no JSON-RPC answer at all. */
    rc = rsp.code ? rsp.code : CSAPI_ERR_BAD_MESSAGE;
    stamp_instance(out, op.result.instOff, instance);
  } else if (!cJSON_IsObject(rsp.result)) {
    /* Decoding a number or text as a record would wipe every field and
     * still report success. */
    rc = CSAPI_ERR_BAD_MESSAGE;
    stamp_instance(out, op.result.instOff, instance);
  } else {
    op.result.decode(out, rsp.result);
    stamp_instance(out, op.result.instOff, instance);
    rc = 0;
  }
  return rc;
}

int call_timeout(const Op &op, const OpArg *a) {
  if (op.timeoutArg < 0) return CSAPI_CALL_TIMEOUT;
  int32_t ms = a[op.timeoutArg].i;
  if (ms <= 30000) return CSAPI_CALL_TIMEOUT;
  int64_t t = static_cast<int64_t>(ms) * 1000 + 1;
  return t > INT_MAX ? INT_MAX : static_cast<int>(t);
}

/* Builds and sends an operation's request; the answer is read by end_op. */
int begin_op(OpId id, const OpArg *a, cs_op_ticket *t) {
  const Op &op = kOps[id];
  csapi_client_test_count(op.name);
  t->msg = nullptr;
  t->out = op.result.decode ? const_cast<void *>(a[0].p) : nullptr;
  t->op = id;
  t->hooked = 0;
  t->instance = 0;
  if (!args_present(op, a)) return t->rc = CSAPI_ERR_BAD_PARAMETER;
  t->instance = op.target.isRecord ? read_i32(a[op.target.arg].p, op.target.instOff) : a[op.target.arg].i;
  ccom_msg_t *msg = msg_alloc();
  if (!msg) return t->rc = CSAPI_ERR_OUT_OF_RESOURCES;
  int rc = build_request(op, a, msg);
  if (rc != 0) {
    csapi_client_msg_free(msg);
    return t->rc = rc;
  }
  t->msg = msg;
  unsigned int instance = static_cast<unsigned int>(t->instance);
  if (g_call) {
    /* A test's stand-in call answers at once. */
    t->hooked = 1;
    t->rc = g_call(instance, msg, call_timeout(op, a));
    return 0;
  }
  t->rc = 0;
  return csapi_detail::call_begin(instance, msg, call_timeout(op, a), &t->call);
}

/* Waits for the answer and reads it: the answer is parsed once, for the
 * call's result and a getter's record together. */
int end_op(cs_op_ticket *t) {
  if (!t->msg) return t->rc;
  const Op &op = kOps[t->op];
  int rc = t->hooked ? t->rc : csapi_detail::call_end_raw(&t->call);
  if (t->hooked || rc == 0) {
    RpcRsp rsp;
    cJSON *tree = nullptr;
    if (parseRpcRspMsg(&rsp, &tree, answer_text(t->msg)) != 0) {
      cJSON_Delete(tree);
      tree = nullptr;
    }
    if (!t->hooked) rc = tree ? call_result(rsp) : CSAPI_ERR_BAD_MESSAGE;
    if (op.result.decode) rc = read_answer(op, t->out, t->instance, rc, rsp, tree);
    cJSON_Delete(tree);
  } else if (op.result.decode) {
    /* A local failure: no answer to read, the record stays as it was. */
    RpcRsp none{};
    rc = read_answer(op, t->out, t->instance, rc, none, nullptr);
  }
  csapi_client_msg_free(t->msg);
  t->msg = nullptr;
  return rc;
}

int exec(OpId id, const OpArg *a) {
  cs_op_ticket t;
  (void)begin_op(id, a, &t);
  int rc = end_op(&t);
  csapi_err_set(rc);
  return rc;
}

}  // namespace

/* ---- The public entries --------------------------------------------------- */

#define CS_OP(name, sig, args, target, timeout, result, params) \
  extern "C" int name sig {                                     \
    const OpArg a[] = {CS_UNPAREN args};                        \
    return exec(OP_##name, a);                                  \
  }
#include "csapi/client/cs_ops.def"
#undef CS_OP

#define CS_OP(name, sig, args, target, timeout, result, params) \
  extern "C" int name##Begin CS_OP_BEGIN_SIG sig {              \
    const OpArg a[] = {CS_UNPAREN args};                        \
    if (!ticket) return CSAPI_ERR_BAD_PARAMETER;                \
    return begin_op(OP_##name, a, ticket);                      \
  }
#include "csapi/client/cs_ops.def"
#undef CS_OP

int cs_op_end(cs_op_ticket *ticket) {
  int rc = ticket ? end_op(ticket) : CSAPI_ERR_BAD_PARAMETER;
  csapi_err_set(rc);
  return rc;
}

void cs_ops_set_hooks(cs_ops_msg_alloc_fn alloc, cs_ops_call_fn call_fn) {
  g_alloc = alloc;
  g_call = call_fn;
}

size_t cs_ops_count(void) { return OP_COUNT; }

const char *cs_ops_name(size_t index) { return index < OP_COUNT ? kOps[index].name : nullptr; }
