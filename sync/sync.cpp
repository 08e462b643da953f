#include "sync/sync.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QUuid>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
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
#include "store/extratext.h"
#include "store/startup.h"
#include "sync/state.h"

namespace velmora {
namespace {

// A card file larger than this is no contact (photos included) and is
// skipped as unreadable.
constexpr uint64_t kMaxCardFileBytes = 64u << 20;
// Pairing an edit looks at no more candidates sharing one field value, so
// that a mass change with common values stays cheap.
constexpr size_t kMaxCandidates = 256;

// Up to this many cards written in one sync are each synced on their own.
constexpr size_t kCardsSyncedEach = 256;
// Cards written, made durable and renamed together.
constexpr size_t kCardsPerChunk = 16384;

constexpr std::string_view kScratchPrefix = kVdirScratchPrefix;
constexpr std::string_view kScratchEnding = kVdirScratchEnding;

bool EndsWith(std::string_view s, std::string_view end) {
  return s.size() >= end.size() && s.substr(s.size() - end.size()) == end;
}

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

std::optional<CardStamp> StampOf(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return CardStamp{int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                   uint64_t(st.st_size), uint64_t(st.st_ino)};
}

std::string RealDir(const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  char buf[PATH_MAX];
  if (!::realpath(dir.c_str(), buf)) ThrowIoErrorFromErrno(errno, dir);
  std::string out = buf;
  if (out.back() != '/') out += '/';
  return out;
}

std::string ReadWhole(Env& env, const std::string& path, uint64_t cap) {
  std::optional<std::string> bytes = ReadWholeFile(env, path, cap);
  if (!bytes) throw AppError("larger than " + std::to_string(cap >> 20) + " MiB");
  return std::move(*bytes);
}

// Nothing velmora shows: such a record or card is never sent to the other
// side, as an import skips it.
bool IsBlank(const RecordTexts& t) {
  return Trim(t.name + t.surname + t.phone1 + t.phone2 + t.comments).empty();
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
  // What was read of it: only of the cards that changed, so that an
  // unchanged card costs no more than its name and stamp.
  struct Content {
    std::string bytes;
    ExchangeEntry entry;
    RecordTexts texts;  // what velmora shows of it
    ImportCounts counts;  // of the texts, should velmora take them
  };
  std::unique_ptr<Content> content;
};

// A record of the data file that the state does not know.
struct AddedRecord {
  uint64_t index;
  RecordTexts texts;
  bool taken = false;
};

struct CardWrite {
  std::string file;
  std::string bytes;  // a new card's are made only when it is written
  int pair;           // in the new state
};

class Syncer {
 public:
  Syncer(Session& s, const std::string& dir, const SyncOptions& o)
      : s_(s), env_(s.env()), options_(o), dir_(RealDir(dir)) {}

  SyncSummary Run() {
    StoreLock lock(s_);
    const std::string dataPath = s_.WorkingFilePath();
    if (!env_.FileExists(dataPath)) throw IoError(IoError::kFileNotFound, dataPath);
    char real[PATH_MAX];
    if (!::realpath(dataPath.c_str(), real)) ThrowIoErrorFromErrno(errno, dataPath);
    const std::string dataReal = real;
    statePath_ = SyncStatePath(s_);

    Pairing pairing = ReadPairing(env_, statePath_, dir_, dataReal, options_.reset);
    summary_.stateProblem = std::move(pairing.stateProblem);
    std::optional<SyncState> state = std::move(pairing.last);
    if (!state) state = SyncState{dir_, {}};
    summary_.firstSync = state->pairs.empty();
    old_ = std::move(state->pairs);

    // An unreadable folder lists as empty, which must not read as "every
    // card deleted".
    if (::access(dir_.c_str(), R_OK | W_OK | X_OK) != 0) ThrowIoErrorFromErrno(errno, dir_);
    RemoveStaleScratchFiles();
    ScanCards();
    ScanRecords();
    RefuseAnEmptiedSide();
    PairEdits();
    for (size_t p = 0; p < old_.size(); ++p) Decide(int(p));
    MatchNewOnBothSides();

    WriteCards();
    WriteDataFile();
    SaveSyncState(env_, s_.ProgramDir, statePath_, SyncState{dir_, std::move(pairs_)});
    if (!pairing.markerCurrent) WriteVdirMarker(env_, dir_, dataReal);
    return std::move(summary_);
  }

 private:
  void RemoveStaleScratchFiles() {
    for (const DirEntry& e : env_.ListDir(dir_)) {
      if (e.name.starts_with(kScratchPrefix) && EndsWith(e.name, kScratchEnding)) {
        try {
          env_.Remove(dir_ + e.name);
        } catch (const IoError&) {
          // A leftover that stays is harmless: no one reads it.
        }
      }
    }
  }

  void ScanCards() {
    std::vector<int> byFile(old_.size());
    for (size_t p = 0; p < old_.size(); ++p) byFile[p] = int(p);
    std::sort(byFile.begin(), byFile.end(),
              [&](int a, int b) { return old_[a].file < old_[b].file; });
    cardOf_.assign(old_.size(), -1);
    for (const DirEntry& e : env_.ListDir(dir_)) {
      if (!e.regular || e.name.starts_with(".") || !EndsWith(e.name, ".vcf")) continue;
      Card c;
      c.file = e.name;
      const auto known =
          std::lower_bound(byFile.begin(), byFile.end(), e.name,
                           [&](int p, const std::string& n) { return old_[p].file < n; });
      if (known != byFile.end() && old_[*known].file == e.name) c.pair = *known;
      const std::optional<CardStamp> stamp = StampOf(dir_ + e.name);
      if (!stamp) continue;  // gone since the listing
      c.stamp = *stamp;
      if (c.pair >= 0 && old_[c.pair].stamp == c.stamp) {
        c.status = Card::kSame;
        c.hash = old_[c.pair].hash;
      } else {
        Read(c);
      }
      if (c.pair >= 0) cardOf_[c.pair] = int(cards_.size());
      cards_.push_back(std::move(c));
    }
  }

  void Read(Card& c) {
    try {
      c.content = std::make_unique<Card::Content>();
      c.content->bytes = ReadWhole(env_, dir_ + c.file, kMaxCardFileBytes);
      c.hash = CardHash(c.content->bytes);
      if (c.pair >= 0 && old_[c.pair].hash == c.hash) {
        c.status = Card::kSame;
        c.content.reset();
        return;
      }
      c.content->entry = ReadVcard(c.content->bytes);
      c.content->texts = ToRecordTexts(c.content->entry, c.content->counts);
      if (IsBlank(c.content->texts)) {
        c.status = Card::kBlank;
        c.content.reset();
        ++summary_.blankCards;
        return;
      }
      c.status = c.pair >= 0 ? Card::kChanged : Card::kNew;
      // A new card only becomes a record; its bytes are not needed again.
      if (c.status == Card::kNew) std::string().swap(c.content->bytes);
    } catch (const std::exception& e) {
      c.status = Card::kUnreadable;
      summary_.skipped.push_back(c.file + ": " + e.what());
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
      const RecordView r(rec);
      RecordTexts t{std::string(r.Text(ContactRecord::kName)),
                    std::string(r.Text(ContactRecord::kSurname)),
                    std::string(r.Text(ContactRecord::kPhone1)),
                    std::string(r.Text(ContactRecord::kPhone2)),
                    std::string(r.Text(ContactRecord::kComments))};
      ++records_;
      const auto known = chain.find(CardHash(Key(t)));
      int* link = known == chain.end() ? nullptr : &known->second;
      // The first pair of the chain with these very texts, taken out.
      while (link && *link != 0 && !(old_[*link - 1].base == t)) link = &next[*link - 1];
      if (link && *link != 0) {
        const int p = *link - 1;
        recordOf_[p] = int64_t(index);
        *link = next[p];
      } else if (!IsBlank(t) && !(t == sample)) {
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
      throw SyncRefused(dir_ + " holds no cards, though " + synced +
                        "deletes them in velmora too");
    if (records_ == 0 && !cards_.empty())
      throw SyncRefused(s_.WorkingFilePath() + " holds no entries, though " + synced +
                        "deletes them in the folder too");
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
        byCardTexts[Key(cards_[c].content->texts)].push_back(int(p));
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
    if (IsBlank(base)) return;
    if (card && card->status == Card::kUnreadable) {
      // Nothing is known of the card: the pairing stays for a later sync.
      pairs_.push_back(std::move(st));
      return;
    }
    if (card && card->status == Card::kBlank) {
      // Emptied of all velmora shows: the card is left alone, and so is
      // the entry while it stands; gone or blank, it is no contact to pair.
      if (here && !IsBlank(*mine)) pairs_.push_back(std::move(st));
      return;
    }
    if (!card) {
      if (!here) return;  // gone on both sides
      if (!edited) {
        drops_.push_back(uint64_t(index));
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
        removes_.push_back(card->file);
        ++summary_.deletedThere;
        return;
      }
      // Deleted here, changed there: the change is kept.
      inserts_.push_back(card->content->texts);
      Count(summary_, card->content->counts);
      ++summary_.addedHere;
      st.base = card->content->texts;
      pairs_.push_back(std::move(st));
      return;
    }
    // What the card showed at the last sync, seen as a card shows it.
    const RecordTexts shown = cardChanged ? AsCardShowsIt(base) : base;
    const RecordTexts& theirs = cardChanged ? card->content->texts : shown;
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
      inserts_.push_back(card->content->texts);
      Count(summary_, card->content->counts);
      ++summary_.addedHere;
      st.base = card->content->texts;
      needCards_.push_back(*mine);
      pairs_.push_back(std::move(st));
      return;
    }
    if (options_.prefer == Prefer::kThere) mineChanged &= ~clash;
    if (options_.prefer == Prefer::kHere) theirsChanged &= ~clash;
    if (clash) summary_.conflicts.push_back(NameOf(*mine));

    // The merge: each field from the side that changed it.
    RecordTexts merged;
    ExchangeEntry values = cardChanged ? card->content->entry : ExchangeEntry{};
    for (int f = 0; f < 5; ++f) {
      const bool fromMine = (mineChanged & FieldBit(f)) != 0;
      const bool fromTheirs = (theirsChanged & FieldBit(f)) != 0;
      Field(merged, f) = fromTheirs && !fromMine ? Field(theirs, f) : Field(*mine, f);
    }
    if (mineChanged) {
      const ExchangeEntry mineUtf8 = Utf8Of(*mine);
      if (!cardChanged) {
        card->content = std::make_unique<Card::Content>();
        card->content->bytes = ReadWhole(env_, dir_ + card->file, kMaxCardFileBytes);
        values = ReadVcard(card->content->bytes);
      }
      for (int f = 0; f < 5; ++f)
        if (mineChanged & FieldBit(f)) Field(values, f) = Field(mineUtf8, f);
      writes_.push_back({card->file, ReplaceVcardFields(card->content->bytes, values, mineChanged),
                         int(pairs_.size())});
      ++summary_.changedThere;
    }
    if (!(merged == *mine)) {
      Count(summary_, card->content->counts);
      ReplaceRecord(index, merged, st);
      ++summary_.changedHere;
    }
    st.base = merged;
    pairs_.push_back(std::move(st));
  }

  void ReplaceRecord(int64_t index, const RecordTexts& texts, PairState& st) {
    drops_.push_back(uint64_t(index));
    inserts_.push_back(texts);
    st.base = texts;
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
      if (cards_[c].status == Card::kNew) newCards[Key(cards_[c].content->texts)].push_back(c);
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
      writes_.push_back({uid + ".vcf", {}, int(pairs_.size())});
      pairs_.push_back({uid + ".vcf", {}, 0, std::move(r)});
      ++summary_.addedThere;
    }
    std::vector<RecordTexts>().swap(needCards_);
    for (Card& c : cards_) {
      if (c.status != Card::kNew) continue;
      inserts_.push_back(c.content->texts);
      Count(summary_, c.content->counts);
      pairs_.push_back({c.file, c.stamp, c.hash, c.content->texts});
      ++summary_.addedHere;
    }
  }

  void WriteCards() {
    if (writes_.empty() && removes_.empty()) return;
    const std::string scratch = std::string(kScratchPrefix) + std::to_string(::getpid()) + "-";
    // A few cards are synced one by one as they are committed; many by one
    // sync of the file system per chunk, which costs less than a sync each.
    // Chunks keep the cards and scratch files held at once bounded.
    const bool batch = writes_.size() > kCardsSyncedEach;
    for (size_t from = 0; from < writes_.size(); from += kCardsPerChunk) {
      const size_t to = std::min(writes_.size(), from + kCardsPerChunk);
      std::vector<std::unique_ptr<SaveFile>> files;
      for (size_t i = from; i < to; ++i) {
        CardWrite& w = writes_[i];
        if (w.bytes.empty())
          w.bytes = NewCard(pairs_[w.pair].base, w.file.substr(0, w.file.size() - 4));
        auto f = std::make_unique<SaveFile>(env_, dir_, scratch + std::to_string(i) + ".tmp",
                                            dir_ + w.file);
        f->Append(w.bytes.data(), w.bytes.size());
        if (batch) f->Close();
        files.push_back(std::move(f));
      }
      if (batch) env_.SyncFileSystem(dir_);
      for (size_t i = from; i < to; ++i) {
        CardWrite& w = writes_[i];
        files[i - from]->Commit(false);
        PairState& st = pairs_[w.pair];
        st.hash = CardHash(w.bytes);
        if (const std::optional<CardStamp> stamp = StampOf(dir_ + w.file)) st.stamp = *stamp;
        std::string().swap(w.bytes);
      }
    }
    for (const std::string& file : removes_) {
      try {
        env_.Remove(dir_ + file);
      } catch (const IoError& e) {
        if (e.err() != ENOENT) throw;
      }
    }
    env_.SyncDir(dir_);
  }

  // The one rewrite of the data file: the records kept, in their order,
  // with the new ones at their sorted places.
  void WriteDataFile() {
    if (drops_.empty() && inserts_.empty()) return;
    std::sort(drops_.begin(), drops_.end());
    std::vector<ContactRecord> adds(inserts_.size());
    for (size_t i = 0; i < inserts_.size(); ++i) adds[i].SetTexts(inserts_[i]);
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
      while (drop < drops_.size() && drops_[drop] < index) ++drop;
      if (drop < drops_.size() && drops_[drop] == index++) continue;
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

  Session& s_;
  Env& env_;
  SyncOptions options_;
  std::string dir_;  // the vdir's real path, ending in "/"
  std::string statePath_;
  SyncSummary summary_;

  std::vector<PairState> old_;     // the last sync's pairs
  std::vector<int> cardOf_;        // per old pair: its card in cards_, or -1 when gone
  std::vector<int64_t> recordOf_;  // per old pair: its record's index, or -1 when gone
  std::vector<int> editOf_;        // per old pair gone here: the added record it became
  std::vector<Card> cards_;
  std::vector<AddedRecord> added_;
  uint64_t records_ = 0;  // whole records in the data file

  std::vector<PairState> pairs_;        // the new state
  std::vector<RecordTexts> needCards_;  // records that need a card
  std::vector<CardWrite> writes_;       // cards to write
  std::vector<std::string> removes_;    // cards to unlink
  std::vector<uint64_t> drops_;         // records to leave out
  std::vector<RecordTexts> inserts_;    // records to add
};

}  // namespace

SyncSummary SyncWithVdir(Session& s, const std::string& dir, const SyncOptions& options,
                         bool* writesBegan) {
  // Until the core tells the steps apart, any failure may follow a write.
  if (writesBegan) *writesBegan = true;
  return Syncer(s, dir, options).Run();
}

}  // namespace velmora
