#include "sys_data.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#ifndef KESTREL_DATA_DIR
#define KESTREL_DATA_DIR "/usr/share/kestrel"
#endif

static struct {
    std::map<std::string, std::string> overrides;
    bool beside_program;
} sys_data;

static bool readable(const std::string &path) {
    return access(path.c_str(), R_OK) == 0;
}

// The folder holding the running program ("" when unknown).
static std::string program_dir() {
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "";
    std::string path(exe, static_cast<size_t>(n));
    auto slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

// Beyond the working directory: <dir>/run for a build tree, then
// <prefix>/share/kestrel for <prefix>/bin/kestrel, then the configured one.
static std::vector<std::string> other_folders() {
    std::vector<std::string> dirs;
    std::string here = sys_data.beside_program ? program_dir() : "";
    if (!here.empty()) {
        dirs.push_back(here + "/run");
        auto slash = here.rfind('/');
        if (slash != std::string::npos) dirs.push_back(here.substr(0, slash) + "/share/kestrel");
    }
    // Kept as a string once: a literal built into the vector here made GCC's
    // link-time optimiser warn about a copy longer than its buffer.
    static const std::string installed = KESTREL_DATA_DIR;
    dirs.push_back(installed);
    std::vector<std::string> once;
    for (const std::string &dir : dirs)
        if (std::find(once.begin(), once.end(), dir) == once.end()) once.push_back(dir);
    return once;
}

std::string sys_data_path(const char *name) {
    auto it = sys_data.overrides.find(name);
    if (it != sys_data.overrides.end()) return it->second;
    if (readable(name) || name[0] == '/') return name;
    for (const std::string &dir : other_folders()) {
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

std::vector<std::string> sys_data_folders() {
    char cwd[PATH_MAX];
    std::vector<std::string> dirs = {getcwd(cwd, sizeof cwd) ? cwd : "."};
    for (const std::string &dir : other_folders())
        if (dir != dirs[0]) dirs.push_back(dir);
    return dirs;
}

std::vector<std::string> sys_data_missing(const std::vector<const char *> &names) {
    std::vector<std::string> missing;
    for (const char *name : names)
        if (!readable(sys_data_path(name))) missing.push_back(name);
    return missing;
}

int sys_data_beside_program(int on) {
    sys_data.beside_program = on != 0;
    return 0;
}

int sys_data_user_folder(std::string *why) {
    namespace fs = std::filesystem;
    const char *data = getenv("XDG_DATA_HOME"), *home = getenv("HOME");
    fs::path folder;
    if (data && *data == '/') // the rules ignore a relative one
        folder = fs::path(data) / "kestrel";
    else if (home && *home)
        folder = fs::path(home) / ".local/share/kestrel";
    else
        return *why = "neither XDG_DATA_HOME nor HOME is set", 1;
    std::error_code ec;
    bool made = fs::create_directories(folder, ec);
    if (ec) return *why = folder.string() + ": " + ec.message(), 1;
    if (chdir(folder.c_str()) != 0) return *why = folder.string() + ": " + strerror(errno), 1;
    // Only a new folder gets the demos: ones the user deleted stay deleted.
    for (const char *demo : {"demo.tap", "demo.dsk"})
        if (made) fs::copy_file(sys_data_path(demo), demo, ec);
    return 0;
}
