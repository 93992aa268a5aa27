#include "editor_fixture.h"

#include "editor/format_toolbar.h"
#include "editor/rich_text_editor.h"

#include <QApplication>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

class TestFormatToolbar : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void buttons_data();
    void buttons();
    void buttonsLeaveTheFocusInTheText();
};

void TestFormatToolbar::buttons_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("tooltip");
    QTest::addColumn<QString>("call");

    QTest::newRow("bold") << 0 << "Bold (Ctrl+B)"
                          << "wrap ** **";
    QTest::newRow("italic") << 1 << "Italic (Ctrl+I)"
                            << "wrap * *";
    QTest::newRow("underline") << 2 << "Underline (Ctrl+U)"
                               << "wrap __ __";
    QTest::newRow("strike-through") << 3 << "Strikethrough"
                                    << "wrap ~~ ~~";
    QTest::newRow("inline code") << 4 << "Inline code"
                                 << "wrap ` `";
    QTest::newRow("link") << 5 << "Link (Ctrl+K)"
                          << "link";
    QTest::newRow("outdent") << 6 << "Outdent (Shift+Tab)"
                             << "outdent";
    QTest::newRow("indent") << 7 << "Indent (Tab)"
                            << "indent";
}

void TestFormatToolbar::buttons()
{
    QFETCH(int, index);
    QFETCH(QString, tooltip);
    QFETCH(QString, call);
    QStringList calls;
    FormatToolbar bar(
        [&](const QString &p, const QString &s) { calls << QStringLiteral("wrap %1 %2").arg(p, s); },
        [&] { calls << QStringLiteral("link"); }, [&] { calls << QStringLiteral("indent"); },
        [&] { calls << QStringLiteral("outdent"); });
    QCOMPARE(bar.buttons().size(), 8);
    QToolButton *button = bar.buttons().at(index);
    QCOMPARE(button->toolTip(), tooltip);
    QCOMPARE(button->focusPolicy(), Qt::NoFocus);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(calls, QStringList{call});
}

void TestFormatToolbar::buttonsLeaveTheFocusInTheText()
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *editor = new RichTextEditor(&window);
    auto *bar = new FormatToolbar([&](const QString &p, const QString &s) { editor->wrapSelection(p, s); },
                                  [] {}, [] {}, [] {}, &window);
    layout->addWidget(bar);
    layout->addWidget(editor);
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    editor->setFocus();
    QTRY_VERIFY(editor->hasFocus());
    editor->setRawText(QStringLiteral("make it code"));
    EditorFixture::select(*editor, 8, 12);

    QTest::mouseClick(bar->buttons().at(4), Qt::LeftButton);
    QVERIFY(editor->hasFocus());
    QCOMPARE(editor->toRawText(), QStringLiteral("make it `code`"));
}

QTEST_MAIN(TestFormatToolbar)
#include "tst_format_toolbar.moc"
