#include "sys_atomic.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "log.h"

constexpr int ATOMIC_TRIES = 100; // names taken by others before giving up
constexpr int ATOMIC_HOPS = 40;   // links followed before calling it a loop
constexpr const char *ACL_ACCESS = "system.posix_acl_access";
constexpr const char *MADE_MARK = "user.kestrel.made"; // size and time of our own write

static std::atomic<unsigned> atomic_serial{0};
static thread_local std::string atomic_reason;

// What the checks learned about the file to be written.
struct target {
    std::string path; // the link's final target, or the name as given
    bool exists = false;
    struct stat st = {};
};

static std::string folder_of(const std::string &path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Keeps the reason, logs it and leaves `err` in errno for callers that
// say why from errno.
__attribute__((format(printf, 2, 3))) static int refuse(int err, const char *fmt, ...) {
    char line[1024];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    atomic_reason = line;
    log_error("%s", line);
    errno = err;
    return 1;
}

// Replacing a link would cut it; the file it names is what the user means,
// also when that file does not exist yet.
static int follow_links(const char *path, target *t) {
    t->path = path;
    for (int hop = 0; hop < ATOMIC_HOPS; hop++) {
        if (lstat(t->path.c_str(), &t->st) != 0) {
            if (errno != ENOENT) return refuse(errno, "'%s': %s", path, strerror(errno));
            t->exists = false;
            return 0;
        }
        if (!S_ISLNK(t->st.st_mode)) {
            t->exists = true;
            return 0;
        }
        char to[4096];
        ssize_t n = readlink(t->path.c_str(), to, sizeof to - 1);
        if (n < 0) return refuse(errno, "'%s': %s", path, strerror(errno));
        to[n] = 0;
        t->path = to[0] == '/' ? std::string(to) : folder_of(t->path) + "/" + to;
    }
    return refuse(ELOOP, "'%s': too many links", path);
}

static bool may_write(const char *path) {
    return faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0;
}

// The checks shared by both ways of writing; `why` is the reason when refused.
static int check(const char *path, int how, target *t) {
    if (!path || !*path) return refuse(ENOENT, "no file name given");
    if (follow_links(path, t) != 0) return 1;
    const char *name = path;
    const std::string folder = folder_of(t->path);
    struct stat dir;
    if (stat(folder.c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode))
        return refuse(ENOENT, "'%s': its folder '%s' does not exist", name, folder.c_str());
    if (!t->exists || how == ATOMIC_REPLACE) {
        if (!may_write(folder.c_str()))
            return refuse(errno, "'%s': its folder '%s' cannot be written: %s", name,
                          folder.c_str(), strerror(errno));
    }
    if (!t->exists) return 0;
    const struct stat &st = t->st;
    if (S_ISDIR(st.st_mode)) return refuse(EISDIR, "'%s' is a folder", name);
    if (!S_ISREG(st.st_mode))
        return refuse(EINVAL, "'%s' is not a regular file (a pipe or a device)", name);
    // The owner's word counts for root too: a file without a write bit stays.
    if ((st.st_mode & 0222) == 0)
        return refuse(EACCES, "'%s' is read-only (mode %04o): not replaced", name,
                      st.st_mode & 07777);
    if (geteuid() != 0 && !may_write(t->path.c_str()))
        return refuse(errno, "'%s' may not be written: %s", name, strerror(errno));
    if (how == ATOMIC_IN_PLACE) return 0;
    if (st.st_nlink > 1)
        return refuse(EMLINK,
                      "'%s' has %lu names (hard links): not replaced, so that they stay one file",
                      name, static_cast<unsigned long>(st.st_nlink));
    return 0;
}

// Gives the temporary file what the old one had; 1 when something cannot
// be kept, so the replacement would change more than the content.
static int keep_attributes(int fd, const target &t) {
    // Only root may give a file away: another user's file that this user may
    // write becomes theirs, as any editor's copy would.
    if (fchown(fd, t.st.st_uid, t.st.st_gid) != 0 && geteuid() == 0)
        return refuse(errno, "'%s': can't keep its owner and group (%u:%u): %s", t.path.c_str(),
                      static_cast<unsigned>(t.st.st_uid), static_cast<unsigned>(t.st.st_gid),
                      strerror(errno));
    if (fchmod(fd, t.st.st_mode & 07777) != 0)
        return refuse(errno, "'%s': can't keep its mode: %s", t.path.c_str(), strerror(errno));
    ssize_t size = getxattr(t.path.c_str(), ACL_ACCESS, nullptr, 0);
    if (size <= 0) return 0; // none, or a file system without them
    std::vector<char> acl(static_cast<size_t>(size));
    size = getxattr(t.path.c_str(), ACL_ACCESS, acl.data(), acl.size());
    if (size < 0 || fsetxattr(fd, ACL_ACCESS, acl.data(), static_cast<size_t>(size), 0) != 0)
        return refuse(errno, "'%s': can't keep its access list: %s", t.path.c_str(),
                      strerror(errno));
    return 0;
}

// Makes sure the rename itself reaches the disk; some file systems refuse
// to sync a folder, which costs only durability, not atomicity.
static void sync_folder(const std::string &path) {
    int fd = open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

int sys_atomic_check(const char *path, int how, std::string *why) {
    target t;
    int refused = check(path, how, &t);
    if (why) *why = refused ? atomic_reason : "";
    return refused;
}

int sys_atomic_open(sys_atomic *a, const char *path) {
    atomic_reason.clear();
    a->file = nullptr;
    a->temp.clear();
    target t;
    if (check(path, ATOMIC_REPLACE, &t) != 0) return 1;
    a->path = t.path;
    int fd = -1;
    for (int i = 0; i < ATOMIC_TRIES && fd < 0; i++) {
        a->temp = a->path + ".tmp" + std::to_string(getpid()) + "-" +
                  std::to_string(atomic_serial.fetch_add(1));
        // 0666 through the umask, as fopen would give a new file.
        fd = open(a->temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        a->temp.clear();
        return refuse(errno, "can't create a temporary file beside '%s': %s", a->path.c_str(),
                      strerror(errno));
    }
    if (t.exists && keep_attributes(fd, t) != 0) {
        close(fd);
        unlink(a->temp.c_str());
        a->temp.clear();
        return 1;
    }
    a->file = fdopen(fd, "wb");
    if (!a->file) {
        close(fd);
        unlink(a->temp.c_str());
        a->temp.clear();
        return refuse(errno, "can't write beside '%s': %s", a->path.c_str(), strerror(errno));
    }
    return 0;
}

int sys_atomic_open_in_place(sys_atomic *a, const char *path) {
    atomic_reason.clear();
    a->file = nullptr;
    a->temp.clear();
    target t;
    if (check(path, ATOMIC_IN_PLACE, &t) != 0) return 1;
    a->path = t.path;
    int fd = open(a->path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0 || lseek(fd, 0, SEEK_END) < 0) {
        if (fd >= 0) close(fd);
        return refuse(errno, "can't write '%s': %s", a->path.c_str(), strerror(errno));
    }
    a->file = fdopen(fd, "wb");
    if (!a->file) {
        close(fd);
        return refuse(errno, "can't write '%s': %s", a->path.c_str(), strerror(errno));
    }
    return 0;
}

int sys_atomic_commit(sys_atomic *a) {
    if (!a->file) return 1;
    bool ok = fflush(a->file) == 0 && !ferror(a->file) && fsync(fileno(a->file)) == 0;
    int err = errno ? errno : EIO;
    if (fclose(a->file) != 0 && ok) {
        ok = false;
        err = errno;
    }
    a->file = nullptr;
    if (a->temp.empty()) {
        if (!ok) return refuse(err, "writing '%s' failed: %s", a->path.c_str(), strerror(err));
        atomic_reason.clear();
        return 0;
    }
    if (ok && rename(a->temp.c_str(), a->path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        unlink(a->temp.c_str());
        a->temp.clear();
        return refuse(err, "writing '%s' failed, the old file is kept: %s", a->path.c_str(),
                      strerror(err));
    }
    a->temp.clear();
    sync_folder(a->path);
    atomic_reason.clear();
    return 0;
}

void sys_atomic_abort(sys_atomic *a) {
    if (!a->file) return;
    fclose(a->file);
    a->file = nullptr;
    if (!a->temp.empty()) unlink(a->temp.c_str());
    a->temp.clear();
}

int sys_atomic_write(const char *path, const void *data, size_t size) {
    sys_atomic a;
    if (sys_atomic_open(&a, path) != 0) return 1;
    // A short write leaves the stream's error set; commit reports it.
    if (size) static_cast<void>(fwrite(data, 1, size, a.file));
    return sys_atomic_commit(&a);
}

static std::string mark_of(const struct stat &st) {
    return std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec);
}

int sys_atomic_write_derived(const char *path, const char *input, const void *data, size_t size) {
    atomic_reason.clear();
    struct stat st, in;
    if (stat(path, &st) == 0) {
        if (input && stat(input, &in) == 0 && in.st_dev == st.st_dev && in.st_ino == st.st_ino)
            return refuse(EEXIST, "'%s' is the file being read: name another output", path);
        char mark[64] = "";
        ssize_t n = getxattr(path, MADE_MARK, mark, sizeof mark - 1);
        if (n <= 0 || std::string(mark, static_cast<size_t>(n)) != mark_of(st))
            return refuse(EEXIST,
                          "'%s' exists and is not what kestrel wrote there: name another output",
                          path);
    }
    if (sys_atomic_write(path, data, size) != 0) return 1;
    // Without extended attributes the file is only not replaced next time.
    if (stat(path, &st) == 0) {
        const std::string mark = mark_of(st);
        setxattr(path, MADE_MARK, mark.data(), mark.size(), 0);
    }
    return 0;
}

const char *sys_atomic_error() {
    return atomic_reason.c_str();
}

void sys_atomic_forget() {
    atomic_reason.clear();
}

// The process number in "name.tmpPID-N", or -1 when the name is not ours.
static long temp_owner_pid(const char *name) {
    const char *tmp = nullptr;
    for (const char *p = strstr(name, ".tmp"); p; p = strstr(p + 1, ".tmp"))
        tmp = p;
    if (!tmp || tmp == name) return -1;
    const char *p = tmp + 4;
    char *end = nullptr;
    long pid = strtol(p, &end, 10);
    if (end == p || *end != '-' || pid <= 0) return -1;
    p = end + 1;
    strtoul(p, &end, 10);
    if (end == p || *end) return -1;
    return pid;
}

int sys_atomic_sweep(const char *folder) {
    DIR *d = opendir(folder);
    if (!d) return 0;
    int removed = 0;
    while (dirent *e = readdir(d)) {
        long pid = temp_owner_pid(e->d_name);
        if (pid < 0 || pid == getpid()) continue;
        // A process by that number may be another run still writing.
        if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        std::string path = std::string(folder) + "/" + e->d_name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid())
            continue;
        if (unlink(path.c_str()) == 0) removed++;
    }
    closedir(d);
    if (removed) log_info("removed %d temporary files a stopped run left in '%s'", removed, folder);
    return removed;
}
