#pragma once
// Two-way sync of a data file with a vdir: a folder holding one vCard per
// ".vcf" file, which other tools carry to a CardDAV server. velmora owns
// only the pairing of its records with cards; a card is the richer side,
// and only velmora's properties of it are ever rewritten.
//
// What changed on each side since the last sync (its state, beside the data
// file) goes to the other side: added, changed, deleted. An entry edited in
// the windows becomes a record that the state does not know while a known
// one is gone: the two are paired as one contact when they have the same
// NAME and SURNAME (which EDIT never changes in an entry that has both), or
// when the known one lacked one of them and they share a field, those
// sharing most first, so that the card keeps its UID and everything
// velmora does not show. Blanks at either end are no change: the windows
// trim every field. This needs nothing from the writers of the data file,
// so it holds for every way the file can change (the windows, an import, a
// copy put back); the price is that an entry renamed by other means than
// EDIT becomes a new contact. A card or record that shows nothing (an
// e-mail-only contact) and the sample entry stay out of the sync.
//
// A sync reads both sides and plans every change before its first write;
// a dry run stops there and tells the plan. The cards live in a card store
// (sync/cardstore.h), here the vdir, which changes a card only where it is
// still as the sync read it: a card another writer changed meanwhile is
// left for the next sync, with the pairing the last sync left.
//
// Crash safety: cards are written through scratch files in the vdir, made
// durable together, renamed, and the folder synced; then the data file is
// replaced once through the save protocol under the store's lock; the state
// goes last. A sync killed at any point is completed by the next: cards and
// records it made are paired again by their texts, so none is doubled.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ioerror.h"
#include "store/datafolder.h"
#include "store/session.h"

namespace velmora {

// Which side wins a contact changed on both sides: by default both versions
// are kept, the card's in place and velmora's as a new entry and card.
enum class Prefer { kBoth, kHere, kThere };

struct SyncOptions {
  Prefer prefer = Prefer::kBoth;
  // Forget the pairing with another vdir (or of the vdir with another data
  // file) and sync as the first time.
  bool reset = false;
  // Work out everything and write nothing: the summary's plan says what a
  // sync would do.
  bool dryRun = false;
  // Go on when one side holds nothing while the last sync paired contacts
  // with it: a folder emptied by a fault must not empty the other side.
  bool allowEmpty = false;
};

// A card the sync passed over, by its name in the vdir, and why.
struct SkippedCard {
  std::string file, why;
};

struct SyncSummary {
  // "here" is the data file, "there" the vdir.
  uint64_t addedHere = 0, changedHere = 0, deletedHere = 0;
  uint64_t addedThere = 0, changedThere = 0, deletedThere = 0;
  std::vector<std::string> conflicts;  // the contacts' names, UTF-8
  std::vector<SkippedCard> skipped;    // cards that could not be read or written
  bool firstSync = false;
  // One line for each action, UTF-8, made only on a dry run.
  std::vector<std::string> plan;
  // Of the texts taken from cards, as an import counts them: characters
  // the code page lacks (stored as "?") and fields cut to their size.
  uint64_t replaced = 0, cut = 0;
  // Cards left alone because they hold nothing velmora shows (no name,
  // surname, phone or comments), and bytes of an incomplete record the
  // data file ends in (left as they are).
  uint64_t blankCards = 0, tailLeftOut = 0;
  // Why the last sync's state was not used, for the user; empty when it
  // was, or there was none. The sync then paired by texts, as a first one.
  std::string stateProblem;
};

// Syncs the working file of s with the vdir at dir (made when the first
// write begins, so that a refused or planned sync leaves none).
// Throws SyncRefused, or the error of a failed step (IoError, with its
// path); the data file is then as it was, and the next sync completes
// whatever cards were written.
// writesBegan, when given, tells after a throw whether anything had been
// written (so the next sync completes the rest) or nothing was.
SyncSummary SyncWithVdir(Session& s, const std::string& dir, const SyncOptions& options = {},
                         bool* writesBegan = nullptr);

}  // namespace velmora
