// A /proc look-alike in a temporary directory: processes with the stat, comm and io files
// the /proc source reads, counters and parents chosen by the test.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>

namespace tessivo::testing {

namespace fs = std::filesystem;

inline void writeFile(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::trunc) << text; }

struct ProcTree : ::testing::Test {
  fs::path root;
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "proc-tree-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root = pattern;
  }
  void TearDown() override { fs::remove_all(root); }

  // Counters rchar .. write_bytes are ioBase + 1 .. ioBase + 6.
  // The program's text starts at `code`.
  void process(std::uint32_t pid, std::string_view comm, std::uint64_t startTime, std::uint64_t ioBase,
               std::uint64_t code = 4096, std::uint32_t ppid = 0, std::uint64_t flags = 0) {
    const fs::path dir = root / std::to_string(pid);
    fs::create_directories(dir);
    std::string stat = std::to_string(pid) + " (" + std::string(comm) + ") S";
    for (int field = 4; field <= 52; ++field)
      stat.append(" ").append(std::to_string(field == 4    ? ppid
                                             : field == 9  ? flags
                                             : field == 22 ? startTime
                                             : field == 26 || field == 27 ? code : 0));
    writeFile(dir / "stat", stat + "\n");
    writeFile(dir / "comm", std::string(comm) + "\n");
    io(pid, ioBase + 1, 1);
  }
  // Its io file: counters rchar .. write_bytes from `first` on, `step` apart.
  void io(std::uint32_t pid, std::uint64_t first, std::uint64_t step = 0) {
    std::string text;
    for (const char* key : {"rchar", "wchar", "syscr", "syscw", "read_bytes", "write_bytes"})
      text += std::string(key) + ": " + std::to_string(std::exchange(first, first + step)) + "\n";
    writeFile(root / std::to_string(pid) / "io", text);
  }
  // The kernel's descriptors of a process fail once it is gone; files in a tree keep their
  // contents, so a gone process's files are emptied before the directory goes.
  void exitProcess(std::uint32_t pid) {
    for (const char* leaf : {"stat", "comm", "io"}) fs::resize_file(root / std::to_string(pid) / leaf, 0);
    fs::remove_all(root / std::to_string(pid));
  }
};

}  // namespace tessivo::testing
