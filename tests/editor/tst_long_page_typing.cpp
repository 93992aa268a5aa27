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
#include <QSet>
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
    void keysLandInTheBlockTypedInto_data();
    void keysLandInTheBlockTypedInto();

private:
    // The block's text as a fresh load of the state file written last reads it.
    QString textInFile(int index) const;
    // The first block, other than those typed into, whose text or kind a fresh load of the state file
    // no longer reads as it was made; empty when none.
    QString changedInFile(const QSet<int> &typedInto) const;
    // The block whose row holds the keyboard; empty when none does.
    static QString focusedBlock();
    // Scrolls the row into view and clicks at the end of its text, as a user starts typing there.
    bool clickIntoRow(int index);
    // Keys as the window delivers them: to whatever holds the keyboard.
    static void typeHere(const QString &text);
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

QString TestLongPageTyping::changedInFile(const QSet<int> &typedInto) const
{
    QTemporaryDir copy;
    if (!QFile::copy(m_device->store().url(), copy.filePath(QStringLiteral("state.json"))))
        return QStringLiteral("(no file)");
    LocalStore loaded(copy.path());
    for (int i = 0; i < int(m_blocks.size()); ++i) {
        if (typedInto.contains(i))
            continue;
        const FNBlock &made = m_blocks[size_t(i)];
        const FNBlock *block = loaded.block(made.localID);
        if (!block || block->type != made.type || TestDevice::textOf(*block) != TestDevice::textOf(made))
            return QStringLiteral("block %1 reads \"%2\"").arg(i).arg(block ? TestDevice::textOf(*block) : QString());
    }
    return QString();
}

QString TestLongPageTyping::focusedBlock()
{
    for (QWidget *at = QApplication::focusWidget(); at; at = at->parentWidget()) {
        if (auto *row = qobject_cast<BlockRow *>(at))
            return row->model().localID();
    }
    return QString();
}

bool TestLongPageTyping::clickIntoRow(int index)
{
    const QString &localID = m_blocks[size_t(index)].localID;
    BlockRow *row = m_view->row(localID);
    if (!row || row->model().localID() != localID)
        return false;
    m_view->scrollArea()->ensureWidgetVisible(row);
    if (!QTest::qWaitFor([&] { return m_view->isLaidOut(); }))
        return false;
    // Made again if scrolling replaced it.
    row = m_view->row(localID);
    RichTextEditor *editor = row->richEditor();
    const QString last = QStringLiteral("line %1").arg(index);
    QTest::mouseClick(editor->viewport(), Qt::LeftButton, Qt::NoModifier, EditorSteps::pointAt(*editor, last));
    if (!QTest::qWaitFor([&] { return focusedBlock() == localID; }))
        return false;
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_End, Qt::ControlModifier);
    return true;
}

void TestLongPageTyping::typeHere(const QString &text)
{
    for (const QChar c : text)
        QTest::keyClicks(QApplication::focusWidget(), QString(c));
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
    QVERIFY(clickIntoRow(index));
    // Enough to wrap the row more than once at this width.
    const QString typed = QStringLiteral(" the quick brown fox jumps over the lazy dog").repeated(4);
    const QString &localID = m_blocks[size_t(index)].localID;
    for (int i = 0; i < typed.size(); ++i) {
        typeHere(typed.mid(i, 1));
        if (savesBetween > 0 && i % savesBetween == 0) {
            QTRY_COMPARE(TestDevice::textOf(*m_device->block(localID)),
                         QStringLiteral("line %1").arg(index) + typed.left(i + 1));
            m_device->store().save();
        }
    }
    QCOMPARE(focusedBlock(), localID);
    const QString expected = QStringLiteral("line %1").arg(index) + typed;
    QTRY_COMPARE(TestDevice::textOf(*m_device->block(localID)), expected);
    m_device->store().save();
    QCOMPARE(textInFile(index), expected);
    QCOMPARE(changedInFile({index}), QString());
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
    if (!scrolled)
        QCOMPARE(view->scrollArea()->verticalScrollBar()->value(), 0);
    QVERIFY(clickIntoRow(index));
    BlockRow *row = view->row(m_blocks[size_t(index)].localID);
    const int before = row->height();

    // Typed until the text wraps onto a new line: the row grows, the rows below move down with it.
    int keys = 0;
    for (; row->height() == before && keys < 400; ++keys) {
        typeHere(keys % 6 == 5 ? QStringLiteral(" ") : QStringLiteral("m"));
        QCoreApplication::processEvents();
    }
    QTRY_VERIFY(row->height() > before);
    QTRY_VERIFY(view->isLaidOut());
    verifyPlaces();

    // Taken back: the row shrinks to its one line and the rows below come back up.
    for (int i = 0; i < keys; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    QTRY_COMPARE(row->height(), before);
    QTRY_VERIFY(view->isLaidOut());
    verifyPlaces();
    QTRY_COMPARE(TestDevice::textOf(*m_device->block(m_blocks[size_t(index)].localID)),
                 QStringLiteral("line %1").arg(index));
    QCOMPARE(focusedBlock(), m_blocks[size_t(index)].localID);
}

void TestLongPageTyping::keysLandInTheBlockTypedInto_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("count"); // blocks without text before the first with text
    QTest::newRow("300 dividers") << "divider" << 300;
    QTest::newRow("1,000 dividers") << "divider" << 1000;
    QTest::newRow("300 images") << "image" << 300;
}

void TestLongPageTyping::keysLandInTheBlockTypedInto()
{
    QFETCH(QString, kind);
    QFETCH(int, count);
    constexpr int kWithText = 40;
    const FNPage page = m_device->addPage(m_account.workspaceId, "Opened and typed into");
    m_device->store().change([&](StoreState &state) {
        for (int i = 0; i < count + kWithText; ++i) {
            FNBlock block;
            block.pageLocalID = page.localID;
            block.type = i < count ? kind : QStringLiteral("text");
            block.contentJSON = i < count ? QStringLiteral("{}") : QStringLiteral(R"({"text":"line %1"})").arg(i);
            block.position = i;
            state.blocks.push_back(block);
            m_blocks.push_back(block);
        }
    });
    auto view = openPage(page, QSize(700, 600));
    QVERIFY(view);
    // As the window does for a page it opens.
    view->model().enterPage();

    // Typed at once: the page opened with the keyboard at the end of its first block with text.
    QTRY_COMPARE(focusedBlock(), m_blocks[size_t(count)].localID);
    typeHere(QStringLiteral(" hello"));
    QTRY_COMPARE(TestDevice::textOf(*m_device->block(m_blocks[size_t(count)].localID)),
                 QStringLiteral("line %1 hello").arg(count));

    // Then into blocks further down, each reached the way a user does.
    QSet<int> typedInto{count};
    for (const int index : {count + 9, count + 23, count + kWithText - 1, count + 2}) {
        QVERIFY2(clickIntoRow(index), qPrintable(QStringLiteral("block %1").arg(index)));
        typeHere(QStringLiteral(" there"));
        QTRY_COMPARE(TestDevice::textOf(*m_device->block(m_blocks[size_t(index)].localID)),
                     QStringLiteral("line %1 there").arg(index));
        typedInto.insert(index);
    }
    for (int i = 0; i < int(m_blocks.size()); ++i) {
        if (BlockRow *made = madeRow(i))
            QCOMPARE(made->model().localID(), m_blocks[size_t(i)].localID);
    }
    m_device->store().save();
    QCOMPARE(changedInFile(typedInto), QString());
}

QTEST_MAIN(TestLongPageTyping)
#include "tst_long_page_typing.moc"
