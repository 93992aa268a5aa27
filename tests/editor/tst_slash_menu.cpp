#include "editor_fixture.h"

#include "editor/rich_text_editor.h"
#include "editor/slash_menu.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {

QStringList rawValues(const std::vector<BlockType> &kinds)
{
    QStringList raws;
    for (const BlockType kind : kinds)
        raws << kind.rawValue();
    return raws;
}

QPushButton *rowFor(SlashMenu &menu, const QString &raw)
{
    for (QPushButton *button : menu.findChildren<QPushButton *>()) {
        if (button->property("kind").toString() == raw)
            return button;
    }
    return nullptr;
}

} // namespace

class TestSlashMenu : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void filtering_data();
    void filtering();
    void sections();
    void pickTurnsTextIntoHeading();
    void pickWithReturnWithinTheQuietDelay();
    void noMatches();
    void escapeClosesUntilTheSlashGoes();
    void onlyTextBlocksHaveTheMenu();
};

void TestSlashMenu::filtering_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("raws");
    QTest::addColumn<QStringList>("sections");
    QTest::addColumn<int>("height");

    QTest::newRow("h: raw values and labels") << "h" << QStringList{"h1", "h2", "h3", "file", "math"}
                                              << QStringList{"Text", "Media", "Advanced"} << 220;
    QTest::newRow("H1 is lower-cased") << "H1" << QStringList{"h1"} << QStringList{"Text"} << 108;
    QTest::newRow("list") << "list" << QStringList{"bullet", "number"} << QStringList{"Lists"} << 136;
    QTest::newRow("to: raw toc, label To-do, button")
        << "to" << QStringList{"todo", "toggle", "toc", "button"} << QStringList{"Lists", "Basic", "Advanced"}
        << 192;
    QTest::newRow("label with punctuation")
        << "(latex" << QStringList{"math"} << QStringList{"Advanced"} << 108;
    QTest::newRow("nothing") << "zzz" << QStringList{} << QStringList{} << 80;
}

void TestSlashMenu::filtering()
{
    QFETCH(QString, query);
    QFETCH(QStringList, raws);
    QFETCH(QStringList, sections);
    QFETCH(int, height);
    const auto kinds = SlashMenu::filteredKinds(query);
    QCOMPARE(rawValues(kinds), raws);
    QStringList shown;
    const auto groups = SlashMenu::groupedKinds(kinds);
    for (const QString &title : SlashMenu::sectionOrder()) {
        if (groups.contains(title))
            shown << title;
    }
    QCOMPARE(shown, sections);
    QCOMPARE(SlashMenu::panelHeight(qsizetype(kinds.size())), height);

    SlashMenu menu;
    menu.setQuery(query);
    QCOMPARE(menu.height(), height);
    QCOMPARE(menu.width(), SlashMenu::kWidth);
    QCOMPARE(menu.findChildren<QPushButton *>().size(), raws.size());
}

void TestSlashMenu::sections()
{
    const auto all = SlashMenu::filteredKinds(QString());
    QCOMPARE(all.size(), size_t(26));
    QCOMPARE(SlashMenu::sectionOrder(),
             (QStringList{"Text", "Lists", "Basic", "Media", "Advanced", "Layout & data"}));
    const auto groups = SlashMenu::groupedKinds(all);
    QCOMPARE(rawValues(groups.value("Text")), (QStringList{"text", "h1", "h2", "h3"}));
    QCOMPARE(rawValues(groups.value("Lists")), (QStringList{"bullet", "number", "todo"}));
    QCOMPARE(rawValues(groups.value("Basic")),
             (QStringList{"quote", "callout", "code", "divider", "toggle"}));
    QCOMPARE(rawValues(groups.value("Media")),
             (QStringList{"image", "drawing", "audio", "file", "embed", "bookmark"}));
    QCOMPARE(rawValues(groups.value("Advanced")),
             (QStringList{"math", "toc", "mention", "breadcrumbs", "button"}));
    QCOMPARE(rawValues(groups.value("Layout & data")), (QStringList{"columns", "synced", "database"}));
    QCOMPARE(SlashMenu::panelHeight(26), 360);
    QCOMPARE(SlashMenu::icon(BlockType::database), QStringLiteral("table"));

    // Each row ends in "/" and its kind.
    SlashMenu menu;
    menu.setQuery(QString());
    QPushButton *row = rowFor(menu, QStringLiteral("callout"));
    QVERIFY(row);
    QStringList texts;
    for (QLabel *label : row->findChildren<QLabel *>())
        texts << label->text();
    QCOMPARE(texts.mid(1), (QStringList{"Callout", "/callout"}));
}

void TestSlashMenu::pickTurnsTextIntoHeading()
{
    EditorFixture fx;
    const FNBlock block = fx.addBlock(QStringLiteral("text"), {{"other", 7}});
    BlockRow *row = fx.addRow(block);
    RichTextEditor *editor = row->richEditor();
    QVERIFY(fx.showAndType(editor, QStringLiteral("/hea")));
    SlashMenu *menu = row->slashMenu();
    QVERIFY(menu && menu->isVisible());
    QCOMPARE(menu->query(), QStringLiteral("hea"));
    QCOMPARE(rawValues(menu->kinds()), (QStringList{"h1", "h2", "h3"}));
    // Laid over the rows below, 26 points under the text's top-left corner.
    QCOMPARE(menu->parentWidget(), &fx.window());
    QCOMPARE(menu->pos(), editor->mapTo(&fx.window(), QPoint(0, BlockRow::kSlashMenuOffset)));

    QTest::mouseClick(rowFor(*menu, QStringLiteral("h1")), Qt::LeftButton);
    QCOMPARE(fx.stored(block.localID).type, QStringLiteral("h1"));
    QCOMPARE(fx.storedText(block.localID), QString());
    QCOMPARE(fx.storedContent(block.localID).at("other"), JSONValue(7));
    QVERIFY(!menu->isVisible());
    // The row now shows the heading, still focused, and no late commit brings "/hea" back.
    QTRY_VERIFY(row->richEditor() && row->richEditor()->placeholderText() == QStringLiteral("Heading"));
    QTRY_VERIFY(row->richEditor()->hasFocus());
    QCOMPARE(row->richEditor()->toRawText(), QString());
    QVERIFY(EditorFixture::waitPastTextDelay());
    QCOMPARE(fx.storedText(block.localID), QString());
}

void TestSlashMenu::pickWithReturnWithinTheQuietDelay()
{
    EditorFixture fx;
    const FNBlock block = fx.addBlock(QStringLiteral("text"));
    BlockRow *row = fx.addRow(block);
    QVERIFY(fx.showAndType(row->richEditor(), QStringLiteral("/li")));
    QCOMPARE(row->slashMenu()->highlighted(), 0);
    QTest::keyClick(row->richEditor(), Qt::Key_Down);
    QCOMPARE(row->slashMenu()->highlighted(), 1);
    QTest::keyClick(row->richEditor(), Qt::Key_Return);
    QCOMPARE(fx.stored(block.localID).type, QStringLiteral("number"));
    QCOMPARE(fx.storedText(block.localID), QString());
}

void TestSlashMenu::noMatches()
{
    EditorFixture fx;
    BlockRow *row = fx.addRow(fx.addBlock(QStringLiteral("text")));
    QVERIFY(fx.showAndType(row->richEditor(), QStringLiteral("/zzz")));
    SlashMenu *menu = row->slashMenu();
    QVERIFY(menu->isVisible());
    QCOMPARE(menu->height(), 80);
    QStringList texts;
    for (QLabel *label : menu->findChildren<QLabel *>())
        texts << label->text();
    QCOMPARE(texts, QStringList{"No matches"});
    // Shift+Return is the text's again: a line break, and the menu goes.
    QTest::keyClick(row->richEditor(), Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(row->richEditor()->toRawText(), QStringLiteral("/zzz\n"));
    QVERIFY(!menu->isVisible());
}

void TestSlashMenu::escapeClosesUntilTheSlashGoes()
{
    EditorFixture fx;
    const FNBlock block = fx.addBlock(QStringLiteral("text"));
    BlockRow *row = fx.addRow(block);
    RichTextEditor *editor = row->richEditor();
    QVERIFY(fx.showAndType(editor, QStringLiteral("/co")));
    QVERIFY(row->slashMenu()->isVisible());
    QTest::keyClick(editor, Qt::Key_Escape);
    QVERIFY(!row->slashMenu()->isVisible());
    QTest::keyClicks(editor, QStringLiteral("d"));
    QVERIFY(!row->slashMenu()->isVisible());
    QCOMPARE(editor->toRawText(), QStringLiteral("/cod"));
    // Arrow keys move the caret again while the menu is closed.
    QTest::keyClick(editor, Qt::Key_Home);
    QCOMPARE(editor->textCursor().position(), 0);
    // Starting over with a fresh "/" opens it again.
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("x"));
    QTest::keyClick(editor, Qt::Key_Backspace);
    QTest::keyClicks(editor, QStringLiteral("/"));
    QVERIFY(row->slashMenu()->isVisible());
    QCOMPARE(row->slashMenu()->kinds().size(), size_t(26));
    QCOMPARE(fx.stored(block.localID).type, QStringLiteral("text"));
}

void TestSlashMenu::onlyTextBlocksHaveTheMenu()
{
    EditorFixture fx;
    BlockRow *heading = fx.addRow(fx.addBlock(QStringLiteral("h2")));
    BlockRow *unknown = fx.addRow(fx.addBlock(QStringLiteral("paragraph")));
    QVERIFY(fx.showAndType(heading->richEditor(), QStringLiteral("/h")));
    QVERIFY(!heading->slashMenu());
    QVERIFY(fx.showAndType(unknown->richEditor(), QStringLiteral("/h")));
    QVERIFY(unknown->slashMenu() && unknown->slashMenu()->isVisible());
}

QTEST_MAIN(TestSlashMenu)
#include "tst_slash_menu.moc"
