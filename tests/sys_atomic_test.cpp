// Files replaced all at once: old or new, never a mix, no temporary left;
// what is replaced keeps its owner, group, mode and access list; what the
// user did not mean to lose is refused, with the reason.
#include "sys_atomic.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>

#include <csignal>

#include "fixture.h"

namespace {

using bytes = std::vector<uint8_t>;

size_t files_here() {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("."), {}));
}

struct stat stat_of(const char *path) {
    struct stat st = {};
    stat(path, &st);
    return st;
}

mode_t mode_of(const char *path) {
    return stat_of(path).st_mode & 07777;
}

// An access list in the kernel's own layout: a version word, then (tag,
// permissions, id) entries sorted by tag; here the owner, user 4242 with
// read, the group, the mask and the others.
std::string acl_granting_4242() {
    std::string acl;
    auto put = [&acl](uint32_t v, int n) {
        for (int i = 0; i < n; i++)
            acl.push_back(char(v >> (8 * i)));
    };
    put(2, 4);
    for (auto [tag, perm, id] : {std::tuple{0x01u, 6u, ~0u},
                                 {0x02u, 4u, 4242u},
                                 {0x04u, 4u, ~0u},
                                 {0x10u, 4u, ~0u},
                                 {0x20u, 0u, ~0u}}) {
        put(tag, 2);
        put(perm, 2);
        put(id, 4);
    }
    return acl;
}

// Runs `body` in a child as the unprivileged user 65534; its exit status.
template <typename F> int as_nobody(F body) {
    pid_t pid = fork();
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(SysAtomic, ReplacesWholeKeepingOwnerGroupModeAndAccessList) {
    TempDir dir;
    write_text("old", "old content that is longer");
    chmod("old", 0640);
    if (running_as_root()) {
        ASSERT_EQ(0, chown("old", 4242, 4243));
    }
    const std::string acl = acl_granting_4242();
    bool acl_set = setxattr("old", "system.posix_acl_access", acl.data(), acl.size(), 0) == 0;
    const ino_t inode = stat_of("old").st_ino;
    EXPECT_EQ(0, sys_atomic_write("old", "new", 3));
    EXPECT_EQ("new", read_text("old"));
    EXPECT_NE(inode, stat_of("old").st_ino); // a new file, renamed into place
    EXPECT_EQ(0640u, mode_of("old"));
    if (running_as_root()) {
        EXPECT_EQ(4242u, stat_of("old").st_uid);
        EXPECT_EQ(4243u, stat_of("old").st_gid);
    }
    if (acl_set) {
        char got[256];
        ssize_t n = getxattr("old", "system.posix_acl_access", got, sizeof got);
        EXPECT_EQ(acl, std::string(got, size_t(std::max<ssize_t>(n, 0))));
    }
    EXPECT_EQ(0, sys_atomic_write("fresh", "", 0)); // a new file, through the umask
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(0666u & ~mask, mode_of("fresh"));
    EXPECT_EQ(2u, files_here());
    EXPECT_STREQ("", sys_atomic_error());
}

TEST(SysAtomic, WritesThroughLinksAndCreatesWhatADanglingLinkNames) {
    TempDir dir;
    mkdir("sub", 0755);
    write_text("sub/real", "old");
    chmod("sub/real", 0600);
    symlink("sub/real", "link");
    symlink("link", "chain");          // a link to a link
    symlink("missing", "sub/dangles"); // relative to its own folder
    EXPECT_EQ(0, sys_atomic_write("chain", "new", 3));
    EXPECT_EQ(0, sys_atomic_write("sub/dangles", "made", 4));
    EXPECT_EQ("new", read_text("sub/real"));
    EXPECT_EQ(0600u, mode_of("sub/real"));
    EXPECT_EQ("made", read_text("sub/missing"));
    for (const char *link : {"link", "chain", "sub/dangles"}) {
        struct stat st = {};
        EXPECT_EQ(0, lstat(link, &st));
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << link;
    }
    symlink("loop", "loop");
    symlink("nodir/x", "lost");
    EXPECT_EQ(1, sys_atomic_write("loop", "x", 1));
    EXPECT_EQ(1, sys_atomic_write("lost", "x", 1));
    EXPECT_NE(nullptr, strstr(sys_atomic_error(), "does not exist")) << sys_atomic_error();
}

// Each refusal names the file and why; the old file is untouched and no
// temporary is left.
TEST(SysAtomic, RefusesWhatTheUserDidNotMeanToLoseAndSaysWhy) {
    TempDir dir;
    write_text("ro", "kept");
    chmod("ro", 0444);
    write_text("twice", "kept");
    link("twice", "twin");
    mkfifo("pipe", 0644);
    mkdir("folder", 0755);
    symlink("/dev/null", "dev");
    const std::pair<const char *, const char *> rows[] = {
        {"ro", "'ro' is read-only (mode 0444)"},
        {"twice", "'twice' has 2 names (hard links)"},
        {"pipe", "'pipe' is not a regular file"},
        {"dev", "'dev' is not a regular file"},
        {"folder", "'folder' is a folder"},
        {"nodir/f", "its folder 'nodir' does not exist"},
        {"", "no file name given"},
    };
    for (const auto &[path, why] : rows) {
        std::string checked;
        EXPECT_EQ(1, sys_atomic_check(path, ATOMIC_REPLACE, &checked)) << path;
        EXPECT_EQ(1, sys_atomic_write(path, "x", 1)) << path;
        EXPECT_NE(nullptr, strstr(sys_atomic_error(), why)) << sys_atomic_error();
        EXPECT_EQ(checked, sys_atomic_error());
    }
    EXPECT_EQ("kept", read_text("ro") + read_text("twin").substr(4) + read_text("twice").substr(4));
    EXPECT_EQ(0444u, mode_of("ro"));
    EXPECT_EQ(2u, stat_of("twin").st_nlink);
    // In place, a second name is no harm: both names see what is added.
    sys_atomic a;
    ASSERT_EQ(0, sys_atomic_open_in_place(&a, "twin"));
    fputs("both", a.file);
    EXPECT_EQ(0, sys_atomic_commit(&a));
    EXPECT_EQ("keptboth", read_text("twice"));
    EXPECT_EQ(1, sys_atomic_open_in_place(&a, "ro"));
    EXPECT_EQ(1, sys_atomic_open_in_place(&a, "pipe")); // would block, not refuse, if opened
    EXPECT_EQ(6u, files_here());
}

// Without privilege: the mode bits and the folder decide; a file of root's
// that anyone may write is replaced and becomes the writer's.
TEST(SysAtomic, AnotherUserReplacesOnlyWhatTheyMayWrite) {
    if (!running_as_root()) GTEST_SKIP() << "needs root to become another user";
    TempDir dir;
    chmod(".", 0777);
    write_text("mine", "kept");
    chmod("mine", 0644);
    write_text("shared", "old");
    chmod("shared", 0666);
    mkdir("closed", 0755);
    EXPECT_EQ(0, as_nobody([] {
                  int refused =
                      sys_atomic_write("mine", "x", 1) + sys_atomic_write("closed/new", "x", 1);
                  bool said = strstr(sys_atomic_error(), "its folder 'closed' cannot be written");
                  return refused == 2 && said && sys_atomic_write("shared", "new", 3) == 0 ? 0 : 1;
              }));
    EXPECT_EQ("keptnew", read_text("mine") + read_text("shared"));
    EXPECT_EQ(0666u, mode_of("shared"));
    EXPECT_EQ(65534u, stat_of("shared").st_uid);
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
    // A full disk, in a child whose files may not grow past 4 KiB.
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit = {4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        bytes big(65536, 0xA5);
        bool said = sys_atomic_write("f", big.data(), big.size()) == 1 &&
                    strstr(sys_atomic_error(), "the old file is kept: File too large");
        _exit(said ? 0 : 3);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ("old", read_text("f"));
    EXPECT_EQ(1u, files_here());
}

// Only our names, only runs that have ended: a live process's temporary and
// a user's file that merely looks alike stay.
TEST(SysAtomic, SweepRemovesWhatKilledRunsLeft) {
    TempDir dir;
    pid_t dead = fork();
    if (dead == 0) _exit(0);
    waitpid(dead, nullptr, 0);
    const std::string d = std::to_string(dead), live = std::to_string(getppid());
    for (const std::string &name : std::vector<std::string>{
             "a.dsk.tmp" + d + "-0", "kestrel.cfg.tmp" + d + "-17", "b.tmp" + live + "-1",
             "c.tmp" + d + "-", "d.tmp" + d + "-1x", "e.tmp-1-2", ".tmp" + d + "-3", "notes.tmp"})
        write_text(name, "x");
    EXPECT_EQ(2, sys_atomic_sweep("."));
    EXPECT_FALSE(std::filesystem::exists("a.dsk.tmp" + d + "-0"));
    EXPECT_FALSE(std::filesystem::exists("kestrel.cfg.tmp" + d + "-17"));
    EXPECT_EQ(6u, files_here());
    EXPECT_EQ(0, sys_atomic_sweep("nodir"));
}
