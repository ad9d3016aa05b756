#include "ram.h"

#include <cstring>

#include "log.h"
#include "sys_atomic.h"
#include "state.h"

static uint8_t ram_data[RAM_SIZE];
mem_block ram = {0, RAM_SIZE, ram_data};

int ram_init() {
    ram = {0, RAM_SIZE, ram_data};
    memset(ram_data, 0, sizeof ram_data);
    return 0;
}

int ram_read(unsigned addr, uint8_t *out) {
    addr &= 0xFFFF;
    *out = ram_data[addr - ram.base];
    log_info_if(tr_on(0, TR_RAM), "{R} ram: %04X:%02X", addr, *out);
    return 0;
}

int ram_write(unsigned addr, uint8_t value) {
    addr &= 0xFFFF;
    ram_data[addr - ram.base] = value;
    log_info_if(tr_on(0, TR_RAM), "{W} ram: %04X:%02X", addr, value);
    return 0;
}

int ram_dump(const char *path) {
    if (sys_atomic_write(path, ram_data, sizeof ram_data) != 0) {
        log_error("ram: unable to write dump '%s'", path);
        return 1;
    }
    return 0;
}

uint8_t *ram_getptr() {
    return ram_data;
}

void ram_state_save(std::vector<uint8_t> &out) {
    state_put_bytes(out, ram_data, sizeof ram_data);
}

int ram_state_load(const uint8_t *data, size_t size, int apply) {
    state_reader in{data, size};
    const uint8_t *bytes = in.take(sizeof ram_data);
    if (in.finish("ram")) return 1;
    if (apply) memcpy(ram_data, bytes, sizeof ram_data);
    return 0;
}
