#include "sys_data.h"

#include <unistd.h>

#include <map>

#ifndef KESTREL_DATA_DIR
#define KESTREL_DATA_DIR "/usr/share/kestrel"
#endif

static struct { std::map<std::string, std::string> overrides; } sys_data;

static bool readable(const std::string &path) {
    return access(path.c_str(), R_OK) == 0;
}

// The installed data folder beside the running program ("" when unknown).
static std::string installed_dir() {
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "";
    std::string path(exe, static_cast<size_t>(n));
    // <prefix>/bin/kestrel -> <prefix>/share/kestrel
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return "";
    path.resize(slash);
    slash = path.rfind('/');
    if (slash == std::string::npos) return "";
    return path.substr(0, slash) + "/share/kestrel";
}

std::string sys_data_path(const char *name) {
    auto it = sys_data.overrides.find(name);
    if (it != sys_data.overrides.end()) return it->second;
    if (readable(name) || name[0] == '/') return name;
    for (const std::string &dir : {installed_dir(), std::string(KESTREL_DATA_DIR)}) {
        if (dir.empty()) continue;
        std::string path = dir + "/" + name;
        if (readable(path)) return path;
    }
    return name;
}

int sys_data_override(const char *name, const char *path) {
    if (path)
        sys_data.overrides[name] = path;
    else
        sys_data.overrides.erase(name);
    return 0;
}
