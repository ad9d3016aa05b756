#include "cpu_6502.h"

#include <cassert>
#include <cstring>

#include "cpu_6502_debug.h"
#include "log.h"
#include "mem.h"
#include "ram.h"
#include "via_6522_tapein.h"

// Entry points of the system ROM's tape routines and where the short-cuts
// resume: past the sync-detection loop, and at the end of the byte reader.
constexpr uint16_t CPU_TAPE_SYNC = 0xE735;
constexpr uint16_t CPU_TAPE_SYNC_DONE = 0xE759;
constexpr uint16_t CPU_TAPE_BYTE = 0xE6C9;
constexpr uint16_t CPU_TAPE_BYTE_DONE = 0xE6FB;
constexpr uint16_t CPU_TAPE_BYTE_RAM = 0x002F;   // the ROM's copy of the byte
constexpr uint16_t CPU_TAPE_STATUS_RAM = 0x02B1; // cleared: no read error

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

// Within a step each working flag holds its own bit or 0 (carry 0/1, Z 0/2,
// V 0/0x40, N 0/0x80), so unpacking and packing are plain masks.
static inline uint8_t pack_flags(uint8_t flags, uint8_t flagc, uint8_t flagz, uint8_t flagv,
                                 uint8_t flagn) {
    return static_cast<uint8_t>(flagc | flagz | (flags & (CPU_I | CPU_D)) | CPU_B | CPU_U | flagv |
                                flagn);
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

// One instruction and the interrupt check after it. Inlined into both entry
// points so the per-instruction path has no call of its own.
ALWAYS_INLINE static inline int execute() {
    // Registers are worked on in place; carry, Z, V and N are unpacked into the
    // step's working flags and packed into `flags` once, at the end.
    cpu_6502_registers &r = cpu_6502;
    uint8_t &areg = r.areg;
    uint8_t &xreg = r.xreg;
    uint8_t &yreg = r.yreg;
    uint16_t &pcreg = r.pcreg;
    uint16_t &stack = r.stack;
    uint8_t &flags = r.flags;
    uint8_t flagc = flags & CPU_C;
    uint8_t flagz = flags & CPU_Z;
    uint8_t flagv = flags & CPU_V;
    uint8_t flagn = flags & CPU_N;
    int cycles;

    // Bus and stack. Every address handed to the bus is already within 16 bits.
    auto rd = [](unsigned addr) ALWAYS_INLINE { return read_byte(addr); };
    auto wr = [](unsigned addr, uint8_t value) ALWAYS_INLINE { mem_write(addr, value); };
    auto fetch = [&]() ALWAYS_INLINE { return rd(pcreg++); };
    auto push = [&](uint8_t value) ALWAYS_INLINE {
        wr(stack, value);
        stack = static_cast<uint16_t>(0x0100 | ((stack - 1) & 0xFF));
    };
    auto pull = [&]() ALWAYS_INLINE {
        stack = static_cast<uint16_t>(0x0100 | ((stack + 1) & 0xFF));
        return rd(stack);
    };

    // Effective addresses. Zero-page pointers wrap within page zero.
    auto ea_zp = [&]() ALWAYS_INLINE -> unsigned { return fetch(); };
    auto ea_zpx = [&]() ALWAYS_INLINE -> unsigned { return (fetch() + xreg) & 0xFF; };
    auto ea_zpy = [&]() ALWAYS_INLINE -> unsigned { return (fetch() + yreg) & 0xFF; };
    auto ea_abs = [&]() ALWAYS_INLINE -> unsigned {
        unsigned lo = fetch();
        return lo | fetch() << 8;
    };
    auto ea_abx = [&]() ALWAYS_INLINE -> unsigned { return (ea_abs() + xreg) & 0xFFFF; };
    auto ea_aby = [&]() ALWAYS_INLINE -> unsigned { return (ea_abs() + yreg) & 0xFFFF; };
    auto ea_izx = [&]() ALWAYS_INLINE -> unsigned {
        unsigned p = (fetch() + xreg) & 0xFF;
        unsigned lo = rd(p);
        return lo | rd((p + 1) & 0xFF) << 8;
    };
    auto ptr_zp = [&]() ALWAYS_INLINE -> unsigned {
        unsigned p = fetch();
        unsigned lo = rd(p);
        return lo | rd((p + 1) & 0xFF) << 8;
    };
    auto ea_izy = [&]() ALWAYS_INLINE -> unsigned { return (ptr_zp() + yreg) & 0xFFFF; };

    // Operations on the working flags.
    auto nz = [&](uint8_t value) ALWAYS_INLINE {
        flagn = value & CPU_N;
        flagz = value == 0 ? CPU_Z : 0;
    };
    auto ora = [&](uint8_t m) ALWAYS_INLINE { nz(areg |= m); };
    auto anda = [&](uint8_t m) ALWAYS_INLINE { nz(areg &= m); };
    auto eor = [&](uint8_t m) ALWAYS_INLINE { nz(areg ^= m); };
    auto lda = [&](uint8_t m) ALWAYS_INLINE { nz(areg = m); };
    auto ldx = [&](uint8_t m) ALWAYS_INLINE { nz(xreg = m); };
    auto ldy = [&](uint8_t m) ALWAYS_INLINE { nz(yreg = m); };
    auto compare = [&](uint8_t reg, uint8_t m) ALWAYS_INLINE {
        flagc = reg >= m;
        nz(static_cast<uint8_t>(reg - m));
    };
    auto bit = [&](uint8_t m) ALWAYS_INLINE {
        flagz = (areg & m) == 0 ? CPU_Z : 0;
        flagn = m & CPU_N;
        flagv = m & CPU_V;
    };
    auto adc = [&](uint8_t m) ALWAYS_INLINE {
        if (flags & CPU_D) {
            unsigned lo = (areg & 0x0F) + (m & 0x0F) + flagc;
            if (lo > 9) lo += 6;
            unsigned t = (lo & 0x0F) + (areg & 0xF0) + (m & 0xF0) + (lo > 0x0F ? 0x10 : 0);
            flagz = ((areg + m + flagc) & 0xFF) == 0 ? CPU_Z : 0;
            flagn = t & CPU_N;
            flagv = ((t ^ areg) & ~(areg ^ m) & 0x80) >> 1;
            if ((t & 0x1F0) > 0x90) t += 0x60;
            flagc = (t & 0xFF0) > 0xF0;
            areg = static_cast<uint8_t>(t);
        } else {
            unsigned s = areg + m + flagc;
            flagc = s > 0xFF;
            flagv = ((s ^ areg) & ~(areg ^ m) & 0x80) >> 1;
            nz(areg = static_cast<uint8_t>(s));
        }
    };
    auto sbc = [&](uint8_t m) ALWAYS_INLINE {
        int borrow = 1 - flagc;
        int d = areg - m - borrow;
        flagv = ((areg ^ m) & (areg ^ d) & 0x80) >> 1;
        flagc = d >= 0;
        nz(static_cast<uint8_t>(d));
        if (flags & CPU_D) {
            int lo = (areg & 0x0F) - (m & 0x0F) - borrow;
            int bcd;
            if (lo & 0x10)
                bcd = ((areg & 0xF0) - (m & 0xF0) - 0x10) | ((lo - 6) & 0x0F);
            else
                bcd = ((areg & 0xF0) - (m & 0xF0)) | (lo & 0x0F);
            if (bcd & 0x100) bcd -= 0x60;
            areg = static_cast<uint8_t>(bcd);
        } else {
            areg = static_cast<uint8_t>(d);
        }
    };
    auto asl = [&](uint8_t m) ALWAYS_INLINE -> uint8_t {
        flagc = m >> 7;
        m = static_cast<uint8_t>(m << 1);
        nz(m);
        return m;
    };
    auto lsr = [&](uint8_t m) ALWAYS_INLINE -> uint8_t {
        flagc = m & 1;
        m >>= 1;
        nz(m);
        return m;
    };
    auto rol = [&](uint8_t m) ALWAYS_INLINE -> uint8_t {
        uint8_t out = m >> 7;
        m = static_cast<uint8_t>(m << 1 | flagc);
        flagc = out;
        nz(m);
        return m;
    };
    auto ror = [&](uint8_t m) ALWAYS_INLINE -> uint8_t {
        uint8_t out = m & 1;
        m = static_cast<uint8_t>(m >> 1 | flagc << 7);
        flagc = out;
        nz(m);
        return m;
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
    auto pull_flags = [&]() ALWAYS_INLINE {
        flags = pull() | CPU_U | CPU_B;
        flagc = flags & CPU_C;
        flagz = flags & CPU_Z;
        flagv = flags & CPU_V;
        flagn = flags & CPU_N;
    };

    // Undocumented read-modify-write pairs: the shift, then the accumulator op.
    auto slo = [&](unsigned ea) ALWAYS_INLINE {
        uint8_t m = rd(ea);
        flagc = m >> 7;
        m = static_cast<uint8_t>(m << 1);
        wr(ea, m);
        ora(m);
    };
    auto rla = [&](unsigned ea) ALWAYS_INLINE {
        uint8_t m = rd(ea);
        uint8_t out = m >> 7;
        m = static_cast<uint8_t>(m << 1 | flagc);
        flagc = out;
        wr(ea, m);
        anda(m);
    };
    auto sre = [&](unsigned ea) ALWAYS_INLINE {
        uint8_t m = rd(ea);
        flagc = m & 1;
        m >>= 1;
        wr(ea, m);
        eor(m);
    };
    auto rra = [&](unsigned ea) ALWAYS_INLINE {
        uint8_t m = rd(ea);
        uint8_t out = m & 1;
        m = static_cast<uint8_t>(m >> 1 | flagc << 7);
        flagc = out;
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
        flags = pack_flags(flags, flagc, flagz, flagv, flagn);
        push(flags | CPU_B | CPU_U);
        flags |= CPU_I;
        unsigned lo = rd(CPU_VEC_IRQ);
        pcreg = static_cast<uint16_t>(lo | rd(CPU_VEC_IRQ + 1) << 8);
        cycles = 7;
        break;
    }
    case 0x01: ora(rd(ea_izx())); cycles = 6; break;
    case 0x05: ora(rd(ea_zp())); cycles = 3; break;
    case 0x06: { unsigned ea = ea_zp(); wr(ea, asl(rd(ea))); cycles = 5; break; }
    case 0x08: push(pack_flags(flags, flagc, flagz, flagv, flagn) | CPU_B | CPU_U); cycles = 3; break;
    case 0x09: ora(fetch()); cycles = 2; break;
    case 0x0A: areg = asl(areg); cycles = 2; break;
    case 0x0D: ora(rd(ea_abs())); cycles = 4; break;
    case 0x0E: { unsigned ea = ea_abs(); wr(ea, asl(rd(ea))); cycles = 6; break; }
    // 1x
    case 0x10: cycles = branch(!flagn); break;
    case 0x11: ora(rd(ea_izy())); cycles = 5; break;
    case 0x15: ora(rd(ea_zpx())); cycles = 4; break;
    case 0x16: { unsigned ea = ea_zpx(); wr(ea, asl(rd(ea))); cycles = 6; break; }
    case 0x18: flagc = 0; cycles = 2; break;
    case 0x19: ora(rd(ea_aby())); cycles = 4; break;
    case 0x1D: ora(rd(ea_abx())); cycles = 4; break;
    case 0x1E: { unsigned ea = ea_abx(); wr(ea, asl(rd(ea))); cycles = 7; break; }
    // 2x
    case 0x20: {  // JSR pushes the address of its own last byte
        unsigned lo = fetch();
        unsigned hi = rd(pcreg);
        push(pcreg >> 8);
        push(pcreg & 0xFF);
        pcreg = static_cast<uint16_t>(lo | hi << 8);
        cycles = 6;
        break;
    }
    case 0x21: anda(rd(ea_izx())); cycles = 6; break;
    case 0x24: bit(rd(ea_zp())); cycles = 3; break;
    case 0x25: anda(rd(ea_zp())); cycles = 3; break;
    case 0x26: { unsigned ea = ea_zp(); wr(ea, rol(rd(ea))); cycles = 5; break; }
    case 0x28: pull_flags(); cycles = 4; break;
    case 0x29: anda(fetch()); cycles = 2; break;
    case 0x2A: areg = rol(areg); cycles = 2; break;
    case 0x2C: bit(rd(ea_abs())); cycles = 4; break;
    case 0x2D: anda(rd(ea_abs())); cycles = 4; break;
    case 0x2E: { unsigned ea = ea_abs(); wr(ea, rol(rd(ea))); cycles = 6; break; }
    // 3x
    case 0x30: cycles = branch(flagn); break;
    case 0x31: anda(rd(ea_izy())); cycles = 5; break;
    case 0x35: anda(rd(ea_zpx())); cycles = 4; break;
    case 0x36: { unsigned ea = ea_zpx(); wr(ea, rol(rd(ea))); cycles = 6; break; }
    case 0x38: flagc = 1; cycles = 2; break;
    case 0x39: anda(rd(ea_aby())); cycles = 4; break;
    case 0x3D: anda(rd(ea_abx())); cycles = 4; break;
    case 0x3E: { unsigned ea = ea_abx(); wr(ea, rol(rd(ea))); cycles = 7; break; }
    // 4x
    case 0x40: {  // RTI: no +1 on the pulled address
        pull_flags();
        unsigned lo = pull();
        pcreg = static_cast<uint16_t>(lo | pull() << 8);
        cycles = 6;
        break;
    }
    case 0x41: eor(rd(ea_izx())); cycles = 6; break;
    case 0x45: eor(rd(ea_zp())); cycles = 3; break;
    case 0x46: { unsigned ea = ea_zp(); wr(ea, lsr(rd(ea))); cycles = 5; break; }
    case 0x48: push(areg); cycles = 3; break;
    case 0x49: eor(fetch()); cycles = 2; break;
    case 0x4A: areg = lsr(areg); cycles = 2; break;
    case 0x4C: pcreg = static_cast<uint16_t>(ea_abs()); cycles = 3; break;
    case 0x4D: eor(rd(ea_abs())); cycles = 4; break;
    case 0x4E: { unsigned ea = ea_abs(); wr(ea, lsr(rd(ea))); cycles = 6; break; }
    // 5x
    case 0x50: cycles = branch(!flagv); break;
    case 0x51: eor(rd(ea_izy())); cycles = 5; break;
    case 0x55: eor(rd(ea_zpx())); cycles = 4; break;
    case 0x56: { unsigned ea = ea_zpx(); wr(ea, lsr(rd(ea))); cycles = 6; break; }
    case 0x58: flags &= ~CPU_I; cycles = 2; break;
    case 0x59: eor(rd(ea_aby())); cycles = 4; break;
    case 0x5D: eor(rd(ea_abx())); cycles = 4; break;
    case 0x5E: { unsigned ea = ea_abx(); wr(ea, lsr(rd(ea))); cycles = 7; break; }
    // 6x
    case 0x60: {
        unsigned lo = pull();
        pcreg = static_cast<uint16_t>((lo | pull() << 8) + 1);
        cycles = 6;
        break;
    }
    case 0x61: adc(rd(ea_izx())); cycles = 6; break;
    case 0x65: adc(rd(ea_zp())); cycles = 3; break;
    case 0x66: { unsigned ea = ea_zp(); wr(ea, ror(rd(ea))); cycles = 5; break; }
    case 0x68: lda(pull()); cycles = 4; break;
    case 0x69: adc(fetch()); cycles = 2; break;
    case 0x6A: areg = ror(areg); cycles = 2; break;
    case 0x6C: {  // the pointer's high byte never leaves its page
        unsigned q = ea_abs();
        unsigned lo = rd(q);
        pcreg = static_cast<uint16_t>(lo | rd((q & 0xFF00) | ((q + 1) & 0xFF)) << 8);
        cycles = 5;
        break;
    }
    case 0x6D: adc(rd(ea_abs())); cycles = 4; break;
    case 0x6E: { unsigned ea = ea_abs(); wr(ea, ror(rd(ea))); cycles = 6; break; }
    // 7x
    case 0x70: cycles = branch(flagv); break;
    case 0x71: adc(rd(ea_izy())); cycles = 5; break;
    case 0x75: adc(rd(ea_zpx())); cycles = 4; break;
    case 0x76: { unsigned ea = ea_zpx(); wr(ea, ror(rd(ea))); cycles = 6; break; }
    case 0x78: flags |= CPU_I; cycles = 2; break;
    case 0x79: adc(rd(ea_aby())); cycles = 4; break;
    case 0x7D: adc(rd(ea_abx())); cycles = 4; break;
    case 0x7E: { unsigned ea = ea_abx(); wr(ea, ror(rd(ea))); cycles = 7; break; }
    // 8x
    case 0x81: wr(ea_izx(), areg); cycles = 6; break;
    case 0x84: wr(ea_zp(), yreg); cycles = 3; break;
    case 0x85: wr(ea_zp(), areg); cycles = 3; break;
    case 0x86: wr(ea_zp(), xreg); cycles = 3; break;
    case 0x88: nz(--yreg); cycles = 2; break;
    case 0x8A: nz(areg = xreg); cycles = 2; break;
    case 0x8C: wr(ea_abs(), yreg); cycles = 4; break;
    case 0x8D: wr(ea_abs(), areg); cycles = 4; break;
    case 0x8E: wr(ea_abs(), xreg); cycles = 4; break;
    // 9x
    case 0x90: cycles = branch(!flagc); break;
    case 0x91: wr(ea_izy(), areg); cycles = 6; break;
    case 0x94: wr(ea_zpx(), yreg); cycles = 4; break;
    case 0x95: wr(ea_zpx(), areg); cycles = 4; break;
    case 0x96: wr(ea_zpy(), xreg); cycles = 4; break;
    case 0x98: nz(areg = yreg); cycles = 2; break;
    case 0x99: wr(ea_aby(), areg); cycles = 5; break;
    case 0x9A: stack = static_cast<uint16_t>(0x0100 | xreg); cycles = 2; break;
    case 0x9D: wr(ea_abx(), areg); cycles = 5; break;
    // Ax
    case 0xA0: ldy(fetch()); cycles = 2; break;
    case 0xA1: lda(rd(ea_izx())); cycles = 6; break;
    case 0xA2: ldx(fetch()); cycles = 2; break;
    case 0xA4: ldy(rd(ea_zp())); cycles = 3; break;
    case 0xA5: lda(rd(ea_zp())); cycles = 3; break;
    case 0xA6: ldx(rd(ea_zp())); cycles = 3; break;
    case 0xA8: nz(yreg = areg); cycles = 2; break;
    case 0xA9: lda(fetch()); cycles = 2; break;
    case 0xAA: nz(xreg = areg); cycles = 2; break;
    case 0xAC: ldy(rd(ea_abs())); cycles = 4; break;
    case 0xAD: lda(rd(ea_abs())); cycles = 4; break;
    case 0xAE: ldx(rd(ea_abs())); cycles = 4; break;
    // Bx
    case 0xB0: cycles = branch(flagc); break;
    case 0xB1: lda(rd(ea_izy())); cycles = 5; break;
    case 0xB4: ldy(rd(ea_zpx())); cycles = 4; break;
    case 0xB5: lda(rd(ea_zpx())); cycles = 4; break;
    case 0xB6: ldx(rd(ea_zpy())); cycles = 4; break;
    case 0xB8: flagv = 0; cycles = 2; break;
    case 0xB9: lda(rd(ea_aby())); cycles = 4; break;
    case 0xBA: nz(xreg = static_cast<uint8_t>(stack)); cycles = 2; break;
    case 0xBC: ldy(rd(ea_abx())); cycles = 4; break;
    case 0xBD: lda(rd(ea_abx())); cycles = 4; break;
    case 0xBE: ldx(rd(ea_aby())); cycles = 4; break;
    // Cx
    case 0xC0: compare(yreg, fetch()); cycles = 2; break;
    case 0xC1: compare(areg, rd(ea_izx())); cycles = 6; break;
    case 0xC4: compare(yreg, rd(ea_zp())); cycles = 3; break;
    case 0xC5: compare(areg, rd(ea_zp())); cycles = 3; break;
    case 0xC6: { unsigned ea = ea_zp(); wr(ea, dec(rd(ea))); cycles = 5; break; }
    case 0xC8: nz(++yreg); cycles = 2; break;
    case 0xC9: compare(areg, fetch()); cycles = 2; break;
    case 0xCA: nz(--xreg); cycles = 2; break;
    case 0xCC: compare(yreg, rd(ea_abs())); cycles = 4; break;
    case 0xCD: compare(areg, rd(ea_abs())); cycles = 4; break;
    case 0xCE: { unsigned ea = ea_abs(); wr(ea, dec(rd(ea))); cycles = 6; break; }
    // Dx
    case 0xD0: cycles = branch(!flagz); break;
    case 0xD1: compare(areg, rd(ea_izy())); cycles = 5; break;
    case 0xD5: compare(areg, rd(ea_zpx())); cycles = 4; break;
    case 0xD6: { unsigned ea = ea_zpx(); wr(ea, dec(rd(ea))); cycles = 6; break; }
    case 0xD8: flags &= ~CPU_D; cycles = 2; break;
    case 0xD9: compare(areg, rd(ea_aby())); cycles = 4; break;
    case 0xDD: compare(areg, rd(ea_abx())); cycles = 4; break;
    case 0xDE: { unsigned ea = ea_abx(); wr(ea, dec(rd(ea))); cycles = 7; break; }
    // Ex
    case 0xE0: compare(xreg, fetch()); cycles = 2; break;
    case 0xE1: sbc(rd(ea_izx())); cycles = 6; break;
    case 0xE4: compare(xreg, rd(ea_zp())); cycles = 3; break;
    case 0xE5: sbc(rd(ea_zp())); cycles = 3; break;
    case 0xE6: { unsigned ea = ea_zp(); wr(ea, inc(rd(ea))); cycles = 5; break; }
    case 0xE8: nz(++xreg); cycles = 2; break;
    case 0xE9: sbc(fetch()); cycles = 2; break;
    case 0xEA: cycles = 2; break;
    case 0xEC: compare(xreg, rd(ea_abs())); cycles = 4; break;
    case 0xED: sbc(rd(ea_abs())); cycles = 4; break;
    case 0xEE: { unsigned ea = ea_abs(); wr(ea, inc(rd(ea))); cycles = 6; break; }
    // Fx
    case 0xF0: cycles = branch(flagz); break;
    case 0xF1: sbc(rd(ea_izy())); cycles = 5; break;
    case 0xF5: sbc(rd(ea_zpx())); cycles = 4; break;
    case 0xF6: { unsigned ea = ea_zpx(); wr(ea, inc(rd(ea))); cycles = 6; break; }
    case 0xF8: flags |= CPU_D; cycles = 2; break;
    case 0xF9: sbc(rd(ea_aby())); cycles = 4; break;
    case 0xFD: sbc(rd(ea_abx())); cycles = 4; break;
    case 0xFE: { unsigned ea = ea_abx(); wr(ea, inc(rd(ea))); cycles = 7; break; }

    // Undocumented opcodes: each is reported, then executed as the NMOS part does.
    case 0x02: case 0x12: case 0x22: case 0x32: case 0x42: case 0x52:
    case 0x62: case 0x72: case 0x92: case 0xB2: case 0xD2: case 0xF2:
        report_invalid(oppc, op);
        pcreg = oppc;  // halted: the same opcode runs again on every step
        cycles = 2;
        break;
    case 0x1A: case 0x3A: case 0x5A: case 0x7A: case 0xDA: case 0xFA:
        report_invalid(oppc, op);
        cycles = 2;
        break;
    case 0x80: case 0x82: case 0x89: case 0xC2: case 0xE2:
        report_invalid(oppc, op);
        pcreg++;  // the operand is skipped, not read
        cycles = 2;
        break;
    case 0x04: case 0x44: case 0x64:
        report_invalid(oppc, op);
        fetch();
        cycles = 3;
        break;
    case 0x14: case 0x34: case 0x54: case 0x74: case 0xD4: case 0xF4:
        report_invalid(oppc, op);
        fetch();
        cycles = 4;
        break;
    case 0x0C: case 0x1C: case 0x3C: case 0x5C: case 0x7C: case 0xDC: case 0xFC:
        report_invalid(oppc, op);
        fetch();
        fetch();
        cycles = 4;
        break;

    case 0x03: report_invalid(oppc, op); slo(ea_izx()); cycles = 8; break;
    case 0x07: report_invalid(oppc, op); slo(ea_zp()); cycles = 5; break;
    case 0x0F: report_invalid(oppc, op); slo(ea_abs()); cycles = 6; break;
    case 0x13: report_invalid(oppc, op); slo(ea_izy()); cycles = 8; break;
    case 0x17: report_invalid(oppc, op); slo(ea_zpx()); cycles = 6; break;
    case 0x1B: report_invalid(oppc, op); slo(ea_aby()); cycles = 7; break;
    case 0x1F: report_invalid(oppc, op); slo(ea_abx()); cycles = 7; break;

    case 0x23: report_invalid(oppc, op); rla(ea_izx()); cycles = 8; break;
    case 0x27: report_invalid(oppc, op); rla(ea_zp()); cycles = 5; break;
    case 0x2F: report_invalid(oppc, op); rla(ea_abs()); cycles = 6; break;
    case 0x33: report_invalid(oppc, op); rla(ea_izy()); cycles = 8; break;
    case 0x37: report_invalid(oppc, op); rla(ea_zpx()); cycles = 6; break;
    case 0x3B: report_invalid(oppc, op); rla(ea_aby()); cycles = 7; break;
    case 0x3F: report_invalid(oppc, op); rla(ea_abx()); cycles = 7; break;

    case 0x43: report_invalid(oppc, op); sre(ea_izx()); cycles = 8; break;
    case 0x47: report_invalid(oppc, op); sre(ea_zp()); cycles = 5; break;
    case 0x4F: report_invalid(oppc, op); sre(ea_abs()); cycles = 6; break;
    case 0x53: report_invalid(oppc, op); sre(ea_izy()); cycles = 8; break;
    case 0x57: report_invalid(oppc, op); sre(ea_zpx()); cycles = 6; break;
    case 0x5B: report_invalid(oppc, op); sre(ea_aby()); cycles = 7; break;
    case 0x5F: report_invalid(oppc, op); sre(ea_abx()); cycles = 7; break;

    case 0x63: report_invalid(oppc, op); rra(ea_izx()); cycles = 8; break;
    case 0x67: report_invalid(oppc, op); rra(ea_zp()); cycles = 5; break;
    case 0x6F: report_invalid(oppc, op); rra(ea_abs()); cycles = 6; break;
    case 0x73: report_invalid(oppc, op); rra(ea_izy()); cycles = 8; break;
    case 0x77: report_invalid(oppc, op); rra(ea_zpx()); cycles = 6; break;
    case 0x7B: report_invalid(oppc, op); rra(ea_aby()); cycles = 7; break;
    case 0x7F: report_invalid(oppc, op); rra(ea_abx()); cycles = 7; break;

    case 0xC3: report_invalid(oppc, op); dcp(ea_izx()); cycles = 8; break;
    case 0xC7: report_invalid(oppc, op); dcp(ea_zp()); cycles = 5; break;
    case 0xCF: report_invalid(oppc, op); dcp(ea_abs()); cycles = 6; break;
    case 0xD3: report_invalid(oppc, op); dcp(ea_izy()); cycles = 8; break;
    case 0xD7: report_invalid(oppc, op); dcp(ea_zpx()); cycles = 6; break;
    case 0xDB: report_invalid(oppc, op); dcp(ea_aby()); cycles = 7; break;
    case 0xDF: report_invalid(oppc, op); dcp(ea_abx()); cycles = 7; break;

    case 0xE3: report_invalid(oppc, op); isc(ea_izx()); cycles = 8; break;
    case 0xE7: report_invalid(oppc, op); isc(ea_zp()); cycles = 5; break;
    case 0xEF: report_invalid(oppc, op); isc(ea_abs()); cycles = 6; break;
    case 0xF3: report_invalid(oppc, op); isc(ea_izy()); cycles = 8; break;
    case 0xF7: report_invalid(oppc, op); isc(ea_zpx()); cycles = 6; break;
    case 0xFB: report_invalid(oppc, op); isc(ea_aby()); cycles = 7; break;
    case 0xFF: report_invalid(oppc, op); isc(ea_abx()); cycles = 7; break;

    case 0x83: report_invalid(oppc, op); wr(ea_izx(), areg & xreg); cycles = 6; break;
    case 0x87: report_invalid(oppc, op); wr(ea_zp(), areg & xreg); cycles = 3; break;
    case 0x8F: report_invalid(oppc, op); wr(ea_abs(), areg & xreg); cycles = 4; break;
    case 0x97: report_invalid(oppc, op); wr(ea_zpy(), areg & xreg); cycles = 4; break;

    case 0xA3: report_invalid(oppc, op); lax(rd(ea_izx())); cycles = 6; break;
    case 0xA7: report_invalid(oppc, op); lax(rd(ea_zp())); cycles = 3; break;
    case 0xAF: report_invalid(oppc, op); lax(rd(ea_abs())); cycles = 4; break;
    case 0xB3: report_invalid(oppc, op); lax(rd(ea_izy())); cycles = 5; break;
    case 0xB7: report_invalid(oppc, op); lax(rd(ea_zpy())); cycles = 4; break;
    case 0xBF: report_invalid(oppc, op); lax(rd(ea_aby())); cycles = 4; break;

    case 0x0B: case 0x2B:  // AND, with bit 7 copied into carry
        report_invalid(oppc, op);
        anda(fetch());
        flagc = areg >> 7;
        cycles = 2;
        break;
    case 0x4B: {  // AND, then shift right
        report_invalid(oppc, op);
        uint8_t t = areg & fetch();
        flagc = t & 1;
        nz(areg = t >> 1);
        cycles = 2;
        break;
    }
    case 0x6B: {  // AND, then rotate right, with the adder's quirks on C and V
        report_invalid(oppc, op);
        uint8_t t = areg & fetch();
        uint8_t rot = static_cast<uint8_t>(t >> 1 | flagc << 7);
        flagn = flagc ? CPU_N : 0;
        flagz = rot == 0 ? CPU_Z : 0;
        if (flags & CPU_D) {
            flagv = (t ^ rot) & CPU_V;
            if ((rot & 0x0F) + (rot & 0x01) > 5) rot = (rot & 0xF0) | ((rot + 6) & 0x0F);
            if ((rot & 0xF0) + (rot & 0x10) > 0x50) {
                rot = static_cast<uint8_t>((rot & 0x0F) | ((rot + 0x60) & 0xF0));
                flagc = 1;
            } else {
                flagc = 0;
            }
        } else {
            flagc = (rot >> 6) & 1;
            flagv = (rot ^ rot << 1) & CPU_V;
        }
        areg = rot;
        cycles = 2;
        break;
    }
    case 0x8B: report_invalid(oppc, op); nz(areg = xreg & fetch()); cycles = 2; break;
    case 0xAB:
        report_invalid(oppc, op);
        nz(areg = xreg = (areg | 0xEE) & fetch());
        cycles = 2;
        break;
    case 0xCB: {
        report_invalid(oppc, op);
        uint8_t t = areg & xreg;
        uint8_t m = fetch();
        flagc = t >= m;
        nz(xreg = static_cast<uint8_t>(t - m));
        cycles = 2;
        break;
    }
    case 0xEB: report_invalid(oppc, op); sbc(fetch()); cycles = 2; break;
    case 0x93: report_invalid(oppc, op); store_and_high(ptr_zp(), yreg, areg & xreg); cycles = 6; break;
    case 0x9F: report_invalid(oppc, op); store_and_high(ea_abs(), yreg, areg & xreg); cycles = 5; break;
    case 0x9E: report_invalid(oppc, op); store_and_high(ea_abs(), yreg, xreg); cycles = 5; break;
    case 0x9C: report_invalid(oppc, op); store_and_high(ea_abs(), xreg, yreg); cycles = 5; break;
    case 0x9B:
        report_invalid(oppc, op);
        stack = static_cast<uint16_t>(0x0100 | (areg & xreg));
        store_and_high(ea_abs(), yreg, areg & xreg);
        cycles = 5;
        break;
    case 0xBB: {
        report_invalid(oppc, op);
        uint8_t t = static_cast<uint8_t>(stack) & rd(ea_aby());
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

    // Interrupts are taken between instructions only, NMI first.
    int vector = 0;
    if (__builtin_expect(r.flanknmi | r.flagirq, 0)) {
        if (r.flanknmi) {
            r.flanknmi = 0;
            vector = CPU_VEC_NMI;
        } else if (!(flags & CPU_I)) {
            vector = CPU_VEC_IRQ;
        }
    }
    flags = pack_flags(flags, flagc, flagz, flagv, flagn);
    if (vector) {
        push(pcreg >> 8);
        push(pcreg & 0xFF);
        push(flags & ~CPU_B);
        flags = static_cast<uint8_t>((flags | CPU_I) & ~CPU_D);
        unsigned lo = rd(vector);
        pcreg = static_cast<uint16_t>(lo | rd(vector + 1) << 8);
        cycles += 7;
    }

    r.totalcycles += static_cast<uint64_t>(cycles);
    return cycles;
}

// The system ROM's tape routines, served from the mounted tape. At most one
// applies per instruction; both look at the program counter alone.
[[gnu::noinline]] static void serve_tape() {
    cpu_6502_registers &r = cpu_6502;
    if (r.pcreg == CPU_TAPE_SYNC) {
        if (via_6522_tapein_sync() == 0) r.pcreg = CPU_TAPE_SYNC_DONE;
    } else if (r.pcreg == CPU_TAPE_BYTE) {
        uint8_t byte = 0xFF;
        if (via_6522_tapein_byte(&byte) == 0) {
            uint8_t *ram_image = ram_getptr();
            r.areg = byte;
            ram_image[CPU_TAPE_BYTE_RAM] = byte;
            ram_image[CPU_TAPE_STATUS_RAM] = 0;
            r.pcreg = CPU_TAPE_BYTE_DONE;
        }
    }
}

int cpu_6502_run() {
    cpu_6502_registers &r = cpu_6502;
    // One test covers both entry points (0xE6C9 and 0xE735).
    if (__builtin_expect(static_cast<unsigned>(r.pcreg - CPU_TAPE_BYTE) <=
                             static_cast<unsigned>(CPU_TAPE_SYNC - CPU_TAPE_BYTE),
                         0))
        serve_tape();
    if ((tr[0] & (TR_MASTER | TR_CPU)) == (TR_MASTER | TR_CPU))
        cpu_6502_debug_run(r.pcreg, r.flagirq, r.areg, r.xreg, r.yreg, r.stack, r.flags);
    return execute();
}

int cpu_6502_step() {
    return execute();
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
