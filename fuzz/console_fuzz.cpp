// Console command lines, one per input line, with no console on screen:
// every command either runs or says why not, and leaves no temporary file.
// A '/' becomes '_', so the commands reach only files in the fuzz folder;
// lines naming files like our temporaries are left out.
#include "fdc.h"
#include "fuzz.h"
#include "sys_sdl_console.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_start();
    std::string text(reinterpret_cast<const char *>(data), size);
    if (text.find(".tmp") != std::string::npos) return 0; // names like our temporaries
    for (char &c : text)
        if (c == '/') c = '_';
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        Console_CommandHandler(nullptr, line.data());
        at = end + 1;
    }
    fdc_flush();
    const std::string temp = ".tmp" + std::to_string(getpid()) + "-";
    for (const auto &entry : std::filesystem::directory_iterator(".")) {
        FUZZ_CHECK(entry.path().filename().string().find(temp) == std::string::npos);
        std::error_code ec;
        std::filesystem::remove_all(entry.path(), ec);
    }
    fuzz_fresh_memory();
    fuzz_machine();
    return 0;
}
