// A fresh folder for one test under the system's temporary folder, removed
// with everything in it afterwards, and whole-file helpers for looking at
// what the code under test wrote.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace testing_support {

inline std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class TempFolder {
 public:
  TempFolder() {
    static std::atomic<int> serial{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // The random part keeps parallel test processes apart.
    std::string name = std::string("varnex_") + (info ? info->name() : "test") + "_" +
                       std::to_string(std::random_device{}()) + "_" + std::to_string(++serial);
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::string path() const { return path_.string(); }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  std::string operator/(const std::string& name) const { return file(name); }

  // Writes a file under the folder, making the sub-folders it needs.
  void write(const std::string& name, const std::string& content) const {
    const auto target = path_ / name;
    std::filesystem::create_directories(target.parent_path());
    writeFileBytes(target.string(), content);
  }
  std::string read(const std::string& name) const { return fileBytes(file(name)); }

 private:
  std::filesystem::path path_;
};

}  // namespace testing_support
