// The .deb: unpacked into a private root, the program starts from any folder
// on the data files it installs, and the package carries its desktop entry,
// icon and manual page.
#include <sys/stat.h>

#include "fixture.h"

TEST(Package, UnpackedItRunsHeadlessFromAnyFolder) {
    TempDir dir;
    const std::string build = KESTREL_BUILD_DIR;
    ASSERT_EQ(0, system(("timeout -k 1 100 cpack -G DEB --config " + build +
                         "/CPackConfig.cmake -B pkg >cpack.log 2>&1")
                            .c_str()))
        << read_text("cpack.log");
    ASSERT_EQ(0, system("dpkg-deb -x pkg/kestrel_*.deb root && dpkg-deb -f pkg/kestrel_*.deb "
                        "Package Depends >control.txt"));
    EXPECT_NE(std::string::npos, read_text("control.txt").find("libsdl1.2debian"));
    for (const char *f : {"bin/kestrel", "share/kestrel/z5.rom", "share/kestrel/z5dos.rom",
                          "share/kestrel/kestrel_font_7x14.bmp", "share/kestrel/demo.dsk",
                          "share/applications/kestrel.desktop", "share/pixmaps/kestrel.xpm",
                          "share/man/man6/kestrel.6.gz"})
        EXPECT_TRUE(std::filesystem::exists(std::string("root/usr/") + f)) << f;
    // The entry claims our own types, as the shared MIME database reads them from our file.
    const std::string entry = read_text("root/usr/share/applications/kestrel.desktop");
    EXPECT_NE(std::string::npos, entry.find("\nExec=kestrel --user-folder %f\n"));
    EXPECT_NE(std::string::npos,
              entry.find("\nMimeType=application/x-kestrel-tape;application/x-kestrel-disk;\n"));
    ASSERT_EQ(0, system("update-mime-database root/usr/share/mime >mime.log 2>&1"))
        << read_text("mime.log");
    const std::string globs = read_text("root/usr/share/mime/globs2");
    EXPECT_NE(std::string::npos, globs.find(":application/x-kestrel-tape:*.tap\n")) << globs;
    EXPECT_NE(std::string::npos, globs.find(":application/x-kestrel-disk:*.dsk\n")) << globs;
    std::filesystem::create_directory("elsewhere");
    ASSERT_EQ(0, system("cd elsewhere && timeout -k 1 30 ../root/usr/bin/kestrel --headless "
                        "--warp --seconds 6 --dump-ram ram.bin demo.dsk >out.txt 2>&1"))
        << read_text("elsewhere/out.txt");
    std::vector<uint8_t> ram = read_file("elsewhere/ram.bin");
    ASSERT_EQ(65536u, ram.size());
    std::string screen(ram.begin() + 0xBB80, ram.begin() + 0xBB80 + 40 * 28);
    EXPECT_NE(std::string::npos, screen.find("DISK DEMO DONE"));
    // The disk was found in the data folder and only read: it stays as shipped.
    EXPECT_FALSE(std::filesystem::exists("elsewhere/demo.dsk"));
    if (!running_as_root()) return;
    // A user who may not write the installed disk gets it write-protected, and it boots.
    std::filesystem::create_directory("user");
    chmod(dir.path().c_str(), 0755);
    chmod("user", 0777);
    ASSERT_EQ(0, system("cd user && timeout -k 1 30 setpriv --reuid=65534 --regid=65534 "
                        "--clear-groups ../root/usr/bin/kestrel --headless --warp --seconds 6 "
                        "--dump-ram ram.bin demo.dsk >out.txt 2>&1"))
        << read_text("user/out.txt");
    EXPECT_NE(std::string::npos, read_text("user/out.txt")
                                     .find("demo.dsk' mounted write-protected: "
                                           "it may not be written"))
        << read_text("user/out.txt");
    ram = read_file("user/ram.bin");
    ASSERT_EQ(65536u, ram.size());
    EXPECT_NE(
        std::string::npos,
        std::string(ram.begin() + 0xBB80, ram.begin() + 0xBB80 + 40 * 28).find("DISK DEMO DONE"));
}
