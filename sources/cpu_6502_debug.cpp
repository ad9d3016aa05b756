#include "cpu_6502_debug.h"

#include <cstdio>
#include <deque>
#include <iterator>
#include <new>
#include <string>

#include "log.h"
#include "mem.h"
#include "rom.h"

constexpr symboldef symboldef_z5[SYMBOLDEF_COUNT] = {
    // System variables and vectors, pages 0-2.
    {0x0021, "Jump to 'USR'"},
    {0x0022, "'USR' pointer L"},
    {0x0023, "'USR' pointer H"},
    {0x0208, "Key Code"},
    {0x0209, "Key Code Ext"},
    {0x020C, "CAPS on/off (#$FF|#$7F)"},
    {0x0213, "PATTERN (#$FF)"},
    {0x021F, "MODE HIRES=1, LORES=0"},
    {0x0220, "RAM 16K=1, 48K=0"},
    {0x0238, "Jump to 'Char2Scr'"},
    {0x023B, "Jump to 'CheckKbd'"},
    {0x023E, "Jump to 'PrintChar'"},
    {0x0241, "Jump to 'Print Status'"},
    {0x0244, "Jump to 'IRQ' Handler"},
    {0x0247, "Jump to 'NMI' Handler"},
    {0x024D, "Tape speed 300bps=1 2400bps=0"},
    {0x024E, "Key repeat delay L"},
    {0x024F, "Key repeat delay H"},
    {0x0272, "Key repeat timer L"},
    {0x0273, "Key repeat timer H"},
    {0x0274, "Cursor blink timer L"},
    {0x0275, "Cursor blink timer H"},
    {0x0276, "WAIT timer L"},
    {0x0277, "WAIT timer H"},
    {0x02DF, "Last pressed key code"},
    {0x02F5, "'!' pointer L"},
    {0x02F6, "'!' pointer H"},
    {0x02FB, "Jump to '&'"},
    {0x02FC, "'&' pointer L"},
    {0x02FD, "'&' pointer H"},
    // The I/O page.
    {0x0300, "VIA_IORB"},
    {0x0301, "VIA_IORA"},
    {0x0302, "VIA_DDRB"},
    {0x0303, "VIA_DDRA"},
    {0x0304, "VIA_T1C_L"},
    {0x0305, "VIA_T1C_H"},
    {0x0306, "VIA_T1L_L"},
    {0x0307, "VIA_T1L_H"},
    {0x0308, "VIA_T2C_L"},
    {0x0309, "VIA_T2C_H"},
    {0x030A, "VIA_SR"},
    {0x030B, "VIA_ACR"},
    {0x030C, "VIA_PCR"},
    {0x030D, "VIA_IFR"},
    {0x030E, "VIA_IER"},
    {0x030F, "VIA_IORA2"},
    {0x0310, "Step Motor Phase 0 off"},
    {0x0311, "Step Motor Phase 0 on"},
    {0x0312, "Step Motor Phase 1 off"},
    {0x0313, "Step Motor Phase 1 on"},
    {0x0314, "Step Motor Phase 2 off"},
    {0x0315, "Step Motor Phase 2 on"},
    {0x0316, "Step Motor Phase 3 off"},
    {0x0317, "Step Motor Phase 3 on"},
    {0x0318, "Motor off"},
    {0x0319, "Motor on"},
    {0x031A, "Drive 0 Select"},
    {0x031B, "Drive 1 Select"},
    {0x031C, "FDC IO Data Strobe"},
    {0x031D, "FDC IO Data Buffer"},
    {0x031E, "FDC Read"},
    {0x031F, "FDC Write"},
    {0x0320, "DOS Z5: Boot"},
    {0x03FF, "IO Slot Select (Write 0,1,2,3)"},
    // Disk system entry points.
    {0xBFE0, "DOS Z5: 'Warm' Jump"},
    {0xBFE3, "DOS Z5: 'Cold' Jump"},
    {0xBFE6, "DOS Z5: Jump to 'File Manager'"},
    {0xBFE9, "DOS Z5: Jump to 'RWTS'"},
    {0xBFEC, "DOS Z5: Load A and Y with param table addr for 'File Manager'"},
    {0xBFF3, "DOS Z5: Load A and Y with param table addr for 'RWTS'"},
    {0xBFFA, "DOS Z5: Jump to 'IoInit'"},
    {0xBFFD, "DOS Z5: Reset pointer"},
    {0xBFFF, "DOS Z5: Reset mask (#$55)"},
    // System ROM.
    {0xC000, "ROM Start/RAM Overlay"},
    {0xC006, "JumpTab"},
    {0xC0EA, "Keywords"},
    {0xC2A8, "ErrorMsgs"},
    {0xC3C6, "FindForVar"},
    {0xC3F4, "VarAlloc"},
    {0xC444, "FreeMemChe"},
    {0xC47C, "PrintError"},
    {0xC4A8, "BackToBASIC"},
    {0xC4D3, "InsDelLine"},
    {0xC4E0, "DeleteLine"},
    {0xC524, "InsertLine"},
    {0xC55F, "SetLineLin"},
    {0xC592, "GetLine"},
    {0xC5E8, "ReadKey"},
    {0xC5FA, "TokeniseLi"},
    {0xC692, "EDIT"},
    {0xC6B3, "FindLine"},
    {0xC6EE, "NEW"},
    {0xC70D, "CLEAR"},
    {0xC748, "LIST"},
    {0xC7FD, "LLIST"},
    {0xC809, "LPRINT"},
    {0xC816, "SetPrinter"},
    {0xC82F, "SetScreen"},
    {0xC855, "FOR"},
    {0xC8C1, "DoNextLine"},
    {0xC915, "DoStatement"},
    {0xC952, "RESTORE"},
    {0xC971, "STOP"},
    {0xC973, "END"},
    {0xC9A0, "CONT"},
    {0xC9BD, "RUN"},
    {0xC9C8, "GOSUB"},
    {0xC9E5, "GOTO"},
    {0xCA12, "RETURN"},
    {0xCA3C, "DATA"},
    {0xCA4E, "FindEndOfS"},
    {0xCA51, "FindEOL"},
    {0xCA70, "IF"},
    {0xCA99, "REM"},
    {0xCAC2, "ON"},
    {0xCAE2, "Txt2Int"},
    {0xCB1C, "LET"},
    {0xCBAB, "PRINT"},
    {0xCBF0, "NewLine"},
    {0xCC59, "SetCursor"},
    {0xCCB0, "PrintString"},
    {0xCCCE, "CLS"},
    {0xCD13, "!"},
    {0xCD16, "TRON"},
    {0xCD19, "TROFF"},
    {0xCD46, "GET"},
    {0xCD55, "INPUT"},
    {0xCD89, "READ"},
    {0xCE98, "NEXT"},
    {0xCF03, "GetExpr"},
    {0xCF17, "EvalExpr"},
    {0xCFAC, "DoOper"},
    {0xD000, "GetItem"},
    {0xD03C, "NOT"},
    {0xD059, "EvalBracket"},
    {0xD07C, "GetVarVal"},
    {0xD113, "Compare"},
    {0xD17E, "DIM"},
    {0xD188, "GetVarFrom"},
    {0xD361, "DimArray"},
    {0xD3EB, "GetArrayEl"},
    {0xD47E, "FRE"},
    {0xD4A6, "POS"},
    {0xD4BA, "DEF"},
    {0xD593, "STR$"},
    {0xD5A3, "SetupString"},
    {0xD5B5, "GetString"},
    {0xD650, "GarbageCol"},
    {0xD730, "CopyString"},
    {0xD767, "StrCat"},
    {0xD816, "CHR$"},
    {0xD82A, "LEFT$"},
    {0xD856, "RIGHT$"},
    {0xD861, "MID$"},
    {0xD8A6, "LEN"},
    {0xD8B5, "ASC"},
    {0xD8C5, "GetByteExp"},
    {0xD8D7, "VAL"},
    {0xD922, "FP2Int"},
    {0xD938, "PEEK"},
    {0xD94F, "POKE"},
    {0xD958, "WAIT"},
    {0xD967, "DOKE"},
    {0xD983, "DEEK"},
    {0xD993, "Byte2Hex"},
    {0xD9B5, "HEX$"},
    {0xD9DE, "LORES"},
    {0xDA0C, "RowCalc"},
    {0xDA3F, "SCRN"},
    {0xDA51, "PLOT"},
    {0xDA85, "REPEAT"},
    {0xDAA1, "UNTIL"},
    {0xDAAB, "REPEAT"},
    {0xDADA, "KEY"},
    {0xDADA, "KEY$"},
    {0xDAF6, "TxtTest"},
    {0xDB92, "Normalise"},
    {0xDBB9, "AddMantiss"},
    {0xDCAF, "LN"},
    {0xDD51, "UnpackFPA"},
    {0xDDA1, "PULL"},
    {0xDDA7, "FPAMult10"},
    {0xDDC3, "FPADiv10"},
    {0xDDD4, "LOG"},
    {0xDE77, "PI"},
    {0xDEF4, "RoundFPA"},
    {0xDF0B, "FALSE"},
    {0xDF0F, "TRUE"},
    {0xDF13, "GetSign"},
    {0xDF21, "SGN"},
    {0xDF49, "ABS"},
    {0xDF4C, "CompareFPA"},
    {0xDF8C, "FPA2Int"},
    {0xDFBD, "INT"},
    {0xDFE7, "GetNumber"},
    {0xE076, "AddToFPA"},
    {0xE0C5, "PrintInt"},
    {0xE22A, "EXP"},
    {0xE22E, "SQR"},
    {0xE27C, "ExpData"},
    {0xE2AA, "EXP"},
    {0xE313, "SeriesEval"},
    {0xE34F, "RND"},
    {0xE38B, "COS"},
    {0xE392, "SIN"},
    {0xE3DB, "TAN"},
    {0xE407, "TrigData"},
    {0xE43F, "ATN"},
    {0xE46F, "ATNData"},
    {0xE4AC, "TapeSync"},
    {0xE4E0, "GetTapeData"},
    {0xE4F2, "VERIFY"},
    {0xE56C, "IncTapeCou"},
    {0xE57D, "PrintSearc"},
    {0xE585, "PrintSavin"},
    {0xE58C, "PrintFName"},
    {0xE594, "PrintFound"},
    {0xE5A4, "PrintLoadi"},
    {0xE5AB, "PrintVerif"},
    {0xE5B6, "PrintMsg"},
    {0xE5EA, "ClrStatus"},
    {0xE5F5, "ClrTapeSta"},
    {0xE607, "WriteFileH"},
    {0xE65E, "PutTapeByte"},
    {0xE6C9, "GetTapeByte"},
    {0xE735, "SyncTape"},
    {0xE75A, "WriteLeader"},
    {0xE76A, "SetupTape"},
    {0xE7B2, "GetTapePar"},
    {0xE85B, "CLOAD"},
    {0xE903, "CLEAR"},
    {0xE909, "CSAVE"},
    {0xE946, "CALL"},
    {0xE987, "STORE"},
    {0xE9D1, "RECALL"},
    {0xEAF0, "HiresTest"},
    {0xEB78, "CheckKbd"},
    {0xEBCE, "HIMEM"},
    {0xEBE7, "GRAB"},
    {0xEC0C, "RELEASE"},
    {0xEC21, "TEXT"},
    {0xEC33, "HIRES"},
    {0xEC45, "POINT"},
    {0xECCC, "Start BASIC"},
    {0xEDC4, "CopyMem"},
    {0xEDE0, "SetupTimer"},
    {0xEE1A, "StopTimer"},
    {0xEE22, "IRQ"},
    {0xEE8C, "ResetTimer"},
    {0xEE9D, "GetTimer"},
    {0xEEAB, "SetTimer"},
    {0xEEC9, "Delay"},
    {0xEEE8, "WritePixel"},
    {0xEEF8, "DrawLine"},
    {0xF0C8, "CURSET"},
    {0xF0FD, "CURMOV"},
    {0xF110, "DRAW"},
    {0xF11D, "PATTERN"},
    {0xF12D, "CHAR"},
    {0xF204, "PAPER"},
    {0xF210, "INK"},
    {0xF268, "FILL"},
    {0xF37F, "CIRCLE"},
    {0xF495, "ReadKbd"},
    {0xF4EF, "Key2ASCII"},
    {0xF523, "FindKey"},
    {0xF561, "ReadKbdCol"},
    {0xF590, "WriteToAY"},
    {0xF5C1, "PrintChar"},
    {0xF602, "ControlChr"},
    {0xF71A, "ClearLine"},
    {0xF77C, "Char2Scr"},
    {0xF7E4, "PrintA"},
    {0xF801, "Blink Cursor A=0|1 => off|on"},
    {0xF816, "AltChars"},
    {0xF865, "Print Status"},
    {0xF88F, "Reset"},
    {0xF8AF, "BASIC Start"},
    {0xF8B2, "NMI"},
    {0xF8B5, "BASIC Restart"},
    {0xF8B8, "System Setup"},
    {0xF920, "HiresMode"},
    {0xF967, "LoresMode"},
    {0xF9AA, "ResetVIA"},
    {0xF9C9, "SetupText"},
    {0xFA14, "RamTest"},
    {0xFA9F, "PING"},
    {0xFAA7, "PingData"},
    {0xFAB5, "EXPLODE/SHOOT"},
    {0xFABD, "ShootData"},
    {0xFACB, "ExplodeData"},
    {0xFAE1, "ZAP"},
    {0xFB06, "ZapData"},
    {0xFB14, "KeyClickH"},
    {0xFB1C, "KeyClickHD"},
    {0xFB2A, "KeyClickL"},
    {0xFB32, "KeyClickLD"},
    {0xFB40, "SOUND"},
    {0xFBD0, "PLAY"},
    {0xFC18, "MUSIC"},
    {0xFC5E, "MusicData"},
    {0xFC78, "CharSet"},
    {0xFF78, "KeyCodeTab"},
};
static_assert(std::size(symboldef_z5) == SYMBOLDEF_COUNT);

// Opcode tables, a row per high nibble.
// clang-format off

// Addressing mode per opcode (codes of cpu_6502_mode).
constexpr int32_t opmodes[256] = {
//  x0  x1  x2  x3  x4  x5  x6  x7  x8  x9  xA  xB  xC  xD  xE  xF
     0,  9,  0,  0,  0,  3,  3,  0,  0,  1,  0,  0,  0,  2,  2,  0,  // 0x
     4, 10,  0,  0,  0,  7,  7,  0,  0,  6,  0,  0,  0,  5,  5,  0,  // 1x
     2,  9,  0,  0,  3,  3,  3,  0,  0,  1,  0,  0,  2,  2,  2,  0,  // 2x
     4, 10,  0,  0,  0,  7,  7,  0,  0,  6,  0,  0,  0,  5,  5,  0,  // 3x
     0,  9,  0,  0,  0,  3,  3,  0,  0,  1,  0,  0,  2,  2,  2,  0,  // 4x
     4, 10,  0,  0,  0,  7,  7,  0,  0,  6,  0,  0,  0,  5,  5,  0,  // 5x
     0,  9,  0,  0,  0,  3,  3,  0,  0,  1,  0,  0, 11,  2,  2,  0,  // 6x
     4, 10,  0,  0,  0,  7,  7,  0,  0,  6,  0,  0,  0,  5,  5,  0,  // 7x
     0,  9,  0,  0,  3,  3,  3,  0,  0,  0,  0,  0,  2,  2,  2,  0,  // 8x
     4, 10,  0,  0,  7,  7,  8,  0,  0,  6,  0,  0,  0,  5,  0,  0,  // 9x
     1,  9,  1,  0,  3,  3,  3,  0,  0,  1,  0,  0,  2,  2,  2,  0,  // Ax
     4, 10,  0,  0,  7,  7,  8,  0,  0,  6,  0,  0,  5,  5,  6,  0,  // Bx
     1,  9,  0,  0,  3,  3,  3,  0,  0,  1,  0,  0,  2,  2,  2,  0,  // Cx
     4, 10,  0,  0,  0,  7,  7,  0,  0,  6,  0,  0,  0,  5,  5,  0,  // Dx
     1,  9,  0,  0,  3,  3,  3,  0,  0,  1,  0,  0,  2,  2,  2,  0,  // Ex
     4, 10,  0,  0,  0,  7,  7,  0,  0,  6,  0,  0,  0,  5,  5,  0,  // Fx
};
static_assert(std::size(opmodes) == 256);

// Instruction length in bytes.
constexpr int32_t opsizes[256] = {
//  x0 x1 x2 x3 x4 x5 x6 x7 x8 x9 xA xB xC xD xE xF
    1, 2, 1, 1, 1, 2, 2, 1, 1, 2, 1, 1, 1, 3, 3, 1,  // 0x
    2, 2, 1, 1, 1, 2, 2, 1, 1, 3, 1, 1, 1, 3, 3, 1,  // 1x
    3, 2, 1, 1, 2, 2, 2, 1, 1, 2, 1, 1, 3, 3, 3, 1,  // 2x
    2, 2, 1, 1, 1, 2, 2, 1, 1, 3, 1, 1, 1, 3, 3, 1,  // 3x
    1, 2, 1, 1, 1, 2, 2, 1, 1, 2, 1, 1, 3, 3, 3, 1,  // 4x
    2, 2, 1, 1, 1, 2, 2, 1, 1, 3, 1, 1, 1, 3, 3, 1,  // 5x
    1, 2, 1, 1, 1, 2, 2, 1, 1, 2, 1, 1, 3, 3, 3, 1,  // 6x
    2, 2, 1, 1, 1, 2, 2, 1, 1, 3, 1, 1, 1, 3, 3, 1,  // 7x
    1, 2, 1, 1, 2, 2, 2, 1, 1, 1, 1, 1, 3, 3, 3, 1,  // 8x
    2, 2, 1, 1, 2, 2, 2, 1, 1, 3, 1, 1, 1, 3, 1, 1,  // 9x
    2, 2, 2, 1, 2, 2, 2, 1, 1, 2, 1, 1, 3, 3, 3, 1,  // Ax
    2, 2, 1, 1, 2, 2, 2, 1, 1, 3, 1, 1, 3, 3, 3, 1,  // Bx
    2, 2, 1, 1, 2, 2, 2, 1, 1, 2, 1, 1, 3, 3, 3, 1,  // Cx
    2, 2, 1, 1, 1, 2, 2, 1, 1, 3, 1, 1, 1, 3, 3, 1,  // Dx
    2, 2, 1, 1, 2, 2, 2, 1, 1, 2, 1, 1, 3, 3, 3, 1,  // Ex
    2, 2, 1, 1, 1, 2, 2, 1, 1, 3, 1, 1, 1, 3, 3, 1,  // Fx
};
static_assert(std::size(opsizes) == 256);

constexpr const char *opnames[256] = {
//  x0     x1     x2     x3     x4     x5     x6     x7     x8     x9     xA     xB     xC     xD     xE     xF
    "BRK", "ORA", "???", "???", "???", "ORA", "ASL", "???", "PHP", "ORA", "ASL", "???", "???", "ORA", "ASL", "???",  // 0x
    "BPL", "ORA", "???", "???", "???", "ORA", "ASL", "???", "CLC", "ORA", "???", "???", "???", "ORA", "ASL", "???",  // 1x
    "JSR", "AND", "???", "???", "BIT", "AND", "ROL", "???", "PLP", "AND", "ROL", "???", "BIT", "AND", "ROL", "???",  // 2x
    "BMI", "AND", "???", "???", "???", "AND", "ROL", "???", "SEC", "AND", "???", "???", "???", "AND", "ROL", "???",  // 3x
    "RTI", "EOR", "???", "???", "???", "EOR", "LSR", "???", "PHA", "EOR", "LSR", "???", "JMP", "EOR", "LSR", "???",  // 4x
    "BVC", "EOR", "???", "???", "???", "EOR", "LSR", "???", "CLI", "EOR", "???", "???", "???", "EOR", "LSR", "???",  // 5x
    "RTS", "ADC", "???", "???", "???", "ADC", "ROR", "???", "PLA", "ADC", "ROR", "???", "JMP", "ADC", "ROR", "???",  // 6x
    "BVS", "ADC", "???", "???", "???", "ADC", "ROR", "???", "SEI", "ADC", "???", "???", "???", "ADC", "ROR", "???",  // 7x
    "???", "STA", "???", "???", "STY", "STA", "STX", "???", "DEY", "???", "TXA", "???", "STY", "STA", "STX", "???",  // 8x
    "BCC", "STA", "???", "???", "STY", "STA", "STX", "???", "TYA", "STA", "TXS", "???", "???", "STA", "???", "???",  // 9x
    "LDY", "LDA", "LDX", "???", "LDY", "LDA", "LDX", "???", "TAY", "LDA", "TAX", "???", "LDY", "LDA", "LDX", "???",  // Ax
    "BCS", "LDA", "???", "???", "LDY", "LDA", "LDX", "???", "CLV", "LDA", "TSX", "???", "LDY", "LDA", "LDX", "???",  // Bx
    "CPY", "CMP", "???", "???", "CPY", "CMP", "DEC", "???", "INY", "CMP", "DEX", "???", "CPY", "CMP", "DEC", "???",  // Cx
    "BNE", "CMP", "???", "???", "???", "CMP", "DEC", "???", "CLD", "CMP", "???", "???", "???", "CMP", "DEC", "???",  // Dx
    "CPX", "SBC", "???", "???", "CPX", "SBC", "INC", "???", "INX", "SBC", "NOP", "???", "CPX", "SBC", "INC", "???",  // Ex
    "BEQ", "SBC", "???", "???", "???", "SBC", "INC", "???", "SED", "SBC", "???", "???", "???", "SBC", "INC", "???",  // Fx
};
static_assert(std::size(opnames) == 256);
// clang-format on

// Operand format per addressing mode; each takes the mnemonic, then the operand.
constexpr const char *opmodesdasm[12] = {
    "%s",            // implied
    "%s #$%.02X",    // immediate
    "%s $%.04X",     // absolute
    "%s $%.02X",     // zero page
    "%s $%.04X",     // relative: the branch target
    "%s $%.04X,X",   // absolute,X
    "%s $%.04X,Y",   // absolute,Y
    "%s $%.02X,X",   // zero page,X
    "%s $%.02X,Y",   // zero page,Y
    "%s ($%.02X,X)", // (zero page,X)
    "%s ($%.02X),Y", // (zero page),Y
    "%s ($%.04X)",   // (absolute)
};
static_assert(std::size(opmodesdasm) == 12);

constexpr int mode_length(int32_t mode) {
    if (mode == MODE_IMP) return 1;
    if (mode == MODE_ABS || mode == MODE_ABX || mode == MODE_ABY || mode == MODE_IND) return 3;
    return 2;
}

constexpr bool tables_agree() {
    int documented = 0;
    for (int op = 0; op < 256; op++) {
        if (opmodes[op] < MODE_IMP || opmodes[op] > MODE_IND) return false;
        if (opsizes[op] != mode_length(opmodes[op])) return false;
        bool unknown = opnames[op][0] == '?';
        if (unknown && opmodes[op] != MODE_IMP) return false;
        documented += !unknown;
    }
    return documented == 151;
}
static_assert(tables_agree(), "opcode tables disagree");

constexpr bool symbols_ascending() {
    for (int i = 1; i < SYMBOLDEF_COUNT; i++)
        if (symboldef_z5[i].address < symboldef_z5[i - 1].address) return false;
    return true;
}
static_assert(symbols_ascending());

// The I/O page's registers are the machine's, whatever the ROM.
constexpr uint16_t IO_FIRST = 0x0300, IO_LAST = 0x03FF;

static struct {
    const symboldef **symbols; // 65,536 entries once built
    bool ours;                 // built for our own ROM's labels
    // The user's labels; a deque keeps the records where the index points.
    std::deque<std::string> names;
    std::deque<symboldef> user;
    char buffer[256];
} dbg;

static uint8_t read_byte(int addr) {
    uint8_t value = 0;
    mem_read(static_cast<unsigned>(addr) & 0xFFFF, &value);
    return value;
}

// Backwards, so the first of two records for one address wins.
static void fill(const symboldef *defs, int count, bool io_only) {
    for (int i = count - 1; i >= 0; i--) {
        const uint16_t a = defs[i].address;
        if (!io_only || (a >= IO_FIRST && a <= IO_LAST)) dbg.symbols[a] = &defs[i];
    }
}

static void build_index(bool ours) {
    for (int a = 0; a < 0x10000; a++)
        dbg.symbols[a] = nullptr;
    if (ours) {
        fill(symboldef_z5, SYMBOLDEF_COUNT, true);
        fill(rom_labels, rom_labels_count, false);
    } else {
        fill(symboldef_z5, SYMBOLDEF_COUNT, false);
    }
    for (const symboldef &d : dbg.user)
        dbg.symbols[d.address] = &d;
    dbg.ours = ours;
}

int cpu_6502_debug_init() {
    const bool ours = rom_image_hash() == rom_labels_hash;
    if (dbg.symbols && dbg.ours == ours) return 0;
    if (!dbg.symbols) dbg.symbols = new (std::nothrow) const symboldef *[0x10000]();
    if (!dbg.symbols) return 0; // the trace then runs without labels
    build_index(ours);
    return 0;
}

static const symboldef *find_label(int addr) {
    return dbg.symbols ? dbg.symbols[addr & 0xFFFF] : nullptr;
}

int cpu_6502_debug_run(int pc, int irq, int a, int x, int y, int stack, int flags) {
    if ((tr[0] & (TR_MASTER | TR_CPU)) != (TR_MASTER | TR_CPU)) return 0;
    // Our own reads must not show up as RAM, ROM or device traces.
    tr[0] &= static_cast<uint8_t>(~TR_MASTER);
    pc &= 0xFFFF;
    if (const symboldef *here = find_label(pc)) log_info("\n @ | %s", here->label);

    char *buffer = dbg.buffer;
    const size_t room = sizeof dbg.buffer;
    int used =
        snprintf(buffer, room, "| %.2X | %.2X | %.2X | %.2X | %c%c%c%c%c%c%c%c | ", a, x, y,
                 stack & 0xFF, flags & 0x80 ? 'N' : '.', flags & 0x40 ? 'V' : '.', '-',
                 flags & 0x10 ? 'B' : '.', flags & 0x08 ? 'D' : '.', flags & 0x04 ? 'I' : '.',
                 flags & 0x02 ? 'Z' : '.', flags & 0x01 ? 'C' : '.');
    char *text = buffer + used;
    size_t left = room - static_cast<size_t>(used);

    uint8_t op = read_byte(pc);
    const char *format = opmodesdasm[opmodes[op]];
    switch (opsizes[op]) {
    case 1:
        snprintf(text, left, format, opnames[op]);
        log_info("%2X | %.4X: %.2X       %s", irq, pc, op, buffer);
        break;
    case 2: {
        uint8_t operand = read_byte(pc + 1);
        int shown = operand;
        if (opmodes[op] == MODE_REL) shown = pc + 2 + static_cast<int8_t>(operand);
        snprintf(text, left, format, opnames[op], shown);
        log_info("%2X | %.4X: %.2X %.2X    %s", irq, pc, op, operand, buffer);
        break;
    }
    default: {
        uint8_t lo = read_byte(pc + 1);
        uint8_t hi = read_byte(pc + 2);
        int word = lo | hi << 8;
        snprintf(text, left, format, opnames[op], word);
        const symboldef *target = find_label(word);
        // A JSR line ends in "[ 1 ]": the processor trace is on whenever this runs.
        if (target && op == 0x20)
            log_info("%2X | %.4X: %.2X %.2X %.2X %s ; %s [ 1 ]", irq, pc, op, lo, hi, buffer,
                     target->label);
        else if (target)
            log_info("%2X | %.4X: %.2X %.2X %.2X %s ; %s", irq, pc, op, lo, hi, buffer,
                     target->label);
        else if (op == 0x20)
            log_info("%2X | %.4X: %.2X %.2X %.2X %s ; [ 1 ]", irq, pc, op, lo, hi, buffer);
        else
            log_info("%2X | %.4X: %.2X %.2X %.2X %s", irq, pc, op, lo, hi, buffer);
        break;
    }
    }
    tr[0] |= TR_MASTER;
    return 0;
}

const symboldef **cpu_6502_debug_symbols() {
    return dbg.symbols;
}

const char *cpu_6502_debug_label(uint16_t addr) {
    const symboldef *d = find_label(addr);
    return d ? d->label : nullptr;
}

int cpu_6502_debug_add_label(uint16_t addr, const char *name) {
    if (!dbg.symbols) return 1;
    dbg.names.emplace_back(name);
    dbg.user.push_back({addr, dbg.names.back().c_str()});
    dbg.symbols[addr] = &dbg.user.back();
    return 0;
}

int cpu_6502_debug_clear_labels() {
    dbg.user.clear();
    dbg.names.clear();
    if (dbg.symbols) build_index(dbg.ours);
    return 0;
}
