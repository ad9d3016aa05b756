// PLACEHOLDER until program files land: lets the other modules link.
#include "sys_file.h"

int sys_file_load(const char *) { return 1; }
int sys_file_save(const char *) { return 1; }
int sys_file_load_bin(const char *, uint16_t) { return 1; }
int sys_file_save_bin(const char *, uint16_t, uint16_t) { return 1; }
int sys_file_load_txt(const char *) { return 1; }
int sys_file_mount_tap(const char *) { return 1; }
