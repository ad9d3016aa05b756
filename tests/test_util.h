// Shared test helpers: a private working directory per test, file I/O.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// Makes a fresh directory, enters it, and on destruction leaves and removes it.
class TempDir {
  public:
    TempDir() {
        char templ[] = "/tmp/kestrel_test_XXXXXX";
        char *made = mkdtemp(templ);
        if (!made) std::abort();
        path_ = made;
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::current_path(old_, ec);
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    const std::string &path() const { return path_; }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

  private:
    std::string path_;
    std::filesystem::path old_;
};

inline std::vector<uint8_t> read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string read_text(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_file(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline void write_text(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// True when the tests run as root, where file permissions do not stop writes.
inline bool running_as_root() {
    return geteuid() == 0;
}

// The lines given to keep_log_line, oldest first; clear it before use.
inline std::vector<std::string> logged;

// A log hook (log_info_hook and the like) that keeps each line in `logged`.
inline int keep_log_line(const char *fmt, va_list ap) {
    char line[512];
    vsnprintf(line, sizeof line, fmt, ap);
    logged.emplace_back(line);
    return 0;
}

// The kept lines, each followed by "|", for comparing a run in one string.
inline std::string joined_log() {
    std::string all;
    for (const std::string &line : logged) all += line + '|';
    return all;
}
