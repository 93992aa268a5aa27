#include "blocks/block_view.h"
#include "editor/block_row.h"
#include "editor/slash_menu.h"
#include "editor_fixture.h"
#include "page_view_fixture.h"
#include "support/menu_clicks.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTest>
#include <QToolButton>

namespace {

// What a field shows, whichever kind of field it is.
QString fieldText(QWidget *field)
{
    if (auto *line = qobject_cast<QLineEdit *>(field))
        return line->text();
    if (auto *plain = qobject_cast<QPlainTextEdit *>(field))
        return plain->toPlainText();
    if (auto *rich = qobject_cast<QTextEdit *>(field))
        return rich->toPlainText();
    return QString();
}

} // namespace

// A block's kind changed in the page editor, by the slash menu or the block's "…" menu: what the
// user types next lands in that block, in the kind's own field where it has one.
class TestKindChangeKeys : public QObject, private PageViewFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void slashPickOfAKindWithAFieldTakesTheTyping_data();
    void slashPickOfAKindWithAFieldTakesTheTyping();
    void blockMenuKindTakesTheTyping_data();
    void blockMenuKindTakesTheTyping();
};

void TestKindChangeKeys::initTestCase()
{
    QVERIFY(startService());
}

void TestKindChangeKeys::init()
{
    openDevice();
}

void TestKindChangeKeys::cleanup()
{
    closeDevice();
}

void TestKindChangeKeys::slashPickOfAKindWithAFieldTakesTheTyping_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("typed");

    QTest::newRow("math: its LaTeX") << "math"
                                     << "math"
                                     << "e^{i\\pi} + 1 = 0";
    QTest::newRow("button: its label") << "butt"
                                       << "button"
                                       << "Ask";
    QTest::newRow("embed: its address") << "emb"
                                        << "embed"
                                        << "http://127.0.0.1:9/v";
    QTest::newRow("bookmark: its address") << "book"
                                           << "bookmark"
                                           << "http://127.0.0.1:9/b";
    QTest::newRow("page link: its search") << "link"
                                           << "mention"
                                           << "plan";
}

void TestKindChangeKeys::slashPickOfAKindWithAFieldTakesTheTyping()
{
    QFETCH(QString, query);
    QFETCH(QString, kind);
    QFETCH(QString, typed);
    QCOMPARE(SlashMenu::filteredKinds(query).front().rawValue(), kind);
    auto opened = openActive({{"text", "", 0}, {"text", "below", 0}});
    QVERIFY(opened.view);
    const QString id = opened.blocks[0];
    QVERIFY(EditorFixture::focusOn(opened.view->row(id)->richEditor()));
    QTest::keyClicks(keyboard(), "/" + query);
    QTest::keyClick(keyboard(), Qt::Key_Return);
    QCOMPARE(m_device->block(id)->type, kind);

    // Typed at once, as a user goes on.
    QVERIFY(keyboard());
    QTest::keyClicks(keyboard(), typed);
    BlockView *view = opened.view->row(id)->kindView();
    QVERIFY(view && view->entryWidget());
    QCOMPARE(keyboard(), view->entryWidget());
    QCOMPARE(fieldText(view->entryWidget()), typed);
    QCOMPARE(m_device->liveBlocks(opened.view->pageLocalID()).size(), size_t(2));
    QCOMPARE(textOf(*m_device->block(opened.blocks[1])), QStringLiteral("below"));
}

void TestKindChangeKeys::blockMenuKindTakesTheTyping_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<bool>("typingHere"); // the keyboard was in the block, else in the one above
    QTest::addColumn<QString>("landing"); // "text", "field" (the kind's own), or "below"
    // The window system makes the closed menu the active window afterwards, as a slow one does.
    QTest::addColumn<bool>("lateActivation");

    QTest::newRow("heading, typing above") << "Heading 1" << false << "text" << false;
    QTest::newRow("quote, typing in the block") << "Quote" << true << "text" << false;
    QTest::newRow("text, typing above") << "Text" << false << "text" << false;
    QTest::newRow("code") << "Code" << false << "text" << false;
    QTest::newRow("math") << "Math (LaTeX)" << true << "field" << false;
    QTest::newRow("divider: on to the block below") << "Divider" << true << "below" << false;
    QTest::newRow("heading, the menu activated late") << "Heading 1" << false << "text" << true;
    QTest::newRow("math, the menu activated late") << "Math (LaTeX)" << true << "field" << true;
}

void TestKindChangeKeys::blockMenuKindTakesTheTyping()
{
    QFETCH(QString, item);
    QFETCH(bool, typingHere);
    QFETCH(QString, landing);
    QFETCH(bool, lateActivation);
    auto opened = openActive({{"text", "above", 0}, {"h2", "mine", 0}, {"text", "below", 0}});
    QVERIFY(opened.view);
    const QString above = opened.blocks[0], mine = opened.blocks[1], below = opened.blocks[2];
    RichTextEditor *start = opened.view->row(typingHere ? mine : above)->richEditor();
    QVERIFY(EditorFixture::focusOn(start));
    start->moveCursor(QTextCursor::End);

    BlockRow *row = opened.view->row(mine);
    QVERIFY(MenuClicks::clickThrough(row->menuButton(), row->blockMenu(), {item}));
    QTRY_VERIFY(!row->blockMenu()->isVisible());
    if (lateActivation) {
        QApplication::setActiveWindow(row->blockMenu());
        QCOMPARE(QApplication::activeWindow(), opened.view.get());
    }
    QVERIFY(keyboard());
    QTest::keyClicks(keyboard(), "Z");

    if (landing == QLatin1String("text")) {
        QTRY_COMPARE(textOf(*m_device->block(mine)), QStringLiteral("mineZ"));
    } else if (landing == QLatin1String("field")) {
        QVERIFY(row->kindView());
        QCOMPARE(keyboard(), row->kindView()->entryWidget());
        QCOMPARE(fieldText(keyboard()), QStringLiteral("Z"));
    } else {
        QTRY_COMPARE(textOf(*m_device->block(below)), QStringLiteral("Zbelow"));
    }
    QCOMPARE(textOf(*m_device->block(above)), QStringLiteral("above"));
}

QTEST_MAIN(TestKindChangeKeys)
#include "tst_kind_change_keys.moc"
