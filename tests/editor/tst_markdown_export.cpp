#include "editor/block_row.h"
#include "editor/export_actions.h"
#include "editor/markdown_export.h"
#include "editor/page_view.h"
#include "platform/diag.h"
#include "platform/preset_file_picker.h"
#include "support/app_harness.h"
#include "support/task_outcome.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QMenu>
#include <QTest>
#include <QToolButton>

namespace {

// A block of page "P" given in a compact form.
struct B {
    QString type;
    QString content;
    qint64 position = 0;
    QString localID = QString();
    QString parentLocal = QString();
    qint64 serverID = 0;
    qint64 parentServer = 0;
    bool deleted = false;
};

std::vector<FNBlock> blocksOf(const QList<B> &list)
{
    std::vector<FNBlock> blocks;
    for (const B &b : list) {
        FNBlock block;
        if (!b.localID.isEmpty())
            block.localID = b.localID;
        block.pageLocalID = QStringLiteral("P");
        block.type = b.type;
        block.contentJSON = b.content;
        block.position = b.position;
        block.parentBlockLocalID = b.parentLocal;
        block.serverID = b.serverID;
        block.parentBlockServerID = b.parentServer;
        if (b.deleted)
            block.deletedAt = QDateTime::currentDateTimeUtc();
        blocks.push_back(block);
    }
    return blocks;
}

QString text(const char *value)
{
    return QStringLiteral(R"({"text":"%1"})").arg(QString::fromUtf8(value));
}

QString document(const QString &title, const QStringList &parts)
{
    return (QStringList{QStringLiteral("# ") + title + QLatin1Char('\n')} + parts)
               .join(QStringLiteral("\n\n")) +
           QLatin1Char('\n');
}

} // namespace

class TestMarkdownExport : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void documentShape_data();
    void documentShape();
    void kindFormats_data();
    void kindFormats();
    void order_data();
    void order();
    void fileName_data();
    void fileName();

    void exportWritesTheChosenFile();
    void exportReplacesAnExistingFileWhole();
    void exportDoesNothing_data();
    void exportDoesNothing();
    void failedWriteIsReported_data();
    void failedWriteIsReported();
    void templateOfThePage();
    void untitledTemplate();
    void pageMenuCarriesTheLatestText();
    void saveDialogStartsInTheDocumentsFolder();

private:
    std::unique_ptr<AppDevice> m_device;
    std::unique_ptr<AppHarness> m_app;
    std::shared_ptr<PresetFilePicker> m_picker;
    FNPage addPage(const QString &title, const QList<B> &blocks = {});
};

void TestMarkdownExport::init()
{
    m_app.reset();
    m_device = std::make_unique<AppDevice>();
    m_app = std::make_unique<AppHarness>(*m_device);
    m_picker = std::make_shared<PresetFilePicker>();
}

FNPage TestMarkdownExport::addPage(const QString &title, const QList<B> &blocks)
{
    FNPage page;
    page.title = title;
    page.icon = QStringLiteral("🚀");
    m_app->store.upsertPage(page);
    for (FNBlock block : blocksOf(blocks)) {
        block.pageLocalID = page.localID;
        m_app->store.upsertBlock(block);
    }
    return page;
}

void TestMarkdownExport::documentShape_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QList<B>>("blocks");
    QTest::addColumn<QString>("expected");

    QTest::newRow("title, text, divider") << "T" << QList<B>{{"text", text("a"), 0}, {"divider", "{}", 1}}
                                          << QStringLiteral("# T\n\n\na\n\n---\n");
    QTest::newRow("no blocks") << "T" << QList<B>{} << QStringLiteral("# T\n\n");
    QTest::newRow("empty title") << "" << QList<B>{} << QStringLiteral("# Untitled\n\n");
    QTest::newRow("title of spaces kept") << "  " << QList<B>{} << QStringLiteral("#   \n\n");
    QTest::newRow("blocks that add nothing")
        << "T" << QList<B>{{"text", text(""), 0}, {"image", "{}", 1}} << QStringLiteral("# T\n\n");
}

void TestMarkdownExport::documentShape()
{
    QFETCH(QString, title);
    QFETCH(QList<B>, blocks);
    QFETCH(QString, expected);
    QCOMPARE(renderMarkdown(title, blocksOf(blocks)), expected);
}

void TestMarkdownExport::kindFormats_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("content");
    QTest::addColumn<QStringList>("parts");

    const auto row = [](const char *name, const char *type, const QString &content,
                        const QStringList &parts) {
        QTest::newRow(name) << QString::fromLatin1(type) << content << parts;
    };
    row("h1", "h1", text("A"), {"# A"});
    row("empty h1", "h1", text(""), {"# "});
    row("h2", "h2", text("B"), {"## B"});
    row("h3", "h3", text("C"), {"### C"});
    row("bullet", "bullet", text("x"), {"- x"});
    row("number", "number", text("x"), {"1. x"});
    row("todo unchecked", "todo", text("t"), {"- [ ] t"});
    row("todo checked", "todo", R"({"text":"t","checked":true})", {"- [x] t"});
    row("todo checked as a string", "todo", R"({"text":"t","checked":"true"})", {"- [ ] t"});
    row("quote", "quote", text("q"), {"> q"});
    row("callout default icon", "callout", text("c"), {QStringLiteral("> \U0001F4A1 c")});
    row("callout empty icon", "callout", R"({"text":"c","icon":""})", {">  c"});
    row("callout own icon", "callout", R"({"text":"c","icon":"🔥"})", {QStringLiteral("> 🔥 c")});
    row("code", "code", R"({"text":"let a = 1\nb"})", {"```\nlet a = 1\nb\n```"});
    row("divider ignores content", "divider", text("ignored"), {"---"});
    row("toggle without body", "toggle", text("s"), {"- s"});
    row("toggle with body", "toggle", R"({"text":"s","body":"x"})", {"- s", "  x"});
    row("image", "image", R"({"url":"b.png"})", {"![](b.png)"});
    row("image without url", "image", text("caption"), {});
    row("file", "file", R"({"url":"a.pdf","filename":"a.pdf"})", {"[file](a.pdf)"});
    row("file without url", "file", "{}", {});
    row("audio", "audio", R"({"url":"r.m4a"})", {"[audio](r.m4a)"});
    row("embed", "embed", R"({"url":"https://v.example/1"})", {"[embed](https://v.example/1)"});
    row("bookmark", "bookmark", R"({"url":"c","title":"t"})", {"[bookmark](c)"});
    row("url that is not a string", "bookmark", R"({"url":5})", {});
    row("math", "math", R"({"latex":"x^2"})", {"$$\nx^2\n$$"});
    row("math without latex", "math", "{}", {"$$\n\n$$"});
    row("text", "text", text("plain"), {"plain"});
    row("empty text", "text", text(""), {});
    row("unknown kind prints its text", "paragraph", text("p"), {"p"});
    row("toc with text", "toc", text("t"), {"t"});
    row("database without text", "database", R"({"database_id":4})", {});
    row("markers copied unescaped", "text", text("**b** [l](u) *i* # x"), {"**b** [l](u) *i* # x"});
    row("undecodable heading", "h1", "not json", {"# "});
    row("undecodable text", "text", "{", {});
    row("text that is not a string", "h2", R"({"text":7})", {"## "});
}

void TestMarkdownExport::kindFormats()
{
    QFETCH(QString, type);
    QFETCH(QString, content);
    QFETCH(QStringList, parts);
    QCOMPARE(renderMarkdown(QStringLiteral("T"), blocksOf({{type, content, 0}})), document("T", parts));
}

void TestMarkdownExport::order_data()
{
    QTest::addColumn<QList<B>>("blocks");
    QTest::addColumn<QStringList>("parts");

    // Blocks at one position as every device lists them: by local id while not on the service.
    QTest::newRow("by position, ties by id") << QList<B>{{"text", text("c"), 2},
                                                         {"text", text("a"), 0},
                                                         {"text", text("b2"), 1, "tie-b"},
                                                         {"text", text("b1"), 1, "tie-a"}}
                                         << QStringList{"a", "b1", "b2", "c"};
    QTest::newRow("numbering restarts after another kind") << QList<B>{{"number", text("a"), 0},
                                                                       {"number", text("b"), 1},
                                                                       {"text", text("c"), 2},
                                                                       {"number", text("d"), 3}}
                                                           << QStringList{"1. a", "2. b", "c", "1. d"};
    QTest::newRow("an empty text block restarts it too")
        << QList<B>{{"number", text("a"), 0}, {"text", text(""), 1}, {"number", text("b"), 2}}
        << QStringList{"1. a", "1. b"};
    QTest::newRow("children follow their parent")
        << QList<B>{{"text", text("second"), 1},
                    {"toggle", text("first"), 0, "P1"},
                    {"text", text("child b"), 1, "C1", "P1"},
                    {"text", text("child a"), 0, "C0", "P1"},
                    {"text", text("grandchild"), 0, "", "C0"}}
        << QStringList{"- first", "child a", "grandchild", "child b", "second"};
    QTest::newRow("a child linked by server id") << QList<B>{{"text", text("top"), 0, "T", "", 40},
                                                             {"text", text("next"), 1},
                                                             {"text", text("nested"), 0, "", "", 0, 40}}
                                                 << QStringList{"top", "nested", "next"};
    QTest::newRow("the local link wins over the server link")
        << QList<B>{{"text", text("a"), 0, "A", "", 10},
                    {"text", text("b"), 1, "B", "", 20},
                    {"text", text("under b"), 0, "", "B", 0, 10}}
        << QStringList{"a", "b", "under b"};
    QTest::newRow("a deleted parent's children stay, at the top level")
        << QList<B>{{"text", text("kept"), 0},
                    {"text", text("gone"), 1, "G", "", 0, 0, true},
                    {"text", text("child of gone"), 0, "GC", "G"},
                    {"text", text("grandchild of gone"), 0, "", "GC"}}
        << QStringList{"kept", "child of gone", "grandchild of gone"};
    QTest::newRow("deleted child only") << QList<B>{{"text", text("p"), 0, "P1"},
                                                    {"text", text("x"), 0, "", "P1", 0, 0, true},
                                                    {"text", text("y"), 1, "", "P1"}}
                                        << QStringList{"p", "y"};
    QTest::newRow("parent not among the blocks, at the top level")
        << QList<B>{{"text", text("a"), 0},
                    {"text", text("orphan"), 1, "", "MISSING"},
                    {"text", text("b"), 2, "", "", 0, 99}}
        << QStringList{"a", "orphan", "b"};
    QTest::newRow("links that loop end, each block once") << QList<B>{{"text", text("a"), 0},
                                                                      {"text", text("x"), 0, "X", "Y"},
                                                                      {"text", text("y"), 0, "Y", "X"}}
                                                          << QStringList{"a", "x", "y"};
}

void TestMarkdownExport::order()
{
    QFETCH(QList<B>, blocks);
    QFETCH(QStringList, parts);
    QCOMPARE(renderMarkdown(QStringLiteral("T"), blocksOf(blocks)), document("T", parts));
}

void TestMarkdownExport::fileName_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("name");

    QTest::newRow("slash") << "Q1/Q2 plan"
                           << "Q1-Q2 plan.md";
    QTest::newRow("untitled") << ""
                              << "Untitled.md";
    QTest::newRow("already .md") << "notes.md"
                                 << "notes.md.md";
    QTest::newRow("every slash") << "/a//b/"
                                 << "-a--b-.md";
    QTest::newRow("others unchanged")
        << QStringLiteral("Ünïcode: a\\b *?") << QStringLiteral("Ünïcode: a\\b *?.md");
    QTest::newRow("spaces kept") << " "
                                 << " .md";
}

void TestMarkdownExport::fileName()
{
    QFETCH(QString, title);
    QFETCH(QString, name);
    QCOMPARE(markdownFileName(title), name);
}

void TestMarkdownExport::exportWritesTheChosenFile()
{
    const FNPage page =
        addPage(QStringLiteral("Q1/Q2 plan"),
                {{"h1", text("Goals ✓"), 0}, {"todo", R"({"text":"ship","checked":true})", 1}});
    const QString path = m_device->dir.filePath(QStringLiteral("out.md"));
    m_picker->setSaveAnswer(path);

    const auto outcome =
        runTask(ExportActions::exportMarkdown(m_app->context(), m_picker, page.localID, nullptr));
    QVERIFY(outcome.ok());
    QVERIFY(*outcome.value);
    QCOMPARE(m_picker->proposedNames(), QStringList{QStringLiteral("Q1-Q2 plan.md")});
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    // UTF-8 without a byte order mark.
    QCOMPARE(file.readAll(), QByteArray("# Q1/Q2 plan\n\n\n# Goals \xE2\x9C\x93\n\n- [x] ship\n"));
    QVERIFY(!m_app->toasts.current());
    QVERIFY(m_app->store.state().outbox.empty());
}

void TestMarkdownExport::exportReplacesAnExistingFileWhole()
{
    const FNPage page = addPage(QStringLiteral("Short"));
    const QString path = m_device->dir.filePath(QStringLiteral("old.md"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(4096, 'x'));
    old.close();
    m_picker->setSaveAnswer(path);

    QVERIFY(*runTask(ExportActions::exportMarkdown(m_app->context(), m_picker, page.localID, nullptr)).value);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("# Short\n\n"));
    // Nothing left beside it from the write.
    QCOMPARE(QDir(m_device->dir.path()).entryList({QStringLiteral("old.md*")}, QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("old.md")});
}

void TestMarkdownExport::exportDoesNothing_data()
{
    QTest::addColumn<bool>("trashed");
    QTest::addColumn<bool>("cancelled");
    QTest::newRow("cancelled dialog") << false << true;
    QTest::newRow("page in the trash") << true << false;
}

void TestMarkdownExport::exportDoesNothing()
{
    QFETCH(bool, trashed);
    QFETCH(bool, cancelled);
    const FNPage page = addPage(QStringLiteral("P"));
    if (trashed)
        m_app->store.markPageDeleted(page.localID);
    const QString path = m_device->dir.filePath(QStringLiteral("none.md"));
    m_picker->setSaveAnswer(cancelled ? std::nullopt : std::optional(path));
    DiagCapture diag;

    const auto outcome =
        runTask(ExportActions::exportMarkdown(m_app->context(), m_picker, page.localID, nullptr));
    QVERIFY(outcome.ok());
    QVERIFY(!*outcome.value);
    QCOMPARE(m_picker->proposedNames().size(), trashed ? 0 : 1);
    QVERIFY(!QFile::exists(path));
    QVERIFY(!m_app->toasts.current());
    QVERIFY(diag.lines().isEmpty());
}

void TestMarkdownExport::failedWriteIsReported_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("missingFolder");
    QTest::newRow("folder that does not exist") << "P" << true;
    QTest::newRow("text that is not UTF-8") << QString(QChar(0xD800)) << false;
}

void TestMarkdownExport::failedWriteIsReported()
{
    QFETCH(QString, title);
    QFETCH(bool, missingFolder);
    const FNPage page = addPage(title);
    const QString path = missingFolder ? m_device->dir.filePath(QStringLiteral("no/such/folder/p.md"))
                                       : m_device->dir.filePath(QStringLiteral("p.md"));
    m_picker->setSaveAnswer(path);
    DiagCapture diag;

    const auto outcome =
        runTask(ExportActions::exportMarkdown(m_app->context(), m_picker, page.localID, nullptr));
    QVERIFY(outcome.ok());
    QVERIFY(!*outcome.value);
    QVERIFY(!QFile::exists(path));
    QVERIFY(m_app->toasts.current());
    QVERIFY(
        m_app->toasts.current()->message.startsWith(QString::fromLatin1(ExportActions::kExportFailedToast)));
    QCOMPARE(diag.lines().size(), 1);
    QVERIFY(diag.lines().first().startsWith(QString::fromLatin1(ExportActions::kExportFailedLine)));
}

void TestMarkdownExport::templateOfThePage()
{
    const FNPage page = addPage(QStringLiteral("Ideas"), {{"text", text("second"), 2},
                                                          {"toggle", text("first"), 0, "P1"},
                                                          {"text", text("nested"), 0, "", "P1"},
                                                          {"text", text("gone"), 3, "G", "", 0, 0, true},
                                                          {"text", text("under gone"), 1, "", "G"}});
    const auto made = ExportActions::saveAsTemplate(m_app->context(), page.localID);
    QVERIFY(made);
    QCOMPARE(made->name, QStringLiteral("Ideas"));
    QCOMPARE(made->title, QStringLiteral("Ideas"));
    QCOMPARE(made->icon, QStringLiteral("🚀"));
    QCOMPARE(made->id.size(), 36);
    // A nested block names its parent's index; one whose parent was deleted comes along at the top level.
    const std::vector<TemplateBlock> expected{{QStringLiteral("toggle"), text("first"), std::nullopt},
                                              {QStringLiteral("text"), text("nested"), 0},
                                              {QStringLiteral("text"), text("under gone"), std::nullopt},
                                              {QStringLiteral("text"), text("second"), std::nullopt}};
    QCOMPARE(made->blocks, expected);
    QCOMPARE(m_app->templates.templates().size(), size_t(1));
    QCOMPARE(m_app->templates.templates().front(), *made);
    QVERIFY(m_app->toasts.current());
    QCOMPARE(m_app->toasts.current()->message, QStringLiteral("Saved \u201CIdeas\u201D as a template."));
    QVERIFY(!m_app->toasts.hasAction());
    QVERIFY(m_app->store.state().outbox.empty());

    // A second save is a second template under the same name.
    const auto again = ExportActions::saveAsTemplate(m_app->context(), page.localID);
    QVERIFY(again && again->id != made->id);
    QCOMPARE(m_app->templates.templates().size(), size_t(2));
}

void TestMarkdownExport::untitledTemplate()
{
    const FNPage page = addPage(QString());
    const auto made = ExportActions::saveAsTemplate(m_app->context(), page.localID);
    QVERIFY(made);
    QCOMPARE(made->name, QStringLiteral("Untitled template"));
    QVERIFY(made->title.isEmpty());
    QVERIFY(made->blocks.empty());
    QCOMPARE(m_app->toasts.current()->message,
             QStringLiteral("Saved \u201CUntitled template\u201D as a template."));

    m_app->store.markPageDeleted(page.localID);
    QVERIFY(!ExportActions::saveAsTemplate(m_app->context(), page.localID));
    QCOMPARE(m_app->templates.templates().size(), size_t(1));
}

void TestMarkdownExport::pageMenuCarriesTheLatestText()
{
    const FNPage page = addPage(QStringLiteral("Plan"), {{"text", text("a"), 0, "B1"}});
    const QString path = m_device->dir.filePath(QStringLiteral("plan.md"));
    m_picker->setSaveAnswer(path);
    PageView view(m_app->context(), page.localID);
    view.setFilePicker(m_picker);
    view.resize(700, 500);
    view.show();
    QTRY_VERIFY(view.row(QStringLiteral("B1")));
    // Typed a moment ago: still waiting for its commit.
    BlockRow *row = view.row(QStringLiteral("B1"));
    row->model().commitText(QStringLiteral("a and more"));
    QVERIFY(row->model().hasPendingCommit());

    const QList<QAction *> items = view.exportButton()->menu()->actions();
    QCOMPARE(items.at(0)->text(), QStringLiteral("Export as Markdown"));
    QCOMPARE(items.at(1)->text(), QStringLiteral("Save as Template"));
    items.at(0)->trigger();
    QTRY_VERIFY(QFile::exists(path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("# Plan\n\n\na and more\n"));
    QCOMPARE(m_picker->proposedNames(), QStringList{QStringLiteral("Plan.md")});

    items.at(1)->trigger();
    QCOMPARE(m_app->toasts.current()->message, QStringLiteral("Saved \u201CPlan\u201D as a template."));
    QCOMPARE(m_app->templates.templates().back().blocks.size(), size_t(1));
    QCOMPARE(m_app->templates.templates().back().blocks[0].contentJSON, text("a and more"));
}

void TestMarkdownExport::saveDialogStartsInTheDocumentsFolder()
{
    // A home of its own, so the folder is known and nothing is made in the real one.
    QTemporaryDir home;
    const QByteArray realHome = qgetenv("HOME");
    const QByteArray realConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    qunsetenv("XDG_CONFIG_HOME");
    const auto restore = qScopeGuard([&] {
        qputenv("HOME", realHome);
        if (!realConfig.isEmpty())
            qputenv("XDG_CONFIG_HOME", realConfig);
    });
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QVERIFY(documents.startsWith(home.path()));
    QVERIFY(QDir().mkpath(documents));
    // Where the process was started is somewhere else.
    QVERIFY(QDir::currentPath() != documents);

    const FNPage page = addPage(QStringLiteral("Plan"));
    PageView view(m_app->context(), page.localID);
    view.resize(700, 500);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    // The menu runs its own loop: its item is clicked from inside it.
    QMenu *menu = view.exportButton()->menu();
    QTimer::singleShot(0, menu, [menu] {
        QTRY_VERIFY(menu->isVisible());
        QAction *item = menu->actions().at(0);
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
    });
    QTest::mouseClick(view.exportButton(), Qt::LeftButton);

    QFileDialog *dialog = nullptr;
    QTRY_VERIFY((dialog = view.findChild<QFileDialog *>()) && dialog->isVisible());
    QCOMPARE(QDir(dialog->directory()).canonicalPath(), QDir(documents).canonicalPath());
    QCOMPARE(dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text(), QStringLiteral("Plan.md"));
    dialog->reject();
}

QTEST_MAIN(TestMarkdownExport)
#include "tst_markdown_export.moc"
