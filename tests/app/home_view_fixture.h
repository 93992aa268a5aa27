#pragma once

// What the dashboard's tests share: records to show, and ways to read and watch what it draws.

#include "app/home_view.h"
#include "store/local_store.h"
#include "ui/empty_state_view.h"
#include "ui/fitted_text.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>

#include <functional>
#include <vector>

inline const QDateTime Base(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC);

inline FNFolder folder(qint64 serverID, qint64 parent = 0, qint64 position = 0, bool deleted = false)
{
    FNFolder f;
    f.serverID = serverID;
    f.parentFolderServerID = parent;
    f.position = position;
    f.name = QStringLiteral("F%1").arg(serverID);
    if (deleted)
        f.deletedAt = Base;
    return f;
}

inline FNPage page(const QString &title, qint64 folderID = 0, qint64 parentPage = 0, qint64 position = 0,
                   int minutesAgo = 0, bool deleted = false)
{
    FNPage p;
    p.title = title;
    p.folderServerID = folderID;
    p.parentPageServerID = parentPage;
    p.position = position;
    p.updatedAt = Base.addSecs(-60 * minutesAgo);
    if (deleted)
        p.deletedAt = Base;
    return p;
}

inline QString labelText(const QWidget *card, const char *name)
{
    if (const auto *text = card->findChild<FittedText *>(QLatin1String(name)))
        return text->text();
    const auto *label = card->findChild<QLabel *>(QLatin1String(name));
    if (!label)
        return QStringLiteral("-");
    // An icon is drawn as a picture and named for what it shows.
    return label->pixmap().isNull() ? label->text() : label->accessibleName();
}

// What the dashboard shows on screen, card by card in order, read from the widgets themselves (not
// through the view's getters, which would fill what is still waiting).
inline QStringList onScreen(const QWidget &home)
{
    QStringList lines;
    for (const char *name : {"folders", "recent"}) {
        for (const QWidget *section : home.findChildren<QWidget *>(QLatin1String(name))) {
            if (!section->isVisibleTo(&home))
                continue;
            for (const QPushButton *card : section->findChildren<QPushButton *>(Qt::FindDirectChildrenOnly)) {
                if (!card->isVisibleTo(&home))
                    continue;
                QStringList line{QLatin1String(name), labelText(card, "icon")};
                if (card->objectName() == QLatin1String("folderCard")) {
                    line << labelText(card, "name") << labelText(card, "count");
                } else {
                    line << labelText(card, "title") << labelText(card, "time");
                    for (const char *badge : {"globe", "person.2.fill"}) {
                        const auto *label = card->findChild<QLabel *>(QLatin1String(badge));
                        if (label && label->isVisibleTo(card))
                            line << QLatin1String(badge);
                    }
                }
                lines << line.join(QLatin1Char('|'));
            }
        }
    }
    for (const EmptyStateView *placeholder : home.findChildren<EmptyStateView *>()) {
        if (placeholder->isVisibleTo(&home))
            lines << QStringLiteral("placeholder");
    }
    return lines;
}

// Counts, for every widget inside a view, its paints and whether it was asked to lay out again.
class Redraws : public QObject
{
public:
    explicit Redraws(QWidget *root)
    {
        root->installEventFilter(this);
        for (QWidget *widget : root->findChildren<QWidget *>())
            widget->installEventFilter(this);
    }
    QHash<QObject *, int> paints;
    QSet<QObject *> laidOut;

    QString laidOutNames() const
    {
        QStringList names;
        for (const QObject *object : laidOut)
            names << QString::fromLatin1(object->metaObject()->className()) + u' ' + object->objectName();
        return names.join(QStringLiteral(", "));
    }

    // Lets what was still queued before the count began run, and forgets it.
    void settle()
    {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        paints.clear();
        laidOut.clear();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints[watched];
        else if (event->type() == QEvent::LayoutRequest)
            laidOut.insert(watched);
        return false;
    }
};

// Where every widget of the view stands.
inline QHash<QWidget *, QRect> geometries(QWidget *root)
{
    QHash<QWidget *, QRect> all;
    for (QWidget *widget : root->findChildren<QWidget *>())
        all.insert(widget, widget->geometry());
    return all;
}

// Lets anything still queued lay out and draw, so only what follows is counted.
inline void drawnNow(QWidget *window)
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    window->repaint();
    QCoreApplication::processEvents();
}

// The lines fit the box, and the text shows whole or, cut short, ends in "…" with the whole text
// (escaped, as drawn) as the tooltip.
inline void checkFitted(const FittedText *text, const QString &full, bool elided)
{
    QCOMPARE(text->text(), full);
    QCOMPARE(text->isElided(), elided);
    QVERIFY(text->shownLines().size() <= text->lineCount());
    for (const QString &line : text->shownLines())
        QVERIFY2(text->fontMetrics().horizontalAdvance(line) <= text->contentsRect().width(),
                 qPrintable(line));
    if (elided) {
        QVERIFY(text->shownLines().last().endsWith(QChar(0x2026)));
        QString first = text->shownLines().first();
        if (first.endsWith(QChar(0x2026)))
            first.chop(1);
        QVERIFY2(full.startsWith(first.trimmed()), qPrintable(first));
        // Read back the way a tooltip is drawn: as rich text whenever it looks like markup.
        QTextDocument tip;
        if (Qt::mightBeRichText(text->toolTip()))
            tip.setHtml(text->toolTip());
        else
            tip.setPlainText(text->toolTip());
        QCOMPARE(tip.toPlainText(), full);
    } else {
        QCOMPARE(text->shownLines().join(QLatin1Char(' ')), full);
        QCOMPARE(text->toolTip(), QString());
    }
}

using StoreEdit =
    std::function<void(LocalStore &, const std::vector<FNFolder> &, const std::vector<FNPage> &)>;

Q_DECLARE_METATYPE(StoreEdit)

inline void setStoreState(LocalStore &store, const std::vector<FNFolder> &folders,
                          const std::vector<FNPage> &pages)
{
    store.change([&](StoreState &s) {
        s.folders = folders;
        s.pages = pages;
    });
}
