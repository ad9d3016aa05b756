// sys_shot: pictures of the machine's screen as files, one host pixel per
// machine pixel (240 x 224) in the display generator's exact colours: PNG
// for screenshots, BMP for the console's "save file.bmp". Reads the video
// record's pixel buffer, which the timer thread draws: callers hold the
// machine lock, so the picture is a whole frame. Files are replaced at once
// (temporary file, then rename).
#pragma once
#include <string>

int sys_shot_png(const char *path); // 0 written; 1 (logged) when it cannot be
int sys_shot_bmp(const char *path);
// The first of "kestrel_0001.png", "kestrel_0002.png", ... that does not exist.
std::string sys_shot_next_name();
