// The CardDAV account end to end: a data file synced with an address book
// on a local Radicale (a login, a free loopback port, scratch storage), its
// password in a keyring of the test's own, and velmora --sync --account
// run as a program.

#include "sync/account.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "model_sync.h"
#include "store/datafolder.h"
#include "store/startup.h"
#include "support/keyring.h"
#include "support/servers.h"
#include "support/session.h"
#include "sync/carddav.h"
#include "sync/storesync.h"
#include "sync_support.h"

namespace velmora {
namespace {

using namespace testing;

constexpr char kPassword[] = "Pw-of-ann-4711";

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// A card as a phone would have it: more than velmora shows.
std::string PhoneCard(const std::string& uid, const std::string& tel) {
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\nFN:Ann Smith\r\nN:Smith;Ann;;;\r\n" +
         "TEL;TYPE=CELL:" + tel + "\r\nEMAIL;TYPE=HOME:ann@example.org\r\nEND:VCARD\r\n";
}

// A store that stops its server at a chosen point: at the second batch it
// is asked to fetch, or once some writes were carried out.
class Stopping : public CardStore {
 public:
  Stopping(std::unique_ptr<CardStore> inner, RunningServer& server, int atFetch, int afterWrites)
      : inner_(std::move(inner)), server_(server), atFetch_(atFetch), afterWrites_(afterWrites) {}
  std::vector<CardListing> List() override { return inner_->List(); }
  std::string Get(const std::string& name, uint64_t cap) override { return inner_->Get(name, cap); }
  void Prefetch(const std::vector<std::string>& names) override {
    if (--atFetch_ == 0) server_.Stop();
    inner_->Prefetch(names);
  }
  void BeginWrites(size_t puts) override { inner_->BeginWrites(puts); }
  void Put(const std::string& name, std::string_view bytes,
           const std::optional<CardStamp>& expected, Done done) override {
    inner_->Put(name, bytes, expected, Counted(std::move(done)));
  }
  void Delete(const std::string& name, const CardStamp& expected, Done done) override {
    inner_->Delete(name, expected, Counted(std::move(done)));
  }
  void Flush() override { inner_->Flush(); }

 private:
  Done Counted(Done done) {
    return [this, done = std::move(done)](bool applied, const CardStamp& stamp) {
      done(applied, stamp);
      if (--afterWrites_ == 0) server_.Stop();
    };
  }
  std::unique_ptr<CardStore> inner_;
  RunningServer& server_;
  int atFetch_, afterWrites_;
};

class AccountTest : public ::testing::Test {
 public:
  void SetUp() override {
    for (const char* p : {"radicale", "curl"})
      if (!Installed(p))
        GTEST_SKIP() << "SKIPPED: " << p << " is not installed (scripts/deps.sh installs it)";
    server_ =
        std::make_unique<RunningRadicale>(RunningRadicale::Options{{{"ann", kPassword}}, false});
    ASSERT_EQ(server_->MakeAddressBook("/ann/book/", "ann"), 201) << server_->Log();
    WorkOnFriendsIn(s_, dir_.path());
    dir_.Write("FRIENDS.VLM", "");
    account_ = {server_->url(), "ann", server_->url() + "/ann/book/", "FRIENDS", ""};
  }

  ServerLogin Login() const { return {"ann", kPassword, ""}; }
  // The address book's cards by name.
  std::map<std::string, std::string> ServerCards() {
    CardDavStore store(account_.addressBook, Login());
    std::vector<std::string> names;
    for (const CardListing& c : store.List()) names.push_back(c.name);
    std::map<std::string, std::string> out;
    for (size_t b = 0; b < names.size(); b += 100) {
      const std::vector<std::string> batch(names.begin() + b,
                                           names.begin() + std::min(names.size(), b + 100));
      store.Prefetch(batch);
      for (const std::string& n : batch) out[n] = store.Get(n, 1 << 20);
    }
    return out;
  }
  Set ServerTexts() {
    Set out;
    for (const auto& [name, card] : ServerCards()) out.push_back(Shown(card));
    return Sorted(out);
  }
  // Cards put as another client does: by name, replacing what is there.
  void PutCards(const std::map<std::string, std::string>& cards) {
    CardDavStore store(account_.addressBook, Login());
    std::map<std::string, CardStamp> stamps;
    for (const CardListing& c : store.List()) stamps[c.name] = c.stamp;
    store.BeginWrites(cards.size());
    for (const auto& [name, bytes] : cards) {
      const auto known = stamps.find(name);
      store.Put(name, bytes, known == stamps.end() ? std::nullopt : std::optional(known->second),
                [](bool applied, const CardStamp&) { EXPECT_TRUE(applied); });
    }
    store.Flush();
  }
  std::string CardHolding(const std::string& text) {
    for (const auto& [name, card] : ServerCards())
      if (card.find(text) != std::string::npos) return name;
    return "";
  }

  Set Data(const std::string& name = "FRIENDS") { return EntriesOf(dir_.Read(name + ".VLM")); }
  void WriteData(const Set& entries) { dir_.Write("FRIENDS.VLM", DataFileOf(Sorted(entries))); }

  SyncSummary Sync(const std::string& password = kPassword) {
    return SyncWithAccount(s_, account_, password);
  }
  // The account's sync through a store that stops the server.
  SyncSummary SyncStopping(int atFetch, int afterWrites) {
    StoreSide side;
    side.partner = account_.addressBook;
    side.vdir = false;
    side.open = [&](const std::optional<SyncState>& last) {
      CardDavStore::Known known;
      if (last)
        for (const PairState& p : last->pairs) known.cards.push_back({p.file, p.stamp, {}});
      return std::make_unique<Stopping>(
          std::make_unique<CardDavStore>(account_.addressBook, Login(), std::move(known)), *server_,
          atFetch, afterWrites);
    };
    return SyncWithStore(s_, side, {}, nullptr);
  }

  TestDir dir_;
  Session s_;
  std::unique_ptr<RunningRadicale> server_;
  Account account_;
};

// One address book through a row of changes on either side or both. After
// each row both sides show the same contacts, and one more sync changes
// nothing; a row that fails changes nothing, or leaves what the next sync
// (with the server back) completes without losing or doubling a contact.
TEST_F(AccountTest, ChangesOnEitherSideMeetAndFailuresLoseNothing) {
  enum Failure { kNone, kWrongLogin, kUnreachable, kRefused };
  struct Row {
    const char* what;
    std::function<void()> change;
    Failure failure = kNone;
    std::function<SyncSummary()> sync = nullptr;
    std::function<void()> check = nullptr;
  };
  Set thousand;
  for (int i = 0; i < 1000; ++i)
    thousand.push_back(
        Texts("N" + std::to_string(i), "S" + std::to_string(i), std::to_string(100000 + i)));
  std::string stateBefore, dataBefore;
  const auto unchanged = [&] {
    EXPECT_EQ(dir_.Read(".FRIENDS.VLM.sync"), stateBefore);
    EXPECT_EQ(dir_.Read("FRIENDS.VLM"), dataBefore);
  };
  const auto annWith = [&](const std::string& phone) {
    Set d = Data();
    return std::count_if(d.begin(), d.end(), [&](const RecordTexts& t) {
      return t.name == "Ann" && t.surname == "Smith" && t.phone1 == phone;
    });
  };
  const Row rows[] = {
      {"a thousand entries go up", [&] { WriteData(thousand); }, kNone, nullptr,
       [&] { EXPECT_EQ(ServerCards().size(), 1000u); }},
      {"and come back into an empty file",
       [&] {
         dir_.Write("EMPTY.VLM", "");
         s_.WorkingName = "EMPTY";
       },
       kNone, nullptr,
       [&] {
         EXPECT_EQ(Data("EMPTY"), Data());
         s_.WorkingName = "FRIENDS";
       }},
      {"a phone's card arrives",
       [&] {
         PutCards({{"ann.vcf", PhoneCard("ann", "111")}});
       },
       kNone, nullptr, [&] { EXPECT_EQ(annWith("111"), 1); }},
      {"edits on both sides meet, and the card keeps its e-mail",
       [&] {
         PutCards({{"ann.vcf", PhoneCard("ann", "222")}});
         Set d = Data();
         for (RecordTexts& t : d)
           if (t.name == "Ann") t.comments = "met in Oslo";
         d.push_back(Texts("Bo", "Ek", "3"));
         WriteData(d);
       },
       kNone, nullptr,
       [&] {
         const std::string card = ServerCards()["ann.vcf"];
         EXPECT_NE(card.find("EMAIL;TYPE=HOME:ann@example.org"), std::string::npos) << card;
         EXPECT_NE(card.find("met in Oslo"), std::string::npos) << card;
         EXPECT_EQ(annWith("222"), 1);
       }},
      {"a field changed on both sides keeps both versions",
       [&] {
         PutCards({{"ann.vcf", PhoneCard("ann", "333")}});
         Set d = Data();
         for (RecordTexts& t : d)
           if (t.name == "Ann") t.phone1 = "444";
         WriteData(d);
       },
       kNone, nullptr,
       [&] {
         EXPECT_EQ(annWith("333"), 1);
         EXPECT_EQ(annWith("444"), 1);
       }},
      {"a wrong password changes nothing", [] {}, kWrongLogin,
       [&] { return Sync("not the password"); }, unchanged},
      {"the server stops while cards are fetched",
       [&] {
         std::map<std::string, std::string> edited;
         // Changed bytes, the same texts: each card is read again.
         for (const auto& [name, card] : ServerCards())
           if (edited.size() < 101 && name != "ann.vcf") {
             std::string c = card;
             c.insert(c.rfind("END:VCARD"), "X-EDITED-BY:phone\r\n");
             edited[name] = c;
           }
         PutCards(edited);
         Set d = Data();
         for (int i = 0; i < 50; ++i) d.push_back(Texts("New" + std::to_string(i), "Here", "5"));
         WriteData(d);
       },
       kUnreachable, [&] { return SyncStopping(2, -1); }, unchanged},
      {"and is back", [] {}},
      {"the server stops while cards are written",
       [&] {
         Set d = Data();
         for (int i = 0; i < 100; ++i) d.push_back(Texts("Late" + std::to_string(i), "Here", "6"));
         WriteData(d);
       },
       kUnreachable, [&] { return SyncStopping(-1, 30); }, unchanged},
      {"and is back", [] {}, kNone, nullptr,
       [&] {
         Set d = Data();
         EXPECT_EQ(d.size(), 1000u + 3 + 50 + 100);
         EXPECT_EQ(std::unique(d.begin(), d.end()), d.end());
       }},
      {"a collection emptied on the server is refused",
       [&] {
         // As a server restored from an old backup: made anew, empty.
         server_->Request("DELETE", "/ann/book/", {}, "ann");
         ASSERT_EQ(server_->MakeAddressBook("/ann/book/", "ann"), 201);
       },
       kRefused, nullptr, unchanged},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (!server_->running()) server_->Start();
    row.change();
    stateBefore = dir_.Exists(".FRIENDS.VLM.sync") ? dir_.Read(".FRIENDS.VLM.sync") : "";
    dataBefore = dir_.Read("FRIENDS.VLM");
    const auto sync = row.sync ? row.sync : [&] { return Sync(); };
    switch (row.failure) {
      case kNone: {
        const SyncSummary sum = sync();
        EXPECT_TRUE(sum.skipped.empty()) << sum.skipped[0].file << ": " << sum.skipped[0].why;
        break;
      }
      case kWrongLogin:
      case kUnreachable:
        try {
          sync();
          ADD_FAILURE() << "no ServerError";
        } catch (const ServerError& e) {
          EXPECT_EQ(e.kind, row.failure == kWrongLogin ? ServerError::kWrongLogin
                                                       : ServerError::kUnreachable)
              << e.what();
        }
        break;
      case kRefused: EXPECT_THROW(sync(), SyncRefused); break;
    }
    if (row.check) row.check();
    if (row.failure != kNone) continue;
    EXPECT_EQ(Trimmed(Data(s_.WorkingName)), Trimmed(ServerTexts()));
    const SyncSummary again = Sync();
    EXPECT_EQ(again.addedHere + again.changedHere + again.deletedHere + again.addedThere +
                  again.changedThere + again.deletedThere,
              0u);
    if (HasFailure()) return;
  }
}

// The model test (model_sync.h) on the address book.
TEST_F(AccountTest, RandomChangesOnBothSidesSettleAndLoseNothing) {
  struct Server : CardSide {
    explicit Server(AccountTest& t) : CardSide(false, true), t(t) {}
    void Clear() override {
      t.server_->Request("DELETE", "/ann/book/", {}, "ann");
      ASSERT_EQ(t.server_->MakeAddressBook("/ann/book/", "ann"), 201);
      std::filesystem::remove(SyncStatePath(t.s_));
    }
    void Put(const std::string& name, const std::string& bytes) override {
      t.PutCards({{name, bytes}});
    }
    void Remove(const std::string& name) override {
      EXPECT_EQ(t.server_->Request("DELETE", "/ann/book/" + name, {}, "ann") / 100, 2);
    }
    std::map<std::string, std::string> Cards() override { return t.ServerCards(); }
    SyncSummary Sync(const SyncOptions& o) override {
      return SyncWithAccount(t.s_, t.account_, kPassword, o);
    }
    AccountTest& t;
  } server(*this);
  RandomChangesSettle(server, dir_, 12);
}

// The password goes into the keyring and comes out for the command line;
// no file of the data folder ever holds it.
TEST_F(AccountTest, ThePasswordLivesInTheKeyringOnlyAndTheCommandLineSyncs) {
  TestKeyring& keyring = TestKeyring::Shared();
  if (!keyring.problem().empty()) GTEST_SKIP() << keyring.problem();
  const std::string prog = dir_ / "prog/";
  std::filesystem::create_directories(prog);
  std::filesystem::copy_file(VELMORA_EXE, prog + "velmora");
  Session s;
  RunStartUp(s, prog);
  EXPECT_EQ(LoadAccount(s), std::nullopt);
  account_.dataFile = "FRIENDS";
  SaveAccount(s, account_);
  const std::optional<Account> loaded = LoadAccount(s);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->addressBook, account_.addressBook);
  EXPECT_EQ(loaded->user, "ann");
  dir_.Write("prog/FRIENDS.VLM", DataFileOf({Texts("Ann", "Smith", "1"), Texts("Bo", "Ek", "2")}));

  const auto velmora = [&](const std::string& more = "") {
    return Shell("env -u DISPLAY " + Quote(prog + "velmora") + " --sync --account" + more + " 2>" +
                 Quote(dir_ / "velmora.log"));
  };
  DeletePassword(account_);
  EXPECT_EQ(velmora(), 1);
  EXPECT_NE(dir_.Read("velmora.log").find("keyring holds no password for ann"), std::string::npos)
      << dir_.Read("velmora.log");

  WritePassword(account_, kPassword);
  EXPECT_EQ(ReadPassword(account_), kPassword);
  Account other = account_;
  other.user = "bob";
  EXPECT_EQ(ReadPassword(other), std::nullopt);
  EXPECT_EQ(velmora(" --dry-run"), 0) << dir_.Read("velmora.log");
  EXPECT_EQ(ServerCards().size(), 0u);
  EXPECT_EQ(velmora(), 0) << dir_.Read("velmora.log");
  EXPECT_EQ(dir_.Read("velmora.log"),
            "velmora: FRIENDS.VLM synced with " + account_.addressBook +
                " for the first time: 0 added, 0 changed, 0 deleted in velmora, 2 added, 0 "
                "changed, 0 deleted in the address book\n");
  EXPECT_EQ(ServerCards().size(), 2u);

  // Neither the data folder nor the keyring's own files hold it in plain.
  for (const std::string& where : {dir_.path(), keyring.dir().path()})
    EXPECT_NE(Shell("grep -r -q -F " + Quote(kPassword) + " " + Quote(where)), 0) << where;
  RemoveAccount(s);
  EXPECT_EQ(LoadAccount(s), std::nullopt);
  DeletePassword(account_);
  EXPECT_EQ(ReadPassword(account_), std::nullopt);
}

}  // namespace
}  // namespace velmora
