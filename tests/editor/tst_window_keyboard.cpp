#include "blocks/audio_block.h"
#include "blocks/file_block.h"
#include "blocks/image_block.h"
#include "blocks/mention_block.h"
#include "editor/block_row.h"
#include "editor/cover_image.h"
#include "editor/rich_text_editor.h"
#include "editor_fixture.h"
#include "page_view_fixture.h"
#include "support/dialog_steps.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

namespace {

constexpr int kWait = 20000;

// The text views of the page that have the keyboard: one at most, where the next key goes.
int textViewsWithTheKeyboard(PageView &view)
{
    int count = 0;
    for (QTextEdit *edit : view.findChildren<QTextEdit *>())
        count += edit->hasFocus() ? 1 : 0;
    return count;
}

} // namespace

// The page editor's window has the keyboard again after something else held it: a file picked
// through the page (an image, a file, a voice note, a cover), where typing goes on and what opens as
// the user types (the results of a page link's search) shows; an activation the window system made
// without the widgets hearing of it.
class TestWindowKeyboard : public QObject, private PageViewFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void typingGoesOnAfterThePick_data();
    void typingGoesOnAfterThePick();
    void cancelledPickLeavesTheKeyboardInTheText();
    void keyAfterADroppedActivationFocusesItsText();

private:
    // A synced page of the blocks, open in an active window, signed in for uploads.
    Opened openSynced(const BlockSpecs &blocks);

    QTemporaryDir m_files;
};

void TestWindowKeyboard::initTestCase()
{
    QVERIFY(m_files.isValid());
    QVERIFY(startService());
}

void TestWindowKeyboard::init()
{
    openDevice();
}

void TestWindowKeyboard::cleanup()
{
    closeDevice();
}

PageViewFixture::Opened TestWindowKeyboard::openSynced(const BlockSpecs &blocks)
{
    m_device->addPage(m_account.workspaceId, QStringLiteral("Pantry plan"));
    const FNPage page = m_device->addPage(m_account.workspaceId, QStringLiteral("Keys"));
    Opened opened;
    opened.blocks = addBlocks(page.localID, blocks);
    if (!m_device->sync())
        return {};
    opened.view = openView(page.localID);
    if (!opened.view)
        return {};
    QApplication::setActiveWindow(opened.view.get());
    if (!QTest::qWaitForWindowActive(opened.view.get()) ||
        !QTest::qWaitFor([&] { return opened.view->isLaidOut(); }))
        return {};
    return opened;
}

void TestWindowKeyboard::typingGoesOnAfterThePick_data()
{
    QTest::addColumn<QString>("kind"); // the block whose button opens the picker; "cover" for the page's
    QTest::addColumn<QString>("file");

    QTest::newRow("image") << "image"
                           << "loaf.png";
    QTest::newRow("file") << "file"
                          << "recipe.txt";
    QTest::newRow("audio") << "audio"
                           << "knead.m4a";
    QTest::newRow("cover") << "cover"
                           << "band.png";
}

void TestWindowKeyboard::typingGoesOnAfterThePick()
{
    QFETCH(QString, kind);
    QFETCH(QString, file);
    const QByteArray data =
        file.endsWith(QLatin1String(".png")) ? EditorSteps::pngBytes() : QByteArray(64, '\1');
    const QString path = EditorSteps::writeFile(m_files.filePath(file), data);
    QVERIFY(!path.isEmpty());
    BlockSpecs blocks{{"text", "first", 0}};
    if (kind != QLatin1String("cover"))
        blocks.append({kind, "", 0});
    auto opened = openSynced(blocks);
    QVERIFY(opened.view);
    PageView &view = *opened.view;
    int asked = 0;
    view.setFilePicker(std::make_shared<DialogFilePicker>(DialogSteps::pickFile(path, &asked)));

    RichTextEditor *typing = view.row(opened.blocks[0])->richEditor();
    QVERIFY(EditorFixture::focusOn(typing));
    typing->moveCursor(QTextCursor::End);

    QAbstractButton *button = nullptr;
    std::function<bool()> picked;
    if (kind == QLatin1String("cover")) {
        button = view.coverImage()->addCoverButton();
        picked = [&] { return !m_device->page(view.pageLocalID())->coverURL.isEmpty(); };
    } else {
        BlockView *kindView = view.row(opened.blocks[1])->kindView();
        if (auto *image = qobject_cast<ImageBlockView *>(kindView)) {
            button = image->uploadButton();
            picked = [image] { return image->imageElement() != nullptr; };
        } else if (auto *attached = qobject_cast<FileBlockView *>(kindView)) {
            button = attached->attachButton();
            picked = [attached] { return attached->nameLabel() != nullptr; };
        } else if (auto *audio = qobject_cast<AudioBlockView *>(kindView)) {
            button = audio->uploadButton();
            picked = [audio] { return audio->playButton() != nullptr; };
        }
    }
    QVERIFY(button && button->isVisible() && button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(picked(), kWait);
    QCOMPARE(asked, 1);

    // The keys typed next land where the typing was, and only that text draws a caret.
    QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeWindow() == &view && keyboard() == typing, kWait);
    QTest::keyClicks(keyboard(), QStringLiteral("Z"));
    QCOMPARE(typing->toRawText(), QStringLiteral("firstZ"));
    QCOMPARE(textViewsWithTheKeyboard(view), 1);

    // A page link typed on a new line finds its page as the letters come.
    QTest::keyClick(keyboard(), Qt::Key_Return);
    QVERIFY(keyboard() != typing);
    QTest::keyClicks(keyboard(), QStringLiteral("/link"));
    QTest::keyClick(keyboard(), Qt::Key_Return);
    auto *search = qobject_cast<QLineEdit *>(keyboard());
    QVERIFY(search);
    QTest::keyClicks(search, QStringLiteral("pan"));
    MentionBlockView *mention = nullptr;
    for (QWidget *parent = search; parent && !mention; parent = parent->parentWidget())
        mention = qobject_cast<MentionBlockView *>(parent);
    QVERIFY(mention);
    QTRY_VERIFY(!mention->resultButtons().isEmpty());
    QVERIFY(mention->resultButtons().first()->isVisible());
}

void TestWindowKeyboard::cancelledPickLeavesTheKeyboardInTheText()
{
    auto opened = openSynced({{"text", "first", 0}, {"image", "", 0}});
    QVERIFY(opened.view);
    RichTextEditor *typing = opened.view->row(opened.blocks[0])->richEditor();
    QVERIFY(EditorFixture::focusOn(typing));
    typing->moveCursor(QTextCursor::End);
    // The picker answers "cancel" at once: only the click itself is left to move the keyboard.
    opened.view->setFilePicker(
        std::make_shared<DialogFilePicker>([](QFileDialog &dialog) { dialog.reject(); }));
    BlockRow *imageRow = opened.view->row(opened.blocks[1]);
    auto *image = qobject_cast<ImageBlockView *>(imageRow->kindView());
    QVERIFY(image && image->uploadButton());
    QTest::mouseClick(image->uploadButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!QApplication::activeModalWidget() && keyboard() == typing, kWait);
    QTest::keyClicks(keyboard(), QStringLiteral("Z"));
    QCOMPARE(typing->toRawText(), QStringLiteral("firstZ"));
}

void TestWindowKeyboard::keyAfterADroppedActivationFocusesItsText()
{
    auto opened = openSynced({{"text", "first", 0}, {"text", "second", 0}});
    QVERIFY(opened.view);
    PageView &view = *opened.view;
    RichTextEditor *first = view.row(opened.blocks[0])->richEditor();
    RichTextEditor *second = view.row(opened.blocks[1])->richEditor();
    QVERIFY(EditorFixture::focusOn(first));
    // The widgets lose the activation while the window system keeps sending the window its keys,
    // and the keyboard's place in the window moves on meanwhile.
    QApplication::setActiveWindow(nullptr);
    QVERIFY(!first->hasFocus());
    second->setFocus(Qt::OtherFocusReason);
    second->moveCursor(QTextCursor::End);
    QTest::keyClick(view.windowHandle(), Qt::Key_Z);

    QCOMPARE(second->toRawText(), QStringLiteral("secondz"));
    // The text typed in is the one focused, so it alone draws a caret.
    QCOMPARE(QApplication::activeWindow(), &view);
    QCOMPARE(keyboard(), second);
    QCOMPARE(textViewsWithTheKeyboard(view), 1);
    QTest::keyClick(view.windowHandle(), Qt::Key_Y);
    QCOMPARE(second->toRawText(), QStringLiteral("secondzy"));
    QCOMPARE(first->toRawText(), QStringLiteral("first"));
}

QTEST_MAIN(TestWindowKeyboard)
#include "tst_window_keyboard.moc"
