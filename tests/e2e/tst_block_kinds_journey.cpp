#include "app/main_view.h"
#include "blocks/audio_block.h"
#include "blocks/block_content.h"
#include "blocks/bookmark_block.h"
#include "blocks/breadcrumbs_block.h"
#include "blocks/button_block.h"
#include "blocks/columns_block.h"
#include "blocks/database_block.h"
#include "blocks/database_table_model.h"
#include "blocks/database_table_view.h"
#include "blocks/drawing_block.h"
#include "blocks/drawing_block_model.h"
#include "blocks/drawing_canvas.h"
#include "blocks/embed_block.h"
#include "blocks/file_block.h"
#include "blocks/image_block.h"
#include "blocks/math_block.h"
#include "blocks/mention_block.h"
#include "blocks/synced_block.h"
#include "blocks/toc_block.h"
#include "collab/ai_panel.h"
#include "editor/block_drop_target.h"
#include "editor/block_row.h"
#include "editor/draggable_block_modifier.h"
#include "editor/editable_text.h"
#include "editor/rich_text_editor.h"
#include "fake-service/fake_service.h"
#include "fake-service/fake_upload_routes.h"
#include "library/library_dock.h"
#include "platform/media_audio_recorder.h"
#include "platform/preset_file_picker.h"
#include "block_kinds_journey_data.h"
#include "support/block_readout.h"
#include "support/dialog_steps.h"
#include "support/editor_steps.h"
#include "support/journey.h"
#include "support/media_test_main.h"
#include "support/menu_clicks.h"
#include "ui/growing_text_edit.h"

#include <QApplication>
#include <QAudioDevice>
#include <QBuffer>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMediaDevices>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

using namespace journey;

using namespace blockKindsJourney;

// A new user makes a page with every kind of block, each picked from the slash menu and used once
// through its widgets, against the fake service; a second device then shows the page as it was left.
// The steps run in order and build on each other.
class TestBlockKindsJourney : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void signUpAndMakePages();
    void textKinds();
    void dragABlockIntoPlace();
    void mediaKinds();
    void webKinds();
    void structureKinds();
    void databaseKind();
    void secondDeviceShowsEveryKind();

private:
    void shoot(const QString &name);
    PageView *page() const { return m_app->pageView(); }
    // The kind picked in the empty text row a kind without typing left at the end, else in a new one.
    BlockRow *add(const QString &query, const QString &kind, Landing landing);
    // Waits until the service holds the page's top-level blocks as listed and nothing waits to be sent.
    void waitUntilOnTheService(const QStringList &blocks);
    QStringList storedBlocks();
    qint64 pageId() { return pageServerID(m_fake, kPageTitle); }
    const FakeServiceState::Block *storedBlock(const QString &type);
    // The texts of the blocks the service holds inside the block.
    QStringList childrenOf(qint64 blockId);

    FakeService m_fake;
    AppDevice m_device;
    std::unique_ptr<Launch> m_app;
    std::shared_ptr<PresetFilePicker> m_picker = std::make_shared<PresetFilePicker>();
    QTemporaryDir m_files;
    QString m_screenshots;
    QStringList m_expected; // the page's top-level blocks so far
    bool m_failed = false;
};

void TestBlockKindsJourney::initTestCase()
{
    QVERIFY(m_files.isValid());
    m_screenshots = screenshotFolder();
    m_app = launchOnFakeService(m_fake, m_device);
    QVERIFY(m_app);
}

void TestBlockKindsJourney::init()
{
    if (m_failed)
        QSKIP("an earlier step failed");
}

void TestBlockKindsJourney::cleanup()
{
    m_failed = m_failed || QTest::currentTestFailed();
}

void TestBlockKindsJourney::cleanupTestCase()
{
    quit(m_app);
}

void TestBlockKindsJourney::shoot(const QString &name)
{
    QVERIFY(saveShot(m_screenshots, name, m_app->window.get()));
}

BlockRow *TestBlockKindsJourney::add(const QString &query, const QString &kind, Landing landing)
{
    BlockRow *last = page()->topLevelList()->rows().back();
    if (last->model().currentBlock().type == QLatin1String("text") && last->richEditor() &&
        last->richEditor()->toRawText().isEmpty()) {
        chooseKind(last, query, kind, landing);
        return QTest::currentTestFailed() ? nullptr : last;
    }
    BlockRow *made = nullptr;
    addBlockOfKind(page(), query, kind, landing, &made);
    return made;
}

const FakeServiceState::Block *TestBlockKindsJourney::storedBlock(const QString &type)
{
    for (const auto &[id, block] : m_fake.state().blocks) {
        if (block.pageId == pageId() && block.type == type && block.parentBlockId == 0)
            return &block;
    }
    return nullptr;
}

QStringList TestBlockKindsJourney::childrenOf(qint64 blockId)
{
    QStringList out;
    for (const auto &[id, block] : m_fake.state().blocks) {
        if (block.parentBlockId == blockId)
            out << BlockContent::readString(block.content, QStringLiteral("text"));
    }
    return out;
}

QStringList TestBlockKindsJourney::storedBlocks()
{
    return BlockReadout::storedBlocks(m_fake, pageId());
}

void TestBlockKindsJourney::waitUntilOnTheService(const QStringList &blocks)
{
    QTRY_COMPARE_WITH_TIMEOUT(storedBlocks(), blocks, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_app), kWait);
}

void TestBlockKindsJourney::signUpAndMakePages()
{
    QVERIFY(m_app->welcomeView());
    signInThroughTheForm(*m_app, kEmail, kPassword, kName);
    QVERIFY(!QTest::currentTestFailed());
    QCOMPARE(m_fake.requestsTo(QStringLiteral("/api/auth/signup.php")).size(), 1);
    QCOMPARE(m_fake.userCount(), 1);

    // The page the link will point at, then the page of every kind.
    for (const QString &title : {kOtherTitle, kPageTitle}) {
        QTest::mouseClick(m_app->sidebar()->dock()->button(QString::fromLatin1(LibraryDock::kNewPage)),
                          Qt::LeftButton);
        QTRY_VERIFY(page() && page()->titleField()->hasFocus() &&
                    page()->titleField()->toRawText() == QLatin1String("Untitled"));
        QTest::keyClicks(keyboard(), title);
        QCOMPARE(page()->titleField()->toRawText(), title);
        QTRY_VERIFY_WITH_TIMEOUT(pageServerID(m_fake, title), kWait);
    }
    page()->setFilePicker(m_picker);
    QTRY_COMPARE_WITH_TIMEOUT(m_fake.state().pages.at(pageId()).title, kPageTitle, kWait);
    waitUntilOnTheService({QStringLiteral("text: ")});
}

void TestBlockKindsJourney::textKinds()
{
    // The page's first block: text, as picked.
    BlockRow *text = add(QStringLiteral("text"), QStringLiteral("text"), Landing::text);
    QVERIFY(text);
    QTest::keyClicks(keyboard(), kSourceText);

    struct Typed {
        const char *query;
        const char *kind;
        const char *words;
    };
    // A heading made from a text block through its "…" menu: the words typed next go into it.
    BlockRow *heading = add(QStringLiteral("text"), QStringLiteral("text"), Landing::text);
    QVERIFY(heading);
    QVERIFY(
        MenuClicks::clickThrough(heading->menuButton(), heading->blockMenu(), {QStringLiteral("Heading 1")}));
    QCOMPARE(heading->model().currentBlock().type, QStringLiteral("h1"));
    QTest::keyClicks(keyboard(), QStringLiteral("Bread"));
    QCOMPARE(heading->richEditor()->toRawText(), QStringLiteral("Bread"));

    const Typed typed[]{
        {"h2", "h2", "Ingredients"},         {"h3", "h3", "Method"},
        {"bul", "bullet", "Flour"},          {"num", "number", "Mix"},
        {"to-do", "todo", "Buy rye"},        {"quo", "quote", "Patience makes bread"},
        {"call", "callout", "Keep it warm"},
    };
    for (const Typed &step : typed) {
        BlockRow *row = add(QString::fromLatin1(step.query), QString::fromLatin1(step.kind), Landing::text);
        QVERIFY2(row, step.kind);
        QTest::keyClicks(keyboard(), QString::fromUtf8(step.words));
        QCOMPARE(row->richEditor()->toRawText(), QString::fromUtf8(step.words));
        if (row->todoBox()) {
            QTest::mouseClick(row->todoBox(), Qt::LeftButton);
            QTRY_VERIFY(row->richEditor()->strikethrough());
        }
    }
    QVERIFY(page()->topLevelList()->rows().back()->calloutIcon());

    // Code and a toggle write in a plain field of their own.
    BlockRow *code = add(QStringLiteral("code"), QStringLiteral("code"), Landing::elsewhere);
    QVERIFY(code && code->plainEditor());
    focus(code->plainEditor());
    QTest::keyClicks(code->plainEditor(), QStringLiteral("bake(230)"));

    BlockRow *divider = add(QStringLiteral("div"), QStringLiteral("divider"), Landing::elsewhere);
    QVERIFY(divider);
    QVERIFY(!divider->hasTextEditor());

    BlockRow *toggle = add(QStringLiteral("tog"), QStringLiteral("toggle"), Landing::elsewhere);
    QVERIFY(toggle && toggle->plainEditor() && toggle->toggleArrow());
    focus(toggle->plainEditor());
    QTest::keyClicks(toggle->plainEditor(), QStringLiteral("Notes"));
    // Opened, and a block written inside it.
    QTest::mouseClick(toggle->toggleArrow(), Qt::LeftButton);
    QPushButton *inside = nullptr;
    QTRY_VERIFY((inside = buttonLabelled(toggle, QStringLiteral("Add inside"))));
    QTest::mouseClick(inside, Qt::LeftButton);
    RichTextEditor *child = nullptr;
    QTRY_VERIFY((child = qobject_cast<RichTextEditor *>(keyboard())) && toggle->isAncestorOf(child));
    QTest::keyClicks(child, QStringLiteral("Crumb was open"));

    m_expected = kTextKinds;
    QTRY_COMPARE(BlockReadout::shownBlocks(page()), m_expected);
    waitUntilOnTheService(m_expected);
    const FakeServiceState::Block *toggleBlock = storedBlock(QStringLiteral("toggle"));
    QVERIFY(toggleBlock);
    // The block inside goes on its own, once its typing pauses.
    QTRY_COMPARE_WITH_TIMEOUT(childrenOf(toggleBlock->id), QStringList{QStringLiteral("Crumb was open")},
                              kWait);

    scrollToRow(page(), page()->topLevelList()->rows().front());
    shoot(QStringLiteral("10-kinds-text.png"));
}

void TestBlockKindsJourney::dragABlockIntoPlace()
{
    // "Method" belongs after the ingredients: its row dragged below "Flour", a line showing where.
    const std::vector<BlockRow *> rows = page()->topLevelList()->rows();
    QVERIFY(rows.size() > 4);
    BlockRow *method = rows[3];
    RichTextEditor *flour = rows[4]->richEditor();
    QCOMPARE(method->richEditor()->toRawText(), QStringLiteral("Method"));
    QCOMPARE(flour->toRawText(), QStringLiteral("Flour"));
    auto *modifier =
        page()->rowFrame(method->model().currentBlock().localID)->findChild<DraggableBlockModifier *>();
    QVERIFY(modifier);
    const std::unique_ptr<QMimeData> payload(modifier->makeMimeData());
    QWidget *viewport = page()->scrollArea()->viewport();
    const QPoint below = flour->mapTo(viewport, QPoint(flour->width() / 2, flour->height() * 3 / 4));
    QVERIFY(viewport->rect().contains(below));
    EditorSteps::PageDrag drag(*page(), payload.get());
    QVERIFY(drag.moveTo(below));
    QVERIFY(page()->dropTarget()->line()->isVisible());
    shoot(QStringLiteral("15-drag-line.png"));

    QVERIFY(drag.drop(below));
    QVERIFY(!page()->dropTarget()->line()->isVisible());
    m_expected.move(3, 4);
    QTRY_COMPARE(BlockReadout::shownBlocks(page()), m_expected);
    waitUntilOnTheService(m_expected);
}

void TestBlockKindsJourney::mediaKinds()
{
    // An image from the file dialog, opened while the quote had the keyboard: once the dialog
    // closes, the typing goes on in the quote.
    const QByteArray png = loafPicture();
    const QString loaf = EditorSteps::writeFile(m_files.filePath(QStringLiteral("loaf.png")), png);
    BlockRow *imageRow = add(QStringLiteral("ima"), QStringLiteral("image"), Landing::elsewhere);
    QVERIFY(imageRow);
    auto *image = qobject_cast<ImageBlockView *>(imageRow->kindView());
    QVERIFY(image && image->uploadButton());
    RichTextEditor *quote = nullptr;
    for (BlockRow *row : page()->topLevelList()->rows()) {
        if (row->model().currentBlock().type == QLatin1String("quote"))
            quote = row->richEditor();
    }
    QVERIFY(quote);
    focus(quote);
    int dialogs = 0;
    page()->setFilePicker(std::make_shared<DialogFilePicker>(DialogSteps::pickFile(loaf, &dialogs)));
    QTest::mouseClick(image->uploadButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(image->imageElement(), kWait);
    page()->setFilePicker(m_picker);
    QCOMPARE(dialogs, 1);
    QTRY_VERIFY_WITH_TIMEOUT(keyboard() == quote, kWait);
    QTest::keyClicks(keyboard(), QStringLiteral(", always"));
    QCOMPARE(quote->toRawText(), QStringLiteral("Patience makes bread, always"));
    m_expected.replace(m_expected.indexOf(QStringLiteral("quote: Patience makes bread")),
                       QStringLiteral("quote: Patience makes bread, always"));
    const FakeUploadRoutes &uploads = FakeUploadRoutes::of(m_fake);
    QCOMPARE(uploads.files().rbegin()->second.data, png);
    QCOMPARE(uploads.files().rbegin()->second.kind, QStringLiteral("image"));

    // A stroke on the drawing's canvas.
    BlockRow *drawingRow = add(QStringLiteral("draw"), QStringLiteral("drawing"), Landing::elsewhere);
    QVERIFY(drawingRow);
    auto *drawing = qobject_cast<DrawingBlockView *>(drawingRow->kindView());
    QVERIFY(drawing && drawing->canvas());
    DrawingCanvas *canvas = drawing->canvas();
    settleLayout();
    QTest::mousePress(canvas, Qt::LeftButton, Qt::NoModifier, QPoint(40, 40));
    for (int x = 60; x <= 240; x += 20)
        QTest::mouseMove(canvas, QPoint(x, 40 + (x % 40)));
    QTest::mouseRelease(canvas, Qt::LeftButton, Qt::NoModifier, QPoint(240, 60));
    QTRY_COMPARE(drawing->model().strokes().size(), size_t(1));

    // About a second of audio from the microphone (the test command's silent one); without a
    // microphone at all, a sound file uploaded instead.
    BlockRow *audioRow = add(QStringLiteral("audio"), QStringLiteral("audio"), Landing::elsewhere);
    QVERIFY(audioRow);
    auto *audio = qobject_cast<AudioBlockView *>(audioRow->kindView());
    QVERIFY(audio && audio->recordButton());
    if (!QMediaDevices::audioInputs().isEmpty()) {
        QTest::mouseClick(audio->recordButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(audio->recordButton()->text(), QStringLiteral("Stop 0:01"), kWait);
        QTest::mouseClick(audio->recordButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(audio->playButton(), kWait);
        QCOMPARE(uploads.files().rbegin()->second.mime, QByteArray(AudioBlock::kRecordingMime));
    } else {
        QVERIFY2(qEnvironmentVariableIntValue("PENROOST_REQUIRE_AUDIO") != 1, "no microphone to record from");
        m_picker->setAnswer(
            EditorSteps::writeFile(m_files.filePath(QStringLiteral("knead.m4a")), QByteArray(64, '\1')));
        QTest::mouseClick(audio->uploadButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(audio->playButton(), kWait);
    }
    QCOMPARE(uploads.files().rbegin()->second.kind, QStringLiteral("audio"));

    // A file from the picker.
    const QByteArray recipe("Levain 100 g, water 350 g, flour 500 g\n");
    m_picker->setAnswer(EditorSteps::writeFile(m_files.filePath(QStringLiteral("recipe.txt")), recipe));
    BlockRow *fileRow = add(QStringLiteral("file"), QStringLiteral("file"), Landing::elsewhere);
    QVERIFY(fileRow);
    auto *file = qobject_cast<FileBlockView *>(fileRow->kindView());
    QVERIFY(file && file->attachButton());
    QTest::mouseClick(file->attachButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(file->nameLabel(), kWait);
    QCOMPARE(file->nameLabel()->text(), QStringLiteral("recipe.txt"));
    QCOMPARE(uploads.files().rbegin()->second.data, recipe);

    m_expected << QStringLiteral("image: uploaded") << QStringLiteral("drawing: drawn")
               << QStringLiteral("audio: uploaded") << QStringLiteral("file: recipe.txt");
    QStringList onScreen = m_expected;
    QTRY_COMPARE(BlockReadout::shownBlocks(page()).mid(0, m_expected.size()), m_expected);
    // The empty row the file left for the typing goes to the service too.
    if (BlockReadout::shownBlocks(page()).size() > m_expected.size())
        onScreen << QStringLiteral("text: ");
    waitUntilOnTheService(onScreen);

    scrollToRow(page(), imageRow);
    shoot(QStringLiteral("11-kinds-media.png"));
}

void TestBlockKindsJourney::webKinds()
{
    BlockRow *embedRow = add(QStringLiteral("emb"), QStringLiteral("embed"), Landing::entry);
    QVERIFY(embedRow);
    auto *embed = qobject_cast<EmbedBlockView *>(embedRow->kindView());
    QVERIFY(embed && embed->entryField());
    QTest::keyClicks(keyboard(), kEmbedURL);
    QTest::mouseClick(embed->embedButton(), Qt::LeftButton);
    QTRY_VERIFY(embed->card());
    QCOMPARE(embed->shownHost(), QStringLiteral("127.0.0.1"));

    BlockRow *bookmarkRow = add(QStringLiteral("book"), QStringLiteral("bookmark"), Landing::entry);
    QVERIFY(bookmarkRow);
    auto *bookmark = qobject_cast<BookmarkBlockView *>(bookmarkRow->kindView());
    QVERIFY(bookmark && bookmark->entryField());
    QTest::keyClicks(keyboard(), kBookmarkURL);
    QTest::mouseClick(bookmark->bookmarkButton(), Qt::LeftButton);
    // The preview the service found for it, with its picture.
    QTRY_VERIFY_WITH_TIMEOUT(bookmark->card() && bookmark->isThumbnailLoaded(), kWait);
    QCOMPARE(m_fake.requestsTo(QStringLiteral("/api/bookmark-fetch.php")).size(), 1);
    const QStringList lines = bookmark->shownLines();
    QVERIFY2(lines.size() == 3 && !lines.at(0).isEmpty() && lines.at(2) == QLatin1String("127.0.0.1"),
             qPrintable(lines.join(QLatin1Char('|'))));

    // "/math", then the LaTeX typed straight on.
    BlockRow *mathRow = add(QStringLiteral("math"), QStringLiteral("math"), Landing::entry);
    QVERIFY(mathRow);
    auto *math = qobject_cast<MathBlockView *>(mathRow->kindView());
    QVERIFY(math && math->sourceField());
    QCOMPARE(keyboard(), math->sourceField());
    QTest::keyClicks(keyboard(), kLatex);
    QCOMPARE(math->sourceField()->toPlainText(), kLatex);

    const int before = m_expected.size();
    m_expected << QStringLiteral("embed: ") + kEmbedURL << QStringLiteral("bookmark: ") + kBookmarkURL
               << QStringLiteral("math: ") + kLatex;
    QStringList onScreen = m_expected;
    QTRY_COMPARE(BlockReadout::shownBlocks(page()).mid(0, m_expected.size()), m_expected);
    if (BlockReadout::shownBlocks(page()).size() > m_expected.size())
        onScreen << QStringLiteral("text: ");
    waitUntilOnTheService(onScreen);
    const FakeServiceState::Block *stored = storedBlock(QStringLiteral("bookmark"));
    QVERIFY(stored && !BlockContent::readString(stored->content, QStringLiteral("title")).isEmpty());

    scrollToRow(page(), page()->topLevelList()->rows().at(size_t(before)));
    shoot(QStringLiteral("12-kinds-web.png"));
}

void TestBlockKindsJourney::structureKinds()
{
    // The headings written above, as contents.
    BlockRow *tocRow = add(QStringLiteral("cont"), QStringLiteral("toc"), Landing::elsewhere);
    QVERIFY(tocRow);
    auto *toc = qobject_cast<TocBlockView *>(tocRow->kindView());
    QVERIFY(toc);
    QStringList headings;
    for (const TocBlock::Entry &entry : toc->shown())
        headings << entry.label;
    QCOMPARE(headings, (QStringList{"Bread", "Ingredients", "Method"}));

    // A link to the other page, found by part of its title.
    BlockRow *mentionRow = add(QStringLiteral("link"), QStringLiteral("mention"), Landing::entry);
    QVERIFY(mentionRow);
    auto *mention = qobject_cast<MentionBlockView *>(mentionRow->kindView());
    QVERIFY(mention);
    QTest::keyClicks(keyboard(), QStringLiteral("pan"));
    QTRY_COMPARE(mention->resultButtons().size(), qsizetype(1));
    QTest::mouseClick(mention->resultButtons().first(), Qt::LeftButton);
    QTRY_COMPARE(mention->state(), MentionBlockView::State::Linked);
    QVERIFY2(mention->chipLabel().endsWith(kOtherTitle), qPrintable(mention->chipLabel()));

    BlockRow *crumbsRow = add(QStringLiteral("bread"), QStringLiteral("breadcrumbs"), Landing::elsewhere);
    QVERIFY(crumbsRow);
    auto *crumbs = qobject_cast<BreadcrumbsBlockView *>(crumbsRow->kindView());
    QVERIFY(crumbs);
    QVERIFY2(crumbs->shown().endsWith(kPageTitle), qPrintable(crumbs->shown().join(QLatin1Char('>'))));

    // A button that asks the AI: set up in its editor, then pressed.
    BlockRow *buttonRow = add(QStringLiteral("butt"), QStringLiteral("button"), Landing::elsewhere);
    QVERIFY(buttonRow);
    auto *button = qobject_cast<ButtonBlockView *>(buttonRow->kindView());
    QVERIFY(button);
    QTest::mouseClick(button->editButton(), Qt::LeftButton);
    QTRY_VERIFY(button->isEditing() && button->labelField()->isVisible());
    button->labelField()->selectAll();
    QTest::keyClicks(button->labelField(), kButtonLabel);
    chooseFromList(button->actionPicker(), QStringLiteral("Ask AI"));
    QTest::keyClicks(button->targetField(), kPrompt);
    QTest::mouseClick(button->saveButton(), Qt::LeftButton);
    QTRY_VERIFY(!button->isEditing());
    QCOMPARE(button->actionButton()->text(), kButtonLabel);
    QVERIFY2(button->actionButton()->isEnabled(), qPrintable(buttonRow->model().currentBlock().contentJSON));
    QTest::mouseClick(button->actionButton(), Qt::LeftButton);
    AIPanel *ai = nullptr;
    QTRY_VERIFY((ai = m_app->window->findChild<AIPanel *>()) && ai->isVisible());
    QCOMPARE(ai->promptEditor()->toPlainText(), kPrompt);
    QVERIFY(ai->runButton()->isEnabled());
    // A double-click on "Run" is one request: one fewer left for today.
    EditorSteps::doubleClickButton(ai->runButton());
    QTRY_VERIFY_WITH_TIMEOUT(!ai->resultLabel()->text().isEmpty(), kWait);
    QCOMPARE(ai->badge()->text(), QStringLiteral("%1 left today").arg(m_fake.state().aiDailyLimit - 1));
    const QList<HttpRequest> asked = m_fake.requestsTo(QStringLiteral("/api/ai.php"));
    QCOMPARE(asked.size(), 1);
    QVERIFY2(asked.first().body.contains(kPrompt.toUtf8()), asked.first().body.constData());
    QCOMPARE(m_fake.state().aiRequestsUsed.value(m_fake.state().users.begin()->first), 1);
    QTest::mouseClick(ai->closeButton(), Qt::LeftButton);
    QTRY_VERIFY(!m_app->window->findChild<AIPanel *>() ||
                !m_app->window->findChild<AIPanel *>()->isVisible());

    // Three columns, a block written in the first.
    BlockRow *columnsRow = add(QStringLiteral("col"), QStringLiteral("columns"), Landing::elsewhere);
    QVERIFY(columnsRow);
    auto *columns = qobject_cast<ColumnsBlockView *>(columnsRow->kindView());
    QVERIFY(columns);
    chooseFromList(columns->countPicker(), QStringLiteral("3"));
    QTRY_COMPARE(columns->cells().size(), qsizetype(3));
    QCOMPARE(columns->headerLabel()->text(), QStringLiteral("3 columns"));
    QPushButton *addInColumn = columns->cells().first()->findChild<QPushButton *>();
    QVERIFY(addInColumn);
    QTest::mouseClick(addInColumn, Qt::LeftButton);
    RichTextEditor *inColumn = nullptr;
    QTRY_VERIFY((inColumn = qobject_cast<RichTextEditor *>(keyboard())) &&
                columns->cells().first()->isAncestorOf(inColumn));
    QTest::keyClicks(inColumn, QStringLiteral("Rye"));

    // A mirror of the first block, found by its words.
    BlockRow *syncedRow = add(QStringLiteral("sync"), QStringLiteral("synced"), Landing::entry);
    QVERIFY(syncedRow);
    auto *synced = qobject_cast<SyncedBlockView *>(syncedRow->kindView());
    QVERIFY(synced);
    QTest::keyClicks(keyboard(), QStringLiteral("starter"));
    QTRY_COMPARE(synced->resultButtons().size(), qsizetype(1));
    QTest::mouseClick(synced->resultButtons().first(), Qt::LeftButton);
    QTRY_COMPARE(synced->state(), SyncedBlockView::State::Linked);
    QCOMPARE(synced->previewText(), kSourceText);
    QVERIFY2(synced->sourceLine().contains(kPageTitle), qPrintable(synced->sourceLine()));

    const int before = m_expected.size();
    m_expected << QStringLiteral("toc: ") << QStringLiteral("mention: ") + kOtherTitle
               << QStringLiteral("breadcrumbs: ")
               << QStringLiteral("button: ") + kButtonLabel + QStringLiteral(" / ai_prompt / ") + kPrompt
               << QStringLiteral("columns: 3") << QStringLiteral("synced: ") + kSourceText;
    QStringList onScreen = m_expected;
    QTRY_COMPARE(BlockReadout::shownBlocks(page()).mid(0, m_expected.size()), m_expected);
    if (BlockReadout::shownBlocks(page()).size() > m_expected.size())
        onScreen << QStringLiteral("text: ");
    waitUntilOnTheService(onScreen);
    const FakeServiceState::Block *columnsBlock = storedBlock(QStringLiteral("columns"));
    QVERIFY(columnsBlock);
    QTRY_COMPARE_WITH_TIMEOUT(childrenOf(columnsBlock->id), QStringList{QStringLiteral("Rye")}, kWait);

    scrollToRow(page(), page()->topLevelList()->rows().at(size_t(before)));
    shoot(QStringLiteral("13-kinds-structure.png"));
}

void TestBlockKindsJourney::databaseKind()
{
    BlockRow *row = add(QStringLiteral("data"), QStringLiteral("database"), Landing::elsewhere);
    QVERIFY(row);
    auto *database = qobject_cast<DatabaseBlockView *>(row->kindView());
    QVERIFY(database);
    QTRY_VERIFY_WITH_TIMEOUT(database->insertButton() && database->insertButton()->isVisible() &&
                                 database->insertButton()->isEnabled(),
                             kWait);
    QTest::mouseClick(database->insertButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(database->addRowButton() && database->addRowButton()->isVisible(), kWait);
    QCOMPARE(m_fake.state().databases.size(), size_t(1));
    const FakeServiceState::Database &made = m_fake.state().databases.begin()->second;
    QCOMPARE(made.pageId, pageId());
    QCOMPARE(database->nameLabel()->text(), made.name);

    // A row from a double-click on "Add row" (one row), its name typed where the keyboard lands,
    // and its Done box ticked.
    EditorSteps::doubleClickButton(database->addRowButton());
    QTRY_COMPARE_WITH_TIMEOUT(database->tableModel().rowCount(), 1, kWait);
    QLineEdit *field = nullptr;
    QTRY_VERIFY((field = qobject_cast<QLineEdit *>(keyboard())) && database->table()->isAncestorOf(field));
    QTest::keyClicks(field, QStringLiteral("Rye flour"));
    QTest::keyClick(field, Qt::Key_Return);
    // Its status from the cell's menu, and its box ticked.
    DatabaseTableView *table = database->table();
    const auto cell = [&](int column) {
        return table->visualRect(database->tableModel().index(0, column)).center();
    };
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell(1));
    QMenu *menu = nullptr;
    QTRY_VERIFY((menu = database->selectMenu()) && menu->isVisible());
    QAction *doing = nullptr;
    for (QAction *action : menu->actions()) {
        if (action->text() == QLatin1String("Doing"))
            doing = action;
    }
    QVERIFY(doing);
    QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, menu->actionGeometry(doing).center());
    QTRY_VERIFY(!database->selectMenu());
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell(2));
    const auto shownRow = [&] {
        QStringList out;
        for (int column = 0; column < database->tableModel().columnCount(); ++column)
            out << database->tableModel().data(database->tableModel().index(0, column)).toString();
        return out;
    };
    const auto storedRow = [&] {
        QStringList out;
        if (m_fake.state().databaseRows.size() != 1)
            return out;
        const JSONObject &data = m_fake.state().databaseRows.begin()->second.data;
        for (const JSONValue &column : m_fake.state().databases.begin()->second.columns) {
            const QString id = column.toObject().at(QStringLiteral("id")).toString();
            const auto value = data.find(id);
            out << (value == data.end()      ? QString()
                    : value->second.isBool() ? QString::number(value->second.toBool())
                                             : value->second.toString());
        }
        return out;
    };
    QTRY_COMPARE_WITH_TIMEOUT(storedRow(), (QStringList{"Rye flour", "Doing", "1"}), kWait);
    QCOMPARE(shownRow().mid(0, 2), (QStringList{"Rye flour", "Doing"}));
    QVERIFY(database->tableModel().data(database->tableModel().index(0, 2), Qt::EditRole).toBool());

    m_expected << QStringLiteral("database: Tasks / Rye flour, Doing");
    QStringList onScreen = m_expected;
    QTRY_COMPARE(BlockReadout::shownBlocks(page()).mid(0, m_expected.size()), m_expected);
    if (BlockReadout::shownBlocks(page()).size() > m_expected.size())
        onScreen << QStringLiteral("text: ");
    waitUntilOnTheService(onScreen);

    scrollToRow(page(), row);
    shoot(QStringLiteral("14-kinds-database.png"));
}

void TestBlockKindsJourney::secondDeviceShowsEveryKind()
{
    // Every kind is on the page, once.
    QStringList kinds;
    for (const QString &line : std::as_const(m_expected))
        kinds << line.section(QLatin1Char(':'), 0, 0);
    QCOMPARE(kinds.size(), 26);
    kinds.removeDuplicates();
    QCOMPARE(kinds.size(), 26);

    const QStringList shownHere = BlockReadout::shownBlocks(page());
    AppDevice laptop(m_fake.origin());
    std::unique_ptr<Launch> other = launch(laptop, pageParts());
    QVERIFY(other);
    signInThroughTheForm(*other, kEmail, kPassword);
    QVERIFY(!QTest::currentTestFailed());
    QCOMPARE(m_fake.userCount(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(sidebarRow(other->sidebar(), kPageTitle).isValid(), kWait);
    clickRow(other->sidebar(), kPageTitle);
    QTRY_VERIFY_WITH_TIMEOUT(other->pageView(), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(BlockReadout::shownBlocks(other->pageView()), shownHere, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(BlockReadout::shownBlocks(other->pageView()).mid(0, 26), m_expected, kWait);
    quit(other);
    activate(m_app->window.get());
}

PENROOST_MEDIA_TEST_MAIN(TestBlockKindsJourney)

#include "tst_block_kinds_journey.moc"
