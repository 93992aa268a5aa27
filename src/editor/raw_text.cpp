#include "editor/raw_text.h"

#include <QTextCursor>
#include <QTextDocument>

namespace {

QString withLineFeeds(QString text)
{
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return text;
}

} // namespace

QString rawText(const QTextDocument &document)
{
    return withLineFeeds(document.toRawText());
}

QString rawSelectedText(const QTextCursor &cursor)
{
    return withLineFeeds(cursor.selectedText());
}
