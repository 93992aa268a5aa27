#include "editor/drop_first_characters.h"

#include <QTextBoundaryFinder>

QString dropFirstCharacters(qsizetype count, const QString &text)
{
    if (count <= 0)
        return text;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype at = 0;
    for (qsizetype i = 0; i < count; ++i) {
        at = finder.toNextBoundary();
        if (at < 0)
            return {};
    }
    return text.mid(at);
}
