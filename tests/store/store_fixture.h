#pragma once
// A session whose working file FRIENDS.VLM lies in a fresh program
// directory, with every file step going through a fault-injecting Env.

#include <gtest/gtest.h>

#include "store/session.h"
#include "support/fakeenv.h"
#include "support/records.h"
#include "support/session.h"
#include "support/testdir.h"

namespace velmora::testing {

class StoreTest : public ::testing::Test {
 protected:
  StoreTest() : s(env) { WorkOnFriendsIn(s, dir.path()); }

  void WriteWorking(const std::string& bytes) { dir.Write("FRIENDS.VLM", bytes); }
  void WriteWorking(const std::vector<ContactRecord>& records) { WriteWorking(FileOf(records)); }
  std::string Working() const { return dir.Read("FRIENDS.VLM"); }

  TestDir dir;
  FaultEnv env;
  Session s;
};

}  // namespace velmora::testing
