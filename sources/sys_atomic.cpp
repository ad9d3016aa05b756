#include "sys_atomic.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "log.h"

constexpr int ATOMIC_TRIES = 100; // names taken by others before giving up

static std::atomic<unsigned> atomic_serial{0};

// Replacing a link would cut it; the file it leads to is what the user means.
static std::string target_of(const char *path) {
    struct stat st;
    if (lstat(path, &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char real[PATH_MAX];
    return realpath(path, real) ? std::string(real) : std::string(path);
}

static std::string folder_of(const std::string &path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes sure the rename itself reaches the disk; some file systems refuse
// to sync a folder, which costs only durability, not atomicity.
static void sync_folder(const std::string &path) {
    int fd = open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

int sys_atomic_open(sys_atomic *a, const char *path) {
    a->file = nullptr;
    a->path = target_of(path);
    a->temp.clear();
    struct stat st;
    bool exists = stat(a->path.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        // A device or a pipe is written in place; renaming over it would
        // replace the device itself.
        a->file = fopen(a->path.c_str(), "wb");
        if (!a->file) log_error("can't write '%s': %s", a->path.c_str(), strerror(errno));
        return a->file ? 0 : 1;
    }
    int fd = -1;
    for (int i = 0; i < ATOMIC_TRIES && fd < 0; i++) {
        a->temp = a->path + ".tmp" + std::to_string(getpid()) + "-" +
                  std::to_string(atomic_serial.fetch_add(1));
        // 0666 through the umask, as fopen would give a new file.
        fd = open(a->temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        int err = errno;
        log_error("can't create a temporary file beside '%s': %s", a->path.c_str(), strerror(err));
        errno = err; // the caller may say why
        return 1;
    }
    if (exists) fchmod(fd, st.st_mode & 07777);
    a->file = fdopen(fd, "wb");
    if (!a->file) {
        close(fd);
        unlink(a->temp.c_str());
        log_error("can't write beside '%s': %s", a->path.c_str(), strerror(errno));
        return 1;
    }
    return 0;
}

int sys_atomic_commit(sys_atomic *a) {
    if (!a->file) return 1;
    // Devices and pipes may refuse fsync; only the flush counts for them.
    bool ok = fflush(a->file) == 0 && !ferror(a->file) &&
              (a->temp.empty() || fsync(fileno(a->file)) == 0);
    int err = errno;
    if (fclose(a->file) != 0 && ok) {
        ok = false;
        err = errno;
    }
    a->file = nullptr;
    if (a->temp.empty()) {
        if (!ok) log_error("writing '%s' failed: %s", a->path.c_str(), strerror(err));
        return ok ? 0 : 1;
    }
    if (ok && rename(a->temp.c_str(), a->path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        unlink(a->temp.c_str());
        log_error("writing '%s' failed, the old file is kept: %s", a->path.c_str(), strerror(err));
        errno = err;
        return 1;
    }
    sync_folder(a->path);
    return 0;
}

void sys_atomic_abort(sys_atomic *a) {
    if (!a->file) return;
    fclose(a->file);
    a->file = nullptr;
    if (!a->temp.empty()) unlink(a->temp.c_str());
}

int sys_atomic_write(const char *path, const void *data, size_t size) {
    sys_atomic a;
    if (sys_atomic_open(&a, path) != 0) return 1;
    // A short write leaves the stream's error set; commit reports it.
    if (size) static_cast<void>(fwrite(data, 1, size, a.file));
    return sys_atomic_commit(&a);
}
