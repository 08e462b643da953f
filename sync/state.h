#pragma once
// What the last sync of a data file with a vdir saw, on both sides: for
// each contact the record's texts and the card's file, stamp and content
// hash. It decides what changed since; without it nothing is taken for
// deleted.
//
// It lies beside the data file, "." + the data file's name + ".sync", and
// is replaced whole through the save protocol, as the last step of a sync.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/env.h"
#include "store/contactrecord.h"

namespace velmora {

// What tells a card unchanged without reading it: any difference means
// "read it and compare its hash".
struct CardStamp {
  int64_t mtimeNs = 0;
  uint64_t size = 0;
  uint64_t inode = 0;
  bool operator==(const CardStamp&) const = default;
};

struct PairState {
  std::string file;  // the card's file name in the vdir
  CardStamp stamp;
  uint64_t hash = 0;  // of the card's bytes
  RecordTexts base;   // the record as the last sync left it
};

struct SyncState {
  std::string dir;  // the vdir's real path, ending in "/"
  std::vector<PairState> pairs;
};

// The state at path; nullopt when there is none or its content is not one,
// which the caller takes for a first sync. A failed read is an IoError: a
// passing fault must not make a sync forget what it knew.
std::optional<SyncState> LoadSyncState(Env& env, const std::string& path);

// Replaces the state at path whole; dir ends with "/" and holds path.
void SaveSyncState(Env& env, const std::string& dir, const std::string& path,
                   const SyncState& state);

// The content hash of a card.
uint64_t CardHash(std::string_view bytes);

}  // namespace velmora
