#include "log.h"

#include <cstdio>

uint8_t tr[4];

static struct {
    int verbosity;
    FILE *file;  // open at level 2 or more; the process exit closes it
    log_hook_fn hook;
} log_state;

static void write_info(const char *fmt, va_list ap) {
    if (log_state.verbosity == 0) return;
    if (log_state.hook) {
        log_state.hook(fmt, ap);
        return;
    }
    if (log_state.verbosity < 0) return;
    FILE *out = log_state.file ? log_state.file : stdout;
    vfprintf(out, fmt, ap);
    fputc('\n', out);
}

int log_verbosity(int level) {
    int previous = log_state.verbosity;
    log_state.verbosity = level;
    if (level >= 2 && !log_state.file) log_state.file = fopen("kestrel_log.txt", "wt");
    return previous;
}

int log_error(const char *fmt, ...) {
    if (log_state.verbosity < 1) return 0;
    va_list ap;
    va_start(ap, fmt);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
    fputc('\n', stderr);
    fflush(stderr);
    return 0;
}

int log_info(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    write_info(fmt, ap);
    va_end(ap);
    return 0;
}

int log_info_if(int cond, const char *fmt, ...) {
    if (!cond) return 0;
    va_list ap;
    va_start(ap, fmt);
    write_info(fmt, ap);
    va_end(ap);
    return 0;
}

int log_debug(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vfprintf(stdout, fmt, ap);
    va_end(ap);
    fputc('\n', stdout);
    fflush(stdout);
    return 0;
}

int log_info_hook(log_hook_fn hook) {
    log_state.hook = hook;
    return 0;
}
