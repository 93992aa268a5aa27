#include "api/api_client.h"
#include "blocks/block_content.h"
#include "editor/block_row.h"
#include "editor/drag_handle.h"
#include "editor/draggable_block_modifier.h"
#include "editor/editable_text.h"
#include "editor/format_toolbar.h"
#include "editor/link_sheet.h"
#include "editor/page_view.h"
#include "editor/rich_text_editor.h"
#include "editor/slash_menu.h"
#include "editor_fixture.h"
#include "fake-service/fake_service.h"
#include "support/editor_steps.h"
#include "support/test_device.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolButton>

#include <memory>

namespace {

using EditorSteps::doubleClick;
using EditorSteps::pointAt;

using EditorSteps::fastTiming;

} // namespace

// Editing in the page as a user does it, with the mouse, in the real page view over a device's
// store against the fake service.
class TestPageEditing : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void toolbarActsOnTheSelection_data();
    void toolbarActsOnTheSelection();
    void toolbarFollowsTheFocusedRow();
    void toolbarKeepsOffTheTitle();
    void toolbarCoversNoText_data();
    void toolbarCoversNoText();
    void toolbarLeavesWithTheKeyboard_data();
    void toolbarLeavesWithTheKeyboard();
    void doubleClickSelectsAWordInPlace();
    void toggleRowNeverHoldsTheFocus_data();
    void toggleRowNeverHoldsTheFocus();
    void dragHandleMovesTheBlock();
    void slashMenuStaysInTheWindow_data();
    void slashMenuStaysInTheWindow();
    void editWhileUpsertIsOutSurvivesItsEcho_data();
    void editWhileUpsertIsOutSurvivesItsEcho();

private:
    std::unique_ptr<PageView> openView(const QString &pageLocalID);
    QString storedText(const QString &localID) const;

    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<TestDevice> m_device;
};

void TestPageEditing::initTestCase()
{
    QVERIFY(m_fake.start());
    m_account = m_fake.createAccount("editing@example.com", "secret12", "Editing");
}

void TestPageEditing::init()
{
    m_device = std::make_unique<TestDevice>(m_fake.origin(), m_account.token);
}

void TestPageEditing::cleanup()
{
    m_device->engine().stopLoop();
    QTRY_VERIFY(!m_device->engine().isSyncing());
    m_device.reset();
}

std::unique_ptr<PageView> TestPageEditing::openView(const QString &pageLocalID)
{
    auto view = std::make_unique<PageView>(m_device->context(), pageLocalID, nullptr, fastTiming());
    view->resize(700, 600);
    view->show();
    QApplication::setActiveWindow(view.get());
    if (!QTest::qWaitForWindowActive(view.get()))
        return nullptr;
    if (!QTest::qWaitFor([&] { return view->isLaidOut(); }))
        return nullptr;
    return view;
}

QString TestPageEditing::storedText(const QString &localID) const
{
    const FNBlock *block = m_device->block(localID);
    return block ? TestDevice::textOf(*block) : QString();
}

void TestPageEditing::toolbarActsOnTheSelection_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("indent");
    QTest::addColumn<bool>("menuFirst");

    QTest::newRow("bold") << 0 << "one **two** three" << 0 << false;
    QTest::newRow("italic") << 1 << "one *two* three" << 0 << false;
    QTest::newRow("underline") << 2 << "one __two__ three" << 0 << false;
    QTest::newRow("strike-through") << 3 << "one ~~two~~ three" << 0 << false;
    QTest::newRow("inline code") << 4 << "one `two` three" << 0 << false;
    QTest::newRow("link") << 5 << "one [two](https://x.io) three" << 0 << false;
    QTest::newRow("indent") << 7 << "one two three" << 1 << false;
    // A menu took the keyboard for a moment: the block stays focused and the text view gets it back.
    QTest::newRow("bold after a menu") << 0 << "one **two** three" << 0 << true;
}

void TestPageEditing::toolbarActsOnTheSelection()
{
    QFETCH(int, button);
    QFETCH(QString, text);
    QFETCH(int, indent);
    QFETCH(bool, menuFirst);
    const FNPage page = m_device->addPage(m_account.workspaceId, "Format");
    m_device->addBlock(page.localID, "before", 0);
    const FNBlock block = m_device->addBlock(page.localID, "one two three", 1);
    m_device->setToken(std::nullopt);
    auto view = openView(page.localID);
    QVERIFY(view);
    BlockRow *row = view->row(block.localID);
    RichTextEditor *editor = row->richEditor();

    // Into the text with the mouse, then the word selected.
    QTest::mouseClick(editor->viewport(), Qt::LeftButton, Qt::NoModifier, pointAt(*editor, "two"));
    QTRY_VERIFY(editor->hasFocus());
    QTextCursor cursor = editor->textCursor();
    cursor.setPosition(4);
    cursor.setPosition(7, QTextCursor::KeepAnchor);
    editor->setTextCursor(cursor);
    QVERIFY(row->formatToolbar());
    QTRY_VERIFY(row->formatToolbar()->isVisible());
    if (menuFirst) {
        QMenu menu;
        menu.addAction(QStringLiteral("Copy"));
        menu.popup(editor->mapToGlobal(QPoint(0, 0)));
        QTRY_VERIFY(menu.isVisible());
        QVERIFY(row->formatToolbar() && row->formatToolbar()->isVisible());
        QTest::keyClick(&menu, Qt::Key_Escape);
        QTRY_VERIFY(!menu.isVisible());
        QVERIFY(row->formatToolbar());
    }

    QTest::mouseClick(row->formatToolbar()->buttons().at(button), Qt::LeftButton);
    if (LinkSheet *sheet = row->linkSheet()) {
        QTRY_VERIFY(sheet->isVisible());
        QTest::keyClicks(sheet->urlField(), QStringLiteral("https://x.io"));
        QTest::mouseClick(sheet->insertButton(), Qt::LeftButton);
    }
    QTRY_COMPARE(storedText(block.localID), text);
    QCOMPARE(m_device->block(block.localID)->indentLevel, indent);
    // The user goes on typing where they were.
    QTRY_VERIFY(editor->hasFocus());
}

void TestPageEditing::toolbarFollowsTheFocusedRow()
{
    const FNPage page = m_device->addPage(m_account.workspaceId, "Follow");
    std::vector<FNBlock> blocks;
    for (int i = 0; i < 40; ++i)
        blocks.push_back(m_device->addBlock(page.localID, QStringLiteral("line %1").arg(i), i));
    m_device->setBlockText(blocks[2].localID, QStringLiteral("many words ").repeated(12));
    m_device->setToken(std::nullopt);
    auto view = openView(page.localID);
    QVERIFY(view);
    FormatToolbar *toolbar = view->formatToolbar();
    QVERIFY(!toolbar->isVisible());

    // Shown beside the focused row's text where its line leaves room, else right above or below the
    // row; clear of its text, and never taking the keyboard.
    enum Where { Beside, Off, Either };
    const auto check = [&](const QString &localID, Where where = Beside) {
        BlockRow *row = view->row(localID);
        QWidget *viewport = view->scrollArea()->viewport();
        const QRect bar(toolbar->mapTo(viewport, QPoint(0, 0)), toolbar->size());
        const QRect text(row->mapTo(viewport, QPoint(0, 0)), row->size());
        const bool above = bar.bottom() < text.top() && text.top() - bar.bottom() <= 4;
        const bool below = bar.top() > text.bottom() && bar.top() - text.bottom() <= 4;
        RichTextEditor *editor = row->richEditor();
        QTextCursor end(editor->document());
        end.movePosition(QTextCursor::End);
        const QRect textEnd(editor->viewport()->mapTo(viewport, editor->cursorRect(end).topLeft()),
                            editor->cursorRect(end).size());
        const bool beside = bar.top() >= text.top() && bar.bottom() <= text.bottom() + 6 &&
                            bar.left() > textEnd.right() && bar.top() <= textEnd.bottom();
        const bool placed = where == Beside ? beside
                            : where == Off  ? (above || below)
                                            : (beside || above || below);
        return toolbar->isVisible() && placed && bar.top() >= 0 && row->formatToolbar() == toolbar;
    };
    RichTextEditor *fifth = view->row(blocks[5].localID)->richEditor();
    QTest::mouseClick(fifth->viewport(), Qt::LeftButton, Qt::NoModifier, pointAt(*fifth, "5"));
    QTRY_VERIFY(fifth->hasFocus());
    QTRY_VERIFY(check(blocks[5].localID));
    QVERIFY(!view->row(blocks[6].localID)->formatToolbar());

    // Scrolled so that the row is at the view's top edge: the bar stays with it, in sight.
    QScrollBar *scroll = view->scrollArea()->verticalScrollBar();
    QWidget *frame = view->rowFrame(blocks[5].localID);
    scroll->setValue(frame->mapTo(view->scrollArea()->widget(), QPoint(0, 0)).y());
    QTRY_VERIFY(check(blocks[5].localID));

    // A narrower window wraps a row above onto more lines: the bar moves down with its row.
    scroll->setValue(0);
    QTRY_VERIFY(check(blocks[5].localID));
    const int rowTop = frame->mapTo(view.get(), QPoint(0, 0)).y();
    const QSize wide = view->size();
    view->resize(360, 600);
    QTRY_VERIFY(frame->mapTo(view.get(), QPoint(0, 0)).y() > rowTop);
    QTRY_VERIFY(check(blocks[5].localID, Either));

    // A row whose text fills its first line: the bar goes off the row rather than over the text.
    view->resize(wide);
    RichTextEditor *long_ = view->row(blocks[2].localID)->richEditor();
    QTest::mouseClick(long_->viewport(), Qt::LeftButton, Qt::NoModifier, pointAt(*long_, "many"));
    QTRY_VERIFY(long_->hasFocus());
    QTRY_VERIFY(check(blocks[2].localID, Off));
    // Typing on a short line until it reaches the bar moves the bar off it.
    QTest::mouseClick(fifth->viewport(), Qt::LeftButton, Qt::NoModifier, pointAt(*fifth, "5"));
    QTRY_VERIFY(fifth->hasFocus());
    QTest::keyClick(fifth, Qt::Key_End, Qt::ControlModifier);
    QTRY_VERIFY(check(blocks[5].localID));
    QTest::keyClicks(fifth, QStringLiteral(" and more words").repeated(4));
    QTRY_VERIFY(check(blocks[5].localID, Off));

    // No row focused: no bar.
    view->model().focus().setFocusedBlock(std::nullopt);
    QVERIFY(!toolbar->isVisible());
}

void TestPageEditing::toolbarKeepsOffTheTitle()
{
    const FNPage page = m_device->addPage(m_account.workspaceId, "A title that is rather long");
    // A first line with no room left beside it.
    const FNBlock first = m_device->addBlock(page.localID, QStringLiteral("many words ").repeated(12), 0);
    m_device->setToken(std::nullopt);
    auto view = openView(page.localID);
    QVERIFY(view);
    RichTextEditor *editor = view->row(first.localID)->richEditor();
    QTest::mouseClick(editor->viewport(), Qt::LeftButton, Qt::NoModifier, pointAt(*editor, "many"));
    QTRY_VERIFY(editor->hasFocus());
    FormatToolbar *toolbar = view->formatToolbar();
    QTRY_VERIFY(toolbar->isVisible());
    QWidget *column = view->scrollArea()->widget();
    AutoHeightTextView *title = view->titleField();
    const QRect titleRect(title->mapTo(column, QPoint(0, 0)), title->size());
    const QRect bar(toolbar->mapTo(column, QPoint(0, 0)), toolbar->size());
    QVERIFY2(
        !bar.intersects(titleRect),
        qPrintable(QStringLiteral("bar at y %1, title down to %2").arg(bar.top()).arg(titleRect.bottom())));
}

namespace {

// The lines of the title's and the rows' text that `area` (in the view's coordinates) lies over.
QStringList linesUnder(PageView &view, const QRect &area)
{
    std::vector<QTextEdit *> texts{view.titleField()};
    for (BlockRow *row : view.topLevelList()->rows()) {
        if (row->textView())
            texts.push_back(row->textView());
    }
    QStringList lines;
    for (QTextEdit *text : texts) {
        const QPoint origin = text->viewport()->mapTo(&view, QPoint());
        const QTextDocument *document = text->document();
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
            const QPointF at = document->documentLayout()->blockBoundingRect(block).topLeft() + origin;
            for (int i = 0; block.layout() && i < block.layout()->lineCount(); ++i) {
                const QTextLine line = block.layout()->lineAt(i);
                if (QRectF(at.x() + line.x(), at.y() + line.y(), line.naturalTextWidth(), line.height())
                        .intersects(area))
                    lines << block.text().mid(line.textStart(), line.textLength());
            }
        }
    }
    return lines;
}

// Where the text's last line ends, in its viewport.
qreal lastLineEnd(const QTextEdit &text)
{
    const QTextBlock block = text.document()->lastBlock();
    const QTextLayout *layout = block.layout();
    if (!layout || layout->lineCount() == 0)
        return 0;
    const QTextLine line = layout->lineAt(layout->lineCount() - 1);
    return text.document()->documentLayout()->blockBoundingRect(block).left() + line.x() +
           line.naturalTextWidth();
}

} // namespace

void TestPageEditing::toolbarCoversNoText_data()
{
    QTest::addColumn<QString>("aboveKind");
    QTest::addColumn<bool>("longBelow");
    // It would sit above the row, over the heading's last words.
    QTest::newRow("a long heading above, a short line below") << QStringLiteral("h1") << false;
    // No place around the row is free: the row makes room for it.
    QTest::newRow("long lines above and below") << QStringLiteral("text") << true;
}

// The focused row's first line is full: the toolbar goes where it hides none of the page's text.
void TestPageEditing::toolbarCoversNoText()
{
    QFETCH(QString, aboveKind);
    QFETCH(bool, longBelow);
    const FNPage page = m_device->addPage(m_account.workspaceId, "Recipes");
    m_device->addBlock(page.localID, QStringLiteral("Intro"), 0);
    const FNBlock above = m_device->addBlock(page.localID, QStringLiteral("Ingredients"), 1);
    const FNBlock focused = m_device->addBlock(page.localID, QStringLiteral("many words ").repeated(12), 2);
    m_device->addBlock(page.localID, longBelow ? QStringLiteral("more words ").repeated(12) : QStringLiteral("2 eggs"), 3);
    const FNBlock last = m_device->addBlock(page.localID, QStringLiteral("End"), 4);
    m_device->store().editBlock(above.localID, [&](FNBlock &block) { block.type = aboveKind; });
    m_device->setToken(std::nullopt);
    auto view = openView(page.localID);
    QVERIFY(view);
    FormatToolbar *toolbar = view->formatToolbar();

    // Words go onto the row above until its last line ends where the toolbar would sit.
    RichTextEditor *aboveText = view->row(above.localID)->richEditor();
    const int reach = aboveText->viewport()->width() - toolbar->sizeHint().width() / 2;
    QString text = storedText(above.localID);
    for (int words = 0; lastLineEnd(*aboveText) < reach && words < 100; ++words) {
        text += QStringLiteral(" for");
        m_device->setBlockText(above.localID, text);
        QTRY_COMPARE(aboveText->toRawText(), text);
    }
    QVERIFY(lastLineEnd(*aboveText) >= reach);

    QWidget *frame = view->rowFrame(focused.localID);
    RichTextEditor *editor = view->row(focused.localID)->richEditor();
    QTest::mouseClick(editor->viewport(), Qt::LeftButton, Qt::NoModifier, pointAt(*editor, "many"));
    QTRY_VERIFY(editor->hasFocus() && toolbar->isVisible());
    // The lines the toolbar lies over, joined.
    const auto covered = [&] {
        return linesUnder(*view, QRect(toolbar->mapTo(view.get(), QPoint()), toolbar->size()))
            .join(QStringLiteral(" | "));
    };
    QTRY_VERIFY2(covered().isEmpty(), qPrintable(covered()));
    const QRect toolbarRect(toolbar->mapTo(view.get(), QPoint()), toolbar->size());
    QVERIFY(view->scrollArea()->viewport()->geometry().contains(toolbarRect));

    // Typing on, the toolbar stays off the text.
    QTest::keyClick(editor, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(editor, QStringLiteral(" and so on").repeated(3));
    QTRY_VERIFY(storedText(focused.localID).endsWith(QStringLiteral("and so on")));
    QTRY_VERIFY2(covered().isEmpty(), qPrintable(covered()));

    // The keyboard goes to the title: the toolbar goes, and so does any room made for it.
    QTest::mouseClick(view->titleField()->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(4, 4));
    QTRY_VERIFY(view->titleField()->hasFocus() && !toolbar->isVisible());
    QTRY_COMPARE(frame->height(), view->row(focused.localID)->height());
    QTest::mouseClick(editor->viewport(), Qt::LeftButton, Qt::NoModifier, pointAt(*editor, "many"));
    QTRY_VERIFY(editor->hasFocus() && toolbar->isVisible());
    QTRY_VERIFY2(covered().isEmpty(), qPrintable(covered()));

    // Another row takes the keyboard: a row that made room gives it back.
    RichTextEditor *lastText = view->row(last.localID)->richEditor();
    QTest::mouseClick(lastText->viewport(), Qt::LeftButton, Qt::NoModifier, pointAt(*lastText, "End"));
    QTRY_VERIFY(lastText->hasFocus());
    QTRY_COMPARE(frame->height(), view->row(focused.localID)->height());
    QTRY_VERIFY2(covered().isEmpty(), qPrintable(covered()));
}

void TestPageEditing::toolbarLeavesWithTheKeyboard_data()
{
    QTest::addColumn<int>("reason");
    QTest::newRow("clicked away") << int(Qt::MouseFocusReason);
    // The keyboard moved while a menu held it: the row heard of the menu only.
    QTest::newRow("moved behind a menu") << int(Qt::PopupFocusReason);
    QTest::newRow("moved while another window was active") << int(Qt::ActiveWindowFocusReason);
}

void TestPageEditing::toolbarLeavesWithTheKeyboard()
{
    QFETCH(int, reason);
    const FNPage page = m_device->addPage(m_account.workspaceId, "Leave");
    m_device->addBlock(page.localID, "before", 0);
    const FNBlock block = m_device->addBlock(page.localID, "one two three", 1);
    m_device->setToken(std::nullopt);
    auto view = openView(page.localID);
    QVERIFY(view);
    RichTextEditor *editor = view->row(block.localID)->richEditor();
    QTest::mouseClick(editor->viewport(), Qt::LeftButton, Qt::NoModifier, pointAt(*editor, "two"));
    QTRY_VERIFY(editor->hasFocus());
    QTRY_VERIFY(view->formatToolbar()->isVisible());

    view->titleField()->setFocus(Qt::FocusReason(reason));
    QTRY_VERIFY(view->titleField()->hasFocus());
    QTRY_VERIFY(!view->formatToolbar()->isVisible());
    // Typing goes to the title, untouched by the toolbar.
    QTest::keyClicks(view->titleField(), QStringLiteral("!"));
    QVERIFY(!view->formatToolbar()->isVisible());

    // Back in the text, it is back.
    QTest::mouseClick(editor->viewport(), Qt::LeftButton, Qt::NoModifier, pointAt(*editor, "two"));
    QTRY_VERIFY(view->formatToolbar()->isVisible());
}

void TestPageEditing::doubleClickSelectsAWordInPlace()
{
    const FNPage page = m_device->addPage(m_account.workspaceId, "Words");
    const FNBlock first = m_device->addBlock(page.localID, "alpha beta", 0);
    const FNBlock second = m_device->addBlock(page.localID, "gamma delta", 1);
    m_device->setToken(std::nullopt);
    auto view = openView(page.localID);
    QVERIFY(view);
    RichTextEditor *a = view->row(first.localID)->richEditor();
    RichTextEditor *b = view->row(second.localID)->richEditor();
    QTest::mouseClick(a->viewport(), Qt::LeftButton, Qt::NoModifier, pointAt(*a, "beta"));
    QTRY_VERIFY(a->hasFocus());
    QCoreApplication::processEvents();

    const int before = b->mapTo(view.get(), QPoint(0, 0)).y();
    doubleClick(b->viewport(), pointAt(*b, "delta"));
    QTRY_VERIFY(b->hasFocus());
    QCOMPARE(b->textCursor().selectedText(), QStringLiteral("delta"));
    QCoreApplication::processEvents();
    QCOMPARE(b->mapTo(view.get(), QPoint(0, 0)).y(), before);
    QTest::qWait(50); // past the row's text delay: a stray edit would be stored by now
    QCOMPARE(storedText(second.localID), QStringLiteral("gamma delta"));
    QCOMPARE(storedText(first.localID), QStringLiteral("alpha beta"));
    QCOMPARE(b->toRawText(), QStringLiteral("gamma delta"));
}

void TestPageEditing::toggleRowNeverHoldsTheFocus_data()
{
    QTest::addColumn<bool>("byKind");
    QTest::newRow("clicked") << false;
    QTest::newRow("text block made a toggle") << true;
}

void TestPageEditing::toggleRowNeverHoldsTheFocus()
{
    QFETCH(bool, byKind);
    const FNPage page = m_device->addPage(m_account.workspaceId, "Toggle");
    const FNBlock text = m_device->addBlock(page.localID, "text", 0);
    FNBlock toggle = m_device->addBlock(page.localID, "summary", 1);
    toggle.type = QStringLiteral("toggle");
    m_device->store().upsertBlock(toggle);
    m_device->setToken(std::nullopt);
    auto view = openView(page.localID);
    QVERIFY(view);
    RichTextEditor *editor = view->row(text.localID)->richEditor();
    QTest::mouseClick(editor->viewport(), Qt::LeftButton, Qt::NoModifier, pointAt(*editor, "ext"));
    QTRY_VERIFY(view->formatToolbar()->isVisible());

    QString target = toggle.localID;
    if (byKind) {
        // The focused block turned into a toggle from its menu.
        target = text.localID;
        view->row(text.localID)->model().changeType(BlockType::toggle);
        QTRY_VERIFY(!view->row(text.localID)->richEditor());
    }
    BlockRow *row = view->row(target);
    // Into the summary, then onto the arrow, as a user would.
    auto *summary = row->content()->findChild<EditableText *>();
    QVERIFY(summary);
    QTRY_VERIFY(summary->isVisible());
    QTest::mouseClick(summary->viewport(), Qt::LeftButton);
    QTest::mouseClick(row->toggleArrow(), Qt::LeftButton);
    QTest::mouseClick(summary->viewport(), Qt::LeftButton);
    QTRY_VERIFY(summary->hasFocus());
    QVERIFY(view->model().focus().focusedBlock() != std::optional<QString>(target));
    QVERIFY(!row->formatToolbar());
    QVERIFY(!view->formatToolbar()->isVisible());
}

void TestPageEditing::dragHandleMovesTheBlock()
{
    // A window system's drag runs its own loop until a real release: only the offscreen one ends at once.
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        QSKIP("needs the offscreen platform's immediate drag");
    const FNPage page = m_device->addPage(m_account.workspaceId, "Drag");
    const FNBlock a = m_device->addBlock(page.localID, "a", 0);
    const FNBlock b = m_device->addBlock(page.localID, "b", 1);
    const FNBlock c = m_device->addBlock(page.localID, "c", 2);
    m_device->setToken(std::nullopt);
    auto view = openView(page.localID);
    QVERIFY(view);
    QWidget *frame = view->rowFrame(a.localID);
    auto *handle = frame->findChild<DragHandle *>();
    QVERIFY(handle);
    RichTextEditor *editor = view->row(a.localID)->richEditor();
    const QPoint textAt = editor->mapTo(view.get(), QPoint(0, 0));

    // Hidden until the pointer comes over the row; the text stays where it was.
    QTest::mouseMove(view.get(), QPoint(2, 2));
    QTRY_VERIFY(!handle->isVisible());
    QTest::mouseMove(editor->viewport(), pointAt(*editor, "a"));
    QTRY_VERIFY(handle->isVisible());
    QCOMPARE(editor->mapTo(view.get(), QPoint(0, 0)), textAt);
    QVERIFY(!view->rowFrame(b.localID)->findChild<DragHandle *>()->isVisible());
    QTest::mouseMove(view.get(), QPoint(2, 2));
    QTRY_VERIFY(!handle->isVisible());
    QTest::mouseMove(editor->viewport(), pointAt(*editor, "a"));
    QTRY_VERIFY(handle->isVisible());

    // Pressed and pulled from the grip: the block's drag starts, carrying its id.
    auto *modifier = frame->findChild<DraggableBlockModifier *>();
    QSignalSpy started(modifier, &DraggableBlockModifier::dragStarted);
    const QPoint grip = handle->rect().center();
    QTest::mousePress(handle, Qt::LeftButton, Qt::NoModifier, grip);
    QTest::mouseMove(handle, grip + QPoint(0, QApplication::startDragDistance() + 4));
    QTest::mouseRelease(handle, Qt::LeftButton, Qt::NoModifier, grip);
    QCOMPARE(started.size(), 1);
    QCOMPARE(started.at(0).at(0).toString(), a.localID);

    // Dropped on the last row's lower half, it lands after it.
    std::unique_ptr<QMimeData> payload(modifier->makeMimeData());
    QWidget *target = view->rowFrame(c.localID);
    const QPoint below(4, target->height() - 4);
    QDragEnterEvent enter(below, Qt::MoveAction, payload.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(below, Qt::MoveAction, payload.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    QVERIFY(drop.isAccepted());
    QStringList order;
    for (const FNBlock &block : m_device->liveBlocks(page.localID))
        order << block.localID;
    QCOMPARE(order, QStringList({b.localID, c.localID, a.localID}));
}

void TestPageEditing::slashMenuStaysInTheWindow_data()
{
    QTest::addColumn<int>("block"); // the row typed in, counted from the page's top
    QTest::newRow("at the window's bottom edge") << 29;
    QTest::newRow("near the top") << 0;
}

void TestPageEditing::slashMenuStaysInTheWindow()
{
    QFETCH(int, block);
    const FNPage page = m_device->addPage(m_account.workspaceId, "Slash");
    std::vector<FNBlock> blocks;
    for (int i = 0; i < 30; ++i)
        blocks.push_back(m_device->addBlock(page.localID, QString(), i));
    m_device->setToken(std::nullopt);
    auto view = openView(page.localID);
    QVERIFY(view);
    view->resize(700, 480);
    BlockRow *row = view->row(blocks[size_t(block)].localID);
    RichTextEditor *editor = row->richEditor();
    view->scrollArea()->ensureWidgetVisible(view->rowFrame(blocks[size_t(block)].localID), 0, 0);
    QVERIFY(EditorFixture::focusOn(editor));
    QTest::keyClicks(editor, QStringLiteral("/"));
    SlashMenu *menu = row->slashMenu();
    QTRY_VERIFY(menu && menu->isVisible());

    QWidget *window = view.get();
    const QRect inWindow(menu->mapTo(window, QPoint()), menu->size());
    const QRect text(editor->mapTo(window, QPoint()), editor->size());
    QVERIFY2(window->rect().contains(inWindow), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                               .arg(inWindow.x())
                                                               .arg(inWindow.y())
                                                               .arg(inWindow.width())
                                                               .arg(inWindow.height())));
    // Below the text when there is room, above it otherwise; never over the text typed in.
    QVERIFY(inWindow.top() > text.top() || inWindow.bottom() <= text.top());

    // The highlight walks down to the embed kind and stays in sight, its row uncut.
    QPushButton *embed = nullptr;
    for (QPushButton *button : menu->findChildren<QPushButton *>()) {
        if (button->property("kind").toString() == QLatin1String("embed"))
            embed = button;
    }
    QVERIFY(embed);
    while (menu->kinds()[size_t(menu->highlighted())].rawValue() != QLatin1String("embed"))
        QTest::keyClick(editor, Qt::Key_Down);
    QWidget *viewport = embed->parentWidget()->parentWidget();
    const QRect shown(embed->mapTo(window, QPoint()), embed->size());
    QTRY_VERIFY(QRect(viewport->mapTo(window, QPoint()), viewport->size()).contains(shown));
    QVERIFY(window->rect().contains(shown));
    QLabel *label = nullptr;
    QLabel *hint = nullptr;
    for (QLabel *part : embed->findChildren<QLabel *>()) {
        if (part->text() == QLatin1String("Embed (YouTube, Vimeo, iframe)"))
            label = part;
        if (part->text() == QLatin1String("/embed"))
            hint = part;
    }
    QVERIFY(label && hint);
    QVERIFY(label->width() >= label->sizeHint().width());
    QVERIFY(label->geometry().right() < hint->geometry().left());
    QVERIFY(hint->geometry().right() < embed->width());
    QVERIFY(embed->mapTo(menu, QPoint(embed->width(), 0)).x() <= menu->width());
}

void TestPageEditing::editWhileUpsertIsOutSurvivesItsEcho_data()
{
    QTest::addColumn<QString>("held");  // the path whose reply is held while the block is edited again
    QTest::addColumn<bool>("retitled"); // a page rename goes out first in the same pass
    QTest::newRow("reply to the upsert held") << QStringLiteral("/api/blocks.php") << false;
    QTest::newRow("upsert waits behind a held rename") << QStringLiteral("/api/pages.php") << true;
}

void TestPageEditing::editWhileUpsertIsOutSurvivesItsEcho()
{
    QFETCH(QString, held);
    QFETCH(bool, retitled);
    // A block another device wrote, which this device has only pulled.
    qint64 pageID = 0;
    {
        TestDevice other(m_fake.origin(), m_account.token);
        const FNPage theirs = other.addPage(m_account.workspaceId, "Echo");
        QVERIFY(other.sync());
        other.addBlock(theirs.localID, "first", 0);
        QVERIFY(other.queueBlockUpsert(theirs.localID));
        QVERIFY(other.sync());
        pageID = other.page(theirs.localID)->serverID;
    }
    QVERIFY(m_device->sync());
    QVERIFY(m_device->pageWithServerID(pageID));
    const FNPage page = *m_device->pageWithServerID(pageID);
    QCOMPARE(m_device->liveBlocks(page.localID).size(), size_t(1));
    const FNBlock block = m_device->liveBlocks(page.localID).front();

    // Signed out, the first edit is only queued; the pass that sends it starts once signed in.
    m_device->setToken(std::nullopt);
    auto view = openView(page.localID);
    QVERIFY(view);
    RichTextEditor *editor = view->row(block.localID)->richEditor();
    QTest::mouseClick(editor->viewport(), Qt::LeftButton, Qt::NoModifier, pointAt(*editor, "first"));
    QTRY_VERIFY(editor->hasFocus());
    editor->moveCursor(QTextCursor::End);
    if (retitled) {
        PagePatchReq patch;
        patch.title = QStringLiteral("Echo renamed");
        m_device->queuePageUpdate(page.localID, patch);
    }
    QTest::keyClicks(editor, " one");
    QTRY_VERIFY(m_device->engine().isRunning() ||
                std::any_of(m_device->store().state().outbox.begin(), m_device->store().state().outbox.end(),
                            [](const FNSyncOp &op) { return op.kind() == SyncOpKind::BlockUpsert; }));

    // Once the typed text has been stored, it never goes back on screen or in the store.
    const QString typed = QStringLiteral("first one two");
    bool reverted = false;
    bool seen = false;
    connect(&m_device->store(), &LocalStore::blockChanged, this, [&](const QString &localID) {
        if (localID != block.localID)
            return;
        const QString now = storedText(block.localID);
        seen = seen || now == typed;
        reverted = reverted || (seen && now != typed);
    });

    m_fake.clearRequests();
    auto hold = FakeService::Fault::delay(400);
    hold.remaining = 1;
    m_fake.setFault(held, hold);
    m_device->setToken(m_account.token);
    m_device->engine().start();
    QTRY_COMPARE(m_fake.requestsTo(held).size(), 1);
    QTest::keyClicks(editor, " two");

    const auto serviceText = [&] {
        const auto stored = m_fake.storedBlocks(pageID);
        return stored.size() == 1 ? stored[0].content.at(QStringLiteral("text")).toString() : QString();
    };
    QTRY_COMPARE_WITH_TIMEOUT(serviceText(), typed, 10000);
    QTRY_VERIFY(!m_device->engine().isSyncing() && m_device->store().state().outbox.empty());
    // A few more cycles bring every echo back.
    QSignalSpy cycles(&m_device->engine(), &SyncEngine::cycleFinished);
    QTRY_VERIFY(cycles.size() >= 3);
    QVERIFY2(!reverted, "an echo of the older text was laid over the newer edit");
    QCOMPARE(editor->toRawText(), typed);
    QCOMPARE(storedText(block.localID), typed);
    QCOMPARE(serviceText(), typed);
}

QTEST_MAIN(TestPageEditing)
#include "tst_page_editing.moc"
