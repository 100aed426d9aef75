// ScratchDir: a private temporary folder for one test, removed with everything in it at the
// end of the test.
#ifndef TESTS_SUPPORT_SCRATCH_DIR_H_
#define TESTS_SUPPORT_SCRATCH_DIR_H_

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include <sys/stat.h>

namespace nvo_test {

class ScratchDir {
 public:
  explicit ScratchDir(const std::string& prefix = "nvo-test") {
    std::string pattern =
        std::filesystem::temp_directory_path().string() + "/" + prefix + "-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) {
      path_ = pattern;
    }
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }
  // Writes `text` to the file `name` in the folder with the permissions `mode`; its path.
  std::string write(const std::string& name, const std::string& text, mode_t mode = 0600) const {
    const std::filesystem::path file = path_ / name;
    std::ofstream(file) << text;
    chmod(file.c_str(), mode);
    return file.string();
  }

 private:
  std::filesystem::path path_;
};

}  // namespace nvo_test

#endif  // TESTS_SUPPORT_SCRATCH_DIR_H_
