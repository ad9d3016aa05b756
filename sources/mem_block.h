// mem_block: a stretch of the bus backed by bytes (RAM, the system ROM, the
// boot ROM), shared by the stores and the decoder that reads them.
#pragma once
#include <cstdint>

struct mem_block {
    uint32_t base;
    uint32_t size;
    uint8_t *data;
};
