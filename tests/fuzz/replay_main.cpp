// Without libFuzzer: feeds each file of the given files and folders to the target once, each in
// a heap block of exactly its size, so every test run replays the corpus (under the sanitizers
// in the sanitize preset).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    if (!fs::is_directory(argv[i])) {
      files.emplace_back(argv[i]);
      continue;
    }
    for (const auto& entry : fs::recursive_directory_iterator(argv[i]))
      if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    const auto size = static_cast<std::size_t>(fs::file_size(file));
    const std::unique_ptr<char[]> block(new char[size]);
    std::ifstream in(file, std::ios::binary);
    if (!in.read(block.get(), static_cast<std::streamsize>(size))) {
      std::fprintf(stderr, "cannot read %s\n", file.c_str());
      return 1;
    }
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(block.get()), size);
  }
  std::printf("%zu inputs replayed\n", files.size());
  return files.empty() ? 1 : 0;  // an empty or missing corpus would pass unseen
}
