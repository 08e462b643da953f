#pragma once
// The sync of a data file with any card store, under SyncWithVdir and
// SyncWithAccount: what differs between a vdir and an address book.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ioerror.h"
#include "sync/cardstore.h"
#include "sync/state.h"
#include "sync/sync.h"

namespace velmora {

struct StoreSide {
  // What the state's dir line names: the vdir's real path, ending in "/",
  // or the address book's URL.
  std::string partner;
  // A vdir has a marker naming its data file, and is synced under the
  // store's lock from start to end. An address book has no marker, and the
  // lock is held only while the data file and the state are written: a
  // network can take minutes, and the windows must work on meanwhile.
  bool vdir = true;
  // The store, once the last sync's state (nullopt: none) says what it knew.
  std::function<std::unique_ptr<CardStore>(const std::optional<SyncState>& last)> open;
  // The token that lists the store's changes after this sync; none when
  // not given.
  std::function<std::string(CardStore&)> token;
};

// The data file changed while an account's sync read the server: neither
// it nor the state was written. The cards written already are paired again
// by their texts by the next sync.
class DataFileChanged : public AppError {
 public:
  explicit DataFileChanged(SyncSummary done)
      : AppError("changed meanwhile, left for the next sync"), done(std::move(done)) {}
  // What the sync did on the store's side; nothing here was written.
  SyncSummary done;
};

// leftAlone, when given, tells whether a card was left alone because
// another writer changed it meanwhile, so that one more sync would merge it.
SyncSummary SyncWithStore(Session& s, const StoreSide& side, const SyncOptions& options,
                          bool* writesBegan, bool* leftAlone = nullptr);

}  // namespace velmora
