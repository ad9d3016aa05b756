#include "sys_debug.h"

#include <atomic>
#include <bitset>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <strings.h>

#include "cpu_6502.h"
#include "cpu_6502_debug.h"
#include "dasm_6502.h"
#include "log.h"
#include "mem.h"
#include "sys_core.h"

constexpr uint8_t OP_JSR = 0x20;
constexpr uint8_t OP_RTS = 0x60;

enum run_mode { RUN_FREE, RUN_STEPS, RUN_OVER, RUN_RETURN };

struct watch_range {
    uint16_t first, last;
};

static struct {
    sys_debug_print_fn print;
    std::bitset<0x10000> breaks;
    int break_count;
    watch_range watches[DBG_WATCHES];
    int watch_count;
    dbg_stop stop; // state DBG_RUNNING while the machine runs
    int mode;
    int steps;          // RUN_STEPS: instructions left
    uint16_t target_pc; // RUN_OVER: the JSR's return address
    uint16_t target_sp; // RUN_OVER, RUN_RETURN: the stack pointer to return to
    bool resumed;       // the first instruction after a stop passes its breakpoint
    bool in_step;       // stores now are the processor's
    bool watched;       // the step stored to a watch: where and what in `hit`
    dbg_stop hit;
    std::atomic<int> notice;
} dbg;

__attribute__((format(printf, 1, 2))) static void say(const char *fmt, ...) {
    if (!dbg.print) return;
    char line[256];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    dbg.print("%s", line);
}

static uint8_t peek(unsigned addr) {
    addr &= 0xFFFF;
    if (addr - 0x0300u < 0x20u) return 0;
    uint8_t value = 0;
    mem_read(addr, &value);
    return value;
}

// The instruction at `pc` with its bytes; returns its length. *labels: its
// address's label ("name:") and the one its operand names ("(name)"), or "".
static int line_at(uint16_t pc, char *text, size_t room, std::string *labels) {
    uint8_t b[3] = {peek(pc), peek(pc + 1u), peek(pc + 2u)};
    char code[48];
    int size = dasm_6502_line(pc, b, 3, code, sizeof code);
    char hex[12] = "";
    for (int i = 0, used = 0; i < size; i++)
        used += snprintf(hex + used, sizeof hex - static_cast<size_t>(used), "%.2X ", b[i]);
    // Padded so that a line with the registers fits the narrowest console.
    snprintf(text, room, "%.4X  %-9s %-12s", pc, hex, code);
    labels->clear();
    if (const char *here = cpu_6502_debug_label(pc)) *labels = std::string(" ") + here + ":";
    if (const char *named = dasm_6502_operand_label(pc, b, 3))
        *labels += std::string(" (") + named + ")";
    return size;
}

static void show_line(const char *mark) {
    const cpu_6502_registers &r = cpu_6502;
    char text[96];
    std::string labels;
    line_at(r.pcreg, text, sizeof text, &labels);
    uint8_t p = r.flags;
    say("%s%s A=%.2X X=%.2X Y=%.2X S=%.2X %c%c-%c%c%c%c%c%s", mark, text, r.areg, r.xreg, r.yreg,
        r.stack & 0xFF, p & 0x80 ? 'N' : '.', p & 0x40 ? 'V' : '.', p & 0x10 ? 'B' : '.',
        p & 0x08 ? 'D' : '.', p & 0x04 ? 'I' : '.', p & 0x02 ? 'Z' : '.', p & 0x01 ? 'C' : '.',
        labels.c_str());
}

static void halt(int32_t state, uint16_t addr, uint8_t value) {
    dbg.stop = {state, addr, value};
    dbg.mode = RUN_FREE;
    dbg.steps = 0;
    if (state == DBG_BREAK) say("break at $%.4X", addr);
    if (state == DBG_WATCH) say("watch: $%.2X stored at $%.4X", value, addr);
    if (state == DBG_PAUSED) say("paused");
    show_line("> ");
    dbg.notice.store(1, std::memory_order_release);
}

static void on_store(unsigned addr, uint8_t value) {
    if (!dbg.in_step || dbg.watched) return;
    for (int i = 0; i < dbg.watch_count; i++) {
        if (addr >= dbg.watches[i].first && addr <= dbg.watches[i].last) {
            dbg.watched = true;
            dbg.hit = {DBG_WATCH, static_cast<uint16_t>(addr), value};
            return;
        }
    }
}

// Sends every store past on_store while a watch is set.
static void arm_watches() {
    mem_watch = on_store;
    if (dbg.watch_count)
        tr[0] |= TR_WATCH;
    else
        tr[0] &= static_cast<uint8_t>(~TR_WATCH);
}

// From a stop, or a run, into `mode`.
static void resume(int mode) {
    dbg.resumed = dbg.stop.state != DBG_RUNNING;
    dbg.stop = {DBG_RUNNING, 0, 0};
    dbg.mode = mode;
}

int sys_debug_set_printer(sys_debug_print_fn fn) {
    dbg.print = fn;
    return 0;
}

int sys_debug_init() {
    dbg.breaks.reset();
    dbg.break_count = 0;
    dbg.watch_count = 0;
    dbg.stop = {DBG_RUNNING, 0, 0};
    dbg.mode = RUN_FREE;
    dbg.steps = 0;
    dbg.resumed = dbg.in_step = dbg.watched = false;
    dbg.notice.store(0);
    arm_watches();
    return 0;
}

int sys_debug_active() {
    return dbg.stop.state != DBG_RUNNING || dbg.mode != RUN_FREE || dbg.break_count ||
           dbg.watch_count;
}

int sys_debug_systemloop(int *cycles) {
    *cycles = 0;
    if (dbg.stop.state != DBG_RUNNING) {
        event ev; // a stopped machine still resets and takes keys
        if (pull_event(&ev) == 0) sys_apply_event(ev);
        return 0;
    }
    cpu_6502_registers &r = cpu_6502;
    uint16_t pc = r.pcreg;
    if (dbg.breaks[pc] && !dbg.resumed) {
        halt(DBG_BREAK, pc, 0);
        return 0;
    }
    dbg.resumed = false;
    bool rts = dbg.mode == RUN_RETURN && peek(pc) == OP_RTS;
    if (dbg.mode == RUN_STEPS) show_line("  ");
    dbg.watched = false;
    dbg.in_step = true;
    sys_systemloop(cycles);
    dbg.in_step = false;
    if (dbg.watched)
        halt(DBG_WATCH, dbg.hit.addr, dbg.hit.value);
    else if (dbg.mode == RUN_STEPS && --dbg.steps <= 0)
        halt(DBG_STEPPED, r.pcreg, 0);
    else if (dbg.mode == RUN_OVER && r.pcreg == dbg.target_pc && r.stack >= dbg.target_sp)
        halt(DBG_STEPPED, r.pcreg, 0);
    else if (rts && r.stack > dbg.target_sp)
        halt(DBG_STEPPED, r.pcreg, 0);
    return 0;
}

int sys_debug_state(dbg_stop *out) {
    *out = dbg.stop;
    return 0;
}

int sys_debug_break(uint16_t addr) {
    if (dbg.breaks[addr]) return 0;
    if (dbg.break_count >= DBG_BREAKS) return 1;
    dbg.breaks[addr] = true;
    dbg.break_count++;
    return 0;
}

int sys_debug_unbreak(int addr) {
    if (addr < 0) {
        dbg.breaks.reset();
        dbg.break_count = 0;
        return 0;
    }
    if (!dbg.breaks[static_cast<size_t>(addr & 0xFFFF)]) return 1;
    dbg.breaks[static_cast<size_t>(addr & 0xFFFF)] = false;
    dbg.break_count--;
    return 0;
}

int sys_debug_watch(uint16_t first, uint16_t last) {
    if (dbg.watch_count >= DBG_WATCHES || last < first) return 1;
    dbg.watches[dbg.watch_count++] = {first, last};
    arm_watches();
    return 0;
}

int sys_debug_unwatch(int first) {
    int kept = 0;
    for (int i = 0; i < dbg.watch_count; i++)
        if (first >= 0 && dbg.watches[i].first != first) dbg.watches[kept++] = dbg.watches[i];
    bool removed = kept < dbg.watch_count;
    dbg.watch_count = kept;
    arm_watches();
    return first < 0 || removed ? 0 : 1;
}

int sys_debug_list() {
    for (size_t a = 0; a < dbg.breaks.size(); a++)
        if (dbg.breaks[a]) say("break $%.4X", static_cast<unsigned>(a));
    for (int i = 0; i < dbg.watch_count; i++)
        say("watch $%.4X-$%.4X", dbg.watches[i].first, dbg.watches[i].last);
    if (!dbg.break_count && !dbg.watch_count) say("no breakpoint, no watch");
    return 0;
}

int sys_debug_pause() {
    if (dbg.stop.state == DBG_RUNNING) halt(DBG_PAUSED, cpu_6502.pcreg, 0);
    return 0;
}

int sys_debug_continue() {
    resume(RUN_FREE);
    return 0;
}

int sys_debug_step(int count) {
    resume(RUN_STEPS);
    dbg.steps = count < 1 ? 1 : count;
    return 0;
}

int sys_debug_over() {
    if (peek(cpu_6502.pcreg) != OP_JSR) return sys_debug_step(1);
    resume(RUN_OVER);
    dbg.target_pc = static_cast<uint16_t>(cpu_6502.pcreg + 3);
    dbg.target_sp = cpu_6502.stack;
    return 0;
}

int sys_debug_return() {
    resume(RUN_RETURN);
    dbg.target_sp = cpu_6502.stack;
    return 0;
}

int sys_debug_take_notice() {
    return dbg.notice.exchange(0, std::memory_order_acq_rel);
}

int sys_debug_show() {
    show_line("> ");
    return 0;
}

int sys_debug_dump(uint16_t addr, int size) {
    for (int row = 0; row < size; row += DEBUG_DUMP_ROW) {
        char hex[64] = "", text[20] = "";
        int n = size - row < DEBUG_DUMP_ROW ? size - row : DEBUG_DUMP_ROW;
        for (int i = 0, used = 0; i < n; i++) {
            uint8_t b = peek(addr + static_cast<unsigned>(row + i));
            used += snprintf(hex + used, sizeof hex - static_cast<size_t>(used), "%.2X ", b);
            text[i] = b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.';
        }
        say("%.4X  %-24s %s", (addr + row) & 0xFFFF, hex, text);
    }
    return 0;
}

int sys_debug_disassemble(uint16_t addr, int lines, uint16_t *next) {
    for (int i = 0; i < lines; i++) {
        char text[96];
        std::string labels;
        addr = static_cast<uint16_t>(addr + line_at(addr, text, sizeof text, &labels));
        say("%s%s", text, labels.c_str());
    }
    if (next) *next = addr;
    return 0;
}

int sys_debug_set_register(const char *name, unsigned value) {
    cpu_6502_registers &r = cpu_6502;
    auto is = [name](const char *want) { return strcasecmp(name, want) == 0; };
    if (is("a"))
        r.areg = static_cast<uint8_t>(value);
    else if (is("x"))
        r.xreg = static_cast<uint8_t>(value);
    else if (is("y"))
        r.yreg = static_cast<uint8_t>(value);
    else if (is("s"))
        r.stack = static_cast<uint16_t>(0x0100 | (value & 0xFF));
    else if (is("p"))
        r.flags = static_cast<uint8_t>(value);
    else if (is("pc"))
        r.pcreg = static_cast<uint16_t>(value);
    else
        return 1;
    return 0;
}
