// A whole-program conformance run over every documented opcode and addressing
// mode, decimal mode included, to its success trap.
#include "fixture.h"

namespace {

TEST(Cpu6502Functional, ReachesTheSuccessTrap) {
    std::vector<uint8_t> image =
        read_file(std::string(KESTREL_TEST_DATA) + "/6502-functional/6502_functional_test.bin");
    ASSERT_EQ(0x10000u, image.size());
    ASSERT_EQ(0, mem_init());
    hiram = 1; // the vectors live in the image, so 0xC000-0xFFFF must read RAM
    poke(0, image);
    ASSERT_EQ(0, cpu_6502_init());
    cpu_6502.pcreg = 0x0400;
    long instructions = 0;
    for (uint16_t previous = 0; cpu_6502.pcreg != previous && instructions < 200'000'000;
         instructions++) { // every failure, and the success, is a jump to itself
        previous = cpu_6502.pcreg;
        ASSERT_GE(cpu_6502_run(), 2);
    }
    // The program keeps the number of the section in progress at 0x0200.
    EXPECT_EQ(0x3469, cpu_6502.pcreg) << "trapped in section 0x" << std::hex << word(0x0200) % 256;
    EXPECT_EQ(0xF0, ram_getptr()[0x0200]);
    EXPECT_GT(instructions, 30'000'000); // about 30.6 million: nothing was skipped
}

} // namespace
