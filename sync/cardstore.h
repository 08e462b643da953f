#pragma once
// Where the cards of a sync live: a vdir (one vCard per file), and later a
// CardDAV collection. The sync core knows a card by its name and stamp
// alone; it reads the few it needs, and changes one only where it is still
// as the sync saw it, so that a card another writer changed meanwhile is
// left for the next sync, which sees it changed.
//
// Changes are staged and carried out in batches, so that a store may make
// many of them durable at once: each outcome comes to its callback at the
// latest when Flush returns.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sync/state.h"

namespace velmora {

struct CardListing {
  std::string name;
  CardStamp stamp;
  // Why this is no card of its own (a link, a folder, a pipe), which is
  // then never looked into; empty for a card.
  std::string unfit;
};

class CardStore {
 public:
  // applied is false when the card was left alone: another writer changed
  // it (or took its name) since the listing. stamp is a put card's new one.
  using Done = std::function<void(bool applied, const CardStamp& stamp)>;

  virtual ~CardStore() = default;

  // The cards, in no order; a store not made yet has none. Throws when the
  // store cannot be listed: an unreadable store must not pass for an empty
  // one.
  virtual std::vector<CardListing> List() = 0;
  // The bytes of a listed card. AppError saying why when it holds more than
  // cap bytes; IoError when it cannot be read.
  virtual std::string Get(const std::string& name, uint64_t cap) = 0;
  // Says which cards Get will be asked for next, so that a store that can
  // fetch many in one request does; earlier ones it may then forget, so
  // that memory stays within one batch. A vdir reads each when asked.
  virtual void Prefetch(const std::vector<std::string>& names) { (void)names; }

  // Called once before the first change, with the number of puts to come:
  // makes the store ready for them. Nothing before it writes.
  virtual void BeginWrites(size_t puts) = 0;
  // Stages name to hold bytes where it still has the stamp expected, or,
  // without one, where nothing holds the name.
  virtual void Put(const std::string& name, std::string_view bytes,
                   const std::optional<CardStamp>& expected, Done done) = 0;
  // Stages the removal of name where it still has the stamp expected.
  virtual void Delete(const std::string& name, const CardStamp& expected, Done done) = 0;
  // Carries out and makes durable every staged change. A failure throws;
  // changes staged but not carried out are then dropped, and every card
  // is either as it was or as put.
  virtual void Flush() = 0;
};

}  // namespace velmora
