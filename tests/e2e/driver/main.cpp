// Usage: e2e_driver <scripted_tessivo.exe> <tessivo.exe> <screenshot folder> [GoogleTest flags]
#include "driver/program.h"

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc != 4) return 2;
  CreateDirectoryW(argv[3], nullptr);
  tessivo::e2e::paths = {argv[1], argv[2], argv[3]};
  return RUN_ALL_TESTS();
}
