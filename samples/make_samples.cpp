// Writes the demo program directory (sample_files.h) into the folder given as
// its argument. Run by the build; running it again gives the same files.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "samples/sample_files.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_samples DIRECTORY\n");
    return 1;
  }
  namespace fs = std::filesystem;
  const fs::path root = argv[1];
  try {
    for (const std::string& folder : r7::sim::sample_folders())
      fs::create_directories(root / folder);
    for (const r7::sim::SampleFile& f : r7::sim::sample_files()) {
      const fs::path path = root / fs::path(f.path);
      fs::create_directories(path.parent_path());
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out << f.content;
      out.close();
      if (!out) {
        std::fprintf(stderr, "make_samples: cannot write %s\n", path.string().c_str());
        return 1;
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_samples: %s\n", e.what());
    return 1;
  }
  return 0;
}
