#include "support/testdir.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace velmora::testing {

namespace fs = std::filesystem;

TestDir::TestDir() {
  std::string tmpl = (fs::temp_directory_path() / "velmora-test-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl + "/";
}

TestDir::~TestDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void TestDir::Write(const std::string& name, const std::string& bytes) const {
  std::ofstream(path_ + name, std::ios::binary | std::ios::trunc) << bytes;
}

std::string TestDir::Read(const std::string& name) const {
  std::ifstream in(path_ + name, std::ios::binary);
  if (!in) throw std::runtime_error("no file " + name);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool TestDir::Exists(const std::string& name) const { return fs::exists(path_ + name); }

std::vector<std::string> TestDir::Names() const {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(path_)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

std::string TestData(const std::string& relative) {
  std::ifstream in(std::string(VELMORA_TEST_DATA) + "/" + relative, std::ios::binary);
  if (!in) throw std::runtime_error("no test data " + relative);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace velmora::testing
