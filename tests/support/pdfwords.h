#pragma once
// What a PDF reader sees on a printed page: each word with the top-left
// corner of its box, in points, read with pdftotext (poppler-utils).

#include <QByteArray>
#include <QRegularExpression>
#include <QString>
#include <cstdio>
#include <map>
#include <string>

namespace velmora::testing {

struct WordBox {
  double xMin, yMin;
};

inline std::map<QString, WordBox> PdfWords(const std::string& pdf) {
  std::map<QString, WordBox> out;
  const std::string cmd = "pdftotext -bbox '" + pdf + "' -";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return out;
  QByteArray html;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) html.append(buf, qsizetype(n));
  ::pclose(p);
  QRegularExpression word(
      R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="[\d.]+" yMax="[\d.]+">([^<]*)</word>)re");
  for (auto m = word.globalMatch(QString::fromUtf8(html)); m.hasNext();) {
    auto w = m.next();
    out[w.captured(3)] = {w.captured(1).toDouble(), w.captured(2).toDouble()};
  }
  return out;
}

}  // namespace velmora::testing
