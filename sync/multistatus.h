#pragma once
// A WebDAV multistatus (RFC 4918) as a CardDAV server sends it, read as it
// arrives, so that a listing of many cards is never held whole: each
// DAV:response goes to a callback when it is complete. Only what the
// CardDAV store asks for is kept.

#include <QString>
#include <QUrl>
#include <QXmlStreamReader>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// One DAV:response, with the properties of its 2xx propstats; those of the
// others (properties the server lacks) are left out.
struct DavResponse {
  QUrl base;  // what href is relative to: the URL that answered
  QString href;
  int status = 0;  // of the response itself (a removed card), 0: none
  QString etag;
  bool collection = false;
  bool addressBook = false;
  QString displayName;
  QString principal;
  QString home;  // the first href of the home set
  QString syncToken;
  std::string data;       // address-data (UTF-8), up to kMaxKeptCardBytes
  uint64_t dataSize = 0;  // its full size
  bool hasData = false;
};

// A card in an answer is kept up to this size; beyond it only its size is
// counted.
inline constexpr uint64_t kMaxKeptCardBytes = 64u << 20;

class MultistatusReader {
 public:
  explicit MultistatusReader(std::function<void(DavResponse&)> onResponse);

  // The next bytes of the answer, in pieces of any size.
  void Feed(const QByteArray& bytes);
  // After the last piece: false when the answer was no complete
  // multistatus.
  bool Finish();
  // The multistatus's own sync token (a sync-collection report's).
  const QString& syncToken() const { return syncToken_; }
  // The URL the answer came from, after any redirect.
  void SetBase(const QUrl& url) { base_ = url; }

 private:
  enum Tag {
    kOther,
    kMultistatus,
    kResponse,
    kHref,
    kStatus,
    kPropstat,
    kProp,
    kGetEtag,
    kResourceType,
    kCollection,
    kAddressBook,
    kDisplayName,
    kPrincipal,
    kHomeSet,
    kSyncToken,
    kAddressData,
  };
  static Tag TagOf(QStringView ns, QStringView name);
  Tag Parent() const { return tags_.size() >= 2 ? tags_[tags_.size() - 2] : kOther; }
  void Read();
  void Start();
  void End();
  void Merge();
  void Data(QStringView text);

  QXmlStreamReader xml_;
  std::vector<Tag> tags_;  // the open elements, outermost first
  std::function<void(DavResponse&)> onResponse_;
  DavResponse response_;  // the response being read
  DavResponse props_;     // the properties of the propstat being read
  int propstatStatus_ = 0;
  // The text of the element open now; a server may split it with
  // character references, which the parser hands on as pieces.
  QString text_;
  QChar pendingHigh_;  // address-data: half a character, until the rest comes
  bool sawMultistatus_ = false;
  QString syncToken_;
  QUrl base_;
};

// A vCard travels in XML, which turns every line break into LF unless the
// server wrote its CR as a character reference. Every card is handed on
// with CRLF line breaks, however it came, so that the same card reads the
// same bytes by GET and by multiget, and a sync's hashes agree.
std::string WithCrlf(std::string_view in);

}  // namespace velmora
