// Files replaced all at once: old or new, never a mix, no temporary left.
#include "sys_atomic.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>

#include "fixture.h"

namespace {

using bytes = std::vector<uint8_t>;

size_t files_here() {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("."), {}));
}

mode_t mode_of(const char *path) {
    struct stat st = {};
    stat(path, &st);
    return st.st_mode & 07777;
}

} // namespace

TEST(SysAtomic, ReplacesWholeKeepsModeAndFollowsLinks) {
    TempDir dir;
    write_text("old", "old content that is longer");
    chmod("old", 0640);
    symlink("old", "link");
    EXPECT_EQ(0, sys_atomic_write("link", "new", 3));
    EXPECT_EQ("new", read_text("old"));
    EXPECT_EQ(0640u, mode_of("old"));
    struct stat st = {};
    EXPECT_EQ(0, lstat("link", &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(0, sys_atomic_write("fresh", "", 0)); // a new file, through the umask
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(0666u & ~mask, mode_of("fresh"));
    EXPECT_EQ(3u, files_here());
}

TEST(SysAtomic, AbortAndFailuresKeepTheOldFileAndLeaveNoTemporary) {
    TempDir dir;
    write_text("f", "old");
    sys_atomic a;
    ASSERT_EQ(0, sys_atomic_open(&a, "f"));
    fputs("half", a.file);
    EXPECT_EQ(2u, files_here());
    sys_atomic_abort(&a);
    EXPECT_EQ(nullptr, a.file);
    EXPECT_EQ(1, sys_atomic_commit(&a)); // nothing open
    EXPECT_EQ(1, sys_atomic_write("nodir/f", "x", 1));
    mkdir("d", 0755);
    EXPECT_EQ(1, sys_atomic_write("d", "x", 1)); // a folder is not replaced by a file
    // A full disk, in a child whose files may not grow past 4 KiB.
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit = {4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        bytes big(65536, 0xA5);
        _exit(sys_atomic_write("f", big.data(), big.size()) == 1 ? 0 : 3);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ("old", read_text("f"));
    EXPECT_EQ(2u, files_here());
}
