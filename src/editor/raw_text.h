#pragma once

#include <QString>

class QTextCursor;
class QTextDocument;

// A text view's characters exactly as typed, line breaks as "\n". Unlike toPlainText() this keeps
// non-breaking spaces; the document's paragraph separators become line feeds, one unit each, so
// offsets match the cursor positions.
QString rawText(const QTextDocument &document);
QString rawSelectedText(const QTextCursor &cursor);
