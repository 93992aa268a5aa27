#include "ui/empty_state_view.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

class TestEmptyStateView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void buttonNeedsTitleAndAction_data();
    void buttonNeedsTitleAndAction();
    void longSubtitleWrapsCentred();
};

void TestEmptyStateView::buttonNeedsTitleAndAction_data()
{
    QTest::addColumn<bool>("subtitle");
    QTest::addColumn<bool>("actionTitle");
    QTest::addColumn<bool>("action");
    QTest::addColumn<bool>("button");

    QTest::newRow("everything") << true << true << true << true;
    QTest::newRow("no subtitle") << false << true << true << true;
    QTest::newRow("title without action") << true << true << false << false;
    QTest::newRow("action without title") << true << false << true << false;
    QTest::newRow("title only") << false << false << false << false;
}

void TestEmptyStateView::buttonNeedsTitleAndAction()
{
    QFETCH(bool, subtitle);
    QFETCH(bool, actionTitle);
    QFETCH(bool, action);
    QFETCH(bool, button);

    int runs = 0;
    EmptyStateView view(QStringLiteral("doc.richtext"), QStringLiteral("No pages yet"),
                        subtitle ? std::optional<QString>(QStringLiteral("Create one to start."))
                                 : std::nullopt,
                        actionTitle ? std::optional<QString>(QStringLiteral("New Page")) : std::nullopt,
                        action ? std::function<void()>([&] { ++runs; }) : std::function<void()>());
    view.resize(320, 400);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    QCOMPARE(view.titleLabel()->text(), QStringLiteral("No pages yet"));
    QCOMPARE(view.subtitleLabel() != nullptr, subtitle);
    QCOMPARE(view.actionButton() != nullptr, button);
    if (!button)
        return;
    QCOMPARE(view.actionButton()->text(), QStringLiteral("New Page"));
    // The button comes right under the text, 6 beyond the usual 10.
    const QWidget *above = subtitle ? static_cast<QWidget *>(view.subtitleLabel()) : view.titleLabel();
    QCOMPARE(view.actionButton()->y() - above->geometry().bottom() - 1, 16);
    QTest::mouseClick(view.actionButton(), Qt::LeftButton);
    QCOMPARE(runs, 1);
}

void TestEmptyStateView::longSubtitleWrapsCentred()
{
    EmptyStateView view(
        QStringLiteral("sparkles"), QStringLiteral("No comments"),
        QStringLiteral("Select text in a block and press the comment button to start a discussion "
                       "that everyone with access to the page can see and answer."));
    view.resize(300, 400);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QLabel *subtitle = view.subtitleLabel();
    QVERIFY(subtitle->wordWrap());
    QVERIFY(subtitle->alignment() & Qt::AlignHCenter);
    QCOMPARE(subtitle->contentsMargins().left(), 24);
    QCOMPARE(subtitle->contentsMargins().right(), 24);
    QVERIFY(subtitle->height() > 2 * QFontMetrics(subtitle->font()).height());
    QVERIFY(subtitle->width() <= view.width());
}

QTEST_MAIN(TestEmptyStateView)
#include "tst_empty_state_view.moc"
