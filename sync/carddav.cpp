#include "sync/carddav.h"

#include <QAuthenticator>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QThread>
#include <QUrl>
#include <QXmlStreamWriter>
#include <algorithm>
#include <cerrno>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <unordered_map>

#include "sync/multistatus.h"

namespace velmora {

namespace {

constexpr char kDav[] = "DAV:";
constexpr char kCardDav[] = "urn:ietf:params:xml:ns:carddav";
// A request that moves no byte for this long counts as no answer.
constexpr int kIdleTimeoutMs = 60'000;
// hrefs in one addressbook-multiget: few requests, and one batch of cards
// in memory at most.
constexpr size_t kBatch = 100;
// Requests in flight while changes are written: Qt's own limit per host.
constexpr size_t kInFlight = 6;

std::string Str(const QString& s) { return s.toStdString(); }
QString QStr(const std::string& s) { return QString::fromStdString(s); }

std::string Fingerprint(const QSslCertificate& cert) {
  return cert.digest(QCryptographicHash::Sha256).toHex(':').toUpper().toStdString();
}

// "host:port" as a user would name the server.
std::string HostOf(const QUrl& url) {
  return Str(url.host()) + (url.port() >= 0 ? ":" + std::to_string(url.port()) : "");
}

// The decoded path of url, ending in "/".
QString FolderPath(const QUrl& url) {
  QString p = url.path(QUrl::FullyDecoded);
  if (!p.endsWith('/')) p += '/';
  return p;
}

// The bodies of the requests, written by the XML writer so that every
// text in them is escaped: the root element, what fill writes into it.
QByteArray Body(const char* ns, const char* root, const std::function<void(QXmlStreamWriter&)>& fill) {
  QByteArray out;
  QXmlStreamWriter w(&out);
  w.writeStartDocument();
  w.writeNamespace(kDav, "D");
  w.writeNamespace(kCardDav, "C");
  w.writeStartElement(ns, root);
  fill(w);
  w.writeEndElement();
  w.writeEndDocument();
  return out;
}

// A prop element asking for the properties named, each "ns name".
void WriteProp(QXmlStreamWriter& w, std::initializer_list<std::pair<const char*, const char*>> props) {
  w.writeStartElement(kDav, "prop");
  for (const auto& [ns, name] : props) w.writeEmptyElement(ns, name);
  w.writeEndElement();
}

QByteArray PropfindBody(bool discovery) {
  return Body(kDav, "propfind", [&](QXmlStreamWriter& w) {
    if (discovery)
      WriteProp(w, {{kDav, "resourcetype"},
                    {kDav, "displayname"},
                    {kDav, "current-user-principal"},
                    {kCardDav, "addressbook-home-set"}});
    else
      WriteProp(w, {{kDav, "resourcetype"}, {kDav, "getetag"}, {kDav, "sync-token"}});
  });
}

// An addressbook-query of every card's etag: a filter that tests nothing
// matches all.
QByteArray QueryBody() {
  return Body(kCardDav, "addressbook-query", [](QXmlStreamWriter& w) {
    WriteProp(w, {{kDav, "getetag"}});
    w.writeEmptyElement(kCardDav, "filter");
  });
}

QByteArray SyncCollectionBody(const std::string& token) {
  return Body(kDav, "sync-collection", [&](QXmlStreamWriter& w) {
    w.writeTextElement(kDav, "sync-token", QStr(token));
    w.writeTextElement(kDav, "sync-level", "1");
    WriteProp(w, {{kDav, "getetag"}});
  });
}

QByteArray MultigetBody(const std::vector<QString>& paths, bool withData) {
  return Body(kCardDav, "addressbook-multiget", [&](QXmlStreamWriter& w) {
    if (withData)
      WriteProp(w, {{kDav, "getetag"}, {kCardDav, "address-data"}});
    else
      WriteProp(w, {{kDav, "getetag"}});
    for (const QString& p : paths) w.writeTextElement(kDav, "href", p);
  });
}

// Requests to one server from the calling thread, each awaited in a local
// event loop. Logins and certificates are answered here for every reply.
class Client {
 public:
  explicit Client(ServerLogin login) : login_(std::move(login)) {}

  // A request under way, and what its answer is read into.
  struct Call {
    QNetworkReply* reply = nullptr;
    std::unique_ptr<MultistatusReader> multistatus;  // fed when the answer is one
    std::string* body = nullptr;                     // a GET's bytes, when wanted
    uint64_t cap = 0;
    bool tooLarge = false;
    ~Call() {
      if (!reply) return;
      if (!reply->isFinished()) {
        QObject::disconnect(reply, nullptr, nullptr, nullptr);
        reply->abort();
      }
      delete reply;
    }
  };

  std::unique_ptr<Call> Start(const QUrl& url, const QByteArray& verb, const QByteArray& body,
                              std::vector<std::pair<QByteArray, QByteArray>> headers = {}) {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::SameOriginRedirectPolicy);
    request.setTransferTimeout(kIdleTimeoutMs);
    request.setHeader(QNetworkRequest::UserAgentHeader, "velmora");
    if (!body.isEmpty() && verb != "PUT")
      request.setHeader(QNetworkRequest::ContentTypeHeader, "application/xml; charset=utf-8");
    for (const auto& [name, value] : headers) request.setRawHeader(name, value);
    auto call = std::make_unique<Call>();
    call->reply = Manager().sendCustomRequest(request, verb, body);
    Call* c = call.get();
    QObject::connect(c->reply, &QNetworkReply::readyRead, c->reply, [c] { Take(*c); });
    return call;
  }

  // Blocks until the call is answered; its HTTP status. Throws when no
  // answer came, or a refused login.
  int Wait(Call& call) {
    if (!call.reply->isFinished()) {
      QEventLoop loop;
      QObject::connect(call.reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
      loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return Outcome(call);
  }

  // Blocks until at least one of calls is answered.
  static void WaitForAny(const std::vector<Call*>& calls) {
    for (Call* c : calls)
      if (c->reply->isFinished()) return;
    QEventLoop loop;
    for (Call* c : calls)
      QObject::connect(c->reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
  }

  // The status of a finished call. Throws ServerError when there was no
  // answer, or it refused the login.
  int Outcome(Call& call) {
    Take(call);
    QNetworkReply* r = call.reply;
    if (call.tooLarge) return 200;  // cut short by Take
    const int status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QVariant untrusted = r->property("untrusted");
    if (untrusted.isValid()) {
      const std::string fp = Str(untrusted.toString());
      throw ServerError(ServerError::kUntrusted,
                        "The server's certificate is not trusted (SHA-256 fingerprint " + fp + ")",
                        0, fp);
    }
    if (status == 401)
      throw ServerError(ServerError::kWrongLogin, "The server refused the user name or password",
                        401);
    if (status == 0) {
      std::string reason;
      switch (r->error()) {
        case QNetworkReply::OperationCanceledError:
        case QNetworkReply::TimeoutError:
          reason = "no answer for " + std::to_string(kIdleTimeoutMs / 1000) + " seconds";
          break;
        case QNetworkReply::ConnectionRefusedError: reason = "the connection was refused"; break;
        case QNetworkReply::HostNotFoundError: reason = "no such host"; break;
        default: reason = Str(r->errorString());
      }
      throw ServerError(ServerError::kUnreachable,
                        "Cannot reach " + HostOf(r->request().url()) + ": " + reason);
    }
    return status;
  }

  // Any status but those wanted: the server's own words for it.
  [[noreturn]] static void Refused(const Call& call, int status) {
    const std::string reason =
        Str(call.reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString());
    throw ServerError(
        ServerError::kStatus,
        "The server answered " + std::to_string(status) + (reason.empty() ? "" : " " + reason),
        status);
  }

  // The multistatus of a 207 call, checked complete.
  static void CheckMultistatus(const Call& call, int status) {
    if (status != 207) Refused(call, status);
    if (!call.multistatus->Finish())
      throw ServerError(ServerError::kStatus, "The server's answer could not be read", status);
  }

  // Runs a call with a multistatus answer to its end: its status, and each
  // response to onResponse as it comes.
  int Multistatus(const QUrl& url, const QByteArray& verb, const QByteArray& body, int depth,
                  std::function<void(DavResponse&)> onResponse,
                  std::unique_ptr<Call>* kept = nullptr) {
    auto call = Start(url, verb, body, {{"Depth", QByteArray::number(depth)}});
    call->multistatus = std::make_unique<MultistatusReader>(std::move(onResponse));
    const int status = Wait(*call);
    if (kept) *kept = std::move(call);
    return status;
  }

 private:
  QNetworkAccessManager& Manager() {
    // Replies belong to the thread that made the manager: a store used
    // from another thread than before gets a manager of its own there.
    if (!manager_ || manager_->thread() != QThread::currentThread()) {
      manager_ = std::make_unique<QNetworkAccessManager>();
      QObject::connect(manager_.get(), &QNetworkAccessManager::authenticationRequired,
                       manager_.get(), [this](QNetworkReply* r, QAuthenticator* a) {
                         // Once per request: asked again, the login was refused.
                         if (r->property("loginGiven").toBool() || login_.user.empty()) return;
                         r->setProperty("loginGiven", true);
                         a->setUser(QStr(login_.user));
                         a->setPassword(QStr(login_.password));
                       });
      QObject::connect(manager_.get(), &QNetworkAccessManager::sslErrors, manager_.get(),
                       [this](QNetworkReply* r, const QList<QSslError>& errors) {
                         QSslCertificate cert = r->sslConfiguration().peerCertificate();
                         if (cert.isNull() && !errors.isEmpty())
                           cert = errors.first().certificate();
                         const std::string fp = cert.isNull() ? "" : Fingerprint(cert);
                         if (!fp.empty() && fp == login_.trustedCertificate) {
                           r->ignoreSslErrors(errors);
                           return;
                         }
                         r->setProperty("untrusted", QStr(fp));
                       });
    }
    return *manager_;
  }

  // Moves what arrived into the call's reader or body, or drops it.
  static void Take(Call& c) {
    QNetworkReply* r = c.reply;
    if (r->bytesAvailable() <= 0) return;
    const int status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (c.multistatus && status == 207) {
      c.multistatus->SetBase(r->url());
      c.multistatus->Feed(r->readAll());
    } else if (c.body && status / 100 == 2) {
      const QByteArray bytes = r->readAll();
      if (c.body->size() + size_t(bytes.size()) > c.cap) {
        c.tooLarge = true;
        r->abort();
        return;
      }
      c.body->append(bytes.constData(), size_t(bytes.size()));
    } else {
      r->readAll();
    }
  }

  ServerLogin login_;
  std::unique_ptr<QNetworkAccessManager> manager_;
};

QUrl Resolved(const QUrl& base, const QString& href) {
  return base.resolved(QUrl(href, QUrl::TolerantMode));
}

// The address a user typed, as a URL: without a scheme it is https, so
// that a password never travels in clear text unless asked to.
QUrl AddressUrl(const std::string& address) {
  QString a = QStr(address).trimmed();
  if (!a.contains("://")) a = "https://" + a;
  QUrl url(a, QUrl::TolerantMode);
  if (!url.isValid() || url.host().isEmpty() || (url.scheme() != "https" && url.scheme() != "http"))
    throw ServerError(ServerError::kUnreachable,
                      "Cannot reach " + address + ": this is no server address");
  if (url.path().isEmpty()) url.setPath("/");
  return url;
}

std::string AsFolderUrl(QUrl url) {
  if (!url.path().endsWith('/'))
    url.setPath(url.path(QUrl::FullyEncoded) + '/', QUrl::TolerantMode);
  return Str(url.toString(QUrl::FullyEncoded));
}

std::string LastSegment(const QUrl& url) {
  const QString path = url.path(QUrl::FullyEncoded);
  const QString trimmed = path.endsWith('/') ? path.chopped(1) : path;
  return Str(QUrl::fromPercentEncoding(trimmed.mid(trimmed.lastIndexOf('/') + 1).toUtf8()));
}

}  // namespace

CardStamp StampOfEtag(const std::string& etag) {
  // FNV-1a: the same etag gives the same stamp in every run and version.
  uint64_t h = 14695981039346656037ull;
  for (const unsigned char c : etag) h = (h ^ c) * 1099511628211ull;
  // Never zero: a zero stamp is a card whose etag is unknown.
  return {0, 0, h ? h : 1};
}

std::vector<AddressBookInfo> DiscoverAddressBooks(const std::string& address,
                                                  const ServerLogin& login) {
  Client client(login);
  const QUrl given = AddressUrl(address);
  const QByteArray body = PropfindBody(true);

  // The address itself, then the places the discovery standards name.
  std::vector<QUrl> tries = {given};
  for (const char* path : {"/.well-known/carddav", "/"}) {
    QUrl u = given;
    u.setPath(path);
    u.setQuery(QString());
    if (std::find(tries.begin(), tries.end(), u) == tries.end()) tries.push_back(u);
  }
  QUrl home;
  for (const QUrl& url : tries) {
    std::optional<AddressBookInfo> book;
    QUrl principal;
    std::unique_ptr<Client::Call> call;
    const int status = client.Multistatus(
        url, "PROPFIND", body, 0,
        [&](DavResponse& r) {
          const QUrl at = Resolved(r.base, r.href);
          if (r.addressBook)
            book = AddressBookInfo{AsFolderUrl(at),
                                   r.displayName.isEmpty() ? LastSegment(at) : Str(r.displayName)};
          if (!r.home.isEmpty() && home.isEmpty()) home = Resolved(at, r.home);
          if (!r.principal.isEmpty() && principal.isEmpty()) principal = Resolved(at, r.principal);
        },
        &call);
    if (status != 207 || !call->multistatus->Finish()) continue;
    if (book) return {*book};
    if (!home.isEmpty()) break;
    if (!principal.isEmpty()) {
      client.Multistatus(principal, "PROPFIND", body, 0, [&](DavResponse& r) {
        if (!r.home.isEmpty() && home.isEmpty()) home = Resolved(r.base, r.home);
      });
      if (!home.isEmpty()) break;
    }
  }
  // A server that names no home: the address may be one.
  if (home.isEmpty()) home = given;
  std::vector<AddressBookInfo> books;
  client.Multistatus(home, "PROPFIND", body, 1, [&](DavResponse& r) {
    if (!r.addressBook) return;
    const QUrl at = Resolved(r.base, r.href);
    books.push_back(
        {AsFolderUrl(at), r.displayName.isEmpty() ? LastSegment(at) : Str(r.displayName)});
  });
  if (books.empty())
    throw ServerError(ServerError::kNotAddressBook, "No address book found at " + address);
  return books;
}

struct CardDavStore::Impl {
  QUrl url;        // the address book, its path ending in "/"
  QString folder;  // its decoded path
  Client client;
  Known known;
  std::string token;
  // The etag each card had when last seen, for If-Match.
  std::unordered_map<std::string, std::string> etags;

  // The cards Prefetch announced and not yet fetched, in order, and the
  // batch fetched last, which Get hands out.
  std::vector<std::string> announced;
  std::unordered_map<std::string, size_t> announcedAt;
  struct Fetched {
    std::string bytes;
    uint64_t size = 0;
  };
  std::unordered_map<std::string, Fetched> batch;

  struct Change {
    std::string name;
    bool put = false;
    std::string bytes;
    std::optional<CardStamp> expected;
    Done done;
  };
  std::deque<Change> staged;

  Impl(std::string address, ServerLogin login, Known k)
      : client(std::move(login)), known(std::move(k)) {
    url = QUrl(QStr(address), QUrl::TolerantMode);
    if (!url.path().endsWith('/'))
      url.setPath(url.path(QUrl::FullyEncoded) + '/', QUrl::TolerantMode);
    folder = FolderPath(url);
  }

  QUrl CardUrl(const std::string& name) const {
    QUrl u = url;
    u.setPath(
        url.path(QUrl::FullyEncoded) + QString::fromLatin1(QUrl::toPercentEncoding(QStr(name))),
        QUrl::TolerantMode);
    return u;
  }

  // The card's name when href is a card of this address book; "" when it
  // is the book itself, a folder in it, or something elsewhere.
  std::string NameOf(const QString& href) const {
    const QUrl at = Resolved(url, href);
    const QString path = at.path(QUrl::FullyDecoded);
    if (path.endsWith('/') || !path.startsWith(folder) || path.indexOf('/', folder.size()) >= 0)
      return "";
    return LastSegment(at);
  }

  [[noreturn]] void NoAddressBook() const {
    throw ServerError(ServerError::kNotAddressBook,
                      Str(url.toString(QUrl::FullyEncoded)) + " is no address book");
  }

  std::vector<CardListing> FullListing() {
    // The book itself first, and its token before its cards: a change made
    // between the two is then seen again by the next sync, never missed.
    bool isBook = false;
    std::string newToken;
    std::unique_ptr<Client::Call> call;
    const int status = client.Multistatus(
        url, "PROPFIND", PropfindBody(false), 0,
        [&](DavResponse& r) {
          if (FolderPath(Resolved(url, r.href)) != folder) return;
          isBook = r.addressBook;
          newToken = Str(r.syncToken);
        },
        &call);
    if (status == 404) NoAddressBook();
    Client::CheckMultistatus(*call, status);
    if (!isBook) NoAddressBook();
    // A query that every card matches lists them as a PROPFIND does, and on
    // some servers far faster (Radicale: 1 s against 40 s for 10,000
    // cards); a server that refuses it or cuts it short is asked by
    // PROPFIND.
    std::vector<CardListing> out;
    if (!ListMembers("REPORT", QueryBody(), out, false))
      ListMembers("PROPFIND", PropfindBody(false), out, true);
    token = newToken;
    return out;
  }

  // The book's cards by name and stamp, as one depth-1 request answers;
  // false when the answer is no whole listing and mustAnswer is not set.
  bool ListMembers(const QByteArray& verb, const QByteArray& body, std::vector<CardListing>& out,
                   bool mustAnswer) {
    out.clear();
    etags.clear();
    bool cut = false;
    std::unique_ptr<Client::Call> call;
    const int status = client.Multistatus(
        url, verb, body, 1,
        [&](DavResponse& r) {
          if (FolderPath(Resolved(url, r.href)) == folder) {
            cut |= r.status == 507;
            return;
          }
          if (r.collection) return;
          std::string name = NameOf(r.href);
          if (name.empty()) return;
          const std::string etag = Str(r.etag);
          etags[name] = etag;
          out.push_back({std::move(name), etag.empty() ? CardStamp{} : StampOfEtag(etag), ""});
        },
        &call);
    if (!mustAnswer && (status != 207 || cut || !call->multistatus->Finish())) return false;
    if (status == 404) NoAddressBook();
    Client::CheckMultistatus(*call, status);
    return true;
  }

  // What changed since the known token, added to the known cards; nullopt
  // when the server no longer knows the token.
  std::optional<std::vector<CardListing>> ChangesSince() {
    std::map<std::string, CardStamp> cards;
    for (const CardListing& c : known.cards) cards[c.name] = c.stamp;
    std::string from = known.token;
    std::unordered_map<std::string, std::string> seen;
    // A server may answer in parts: a 507 for the book itself means more
    // changes follow the token it gave.
    for (bool more = true; more;) {
      more = false;
      std::unique_ptr<Client::Call> call;
      const int status = client.Multistatus(
          url, "REPORT", SyncCollectionBody(from), 0,
          [&](DavResponse& r) {
            std::string name = NameOf(r.href);
            if (name.empty()) {
              more |= r.status == 507;
              return;
            }
            if (r.status == 404) {
              cards.erase(name);
              seen.erase(name);
              return;
            }
            if (r.collection) return;
            const std::string etag = Str(r.etag);
            cards[name] = etag.empty() ? CardStamp{} : StampOfEtag(etag);
            seen[std::move(name)] = etag;
          },
          &call);
      if (status == 404) NoAddressBook();
      // The token refused (403 or 409 with valid-sync-token), or no such
      // report at all, or a server that fails on a token it lost (500):
      // the full listing says what there is, or fails itself.
      if (status != 207) return std::nullopt;
      Client::CheckMultistatus(*call, status);
      std::string next = Str(call->multistatus->syncToken());
      if (next.empty() || (more && next == from)) return std::nullopt;
      from = std::move(next);
    }
    token = from;
    etags = std::move(seen);
    std::vector<CardListing> out;
    out.reserve(cards.size());
    for (auto& [name, stamp] : cards) out.push_back({name, stamp, ""});
    return out;
  }

  // One multiget: the cards' etags, and their bytes when withData, for
  // every name the server still has.
  void Multiget(const std::vector<std::string>& names, bool withData) {
    std::vector<QString> paths;
    for (const std::string& n : names) paths.push_back(CardUrl(n).path(QUrl::FullyEncoded));
    std::unique_ptr<Client::Call> call;
    const int status = client.Multistatus(
        url, "REPORT", MultigetBody(paths, withData), 1,
        [&](DavResponse& r) {
          const std::string name = NameOf(r.href);
          if (name.empty() || r.status / 100 == 4) return;
          if (!r.etag.isEmpty()) etags[name] = Str(r.etag);
          if (withData && r.hasData)
            batch[name] = {r.dataSize > kMaxKeptCardBytes ? std::string() : WithCrlf(r.data),
                           r.dataSize};
        },
        &call);
    if (status == 404) NoAddressBook();
    Client::CheckMultistatus(*call, status);
  }

  void FetchBatchFrom(size_t at) {
    batch.clear();
    std::vector<std::string> names;
    for (size_t i = at; i < announced.size() && names.size() < kBatch; ++i)
      if (announcedAt.erase(announced[i])) names.push_back(announced[i]);
    if (!names.empty()) Multiget(names, true);
  }

  // The etags of changes whose card was not listed with one this time
  // (known cards a token listing did not name), as the server has them now.
  void LearnEtags(const std::deque<Change>& changes) {
    std::vector<std::string> missing;
    for (const Change& c : changes)
      if (c.expected && !etags.count(c.name)) missing.push_back(c.name);
    for (size_t i = 0; i < missing.size(); i += kBatch)
      Multiget({missing.begin() + i, missing.begin() + std::min(missing.size(), i + kBatch)},
               false);
  }

  std::unique_ptr<Client::Call> Send(const Change& c) {
    std::vector<std::pair<QByteArray, QByteArray>> headers;
    if (c.expected) {
      QByteArray etag = QByteArray::fromStdString(etags.at(c.name));
      if (!etag.startsWith('"') && !etag.startsWith("W/")) etag = '"' + etag + '"';
      headers.push_back({"If-Match", etag});
    } else {
      headers.push_back({"If-None-Match", "*"});
    }
    if (!c.put) return client.Start(CardUrl(c.name), "DELETE", {}, headers);
    headers.push_back({"Content-Type", "text/vcard; charset=utf-8"});
    return client.Start(CardUrl(c.name), "PUT", QByteArray::fromStdString(c.bytes), headers);
  }

  // A change's answer to its callback; throws when it failed otherwise
  // than by another writer.
  void Finished(const Change& c, Client::Call& call) {
    const int status = client.Outcome(call);
    if (status == 412 || (!c.put && status == 404)) {
      etags.erase(c.name);
      c.done(false, {});
      return;
    }
    if (status / 100 != 2) Client::Refused(call, status);
    if (!c.put) {
      etags.erase(c.name);
      c.done(true, {});
      return;
    }
    const std::string etag = call.reply->rawHeader("ETag").trimmed().toStdString();
    if (etag.empty()) {
      etags.erase(c.name);
      c.done(true, CardStamp{});  // read again next time
    } else {
      etags[c.name] = etag;
      c.done(true, StampOfEtag(etag));
    }
  }

  // Carries out the staged changes, several in flight at once, and tells
  // each outcome; a failure is thrown once those in flight are answered.
  void CarryOut() {
    std::deque<Change> todo = std::move(staged);
    staged.clear();
    LearnEtags(todo);

    struct InFlight {
      Change change;
      std::unique_ptr<Client::Call> call;
    };
    std::vector<InFlight> flying;
    std::exception_ptr failure;
    while (!todo.empty() || !flying.empty()) {
      while (!failure && !todo.empty() && flying.size() < kInFlight) {
        Change c = std::move(todo.front());
        todo.pop_front();
        // A card that changed (or went) since the listing is left alone.
        if (c.expected) {
          const auto etag = etags.find(c.name);
          if (etag == etags.end() || StampOfEtag(etag->second) != *c.expected) {
            c.done(false, {});
            continue;
          }
        }
        auto call = Send(c);
        flying.push_back({std::move(c), std::move(call)});
      }
      if (failure) todo.clear();
      if (flying.empty()) break;
      std::vector<Client::Call*> calls;
      for (InFlight& f : flying) calls.push_back(f.call.get());
      Client::WaitForAny(calls);
      for (size_t i = 0; i < flying.size();) {
        if (!flying[i].call->reply->isFinished()) {
          ++i;
          continue;
        }
        InFlight f = std::move(flying[i]);
        flying.erase(flying.begin() + ptrdiff_t(i));
        try {
          Finished(f.change, *f.call);
        } catch (...) {
          if (!failure) failure = std::current_exception();
        }
      }
    }
    if (failure) std::rethrow_exception(failure);
  }
};

CardDavStore::CardDavStore(std::string url, ServerLogin login, Known known)
    : impl_(std::make_unique<Impl>(std::move(url), std::move(login), std::move(known))) {}

CardDavStore::~CardDavStore() = default;

std::vector<CardListing> CardDavStore::List() {
  if (!impl_->known.token.empty())
    if (auto changes = impl_->ChangesSince()) return std::move(*changes);
  return impl_->FullListing();
}

void CardDavStore::Prefetch(const std::vector<std::string>& names) {
  impl_->batch.clear();
  impl_->announced = names;
  impl_->announcedAt.clear();
  for (size_t i = 0; i < names.size(); ++i) impl_->announcedAt.emplace(names[i], i);
}

std::string CardDavStore::Get(const std::string& name, uint64_t cap) {
  Impl& m = *impl_;
  if (!m.batch.count(name)) {
    const auto at = m.announcedAt.find(name);
    if (at != m.announcedAt.end()) m.FetchBatchFrom(at->second);
  }
  const std::string tooLarge = "larger than " + std::to_string(cap >> 20) + " MiB";
  if (const auto f = m.batch.find(name); f != m.batch.end()) {
    if (f->second.size > cap) throw AppError(tooLarge);
    if (f->second.size <= kMaxKeptCardBytes) return f->second.bytes;
  }
  std::string bytes;
  auto call = m.client.Start(m.CardUrl(name), "GET", {});
  call->body = &bytes;
  call->cap = cap;
  const int status = m.client.Wait(*call);
  if (call->tooLarge) throw AppError(tooLarge);
  if (status == 404 || status == 410)
    throw IoError(IoError::kFileNotFound, Str(m.CardUrl(name).toString()), ENOENT);
  if (status != 200) Client::Refused(*call, status);
  const std::string etag = call->reply->rawHeader("ETag").trimmed().toStdString();
  if (!etag.empty()) m.etags[name] = etag;
  return WithCrlf(bytes);
}

void CardDavStore::BeginWrites(size_t puts) {
  (void)puts;
  impl_->staged.clear();
}

void CardDavStore::Put(const std::string& name, std::string_view bytes,
                       const std::optional<CardStamp>& expected, Done done) {
  impl_->staged.push_back({name, true, std::string(bytes), expected, std::move(done)});
  // Memory holds one batch of cards, not all that a sync writes.
  if (impl_->staged.size() >= kBatch) impl_->CarryOut();
}

void CardDavStore::Delete(const std::string& name, const CardStamp& expected, Done done) {
  impl_->staged.push_back({name, false, {}, expected, std::move(done)});
  if (impl_->staged.size() >= kBatch) impl_->CarryOut();
}

void CardDavStore::Flush() { impl_->CarryOut(); }

const std::string& CardDavStore::Token() const { return impl_->token; }

}  // namespace velmora
