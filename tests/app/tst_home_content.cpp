#include "app/home_content.h"
#include "app/home_dashboard.h"
#include "store/local_store.h"
#include "store/outbox.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <random>

namespace {

const QDateTime Base(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC);

// Where the content and a fresh look at the same state differ, in words; empty when they agree.
QString disagreement(const HomeContent &content, const StoreState &state)
{
    if (content.folders() != HomeDashboard::topLevelFolders(state))
        return QStringLiteral("top-level folders");
    for (const FNFolder &f : content.folders()) {
        if (!(content.counts(f) == HomeDashboard::folderCounts(state, f)))
            return QStringLiteral("counts of ") + f.name;
    }
    const std::vector<FNPage> recent = HomeDashboard::recentPages(state);
    if (content.recent() != recent) {
        QStringList shown, fresh;
        for (const FNPage &p : content.recent())
            shown << p.title;
        for (const FNPage &p : recent)
            fresh << p.title;
        return QStringLiteral("recent: ") + shown.join(QLatin1Char(',')) + QStringLiteral(" against ") +
               fresh.join(QLatin1Char(','));
    }
    return QString();
}

} // namespace

class TestHomeContent : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void agreesWithAFreshLookAfterEveryChange_data();
    void agreesWithAFreshLookAfterEveryChange();
    void tellsTheSectionsAChangeTouched_data();
    void tellsTheSectionsAChangeTouched();

private:
    // Twelve pages, the first the newest, four folders (one nested).
    void fillStore();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<LocalStore> m_store;
    std::vector<FNPage> m_pages;
    std::vector<FNFolder> m_folders;
    QDateTime m_now = Base;
};

void TestHomeContent::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_store = std::make_unique<LocalStore>(m_dir->path(), std::chrono::hours(1));
    m_store->setClock([this] { return m_now; });
    m_now = Base;
    fillStore();
}

void TestHomeContent::cleanup()
{
    m_store.reset();
    m_dir.reset();
}

void TestHomeContent::fillStore()
{
    m_folders.clear();
    m_pages.clear();
    for (int i = 0; i < 4; ++i) {
        FNFolder f;
        f.serverID = 100 + i;
        f.parentFolderServerID = i == 3 ? 100 : 0;
        f.position = 3 - i;
        f.name = QStringLiteral("F%1").arg(i);
        m_folders.push_back(f);
    }
    for (int i = 0; i < 12; ++i) {
        FNPage p;
        p.serverID = 1000 + i;
        p.folderServerID = i % 3 ? 100 + i % 4 : 0;
        p.title = QStringLiteral("p%1").arg(i);
        p.updatedAt = Base.addSecs(-600 * (i + 1));
        m_pages.push_back(p);
    }
    m_store->change([&](StoreState &s) {
        s.folders = m_folders;
        s.pages = m_pages;
    });
}

void TestHomeContent::agreesWithAFreshLookAfterEveryChange_data()
{
    QTest::addColumn<int>("seed");
    for (int seed = 1; seed <= 12; ++seed)
        QTest::addRow("seed %d", seed) << seed;
}

// Every kind of change a user or a pull makes, alone and in batches, in a random order: after each
// the content says what a fresh look at the state says.
void TestHomeContent::agreesWithAFreshLookAfterEveryChange()
{
    QFETCH(int, seed);
    std::mt19937 rng(seed);
    const auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    LocalStore &store = *m_store;
    HomeContent content(store);
    content.reload();
    QCOMPARE(disagreement(content, store.state()), QString());

    const auto anyPage = [&]() -> QString {
        const auto &pages = store.state().pages;
        return pages[size_t(pick(int(pages.size())))].localID;
    };
    const auto anyFolder = [&]() -> QString {
        const auto &folders = store.state().folders;
        return folders[size_t(pick(int(folders.size())))].localID;
    };
    qint64 nextServerID = 5000;
    QString step;
    const auto change = [&](int kind) {
        // Ties in time are as likely as not.
        m_now = m_now.addSecs(pick(2) * 60);
        switch (kind) {
        case 0:
            step = QStringLiteral("rename");
            store.editPage(anyPage(), [&](FNPage &p) { p.title += QLatin1Char('r'); });
            break;
        case 1:
            // A pull files the service's time, older or newer.
            step = QStringLiteral("pulled time");
            store.editPage(
                anyPage(), [&](FNPage &p) { p.updatedAt = Base.addSecs(600 * (pick(30) - 20)); },
                LocalStore::Stamp::Keep);
            break;
        case 2: {
            step = QStringLiteral("new page");
            FNPage p;
            p.serverID = pick(3) ? ++nextServerID : 0;
            p.folderServerID = pick(2) ? 100 + pick(5) : 0;
            p.title = QStringLiteral("n%1").arg(nextServerID);
            p.updatedAt = Base.addSecs(600 * (pick(30) - 20));
            store.upsertPage(p);
            break;
        }
        case 3:
            step = QStringLiteral("delete");
            store.markPageDeleted(anyPage());
            break;
        case 4:
            step = QStringLiteral("restore");
            store.restorePage(anyPage());
            break;
        case 5:
            step = QStringLiteral("move");
            store.editPage(
                anyPage(),
                [&](FNPage &p) {
                    p.folderServerID = pick(3) ? 100 + pick(5) : 0;
                    p.parentPageServerID = pick(4) ? 0 : 1000 + pick(12);
                },
                LocalStore::Stamp::Keep);
            break;
        case 6: {
            const QString id = anyFolder();
            switch (pick(4)) {
            case 0:
                step = QStringLiteral("folder renamed");
                store.editFolder(id, [](FNFolder &f) { f.name += QLatin1Char('r'); });
                break;
            case 1:
                step = QStringLiteral("folder moved");
                store.editFolder(id, [&](FNFolder &f) {
                    f.parentFolderServerID = pick(2) ? 0 : 100 + pick(4);
                    f.position = pick(5);
                });
                break;
            case 2:
                step = QStringLiteral("folder deleted or back");
                if (pick(2))
                    store.markFolderDeleted(id);
                else
                    store.restoreFolder(id);
                break;
            default: {
                step = QStringLiteral("new folder");
                FNFolder f;
                f.serverID = ++nextServerID;
                f.parentFolderServerID = pick(2) ? 0 : 100;
                f.name = QStringLiteral("G%1").arg(f.serverID);
                store.upsertFolder(f);
            }
            }
            break;
        }
        default:
            step = QStringLiteral("outbox");
            Outbox::of(store).pageDelete(anyPage(), 0);
        }
    };

    for (int i = 0; i < 300; ++i) {
        const int kind = pick(10);
        if (kind == 8) {
            QString steps;
            store.batch([&] {
                for (int n = 1 + pick(4); n > 0; --n) {
                    change(pick(7));
                    steps += step + QLatin1Char(' ');
                }
            });
            step = QStringLiteral("batch: ") + steps;
        } else if (kind == 9 && pick(10) == 0) {
            step = QStringLiteral("bulk edit");
            store.change(
                [&](StoreState &s) { s.pages[size_t(pick(int(s.pages.size())))].title += QLatin1Char('b'); });
        } else {
            change(kind == 9 ? 7 : kind);
        }
        const QString wrong = disagreement(content, store.state());
        QVERIFY2(wrong.isEmpty(), qPrintable(QStringLiteral("step %1 (%2): %3").arg(i).arg(step, wrong)));
    }
}

void TestHomeContent::tellsTheSectionsAChangeTouched_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("folders");
    QTest::addColumn<bool>("recent");
    QTest::newRow("a recent page renamed") << "rename recent" << false << true;
    QTest::newRow("an old page renamed as filed") << "file old title" << false << false;
    QTest::newRow("an old page moved to a folder") << "move old" << true << false;
    QTest::newRow("a folder renamed") << "rename folder" << true << false;
    QTest::newRow("a page's badges") << "badges" << false << true;
    QTest::newRow("the outbox") << "outbox" << false << false;
}

// What a change tells: the dashboard fills only the sections named, so a keystroke's rename never
// touches the folders and the outbox touches nothing.
void TestHomeContent::tellsTheSectionsAChangeTouched()
{
    QFETCH(QString, change);
    QFETCH(bool, folders);
    QFETCH(bool, recent);
    LocalStore &store = *m_store;
    HomeContent content(store);
    content.reload();
    HomeContent::Changes told;
    int tellings = 0;
    connect(&content, &HomeContent::changed, this, [&](const HomeContent::Changes &changes) {
        told |= changes;
        ++tellings;
    });
    const QString recentPage = m_pages[1].localID;
    const QString oldPage = m_pages[9].localID; // in no folder, older than the eight recent
    m_now = Base.addSecs(60);
    if (change == QLatin1String("rename recent"))
        store.editPage(recentPage, [](FNPage &p) { p.title = QStringLiteral("new"); });
    else if (change == QLatin1String("file old title"))
        store.editPage(
            oldPage, [](FNPage &p) { p.title = QStringLiteral("new"); }, LocalStore::Stamp::Keep);
    else if (change == QLatin1String("move old"))
        store.editPage(
            oldPage, [](FNPage &p) { p.folderServerID = 101; }, LocalStore::Stamp::Keep);
    else if (change == QLatin1String("rename folder"))
        store.editFolder(m_folders[0].localID, [](FNFolder &f) { f.name = QStringLiteral("new"); });
    else if (change == QLatin1String("badges"))
        store.setPageStatus(m_pages[0].serverID, FNPageStatus{true, 0});
    else if (change == QLatin1String("outbox"))
        Outbox::of(store).pageDelete(oldPage, m_pages[9].serverID);
    QCOMPARE(told.folders, folders);
    QCOMPARE(told.recent, recent);
    QCOMPARE(tellings, folders || recent ? 1 : 0);
    QCOMPARE(disagreement(content, store.state()), QString());
}

QTEST_MAIN(TestHomeContent)
#include "tst_home_content.moc"
