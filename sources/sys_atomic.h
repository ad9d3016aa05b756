// sys_atomic: replacing a file all at once. The new content goes to a
// temporary file beside the old one, is flushed to the disk and renamed over
// it, so a crash or a kill leaves the old file or the new one, never a mix.
// Devices and pipes (/dev/stdout, /dev/full) are written in place instead.
// No shared state: any thread may use it on its own record.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>

struct sys_atomic {
    FILE *file = nullptr; // where the caller writes; nullptr when not open
    std::string path;     // the file to replace (a link's target, not the link)
    std::string temp;     // the temporary file beside it; empty: written in place
};

// Creates the temporary file for `path`, with the mode a new file would get
// (or the old file's mode); 1 (logged) when it cannot be made. On failure
// here and in commit, errno tells why.
int sys_atomic_open(sys_atomic *a, const char *path);
// Flushes, syncs and renames the temporary file over the old one. 1 (logged)
// when any step fails: the old file stays as it was and the temporary goes.
// The record is closed either way.
int sys_atomic_commit(sys_atomic *a);
// Drops the temporary file and leaves the old one alone.
void sys_atomic_abort(sys_atomic *a);
// The whole of `path` replaced by `size` bytes; 0, or 1 as for commit.
int sys_atomic_write(const char *path, const void *data, size_t size);
