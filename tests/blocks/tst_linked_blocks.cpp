#include "linked_blocks_fixture.h"

using namespace linkedBlocks;

// Page link, contents, breadcrumbs, bookmark, embed and synced block: what they find in the store,
// their limits, and their views inside the page, kept current by the store.
class TestLinkedBlocks : public LinkedBlocksFixture
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { start(); }
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void idsThatAreNotIntegersLinkNothing_data();
    void idsThatAreNotIntegersLinkNothing();
    void pickedKindTakesTheNextKeystrokes_data();
    void pickedKindTakesTheNextKeystrokes();
    void duplicateIDsShowTheFirstLiveOne();
    void searchesCapAtEightInStoreOrder_data();
    void searchesCapAtEightInStoreOrder();
    void bulkChangesKeepWhatIsTyped();
    void breadcrumbTrail_data();
    void breadcrumbTrail();
    void contentsListsHeadings();
    void hostLabels_data();
    void hostLabels();
    void embedEntryAndCard();
};

void TestLinkedBlocks::idsThatAreNotIntegersLinkNothing_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("content");
    QTest::addColumn<bool>("linked");
    for (const char *kind : {"mention", "synced"}) {
        const QString key = QLatin1String(kind) == QLatin1String("mention") ? "page_id" : "source_id";
        const auto row = [&](const char *name, const QString &value, bool linked) {
            QTest::addRow("%s %s", kind, name)
                << kind << QStringLiteral("{\"%1\":%2}").arg(key, value) << linked;
        };
        row("12", "12", true);
        row("\"12\"", "\"12\"", false);
        row("12.5", "12.5", false);
        row("null", "null", false);
        row("0", "0", false);
        QTest::addRow("%s absent", kind) << kind << "{}" << false;
    }
}

void TestLinkedBlocks::idsThatAreNotIntegersLinkNothing()
{
    QFETCH(QString, kind);
    QFETCH(QString, content);
    QFETCH(bool, linked);
    FNPage target = m_device->addPage(m_account.workspaceId, "Target");
    m_device->store().editPage(target.localID, [](FNPage &p) { p.serverID = 12; });
    const FNPage page = m_device->addPage(m_account.workspaceId, "Here");
    addKind(*m_device, target, "text", {{"text", "source text"}}, 0, 12);
    FNBlock block = addKind(*m_device, page, kind, {});
    m_device->store().editBlock(block.localID, [&](FNBlock &b) { b.contentJSON = content; });
    QVERIFY(openPage(*m_device, page));
    if (kind == QLatin1String("mention")) {
        auto *view = viewOf<MentionBlockView>(block);
        QVERIFY(view);
        QCOMPARE(view->state(), linked ? MentionBlockView::State::Linked : MentionBlockView::State::Search);
        if (linked)
            QCOMPARE(view->chipLabel(), QString::fromUtf8(kPageIcon) + QStringLiteral(" Target"));
        else
            QCOMPARE(view->searchField()->placeholderText(), QStringLiteral("Type to find a page..."));
    } else {
        auto *view = viewOf<SyncedBlockView>(block);
        QVERIFY(view);
        QCOMPARE(view->state(), linked ? SyncedBlockView::State::Linked : SyncedBlockView::State::Search);
        if (linked) {
            QCOMPARE(view->previewText(), QStringLiteral("source text"));
            QCOMPARE(view->sourceLine(), QStringLiteral("Synced from “Target”"));
        }
    }
}

void TestLinkedBlocks::pickedKindTakesTheNextKeystrokes_data()
{
    QTest::addColumn<QString>("slash");
    QTest::addColumn<QString>("kind");
    QTest::newRow("page link") << "/mention"
                               << "mention";
    QTest::newRow("synced block") << "/synced"
                                  << "synced";
    QTest::newRow("bookmark") << "/bookmark"
                              << "bookmark";
    QTest::newRow("embed") << "/embed"
                           << "embed";
}

void TestLinkedBlocks::pickedKindTakesTheNextKeystrokes()
{
    QFETCH(QString, slash);
    QFETCH(QString, kind);
    const FNPage page = m_device->addPage(m_account.workspaceId, "Typing");
    const FNBlock block = m_device->addBlock(page.localID, QString(), 0);
    QVERIFY(openPage(*m_device, page));
    QApplication::setActiveWindow(m_view.get());
    BlockRow *row = m_view->row(block.localID);
    QVERIFY(row && row->focusEditor());
    QTRY_VERIFY(row->richEditor()->hasFocus());
    QTest::keyClicks(row->richEditor(), slash);
    QTest::keyClick(row->richEditor(), Qt::Key_Return);
    QTRY_COMPARE(m_device->block(block.localID)->type, kind);
    // Typed right after the pick: it lands in the kind's own field.
    QTRY_VERIFY(QApplication::focusWidget());
    QTest::keyClicks(QApplication::focusWidget(), "abc");
    auto *field = qobject_cast<QLineEdit *>(row->kindView()->entryWidget());
    QVERIFY(field);
    QCOMPARE(field->text(), QStringLiteral("abc"));
}

void TestLinkedBlocks::duplicateIDsShowTheFirstLiveOne()
{
    LocalStore &store = m_device->store();
    const FNPage page = m_device->addPage(m_account.workspaceId, "Here");
    // An older deleted copy of each comes first in the store.
    for (const char *title : {"Old", "New", "Later"}) {
        FNPage p = m_device->addPage(m_account.workspaceId, title);
        store.editPage(p.localID, [](FNPage &x) { x.serverID = 40; });
        addKind(*m_device, p, "text", {{"text", QString::fromLatin1(title).toLower()}}, 0, 41);
        if (QLatin1String(title) == QLatin1String("Old")) {
            store.markPageDeleted(p.localID);
            store.markBlockDeleted(store.blocksOfPage(p.localID).front()->localID);
        }
    }
    const FNBlock mention = addKind(*m_device, page, "mention", {{"page_id", 40}}, 0);
    const FNBlock synced = addKind(*m_device, page, "synced", {{"source_id", 41}}, 1);
    QVERIFY(openPage(*m_device, page));
    QCOMPARE(viewOf<MentionBlockView>(mention)->chipLabel(), QString::fromUtf8(kPageIcon) + " New");
    QCOMPARE(viewOf<SyncedBlockView>(synced)->previewText(), QStringLiteral("new"));
    QCOMPARE(viewOf<SyncedBlockView>(synced)->sourceLine(), QStringLiteral("Synced from “New”"));

    // Renaming the page and editing the source reach both at once.
    const FNPage *shown = store.livePageWithServerID(40);
    store.editPage(shown->localID, [](FNPage &p) {
        p.title = QString();
        p.icon = QStringLiteral("⭐");
    });
    QCOMPARE(viewOf<MentionBlockView>(mention)->chipLabel(), QStringLiteral("⭐ Untitled"));
    QCOMPARE(viewOf<SyncedBlockView>(synced)->sourceLine(), QStringLiteral("Synced from “”"));
    store.editBlock(SyncedBlock::source(store, 41)->localID,
                    [](FNBlock &b) { b.contentJSON = QStringLiteral("{\"text\":\"\"}"); });
    QCOMPARE(viewOf<SyncedBlockView>(synced)->previewText(), QStringLiteral("(empty)"));
}

void TestLinkedBlocks::searchesCapAtEightInStoreOrder_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("expected");
    // Twelve candidates numbered in store order: 2 is deleted, 4 has no server id, 6 is an image.
    QTest::newRow("page titles, any case")
        << "mention"
        << "PLAN"
        << QStringList{"plan 0", "plan 1", "plan 3", "plan 4", "plan 5", "plan 6", "plan 7", "plan 8"};
    QTest::newRow("block texts, any case")
        << "synced"
        << "PLAN"
        << QStringList{"plan 0", "plan 1", "plan 3", "plan 5", "plan 7", "plan 8", "plan 9", "plan 10"};
    QTest::newRow("a space finds spaces") << "mention"
                                          << " 1" << QStringList{"plan 1", "plan 10", "plan 11"};
    QTest::newRow("markers as typed") << "synced"
                                      << "**" << QStringList{"**bold** plan"};
    QTest::newRow("no match") << "synced"
                              << "zzz" << QStringList{};
}

void TestLinkedBlocks::searchesCapAtEightInStoreOrder()
{
    QFETCH(QString, kind);
    QFETCH(QString, query);
    QFETCH(QStringList, expected);
    LocalStore &store = m_device->store();
    const FNPage page = m_device->addPage(m_account.workspaceId, "Search here");
    const FNPage other = m_device->addPage(m_account.workspaceId, "Other");
    for (int i = 0; i < 12; ++i) {
        const QString title = QStringLiteral("plan %1").arg(i);
        FNPage p = m_device->addPage(m_account.workspaceId, title);
        const FNBlock b = addKind(*m_device, other,
                                  i == 6       ? "image"
                                  : i % 3 == 0 ? "h2"
                                               : "todo",
                                  {{"text", title}}, i + 10, i == 4 ? 0 : 100 + i);
        if (i == 2) {
            store.markPageDeleted(p.localID);
            store.markBlockDeleted(b.localID);
        }
    }
    addKind(*m_device, other, "quote", {{"text", "**bold** plan"}}, 30, 200);
    const FNBlock block = addKind(*m_device, page, kind, {});
    QVERIFY(openPage(*m_device, page));

    QLineEdit *field = nullptr;
    std::function<QList<QAbstractButton *>()> results;
    if (kind == QLatin1String("mention")) {
        auto *view = viewOf<MentionBlockView>(block);
        field = view->searchField();
        results = [view] { return view->resultButtons(); };
    } else {
        auto *view = viewOf<SyncedBlockView>(block);
        field = view->searchField();
        results = [view] { return view->resultButtons(); };
    }
    QVERIFY(field);
    field->setFocus();
    QTRY_VERIFY(field->hasFocus());
    QTest::keyClicks(field, query);
    QStringList shown = texts(results());
    // The list shows every result in full.
    const auto measured = [&] {
        const auto buttons = results();
        return std::all_of(buttons.begin(), buttons.end(), [](QAbstractButton *b) {
            return b->isVisible() && b->height() >= b->sizeHint().height() &&
                   b->parentWidget()->rect().contains(b->geometry());
        });
    };
    QTRY_VERIFY(measured());
    if (kind == QLatin1String("mention")) {
        for (QString &s : shown)
            s.remove(QString::fromUtf8(kPageIcon) + QLatin1Char(' '));
    }
    QCOMPARE(shown, expected);

    // Picking one links it and clears the field; clearing a query hides the list at once.
    if (expected.isEmpty()) {
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Backspace);
        QVERIFY(results().isEmpty());
        return;
    }
    results().front()->click();
    if (kind == QLatin1String("synced")) {
        QTRY_COMPARE(viewOf<SyncedBlockView>(block)->state(), SyncedBlockView::State::Linked);
        QCOMPARE(viewOf<SyncedBlockView>(block)->previewText(), expected.front());
    } else {
        // These pages are not on the service yet: the link holds the page's local id until then.
        QString picked;
        for (const FNPage &p : store.state().pages) {
            if (p.title == expected.front())
                picked = p.localID;
        }
        QCOMPARE(store.block(block.localID)->contentJSON,
                 encoded({{"page_id", 0}, {"page_local_id", picked}}));
        QCOMPARE(viewOf<MentionBlockView>(block)->state(), MentionBlockView::State::Linked);
        QCOMPARE(viewOf<MentionBlockView>(block)->chipLabel(),
                 QString::fromUtf8(kPageIcon) + QLatin1Char(' ') + expected.front());
    }
}

void TestLinkedBlocks::bulkChangesKeepWhatIsTyped()
{
    LocalStore &store = m_device->store();
    const FNPage page = m_device->addPage(m_account.workspaceId, "Bulk");
    const FNPage other = m_device->addPage(m_account.workspaceId, "Other");
    const FNBlock source = addKind(*m_device, other, "text", {{"text", "milk first"}}, 0, 501);
    const FNBlock search = addKind(*m_device, page, "synced", {}, 0);
    const FNBlock mirror = addKind(*m_device, page, "synced", {{"source_id", 501}}, 1);
    const FNBlock link = addKind(*m_device, page, "mention", {}, 2);
    QVERIFY(openPage(*m_device, page));
    auto *searching = viewOf<SyncedBlockView>(search);
    searching->searchField()->setFocus();
    QTest::keyClicks(searching->searchField(), "milk");
    QTRY_COMPARE(texts(searching->resultButtons()), QStringList{"milk first"});
    auto *linking = viewOf<MentionBlockView>(link);
    linking->searchField()->setFocus();
    QTRY_VERIFY(linking->searchField()->hasFocus());
    QTest::keyClicks(linking->searchField(), "oth");
    QTRY_COMPARE(linking->resultButtons().size(), 1);

    // A bulk change (a pull's repair, a reset of positions): what is typed stays, the lists and the
    // mirror follow the new records.
    store.change([&](StoreState &s) {
        FNBlock added;
        added.serverID = 502;
        added.pageLocalID = other.localID;
        added.type = QStringLiteral("h1");
        added.contentJSON = QStringLiteral("{\"text\":\"milk again\"}");
        s.blocks.insert(s.blocks.begin(), added);
        for (FNBlock &b : s.blocks) {
            if (b.localID == source.localID)
                b.contentJSON = QStringLiteral("{\"text\":\"milk edited\"}");
        }
        FNPage another;
        another.title = QStringLiteral("Another");
        s.pages.push_back(another);
    });
    QCOMPARE(searching->searchField()->text(), QStringLiteral("milk"));
    QTRY_COMPARE(texts(searching->resultButtons()), (QStringList{"milk again", "milk edited"}));
    QCOMPARE(viewOf<SyncedBlockView>(mirror)->previewText(), QStringLiteral("milk edited"));
    QCOMPARE(linking->searchField()->text(), QStringLiteral("oth"));
    QTRY_COMPARE(linking->resultButtons().size(), 2);
    QCOMPARE(SyncedBlock::searchResults(store, QStringLiteral("MILK")).size(), size_t(2));
}

void TestLinkedBlocks::breadcrumbTrail_data()
{
    // Pages by index: title, server id, parent server id; the block sits on the last page.
    QTest::addColumn<QList<qint64>>("parents");
    QTest::addColumn<QList<bool>>("deleted");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("top level") << QList<qint64>{0} << QList<bool>{false} << QStringList{"p0"};
    QTest::newRow("three deep, a deleted ancestor kept")
        << QList<qint64>{0, 1, 2} << QList<bool>{false, true, false} << QStringList{"p0", "p1", "p2"};
    QTest::newRow("parent never loaded")
        << QList<qint64>{0, 99} << QList<bool>{false, false} << QStringList{"p1"};
    QTest::newRow("a loop") << QList<qint64>{2, 1} << QList<bool>{false, false} << QStringList{"p0", "p1"};
    QTest::newRow("a loop above the page")
        << QList<qint64>{2, 1, 2} << QList<bool>{false, false, false} << QStringList{"p0", "p1", "p2"};
    QList<qint64> chain{0};
    QStringList last21;
    for (int i = 1; i < 26; ++i)
        chain << i;
    for (int i = 5; i < 26; ++i)
        last21 << QStringLiteral("p%1").arg(i);
    QTest::newRow("25 ancestors, 20 shown") << chain << QList<bool>(26, false) << last21;
}

void TestLinkedBlocks::breadcrumbTrail()
{
    QFETCH(QList<qint64>, parents);
    QFETCH(QList<bool>, deleted);
    QFETCH(QStringList, expected);
    LocalStore &store = m_device->store();
    FNPage last;
    for (qsizetype i = 0; i < parents.size(); ++i) {
        last = m_device->addPage(m_account.workspaceId, QStringLiteral("p%1").arg(i));
        store.editPage(last.localID, [&](FNPage &p) {
            p.serverID = i + 1;
            p.parentPageServerID = parents[i];
        });
        if (deleted[i])
            store.markPageDeleted(last.localID);
    }
    const FNBlock block = addKind(*m_device, last, "breadcrumbs", {});
    QVERIFY(openPage(*m_device, last));
    auto *view = viewOf<BreadcrumbsBlockView>(block);
    QVERIFY(view);
    QCOMPARE(view->shown(), expected);

    // A parent loaded later (from the service) extends the trail.
    FNPage parent = m_device->addPage(m_account.workspaceId, "Loaded later");
    store.editPage(parent.localID, [](FNPage &p) { p.serverID = 99; });
    if (parents.contains(99))
        expected.prepend(QStringLiteral("Loaded later"));
    QCOMPARE(view->shown(), expected);

    // The trail follows a rename of its topmost page.
    const FNPage *top = BreadcrumbsBlock::trail(store, last.localID).pages.front();
    store.editPage(top->localID, [](FNPage &p) { p.title = QString(); });
    expected.front() = QStringLiteral("Untitled");
    QCOMPARE(view->shown(), expected);
}

void TestLinkedBlocks::contentsListsHeadings()
{
    LocalStore &store = m_device->store();
    const FNPage page = m_device->addPage(m_account.workspaceId, "Doc");
    const FNBlock toc = addKind(*m_device, page, "toc", {}, 0);
    QVERIFY(openPage(*m_device, page));
    auto *view = viewOf<TocBlockView>(toc);
    QVERIFY(view);
    QVERIFY(view->shown().empty());
    QVERIFY(view->findChild<QLabel *>("tocEmpty"));
    QCOMPARE(view->findChild<QLabel *>("tocEmpty")->text(),
             QStringLiteral("Add headings (Heading 1/2/3) to see them here."));

    const FNBlock late = addKind(*m_device, page, "h1", {{"text", "Later **bold**"}}, 5);
    const FNBlock first = addKind(*m_device, page, "h2", {{"text", "Tie A"}}, 2);
    const FNBlock second = addKind(*m_device, page, "h3", {{"text", "Tie B"}}, 2);
    const FNBlock empty = addKind(*m_device, page, "h1", {{"text", ""}}, 3);
    FNBlock unreadable = addKind(*m_device, page, "h2", {}, 4);
    store.editBlock(unreadable.localID, [](FNBlock &b) { b.contentJSON = QStringLiteral("{\"text\":7"); });
    const FNBlock gone = addKind(*m_device, page, "h1", {{"text", "Gone"}}, 1);
    store.markBlockDeleted(gone.localID);
    addKind(*m_device, page, "text", {{"text", "not a heading"}}, 1);
    // Headings at one position in the order every device lists them: by the service's id.
    store.editBlock(first.localID, [](FNBlock &b) { b.serverID = 41; });
    store.editBlock(second.localID, [](FNBlock &b) { b.serverID = 40; });
    const std::vector<TocBlock::Entry> expected{{second.localID, "Tie B", 28},
                                                {first.localID, "Tie A", 14},
                                                {empty.localID, "", 0},
                                                {unreadable.localID, "Untitled heading", 14},
                                                {late.localID, "Later **bold**", 0}};
    QTRY_VERIFY(viewOf<TocBlockView>(toc) && viewOf<TocBlockView>(toc)->shown() == expected);

    // A heading turned into a paragraph leaves the list.
    store.editBlock(late.localID, [](FNBlock &b) { b.type = QStringLiteral("text"); });
    QCOMPARE(viewOf<TocBlockView>(toc)->shown().size(), size_t(4));
}

void TestLinkedBlocks::hostLabels_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("embedLabel");
    QTest::addColumn<QString>("bookmarkHost");
    QTest::addColumn<QString>("target");
    QTest::newRow("www twice") << "https://www.www.example.com/v"
                               << "example.com"
                               << "www.www.example.com"
                               << "https://www.www.example.com/v";
    QTest::newRow("www inside") << "https://video.www.host.org"
                                << "video.host.org"
                                << "video.www.host.org"
                                << "https://video.www.host.org";
    QTest::newRow("empty") << ""
                           << "Embed"
                           << ""
                           << "about:blank";
    QTest::newRow("text with spaces") << "not a url at all"
                                      << "Embed"
                                      << "not a url at all"
                                      << "about:blank";
}

void TestLinkedBlocks::hostLabels()
{
    QFETCH(QString, url);
    QFETCH(QString, embedLabel);
    QFETCH(QString, bookmarkHost);
    QFETCH(QString, target);
    QCOMPARE(EmbedBlock::hostLabel(url), embedLabel);
    QCOMPARE(BookmarkBlock::hostLabel(url), bookmarkHost);
    QCOMPARE(EmbedBlock::linkTarget(url).toString(), target);
    QCOMPARE(BookmarkBlock::linkTarget(url).toString(), target);
}

void TestLinkedBlocks::embedEntryAndCard()
{
    const FNPage page = m_device->addPage(m_account.workspaceId, "Videos");
    const FNBlock block = addKind(*m_device, page, "embed", {});
    QVERIFY(openPage(*m_device, page));
    auto *view = viewOf<EmbedBlockView>(block);
    QVERIFY(view && view->entryField() && !view->card());
    QCOMPARE(view->entryField()->placeholderText(), QStringLiteral("Paste YouTube / Vimeo / iframe URL"));

    // Return does nothing; "Embed" stores the address without its blanks.
    QTest::keyClicks(view->entryField(), " \thttps://www.youtube.com/watch?v=abc \t");
    QTest::keyClick(view->entryField(), Qt::Key_Return);
    QCOMPARE(m_device->block(block.localID)->contentJSON, QStringLiteral("{}"));
    view->embedButton()->click();
    const QString url = QStringLiteral("https://www.youtube.com/watch?v=abc");
    QCOMPARE(
        BlockContent::readString(BlockContent::decode(m_device->block(block.localID)->contentJSON), "url"),
        url);
    QTRY_VERIFY(view->card() && !view->entryField());
    QCOMPARE(view->shownHost(), QStringLiteral("youtube.com"));

    // The pencil twice leaves the address; the link opens it in the browser.
    view->pencilButton()->click();
    QTRY_VERIFY(view->entryField());
    QCOMPARE(view->entryField()->text(), url);
    view->entryField()->setText(QStringLiteral("https://vimeo.com/1"));
    view->pencilButton()->click();
    QTRY_VERIFY(!view->entryField());
    QCOMPARE(view->shownHost(), QStringLiteral("youtube.com"));
    auto *link = view->card()->findChild<QWidget *>("embedLink");
    QVERIFY(link);
    QTest::mouseClick(link, Qt::LeftButton);
    QCOMPARE(m_opener.opened().value(m_opener.opened().size() - 1), QUrl(url));

    // "Embed" with an empty field clears the address.
    view->pencilButton()->click();
    QTRY_VERIFY(view->entryField());
    view->entryField()->clear();
    view->embedButton()->click();
    QTRY_VERIFY(!view->card() && view->entryField());
    QCOMPARE(
        BlockContent::readString(BlockContent::decode(m_device->block(block.localID)->contentJSON), "url"),
        QString());
}

QTEST_MAIN(TestLinkedBlocks)
#include "tst_linked_blocks.moc"
