// Network faults of the simulator: a link that goes silent, resets, cuts a
// message in half, answers late, delays with jitter, loses notifications,
// or a codec that reboots. The faults are named once, in the table below;
// the command lines of both front ends and the in-process API share it.
#include <random>
#include <sstream>

#include "sim_server.h"

using namespace codec_sim_internal;

namespace {

// name, kind, fewest and most numeric arguments, lasting (applies to later
// connections too when not aimed at the next one)
#define CODEC_SIM_FAULTS(X)                                        \
    X("blackhole", CODEC_SIM_BLACKHOLE, 0, 0, true)                \
    X("rst", CODEC_SIM_RST, 0, 0, false)                           \
    X("cut-mid-frame", CODEC_SIM_CUT_MID_FRAME, 0, 0, false)       \
    X("stall-answers", CODEC_SIM_STALL_ANSWERS, 1, 1, true)        \
    X("delay", CODEC_SIM_DELAY, 1, 2, true)                        \
    X("drop-notifications", CODEC_SIM_DROP_NOTIFICATIONS, 1, 1, true) \
    X("random-rst", CODEC_SIM_RANDOM_RST, 1, 1, true)              \
    X("restart", CODEC_SIM_RESTART, 0, 1, false)

struct fault_row {
    const char *name;
    codec_sim_fault_kind kind;
    int min_args, max_args;
    bool lasting;
};

const fault_row kFaults[] = {
#define X(n, k, lo, hi, l) {n, k, lo, hi, l},
    CODEC_SIM_FAULTS(X)
#undef X
};

const fault_row *fault_by_kind(codec_sim_fault_kind k) {
    for (const auto &r : kFaults)
        if (r.kind == k) return &r;
    return nullptr;
}

// Presets for app developers: a name and its fault commands.
#define CODEC_SIM_PRESETS(X)                                              \
    X("flaky-wifi", "delay 200 100", "random-rst 60", "")                 \
    X("barely-working", "delay 1000 800", "drop-notifications 20", "random-rst 20")

struct preset_row {
    const char *name;
    const char *commands[3];
};

const preset_row kPresets[] = {
#define X(n, a, b, c) {n, {a, b, c}},
    CODEC_SIM_PRESETS(X)
#undef X
};

std::mt19937 &rng() {
    thread_local std::mt19937 g(std::random_device{}());
    return g;
}

// Argument limits: stall up to an hour, delay and jitter up to a minute,
// a percentage, a mean reset time of a day at most, a restart pause of ten
// minutes at most.
bool args_ok(codec_sim_fault_kind k, int a, int b) {
    switch (k) {
    case CODEC_SIM_STALL_ANSWERS: return a >= 0 && a <= 3600;
    case CODEC_SIM_DELAY: return a >= 0 && a <= 60000 && b >= 0 && b <= 60000;
    case CODEC_SIM_DROP_NOTIFICATIONS: return a >= 0 && a <= 100;
    case CODEC_SIM_RANDOM_RST: return a >= 0 && a <= 86400;
    case CODEC_SIM_RESTART: return a >= 0 && a <= 600000;
    default: return true;
    }
}

void apply(net_conditions &n, codec_sim_fault_kind k, int a, int b) {
    switch (k) {
    case CODEC_SIM_BLACKHOLE: n.blackhole = true; break;
    case CODEC_SIM_RST: n.rst = true; break;
    case CODEC_SIM_CUT_MID_FRAME: n.cut_next = true; break;
    case CODEC_SIM_STALL_ANSWERS: n.stall_answers_ms = a * 1000; break;
    case CODEC_SIM_DELAY:
        n.delay_ms = a;
        n.jitter_ms = b;
        break;
    case CODEC_SIM_DROP_NOTIFICATIONS: n.drop_percent = a; break;
    case CODEC_SIM_RANDOM_RST: n.random_rst_mean_s = a; break;
    case CODEC_SIM_RESTART: break;
    }
}

// Lasting conditions of b added to a (b's set values win).
void merge(net_conditions &a, const net_conditions &b) {
    a.blackhole = a.blackhole || b.blackhole;
    a.rst = a.rst || b.rst;
    a.cut_next = a.cut_next || b.cut_next;
    if (b.stall_answers_ms) a.stall_answers_ms = b.stall_answers_ms;
    if (b.delay_ms || b.jitter_ms) {
        a.delay_ms = b.delay_ms;
        a.jitter_ms = b.jitter_ms;
    }
    if (b.drop_percent) a.drop_percent = b.drop_percent;
    if (b.random_rst_mean_s) a.random_rst_mean_s = b.random_rst_mean_s;
}

}  // namespace

namespace codec_sim_internal {

int net_random(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng()); }

clock_type::time_point net_random_rst_time(int mean_s) {
    if (mean_s <= 0) return clock_type::time_point::max();
    double s = std::exponential_distribution<double>(1.0 / mean_s)(rng());
    return clock_type::now() + std::chrono::milliseconds(static_cast<long long>(s * 1000) + 1);
}

void net_take_for_new_conn(codec_sim *sim, sim_conn &c) {
    c.net = sim->net_every;
    c.net.rst = c.net.cut_next = false;
    if (sim->net_next_armed) {
        merge(c.net, sim->net_next);
        sim->net_next = net_conditions{};
        sim->net_next_armed = false;
    }
    c.rst_at = net_random_rst_time(c.net.random_rst_mean_s);
}

void enqueue(sim_conn &c, outbound o, int delay_ms) {
    auto now = clock_type::now();
    {
        std::lock_guard<std::mutex> lk(c.mu);
        const net_conditions &n = c.net;
        if (o.notification && n.drop_percent > 0 && net_random(1, 100) <= n.drop_percent) return;
        auto due = now + std::chrono::milliseconds(std::max(delay_ms, 0) + (o.answer ? n.stall_answers_ms : 0));
        if (n.delay_ms > 0 || n.jitter_ms > 0) {
            int ms = n.delay_ms + (n.jitter_ms > 0 ? net_random(-n.jitter_ms, n.jitter_ms) : 0);
            due += std::chrono::milliseconds(std::max(ms, 0));
            if (due < c.last_due) due = c.last_due;  // a link delays, it does not reorder
            c.last_due = due;
        }
        c.queue.emplace(std::make_pair(due, c.seq++), std::move(o));
    }
    wake_fd(c.wake[1]);
}

}  // namespace codec_sim_internal

int codec_sim_fault(codec_sim *sim, codec_sim_fault_kind kind, int a, int b, bool next_only) {
    const fault_row *row = fault_by_kind(kind);
    if (!sim || !row || !args_ok(kind, a, b)) return -1;
    if (kind == CODEC_SIM_RESTART) {
        int open = codec_sim_connection_count(sim);
        {
            std::lock_guard<std::mutex> lk(sim->mu);
            sim->restart_pause_ms = a;
        }
        wake_fd(sim->wake[1]);
        return open;
    }
    std::vector<std::shared_ptr<sim_conn>> list;
    {
        std::lock_guard<std::mutex> lk(sim->mu);
        if (next_only) {
            apply(sim->net_next, kind, a, b);
            sim->net_next_armed = true;
            return 0;
        }
        if (row->lasting) apply(sim->net_every, kind, a, b);
    }
    list = open_conns(sim, 0);
    for (auto &c : list) {
        {
            std::lock_guard<std::mutex> lk(c->mu);
            apply(c->net, kind, a, b);
            if (kind == CODEC_SIM_RANDOM_RST) c->rst_at = net_random_rst_time(a);
        }
        wake_fd(c->wake[1]);
    }
    return static_cast<int>(list.size());
}

void codec_sim_clear_faults(codec_sim *sim) {
    if (!sim) return;
    {
        std::lock_guard<std::mutex> lk(sim->mu);
        sim->net_every = net_conditions{};
        sim->net_next = net_conditions{};
        sim->net_next_armed = false;
    }
    for (auto &c : open_conns(sim, 0)) {
        {
            std::lock_guard<std::mutex> lk(c->mu);
            c->net = net_conditions{};
            c->rst_at = clock_type::time_point::max();
        }
        wake_fd(c->wake[1]);
    }
}

int codec_sim_restarts(codec_sim *sim) {
    std::lock_guard<std::mutex> lk(sim->mu);
    return sim->restarts;
}

std::vector<std::string> codec_sim_net_preset(const std::string &name) {
    std::vector<std::string> out;
    for (const auto &p : kPresets) {
        if (name != p.name) continue;
        for (const char *c : p.commands)
            if (*c) out.push_back(c);
    }
    return out;
}

int codec_sim_fault_command(codec_sim *sim, const std::string &line, std::string *reply) {
    std::istringstream in(line);
    std::string word;
    in >> word;
    auto fail = [&](const std::string &why) {
        if (reply) *reply = why;
        return -1;
    };
    if (word == "clear") {
        codec_sim_clear_faults(sim);
        if (reply) *reply = "faults cleared";
        return 0;
    }
    if (word == "net") {
        std::string name;
        in >> name;
        auto cmds = codec_sim_net_preset(name);
        if (cmds.empty()) return fail("unknown preset: " + name);
        for (const auto &c : cmds) codec_sim_fault_command(sim, c, nullptr);
        if (reply) *reply = "net " + name;
        return 0;
    }
    bool next_only = word == "next";
    if (next_only) in >> word;
    const fault_row *row = nullptr;
    for (const auto &r : kFaults)
        if (word == r.name) row = &r;
    if (!row) return fail("unknown fault: " + word);
    int args[2] = {0, 0};
    int n = 0;
    std::string tok;
    while (in >> tok) {
        char *end = nullptr;
        long v = strtol(tok.c_str(), &end, 10);
        if (n >= row->max_args || *end || end == tok.c_str() || v < 0 || v > 10000000)
            return fail(std::string("bad arguments for ") + row->name);
        args[n++] = static_cast<int>(v);
    }
    if (n < row->min_args) return fail(std::string("missing argument for ") + row->name);
    if (row->kind == CODEC_SIM_RESTART && n == 0) args[0] = 2000;
    if (row->kind == CODEC_SIM_RESTART && next_only) return fail("restart acts at once");
    int r = codec_sim_fault(sim, row->kind, args[0], args[1], next_only);
    if (r < 0) return fail(std::string("bad arguments for ") + row->name);
    if (reply) *reply = std::string(row->name) + (next_only ? ": next connection" : ": " + std::to_string(r) + " connection(s)");
    return r;
}
