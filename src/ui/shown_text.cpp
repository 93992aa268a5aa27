#include "ui/shown_text.h"

#include <QLabel>
#include <QTextDocument>

namespace ShownText {

QLabel *label(const QString &text, QWidget *parent)
{
    return plain(new QLabel(text, parent));
}

QLabel *plain(QLabel *label)
{
    label->setTextFormat(Qt::PlainText);
    return label;
}

QString mnemonicSafe(const QString &text)
{
    QString safe = text;
    return safe.replace(u'&', QStringLiteral("&&"));
}

QString toolTip(const QString &text)
{
    // Left alone when Qt would show it plainly anyway, so ordinary tips keep their plain layout.
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal) : text;
}

} // namespace ShownText
