// A folder of this test process's own under the temporary folder, made new
// (never one that was there) on first use and removed when the process ends:
// two suites on one machine, two builds side by side or CI beside a
// developer's run, never touch each other's files.
#ifndef CORVEL_TESTS_SCRATCH_H
#define CORVEL_TESTS_SCRATCH_H

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace corvel::test {

class ScratchFolder {
 public:
  ScratchFolder() {
    std::random_device entropy;
    std::mt19937_64 pick((static_cast<std::uint64_t>(entropy()) << 32) ^ entropy());
    for (;;) {
      path_ = std::filesystem::temp_directory_path() / ("corvel-test-" + std::to_string(pick()));
      // create_directory is false for a folder that is there already.
      if (std::filesystem::create_directory(path_)) return;
    }
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline const std::filesystem::path& scratch_folder() {
  static const ScratchFolder folder;
  return folder.path();
}

// A path named `name` in the process's own folder.
inline std::string scratch_path(const std::string& name) { return (scratch_folder() / name).string(); }

}  // namespace corvel::test

#endif
