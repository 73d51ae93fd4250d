// SPDX-License-Identifier: GPL-3.0-or-later
// Replays kept fuzz inputs through a fuzz target's entry point, without libFuzzer: every file
// given, and every regular file under the directories given (recursively), is one input. Exits 1
// when a directory is missing or unreadable; a finding aborts, as it does under the fuzzer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    std::error_code error;
    if (std::filesystem::is_regular_file(argv[i], error)) {
      inputs.emplace_back(argv[i]);
      continue;
    }
    std::filesystem::recursive_directory_iterator it(argv[i], error), end;
    if (error) {
      std::fprintf(stderr, "replay: %s: %s\n", argv[i], error.message().c_str());
      return 1;
    }
    for (; it != end; it.increment(error)) {
      if (it->is_regular_file()) inputs.push_back(it->path());
    }
  }
  std::size_t replayed = 0;
  for (const auto& path : inputs) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    // An empty input still gets a valid pointer, as under the fuzzer.
    static const std::uint8_t kNothing = 0;
    const auto* data =
        bytes.empty() ? &kNothing : reinterpret_cast<const std::uint8_t*>(bytes.data());
    std::fprintf(stderr, "replay: %s (%zu bytes)\n", path.c_str(), bytes.size());
    LLVMFuzzerTestOneInput(data, bytes.size());
    ++replayed;
  }
  std::printf("replay: %zu inputs, no finding\n", replayed);
  return 0;
}
