// What the sidebar and the home dashboard cost the GUI thread over the large state. First a change of
// the outbox alone: a push takes one operation out per reply and the event loop turns in between, so
// any listing that rebuilds on it does so once per operation; its anchor is the same changes with no
// view open. Then a page rename with the sidebar and the dashboard shown, against the same rename with
// the dashboard hidden behind an open page (as each keystroke in a page's title makes): the ratio says
// what the dashboard adds to a rename. A rename is timed from the edit until every view showing the
// page has painted its new title; each round times many renames of each kind, and the figures are
// medians of the rounds. Offscreen; run a Release build: bench_outbox_listing [rounds]
#include "app/home_view.h"
#include "bench_state.h"
#include "bench_stats.h"
#include "library/library_list_view.h"
#include "library/library_row_model.h"
#include "library/library_view.h"
#include "ui/fitted_text.h"
#include "support/app_harness.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

constexpr int kOps = 200;
constexpr int kRenamesPerRound = 16;

// Lets every queued rebuild run, as the event loop does between two replies of a push.
void turn()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// Waits out any save armed or under way, so none lands inside a timed change.
void settle(LocalStore &store)
{
    QElapsedTimer waited;
    waited.start();
    while (store.isSavePending() && waited.elapsed() < 120000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    turn();
}

// GUI-thread time of queuing `kOps` page updates and taking them out one at a time, as a push does,
// per outbox change.
double perOutboxChange(LocalStore &store, const QString &pageID, int round)
{
    std::vector<QString> ids;
    for (int i = 0; i < kOps; ++i) {
        PagePatchReq patch;
        patch.title = QStringLiteral("Title %1 of round %2").arg(i).arg(round);
        if (auto op = Outbox::of(store).pageUpdate(pageID, patch, Outbox::Unencodable::QueueNothing))
            ids.push_back(op->localID);
    }
    turn();
    const double start = threadCpuMs();
    for (const QString &id : ids) {
        Outbox::of(store).drop(id);
        turn();
    }
    return (threadCpuMs() - start) / double(ids.size());
}

// Counts the paints of the widgets that show the renamed page.
class PaintWatch : public QObject
{
public:
    void watch(QWidget *widget)
    {
        widget->installEventFilter(this);
        m_painted[widget] = 0;
    }
    void forget(QWidget *widget)
    {
        widget->removeEventFilter(this);
        m_painted.remove(widget);
    }
    void reset()
    {
        for (int &count : m_painted)
            count = 0;
    }
    bool allPainted() const
    {
        return std::all_of(m_painted.begin(), m_painted.end(), [](int count) { return count > 0; });
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++m_painted[watched];
        return false;
    }

private:
    QHash<QObject *, int> m_painted;
};

// GUI-thread time of one rename of the page, from the edit until each watched view has painted it.
double rename(LocalStore &store, PaintWatch &paints, const QString &pageID, const QString &title)
{
    settle(store);
    paints.reset();
    const double start = threadCpuMs();
    store.editPage(pageID, [&](FNPage &p) { p.title = title; });
    QElapsedTimer waited;
    waited.start();
    turn();
    // Waiting blocks the thread, so it is not charged.
    while (!paints.allPainted() && waited.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    const double spent = threadCpuMs() - start;
    if (!paints.allPainted()) {
        std::fprintf(stderr, "a rename to \"%s\" was never painted\n", qPrintable(title));
        std::exit(2);
    }
    return spent;
}

// Median GUI-thread time per rename over a run of renames, as typing a title makes.
double renames(LocalStore &store, PaintWatch &paints, const QString &pageID, const QString &prefix)
{
    std::vector<double> each;
    for (int i = 0; i < kRenamesPerRound; ++i)
        each.push_back(rename(store, paints, pageID, QStringLiteral("%1 %2").arg(prefix).arg(i)));
    double sum = 0;
    for (const double ms : each)
        sum += ms;
    return sum / double(each.size());
}

QString shownText(const QWidget *widget)
{
    if (const auto *label = qobject_cast<const QLabel *>(widget))
        return label->text();
    if (const auto *text = dynamic_cast<const FittedText *>(widget))
        return text->text();
    return {};
}

double loadAverage()
{
    double load[1] = {0};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = std::max(5, argc > 1 ? QByteArray(argv[1]).toInt() : 7);

    AppDevice device;
    AppHarness harness(device);
    LocalStore &store = harness.store;
    store.change([](StoreState &s) { s = BenchState::generate(); });
    const qint64 workspace = store.currentWorkspaceServerID();
    // A page at the top of the sidebar's list, so its row is on screen there.
    const auto it =
        std::find_if(store.state().pages.begin(), store.state().pages.end(), [&](const FNPage &p) {
            return !p.deletedAt && p.workspaceServerID == workspace && p.folderServerID == 0 &&
                   p.parentPageServerID == 0;
        });
    if (it == store.state().pages.end())
        return 1;
    const QString pageID = it->localID;
    const double loadBefore = loadAverage();

    std::vector<double> bare, shown, renamesShown, renamesHidden, ratios;
    for (int r = 0; r < rounds; ++r)
        bare.push_back(perOutboxChange(store, pageID, r));

    QWidget window;
    auto *library = new LibraryView(harness.context(), &window);
    auto *home = new HomeView(harness.context(), &window);
    library->setGeometry(0, 0, 280, 900);
    home->setGeometry(280, 0, 1120, 900);
    window.resize(1400, 900);
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    QTest::qWait(200);

    // The renamed page leads the recent cards from its first rename on.
    PaintWatch paints;
    paints.watch(library->listView()->viewport());
    rename(store, paints, pageID, QStringLiteral("Warm-up"));
    const QModelIndex row = library->indexOfRow(QStringLiteral("page:") + pageID);
    if (!row.isValid() || home->recentCards().isEmpty())
        return 1;
    library->listView()->scrollTo(row);
    QWidget *cardTitle = home->recentCards().first()->findChild<QWidget *>(QStringLiteral("title"));
    // Below the many folders: scrolled to, as a user reading it has.
    home->findChild<QScrollArea *>()->ensureWidgetVisible(home->recentCards().first());
    turn();

    const auto renameShown = [&](int r) {
        paints.watch(cardTitle);
        renamesShown.push_back(renames(store, paints, pageID, QStringLiteral("Renamed in round %1,").arg(r)));
        paints.forget(cardTitle);
        if (shownText(cardTitle) != store.page(pageID)->title) {
            std::fprintf(stderr, "the dashboard shows \"%s\"\n", qPrintable(shownText(cardTitle)));
            std::exit(2);
        }
    };
    const auto renameHidden = [&](int r) {
        home->hide();
        renamesHidden.push_back(renames(store, paints, pageID, QStringLiteral("Typed in round %1,").arg(r)));
        home->show();
        turn();
    };
    for (int r = 0; r < rounds; ++r) {
        shown.push_back(perOutboxChange(store, pageID, r + rounds));
        // Alternated, so neither kind always follows the other.
        if (r % 2)
            renameHidden(r);
        renameShown(r);
        if (r % 2 == 0)
            renameHidden(r);
        if (library->rowModel().data(library->indexOfRow(QStringLiteral("page:") + pageID)).toString() !=
            store.page(pageID)->title) {
            std::fprintf(stderr, "the sidebar does not show the last title\n");
            return 2;
        }
        ratios.push_back(renamesShown.back() / renamesHidden.back());
        std::printf("round %d: per outbox change %.3f ms with no view, %.3f ms with the sidebar and the "
                    "dashboard shown; a page rename %.3f ms, %.3f ms with the dashboard hidden (%.2fx)\n",
                    r + 1, bare.back(), shown.back(), renamesShown.back(), renamesHidden.back(), ratios.back());
        std::fflush(stdout);
    }
    const double b = median(bare), s = median(shown), n = median(renamesShown), h = median(renamesHidden);
    std::printf("outbox change with the sidebar and the dashboard over %d blocks (medians of %d): %.3f ms = "
                "%.2fx the same change with no view (%.3f ms), %.3f of a 16 ms frame\n",
                BenchState::kBlocks, rounds, s, s / b, b, s / 16.0);
    std::printf("page rename until painted, sidebar and dashboard shown: %.3f ms = %.2fx the same rename "
                "with the dashboard hidden (%.3f ms); medians of %d rounds of %d renames; %.2f of a 16 ms "
                "frame; median of the rounds' ratios %.2fx, highest %.2fx\n",
                n, n / h, h, rounds, kRenamesPerRound, n / 16.0, median(ratios),
                *std::max_element(ratios.begin(), ratios.end()));
    std::printf("load average %.2f before, %.2f after\n", loadBefore, loadAverage());
    store.changeOutsideRecords([](StoreState &state) { state.outbox.clear(); });
    return 0;
}
