// sys_atomic: writing the user's files without harming them. A file is
// replaced all at once: the new content goes to a temporary file beside the
// old one ("name.tmpPID-N"), takes the old file's owner, group, mode and
// access list, is flushed to the disk and renamed over it, so a crash or a
// kill leaves the old file or the new one, never a mix.
//
// What it refuses, with the reason: folders, devices and pipes (a pipe would
// block the run), a file with no write bit (its owner made it read-only; the
// mode bits count even for root), a file the user may not write, a file with
// other names (hard links: a new file would part them). Only root can keep
// another user's ownership; for anyone else such a file becomes theirs. A symbolic link is followed
// to the file it names, which is created when missing; the link stays.
//
// No shared state but the per-thread reason of the last failure.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>

struct sys_atomic {
    FILE *file = nullptr; // where the caller writes; nullptr when not open
    std::string path;     // the file written (a link's target, not the link)
    std::string temp;     // the temporary file beside it; empty: written in place
};

constexpr int ATOMIC_REPLACE = 0;  // through a temporary file and a rename
constexpr int ATOMIC_IN_PLACE = 1; // added to where it is (a recording that grows)

// 0 when `path` may be written as `how` says; 1 with the one-line reason in
// *why (naming the file). Nothing is touched.
int sys_atomic_check(const char *path, int how, std::string *why);
// Creates the temporary file for `path`; 1 (logged, reason kept) when it
// is refused or cannot be made.
int sys_atomic_open(sys_atomic *a, const char *path);
// Opens `path` itself for adding at its end, after the same checks; nothing
// to rename, and a second name (hard link) sees the same file.
int sys_atomic_open_in_place(sys_atomic *a, const char *path);
// Flushes, syncs and renames the temporary file over the old one. 1 (logged)
// when any step fails: the old file stays as it was and the temporary goes.
// The record is closed either way.
int sys_atomic_commit(sys_atomic *a);
// Drops the temporary file and leaves the old one alone.
void sys_atomic_abort(sys_atomic *a);
// The whole of `path` replaced by `size` bytes; 0, or 1 as for commit.
int sys_atomic_write(const char *path, const void *data, size_t size);
// For output names a command makes up itself ("x.asm" for "x.bin"): the
// file may replace only one that such a write made and nobody changed since
// (a mark in an extended attribute says so), and never `input` itself. The
// file written carries the mark. 0, or 1 with the reason.
int sys_atomic_write_derived(const char *path, const char *input, const void *data, size_t size);
// Why the calling thread's last failed call failed ("" after a success); on
// every failure errno holds a code for it too.
const char *sys_atomic_error();
void sys_atomic_forget(); // clears it
// Removes our temporaries in `folder` that a killed run left: our name
// pattern, our owner, and a process number no longer running. The count.
int sys_atomic_sweep(const char *folder);
