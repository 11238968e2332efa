#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tallyloft::test {

// A fresh home directory for each test: $HOME points at it while the test runs.
class TempHome : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tallyloft-home-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    home_ = pattern;
    ::chmod(home_.c_str(), 0755);
    if (const char* old = std::getenv("HOME")) oldHome_ = old;
    ::setenv("HOME", home_.c_str(), 1);
  }
  void TearDown() override {
    ::setenv("HOME", oldHome_.c_str(), 1);
    std::error_code ignored;
    std::filesystem::permissions(home_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(home_, ignored);
  }

  const std::filesystem::path& home() const { return home_; }

  static void write(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }
  // The names in `folder`, sorted.
  static std::vector<std::string> listing(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  static std::string read(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

 private:
  std::filesystem::path home_;
  std::string oldHome_;
};

}  // namespace tallyloft::test
