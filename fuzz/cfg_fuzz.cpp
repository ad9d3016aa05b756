// The settings file, against a whole-line reader: a key changes only on a
// line naming it before any '#' and '='; what is saved loads back the same.
#include <strings.h>

#include "fuzz.h"
#include "sys_cfg.h"

static bool named_on_a_line(const std::string &text, const char *name) {
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        line = line.substr(0, line.find('#'));
        // Quotes and escapes may split a name in the file, never in the key.
        std::erase_if(line, [](char c) { return c == '"' || c == '\\'; });
        size_t eq = line.find('=');
        if (eq != std::string::npos && strcasestr(line.substr(0, eq).c_str(), name)) return true;
        at = end + 1;
    }
    return false;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_start();
    fuzz_write("kestrel.cfg", data, size);
    sys_cfg_defaults();
    FUZZ_CHECK(sys_cfg_load() == 0);
    FUZZ_CHECK(fuzz_read("kestrel.cfg") == bytes(data, data + size));
    int32_t loaded[CFG_ENTRIES];
    std::string text(reinterpret_cast<const char *>(data), size);
    for (int i = 0; i < CFG_ENTRIES; i++)
        loaded[i] = config[i].value;
    sys_cfg_defaults();
    for (int i = 0; i < CFG_ENTRIES; i++) {
        if (loaded[i] != config[i].value) FUZZ_CHECK(named_on_a_line(text, config[i].name));
        config[i].value = loaded[i];
    }
    FUZZ_CHECK(sys_cfg_save() == 0);
    sys_cfg_defaults();
    FUZZ_CHECK(sys_cfg_load() == 0);
    for (int i = 0; i < CFG_ENTRIES; i++)
        FUZZ_CHECK(config[i].value == loaded[i]);
    FUZZ_CHECK(fuzz_files() == 1);
    return 0;
}
