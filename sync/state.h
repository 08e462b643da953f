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
  // The other side: the vdir's real path, ending in "/", or the address
  // book's URL.
  std::string dir;
  std::vector<PairState> pairs;
  // What lists an address book's changes since this sync; empty when there
  // is none, or the sync left a card behind that a listing of changes alone
  // would never show again.
  std::string token = {};
};

// The state at path, read a line at a time.
struct LoadedState {
  std::optional<SyncState> state;  // nullopt: none there, or none usable
  std::string problem;             // for the user: why one there is not used
};
// A state that is a link, a folder, a pipe or a device is refused
// (SyncRefused) without a look at what it leads to; one larger than
// kMaxSyncStateBytes is not read, one garbled not used, and problem says so.
// A failed read is an IoError: a passing fault must not make a sync forget
// what it knew.
LoadedState LoadSyncState(Env& env, const std::string& path);

// Replaces the state at path whole, a link there included (never what it
// leads to); dir ends with "/" and holds path.
void SaveSyncState(Env& env, const std::string& dir, const std::string& path,
                   const SyncState& state);

// What the data file's state and the vdir's marker say of syncing the two.
struct Pairing {
  std::optional<SyncState> last;  // the last sync's state; nullopt: a first sync
  std::string stateProblem;       // as LoadedState::problem
  bool markerCurrent = false;     // the marker names this data file already
};
// dataPath and vdir are real paths (vdir ends with "/"). Refuses
// (SyncRefused) a data file synced with another vdir and a vdir synced with
// another data file, except one renamed since: the file the marker names is
// gone and this file's state names this vdir. With reset neither file is
// read and both are only checked to be replaceable.
Pairing ReadPairing(Env& env, const std::string& statePath, const std::string& vdir,
                    const std::string& dataPath, bool reset);

// The content hash of a card.
uint64_t CardHash(std::string_view bytes);

}  // namespace velmora
