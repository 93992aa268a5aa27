#include "ui/toast_center.h"
#include "ui/toast_overlay.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;

class TestToastCenter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void showsAndDismissesAfterItsDuration();
    void replacementGetsItsOwnFullDuration();
    void actionRunsOnceThenDismisses();
    void actionMayShowItsOwnToast();
    void buttonOnlyWithLabel_data();
    void buttonOnlyWithLabel();
    void dismissWhileIdle();
    void longMessageKeepsTwoLines();
    void overlayStaysInFrontOfLaterScreens();

private:
    std::unique_ptr<ToastCenter> m_center;
    std::unique_ptr<QWidget> m_host;
    ToastOverlay *m_overlay = nullptr;
};

void TestToastCenter::init()
{
    m_center = std::make_unique<ToastCenter>();
    m_host = std::make_unique<QWidget>();
    m_host->resize(800, 600);
    m_overlay = new ToastOverlay(*m_center, m_host.get());
    m_host->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_host.get()));
}

void TestToastCenter::cleanup()
{
    m_host.reset();
    m_center.reset();
}

void TestToastCenter::showsAndDismissesAfterItsDuration()
{
    QVERIFY(!m_overlay->isVisible());
    // Long enough to stay while it is looked at, however late the loop runs.
    m_center->show(QStringLiteral("Page deleted"), std::nullopt, {}, 1h);
    QCOMPARE(m_center->current()->message, QStringLiteral("Page deleted"));
    QVERIFY(m_overlay->isVisible());
    QCOMPARE(m_overlay->messageLabel()->text(), QStringLiteral("Page deleted"));
    // Resting over the bottom edge, centred, 28 above it.
    QTRY_VERIFY(qAbs(m_overlay->x() + m_overlay->width() / 2 - m_host->width() / 2) <= 1);

    // A short one goes by itself.
    QSignalSpy changes(m_center.get(), &ToastCenter::currentChanged);
    m_center->show(QStringLiteral("Moved"), std::nullopt, {}, 30ms);
    QTRY_VERIFY(!m_center->current());
    QCOMPARE(changes.size(), 2);
    QTRY_VERIFY(!m_overlay->isVisible());

    // The product duration is five seconds, counted from the show.
    QElapsedTimer since;
    since.start();
    m_center->show(QStringLiteral("Saved"));
    const std::optional<std::chrono::milliseconds> left = m_center->remaining();
    QVERIFY(left);
    // A coarse timer, so within 5 %, and rounded to its own steps.
    QVERIFY(*left <= 5250ms);
    QVERIFY2(*left >= 4500ms - std::chrono::milliseconds(since.elapsed()), qPrintable(QString::number(left->count())));
}

void TestToastCenter::replacementGetsItsOwnFullDuration()
{
    QSignalSpy changes(m_center.get(), &ToastCenter::currentChanged);
    QElapsedTimer since;
    since.start();
    m_center->show(QStringLiteral("First"), std::nullopt, {}, 40ms);
    const QUuid first = m_center->current()->id;
    m_center->show(QStringLiteral("Second"), std::nullopt, {}, 4000ms);
    QVERIFY(m_center->current()->id != first);
    QCOMPARE(m_overlay->messageLabel()->text(), QStringLiteral("Second"));
    QCOMPARE(changes.size(), 2);

    // The first toast's 40 ms pass, by the clock, without touching the second: only the second's own
    // time ends it.
    QTest::qWait(150);
    // A coarse timer ends up to 5 % early.
    if (since.elapsed() < 3700) {
        QCOMPARE(changes.size(), 2);
        QCOMPARE(m_center->current()->message, QStringLiteral("Second"));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!m_center->current(), 20000);
    QVERIFY(since.elapsed() >= 3700);
    QCOMPARE(changes.size(), 3);
}

void TestToastCenter::actionRunsOnceThenDismisses()
{
    int runs = 0;
    QElapsedTimer shown;
    shown.start();
    m_center->show(
        QStringLiteral("Page deleted"), QStringLiteral("Undo"), [&] { ++runs; }, 200ms);
    QVERIFY(m_overlay->actionButton()->isVisible());
    QCOMPARE(m_overlay->actionButton()->text(), QStringLiteral("Undo"));

    QTest::mouseClick(m_overlay->actionButton(), Qt::LeftButton);
    QCOMPARE(runs, 1);
    QVERIFY(!m_center->current());
    QVERIFY(!m_center->hasAction());
    // Neither the old timer nor a late click does anything more, once its 200 ms are over by the clock.
    m_center->runAction(QUuid());
    QSignalSpy changes(m_center.get(), &ToastCenter::currentChanged);
    QTest::qWait(300);
    QVERIFY(shown.elapsed() >= 300);
    QCOMPARE(changes.size(), 0);
    QCOMPARE(runs, 1);
    QTRY_VERIFY(!m_overlay->isVisible());
}

void TestToastCenter::actionMayShowItsOwnToast()
{
    m_center->show(QStringLiteral("Page deleted"), QStringLiteral("Undo"),
                   [this] { m_center->show(QStringLiteral("Page restored")); });
    m_center->runAction(m_center->current()->id);
    QVERIFY(m_center->current());
    QCOMPARE(m_center->current()->message, QStringLiteral("Page restored"));
    QCOMPARE(m_overlay->messageLabel()->text(), QStringLiteral("Page restored"));
    QVERIFY(!m_overlay->actionButton()->isVisibleTo(m_overlay));
}

void TestToastCenter::buttonOnlyWithLabel_data()
{
    QTest::addColumn<bool>("label");
    QTest::addColumn<bool>("action");
    QTest::addColumn<bool>("button");

    QTest::newRow("label and action") << true << true << true;
    QTest::newRow("action without label") << false << true << false;
    QTest::newRow("neither") << false << false << false;
}

void TestToastCenter::buttonOnlyWithLabel()
{
    QFETCH(bool, label);
    QFETCH(bool, action);
    QFETCH(bool, button);

    m_center->show(QStringLiteral("Done"),
                   label ? std::optional<QString>(QStringLiteral("Undo")) : std::nullopt,
                   action ? ToastCenter::Action([] {}) : ToastCenter::Action());
    QCOMPARE(m_overlay->actionButton()->isVisible(), button);
}

void TestToastCenter::dismissWhileIdle()
{
    QSignalSpy changes(m_center.get(), &ToastCenter::currentChanged);
    m_center->dismiss();
    QVERIFY(!m_center->current());
    QCOMPARE(changes.size(), 0);
    QVERIFY(!m_overlay->isVisible());

    int runs = 0;
    m_center->show(QStringLiteral("Done"), QStringLiteral("Undo"), [&] { ++runs; });
    m_center->dismiss();
    m_center->dismiss();
    QCOMPARE(runs, 0);
    QVERIFY(!m_center->hasAction());
    QVERIFY(!m_center->remaining());
}

void TestToastCenter::longMessageKeepsTwoLines()
{
    const QString message =
        QStringLiteral("The page could not be saved because the service is unreachable; it stays "
                       "in the outbox and is sent again when you are back online, so nothing "
                       "you wrote is lost while you keep working here.");
    m_center->show(message);
    QLabel *label = m_overlay->messageLabel();
    QVERIFY(label->text() != message);
    QVERIFY(label->text().endsWith(QChar(0x2026)));
    const int lineHeight = QFontMetrics(label->font()).lineSpacing();
    QVERIFY(label->heightForWidth(label->width()) <= 2 * lineHeight + 2);
    QVERIFY(m_overlay->width() < m_host->width());

    m_center->show(QStringLiteral("Short"));
    QCOMPARE(label->text(), QStringLiteral("Short"));
}

void TestToastCenter::overlayStaysInFrontOfLaterScreens()
{
    auto *screen = new QWidget(m_host.get());
    screen->setGeometry(m_host->rect());
    screen->show();
    // Long enough to stay while it is looked at, however late the loop runs.
    m_center->show(QStringLiteral("Over everything"), std::nullopt, {}, 1h);
    // Slid in far enough to be looked for at its centre: wholly inside the host.
    QTRY_VERIFY(m_host->rect().contains(m_overlay->geometry()));
    const QPoint inside = m_overlay->geometry().center();
    QWidget *top = m_host->childAt(inside);
    QVERIFY(top);
    QVERIFY(top == m_overlay || m_overlay->isAncestorOf(top));
}

QTEST_MAIN(TestToastCenter)
#include "tst_toast_center.moc"
