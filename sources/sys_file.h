// sys_file: programs, screens and tapes between host files and emulated
// memory, and BASIC text. Called from console commands on the main thread,
// which hold the machine lock.
#pragma once
#include <cstdint>

int sys_file_load(const char *path);  // by extension; 0 success, 1 failure
int sys_file_save(const char *path);
int sys_file_load_bin(const char *path, uint16_t addr);
int sys_file_save_bin(const char *path, uint16_t start, uint16_t size);
int sys_file_load_txt(const char *path);
int sys_file_mount_tap(const char *path);  // nullptr releases the tape
