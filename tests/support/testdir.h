#pragma once
// A fresh temporary program directory per test, removed afterwards.

#include <string>
#include <vector>

namespace velmora::testing {

class TestDir {
 public:
  TestDir();
  ~TestDir();
  TestDir(const TestDir&) = delete;
  TestDir& operator=(const TestDir&) = delete;

  // The directory, ending in "/".
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + name; }

  void Write(const std::string& name, const std::string& bytes) const;
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const;
  // The names in the directory, sorted.
  std::vector<std::string> Names() const;

 private:
  std::string path_;
};

// The bytes of a file in the test data folder.
std::string TestData(const std::string& relative);

}  // namespace velmora::testing
