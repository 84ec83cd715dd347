// The end-to-end suite: GoogleTest cases that each start the program under test.
// Usage: e2e_driver <scripted_tessivo.exe> <tessivo.exe> <screenshot folder> [GoogleTest flags]
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "driver/program.h"

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc != 4) {
    std::fprintf(stderr, "usage: e2e_driver <scripted_tessivo.exe> <tessivo.exe> <screenshot folder> [gtest flags]\n");
    return 2;
  }
  CreateDirectoryW(argv[3], nullptr);
  tessivo::e2e::setPaths({argv[1], argv[2], argv[3]});
  return RUN_ALL_TESTS();
}
