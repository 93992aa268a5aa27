#include "app/app_window.h"
#include "app/main_placeholder_view.h"
#include "app/shortcuts_sheet.h"
#include "support/app_harness.h"

#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {

using Rows = QList<QPair<QString, QString>>;

Rows rowsOf(const std::vector<ShortcutsSheet::Shortcut> &list)
{
    Rows rows;
    for (const auto &s : list)
        rows.append({s.keys, s.action});
    return rows;
}

// The labels of a section, in layout order: its title, then action and keys of each row.
QStringList labelsOf(QWidget *section)
{
    QStringList texts;
    for (QLabel *label : section->findChildren<QLabel *>(Qt::FindDirectChildrenOnly))
        texts << label->text();
    return texts;
}

QString standard(QKeySequence::StandardKey key)
{
    return QKeySequence(key).toString(QKeySequence::NativeText);
}

} // namespace

class TestShortcutsSheet : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void listsReadNatively();
    void listsEveryMenuShortcut();
    void sheetShowsSections();
    void closeButtonClosesOnce();
};

void TestShortcutsSheet::listsReadNatively()
{
    // Linux shows the Control key where a Mac shows the command symbol.
    const Rows text{{"Ctrl+B", "Bold"},
                    {"Ctrl+I", "Italic"},
                    {"Ctrl+U", "Underline"},
                    {"Ctrl+K", "Insert link"},
                    {"Ctrl+Shift+M", "Comment on selection"},
                    {"Return", "New block below"},
                    {"Shift+Return", "Line break"},
                    {"Backspace (empty)", "Delete block / merge up"},
                    {"Tab / Shift+Tab", "Indent / outdent"},
                    // The Edit menu's keys, as the platform binds them.
                    {standard(QKeySequence::Undo), "Undo"},
                    {standard(QKeySequence::Redo), "Redo"},
                    {"Ctrl+X", "Cut"},
                    {"Ctrl+C", "Copy"},
                    {"Ctrl+V", "Paste"},
                    {"Ctrl+A", "Select all"}};
    const Rows app{
        {"Ctrl+N", "New page"},       {"Ctrl+J", "Quick switch"}, {"Type /", "Open the block menu"},
        {"Ctrl+?", "Show this help"}, {"Ctrl+W", "Close window"}, {"Ctrl+Q", "Quit"}};
    QCOMPARE(rowsOf(ShortcutsSheet::textShortcuts()), text);
    QCOMPARE(rowsOf(ShortcutsSheet::appShortcuts()), app);
    // Each build of the list makes its rows anew.
    QVERIFY(ShortcutsSheet::textShortcuts()[0].id != ShortcutsSheet::textShortcuts()[0].id);
}

void TestShortcutsSheet::listsEveryMenuShortcut()
{
    AppDevice device;
    AppHarness app(device);
    AppWindow window(app.context(), [](const AppContext &c) { return new MainPlaceholderView(c); });
    QStringList listed;
    for (const auto &list : {ShortcutsSheet::textShortcuts(), ShortcutsSheet::appShortcuts()}) {
        for (const auto &shortcut : list)
            listed << shortcut.keys;
    }
    int checked = 0;
    for (QAction *entry : window.menuBar()->actions()) {
        if (!entry->menu())
            continue;
        for (QAction *action : entry->menu()->actions()) {
            if (action->shortcut().isEmpty())
                continue;
            ++checked;
            const QString keys = action->shortcut().toString(QKeySequence::NativeText);
            QVERIFY2(listed.contains(keys), qPrintable(action->text() + QLatin1Char(' ') + keys));
        }
    }
    QVERIFY(checked >= 11);
}

void TestShortcutsSheet::sheetShowsSections()
{
    ShortcutsSheet sheet;
    sheet.show();
    QCOMPARE(sheet.size(), QSize(420, 520));
    QCOMPARE(sheet.findChild<QLabel *>("title")->text(), QStringLiteral("Keyboard Shortcuts"));

    auto *scroll = sheet.findChild<QScrollArea *>();
    QVERIFY(scroll);
    // The header stays put: only the lists scroll.
    QVERIFY(!scroll->widget()->isAncestorOf(sheet.closeButton()));
    QVERIFY(!scroll->widget()->isAncestorOf(sheet.findChild<QLabel *>("title")));

    const auto sections = scroll->widget()->findChildren<QWidget *>("section");
    QCOMPARE(sections.size(), 2);
    QStringList first = labelsOf(sections[0]);
    QCOMPARE(first.size(), 1 + 2 * 15);
    QCOMPARE(first.mid(0, 3), (QStringList{"While editing text", "Bold", "Ctrl+B"}));
    QCOMPARE(first.mid(29), (QStringList{"Select all", "Ctrl+A"}));
    QStringList second = labelsOf(sections[1]);
    QCOMPARE(second, (QStringList{"Around the app", "New page", "Ctrl+N", "Quick switch", "Ctrl+J",
                                  "Open the block menu", "Type /", "Show this help", "Ctrl+?", "Close window",
                                  "Ctrl+W", "Quit", "Ctrl+Q"}));

    // Actions on the left, keys at the right end of their row.
    auto *keys = sections[0]->findChildren<QLabel *>("keys").first();
    auto *action = sections[0]->findChildren<QLabel *>("action").first();
    QTRY_VERIFY(keys->geometry().right() > sections[0]->width() - 20);
    QVERIFY(action->geometry().left() < 5);

    // Nothing about other platforms' keyboards follows the lists.
    QVERIFY(!scroll->widget()->findChild<QLabel *>("footnote"));
}

void TestShortcutsSheet::closeButtonClosesOnce()
{
    auto window = std::make_unique<QWidget>();
    window->show();
    auto *sheet = new ShortcutsSheet(window.get());
    QSignalSpy finished(sheet, &QDialog::finished);
    sheet->open();
    QVERIFY(sheet->isVisible());
    sheet->closeButton()->click();
    QCOMPARE(finished.size(), 1);
    QVERIFY(!sheet->isVisible());
}

QTEST_MAIN(TestShortcutsSheet)
#include "tst_shortcuts_sheet.moc"
