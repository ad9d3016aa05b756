// The processor runs a whole-program conformance test of every documented
// opcode and addressing mode, decimal mode included, to its success trap.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cpu_6502.h"
#include "mem.h"
#include "ram.h"
#include "test_util.h"

namespace {

constexpr uint16_t START = 0x0400;
constexpr uint16_t SUCCESS = 0x3469;
constexpr uint16_t TEST_CASE = 0x0200; // number of the section in progress
constexpr long INSTRUCTION_CAP = 200'000'000;

TEST(Cpu6502Functional, ReachesTheSuccessTrap) {
    std::vector<uint8_t> image =
        read_file(std::string(KESTREL_TEST_DATA) + "/6502-functional/6502_functional_test.bin");
    ASSERT_EQ(0x10000u, image.size());
    ASSERT_EQ(0, mem_init());
    hiram = 1; // the vectors live in the image, so 0xC000-0xFFFF must read RAM
    memcpy(ram_getptr(), image.data(), image.size());
    ASSERT_EQ(0, cpu_6502_init());
    ASSERT_EQ(0x37A3, cpu_6502.pcreg); // the image's reset vector
    cpu_6502.pcreg = START;

    long instructions = 0;
    uint16_t previous;
    do {
        previous = cpu_6502.pcreg;
        ASSERT_GE(cpu_6502_run(), 2);
        instructions++;
    } while (cpu_6502.pcreg != previous && instructions < INSTRUCTION_CAP);

    EXPECT_EQ(SUCCESS, cpu_6502.pcreg)
        << "trapped in section 0x" << std::hex << int(ram_getptr()[TEST_CASE]);
    EXPECT_EQ(0xF0, ram_getptr()[TEST_CASE]);
    // Roughly 30.6 million instructions and 96 million cycles: a core that
    // skips work or miscounts shows here.
    EXPECT_GT(instructions, 30'000'000);
    EXPECT_LT(instructions, 31'000'000);
    EXPECT_GT(cpu_6502_cycles(), 90'000'000u);
}

} // namespace
