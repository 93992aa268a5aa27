#include "app/main_view.h"
#include "editor/emoji_picker.h"
#include "editor/page_view.h"
#include "support/app_harness.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <algorithm>

namespace {

// "name: emoji emoji, name: emoji" for the categories the query leaves, in order.
QString shown(const QString &query)
{
    QStringList sections;
    for (const EmojiCatalog::Category &category : EmojiCatalog::categories()) {
        const auto items = EmojiPicker::filtered(category, query);
        if (items.empty())
            continue;
        QStringList emoji;
        for (const auto &item : items)
            emoji << item.emoji;
        sections << category.name + QStringLiteral(": ") + emoji.join(QLatin1Char(' '));
    }
    return sections.join(QStringLiteral(", "));
}

} // namespace

class TestEmojiPicker : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void catalogueMatchesTheDesign();
    void filter_data();
    void filter();
    void blankQueryShowsEverything_data();
    void blankQueryShowsEverything();

    void sectionsFollowTheField();
    void removeOnlyWithAnIcon_data();
    void removeOnlyWithAnIcon();
    void pickReportsTheExactEmojiAndCloses();
    void closeButtonLeavesTheIcon();
    void selectedCellIsHighlightedWherever();
    void queryStartsEmptyEachShowing();
    void pageIconFromThePicker();
    void filteredResultsKeepTheGrid_data();
    void filteredResultsKeepTheGrid();
};

void TestEmojiPicker::catalogueMatchesTheDesign()
{
    const auto &categories = EmojiCatalog::categories();
    QStringList names;
    QList<int> counts;
    int total = 0;
    QSet<QString> distinct;
    for (const auto &category : categories) {
        names << category.name;
        counts << int(category.emojis.size());
        total += int(category.emojis.size());
        QSet<QString> inCategory;
        for (const auto &item : category.emojis) {
            QVERIFY2(!inCategory.contains(item.emoji),
                     qPrintable(category.name + QLatin1Char(' ') + item.emoji));
            inCategory.insert(item.emoji);
            distinct.insert(item.emoji);
        }
    }
    QCOMPARE(names, (QStringList{"Recent & popular", "Writing & docs", "Symbols", "Work & tools",
                                 "Travel & places", "Nature", "Animals", "Food & drink", "Activities"}));
    QCOMPARE(counts, (QList<int>{10, 20, 22, 29, 15, 28, 22, 14, 11}));
    QCOMPARE(total, 171);
    QCOMPARE(distinct.size(), 170);

    // Spot checks of exact code points and keyword order across the catalogue.
    const auto &recent = categories[0].emojis;
    QCOMPARE(recent[0].emoji, QString::fromUcs4(U"\U0001F4DD"));
    QCOMPARE(recent[0].keywords, (QStringList{"note", "memo", "writing"}));
    QCOMPARE(recent[9].emoji, QString::fromUcs4(U"\U0001F4CA"));
    const auto &docs = categories[1].emojis;
    QCOMPARE(docs[6].emoji, QString::fromUcs4(U"\U0001F5C2\uFE0F"));
    QCOMPARE(docs[6].keywords, (QStringList{"dividers", "tabs", "files"}));
    QCOMPARE(docs[19].emoji, QString::fromUcs4(U"\U0001F4F0"));
    QCOMPARE(categories[2].emojis[6].emoji, QString::fromUcs4(U"\u2764\uFE0F"));
    QCOMPARE(categories[3].emojis[28].keywords, (QStringList{"hourglass", "time"}));
    QCOMPARE(categories[5].emojis[6].keywords, (QStringList{"cherry blossom", "flower"}));
    QCOMPARE(categories[5].emojis[27].emoji, QString::fromUcs4(U"\U0001F525"));
    QCOMPARE(categories[5].emojis[27].keywords, (QStringList{"fire", "hot"}));
    QCOMPARE(categories[7].emojis[13].keywords, (QStringList{"icecream", "ice"}));
    QCOMPARE(categories[8].emojis[10].emoji, QString::fromUcs4(U"\U0001F381"));
}

void TestEmojiPicker::filter_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("expected");

    QTest::newRow("star, stars included")
        << "star" << QStringLiteral("Recent & popular: ⭐, Symbols: 🌟 💫, Travel & places: 🌃");
    QTest::newRow("case and spaces around") << " Fire \n" << QStringLiteral("Recent & popular: 🔥, Nature: 🔥");
    QTest::newRow("inner space") << "cherry blossom" << QStringLiteral("Nature: 🌸");
    QTest::newRow("digits") << "100" << QStringLiteral("Symbols: 💯");
    QTest::newRow("category names are not searched") << "food" << QStringLiteral("Food & drink: 🍕 🍔");
    QTest::newRow("substring of a keyword") << "ook"
                                            << QStringLiteral("Recent & popular: 📖, Writing & docs: 📑 📚 📓 📔 "
                                                              "📕 📗 📘 📙, Food & drink: 🍪");
    QTest::newRow("an emoji is not a keyword") << QStringLiteral("🔥") << QString();
    QTest::newRow("nothing matches") << "zzz" << QString();
}

void TestEmojiPicker::filter()
{
    QFETCH(QString, query);
    QFETCH(QString, expected);
    QCOMPARE(shown(query), expected);

    EmojiPicker picker;
    picker.setQuery(query);
    QStringList categories;
    for (const QString &section : expected.split(QStringLiteral(", "), Qt::SkipEmptyParts))
        categories << section.section(QStringLiteral(": "), 0, 0);
    QCOMPARE(picker.shownCategories(), categories);
}

void TestEmojiPicker::blankQueryShowsEverything_data()
{
    QTest::addColumn<QString>("query");
    QTest::newRow("empty") << "";
    QTest::newRow("spaces and newlines") << "  \n\t ";
}

void TestEmojiPicker::blankQueryShowsEverything()
{
    QFETCH(QString, query);
    EmojiPicker picker;
    picker.setQuery(query);
    QCOMPARE(picker.shownCategories().size(), 9);
    int cells = 0;
    for (const auto &category : EmojiCatalog::categories()) {
        const auto shownCells = picker.cells(category.name);
        QCOMPARE(shownCells.size(), qsizetype(category.emojis.size()));
        cells += shownCells.size();
        // Tooltips name the keywords.
        QCOMPARE(shownCells.first()->toolTip(), category.emojis.front().keywords.join(QStringLiteral(", ")));
    }
    QCOMPARE(cells, 171);
}

void TestEmojiPicker::sectionsFollowTheField()
{
    EmojiPicker picker;
    picker.show();
    QTest::keyClicks(picker.filterField(), QStringLiteral("star"));
    QCOMPARE(picker.shownCategories(), (QStringList{"Recent & popular", "Symbols", "Travel & places"}));
    QCOMPARE(picker.cells(QStringLiteral("Symbols")).size(), 2);
    QVERIFY(picker.cells(QStringLiteral("Nature")).isEmpty());
    QCOMPARE(picker.filterField()->placeholderText(),
             QStringLiteral("Filter emoji (e.g. star, book, fire)..."));
    picker.filterField()->clear();
    QCOMPARE(picker.shownCategories().size(), 9);
}

void TestEmojiPicker::removeOnlyWithAnIcon_data()
{
    QTest::addColumn<QString>("icon");
    QTest::addColumn<bool>("removable");
    QTest::newRow("none") << "" << false;
    QTest::newRow("catalogue emoji") << QStringLiteral("📝") << true;
    QTest::newRow("not in the catalogue") << "ab" << true;
}

void TestEmojiPicker::removeOnlyWithAnIcon()
{
    QFETCH(QString, icon);
    QFETCH(bool, removable);
    EmojiPicker picker;
    picker.setCurrentIcon(icon);
    picker.show();
    QCOMPARE(picker.removeButton()->isVisible(), removable);
    QCOMPARE(picker.removeButton()->text(), QStringLiteral("Remove"));
    if (!removable)
        return;
    QSignalSpy removed(&picker, &EmojiPicker::removed);
    QSignalSpy picked(&picker, &EmojiPicker::picked);
    QSignalSpy closed(&picker, &EmojiPicker::closed);
    picker.removeButton()->click();
    QCOMPARE(removed.size(), 1);
    QCOMPARE(picked.size(), 0);
    QCOMPARE(closed.size(), 1);
    QVERIFY(!picker.isVisible());
}

void TestEmojiPicker::pickReportsTheExactEmojiAndCloses()
{
    EmojiPicker picker;
    picker.show();
    QSignalSpy picked(&picker, &EmojiPicker::picked);
    QSignalSpy closed(&picker, &EmojiPicker::closed);
    const auto cells = picker.cells(QStringLiteral("Writing & docs"));
    QCOMPARE(cells.size(), 20);
    cells[6]->click();
    QCOMPARE(picked.size(), 1);
    const QString emoji = picked.first().first().toString();
    QCOMPARE(emoji.toUcs4(), (QList<uint>{0x1F5C2, 0xFE0F}));
    QCOMPARE(closed.size(), 1);
    QVERIFY(!picker.isVisible());
}

void TestEmojiPicker::closeButtonLeavesTheIcon()
{
    EmojiPicker picker;
    picker.setCurrentIcon(QStringLiteral("⭐"));
    picker.show();
    QSignalSpy picked(&picker, &EmojiPicker::picked);
    QSignalSpy removed(&picker, &EmojiPicker::removed);
    QSignalSpy closed(&picker, &EmojiPicker::closed);
    picker.closeButton()->click();
    QCOMPARE(closed.size(), 1);
    QCOMPARE(picked.size() + removed.size(), 0);
    QVERIFY(!picker.isVisible());
}

void TestEmojiPicker::selectedCellIsHighlightedWherever()
{
    EmojiPicker picker;
    picker.setCurrentIcon(QString::fromUcs4(U"\U0001F525"));
    const auto highlighted = [&](const QString &category) {
        QStringList out;
        for (QToolButton *cell : picker.cells(category)) {
            if (cell->property("selected").toBool())
                out << cell->text();
        }
        return out;
    };
    QCOMPARE(highlighted(QStringLiteral("Recent & popular")), QStringList{QString::fromUcs4(U"\U0001F525")});
    QCOMPARE(highlighted(QStringLiteral("Nature")), QStringList{QString::fromUcs4(U"\U0001F525")});
    QVERIFY(highlighted(QStringLiteral("Symbols")).isEmpty());

    // Without its variation selector an emoji is another string.
    picker.setCurrentIcon(QString::fromUcs4(U"\U0001F5C2"));
    QVERIFY(highlighted(QStringLiteral("Writing & docs")).isEmpty());
}

void TestEmojiPicker::queryStartsEmptyEachShowing()
{
    EmojiPicker picker;
    picker.show();
    picker.setQuery(QStringLiteral("book"));
    QVERIFY(picker.shownCategories().size() < 9);
    picker.close();
    picker.show();
    QVERIFY(picker.query().isEmpty());
    QCOMPARE(picker.shownCategories().size(), 9);
}

void TestEmojiPicker::pageIconFromThePicker()
{
    AppDevice device;
    AppHarness app(device);
    FNPage page;
    page.title = QStringLiteral("Icons");
    app.store.upsertPage(page);
    PageView view(app.context(), page.localID);
    view.show();

    view.iconButton()->click();
    EmojiPicker *picker = view.emojiPicker();
    QVERIFY(picker && picker->isVisible());
    QVERIFY(!picker->removeButton()->isVisible());
    picker->cells(QStringLiteral("Activities")).at(0)->click();
    QVERIFY(!picker->isVisible());
    QVERIFY(!view.model().showEmojiPicker());
    QCOMPARE(app.store.state().pages.front().icon, QStringLiteral("🏆"));

    view.iconButton()->click();
    QVERIFY(picker->isVisible());
    QVERIFY(picker->removeButton()->isVisible());
    QVERIFY(picker->cells(QStringLiteral("Activities")).at(0)->property("selected").toBool());
    picker->removeButton()->click();
    QVERIFY(app.store.state().pages.front().icon.isEmpty());

    // Closed without a choice: the icon stays.
    view.model().setPageIcon(QStringLiteral("🎯"));
    view.iconButton()->click();
    picker->closeButton()->click();
    QCOMPARE(app.store.state().pages.front().icon, QStringLiteral("🎯"));
    QVERIFY(!view.model().showEmojiPicker());
}

void TestEmojiPicker::filteredResultsKeepTheGrid_data()
{
    QTest::addColumn<QString>("query");
    QTest::newRow("no filter") << QString();
    QTest::newRow("one or two per category") << QStringLiteral("star");
    QTest::newRow("a part row") << QStringLiteral("heart");
    QTest::newRow("one cell") << QStringLiteral("trophy");
}

// Opened from the page's header in the window: whatever the filter leaves stays on the grid of
// ten columns, at the positions the unfiltered grid uses.
void TestEmojiPicker::filteredResultsKeepTheGrid()
{
    QFETCH(QString, query);
    AppDevice device;
    AppHarness app(device);
    FNPage page;
    page.title = QStringLiteral("Icons");
    app.store.upsertPage(page);
    MainView window(app.context());
    window.resize(1100, 760);
    window.show();
    window.setSelectedPage(page.localID);
    PageView *view = window.findChild<PageView *>();
    QVERIFY(view);
    QTRY_VERIFY(view->iconButton()->isVisible());
    view->iconButton()->click();
    EmojiPicker *picker = view->emojiPicker();
    QVERIFY(picker && picker->isVisible());

    // The full grid's pitch: "Writing & docs" has twenty cells, two full rows.
    const QList<QToolButton *> full = picker->cells(QStringLiteral("Writing & docs"));
    QCOMPARE(full.size(), 20);
    QCoreApplication::processEvents();
    QList<int> columns;
    for (int c = 0; c < EmojiPicker::kColumns; ++c) {
        columns << full[c]->x();
        QCOMPARE(full[c + EmojiPicker::kColumns]->x(), columns[c]);
        if (c)
            QVERIFY(columns[c] - columns[c - 1] >= EmojiPicker::kCellSize);
    }
    const int pitchY = full[10]->y() - full[0]->y();
    QVERIFY(pitchY >= EmojiPicker::kCellSize);

    picker->setQuery(query);
    QCoreApplication::processEvents();
    QVERIFY(!picker->shownCategories().isEmpty());
    for (const QString &category : picker->shownCategories()) {
        const QList<QToolButton *> cells = picker->cells(category);
        QCOMPARE(size_t(cells.size()),
                 EmojiPicker::filtered(*std::find_if(EmojiCatalog::categories().begin(),
                                                     EmojiCatalog::categories().end(),
                                                     [&](const auto &c) { return c.name == category; }),
                                       query)
                     .size());
        for (int i = 0; i < cells.size(); ++i) {
            const QString where = category + QStringLiteral(" cell %1").arg(i);
            QCOMPARE(cells[i]->x(), columns[i % EmojiPicker::kColumns]);
            QCOMPARE(cells[i]->y() - cells[0]->y(), (i / EmojiPicker::kColumns) * pitchY);
            QVERIFY2(cells[i]->isVisibleTo(picker), qPrintable(where));
        }
    }
}

QTEST_MAIN(TestEmojiPicker)
#include "tst_emoji_picker.moc"
