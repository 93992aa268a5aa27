#include "editor/block_row.h"
#include "editor/page_row_list.h"
#include "editor/page_view.h"
#include "editor/rich_text_editor.h"
#include "editor_fixture.h"
#include "long_page_fixture.h"
#include "support/editor_steps.h"
#include "support/test_device.h"

#include <QApplication>
#include <QFile>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// Typing into a row of a page far longer than the window, in the real page view: every key reaches
// the state file, and a row that grows or shrinks moves the rows below it as a fresh layout would.
class TestLongPageTyping : public LongPageFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void everyKeyLandsInTheFile_data();
    void everyKeyLandsInTheFile();
    void rowsBelowFollowARowThatChangesHeight_data();
    void rowsBelowFollowARowThatChangesHeight();

private:
    // The block's text as a fresh load of the state file written last reads it.
    QString textInFile(int index) const;
    // Every item is laid out right below the one before it, every row where its item is, and every place
    // in view has its row.
    void verifyPlaces() const;
};

void TestLongPageTyping::initTestCase()
{
    QVERIFY(startService("typing@example.com", "Typing"));
}

void TestLongPageTyping::init()
{
    newDevice();
}

void TestLongPageTyping::cleanup()
{
    dropDevice();
}

QString TestLongPageTyping::textInFile(int index) const
{
    QTemporaryDir copy;
    if (!QFile::copy(m_device->store().url(), copy.filePath(QStringLiteral("state.json"))))
        return QStringLiteral("(no file)");
    LocalStore loaded(copy.path());
    const FNBlock *block = loaded.block(m_blocks[size_t(index)].localID);
    return block ? TestDevice::textOf(*block) : QStringLiteral("(no block)");
}

void TestLongPageTyping::verifyPlaces() const
{
    PageRowList *list = m_view->topLevelList();
    const std::vector<PageRowList::Place> places = list->places();
    QWidget *viewport = m_view->scrollArea()->viewport();
    const QRect inView(list->mapFrom(viewport, QPoint(0, 0)), viewport->size());
    for (size_t i = 1; i < places.size(); ++i) {
        const QRect &before = places[i - 1].geometry;
        const QRect &at = places[i].geometry;
        // A placeholder takes no spacing of its own; nothing overlaps, nothing leaves a gap.
        QVERIFY2(at.top() > before.bottom() && at.top() <= before.bottom() + 1 + list->spacing(),
                 qPrintable(QStringLiteral("item %1 at %2, the one before ends at %3")
                                .arg(i)
                                .arg(at.top())
                                .arg(before.bottom())));
        if (QWidget *frame = list->frame(places[i].localID))
            QCOMPARE(frame->geometry().top(), at.top());
        else
            QVERIFY2(!at.intersects(inView), qPrintable(QStringLiteral("item %1 in view has no row").arg(i)));
    }
}

void TestLongPageTyping::everyKeyLandsInTheFile_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("savesBetween"); // the file written this often while typing
    QTest::newRow("first row, saved at the end") << 0 << 0;
    QTest::newRow("a row far down, saved at the end") << 250 << 0;
    QTest::newRow("a row far down, saved every few keys") << 250 << 7;
    QTest::newRow("the last row, saved after each key") << 299 << 1;
}

void TestLongPageTyping::everyKeyLandsInTheFile()
{
    QFETCH(int, index);
    QFETCH(int, savesBetween);
    auto view = openLongPage(300);
    QVERIFY(view);
    BlockRow *row = view->row(m_blocks[size_t(index)].localID);
    QVERIFY(row);
    view->scrollArea()->ensureWidgetVisible(row);
    QVERIFY(EditorFixture::focusOn(row->richEditor()));
    row->richEditor()->moveCursor(QTextCursor::End);
    // Enough to wrap the row more than once at this width.
    const QString typed = QStringLiteral(" the quick brown fox jumps over the lazy dog").repeated(4);
    for (int i = 0; i < typed.size(); ++i) {
        QTest::keyClicks(row->richEditor(), typed.mid(i, 1));
        if (savesBetween > 0 && i % savesBetween == 0) {
            QTRY_COMPARE(TestDevice::textOf(*m_device->block(m_blocks[size_t(index)].localID)),
                         QStringLiteral("line %1").arg(index) + typed.left(i + 1));
            m_device->store().save();
        }
    }
    const QString expected = QStringLiteral("line %1").arg(index) + typed;
    QTRY_COMPARE(TestDevice::textOf(*m_device->block(m_blocks[size_t(index)].localID)), expected);
    m_device->store().save();
    QCOMPARE(textInFile(index), expected);
    // The rows around it kept what they had.
    QCOMPARE(textInFile(index == 0 ? 1 : index - 1),
             QStringLiteral("line %1").arg(index == 0 ? 1 : index - 1));
}

void TestLongPageTyping::rowsBelowFollowARowThatChangesHeight_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("scrolled"); // the row typed in is down the page, the view scrolled to it
    QTest::newRow("a row near the top") << 2 << false;
    QTest::newRow("a row near the bottom of the view") << 12 << false;
    QTest::newRow("a row down the page") << 120 << true;
}

void TestLongPageTyping::rowsBelowFollowARowThatChangesHeight()
{
    QFETCH(int, index);
    QFETCH(bool, scrolled);
    auto view = openLongPage(200);
    QVERIFY(view);
    BlockRow *row = view->row(m_blocks[size_t(index)].localID);
    QVERIFY(row);
    if (scrolled)
        view->scrollArea()->ensureWidgetVisible(row);
    QTRY_VERIFY(view->isLaidOut());
    QVERIFY(EditorFixture::focusOn(row->richEditor()));
    row->richEditor()->moveCursor(QTextCursor::End);
    const int before = row->height();

    // Typed until the text wraps onto a new line: the row grows, the rows below move down with it.
    int keys = 0;
    for (; row->height() == before && keys < 400; ++keys) {
        QTest::keyClicks(row->richEditor(), keys % 6 == 5 ? QStringLiteral(" ") : QStringLiteral("m"));
        QCoreApplication::processEvents();
    }
    QTRY_VERIFY(row->height() > before);
    QTRY_VERIFY(view->isLaidOut());
    verifyPlaces();

    // Taken back: the row shrinks to its one line and the rows below come back up.
    for (int i = 0; i < keys; ++i)
        QTest::keyClick(row->richEditor(), Qt::Key_Backspace);
    QTRY_COMPARE(row->height(), before);
    QTRY_VERIFY(view->isLaidOut());
    verifyPlaces();
    QTRY_COMPARE(TestDevice::textOf(*m_device->block(m_blocks[size_t(index)].localID)),
                 QStringLiteral("line %1").arg(index));
}

QTEST_MAIN(TestLongPageTyping)
#include "tst_long_page_typing.moc"
