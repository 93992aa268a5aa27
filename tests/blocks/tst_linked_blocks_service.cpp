#include "editor/export_actions.h"
#include "library/library_creator.h"
#include "linked_blocks_fixture.h"

using namespace linkedBlocks;

// Linked blocks and the service: a bookmark's preview, a mirror and a page link kept current by
// pulls, and a link to a page that reaches the service after it was picked, also through a template or
// as an earlier launch left it.
class TestLinkedBlocksService : public LinkedBlocksFixture
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { start(); }
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void bookmarkPreviewFromTheService();
    void mirrorFollowsAnEditOnAnotherDevice();
    void trashedTargetShowsDeleted();
    void linkToAPageNotOnTheServiceYet();
    void linkLeftBeforeItsPageIsSentReachesAnotherDevice();
    void linkNamedByLocalIDReachesAnotherDevice_data();
    void linkNamedByLocalIDReachesAnotherDevice();
};

void TestLinkedBlocksService::bookmarkPreviewFromTheService()
{
    m_device->setToken(m_account.token);
    const QString url = QStringLiteral("https://www.example.com/guides/pasta-dough.html");
    const FNPage page = m_device->addPage(m_account.workspaceId, "Reading");
    const FNBlock block = addKind(*m_device, page, "bookmark", {});
    QVERIFY(openPage(*m_device, page));
    auto *view = viewOf<BookmarkBlockView>(block);
    QVERIFY(view && view->entryField());
    QCOMPARE(view->entryField()->placeholderText(), QStringLiteral("Paste URL"));
    view->bookmarkButton()->click(); // an empty field does nothing
    QTest::keyClicks(view->entryField(), "   ");
    view->bookmarkButton()->click();
    QVERIFY(m_fake.requestsTo("/api/bookmark-fetch.php").isEmpty());

    view->entryField()->setText(QStringLiteral("  ") + url);
    view->bookmarkButton()->click();
    // The card at once with the address, then the preview.
    QTRY_VERIFY(view->card());
    QTRY_COMPARE(view->shownLines(), (QStringList{"Pasta dough | example.com",
                                                  "About pasta dough, on example.com.", "www.example.com"}));
    QCOMPARE(m_fake.requestsTo("/api/bookmark-fetch.php").value(0).body,
             QByteArray("{\"url\":\"") + url.toUtf8() + "\"}");
    QVERIFY(view->thumbnail());
    QCOMPARE(view->thumbnail()->size(), QSize(90, 70));
    // The thumbnail comes through the shared loader from the fake, over loopback.
    QTRY_VERIFY(view->isThumbnailLoaded());
    QCOMPARE(m_fake.requestsTo("/og-images/www.example.com.png").size(), 1);
    // Opened again, the page shows the thumbnail from the loader's cache, without a download.
    m_view.reset();
    QVERIFY(openPage(*m_device, page));
    view = viewOf<BookmarkBlockView>(block);
    QVERIFY(view && view->isThumbnailLoaded());
    QCOMPARE(m_fake.requestsTo("/og-images/www.example.com.png").size(), 1);

    QTest::mouseClick(view->card(), Qt::LeftButton, {}, QPoint(20, 10));
    QCOMPARE(m_opener.opened().value(m_opener.opened().size() - 1), QUrl(url));
}

void TestLinkedBlocksService::mirrorFollowsAnEditOnAnotherDevice()
{
    m_device->setToken(m_account.token);
    TestDevice other(m_fake.origin(), m_fake.issueToken(m_account.userId, "other"));
    const FNPage sourcePage = other.addPage(m_account.workspaceId, "Source page");
    QVERIFY(other.sync());
    const FNBlock source = other.addBlock(sourcePage.localID, "first words", 0);
    QVERIFY(other.queueBlockUpsert(sourcePage.localID));
    QVERIFY(other.sync());
    const qint64 sourceID = other.block(source.localID)->serverID;
    QVERIFY(sourceID != 0);

    QVERIFY(m_device->sync());
    const FNPage page = m_device->addPage(m_account.workspaceId, "Mirror page");
    const FNBlock mirror = addKind(*m_device, page, "synced", {{"source_id", sourceID}});
    QVERIFY(openPage(*m_device, page));
    auto *view = viewOf<SyncedBlockView>(mirror);
    QCOMPARE(view->previewText(), QStringLiteral("first words"));
    QCOMPARE(view->sourceLine(), QStringLiteral("Synced from “Source page”"));

    other.setBlockText(source.localID, "second words");
    QVERIFY(other.queueBlockUpsert(sourcePage.localID));
    QVERIFY(other.sync());
    QVERIFY(m_device->sync());
    QTRY_COMPARE(view->previewText(), QStringLiteral("second words"));

    // Deleted at the source: the mirror says so, and "Re-link" opens the search.
    other.queueBlockDelete(source.localID);
    QVERIFY(other.sync());
    QVERIFY(m_device->sync());
    QTRY_COMPARE(view->state(), SyncedBlockView::State::Broken);
    auto *relink = view->findChild<QPushButton *>("relink");
    QVERIFY(relink);
    relink->click();
    QTRY_COMPARE(viewOf<SyncedBlockView>(mirror)->state(), SyncedBlockView::State::Search);
    QCOMPARE(m_device->block(mirror.localID)->contentJSON, QStringLiteral("{\"source_id\":0}"));
}

void TestLinkedBlocksService::trashedTargetShowsDeleted()
{
    m_device->setToken(m_account.token);
    TestDevice other(m_fake.origin(), m_fake.issueToken(m_account.userId, "other"));
    const FNPage target = other.addPage(m_account.workspaceId, "Recipes");
    QVERIFY(other.sync());
    const qint64 targetID = other.page(target.localID)->serverID;
    QVERIFY(m_device->sync());
    const FNPage page = m_device->addPage(m_account.workspaceId, "Index");
    const FNBlock link = addKind(*m_device, page, "mention", {{"page_id", targetID}});
    QVERIFY(openPage(*m_device, page));
    auto *view = viewOf<MentionBlockView>(link);
    QCOMPARE(view->chipLabel(), QString::fromUtf8(kPageIcon) + " Recipes");

    other.queuePageDelete(target.localID);
    QVERIFY(other.sync());
    QVERIFY(m_device->sync());
    QTRY_COMPARE(view->state(), MentionBlockView::State::Missing);
    const auto shows = [view](const QString &text) {
        const auto labels = view->findChildren<QLabel *>();
        return std::any_of(labels.begin(), labels.end(),
                           [&](const QLabel *l) { return l->isVisible() && l->text() == text; });
    };
    QTRY_VERIFY(shows(QStringLiteral("Linked page was deleted")));

    // Restored here, the chip comes back; "Re-link" drops the link.
    m_device->store().restorePage(m_device->pageWithServerID(targetID)->localID);
    QTRY_COMPARE(view->state(), MentionBlockView::State::Linked);
    m_device->store().markPageDeleted(m_device->pageWithServerID(targetID)->localID);
    QTRY_COMPARE(view->state(), MentionBlockView::State::Missing);
    view->findChild<QPushButton *>("relink")->click();
    QTRY_COMPARE(viewOf<MentionBlockView>(link)->state(), MentionBlockView::State::Search);
}

void TestLinkedBlocksService::linkToAPageNotOnTheServiceYet()
{
    m_device->setToken(m_account.token);
    LocalStore &store = m_device->store();
    const FNPage page = m_device->addPage(m_account.workspaceId, "Links");
    const FNPage draft = m_device->addPage(m_account.workspaceId, "Draft");
    const FNBlock link = addKind(*m_device, page, "mention", {});
    QVERIFY(openPage(*m_device, page));
    auto *view = viewOf<MentionBlockView>(link);
    view->searchField()->setFocus();
    QTRY_VERIFY(view->searchField()->hasFocus());
    QTest::keyClicks(view->searchField(), "draft");
    QTRY_COMPARE(texts(view->resultButtons()), QStringList{QString::fromUtf8(kPageIcon) + " Draft"});
    view->resultButtons().front()->click();
    QCOMPARE(view->state(), MentionBlockView::State::Linked);
    QCOMPARE(view->chipLabel(), QString::fromUtf8(kPageIcon) + " Draft");

    // The page reaches the service: the link takes its id, and the edit reaches the service too.
    QVERIFY(m_device->sync());
    const qint64 draftID = m_device->page(draft.localID)->serverID;
    QVERIFY(draftID != 0);
    QTRY_COMPARE(store.block(link.localID)->contentJSON, encoded({{"page_id", draftID}}));
    QCOMPARE(viewOf<MentionBlockView>(link)->state(), MentionBlockView::State::Linked);
    const auto sentLink = [&] {
        const FNBlock *stored = store.block(link.localID);
        if (!stored || stored->serverID == 0 || !m_fake.state().blocks.count(stored->serverID))
            return false;
        const JSONObject &content = m_fake.state().blocks.at(stored->serverID).content;
        return content.count(QStringLiteral("page_id")) &&
               content.at(QStringLiteral("page_id")).toInt() == draftID &&
               !content.count(QStringLiteral("page_local_id"));
    };
    QTRY_VERIFY_WITH_TIMEOUT(m_device->sync() && sentLink(), 10000);
}

void TestLinkedBlocksService::linkLeftBeforeItsPageIsSentReachesAnotherDevice()
{
    m_device->setToken(m_account.token);
    LocalStore &store = m_device->store();
    const FNPage page = m_device->addPage(m_account.workspaceId, "Reading list");
    QVERIFY(m_device->sync());
    const qint64 pageID = m_device->page(page.localID)->serverID;
    QVERIFY(pageID != 0);

    // "Notes draft" is not on the service yet when it is picked, and the page holding the link is
    // left before it is.
    const FNPage draft = m_device->addPage(m_account.workspaceId, "Notes draft");
    const FNBlock link = addKind(*m_device, page, "mention", {});
    QVERIFY(openPage(*m_device, page));
    auto *view = viewOf<MentionBlockView>(link);
    QVERIFY(view);
    view->searchField()->setFocus();
    QTRY_VERIFY(view->searchField()->hasFocus());
    QTest::keyClicks(view->searchField(), "notes draft");
    QTRY_COMPARE(texts(view->resultButtons()), QStringList{QString::fromUtf8(kPageIcon) + " Notes draft"});
    view->resultButtons().front()->click();
    QCOMPARE(store.block(link.localID)->contentJSON,
             encoded({{"page_id", 0}, {"page_local_id", draft.localID}}));
    m_view.reset();

    // Its id reaches the link in the store and on the service, though the link is never drawn again.
    QVERIFY(m_device->sync());
    const qint64 draftID = m_device->page(draft.localID)->serverID;
    QVERIFY(draftID != 0);
    QCOMPARE(store.block(link.localID)->contentJSON, encoded({{"page_id", draftID}}));
    const auto sent = [&] {
        const FNBlock *stored = store.block(link.localID);
        return stored && stored->serverID != 0 && m_fake.state().blocks.count(stored->serverID)
                   ? m_fake.state().blocks.at(stored->serverID).content
                   : JSONObject{};
    };
    const JSONObject expected{{QStringLiteral("page_id"), draftID}};
    QTRY_VERIFY_WITH_TIMEOUT(m_device->sync() && sent() == expected, 10000);

    // Another device shows the link to the page.
    TestDevice other(m_fake.origin(), m_fake.issueToken(m_account.userId, "other"));
    QVERIFY(other.sync());
    const FNPage *otherPage = other.pageWithServerID(pageID);
    const FNBlock *otherLink = other.store().blockWithServerID(store.block(link.localID)->serverID);
    QVERIFY(otherPage && otherLink);
    const FNBlock shown = *otherLink;
    QVERIFY(openPage(other, *otherPage));
    QTRY_VERIFY(viewOf<MentionBlockView>(shown));
    QCOMPARE(viewOf<MentionBlockView>(shown)->state(), MentionBlockView::State::Linked);
    QCOMPARE(viewOf<MentionBlockView>(shown)->chipLabel(), QString::fromUtf8(kPageIcon) + " Notes draft");
    m_view.reset(); // before the device it shows
}

void TestLinkedBlocksService::linkNamedByLocalIDReachesAnotherDevice_data()
{
    QTest::addColumn<bool>("fromTemplate"); // else stored so by an earlier launch
    QTest::newRow("a page made from a template saved before the linked page was sent") << true;
    QTest::newRow("a link an earlier launch left naming a page sent since") << false;
}

void TestLinkedBlocksService::linkNamedByLocalIDReachesAnotherDevice()
{
    QFETCH(bool, fromTemplate);
    LocalStore &store = m_device->store();
    FNWorkspace workspace;
    workspace.serverID = m_account.workspaceId;
    store.setWorkspaces({workspace});
    // Offline (signed out): the link is picked to a page not on the service.
    const FNPage draft = m_device->addPage(m_account.workspaceId, "Draft plan");
    const FNPage holder = m_device->addPage(m_account.workspaceId, "Weekly");
    const JSONObject byLocalID{{QStringLiteral("page_id"), qint64(0)},
                               {QStringLiteral("page_local_id"), draft.localID}};
    addKind(*m_device, holder, "mention", byLocalID);
    const PageTemplate saved = ExportActions::makeTemplate(holder, ExportActions::blocksOf(store, holder.localID));

    m_device->setToken(m_account.token);
    QVERIFY(m_device->sync());
    const qint64 draftID = m_device->page(draft.localID)->serverID;
    QVERIFY(draftID != 0);

    QString madeLocalID;
    if (fromTemplate) {
        LibraryCreator creator(store, m_device->engine(), nullptr);
        madeLocalID = creator.createPageFromTemplate(saved).value_or(QString());
        QVERIFY(!madeLocalID.isEmpty());
        // Here at once, before anything is sent.
        QCOMPARE(store.blocksOfPage(madeLocalID).size(), size_t(1));
        QCOMPARE(store.blocksOfPage(madeLocalID).front()->contentJSON, encoded({{"page_id", draftID}}));
        for (int cycles = 0; cycles < 4 && store.page(madeLocalID)->serverID == 0; ++cycles)
            QVERIFY(m_device->sync());
        QVERIFY(m_device->sync());
    } else {
        const FNPage made = m_device->addPage(m_account.workspaceId, "Weekly copy");
        madeLocalID = made.localID;
        QVERIFY(m_device->sync());
        addKind(*m_device, *m_device->page(madeLocalID), "mention", byLocalID);
        QVERIFY(m_device->queueBlockUpsert(madeLocalID));
        QVERIFY(m_device->sync());
    }
    const qint64 madeID = m_device->page(madeLocalID)->serverID;
    QVERIFY(madeID != 0);
    const auto sentLinks = [&] {
        std::vector<JSONObject> out;
        for (const auto &[id, block] : m_fake.state().blocks) {
            if (block.pageId == madeID)
                out.push_back(block.content);
        }
        return out;
    };
    QTRY_VERIFY_WITH_TIMEOUT(m_device->sync() && sentLinks().size() == 1, 10000);
    QCOMPARE(sentLinks().front(), (JSONObject{{QStringLiteral("page_id"), draftID}}));

    // Another device shows the link to the page, though this one never drew it.
    TestDevice other(m_fake.origin(), m_fake.issueToken(m_account.userId, "other"));
    QVERIFY(other.sync());
    const FNPage *otherPage = other.pageWithServerID(madeID);
    QVERIFY(otherPage);
    const std::vector<const FNBlock *> otherBlocks = other.store().blocksOfPage(otherPage->localID);
    QCOMPARE(otherBlocks.size(), size_t(1));
    const FNBlock shown = *otherBlocks.front();
    QVERIFY(openPage(other, *otherPage));
    QTRY_VERIFY(viewOf<MentionBlockView>(shown));
    QCOMPARE(viewOf<MentionBlockView>(shown)->state(), MentionBlockView::State::Linked);
    QCOMPARE(viewOf<MentionBlockView>(shown)->chipLabel(), QString::fromUtf8(kPageIcon) + " Draft plan");
    m_view.reset(); // before the device it shows
}

QTEST_MAIN(TestLinkedBlocksService)
#include "tst_linked_blocks_service.moc"
