// Writes the benchmark workloads into a folder: stream_64m.hex, stream_1m.hex, stream_100m.hex,
// full_16k.hex and random_16m.hex (and random_100m.bin for the memory check).
#include <cstdio>
#include <string>

#include "tests/workload.hpp"

namespace {

bool write(const std::string& path, const std::string& content) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::printf("usage: make_workloads FOLDER\n");
    return 2;
  }
  const std::string dir = argv[1];
  using namespace ferrolet::workload;
  constexpr std::size_t MiB = 1024 * 1024;
  const struct {
    const char* name;
    std::string content;
  } files[] = {
      {"full_16k.hex", record_stream(1024 * 45)},   {"stream_1m.hex", record_stream(1 * MiB)},
      {"stream_64m.hex", record_stream(64 * MiB)},  {"stream_100m.hex", record_stream(100 * MiB)},
      {"random_1m.hex", random_bytes(1 * MiB)},     {"random_16m.hex", random_bytes(16 * MiB)},
      {"random_100m.hex", random_bytes(100 * MiB)},
  };
  for (const auto& f : files) {
    if (!write(dir + "/" + f.name, f.content)) {
      std::printf("cannot write %s/%s\n", dir.c_str(), f.name);
      return 1;
    }
  }
  return 0;
}
