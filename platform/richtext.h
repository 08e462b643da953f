#pragma once
// The notes' file format. A note lives in memory as a QTextDocument whose
// blocks are its paragraphs and whose fragments carry at most bold, italic
// and underline; on disk it is RTF in the stored texts' code page, or, for
// a note some other program left behind, plain text in that code page.
//
// Paragraph rule, shared by writer and reader: every "\par" ends one
// paragraph, and text after the last "\par" forms one more. So a document
// always reads back with exactly the blocks it was written with, empty ones
// included, and the final "\par" that word processors write adds nothing.
//
// A line break inside a paragraph is U+2028 in the document and "\line" in
// the file.

#include <QByteArray>
#include <QTextDocument>
#include <optional>

#include "platform/readcaps.h"

namespace velmora {

// The whole document as RTF, its "\ansicpg" the stored texts' code page.
// Characters outside that page are written as
// "\uN?" (two of them for a character beyond U+FFFF), so nothing typed is
// lost; "?" is what a reader without Unicode support shows instead.
QByteArray WriteRtf(const QTextDocument& doc);

// Replaces `out` with the text of `bytes`. False, with `out` untouched, when
// the bytes do not start with "{\rtf". Once they do, any bytes read: what is
// malformed is skipped, a cut-off file shows the text before the cut, and
// time and memory stay linear in the input.
bool ReadRtf(const QByteArray& bytes, QTextDocument& out);

// Replaces `out` with `bytes` read as text in the stored texts' code page. CRLF, CR and LF end
// paragraphs; a line end at the very end adds no empty paragraph.
void ReadPlainText(const QByteArray& bytes, QTextDocument& out);

enum class NoteLoad {
  kRtf,        // read as RTF
  kPlainText,  // not RTF, read as plain text
  kFailed,     // neither: larger than kMaxNoteBytes; `out` is left untouched
};

// How the text boxes load a note file: as RTF when it is RTF, else as plain
// text. Neither reader rejects any content, so kFailed ("Failed to Load
// Stream" for the caller) means the data was too big to hold. A caller may
// compare the file size with kMaxNoteBytes before reading it at all.
NoteLoad LoadNote(const QByteArray& bytes, QTextDocument& out);

// The note's text as LoadNote then QTextDocument::toPlainText give it, in
// time and memory linear in the note, without a document: the export's way.
// nullopt where LoadNote fails.
std::optional<QString> LoadNotePlainText(const QByteArray& bytes);

}  // namespace velmora
