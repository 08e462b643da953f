#include "sync/multistatus.h"

namespace velmora {

namespace {

constexpr char kDav[] = "DAV:";
constexpr char kCardDav[] = "urn:ietf:params:xml:ns:carddav";

int StatusOfLine(QStringView line) {
  // "HTTP/1.1 404 Not Found"
  const qsizetype space = line.indexOf(' ');
  return space < 0 ? 0 : line.mid(space + 1, 3).toInt();
}

}  // namespace

MultistatusReader::MultistatusReader(std::function<void(DavResponse&)> onResponse)
    : onResponse_(std::move(onResponse)) {
  xml_.setNamespaceProcessing(true);
}

void MultistatusReader::Feed(const QByteArray& bytes) {
  xml_.addData(bytes);
  Read();
}

bool MultistatusReader::Finish() {
  Read();
  return sawMultistatus_ && xml_.atEnd() && !xml_.hasError();
}

MultistatusReader::Tag MultistatusReader::TagOf(QStringView ns, QStringView name) {
  struct Entry {
    const char* ns;
    const char* name;
    Tag tag;
  };
  static const Entry kTags[] = {
      {kDav, "multistatus", kMultistatus},
      {kDav, "response", kResponse},
      {kDav, "href", kHref},
      {kDav, "status", kStatus},
      {kDav, "propstat", kPropstat},
      {kDav, "prop", kProp},
      {kDav, "getetag", kGetEtag},
      {kDav, "resourcetype", kResourceType},
      {kDav, "collection", kCollection},
      {kDav, "displayname", kDisplayName},
      {kDav, "current-user-principal", kPrincipal},
      {kDav, "sync-token", kSyncToken},
      {kCardDav, "addressbook", kAddressBook},
      {kCardDav, "addressbook-home-set", kHomeSet},
      {kCardDav, "address-data", kAddressData},
  };
  for (const Entry& e : kTags)
    if (name == QLatin1String(e.name) && ns == QLatin1String(e.ns)) return e.tag;
  return kOther;
}

void MultistatusReader::Read() {
  while (!xml_.atEnd()) {
    switch (xml_.readNext()) {
      case QXmlStreamReader::StartElement:
        tags_.push_back(TagOf(xml_.namespaceUri(), xml_.name()));
        Start();
        break;
      case QXmlStreamReader::EndElement:
        End();
        tags_.pop_back();
        break;
      case QXmlStreamReader::Characters:
        if (tags_.empty()) break;
        // A card may be large: it goes on as it comes.
        if (tags_.back() == kAddressData)
          Data(xml_.text());
        else
          text_ += xml_.text();
        break;
      default: break;
    }
  }
}

void MultistatusReader::Start() {
  text_.clear();
  switch (tags_.back()) {
    case kMultistatus: sawMultistatus_ = tags_.size() == 1; break;
    case kResponse:
      response_ = DavResponse();
      response_.base = base_;
      break;
    case kPropstat:
      props_ = DavResponse();
      propstatStatus_ = 0;
      break;
    case kCollection:
      if (Parent() == kResourceType) props_.collection = true;
      break;
    case kAddressBook:
      if (Parent() == kResourceType) props_.addressBook = true;
      break;
    case kAddressData:
      props_.hasData = true;
      pendingHigh_ = QChar();
      break;
    default: break;
  }
}

void MultistatusReader::End() {
  const Tag parent = Parent();
  const QString text = text_.trimmed();
  text_.clear();
  switch (tags_.back()) {
    case kHref:
      if (parent == kResponse)
        response_.href = text;
      else if (parent == kHomeSet && props_.home.isEmpty())
        props_.home = text;
      else if (parent == kPrincipal)
        props_.principal = text;
      break;
    case kStatus:
      if (parent == kResponse) response_.status = StatusOfLine(text);
      if (parent == kPropstat) propstatStatus_ = StatusOfLine(text);
      break;
    case kGetEtag: props_.etag = text; break;
    case kDisplayName: props_.displayName = text; break;
    case kSyncToken:
      if (parent == kMultistatus)
        syncToken_ = text;
      else
        props_.syncToken = text;
      break;
    case kAddressData:
      if (!pendingHigh_.isNull()) Data({});
      break;
    case kPropstat:
      if (propstatStatus_ / 100 == 2) Merge();
      break;
    case kResponse:
      if (parent == kMultistatus) onResponse_(response_);
      break;
    default: break;
  }
}

void MultistatusReader::Data(QStringView text) {
  // A character beyond the first 65,536 comes as two halves, which two
  // pieces of text may hold one each.
  QString piece = pendingHigh_.isNull() ? QString() : QString(pendingHigh_);
  piece += text;
  pendingHigh_ = QChar();
  if (!text.isEmpty() && piece.back().isHighSurrogate()) {
    pendingHigh_ = piece.back();
    piece.chop(1);
  }
  const QByteArray utf8 = piece.toUtf8();
  props_.dataSize += uint64_t(utf8.size());
  if (props_.dataSize <= kMaxKeptCardBytes) props_.data.append(utf8.data(), size_t(utf8.size()));
}

void MultistatusReader::Merge() {
  DavResponse& r = response_;
  if (!props_.etag.isEmpty()) r.etag = props_.etag;
  r.collection |= props_.collection;
  r.addressBook |= props_.addressBook;
  if (!props_.displayName.isEmpty()) r.displayName = props_.displayName;
  if (!props_.principal.isEmpty()) r.principal = props_.principal;
  if (!props_.home.isEmpty()) r.home = props_.home;
  if (!props_.syncToken.isEmpty()) r.syncToken = props_.syncToken;
  if (props_.hasData) {
    r.hasData = true;
    r.data = std::move(props_.data);
    r.dataSize = props_.dataSize;
  }
}

std::string WithCrlf(std::string_view in) {
  std::string out;
  out.reserve(in.size() + in.size() / 32);
  for (size_t i = 0; i < in.size(); ++i) {
    const char c = in[i];
    if (c == '\r') {
      out += "\r\n";
      if (i + 1 < in.size() && in[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace velmora
