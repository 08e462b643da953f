#include "bench/support/rundir.h"

#include <cstdlib>
#include <filesystem>

#include "bench/support/plainfile.h"

namespace velmora::bench {

RunDir::RunDir(const std::string& prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
  if (!::mkdtemp(tmpl.data())) Fail("mkdtemp " + tmpl);
  root_ = tmpl + "/";
  work_ = root_ + "work/";
}

RunDir::~RunDir() {
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

void RunDir::EmptyWork() const {
  std::filesystem::remove_all(work_);
  std::filesystem::create_directory(work_);
}

Session RunDir::WorkSession() const {
  Session s;
  s.ProgramDir = work_;
  s.WorkingName = "BENCH";
  s.WorkingExt = "VLM";
  return s;
}

}  // namespace velmora::bench
