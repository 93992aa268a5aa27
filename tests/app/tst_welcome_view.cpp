#include "app/welcome_view.h"

#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QTest>

class TestWelcomeView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void rowsAsWritten_data();
    void rowsAsWritten();
    void continueRunsOncePerPress();
    void shortWindowScrollsButKeepsTheButton();
    void wideWindowKeepsNarrowCentredColumn();
};

void TestWelcomeView::rowsAsWritten_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("detail");

    QTest::newRow("1") << 0 << "doc.richtext"
                       << "Write anything"
                       << QString::fromUtf8(
                              "Pages and nested blocks \u2014 text, headings, lists, code, tables, "
                              "drawings, and more.");
    QTest::newRow("2") << 1 << "arrow.triangle.2.circlepath"
                       << "Synced everywhere"
                       << "Your notes follow you across your devices. Works offline and catches up when "
                          "you're back online.";
    QTest::newRow("3") << 2 << "person.2"
                       << "Share & publish"
                       << "Invite collaborators with roles, or publish a page to the web with one tap.";
    QTest::newRow("4") << 3 << "sparkles"
                       << "Writing AI"
                       << QString::fromUtf8(
                              "Summarize, continue, improve, or translate \u2014 right inside the page.");
}

void TestWelcomeView::rowsAsWritten()
{
    QFETCH(int, row);
    QFETCH(QString, icon);
    QFETCH(QString, title);
    QFETCH(QString, detail);

    WelcomeView view({});
    QCOMPARE(view.features().size(), size_t(4));
    const auto &feature = view.features().at(size_t(row));
    QCOMPARE(feature.icon, icon);
    QCOMPARE(feature.title, title);
    QCOMPARE(feature.detail, detail);

    // Drawn in the same order, with the symbol beside each.
    const auto titles = view.findChildren<QLabel *>(QStringLiteral("featureTitle"));
    const auto details = view.findChildren<QLabel *>(QStringLiteral("featureDetail"));
    const auto symbols = view.findChildren<QLabel *>(QStringLiteral("featureSymbol"));
    QCOMPARE(titles.at(row)->text(), title);
    QCOMPARE(details.at(row)->text(), detail);
    QCOMPARE(symbols.at(row)->property("symbol").toString(), icon);
    QVERIFY(!symbols.at(row)->pixmap().isNull());

    QSet<QUuid> ids;
    for (const auto &f : view.features())
        ids.insert(f.id);
    QCOMPARE(ids.size(), 4);
}

void TestWelcomeView::continueRunsOncePerPress()
{
    int runs = 0;
    WelcomeView view([&] { ++runs; });
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QCOMPARE(view.continueButton()->text(), QStringLiteral("Get started"));
    QVERIFY(!view.findChild<QLabel *>(QStringLiteral("appLogo"))->pixmap().isNull());
    QTest::mouseClick(view.continueButton(), Qt::LeftButton);
    QCOMPARE(runs, 1);
    QTest::mouseClick(view.continueButton(), Qt::LeftButton);
    QCOMPARE(runs, 2);
}

void TestWelcomeView::shortWindowScrollsButKeepsTheButton()
{
    WelcomeView view({});
    view.resize(420, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTRY_VERIFY(view.scrollArea()->verticalScrollBar()->maximum() > 0);
    const QRect button(view.continueButton()->mapTo(&view, QPoint(0, 0)), view.continueButton()->size());
    QVERIFY(view.rect().contains(button));
    QVERIFY(button.top() >= view.scrollArea()->geometry().bottom());
}

void TestWelcomeView::wideWindowKeepsNarrowCentredColumn()
{
    WelcomeView view({});
    view.resize(1400, 900);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QWidget *column = view.contentColumn();
    QTRY_COMPARE(column->width(), WelcomeView::kMaxWidth);
    const int columnCentre = column->mapTo(&view, QPoint(column->width() / 2, 0)).x();
    QVERIFY(qAbs(columnCentre - view.width() / 2) <= 2);
    // The button with its 24 on each side fills at most 480.
    QVERIFY(view.continueButton()->width() <= WelcomeView::kMaxWidth - 48);
    const int buttonCentre =
        view.continueButton()->mapTo(&view, QPoint(view.continueButton()->width() / 2, 0)).x();
    QVERIFY(qAbs(buttonCentre - view.width() / 2) <= 2);
}

QTEST_MAIN(TestWelcomeView)
#include "tst_welcome_view.moc"
