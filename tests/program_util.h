// Helpers for the tests that run the real program: it as a child process in
// the test's working directory, a private X server for its window, shell
// commands and pauses.
#pragma once
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "test_util.h"

inline void sleep_ms(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Output of a shell command, without the trailing newline.
inline std::string shell(const std::string &cmd) {
    std::string out;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[256];
    while (fgets(buf, sizeof buf, p))
        out += buf;
    pclose(p);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

// Our own X server on the first free display number from `first` on; each
// test program starts from its own number so that they seldom race.
class XServer : public ::testing::Environment {
  public:
    explicit XServer(int first) : first_(first) {}
    void SetUp() override {
        namespace fs = std::filesystem;
        for (int n = first_; n < first_ + 100 && pid_ <= 0; n++) {
            const std::string num = std::to_string(n);
            if (fs::exists("/tmp/.X" + num + "-lock") || fs::exists("/tmp/.X11-unix/X" + num))
                continue;
            const std::string display = ":" + num;
            pid_t pid = fork();
            if (pid < 0) break;
            if (pid == 0) {
                if (!freopen("/dev/null", "w", stderr)) _exit(126);
                execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
                       "tcp", static_cast<char *>(nullptr));
                _exit(127);
            }
            for (int i = 0; i < 100; i++) {
                if (waitpid(pid, nullptr, WNOHANG) == pid) break; // display taken after all
                if (system(("xdpyinfo -display " + display + " >/dev/null 2>&1").c_str()) == 0) {
                    pid_ = pid;
                    setenv("DISPLAY", display.c_str(), 1);
                    break;
                }
                sleep_ms(100);
            }
            if (pid_ <= 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        }
        ASSERT_GT(pid_, 0) << "no X server could be started";
    }
    void TearDown() override {
        if (pid_ > 0) { // never kill(-1, ...): that reaches every process we may signal
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }

  private:
    int first_;
    pid_t pid_ = -1;
};

// The kestrel program as our child, in the current working directory, its
// output in stdout.txt and stderr.txt; killed when this goes, if still running.
class ChildProgram {
  public:
    ChildProgram() = default;
    ChildProgram(const ChildProgram &) = delete;
    ChildProgram &operator=(const ChildProgram &) = delete;
    ~ChildProgram() {
        if (signal(SIGKILL)) waitpid(pid_, nullptr, 0);
    }

    // With a `video_driver`, SDL is told to use it and sees no X display.
    void start(const char *video_driver = nullptr) {
        fflush(stdout); // or the child would write our buffered lines again
        pid_ = fork();
        if (pid_ == 0) {
            if (video_driver) {
                setenv("SDL_VIDEODRIVER", video_driver, 1);
                unsetenv("DISPLAY");
            }
            setenv("SDL_AUDIODRIVER", "dummy", 1);
            if (!freopen("stdout.txt", "w", stdout) || !freopen("stderr.txt", "w", stderr))
                _exit(126);
            execl(KESTREL_BINARY, KESTREL_BINARY, static_cast<char *>(nullptr));
            _exit(127);
        }
    }
    pid_t pid() const { return pid_; }
    // Signals the program we started, never anything else.
    bool signal(int sig) const { return pid_ > 0 && kill(pid_, sig) == 0; }
    // Exit status, or -1 when still running after `ms`.
    int wait_exit(int ms) {
        if (pid_ <= 0) return -2; // nothing of ours is running
        for (int i = 0; i < ms / 10; i++) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            sleep_ms(10);
        }
        return -1;
    }

  private:
    pid_t pid_ = -1;
};

// The id of the program's window once it shows; empty when none does in 20 s.
inline std::string find_program_window() {
    return shell("timeout 20 xdotool search --sync --name '^kestrel' 2>/dev/null | head -1");
}

// Presses a key in the window, holds it `hold_ms` and lets go, then waits
// `after_ms`, the way a hand does. xdotool's complaint about Xvfb's focus is
// noise here.
inline void press_key(const std::string &window, const std::string &key, int hold_ms,
                      int after_ms) {
    ASSERT_EQ(0,
              system(("xdotool keydown --window " + window + " " + key + " 2>/dev/null").c_str()));
    sleep_ms(hold_ms);
    ASSERT_EQ(0, system(("xdotool keyup --window " + window + " " + key + " 2>/dev/null").c_str()));
    sleep_ms(after_ms);
}

// The window's pixels as RGB bytes.
inline std::vector<uint8_t> window_pixels(const std::string &window) {
    EXPECT_EQ(0, system(("import -window " + window + " -depth 8 rgb:shot.rgb").c_str()));
    std::vector<uint8_t> shot = read_file("shot.rgb");
    remove("shot.rgb");
    return shot;
}
