#include "state.h"

#include <cstdarg>
#include <cstdio>

#include "log.h"

static struct {
    state_report_fn reporter;
    uint32_t format = STATE_VERSION;
    const char *path = ""; // the file being read, for the refusal line
} state;

int state_set_reporter(state_report_fn fn) {
    state.reporter = fn;
    return 0;
}

int state_begin(uint32_t format, const char *path) {
    state.format = format;
    state.path = path ? path : "";
    return 0;
}

int state_end() {
    state.format = STATE_VERSION;
    state.path = "";
    return 0;
}

uint32_t state_format() {
    return state.format;
}

const char *state_path() {
    return state.path;
}

static void report_line(const char *prefix, const char *fmt, va_list ap) {
    char line[512];
    int used = snprintf(line, sizeof line, "%s", prefix);
    vsnprintf(line + used, sizeof line - static_cast<size_t>(used), fmt, ap);
    if (state.reporter) {
        state.reporter(line);
    } else {
        log_error("%s", line);
    }
}

int state_report(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    report_line("state: ", fmt, ap);
    va_end(ap);
    return 0;
}

int state_refuse(const char *fmt, ...) {
    char prefix[300];
    snprintf(prefix, sizeof prefix, *state.path ? "state '%s' refused: " : "state refused: %s",
             state.path);
    va_list ap;
    va_start(ap, fmt);
    report_line(prefix, fmt, ap);
    va_end(ap);
    return 1;
}

uint64_t state_hash(const uint8_t *bytes, size_t size) {
    uint64_t h = 0xCBF29CE484222325u;
    for (size_t i = 0; i < size; i++)
        h = (h ^ bytes[i]) * 0x100000001B3u;
    return h;
}
