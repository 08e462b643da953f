#pragma once
// A CardDAV address book on a server, as a card store: the second kind
// beside the vdir. Everything goes through Qt Network (PROPFIND and REPORT
// as custom verbs) and Qt's XML stream classes; calls block, each running
// its own event loop, so that the sync core and the command line use it as
// they use the vdir, and the window from a worker thread.
//
// Discovery: from the address a user types (a server, or an address book's
// URL) through "/.well-known/carddav", current-user-principal and
// addressbook-home-set to the address books.
//
// Changes: with the sync token the last complete sync kept, one
// sync-collection REPORT lists what changed since; without one (or when the
// server no longer knows it) a depth-1 PROPFIND of every getetag. Cards are
// fetched by addressbook-multiget in batches. Writes carry If-Match (a
// change, a delete) or If-None-Match: * (a new card): a 412 means another
// writer changed the card meanwhile, and the card is left alone.
//
// HTTPS trusts the system's certificate authorities, and besides them only
// a certificate whose SHA-256 fingerprint the user accepted for this
// account. Basic and Digest authentication; redirects are followed only
// within the same scheme, host and port.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ioerror.h"
#include "sync/cardstore.h"

namespace velmora {

struct ServerLogin {
  std::string user;
  std::string password;
  // "AB:CD:..." upper-case hex of a certificate the user trusts for this
  // account although no authority vouches for it; empty: none.
  std::string trustedCertificate;
};

// Why a server could not be used, in words for the user; no data was
// changed by the failed request.
class ServerError : public AppError {
 public:
  enum Kind {
    kUnreachable,    // no answer: name unknown, refused, timed out
    kWrongLogin,     // 401 after the password was given
    kNotAddressBook, // the address leads to no address book
    kUntrusted,      // a certificate no authority vouches for
    kStatus,         // any other failure status
  };
  ServerError(Kind kind, const std::string& text, int status = 0, std::string fingerprint = {})
      : AppError(text), kind(kind), status(status), fingerprint(std::move(fingerprint)) {}
  Kind kind;
  int status;               // the HTTP status, for kStatus and kWrongLogin
  std::string fingerprint;  // kUntrusted: the certificate's, as trustedCertificate spells it
};

struct AddressBookInfo {
  std::string url;   // absolute, ending in "/"
  std::string name;  // displayname, or the last segment of url when it has none
};

// The address books of the user at address ("host", "https://host",
// "https://host/path/to/book/"). Throws ServerError.
std::vector<AddressBookInfo> DiscoverAddressBooks(const std::string& address,
                                                  const ServerLogin& login);

// A server card's stamp: its ETag, hashed into inode; mtimeNs and size are 0.
CardStamp StampOfEtag(const std::string& etag);

class CardDavStore final : public CardStore {
 public:
  // What the last complete sync knew of the address book: its cards by name
  // (the last segment of their href) and stamp, and its sync token. With a
  // token, List() asks only for what changed since and adds that to these.
  struct Known {
    std::vector<CardListing> cards;
    std::string token;
  };

  CardDavStore(std::string url, ServerLogin login, Known known = {});
  ~CardDavStore() override;

  std::vector<CardListing> List() override;
  // Prefetched cards come from memory; others by one GET.
  std::string Get(const std::string& name, uint64_t cap) override;
  void Prefetch(const std::vector<std::string>& names) override;
  void BeginWrites(size_t puts) override;
  void Put(const std::string& name, std::string_view bytes,
           const std::optional<CardStamp>& expected, Done done) override;
  void Delete(const std::string& name, const CardStamp& expected, Done done) override;
  void Flush() override;

  // The token that lists changes after this sync: the one the last List()
  // received. Empty when the server gives none.
  const std::string& Token() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
