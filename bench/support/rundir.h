#pragma once
// What every benchmark run shares: a fresh directory for its files, and a
// benchmark that fails on a file step skipped with the error rather than
// ending the run.

#include <benchmark/benchmark.h>

#include <exception>
#include <string>

#include "store/session.h"

namespace velmora::bench {

// A new directory under $TMPDIR (or /tmp), named from `prefix`, removed with
// everything in it when the run ends. Its folder "work/" holds the data
// file BENCH.VLM that each benchmark works on.
class RunDir {
 public:
  explicit RunDir(const std::string& prefix);
  ~RunDir();
  RunDir(const RunDir&) = delete;
  RunDir& operator=(const RunDir&) = delete;

  const std::string& Root() const { return root_; }  // ends in "/"
  const std::string& Work() const { return work_; }  // Root() + "work/"
  std::string WorkingFile() const { return work_ + "BENCH.VLM"; }

  // Empties the work folder.
  void EmptyWork() const;
  // A session on the work folder's BENCH.VLM.
  Session WorkSession() const;

 private:
  std::string root_, work_;
};

// Runs body, turning a failed file step into a skipped benchmark.
template <class Body>
void Guarded(benchmark::State& state, Body body) {
  try {
    body();
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

}  // namespace velmora::bench
