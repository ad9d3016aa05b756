#include "cpu_6502.h"

#include <array>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstring>

#include "cpu_6502_debug.h"
#include "log.h"
#include "mem.h"
#include "state.h"

constexpr uint16_t CPU_VEC_NMI = 0xFFFA;
constexpr uint16_t CPU_VEC_RESET = 0xFFFC;
constexpr uint16_t CPU_VEC_IRQ = 0xFFFE;

constexpr uint8_t CPU_C = 0x01;
constexpr uint8_t CPU_Z = 0x02;
constexpr uint8_t CPU_I = 0x04;
constexpr uint8_t CPU_D = 0x08;
constexpr uint8_t CPU_B = 0x10;
constexpr uint8_t CPU_U = 0x20;
constexpr uint8_t CPU_V = 0x40;
constexpr uint8_t CPU_N = 0x80;

// Undocumented opcodes are reported once per (address, opcode) until the
// next reset, so a halted processor or a loop using them cannot flood the
// output. Open addressing over a fixed table; past the cap, one notice.
constexpr int CPU_SEEN_SLOTS = 256;
constexpr int CPU_SEEN_CAP = 192;

// The step's helpers must vanish into their callers: a call per operand
// would cost more than the operation.
#define ALWAYS_INLINE __attribute__((always_inline))

cpu_6502_registers cpu_6502;

// Outlives a reset. The empty range holds address 0 alone, which the
// high-half test never meets, and a traced step finds no hook to call.
static struct {
    int (*catch_up)(int cycles);
    void (*entry)();
    unsigned entry_first;
    unsigned entry_span;
} wiring;

// Exact timing: the devices are brought to the access's own cycle first.
ALWAYS_INLINE static inline void catch_up(int late) {
    if (wiring.catch_up) wiring.catch_up(late);
}

static struct {
    uint32_t seen[CPU_SEEN_SLOTS]; // (address << 8 | opcode) + 1; 0 = free
    int seen_count;
    int seen_full;
} cpu_report;

[[gnu::cold, gnu::noinline]] static void report_invalid(uint16_t addr, uint8_t op) {
    uint32_t key = (static_cast<uint32_t>(addr) << 8 | op) + 1;
    uint32_t slot = (key * 2654435761u) >> 24;
    for (int probe = 0; probe < CPU_SEEN_SLOTS; probe++) {
        uint32_t &entry = cpu_report.seen[(slot + probe) % CPU_SEEN_SLOTS];
        if (entry == key) return;
        if (entry == 0) {
            if (cpu_report.seen_count >= CPU_SEEN_CAP) break;
            entry = key;
            cpu_report.seen_count++;
            log_debug("invalid opcode: %.4X: %.2X", addr, op);
            return;
        }
    }
    if (!cpu_report.seen_full) {
        cpu_report.seen_full = 1;
        log_debug("invalid opcode: further addresses not reported until reset");
    }
}

ALWAYS_INLINE static inline uint8_t read_byte(unsigned addr) {
    uint8_t value = 0;
    mem_read(addr, &value);
    return value;
}

static_assert(std::endian::native == std::endian::little, "the stack's low byte comes first");

// N and Z as a result byte sets them.
constexpr auto nz_flags = [] {
    std::array<uint8_t, 256> table{};
    for (int v = 0; v < 256; v++)
        table[v] = static_cast<uint8_t>((v & CPU_N) | (v == 0 ? CPU_Z : 0));
    return table;
}();
static_assert(nz_flags.size() == 256 && nz_flags[0] == CPU_Z && nz_flags[0x80] == CPU_N);

int cpu_6502_wire(const cpu_6502_wiring &w) {
    assert(w.entry_first >= 0xC000 && w.entry_first <= w.entry_last && w.entry_last <= 0xFFFD &&
           "sources/cpu_6502");
    wiring.catch_up = w.catch_up;
    wiring.entry = w.entry;
    wiring.entry_first = w.entry_first;
    wiring.entry_span = static_cast<unsigned>(w.entry_last - w.entry_first);
    return 0;
}

int cpu_6502_init() {
    cpu_6502_registers &r = cpu_6502;
    r.flanknmi = 0;
    r.flagnmi = 0;
    r.flagirq = 0;
    r.areg = r.xreg = r.yreg = 0xFF;
    r.stack = 0x01FF;
    r.totalcycles = 7;
    r.flags = 0xF7;
    r.pcreg = static_cast<uint16_t>(read_byte(CPU_VEC_RESET) | read_byte(CPU_VEC_RESET + 1) << 8);
    // The reset sequence walks the stack pointer down three places but writes nothing.
    r.stack = static_cast<uint16_t>(0x0100 | ((r.stack - 3) & 0xFF));
    memset(&cpu_report, 0, sizeof cpu_report);
    cpu_6502_debug_init();
    return 0;
}

// How a step reaches the bus. Traced: every access through the decoder, so
// the traces see it. Checked: plain RAM and ROM inline, the I/O page through
// the decoder. Direct: as checked, and the
// instruction's own bytes lie in plain memory and are read straight from it.
enum bus_mode { BUS_TRACED, BUS_CHECKED, BUS_DIRECT };

[[gnu::noinline]] static uint8_t read_decoded(unsigned addr) {
    uint8_t value = 0;
    mem_read_decoded(addr, &value);
    return value;
}

// After an instruction of `cycles`: NMI first, then IRQ unless masked.
// Returns the step's cycles, the entry's included.
// Exact timing keeps D through the entry, as the NMOS part does.
template <int MODE, bool EXACT> [[gnu::noinline]] static int enter_interrupt(int cycles) {
    cpu_6502_registers &r = cpu_6502;
    unsigned vector;
    if (r.flanknmi) {
        r.flanknmi = 0;
        vector = CPU_VEC_NMI;
    } else if (r.flagirq && !(r.flags & CPU_I)) {
        vector = CPU_VEC_IRQ;
    } else {
        return cycles;
    }
    auto push = [&](uint8_t value) {
        unsigned addr = 0x0100u | (r.stack & 0xFF);
        if constexpr (MODE == BUS_TRACED)
            mem_write_decoded(addr, value);
        else
            ram.data[addr] = value;
        r.stack = static_cast<uint16_t>(0x0100 | ((r.stack - 1) & 0xFF));
    };
    push(r.pcreg >> 8);
    push(r.pcreg & 0xFF);
    push(r.flags & ~CPU_B);
    r.flags = static_cast<uint8_t>((r.flags | CPU_I) & (EXACT ? 0xFF : ~CPU_D));
    unsigned lo = read_byte(vector);
    r.pcreg = static_cast<uint16_t>(lo | read_byte(vector + 1) << 8);
    r.totalcycles += 7;
    return cycles + 7;
}

[[gnu::noinline]] static int execute_checked();
[[gnu::noinline]] static int execute_checked_exact();

// The IRQ level and the NMI latch sit side by side and are tested as one word.
static_assert(offsetof(cpu_6502_registers, flanknmi) ==
              offsetof(cpu_6502_registers, flagirq) + sizeof(int));
ALWAYS_INLINE static inline bool interrupt_waiting() {
    uint64_t lines;
    memcpy(&lines,
           reinterpret_cast<const char *>(&cpu_6502) + offsetof(cpu_6502_registers, flagirq),
           sizeof lines);
    return lines != 0;
}

// Decimal ADC and SBC on the register file.
ALWAYS_INLINE static inline void add_decimal(uint8_t m) {
    cpu_6502_registers &r = cpu_6502;
    uint8_t a = r.areg;
    unsigned carry = r.flags & CPU_C;
    unsigned lo = (a & 0x0F) + (m & 0x0F) + carry;
    if (lo > 9) lo += 6;
    unsigned t = (lo & 0x0F) + (a & 0xF0) + (m & 0xF0) + (lo > 0x0F ? 0x10 : 0);
    unsigned z = ((a + m + carry) & 0xFF) == 0 ? CPU_Z : 0;
    unsigned v = ((t ^ a) & ~(a ^ m) & 0x80) >> 1;
    unsigned n = t & CPU_N;
    if ((t & 0x1F0) > 0x90) t += 0x60;
    unsigned c = (t & 0xFF0) > 0xF0;
    r.areg = static_cast<uint8_t>(t);
    r.flags = static_cast<uint8_t>((r.flags & ~(CPU_N | CPU_V | CPU_Z | CPU_C)) | n | v | z | c);
}

// Flags as in binary mode; the accumulator gets the decimal difference.
ALWAYS_INLINE static inline void subtract_decimal(uint8_t m) {
    cpu_6502_registers &r = cpu_6502;
    uint8_t a = r.areg;
    int borrow = 1 - (r.flags & CPU_C);
    int d = a - m - borrow;
    unsigned v = ((a ^ m) & (a ^ d) & 0x80) >> 1;
    int lo = (a & 0x0F) - (m & 0x0F) - borrow;
    int bcd;
    if (lo & 0x10)
        bcd = ((a & 0xF0) - (m & 0xF0) - 0x10) | ((lo - 6) & 0x0F);
    else
        bcd = ((a & 0xF0) - (m & 0xF0)) | (lo & 0x0F);
    if (bcd & 0x100) bcd -= 0x60;
    r.areg = static_cast<uint8_t>(bcd);
    r.flags = static_cast<uint8_t>((r.flags & ~(CPU_N | CPU_V | CPU_Z | CPU_C)) |
                                   nz_flags[static_cast<uint8_t>(d)] | v | (d >= 0));
}

// Direct mode finishes decimal arithmetic out of line, end of step included,
// so that its own path keeps no frame.
template <bool EXACT>
[[gnu::noinline]] static int finish_decimal(uint8_t m, bool subtract, uint16_t pc, int cycles) {
    cpu_6502_registers &r = cpu_6502;
    if (subtract)
        subtract_decimal(m);
    else
        add_decimal(m);
    r.pcreg = pc;
    r.flags |= CPU_B | CPU_U;
    r.totalcycles += static_cast<uint64_t>(cycles);
    if (interrupt_waiting()) return enter_interrupt<BUS_DIRECT, EXACT>(cycles);
    return cycles;
}

// One instruction and the interrupt check after it. The registers live in
// locals for the step; `ip` points at the opcode in direct mode. EXACT adds
// the cycle that an indexed read spends when its index carries into the high
// byte.
template <int MODE, bool EXACT> ALWAYS_INLINE static inline int execute(const uint8_t *ip) {
    cpu_6502_registers &r = cpu_6502;
    uint8_t &areg = r.areg;
    uint8_t &xreg = r.xreg;
    uint8_t &yreg = r.yreg;
    uint8_t &flags = r.flags;
    uint16_t pcreg = r.pcreg;
    uint16_t &stack = r.stack;
    // The stack stays in page one: pushes and pulls move the low byte alone.
    uint8_t &sreg = *reinterpret_cast<uint8_t *>(&r.stack);
    uint8_t *__restrict const ram_image = ram.data;
    uint64_t cycles;      // one register serves the count and the result
    unsigned crossed = 0; // exact timing: the page-crossing cycle
    // Exact timing: how many cycles later in the instruction the next access
    // at the effective address falls than an absolute-addressed one's.
    [[maybe_unused]] int late = 0;

    // Bus and stack. Every address handed to the bus is already within 16 bits.
    // A store through the decoder may flip the switches, so the high half is
    // looked up on each access there.
    // A device access in exact timing first brings the VIA to its cycle.
    auto device = [&]() ALWAYS_INLINE {
        if constexpr (EXACT) catch_up(late);
    };
    auto rd = [&](unsigned addr) ALWAYS_INLINE -> uint8_t {
        if constexpr (MODE == BUS_TRACED) {
            device();
            return read_decoded(addr);
        } else {
            if (__builtin_expect(!mem_plain_read(addr), 0)) {
                device();
                return read_decoded(addr);
            }
            return mem_plain_byte(addr);
        }
    };
    auto wr = [&](unsigned addr, uint8_t value) ALWAYS_INLINE {
        if constexpr (MODE != BUS_TRACED) {
            if (__builtin_expect(mem_plain_write(addr), 1)) {
                ram_image[addr] = value;
                return;
            }
        }
        device();
        mem_write_decoded(addr, value);
    };
    auto fetch = [&]() ALWAYS_INLINE -> uint8_t {
        if constexpr (MODE == BUS_DIRECT) {
            pcreg++;
            return *ip++;
        } else {
            return rd(pcreg++);
        }
    };
    auto peek = [&]() ALWAYS_INLINE -> uint8_t {
        if constexpr (MODE == BUS_DIRECT) {
            return *ip;
        } else {
            return rd(pcreg);
        }
    };
    auto push = [&](uint8_t value) ALWAYS_INLINE {
        if constexpr (MODE == BUS_TRACED) {
            mem_write_decoded(0x0100u | sreg, value);
        } else {
            ram_image[0x0100u + sreg] = value;
        }
        sreg--;
    };
    auto pull = [&]() ALWAYS_INLINE -> uint8_t {
        sreg++;
        if constexpr (MODE == BUS_TRACED) {
            return read_decoded(0x0100u | sreg);
        } else {
            return ram_image[0x0100u + sreg];
        }
    };
    // Page zero never reaches a device.
    auto zrd = [&](unsigned addr) ALWAYS_INLINE -> uint8_t {
        if constexpr (MODE == BUS_TRACED) {
            return read_decoded(addr);
        } else {
            return ram_image[addr & 0xFF];
        }
    };

    // Effective addresses. Zero-page pointers wrap within page zero.
    auto ea_zp = [&]() ALWAYS_INLINE -> unsigned { return fetch(); };
    auto ea_zpx = [&]() ALWAYS_INLINE -> unsigned { return (fetch() + xreg) & 0xFF; };
    auto ea_zpy = [&]() ALWAYS_INLINE -> unsigned { return (fetch() + yreg) & 0xFF; };
    auto ea_abs = [&]() ALWAYS_INLINE -> unsigned {
        unsigned lo = fetch();
        return lo | fetch() << 8;
    };
    auto ea_izx = [&]() ALWAYS_INLINE -> unsigned {
        unsigned p = (fetch() + xreg) & 0xFF;
        unsigned lo = zrd(p);
        return lo | zrd((p + 1) & 0xFF) << 8;
    };
    auto ptr_zp = [&]() ALWAYS_INLINE -> unsigned {
        unsigned p = fetch();
        unsigned lo = zrd(p);
        return lo | zrd((p + 1) & 0xFF) << 8;
    };
    // Indexed reads alone pay for a carry into the high byte.
    auto indexed_read = [&](unsigned base, uint8_t index) ALWAYS_INLINE -> unsigned {
        if constexpr (EXACT) crossed = ((base & 0xFF) + index) >> 8;
        return (base + index) & 0xFFFF;
    };

    // Operations on the status byte, which is updated in place.
    auto nz = [&](uint8_t value) ALWAYS_INLINE {
        flags = static_cast<uint8_t>((flags & ~(CPU_N | CPU_Z)) | nz_flags[value]);
    };
    // N, Z and carry together.
    auto nzc = [&](uint8_t value, unsigned carry) ALWAYS_INLINE {
        flags = static_cast<uint8_t>((flags & ~(CPU_N | CPU_Z | CPU_C)) | nz_flags[value] | carry);
    };
    auto ora = [&](uint8_t m) ALWAYS_INLINE { nz(areg |= m); };
    auto anda = [&](uint8_t m) ALWAYS_INLINE { nz(areg &= m); };
    auto eor = [&](uint8_t m) ALWAYS_INLINE { nz(areg ^= m); };
    auto lda = [&](uint8_t m) ALWAYS_INLINE { nz(areg = m); };
    auto ldx = [&](uint8_t m) ALWAYS_INLINE { nz(xreg = m); };
    auto ldy = [&](uint8_t m) ALWAYS_INLINE { nz(yreg = m); };
    auto compare = [&](uint8_t reg, uint8_t m)
                       ALWAYS_INLINE { nzc(static_cast<uint8_t>(reg - m), reg >= m); };
    auto bit = [&](uint8_t m) ALWAYS_INLINE {
        flags = static_cast<uint8_t>((flags & ~(CPU_N | CPU_V | CPU_Z)) | (m & (CPU_N | CPU_V)) |
                                     ((areg & m) == 0 ? CPU_Z : 0));
    };
    auto adc = [&](uint8_t m) ALWAYS_INLINE {
        if (MODE != BUS_DIRECT && (flags & CPU_D)) return add_decimal(m);
        unsigned s = areg + m + (flags & CPU_C);
        unsigned v = ((s ^ areg) & ~(areg ^ m) & 0x80) >> 1;
        areg = static_cast<uint8_t>(s);
        flags = static_cast<uint8_t>((flags & ~(CPU_N | CPU_V | CPU_Z | CPU_C)) | nz_flags[areg] |
                                     v | (s >> 8));
    };
    auto sbc = [&](uint8_t m) ALWAYS_INLINE {
        if (MODE != BUS_DIRECT && (flags & CPU_D)) return subtract_decimal(m);
        int d = areg - m - (1 - (flags & CPU_C));
        unsigned v = ((areg ^ m) & (areg ^ d) & 0x80) >> 1;
        areg = static_cast<uint8_t>(d);
        flags = static_cast<uint8_t>((flags & ~(CPU_N | CPU_V | CPU_Z | CPU_C)) | nz_flags[areg] |
                                     v | (d >= 0));
    };
    auto asl = [&](uint8_t m) ALWAYS_INLINE -> uint8_t {
        uint8_t out = static_cast<uint8_t>(m << 1);
        nzc(out, m >> 7);
        return out;
    };
    auto lsr = [&](uint8_t m) ALWAYS_INLINE -> uint8_t {
        uint8_t out = m >> 1;
        nzc(out, m & 1);
        return out;
    };
    auto rol = [&](uint8_t m) ALWAYS_INLINE -> uint8_t {
        uint8_t out = static_cast<uint8_t>(m << 1 | (flags & CPU_C));
        nzc(out, m >> 7);
        return out;
    };
    auto ror = [&](uint8_t m) ALWAYS_INLINE -> uint8_t {
        uint8_t out = static_cast<uint8_t>(m >> 1 | (flags & CPU_C) << 7);
        nzc(out, m & 1);
        return out;
    };
    auto inc = [&](uint8_t m) ALWAYS_INLINE -> uint8_t {
        nz(++m);
        return m;
    };
    auto dec = [&](uint8_t m) ALWAYS_INLINE -> uint8_t {
        nz(--m);
        return m;
    };
    auto branch = [&](bool taken) ALWAYS_INLINE {
        int8_t offset = static_cast<int8_t>(fetch());
        if (!taken) return 2;
        uint16_t next = pcreg;
        pcreg = static_cast<uint16_t>(pcreg + offset);
        return (next ^ pcreg) & 0xFF00 ? 4 : 3;
    };
    auto pull_flags = [&]() ALWAYS_INLINE { flags = pull() | CPU_U | CPU_B; };

    // Undocumented read-modify-write pairs: the shift, then the accumulator op.
    auto slo = [&](unsigned ea) ALWAYS_INLINE {
        uint8_t m = asl(rd(ea));
        wr(ea, m);
        ora(m);
    };
    auto rla = [&](unsigned ea) ALWAYS_INLINE {
        uint8_t m = rol(rd(ea));
        wr(ea, m);
        anda(m);
    };
    auto sre = [&](unsigned ea) ALWAYS_INLINE {
        uint8_t m = lsr(rd(ea));
        wr(ea, m);
        eor(m);
    };
    auto rra = [&](unsigned ea) ALWAYS_INLINE {
        uint8_t m = ror(rd(ea));
        wr(ea, m);
        adc(m);
    };
    auto dcp = [&](unsigned ea) ALWAYS_INLINE {
        uint8_t m = static_cast<uint8_t>(rd(ea) - 1);
        wr(ea, m);
        compare(areg, m);
    };
    auto isc = [&](unsigned ea) ALWAYS_INLINE {
        uint8_t m = static_cast<uint8_t>(rd(ea) + 1);
        wr(ea, m);
        sbc(m);
    };
    auto lax = [&](uint8_t m) ALWAYS_INLINE { nz(areg = xreg = m); };
    // The unstable stores: the value is ANDed with the base high byte + 1.
    auto store_and_high = [&](unsigned base, uint8_t index, uint8_t value) ALWAYS_INLINE {
        unsigned ea = (base + index) & 0xFFFF;
        wr(ea, value & static_cast<uint8_t>((base >> 8) + 1));
    };

    // Accesses at the instruction's effective address. In direct mode they
    // leave for the checked mode before any state has changed (statement
    // expressions, so that they can jump out); read-modify-write checks its
    // address once, by the store's rule.
#define RD(ADDR)                                                                                   \
    ({                                                                                             \
        unsigned rd_addr = (ADDR);                                                                 \
        uint8_t rd_value;                                                                          \
        if constexpr (MODE == BUS_DIRECT) {                                                        \
            if (!mem_plain_read(rd_addr)) goto bail;                                               \
            rd_value = mem_plain_byte(rd_addr);                                                    \
        } else {                                                                                   \
            rd_value = rd(rd_addr);                                                                \
        }                                                                                          \
        rd_value;                                                                                  \
    })
#define WR(ADDR, VALUE)                                                                            \
    ({                                                                                             \
        unsigned wr_addr = (ADDR);                                                                 \
        uint8_t wr_value = (VALUE);                                                                \
        if constexpr (MODE == BUS_DIRECT) {                                                        \
            if (!mem_plain_write(wr_addr)) goto bail;                                              \
            ram_image[wr_addr] = wr_value;                                                         \
        } else {                                                                                   \
            wr(wr_addr, wr_value);                                                                 \
        }                                                                                          \
    })
#define RMW(EA, OP)                                                                                \
    ({                                                                                             \
        unsigned rmw_addr = (EA);                                                                  \
        if constexpr (MODE == BUS_DIRECT) {                                                        \
            if (!mem_plain_write(rmw_addr)) goto bail;                                             \
            ram_image[rmw_addr] = OP(mem_plain_byte(rmw_addr));                                    \
        } else {                                                                                   \
            uint8_t rmw_value = rd(rmw_addr);                                                      \
            if constexpr (EXACT) { /* the byte unchanged goes out first, a cycle each */           \
                late++;                                                                            \
                wr(rmw_addr, rmw_value);                                                           \
                late++;                                                                            \
            }                                                                                      \
            wr(rmw_addr, OP(rmw_value));                                                           \
        }                                                                                          \
    })
    // Exact timing: an indexed access first reads the address whose high byte
    // the carry has not reached yet, a cycle before its own access; stores and
    // read-modify-write always do, reads only when there is a carry (their
    // access then a cycle later). A device may notice (a read clears a VIA
    // flag); in direct mode that address must be plain. LATE: the access's
    // lateness without a carry, against an absolute-addressed one.
#define PARTIAL_READ(BASE, EA)                                                                     \
    ({                                                                                             \
        unsigned partial = ((BASE)&0xFF00) | ((EA)&0xFF);                                          \
        if constexpr (MODE == BUS_DIRECT) {                                                        \
            if (!mem_plain_read(partial)) goto bail;                                               \
        } else {                                                                                   \
            rd(partial);                                                                           \
        }                                                                                          \
    })
#define INDEXED(BASE, INDEX, LATE)                                                                 \
    ({                                                                                             \
        unsigned ix_base = (BASE);                                                                 \
        unsigned ix_ea = (ix_base + (INDEX)) & 0xFFFF;                                             \
        if constexpr (EXACT) {                                                                     \
            late = (LATE)-1;                                                                       \
            PARTIAL_READ(ix_base, ix_ea);                                                          \
            late = (LATE);                                                                         \
        }                                                                                          \
        ix_ea;                                                                                     \
    })
#define INDEXED_RD(BASE, INDEX, LATE)                                                              \
    ({                                                                                             \
        unsigned ix_base = (BASE);                                                                 \
        unsigned ix_ea = indexed_read(ix_base, (INDEX));                                           \
        if constexpr (EXACT) {                                                                     \
            late = (LATE);                                                                         \
            if (crossed) {                                                                         \
                PARTIAL_READ(ix_base, ix_ea);                                                      \
                late = (LATE) + 1;                                                                 \
            }                                                                                      \
        }                                                                                          \
        ix_ea;                                                                                     \
    })
#define EA_ABX() INDEXED(ea_abs(), xreg, 1)
#define EA_ABY() INDEXED(ea_abs(), yreg, 1)
#define EA_IZY() INDEXED(ptr_zp(), yreg, 2)
#define EA_ABX_RD() INDEXED_RD(ea_abs(), xreg, 0)
#define EA_ABY_RD() INDEXED_RD(ea_abs(), yreg, 0)
#define EA_IZY_RD() INDEXED_RD(ptr_zp(), yreg, 1)
#define EA_IZX()                                                                                   \
    ({                                                                                             \
        unsigned izx_ea = ea_izx();                                                                \
        if constexpr (EXACT) late = 2;                                                             \
        izx_ea;                                                                                    \
    })
#define ARITH(OP, SUBTRACT, VALUE, CYCLES)                                                         \
    ({                                                                                             \
        uint8_t arith_m = (VALUE);                                                                 \
        if constexpr (MODE == BUS_DIRECT)                                                          \
            if (flags & CPU_D)                                                                     \
                return finish_decimal<EXACT>(arith_m, SUBTRACT, pcreg, CYCLES + crossed);          \
        OP(arith_m);                                                                               \
        cycles = CYCLES;                                                                           \
    })
#define UNDOCUMENTED()                                                                             \
    ({                                                                                             \
        if constexpr (MODE == BUS_DIRECT) goto bail;                                               \
        report_invalid(oppc, op);                                                                  \
    })

    uint16_t oppc = pcreg;
    uint8_t op = fetch();
    // One case per opcode, kept to a line where it fits so the table reads across.
    // clang-format off
    switch (op) {
    // 0x
    case 0x00: {  // BRK: the byte after the opcode is skipped
        pcreg++;
        push(pcreg >> 8);
        push(pcreg & 0xFF);
        push(flags | CPU_B | CPU_U);
        flags |= CPU_I;
        unsigned lo = RD(CPU_VEC_IRQ);
        pcreg = static_cast<uint16_t>(lo | RD(CPU_VEC_IRQ + 1) << 8);
        cycles = 7;
        break;
    }
    case 0x01: ora(RD(EA_IZX())); cycles = 6; break;
    case 0x05: ora(RD(ea_zp())); cycles = 3; break;
    case 0x06: RMW(ea_zp(), asl); cycles = 5; break;
    case 0x08: push(flags | CPU_B | CPU_U); cycles = 3; break;
    case 0x09: ora(fetch()); cycles = 2; break;
    case 0x0A: areg = asl(areg); cycles = 2; break;
    case 0x0D: ora(RD(ea_abs())); cycles = 4; break;
    case 0x0E: RMW(ea_abs(), asl); cycles = 6; break;
    // 1x
    case 0x10: cycles = branch(!(flags & CPU_N)); break;
    case 0x11: ora(RD(EA_IZY_RD())); cycles = 5; break;
    case 0x15: ora(RD(ea_zpx())); cycles = 4; break;
    case 0x16: RMW(ea_zpx(), asl); cycles = 6; break;
    case 0x18: flags &= ~CPU_C; cycles = 2; break;
    case 0x19: ora(RD(EA_ABY_RD())); cycles = 4; break;
    case 0x1D: ora(RD(EA_ABX_RD())); cycles = 4; break;
    case 0x1E: RMW(EA_ABX(), asl); cycles = 7; break;
    // 2x
    case 0x20: {  // JSR pushes the address of its own last byte
        unsigned lo = fetch();
        unsigned hi = peek();
        push(pcreg >> 8);
        push(pcreg & 0xFF);
        pcreg = static_cast<uint16_t>(lo | hi << 8);
        cycles = 6;
        break;
    }
    case 0x21: anda(RD(EA_IZX())); cycles = 6; break;
    case 0x24: bit(RD(ea_zp())); cycles = 3; break;
    case 0x25: anda(RD(ea_zp())); cycles = 3; break;
    case 0x26: RMW(ea_zp(), rol); cycles = 5; break;
    case 0x28: pull_flags(); cycles = 4; break;
    case 0x29: anda(fetch()); cycles = 2; break;
    case 0x2A: areg = rol(areg); cycles = 2; break;
    case 0x2C: bit(RD(ea_abs())); cycles = 4; break;
    case 0x2D: anda(RD(ea_abs())); cycles = 4; break;
    case 0x2E: RMW(ea_abs(), rol); cycles = 6; break;
    // 3x
    case 0x30: cycles = branch(flags & CPU_N); break;
    case 0x31: anda(RD(EA_IZY_RD())); cycles = 5; break;
    case 0x35: anda(RD(ea_zpx())); cycles = 4; break;
    case 0x36: RMW(ea_zpx(), rol); cycles = 6; break;
    case 0x38: flags |= CPU_C; cycles = 2; break;
    case 0x39: anda(RD(EA_ABY_RD())); cycles = 4; break;
    case 0x3D: anda(RD(EA_ABX_RD())); cycles = 4; break;
    case 0x3E: RMW(EA_ABX(), rol); cycles = 7; break;
    // 4x
    case 0x40: {  // RTI: no +1 on the pulled address
        pull_flags();
        unsigned lo = pull();
        pcreg = static_cast<uint16_t>(lo | pull() << 8);
        cycles = 6;
        break;
    }
    case 0x41: eor(RD(EA_IZX())); cycles = 6; break;
    case 0x45: eor(RD(ea_zp())); cycles = 3; break;
    case 0x46: RMW(ea_zp(), lsr); cycles = 5; break;
    case 0x48: push(areg); cycles = 3; break;
    case 0x49: eor(fetch()); cycles = 2; break;
    case 0x4A: areg = lsr(areg); cycles = 2; break;
    case 0x4C: pcreg = static_cast<uint16_t>(ea_abs()); cycles = 3; break;
    case 0x4D: eor(RD(ea_abs())); cycles = 4; break;
    case 0x4E: RMW(ea_abs(), lsr); cycles = 6; break;
    // 5x
    case 0x50: cycles = branch(!(flags & CPU_V)); break;
    case 0x51: eor(RD(EA_IZY_RD())); cycles = 5; break;
    case 0x55: eor(RD(ea_zpx())); cycles = 4; break;
    case 0x56: RMW(ea_zpx(), lsr); cycles = 6; break;
    case 0x58: flags &= ~CPU_I; cycles = 2; break;
    case 0x59: eor(RD(EA_ABY_RD())); cycles = 4; break;
    case 0x5D: eor(RD(EA_ABX_RD())); cycles = 4; break;
    case 0x5E: RMW(EA_ABX(), lsr); cycles = 7; break;
    // 6x
    case 0x60: {
        unsigned lo = pull();
        pcreg = static_cast<uint16_t>((lo | pull() << 8) + 1);
        cycles = 6;
        break;
    }
    case 0x61: ARITH(adc, false, RD(EA_IZX()), 6); break;
    case 0x65: ARITH(adc, false, RD(ea_zp()), 3); break;
    case 0x66: RMW(ea_zp(), ror); cycles = 5; break;
    case 0x68: lda(pull()); cycles = 4; break;
    case 0x69: ARITH(adc, false, fetch(), 2); break;
    case 0x6A: areg = ror(areg); cycles = 2; break;
    case 0x6C: {  // the pointer's high byte never leaves its page
        unsigned q = ea_abs();
        unsigned lo = RD(q);
        pcreg = static_cast<uint16_t>(lo | RD((q & 0xFF00) | ((q + 1) & 0xFF)) << 8);
        cycles = 5;
        break;
    }
    case 0x6D: ARITH(adc, false, RD(ea_abs()), 4); break;
    case 0x6E: RMW(ea_abs(), ror); cycles = 6; break;
    // 7x
    case 0x70: cycles = branch(flags & CPU_V); break;
    case 0x71: ARITH(adc, false, RD(EA_IZY_RD()), 5); break;
    case 0x75: ARITH(adc, false, RD(ea_zpx()), 4); break;
    case 0x76: RMW(ea_zpx(), ror); cycles = 6; break;
    case 0x78: flags |= CPU_I; cycles = 2; break;
    case 0x79: ARITH(adc, false, RD(EA_ABY_RD()), 4); break;
    case 0x7D: ARITH(adc, false, RD(EA_ABX_RD()), 4); break;
    case 0x7E: RMW(EA_ABX(), ror); cycles = 7; break;
    // 8x
    case 0x81: WR(EA_IZX(), areg); cycles = 6; break;
    case 0x84: WR(ea_zp(), yreg); cycles = 3; break;
    case 0x85: WR(ea_zp(), areg); cycles = 3; break;
    case 0x86: WR(ea_zp(), xreg); cycles = 3; break;
    case 0x88: nz(--yreg); cycles = 2; break;
    case 0x8A: nz(areg = xreg); cycles = 2; break;
    case 0x8C: WR(ea_abs(), yreg); cycles = 4; break;
    case 0x8D: WR(ea_abs(), areg); cycles = 4; break;
    case 0x8E: WR(ea_abs(), xreg); cycles = 4; break;
    // 9x
    case 0x90: cycles = branch(!(flags & CPU_C)); break;
    case 0x91: WR(EA_IZY(), areg); cycles = 6; break;
    case 0x94: WR(ea_zpx(), yreg); cycles = 4; break;
    case 0x95: WR(ea_zpx(), areg); cycles = 4; break;
    case 0x96: WR(ea_zpy(), xreg); cycles = 4; break;
    case 0x98: nz(areg = yreg); cycles = 2; break;
    case 0x99: WR(EA_ABY(), areg); cycles = 5; break;
    case 0x9A: stack = static_cast<uint16_t>(0x0100 | xreg); cycles = 2; break;
    case 0x9D: WR(EA_ABX(), areg); cycles = 5; break;
    // Ax
    case 0xA0: ldy(fetch()); cycles = 2; break;
    case 0xA1: lda(RD(EA_IZX())); cycles = 6; break;
    case 0xA2: ldx(fetch()); cycles = 2; break;
    case 0xA4: ldy(RD(ea_zp())); cycles = 3; break;
    case 0xA5: lda(RD(ea_zp())); cycles = 3; break;
    case 0xA6: ldx(RD(ea_zp())); cycles = 3; break;
    case 0xA8: nz(yreg = areg); cycles = 2; break;
    case 0xA9: lda(fetch()); cycles = 2; break;
    case 0xAA: nz(xreg = areg); cycles = 2; break;
    case 0xAC: ldy(RD(ea_abs())); cycles = 4; break;
    case 0xAD: lda(RD(ea_abs())); cycles = 4; break;
    case 0xAE: ldx(RD(ea_abs())); cycles = 4; break;
    // Bx
    case 0xB0: cycles = branch(flags & CPU_C); break;
    case 0xB1: lda(RD(EA_IZY_RD())); cycles = 5; break;
    case 0xB4: ldy(RD(ea_zpx())); cycles = 4; break;
    case 0xB5: lda(RD(ea_zpx())); cycles = 4; break;
    case 0xB6: ldx(RD(ea_zpy())); cycles = 4; break;
    case 0xB8: flags &= ~CPU_V; cycles = 2; break;
    case 0xB9: lda(RD(EA_ABY_RD())); cycles = 4; break;
    case 0xBA: nz(xreg = static_cast<uint8_t>(stack)); cycles = 2; break;
    case 0xBC: ldy(RD(EA_ABX_RD())); cycles = 4; break;
    case 0xBD: lda(RD(EA_ABX_RD())); cycles = 4; break;
    case 0xBE: ldx(RD(EA_ABY_RD())); cycles = 4; break;
    // Cx
    case 0xC0: compare(yreg, fetch()); cycles = 2; break;
    case 0xC1: compare(areg, RD(EA_IZX())); cycles = 6; break;
    case 0xC4: compare(yreg, RD(ea_zp())); cycles = 3; break;
    case 0xC5: compare(areg, RD(ea_zp())); cycles = 3; break;
    case 0xC6: RMW(ea_zp(), dec); cycles = 5; break;
    case 0xC8: nz(++yreg); cycles = 2; break;
    case 0xC9: compare(areg, fetch()); cycles = 2; break;
    case 0xCA: nz(--xreg); cycles = 2; break;
    case 0xCC: compare(yreg, RD(ea_abs())); cycles = 4; break;
    case 0xCD: compare(areg, RD(ea_abs())); cycles = 4; break;
    case 0xCE: RMW(ea_abs(), dec); cycles = 6; break;
    // Dx
    case 0xD0: cycles = branch(!(flags & CPU_Z)); break;
    case 0xD1: compare(areg, RD(EA_IZY_RD())); cycles = 5; break;
    case 0xD5: compare(areg, RD(ea_zpx())); cycles = 4; break;
    case 0xD6: RMW(ea_zpx(), dec); cycles = 6; break;
    case 0xD8: flags &= ~CPU_D; cycles = 2; break;
    case 0xD9: compare(areg, RD(EA_ABY_RD())); cycles = 4; break;
    case 0xDD: compare(areg, RD(EA_ABX_RD())); cycles = 4; break;
    case 0xDE: RMW(EA_ABX(), dec); cycles = 7; break;
    // Ex
    case 0xE0: compare(xreg, fetch()); cycles = 2; break;
    case 0xE1: ARITH(sbc, true, RD(EA_IZX()), 6); break;
    case 0xE4: compare(xreg, RD(ea_zp())); cycles = 3; break;
    case 0xE5: ARITH(sbc, true, RD(ea_zp()), 3); break;
    case 0xE6: RMW(ea_zp(), inc); cycles = 5; break;
    case 0xE8: nz(++xreg); cycles = 2; break;
    case 0xE9: ARITH(sbc, true, fetch(), 2); break;
    case 0xEA: cycles = 2; break;
    case 0xEC: compare(xreg, RD(ea_abs())); cycles = 4; break;
    case 0xED: ARITH(sbc, true, RD(ea_abs()), 4); break;
    case 0xEE: RMW(ea_abs(), inc); cycles = 6; break;
    // Fx
    case 0xF0: cycles = branch(flags & CPU_Z); break;
    case 0xF1: ARITH(sbc, true, RD(EA_IZY_RD()), 5); break;
    case 0xF5: ARITH(sbc, true, RD(ea_zpx()), 4); break;
    case 0xF6: RMW(ea_zpx(), inc); cycles = 6; break;
    case 0xF8: flags |= CPU_D; cycles = 2; break;
    case 0xF9: ARITH(sbc, true, RD(EA_ABY_RD()), 4); break;
    case 0xFD: ARITH(sbc, true, RD(EA_ABX_RD()), 4); break;
    case 0xFE: RMW(EA_ABX(), inc); cycles = 7; break;

    // Undocumented opcodes: each is reported, then executed as the NMOS part does.
    case 0x02: case 0x12: case 0x22: case 0x32: case 0x42: case 0x52:
    case 0x62: case 0x72: case 0x92: case 0xB2: case 0xD2: case 0xF2:
        UNDOCUMENTED();
        pcreg = oppc;  // halted: the same opcode runs again on every step
        cycles = 2;
        break;
    case 0x1A: case 0x3A: case 0x5A: case 0x7A: case 0xDA: case 0xFA:
        UNDOCUMENTED();
        cycles = 2;
        break;
    case 0x80: case 0x82: case 0x89: case 0xC2: case 0xE2:
        UNDOCUMENTED();
        pcreg++;  // the operand is skipped, not read
        cycles = 2;
        break;
    case 0x04: case 0x44: case 0x64:
        UNDOCUMENTED();
        fetch();
        cycles = 3;
        break;
    case 0x14: case 0x34: case 0x54: case 0x74: case 0xD4: case 0xF4:
        UNDOCUMENTED();
        fetch();
        cycles = 4;
        break;
    case 0x0C:
        UNDOCUMENTED();
        fetch();
        fetch();
        cycles = 4;
        break;
    case 0x1C: case 0x3C: case 0x5C: case 0x7C: case 0xDC: case 0xFC:
        UNDOCUMENTED();
        indexed_read(fetch(), xreg);  // the high byte cannot matter
        fetch();
        cycles = 4;
        break;

    case 0x03: UNDOCUMENTED(); slo(EA_IZX()); cycles = 8; break;
    case 0x07: UNDOCUMENTED(); slo(ea_zp()); cycles = 5; break;
    case 0x0F: UNDOCUMENTED(); slo(ea_abs()); cycles = 6; break;
    case 0x13: UNDOCUMENTED(); slo(EA_IZY()); cycles = 8; break;
    case 0x17: UNDOCUMENTED(); slo(ea_zpx()); cycles = 6; break;
    case 0x1B: UNDOCUMENTED(); slo(EA_ABY()); cycles = 7; break;
    case 0x1F: UNDOCUMENTED(); slo(EA_ABX()); cycles = 7; break;

    case 0x23: UNDOCUMENTED(); rla(EA_IZX()); cycles = 8; break;
    case 0x27: UNDOCUMENTED(); rla(ea_zp()); cycles = 5; break;
    case 0x2F: UNDOCUMENTED(); rla(ea_abs()); cycles = 6; break;
    case 0x33: UNDOCUMENTED(); rla(EA_IZY()); cycles = 8; break;
    case 0x37: UNDOCUMENTED(); rla(ea_zpx()); cycles = 6; break;
    case 0x3B: UNDOCUMENTED(); rla(EA_ABY()); cycles = 7; break;
    case 0x3F: UNDOCUMENTED(); rla(EA_ABX()); cycles = 7; break;

    case 0x43: UNDOCUMENTED(); sre(EA_IZX()); cycles = 8; break;
    case 0x47: UNDOCUMENTED(); sre(ea_zp()); cycles = 5; break;
    case 0x4F: UNDOCUMENTED(); sre(ea_abs()); cycles = 6; break;
    case 0x53: UNDOCUMENTED(); sre(EA_IZY()); cycles = 8; break;
    case 0x57: UNDOCUMENTED(); sre(ea_zpx()); cycles = 6; break;
    case 0x5B: UNDOCUMENTED(); sre(EA_ABY()); cycles = 7; break;
    case 0x5F: UNDOCUMENTED(); sre(EA_ABX()); cycles = 7; break;

    case 0x63: UNDOCUMENTED(); rra(EA_IZX()); cycles = 8; break;
    case 0x67: UNDOCUMENTED(); rra(ea_zp()); cycles = 5; break;
    case 0x6F: UNDOCUMENTED(); rra(ea_abs()); cycles = 6; break;
    case 0x73: UNDOCUMENTED(); rra(EA_IZY()); cycles = 8; break;
    case 0x77: UNDOCUMENTED(); rra(ea_zpx()); cycles = 6; break;
    case 0x7B: UNDOCUMENTED(); rra(EA_ABY()); cycles = 7; break;
    case 0x7F: UNDOCUMENTED(); rra(EA_ABX()); cycles = 7; break;

    case 0xC3: UNDOCUMENTED(); dcp(EA_IZX()); cycles = 8; break;
    case 0xC7: UNDOCUMENTED(); dcp(ea_zp()); cycles = 5; break;
    case 0xCF: UNDOCUMENTED(); dcp(ea_abs()); cycles = 6; break;
    case 0xD3: UNDOCUMENTED(); dcp(EA_IZY()); cycles = 8; break;
    case 0xD7: UNDOCUMENTED(); dcp(ea_zpx()); cycles = 6; break;
    case 0xDB: UNDOCUMENTED(); dcp(EA_ABY()); cycles = 7; break;
    case 0xDF: UNDOCUMENTED(); dcp(EA_ABX()); cycles = 7; break;

    case 0xE3: UNDOCUMENTED(); isc(EA_IZX()); cycles = 8; break;
    case 0xE7: UNDOCUMENTED(); isc(ea_zp()); cycles = 5; break;
    case 0xEF: UNDOCUMENTED(); isc(ea_abs()); cycles = 6; break;
    case 0xF3: UNDOCUMENTED(); isc(EA_IZY()); cycles = 8; break;
    case 0xF7: UNDOCUMENTED(); isc(ea_zpx()); cycles = 6; break;
    case 0xFB: UNDOCUMENTED(); isc(EA_ABY()); cycles = 7; break;
    case 0xFF: UNDOCUMENTED(); isc(EA_ABX()); cycles = 7; break;

    case 0x83: UNDOCUMENTED(); WR(EA_IZX(), areg & xreg); cycles = 6; break;
    case 0x87: UNDOCUMENTED(); WR(ea_zp(), areg & xreg); cycles = 3; break;
    case 0x8F: UNDOCUMENTED(); WR(ea_abs(), areg & xreg); cycles = 4; break;
    case 0x97: UNDOCUMENTED(); WR(ea_zpy(), areg & xreg); cycles = 4; break;

    case 0xA3: UNDOCUMENTED(); lax(RD(EA_IZX())); cycles = 6; break;
    case 0xA7: UNDOCUMENTED(); lax(RD(ea_zp())); cycles = 3; break;
    case 0xAF: UNDOCUMENTED(); lax(RD(ea_abs())); cycles = 4; break;
    case 0xB3: UNDOCUMENTED(); lax(RD(EA_IZY_RD())); cycles = 5; break;
    case 0xB7: UNDOCUMENTED(); lax(RD(ea_zpy())); cycles = 4; break;
    case 0xBF: UNDOCUMENTED(); lax(RD(EA_ABY_RD())); cycles = 4; break;

    case 0x0B: case 0x2B:  // AND, with bit 7 copied into carry
        UNDOCUMENTED();
        anda(fetch());
        flags = static_cast<uint8_t>((flags & ~CPU_C) | areg >> 7);
        cycles = 2;
        break;
    case 0x4B: {  // AND, then shift right
        UNDOCUMENTED();
        uint8_t t = areg & fetch();
        nzc(areg = t >> 1, t & 1);
        cycles = 2;
        break;
    }
    case 0x6B: {  // AND, then rotate right, with the adder's quirks on C and V
        UNDOCUMENTED();
        uint8_t t = areg & fetch();
        unsigned carry = flags & CPU_C;
        uint8_t rot = static_cast<uint8_t>(t >> 1 | carry << 7);
        unsigned n = carry ? CPU_N : 0;
        unsigned z = rot == 0 ? CPU_Z : 0;
        unsigned v, c;
        if (flags & CPU_D) {
            v = (t ^ rot) & CPU_V;
            if ((rot & 0x0F) + (rot & 0x01) > 5) rot = (rot & 0xF0) | ((rot + 6) & 0x0F);
            if ((rot & 0xF0) + (rot & 0x10) > 0x50) {
                rot = static_cast<uint8_t>((rot & 0x0F) | ((rot + 0x60) & 0xF0));
                c = 1;
            } else {
                c = 0;
            }
        } else {
            c = (rot >> 6) & 1;
            v = (rot ^ rot << 1) & CPU_V;
        }
        areg = rot;
        flags = static_cast<uint8_t>((flags & ~(CPU_N | CPU_V | CPU_Z | CPU_C)) | n | v | z | c);
        cycles = 2;
        break;
    }
    case 0x8B: UNDOCUMENTED(); nz(areg = xreg & fetch()); cycles = 2; break;
    case 0xAB:
        UNDOCUMENTED();
        nz(areg = xreg = (areg | 0xEE) & fetch());
        cycles = 2;
        break;
    case 0xCB: {
        UNDOCUMENTED();
        uint8_t t = areg & xreg;
        uint8_t m = fetch();
        nzc(xreg = static_cast<uint8_t>(t - m), t >= m);
        cycles = 2;
        break;
    }
    case 0xEB: UNDOCUMENTED(); sbc(fetch()); cycles = 2; break;
    case 0x93: UNDOCUMENTED(); store_and_high(ptr_zp(), yreg, areg & xreg); cycles = 6; break;
    case 0x9F: UNDOCUMENTED(); store_and_high(ea_abs(), yreg, areg & xreg); cycles = 5; break;
    case 0x9E: UNDOCUMENTED(); store_and_high(ea_abs(), yreg, xreg); cycles = 5; break;
    case 0x9C: UNDOCUMENTED(); store_and_high(ea_abs(), xreg, yreg); cycles = 5; break;
    case 0x9B:
        UNDOCUMENTED();
        stack = static_cast<uint16_t>(0x0100 | (areg & xreg));
        store_and_high(ea_abs(), yreg, areg & xreg);
        cycles = 5;
        break;
    case 0xBB: {
        UNDOCUMENTED();
        uint8_t t = static_cast<uint8_t>(stack) & RD(EA_ABY_RD());
        nz(areg = xreg = t);
        stack = static_cast<uint16_t>(0x0100 | t);
        cycles = 4;
        break;
    }
    default:
        assert(0 && "sources/cpu_6502");
        cycles = 2;
        break;
    }
    // clang-format on

    r.pcreg = pcreg;
    flags |= CPU_B | CPU_U;
    // Left alone, the compiler sets each case's count into two registers, one
    // for the sum and one for the result.
    if constexpr (EXACT) cycles += crossed;
    asm("" : "+r"(cycles));
    r.totalcycles += cycles;
    // Interrupts are taken between instructions only.
    if (__builtin_expect(interrupt_waiting(), 0))
        return enter_interrupt<MODE, EXACT>(static_cast<int>(cycles));
    return static_cast<int>(cycles);

    // Direct mode met a device or an undocumented opcode before changing
    // anything: the checked mode runs the instruction from its
    // start.
bail:
    __attribute__((unused));
    if constexpr (MODE == BUS_DIRECT) return EXACT ? execute_checked_exact() : execute_checked();
    return 0;
}

#undef RD
#undef WR
#undef RMW
#undef ARITH
#undef PARTIAL_READ
#undef INDEXED
#undef INDEXED_RD
#undef EA_ABX
#undef EA_ABY
#undef EA_IZY
#undef EA_ABX_RD
#undef EA_ABY_RD
#undef EA_IZY_RD
#undef EA_IZX
#undef UNDOCUMENTED

template <bool EXACT> [[gnu::noinline]] static int execute_traced() {
    return execute<BUS_TRACED, EXACT>(nullptr);
}

[[gnu::noinline]] static int execute_checked_exact() {
    return execute<BUS_CHECKED, true>(nullptr);
}

[[gnu::noinline]] static int execute_checked() {
    return execute<BUS_CHECKED, false>(nullptr);
}

// The board's hook for the watched entry points; it may move the program
// counter and change the registers.
[[gnu::noinline]] static void serve_entry() {
    if (wiring.entry) wiring.entry();
}

template <bool EXACT> static inline int step();

// Out of line, so that the quick path makes no call that needs a frame.
template <bool EXACT> [[gnu::noinline]] static int serve_entry_then_step() {
    serve_entry();
    return step<EXACT>();
}

// One test covers the whole watched range.
static bool at_entry(unsigned pc) {
    return pc - wiring.entry_first <= wiring.entry_span;
}

// Code runs from plain RAM (below the I/O page, or from 0x0400 on) or from the
// high half (ROM, or the RAM under it); an instruction whose bytes lie wholly
// there is fetched straight from them.
// The watched entries lie in the high half, so RAM code skips their test.
template <bool TAPE, bool EXACT> ALWAYS_INLINE static inline int execute_untraced() {
    unsigned pc = cpu_6502.pcreg;
    const uint8_t *ip;
    if (pc - 0x0400u <= 0xBFFDu - 0x0400u) {
        ip = ram.data + pc;
    } else if (pc <= 0x02FD) {
        ip = ram.data + pc;
    } else {
        if (TAPE && __builtin_expect(at_entry(pc), 0)) return serve_entry_then_step<EXACT>();
        if (pc - 0xC000u > 0xFFFDu - 0xC000u)
            return EXACT ? execute_checked_exact() : execute_checked();
        ip = hiram ? ram.data + pc : rom.data + (pc - 0xC000u);
    }
    return execute<BUS_DIRECT, EXACT>(ip);
}

template <bool EXACT> [[gnu::noinline]] static int run_traced() {
    cpu_6502_registers &r = cpu_6502;
    if (at_entry(r.pcreg)) serve_entry();
    if (tr[0] & TR_CPU)
        cpu_6502_debug_run(r.pcreg, r.flagirq, r.areg, r.xreg, r.yreg, r.stack, r.flags);
    return execute_traced<EXACT>();
}

// A write watch sends the step through the decoder like a trace, so that
// every store reaches it.
template <bool EXACT> ALWAYS_INLINE static inline int run() {
    if (__builtin_expect(tr[0] & (TR_MASTER | TR_WATCH), 0)) return run_traced<EXACT>();
    return execute_untraced<true, EXACT>();
}

template <bool EXACT> ALWAYS_INLINE static inline int step() {
    if (__builtin_expect(tr[0] & (TR_MASTER | TR_WATCH), 0)) return execute_traced<EXACT>();
    return execute_untraced<false, EXACT>();
}

// Each entry starts a cache line: the whole step's speed was measured to
// swing by several per cent with where the linker happened to put them.
[[gnu::aligned(64)]] int cpu_6502_run() {
    return run<false>();
}

[[gnu::aligned(64)]] int cpu_6502_run_exact() {
    return run<true>();
}

int cpu_6502_step() {
    return step<false>();
}

int cpu_6502_step_exact() {
    return step<true>();
}

int cpu_6502_setnmi() {
    if (cpu_6502.flagnmi == 0) cpu_6502.flanknmi = 1;
    cpu_6502.flagnmi |= 2;
    return 0;
}

int cpu_6502_clrnmi() {
    cpu_6502.flagnmi &= ~2;
    return 0;
}

int cpu_6502_setirq() {
    cpu_6502.flagirq |= 2;
    return 0;
}

int cpu_6502_clrirq() {
    cpu_6502.flagirq &= ~2;
    return 0;
}

uint64_t cpu_6502_cycles() {
    return cpu_6502.totalcycles;
}

// ---- saved state ----

void cpu_6502_state_save(std::vector<uint8_t> &out) {
    const cpu_6502_registers &r = cpu_6502;
    state_put(out, r.areg);
    state_put(out, r.xreg);
    state_put(out, r.yreg);
    state_put(out, r.flags);
    state_put(out, r.pcreg);
    state_put(out, r.stack);
    state_put(out, r.flagirq);
    state_put(out, r.flanknmi);
    state_put(out, r.flagnmi);
    state_put(out, r.totalcycles);
}

int cpu_6502_state_load(const uint8_t *data, size_t size, int apply) {
    cpu_6502_registers r = cpu_6502;
    state_reader in{data, size};
    in.get(r.areg);
    in.get(r.xreg);
    in.get(r.yreg);
    in.get(r.flags);
    in.get(r.pcreg);
    in.get(r.stack);
    in.get(r.flagirq);
    in.get(r.flanknmi);
    in.get(r.flagnmi);
    in.get(r.totalcycles);
    if (in.finish("cpu")) return 1;
    if (r.stack >> 8 != 0x01) return state_refuse("cpu: stack at %.4X, off page 1", r.stack);
    if ((r.flagirq & ~2) || (r.flagnmi & ~2) || (r.flanknmi & ~1))
        return state_refuse("cpu: interrupt lines %d %d %d out of range", r.flagirq, r.flagnmi,
                            r.flanknmi);
    if (apply) cpu_6502 = r;
    return 0;
}
