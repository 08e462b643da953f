#pragma once
// The cards of a vdir: a folder with one vCard in each ".vcf" file, which
// vdirsyncer carries to a server and khard reads.
//
// A card is written through a scratch file in the vdir itself, made
// durable, and renamed over its name; a card that is a link is never read,
// written or removed, so nothing outside the folder is ever touched. A few
// cards are each synced on their own; many are synced together, one sync
// of the file system for each chunk, which costs far less than a sync
// each. The folder is synced once at the end.

#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"
#include "sync/cardstore.h"

namespace velmora {

class VdirStore final : public CardStore {
 public:
  // dir is the vdir's real path, ending in "/"; it is made only when writes
  // begin.
  VdirStore(Env& env, std::string dir);
  // Scratch files of changes that were never carried out are removed.
  ~VdirStore() override;

  std::vector<CardListing> List() override;
  std::string Get(const std::string& name, uint64_t cap) override;
  void BeginWrites(size_t puts) override;
  void Put(const std::string& name, std::string_view bytes,
           const std::optional<CardStamp>& expected, Done done) override;
  void Delete(const std::string& name, const CardStamp& expected, Done done) override;
  void Flush() override;

 private:
  struct Staged {
    std::string name;
    std::string scratch;         // its path; empty once renamed or removed
    std::unique_ptr<File> file;  // open only while it is to be synced on its own
    std::optional<CardStamp> expected;
    Done done;
  };

  // Whether name still holds what the listing saw (nothing, without one).
  bool Unchanged(const std::string& name, const std::optional<CardStamp>& expected);
  void CommitPuts();
  void MakeMissingFolders();
  void RemoveStaleScratchFiles();

  Env& env_;
  const std::string dir_;
  bool batch_ = false;  // many puts: synced by chunk, not one by one
  uint64_t scratchCount_ = 0;
  std::vector<Staged> puts_;     // written to scratch files, not yet renamed
  std::vector<Staged> deletes_;  // only name, expected and done
};

}  // namespace velmora
