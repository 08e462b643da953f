#include "sync/sync.h"

#include <QUuid>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <unordered_map>

#include "exchange/fieldtext.h"
#include "exchange/vcard.h"
#include "platform/codepage.h"
#include "platform/savefile.h"
#include "platform/text.h"
#include "store/datafile.h"
#include "store/datafolder.h"
#include "store/extratext.h"
#include "store/startup.h"
#include "sync/carddav.h"
#include "sync/state.h"
#include "sync/storesync.h"
#include "sync/vdirstore.h"

namespace velmora {
namespace {

// A card file larger than this is no contact (photos included) and is
// skipped as unreadable.
constexpr uint64_t kMaxCardFileBytes = 64u << 20;
// Pairing an edit looks at no more candidates sharing one field value, so
// that a mass change with common values stays cheap.
constexpr size_t kMaxCandidates = 256;
// Cards a store is asked to fetch at once: few round trips to a server,
// and little memory.
constexpr size_t kFetchBatch = 100;

// The five texts as one map key: each length-prefixed, so no two differ
// only in where one text ends.
std::string Key(const RecordTexts& t) {
  std::string k;
  for (const std::string* f : {&t.name, &t.surname, &t.phone1, &t.phone2, &t.comments}) {
    k += char(f->size());
    k += *f;
  }
  return k;
}

// Field f (ContactRecord::Field) of a RecordTexts or an ExchangeEntry,
// which name their texts alike.
template <class Texts>
auto& Field(Texts& t, int f) {
  decltype(&t.name) all[] = {&t.name, &t.surname, &t.phone1, &t.phone2, &t.comments};
  return *all[f];
}

RecordTexts TextsOf(const ExchangeEntry& e) {
  ImportCounts ignored;
  return ToRecordTexts(e, ignored);
}

ExchangeEntry Utf8Of(const RecordTexts& t) {
  return {CodePageToUtf8(t.name), CodePageToUtf8(t.surname), CodePageToUtf8(t.phone1),
          CodePageToUtf8(t.phone2), CodePageToUtf8(t.comments)};
}

// A new card of a record: velmora's properties and a fresh UID.
std::string NewCard(const RecordTexts& t, const std::string& uid) {
  std::string card;
  AppendVcard(card, t, std::nullopt);
  const std::string_view version = "VERSION:4.0\r\n";
  card.insert(card.find(version) + version.size(), "UID:" + uid + "\r\n");
  return card;
}

// The texts a record reads back as from the card made of it: what a card
// that came from this record shows. Records and cards are matched by these.
RecordTexts AsCardShowsIt(const RecordTexts& t) { return TextsOf(ReadVcard(NewCard(t, "x"))); }

// The real path dir has or will have once made, ending in "/": the deepest
// folder of it that exists, resolved, and the rest as written. Nothing is
// made, so that a sync refused or only planned leaves no folder behind.
std::string RealDir(Env& env, const std::string& dir) {
  std::filesystem::path at = std::filesystem::path(dir).lexically_normal(), rest;
  while (at.has_relative_path() && at.filename().empty()) at = at.parent_path();
  while (at.has_relative_path() && at.filename() != ".." && !env.LookUp(at)) {
    rest = at.filename() / rest;
    at = at.parent_path();
  }
  std::filesystem::path real = env.RealPath(at.empty() ? "." : at.string());
  real /= rest;
  std::string out = real.lexically_normal().string();
  if (out.back() != '/') out += '/';
  return out;
}

// The entry of a card file; one holding several cards (a backup put in the
// folder) is no card: paired, it would be rewritten or removed whole.
ExchangeEntry ReadOneCard(std::string_view bytes) {
  size_t at = 0;
  VcardReader reader([&](char* buf, size_t n) {
    const size_t k = std::min(n, bytes.size() - at);
    std::memcpy(buf, bytes.data() + at, k);
    at += k;
    return k;
  });
  ExchangeEntry first, more;
  if (!reader.Next(first)) throw FormatError(1, "no card");
  uint64_t cards = 1;
  while (reader.Next(more)) ++cards;
  if (cards > 1) throw AppError("holds " + std::to_string(cards) + " cards");
  return first;
}

// The windows store every field trimmed, and a card's text cut to a field
// may end in a blank: neither is a change of the field.
bool SameText(const std::string& a, const std::string& b) { return a == b || Trim(a) == Trim(b); }

void Count(SyncSummary& sum, const ImportCounts& c) {
  sum.replaced += c.charsReplaced;
  sum.cut += c.fieldsCut;
}

std::string NameOf(const RecordTexts& t) {
  const std::string name = Trim(t.name), surname = Trim(t.surname);
  return CodePageToUtf8(name + (name.empty() || surname.empty() ? "" : " ") + surname);
}

// A card of the vdir as this sync finds it.
struct Card {
  // kBlank: it holds nothing velmora shows (an e-mail-only contact), and so
  // stays out of the sync: never made a record, never written or deleted.
  enum Status { kSame, kChanged, kNew, kUnreadable, kTaken, kBlank };
  std::string file;
  CardStamp stamp;
  Status status = kNew;
  uint64_t hash = 0;
  int pair = -1;  // its state, when it has one
  // What velmora shows of it: only of the cards that changed, so that an
  // unchanged card costs no more than its name and stamp. Its bytes are
  // never kept: a change to it reads it again.
  std::unique_ptr<RecordTexts> texts;
  ImportCounts counts;  // of the texts, should velmora take them
};

// A record of the data file that the state does not know.
struct AddedRecord {
  uint64_t index;
  RecordTexts texts;
  bool taken = false;
};

// One change a sync makes, on one side: planned whole before the first
// write, so that a dry run can tell it and a sync writes only what it
// decided.
struct Action {
  enum Side : uint8_t { kHere, kThere };  // the data file, the card store
  enum Change : uint8_t { kAdd, kChange, kDelete };
  Side side;
  Change change;
  unsigned fields = 0;  // a change's fields (FieldBit)
  int card = -1;        // there: the card changed or deleted, in cards_
  int64_t record = -1;  // here: the record replaced or deleted
  int pair = -1;        // the contact's entry in the next state
  // Its texts in texts_, kept apart so that an action stays small: here the
  // new record (the old one for a delete); there velmora's texts of a
  // change, then, of a change or delete, what the last sync left (kept
  // when the card changed meanwhile).
  size_t texts = 0;
};

const char* const kFieldNames[] = {"NAME", "SURNAME", "PHONE1", "PHONE2", "COMMENTS"};

unsigned ChangedFields(const RecordTexts& from, const RecordTexts& to) {
  unsigned fields = 0;
  for (int f = 0; f < 5; ++f)
    if (Field(from, f) != Field(to, f)) fields |= FieldBit(f);
  return fields;
}

class Syncer {
 public:
  Syncer(Session& s, const StoreSide& side, const SyncOptions& o, bool* writesBegan)
      : s_(s), env_(s.env()), side_(side), options_(o), writesBegan_(writesBegan) {}

  SyncSummary Run() {
    std::optional<StoreLock> lock;
    if (side_.vdir) lock.emplace(s_);
    const std::string dataPath = s_.WorkingFilePath();
    if (!env_.FileExists(dataPath)) throw IoError(IoError::kFileNotFound, dataPath);
    const std::string dataReal = env_.RealPath(dataPath);

    // The data file's companion files: its sync state and the vdir's marker.
    statePath_ = SyncStatePath(s_);
    // Without the lock, what is read is only used if both files still are
    // as they were when the lock is taken to write.
    std::optional<NameInfo> stateSeen, dataSeen;
    if (!lock) {
      stateSeen = env_.LookUp(statePath_);
      dataSeen = env_.LookUp(dataPath);
    }
    Pairing pairing = side_.vdir
                          ? ReadPairing(env_, statePath_, side_.partner, dataReal, options_.reset)
                          : ReadAccountPairing(dataReal);
    summary_.stateProblem = std::move(pairing.stateProblem);
    std::optional<SyncState> state = std::move(pairing.last);
    store_ = side_.open(state);
    if (!state) state = SyncState{side_.partner, {}, {}};
    summary_.firstSync = state->pairs.empty();
    old_ = std::move(state->pairs);

    Plan();
    if (options_.dryRun) {
      for (const Action& a : actions_) summary_.plan.push_back(Line(a));
      return std::move(summary_);
    }
    if (writesBegan_) *writesBegan_ = true;
    ApplyThere();
    if (!lock) {
      lock.emplace(s_);
      if (!Same(env_.LookUp(dataPath), dataSeen) || !Same(env_.LookUp(statePath_), stateSeen))
        throw DataFileChanged(std::move(summary_));
    }
    WriteDataFile();
    std::erase_if(pairs_, [](const PairState& p) { return p.file.empty(); });
    // A card left behind (unread, left alone, or paired under a stamp it no
    // longer has) would never come back as it is in a listing of changes
    // alone: without a token the next sync lists all.
    std::string token;
    if (side_.token && summary_.skipped.empty() && !staleStamp_) token = side_.token(*store_);
    SaveSyncState(env_, s_.ProgramDir, statePath_,
                  SyncState{side_.partner, std::move(pairs_), std::move(token)});
    if (side_.vdir && !pairing.markerCurrent) WriteVdirMarker(env_, side_.partner, dataReal);
    return std::move(summary_);
  }

  bool LeftAloneAny() const { return leftAlone_; }

 private:
  // An address book keeps no marker: only the data file's state tells
  // what it is synced with.
  Pairing ReadAccountPairing(const std::string& dataReal) {
    Pairing p;
    if (options_.reset) {
      RefuseOddCompanion(env_, statePath_, true);
      return p;
    }
    LoadedState loaded = LoadSyncState(env_, statePath_);
    p.last = std::move(loaded.state);
    p.stateProblem = std::move(loaded.problem);
    if (p.last && p.last->dir != side_.partner)
      throw SyncRefused(dataReal + " is synced with " + p.last->dir + "; --reset pairs it with " +
                        side_.partner + " instead");
    return p;
  }

  static bool Same(const std::optional<NameInfo>& a, const std::optional<NameInfo>& b) {
    if (!a || !b) return !a && !b;
    return a->kind == b->kind && a->link == b->link && a->mtimeNs == b->mtimeNs &&
           a->size == b->size && a->inode == b->inode;
  }

  // Both sides read and every change decided; nothing is written.
  void Plan() {
    ScanCards();
    ScanRecords();
    RefuseAnEmptiedSide();
    PairEdits();
    for (size_t p = 0; p < old_.size(); ++p) Decide(int(p));
    MatchNewOnBothSides();
  }

  void ScanCards() {
    std::vector<int> byFile(old_.size());
    for (size_t p = 0; p < old_.size(); ++p) byFile[p] = int(p);
    std::sort(byFile.begin(), byFile.end(),
              [&](int a, int b) { return old_[a].file < old_[b].file; });
    cardOf_.assign(old_.size(), -1);
    std::vector<size_t> toRead;
    for (CardListing& e : store_->List()) {
      Card c;
      c.file = std::move(e.name);
      c.stamp = e.stamp;
      const auto known =
          std::lower_bound(byFile.begin(), byFile.end(), c.file,
                           [&](int p, const std::string& n) { return old_[p].file < n; });
      if (known != byFile.end() && old_[*known].file == c.file) c.pair = *known;
      if (!e.unfit.empty()) {
        Unreadable(c, e.unfit);
      } else if (c.stamp.size > kMaxCardFileBytes) {
        Unreadable(c, "larger than " + std::to_string(kMaxCardFileBytes >> 20) + " MiB");
      } else if (c.pair >= 0 && old_[c.pair].stamp == c.stamp) {
        c.status = Card::kSame;
        c.hash = old_[c.pair].hash;
      } else {
        toRead.push_back(cards_.size());
      }
      if (c.pair >= 0) cardOf_[c.pair] = int(cards_.size());
      cards_.push_back(std::move(c));
    }
    for (size_t b = 0; b < toRead.size(); b += kFetchBatch) {
      const size_t e = std::min(toRead.size(), b + kFetchBatch);
      std::vector<std::string> names;
      for (size_t i = b; i < e; ++i) names.push_back(cards_[toRead[i]].file);
      store_->Prefetch(names);
      for (size_t i = b; i < e; ++i) Read(cards_[toRead[i]]);
    }
  }

  // A card nothing is known of: a pairing it has stays for a later sync.
  void Unreadable(Card& c, const std::string& why) {
    c.status = Card::kUnreadable;
    summary_.skipped.push_back({c.file, why});
  }

  void Read(Card& c) {
    try {
      const std::string bytes = store_->Get(c.file, kMaxCardFileBytes);
      c.hash = CardHash(bytes);
      if (c.pair >= 0 && old_[c.pair].hash == c.hash) {
        c.status = Card::kSame;
        return;
      }
      c.texts = std::make_unique<RecordTexts>(ToRecordTexts(ReadOneCard(bytes), c.counts));
      if (ShowsNothing(*c.texts)) {
        c.status = Card::kBlank;
        c.texts.reset();
        ++summary_.blankCards;
        return;
      }
      c.status = c.pair >= 0 ? Card::kChanged : Card::kNew;
    } catch (const ServerError& e) {
      // A server that cannot be reached holds no unreadable card: the sync
      // stops before its first write.
      if (e.kind != ServerError::kStatus) throw;
      Unreadable(c, e.what());
    } catch (const std::exception& e) {
      Unreadable(c, e.what());
    }
  }

  // Records the state knows are found by their texts; the others are added.
  void ScanRecords() {
    // Chains of the pairs whose texts hash alike, by the hash alone, so that
    // the index costs a few bytes a contact.
    // Links hold a pair's index + 1; 0 ends a chain.
    std::unordered_map<uint64_t, int> chain;
    std::vector<int> next(old_.size(), 0);
    for (int p = int(old_.size()) - 1; p >= 0; --p) {
      int& head = chain[CardHash(Key(old_[p].base))];
      next[p] = head;
      head = p + 1;
    }
    recordOf_.assign(old_.size(), -1);
    const RecordTexts sample = SampleRecord().Texts();
    // The whole records, as the export reads them: an incomplete one at the
    // end (a copy cut short) is told and left as it is.
    auto in = env_.OpenExisting(s_.WorkingFilePath(), false);
    const uint64_t count = in->Size() / ContactRecord::kSize;
    summary_.tailLeftOut = in->Size() % ContactRecord::kSize;
    RecordReader reader(*in, 0, count);
    for (uint64_t index = 0; const unsigned char* rec = reader.Next(); ++index) {
      RecordTexts t = RecordView(rec).Copy().Texts();
      ++records_;
      const auto known = chain.find(CardHash(Key(t)));
      int* link = known == chain.end() ? nullptr : &known->second;
      // The first pair of the chain with these very texts, taken out.
      while (link && *link != 0 && !(old_[*link - 1].base == t)) link = &next[*link - 1];
      if (link && *link != 0) {
        const int p = *link - 1;
        recordOf_[p] = int64_t(index);
        *link = next[p];
      } else if (!ShowsNothing(t) && !(t == sample)) {
        // The sample entry is velmora's own, no contact of the user's.
        added_.push_back({index, std::move(t)});
      }
    }
    in->Close();
  }

  // One side holding nothing while the last sync paired contacts is far
  // more often a fault (cards moved away, a server that lost a collection,
  // a data file made anew) than a user who deleted everything: taking it as
  // deletions would empty the other side too.
  void RefuseAnEmptiedSide() {
    if (options_.allowEmpty || old_.empty()) return;
    const std::string synced = std::to_string(old_.size()) +
                               (old_.size() == 1 ? " contact was" : " contacts were") +
                               " synced with it; if that is what you want, --allow-empty ";
    if (cards_.empty() && records_ > 0)
      throw SyncRefused(QuotedName(side_.partner) + " holds no cards, though " + synced +
                        "deletes them in velmora too");
    if (records_ == 0 && !cards_.empty())
      throw SyncRefused(QuotedName(s_.WorkingFilePath()) + " holds no entries, though " + synced +
                        "deletes them " + (side_.vdir ? "in the folder" : "in the address book") +
                        " too");
  }

  // A known record that is gone and an added one are one contact edited:
  // first where the card already shows the added texts (a sync that was
  // cut short), then by the fields they share.
  void PairEdits() {
    editOf_.assign(old_.size(), -1);
    std::unordered_map<std::string, std::vector<int>> byCardTexts;
    std::unordered_map<std::string, std::vector<int>> byField;
    bool anyGone = false;
    for (size_t p = 0; p < old_.size(); ++p) {
      if (recordOf_[p] >= 0) continue;
      anyGone = true;
      const int c = cardOf_[p];
      if (c >= 0 && cards_[c].status == Card::kChanged)
        byCardTexts[Key(*cards_[c].texts)].push_back(int(p));
    }
    if (!anyGone) return;
    for (size_t a = 0; a < added_.size(); ++a) {
      auto it = byCardTexts.find(Key(added_[a].texts));
      while (it != byCardTexts.end() && !it->second.empty()) {
        const int p = it->second.back();
        it->second.pop_back();
        if (editOf_[p] >= 0) continue;
        Take(p, a);
        break;
      }
    }

    // EDIT never changes the name or surname of an entry that has both, so
    // only an entry that lacked one may come back under other names; any
    // other pair of a delete and an add is two contacts, and a card handed
    // from one to the other would carry the first one's e-mail and address.
    std::unordered_map<std::string, std::vector<int>> byNames;
    for (size_t p = 0; p < old_.size(); ++p) {
      if (recordOf_[p] >= 0 || editOf_[p] >= 0) continue;
      const RecordTexts& base = old_[p].base;
      if (const std::string names = NamesKey(base); !names.empty()) {
        byNames[names].push_back(int(p));
        continue;
      }
      for (int f = 0; f < 5; ++f) {
        const std::string v = Trim(Field(base, f));
        if (!v.empty()) byField[char(f) + v].push_back(int(p));
      }
    }
    struct Candidate {
      int shared;
      size_t added;
      int pair;
    };
    std::vector<Candidate> candidates;
    auto consider = [&](size_t a, const std::vector<int>& pairs, int f) {
      if (pairs.size() > kMaxCandidates) return;
      const RecordTexts& texts = added_[a].texts;
      for (int p : pairs) {
        // Counted once, at the first field the two share.
        bool first = true;
        for (int g = 0; g < f && first; ++g) first = !Shares(texts, old_[p].base, g);
        if (first) candidates.push_back({Shared(texts, old_[p].base), a, p});
      }
    };
    for (size_t a = 0; a < added_.size(); ++a) {
      if (added_[a].taken) continue;
      if (const auto it = byNames.find(NamesKey(added_[a].texts)); it != byNames.end())
        consider(a, it->second, 0);
      for (int f = 0; f < 5 && !byField.empty(); ++f) {
        const std::string v = Trim(Field(added_[a].texts, f));
        const auto it = v.empty() ? byField.end() : byField.find(char(f) + v);
        if (it != byField.end()) consider(a, it->second, f);
      }
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& x, const Candidate& y) { return x.shared > y.shared; });
    for (const Candidate& c : candidates)
      if (!added_[c.added].taken && editOf_[c.pair] < 0) Take(c.pair, c.added);
  }

  // NAME and SURNAME as one key, or "" when either is empty.
  static std::string NamesKey(const RecordTexts& t) {
    const std::string name = Trim(t.name), surname = Trim(t.surname);
    if (name.empty() || surname.empty()) return "";
    return char(name.size()) + name + surname;
  }

  static bool Shares(const RecordTexts& a, const RecordTexts& b, int f) {
    return !Trim(Field(a, f)).empty() && SameText(Field(a, f), Field(b, f));
  }

  static int Shared(const RecordTexts& a, const RecordTexts& b) {
    int n = 0;
    for (int f = 0; f < 5; ++f) n += Shares(a, b, f);
    return n;
  }

  void Take(int pair, size_t added) {
    editOf_[pair] = int(added);
    added_[added].taken = true;
  }

  // What becomes of one contact the last sync knew.
  void Decide(int p) {
    PairState st = std::move(old_[p]);
    const int c = cardOf_[p];
    Card* card = c >= 0 ? &cards_[c] : nullptr;
    const bool edited = editOf_[p] >= 0;
    const bool here = recordOf_[p] >= 0 || edited;
    const RecordTexts& base = st.base;
    const RecordTexts* mine = edited ? &added_[editOf_[p]].texts : &base;
    const int64_t index = edited ? int64_t(added_[editOf_[p]].index) : recordOf_[p];

    // A blank pair an earlier sync made: let go of, touching neither side.
    if (ShowsNothing(base)) return;
    if (card && card->status == Card::kUnreadable) {
      // Nothing is known of the card: the pairing stays for a later sync.
      pairs_.push_back(std::move(st));
      return;
    }
    if (card && card->status == Card::kBlank) {
      // Emptied of all velmora shows: the card is left alone, and so is
      // the entry while it stands; gone or blank, it is no contact to pair.
      // Its pairing keeps the stamp of the card it was: only a whole
      // listing shows the card as it is now.
      if (here && !ShowsNothing(*mine)) {
        pairs_.push_back(std::move(st));
        staleStamp_ = true;
      }
      return;
    }
    if (!card) {
      if (!here) return;  // gone on both sides
      if (!edited) {
        Here(Action::kDelete, index, base);
        ++summary_.deletedHere;
        return;
      }
      // Changed here, deleted there: the change is kept, on a new card.
      needCards_.push_back(*mine);
      return;
    }
    st.stamp = card->stamp;
    st.hash = card->hash;
    const bool cardChanged = card->status == Card::kChanged;
    if (!here) {
      if (!cardChanged) {
        // An older velmora paired a backup of several cards by its first:
        // the contact's delete must not take the others with it.
        if (const std::string why = NoSingleCard(*card); !why.empty()) {
          summary_.skipped.push_back({card->file, why});
          return;
        }
        There(Action::kDelete, c, 0, -1, base, base);
        ++summary_.deletedThere;
        return;
      }
      // Deleted here, changed there: the change is kept.
      Here(Action::kAdd, -1, *card->texts);
      Count(summary_, card->counts);
      ++summary_.addedHere;
      st.base = *card->texts;
      pairs_.push_back(std::move(st));
      return;
    }
    // What the card showed at the last sync, seen as a card shows it.
    const RecordTexts shown = cardChanged ? AsCardShowsIt(base) : base;
    const RecordTexts& theirs = cardChanged ? *card->texts : shown;
    unsigned mineChanged = 0, theirsChanged = 0;
    for (int f = 0; f < 5; ++f) {
      if (!SameText(Field(*mine, f), Field(base, f))) mineChanged |= FieldBit(f);
      if (!SameText(Field(theirs, f), Field(shown, f))) theirsChanged |= FieldBit(f);
      // The same change made on both sides is no change of either.
      if (SameText(Field(*mine, f), Field(theirs, f))) {
        mineChanged &= ~FieldBit(f);
        theirsChanged &= ~FieldBit(f);
      }
    }
    const unsigned clash = mineChanged & theirsChanged;
    if (clash && options_.prefer == Prefer::kBoth) {
      // Both versions kept: the card's in place, velmora's as a new one.
      summary_.conflicts.push_back(NameOf(*mine));
      Here(Action::kAdd, -1, *card->texts);
      Count(summary_, card->counts);
      ++summary_.addedHere;
      st.base = *card->texts;
      needCards_.push_back(*mine);
      pairs_.push_back(std::move(st));
      return;
    }
    if (options_.prefer == Prefer::kThere) mineChanged &= ~clash;
    if (options_.prefer == Prefer::kHere) theirsChanged &= ~clash;
    if (clash) summary_.conflicts.push_back(NameOf(*mine));

    // The merge: each field from the side that changed it.
    RecordTexts merged;
    for (int f = 0; f < 5; ++f) {
      const bool fromMine = (mineChanged & FieldBit(f)) != 0;
      const bool fromTheirs = (theirsChanged & FieldBit(f)) != 0;
      Field(merged, f) = fromTheirs && !fromMine ? Field(theirs, f) : Field(*mine, f);
    }
    // The card is read again, and rewritten, only when the change is applied.
    if (mineChanged) {
      There(Action::kChange, c, mineChanged, int(pairs_.size()), *mine, base);
      ++summary_.changedThere;
    }
    if (!(merged == *mine)) {
      Count(summary_, card->counts);
      Here(Action::kChange, index, merged, ChangedFields(*mine, merged));
      ++summary_.changedHere;
    }
    st.base = merged;
    pairs_.push_back(std::move(st));
  }

  // Why an unchanged card is no card of its own, or "" when it is one. A
  // card that cannot be read now is left to the delete, which looks again.
  std::string NoSingleCard(const Card& card) {
    try {
      ReadOneCard(store_->Get(card.file, kMaxCardFileBytes));
    } catch (const ServerError& e) {
      if (e.kind != ServerError::kStatus) throw;
      return e.what();
    } catch (const IoError&) {
    } catch (const std::exception& e) {
      return e.what();
    }
    return "";
  }

  void Here(Action::Change change, int64_t record, const RecordTexts& texts, unsigned fields = 0) {
    actions_.push_back({Action::kHere, change, fields, -1, record, -1, texts_.size()});
    texts_.push_back(texts);
  }

  void There(Action::Change change, int card, unsigned fields, int pair, const RecordTexts& texts,
             const RecordTexts& base) {
    actions_.push_back({Action::kThere, change, fields, card, -1, pair, texts_.size()});
    if (change == Action::kChange) texts_.push_back(texts);
    if (change != Action::kAdd) texts_.push_back(base);
  }

  // Records that need a card and cards that need a record: those a sync
  // cut short made already, and on a first sync those both sides hold, pair
  // by their texts; the rest are made.
  void MatchNewOnBothSides() {
    // Decide, the last to read the added records, is done with them.
    for (AddedRecord& a : added_)
      if (!a.taken) needCards_.push_back(std::move(a.texts));
    std::vector<AddedRecord>().swap(added_);
    std::unordered_map<std::string, std::vector<int>> newCards;
    for (int c = int(cards_.size()) - 1; c >= 0; --c)
      if (cards_[c].status == Card::kNew) newCards[Key(*cards_[c].texts)].push_back(c);
    for (RecordTexts& r : needCards_) {
      auto it = newCards.empty() ? newCards.end() : newCards.find(Key(AsCardShowsIt(r)));
      if (it != newCards.end() && !it->second.empty()) {
        Card& c = cards_[it->second.back()];
        it->second.pop_back();
        c.status = Card::kTaken;
        pairs_.push_back({c.file, c.stamp, c.hash, std::move(r)});
        continue;
      }
      const std::string uid = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
      There(Action::kAdd, -1, 0, int(pairs_.size()), {}, {});
      pairs_.push_back({uid + ".vcf", {}, 0, std::move(r)});
      ++summary_.addedThere;
    }
    std::vector<RecordTexts>().swap(needCards_);
    for (Card& c : cards_) {
      if (c.status != Card::kNew) continue;
      Here(Action::kAdd, -1, *c.texts);
      Count(summary_, c.counts);
      pairs_.push_back({c.file, c.stamp, c.hash, *c.texts});
      ++summary_.addedHere;
    }
  }

  // The plan's line for an action, UTF-8.
  std::string Line(const Action& a) const {
    static const char* const kChanges[] = {"add ", "change ", "delete "};
    std::string line = a.side == Action::kHere ? "here: " : "there: ";
    line += kChanges[a.change];
    if (a.side == Action::kHere) {
      line += NameOf(texts_[a.texts]);
    } else {
      const std::string& file = a.card >= 0 ? cards_[a.card].file : pairs_[a.pair].file;
      line += file + " (" +
              NameOf(a.change == Action::kAdd ? pairs_[a.pair].base : texts_[a.texts]) + ")";
    }
    for (int f = 0, n = 0; f < 5; ++f)
      if (a.fields & FieldBit(f)) line += (n++ ? ", " : ": ") + std::string(kFieldNames[f]);
    return line;
  }

  // The plan carried out: the cards first, then the data file once; the
  // state goes last. A card another writer changed since the scan is left
  // alone, and its contact keeps the pairing the last sync left, so that
  // the next sync sees the card changed and loses nothing.
  void ApplyThere() {
    size_t puts = 0;
    std::vector<size_t> there;
    for (size_t i = 0; i < actions_.size(); ++i) {
      if (actions_[i].side != Action::kThere) continue;
      there.push_back(i);
      puts += actions_[i].change != Action::kDelete;
    }
    store_->BeginWrites(puts);
    // A change rewrites the card as it is now: read again, by the batch.
    for (size_t b = 0; b < there.size(); b += kFetchBatch) {
      const size_t e = std::min(there.size(), b + kFetchBatch);
      std::vector<std::string> names;
      for (size_t i = b; i < e; ++i)
        if (actions_[there[i]].change == Action::kChange)
          names.push_back(cards_[actions_[there[i]].card].file);
      if (!names.empty()) store_->Prefetch(names);
      for (size_t i = b; i < e; ++i) ApplyThere(there[i]);
    }
    store_->Flush();
  }

  void ApplyThere(size_t i) {
    const Action& a = actions_[i];
    if (a.change == Action::kAdd) {
      const std::string& file = pairs_[a.pair].file;
      const std::string card = NewCard(pairs_[a.pair].base, file.substr(0, file.size() - 4));
      store_->Put(file, card, std::nullopt,
                  [this, pair = a.pair, hash = CardHash(card)](bool applied, const CardStamp& st) {
                    if (!applied) {
                      LeftAlone(pairs_[pair].file);
                      pairs_[pair].file.clear();  // the record gets a card next time
                      --summary_.addedThere;
                      return;
                    }
                    pairs_[pair].stamp = st;
                    pairs_[pair].hash = hash;
                  });
      return;
    }
    const Card& c = cards_[a.card];
    if (a.change == Action::kDelete) {
      store_->Delete(c.file, c.stamp, [this, i](bool applied, const CardStamp&) {
        if (applied) return;
        const Action& a = actions_[i];
        const Card& c = cards_[a.card];
        LeftAlone(c.file);
        pairs_.push_back({c.file, c.stamp, 0, texts_[a.texts]});
        --summary_.deletedThere;
      });
      return;
    }
    // The card as the scan saw it, with velmora's changed fields rewritten.
    std::string card;
    std::string why = kLeftAlone;
    bool changed = true;
    try {
      std::string bytes = store_->Get(c.file, kMaxCardFileBytes);
      if (CardHash(bytes) == c.hash || ShowsStill(c, bytes, texts_[a.texts + 1])) {
        ExchangeEntry values = ReadVcard(bytes);
        const ExchangeEntry mineUtf8 = Utf8Of(texts_[a.texts]);
        for (int f = 0; f < 5; ++f)
          if (a.fields & FieldBit(f)) Field(values, f) = Field(mineUtf8, f);
        card = ReplaceVcardFields(bytes, values, a.fields);
      }
    } catch (const IoError& e) {
      // Gone, or made a link, a folder or a pipe since the scan.
      if (e.err() != ENOENT && e.err() != ELOOP && e.err() != EISDIR && e.err() != ESPIPE) throw;
    } catch (const ServerError& e) {
      if (e.kind != ServerError::kStatus) throw;
      why = e.what();
      changed = false;
    } catch (const AppError& e) {
      why = e.what();
      changed = false;
    }
    const auto done = [this, i, why, changed](bool applied, const CardStamp& st, uint64_t hash) {
      const Action& a = actions_[i];
      PairState& p = pairs_[a.pair];
      if (applied) {
        p.stamp = st;
        p.hash = hash;
        return;
      }
      // Read again next time, whatever its stamp: the scan may have read it
      // after its listing already.
      summary_.skipped.push_back({p.file, why});
      leftAlone_ |= changed;
      p.base = texts_[a.texts + 1];
      p.hash = 0;
      --summary_.changedThere;
    };
    if (card.empty()) return done(false, {}, 0);
    store_->Put(c.file, card, c.stamp,
                [done, hash = CardHash(card)](bool applied, const CardStamp& st) {
                  done(applied, st, hash);
                });
  }

  // A card the scan took as unchanged by its stamp alone, whose bytes are
  // not those the last sync wrote: a server that stores each card anew
  // (its properties reordered, its lines folded) gives back other bytes of
  // the same card. It is still the card the plan was made on when it shows
  // what the last sync left; a change since is caught by the write's stamp.
  static bool ShowsStill(const Card& c, std::string_view bytes, const RecordTexts& base) {
    if (c.status != Card::kSame) return false;
    try {
      const RecordTexts shows = TextsOf(ReadOneCard(bytes));
      return shows == base || shows == AsCardShowsIt(base);
    } catch (const std::exception&) {
      return false;
    }
  }

  void LeftAlone(const std::string& file) {
    summary_.skipped.push_back({file, kLeftAlone});
    leftAlone_ = true;
  }

  // The one rewrite of the data file: the records kept, in their order,
  // with the new ones at their sorted places.
  void WriteDataFile() {
    std::vector<uint64_t> drops;
    std::vector<ContactRecord> adds;
    for (const Action& a : actions_) {
      if (a.side != Action::kHere) continue;
      if (a.change != Action::kAdd) drops.push_back(uint64_t(a.record));
      if (a.change != Action::kDelete) adds.emplace_back().SetTexts(texts_[a.texts]);
    }
    if (drops.empty() && adds.empty()) return;
    std::sort(drops.begin(), drops.end());
    std::stable_sort(adds.begin(), adds.end(), [](const ContactRecord& a, const ContactRecord& b) {
      return ContactRecord::CompareSortKeys(a.bytes.data(), b.bytes.data()) < 0;
    });
    SaveFile out(env_, s_.ProgramDir, kScratchName, s_.WorkingFilePath());
    auto in = env_.OpenExisting(s_.WorkingFilePath(), false);
    const uint64_t count = in->Size() / ContactRecord::kSize;
    RecordReader reader(*in, 0, count);
    size_t next = 0, drop = 0;
    uint64_t index = 0;
    while (const unsigned char* rec = reader.Next()) {
      while (drop < drops.size() && drops[drop] < index) ++drop;
      if (drop < drops.size() && drops[drop] == index++) continue;
      while (next < adds.size() && ContactRecord::CompareSortKeys(adds[next].bytes.data(), rec) < 0)
        out.Append(adds[next++].bytes.data(), ContactRecord::kSize);
      out.Append(rec, ContactRecord::kSize);
    }
    for (; next < adds.size(); ++next) out.Append(adds[next].bytes.data(), ContactRecord::kSize);
    // An incomplete record stays where it was, at the end, for the user to
    // look at: the sync changes no byte it did not understand.
    if (const uint64_t tail = in->Size() - count * ContactRecord::kSize) {
      std::string bytes(tail, '\0');
      bytes.resize(in->ReadAt(count * ContactRecord::kSize, bytes.data(), bytes.size()));
      out.Append(bytes.data(), bytes.size());
    }
    in->Close();
    out.Commit();
  }

  static constexpr char kLeftAlone[] = "changed meanwhile, left for the next sync";

  Session& s_;
  Env& env_;
  const StoreSide& side_;
  SyncOptions options_;
  bool* writesBegan_;  // told when the first write begins
  std::unique_ptr<CardStore> store_;
  bool leftAlone_ = false;   // a card another writer changed was left alone
  bool staleStamp_ = false;  // a pairing kept a stamp its card no longer has
  std::string statePath_;
  SyncSummary summary_;

  std::vector<PairState> old_;     // the last sync's pairs
  std::vector<int> cardOf_;        // per old pair: its card in cards_, or -1 when gone
  std::vector<int64_t> recordOf_;  // per old pair: its record's index, or -1 when gone
  std::vector<int> editOf_;        // per old pair gone here: the added record it became
  std::vector<Card> cards_;
  std::vector<AddedRecord> added_;
  uint64_t records_ = 0;  // whole records in the data file

  std::vector<PairState> pairs_;        // the next state; a pair without a file goes
  std::vector<RecordTexts> needCards_;  // records that need a card
  std::vector<Action> actions_;         // the plan, in the order it was made
  std::vector<RecordTexts> texts_;      // the actions' texts
};

}  // namespace

SyncSummary SyncWithStore(Session& s, const StoreSide& side, const SyncOptions& options,
                          bool* writesBegan, bool* leftAlone) {
  if (writesBegan) *writesBegan = false;
  Syncer syncer(s, side, options, writesBegan);
  SyncSummary sum = syncer.Run();
  if (leftAlone) *leftAlone = syncer.LeftAloneAny();
  return sum;
}

SyncSummary SyncWithVdir(Session& s, const std::string& dir, const SyncOptions& options,
                         bool* writesBegan) {
  StoreSide side;
  Env& env = s.env();
  side.partner = RealDir(env, dir);
  side.open = [&](const std::optional<SyncState>&) {
    return std::make_unique<VdirStore>(env, side.partner);
  };
  return SyncWithStore(s, side, options, writesBegan);
}

}  // namespace velmora
