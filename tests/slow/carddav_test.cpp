// The CardDAV client against real servers: Radicale (logins, HTTPS with a
// certificate made now) and Xandikos, each on a free loopback port.

#include "sync/carddav.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>
#include <thread>

#include "support/servers.h"

namespace velmora {
namespace {

using testing::Installed;
using testing::RunningRadicale;
using testing::RunningServer;
using testing::RunningXandikos;

const ServerLogin kAnn = {"ann", "secret", ""};

#define SKIP_UNLESS_INSTALLED(...)    \
  for (const char* p : {__VA_ARGS__}) \
    if (!Installed(p))                \
  GTEST_SKIP() << "SKIPPED: " << p << " is not installed (scripts/deps.sh installs it)"

std::unique_ptr<RunningRadicale> Radicale(bool https = false) {
  auto r = std::make_unique<RunningRadicale>(
      RunningRadicale::Options{{{"ann", "secret"}, {"bob", "pw"}}, https});
  EXPECT_EQ(r->MakeAddressBook("/ann/book/", "ann"), 201) << r->Log();
  return r;
}

std::string Card(const std::string& uid, const std::string& tel = "1") {
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\nFN:" + uid + "\r\nN:" + uid +
         ";;;;\r\nTEL:" + tel + "\r\nEND:VCARD\r\n";
}

// The kind of a failure, or -1 when there was none.
int KindOf(const std::function<void()>& f, std::string* text = nullptr,
           std::string* fingerprint = nullptr) {
  try {
    f();
  } catch (const ServerError& e) {
    if (text) *text = e.what();
    if (fingerprint) *fingerprint = e.fingerprint;
    return e.kind;
  }
  return -1;
}

size_t Count(const std::string& log, const std::string& what) {
  size_t n = 0;
  for (size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++n;
  return n;
}

TEST(CardDavTest, DiscoveryFindsTheAddressBookFromTheServersAddress) {
  SKIP_UNLESS_INSTALLED("radicale", "xandikos", "curl", "openssl");
  auto http = Radicale();
  auto https = Radicale(true);
  RunningXandikos xandikos;
  const std::string book = http->url() + "/ann/book/";

  // A certificate nobody vouches for is refused, and named by its
  // fingerprint, until the user accepts that one.
  std::string text, fingerprint;
  EXPECT_EQ(KindOf([&] { DiscoverAddressBooks(https->url(), kAnn); }, &text, &fingerprint),
            ServerError::kUntrusted);
  EXPECT_EQ(fingerprint, https->fingerprint());
  EXPECT_EQ(text, "The server's certificate is not trusted (SHA-256 fingerprint " +
                      https->fingerprint() + ")");
  ServerLogin trusting = kAnn;
  trusting.trustedCertificate = https->fingerprint();

  struct Row {
    const char* what;
    std::string address;
    ServerLogin login;
    std::string book;
  } rows[] = {
      {"radicale", http->url(), kAnn, book},
      {"radicale, the book's own address", book, kAnn, book},
      {"radicale, https, no scheme", "127.0.0.1:" + std::to_string(https->port()), trusting,
       https->url() + "/ann/book/"},
      {"xandikos", xandikos.url(), {}, xandikos.addressBook()},
      {"xandikos, redirected", xandikos.url() + "/.well-known/carddav", {}, xandikos.addressBook()},
      {"radicale, redirected", http->url() + "/.well-known/carddav", kAnn, book},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<AddressBookInfo> found;
    ASSERT_NO_THROW(found = DiscoverAddressBooks(row.address, row.login));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].url, row.book);
    EXPECT_FALSE(found[0].name.empty());
  }
}

TEST(CardDavTest, FailuresSayWhy) {
  SKIP_UNLESS_INSTALLED("radicale", "curl");
  auto radicale = Radicale();
  const std::string url = radicale->url();
  const std::string nobody = "http://127.0.0.1:" + std::to_string(testing::FreePort());
  struct Row {
    const char* what;
    std::function<void()> call;
    int kind;
    std::string text;
  } rows[] = {
      {"wrong password",
       [&] {
         DiscoverAddressBooks(url, {"ann", "wrong", ""});
       },
       ServerError::kWrongLogin, "The server refused the user name or password"},
      {"wrong password, store",
       [&] {
         CardDavStore(url + "/ann/book/", {"ann", "x", ""}).List();
       },
       ServerError::kWrongLogin, "The server refused the user name or password"},
      {"nothing listens", [&] { DiscoverAddressBooks(nobody, kAnn); }, ServerError::kUnreachable,
       "Cannot reach 127.0.0.1:" + nobody.substr(nobody.rfind(':') + 1) +
           ": the connection was refused"},
      {"the principal is no book", [&] { CardDavStore(url + "/ann/", kAnn).List(); },
       ServerError::kNotAddressBook, url + "/ann/ is no address book"},
      {"a book that is gone", [&] { CardDavStore(url + "/ann/gone/", kAnn).List(); },
       ServerError::kNotAddressBook, url + "/ann/gone/ is no address book"},
      {"a user without books",
       [&] {
         DiscoverAddressBooks(url, {"bob", "pw", ""});
       },
       ServerError::kNotAddressBook, "No address book found at " + url},
      {"no server address", [&] { DiscoverAddressBooks("ftp://x", kAnn); },
       ServerError::kUnreachable, "Cannot reach ftp://x: this is no server address"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::string text;
    EXPECT_EQ(KindOf(row.call, &text), row.kind);
    EXPECT_EQ(text, row.text);
  }
}

// Writes: every outcome as the sync core expects it.
struct Outcome {
  bool called = false;
  bool applied = false;
  CardStamp stamp;
};
CardStore::Done Into(Outcome& o) {
  return [&o](bool applied, const CardStamp& stamp) { o = {true, applied, stamp}; };
}

std::map<std::string, CardStamp> Stamps(const std::vector<CardListing>& cards) {
  std::map<std::string, CardStamp> out;
  for (const CardListing& c : cards) out[c.name] = c.stamp;
  return out;
}

class CardDavStoreTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) {
      SKIP_UNLESS_INSTALLED("xandikos", "curl");
      server_ = std::make_unique<RunningXandikos>();
      book_ = static_cast<RunningXandikos&>(*server_).addressBook();
    } else {
      SKIP_UNLESS_INSTALLED("radicale", "curl");
      server_ = Radicale();
      login_ = kAnn;
      user_ = "ann";
      book_ = server_->url() + "/ann/book/";
    }
    path_ = book_.substr(server_->url().size());
  }
  // Another writer's change.
  int Other(const std::string& method, const std::string& name, const std::string& body = {}) {
    std::string encoded;
    for (char c : name)
      encoded += c == ' ' ? "%20" : c == '+' ? "%2B" : c == '@' ? "%40" : std::string(1, c);
    return server_->Request(method, path_ + encoded, body, user_, body.empty() ? "" : "text/vcard");
  }
  std::unique_ptr<CardDavStore> Store(CardDavStore::Known known = {}) {
    return std::make_unique<CardDavStore>(book_, login_, std::move(known));
  }
  bool radicale() const { return !GetParam(); }

  std::unique_ptr<RunningServer> server_;
  ServerLogin login_;
  std::string user_, book_, path_;
};

TEST_P(CardDavStoreTest, WritesListsAndReads) {
  auto store = Store();
  EXPECT_TRUE(store->List().empty());
  const std::string spaced = "a b+c@d.vcf";  // encoded in every request
  Outcome a, b, c, taken;
  store->BeginWrites(3);
  store->Put("a.vcf", Card("a"), std::nullopt, Into(a));
  store->Put(spaced, Card("b"), std::nullopt, Into(b));
  store->Put("c.vcf", Card("c"), std::nullopt, Into(c));
  store->Flush();
  for (const Outcome* o : {&a, &b, &c}) {
    EXPECT_TRUE(o->called && o->applied);
    EXPECT_NE(o->stamp, CardStamp{});
  }
  store->BeginWrites(1);
  store->Put("a.vcf", Card("a", "2"), std::nullopt, Into(taken));  // the name is taken
  store->Flush();
  EXPECT_TRUE(taken.called && !taken.applied);

  // Every listing agrees with what the writes said.
  auto listed = store->List();
  const std::map<std::string, CardStamp> afterWrites = {
      {"a.vcf", a.stamp}, {spaced, b.stamp}, {"c.vcf", c.stamp}};
  EXPECT_EQ(Stamps(listed), afterWrites);
  EXPECT_EQ(store->Get(spaced, 1 << 20), Card("b"));
  const CardDavStore::Known known = {listed, store->Token()};
  EXPECT_FALSE(known.token.empty());

  // Another writer changes one and deletes one; a listing from the token
  // shows it, as a full one does.
  ASSERT_EQ(Other("PUT", "a.vcf", Card("a", "3")) / 100, 2);
  ASSERT_EQ(Other("DELETE", "c.vcf"), radicale() ? 200 : 204);
  auto fromToken = Store(known);
  const auto changed = Stamps(fromToken->List());
  EXPECT_EQ(changed, Stamps(Store()->List()));
  EXPECT_EQ(changed.size(), 2u);
  EXPECT_NE(changed.at("a.vcf"), a.stamp);
  EXPECT_EQ(changed.at(spaced), b.stamp);
  EXPECT_NE(fromToken->Token(), known.token);

  // A token the server does not know: the full listing.
  EXPECT_EQ(Stamps(Store({known.cards, known.token + "x"})->List()), changed);

  // An unchanged listing from the token: one REPORT, which answers.
  const CardDavStore::Known now = {fromToken->List(), fromToken->Token()};
  const std::string before = server_->Log();
  EXPECT_EQ(Stamps(Store(now)->List()), changed);
  if (radicale()) {
    const std::string log = server_->Log().substr(before.size());
    EXPECT_EQ(Count(log, "response status for"), Count(log, ": 401 Unauthorized") + 1) << log;
    EXPECT_EQ(Count(log, "REPORT response status"), Count(log, "REPORT request for"));
  }

  // Writes against stamps: the card as listed is changed, one another
  // writer changed since is left alone, and so is one listed stale.
  auto writer = Store();
  writer->List();
  ASSERT_EQ(Other("PUT", spaced, Card("b", "9")) / 100, 2);
  Outcome fresh, meanwhile, stale, gone, deleted;
  writer->BeginWrites(3);
  writer->Put("a.vcf", Card("a", "4"), changed.at("a.vcf"), Into(fresh));
  writer->Put(spaced, Card("b", "5"), changed.at(spaced), Into(meanwhile));
  writer->Delete("a.vcf", a.stamp, Into(stale));
  writer->Flush();
  EXPECT_TRUE(fresh.applied);
  EXPECT_TRUE(meanwhile.called && !meanwhile.applied);
  EXPECT_TRUE(stale.called && !stale.applied);
  EXPECT_EQ(writer->Get("a.vcf", 1 << 20), Card("a", "4"));
  EXPECT_EQ(writer->Get(spaced, 1 << 20), Card("b", "9"));

  // A known card the token listing did not name is deleted against the
  // etag the server has; a card gone meanwhile counts as changed.
  auto deleter = Store({writer->List(), writer->Token()});
  const auto last = Stamps(deleter->List());
  deleter->BeginWrites(0);
  deleter->Delete(spaced, last.at(spaced), Into(deleted));
  deleter->Delete("c.vcf", b.stamp, Into(gone));
  deleter->Flush();
  EXPECT_TRUE(deleted.applied);
  EXPECT_TRUE(gone.called && !gone.applied);
  // From a thread with no event loop of its own, as the window syncs.
  std::vector<CardListing> fromThread;
  std::thread([&] { fromThread = Store()->List(); }).join();
  EXPECT_EQ(Stamps(fromThread), (std::map<std::string, CardStamp>{{"a.vcf", fresh.stamp}}));
}

TEST_P(CardDavStoreTest, PrefetchedCardsComeInBatches) {
  auto store = Store();
  std::vector<std::string> names;
  std::vector<Outcome> outcomes(110);
  store->BeginWrites(outcomes.size());
  for (size_t i = 0; i < outcomes.size(); ++i) {
    names.push_back("card" + std::to_string(i) + ".vcf");
    store->Put(names.back(), Card(std::to_string(i)), std::nullopt, Into(outcomes[i]));
  }
  store->Put("big.vcf", Card("big", std::string(3 << 19, '7')), std::nullopt,
             [](bool applied, const CardStamp&) { EXPECT_TRUE(applied); });
  store->Flush();
  for (const Outcome& o : outcomes) ASSERT_TRUE(o.applied);
  EXPECT_EQ(store->List().size(), outcomes.size() + 1);

  const std::string before = server_->Log();
  names.push_back("big.vcf");
  names.push_back("missing.vcf");
  store->Prefetch(names);
  for (size_t i = 0; i < outcomes.size(); ++i)
    ASSERT_EQ(store->Get(names[i], 1 << 20), Card(std::to_string(i)));
  EXPECT_THROW(store->Get("big.vcf", 1 << 20), AppError);
  // Radicale folds the long line: the size only.
  EXPECT_GT(store->Get("big.vcf", 2 << 20).size(), 3u << 19);
  EXPECT_THROW(store->Get("missing.vcf", 1 << 20), IoError);
  if (radicale()) {
    const std::string log = server_->Log().substr(before.size());
    EXPECT_EQ(Count(log, "REPORT request for"), 2u) << log;
    EXPECT_EQ(Count(log, "GET request for"), 1u) << log;  // the missing one
  }
  // Not prefetched: a GET of its own, with the cap.
  EXPECT_THROW(Store()->Get("big.vcf", 1 << 20), AppError);
}

INSTANTIATE_TEST_SUITE_P(Servers, CardDavStoreTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Xandikos" : "Radicale"; });

}  // namespace
}  // namespace velmora
