// Any bytes as a server's multistatus: read whole and read in pieces of
// any size (the first byte chooses it), the same verdict, and for a
// complete answer the same responses and sync token; and a card handed on breaks its lines by CRLF
// alone, the same however often that is done.

#include <QByteArray>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "sync/multistatus.h"

using namespace velmora;

namespace {

std::string Flat(const DavResponse& r) {
  return (r.href + '|' + r.etag + '|' + r.displayName + '|' + r.principal + '|' + r.home + '|' +
          r.syncToken + '|' + QString::number(r.status) + (r.collection ? "c" : "") +
          (r.addressBook ? "a" : "") + (r.hasData ? "d" : ""))
             .toStdString() +
         '|' + std::to_string(r.dataSize) + '|' + r.data;
}

struct Reading {
  std::vector<std::string> responses;
  QString token;
  bool complete = false;
  bool operator==(const Reading&) const = default;
};

Reading ReadIn(const QByteArray& doc, qsizetype piece) {
  Reading out;
  MultistatusReader reader([&](DavResponse& r) { out.responses.push_back(Flat(r)); });
  for (qsizetype at = 0; at < doc.size(); at += piece) reader.Feed(doc.mid(at, piece));
  out.complete = reader.Finish();
  out.token = reader.syncToken();
  return out;
}

bool CrlfOnly(const std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' && (i + 1 == s.size() || s[i + 1] != '\n')) return false;
    if (s[i] == '\n' && (i == 0 || s[i - 1] != '\r')) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const qsizetype piece = data[0] % 64 + 1;
  const QByteArray doc(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
  std::vector<std::string> cards;
  // A broken answer is refused whole, whatever came before the break
  // (which depends on where the parser notices it).
  const Reading whole = ReadIn(doc, doc.size() + 1), pieces = ReadIn(doc, piece);
  if (whole.complete != pieces.complete || (whole.complete && !(whole == pieces))) std::abort();
  MultistatusReader reader([&](DavResponse& r) { cards.push_back(r.data); });
  reader.Feed(doc);
  for (const std::string& card : cards) {
    const std::string crlf = WithCrlf(card);
    if (!CrlfOnly(crlf) || WithCrlf(crlf) != crlf) std::abort();
  }
  return 0;
}
