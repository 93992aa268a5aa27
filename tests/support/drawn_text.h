#pragma once

#include <QLabel>
#include <QTest>
#include <QTextDocument>

// What the screens draw of a text, read the way Qt reads it, for tests that feed markup and "&".
namespace DrawnText {

// Markup- and "&"-laden texts people give as titles, names, options and the service as errors.
inline void addRows(const char *column)
{
    QTest::addColumn<QString>(column);
    QTest::newRow("tags in a title") << QStringLiteral("When to use <br> and <p> tags");
    QTest::newRow("bold name") << QStringLiteral("<b>Bob</b>");
    QTest::newRow("ampersand") << QStringLiteral("Q&A");
    QTest::newRow("ampersand and markup") << QStringLiteral("R&D <i>notes</i> & more");
    QTest::newRow("link") << QStringLiteral("Down: see <a href=\"https://status.example\">status</a>");
    QTest::newRow("entity") << QStringLiteral("Fish &amp; chips &lt;3");
}

// A text Qt shows as rich text, rendered; any other as it is.
inline QString rendered(const QString &text, bool rich)
{
    if (!rich)
        return text;
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}

inline QString ofLabel(const QLabel *label)
{
    const Qt::TextFormat format = label->textFormat();
    return rendered(label->text(),
                    format == Qt::RichText || (format == Qt::AutoText && Qt::mightBeRichText(label->text())));
}

// A tooltip: Qt's tooltip label reads it as rich text when it looks like markup.
inline QString ofToolTip(const QString &tip)
{
    return rendered(tip, Qt::mightBeRichText(tip));
}

// A button's, action's or menu's text: "&&" draws "&", a lone "&" marks the next letter.
inline QString ofMnemonicText(const QString &text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size())
            ++i;
        out += text[i];
    }
    return out;
}

} // namespace DrawnText
