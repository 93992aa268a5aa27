#include "app/shortcuts_sheet.h"

#include <QLabel>
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

} // namespace

class TestShortcutsSheet : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void listsReadNatively();
    void sheetShowsSectionsThenFootnote();
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
                    {"Backspace (empty)", "Delete block / merge up"},
                    {"Tab / Shift+Tab", "Indent / outdent"}};
    const Rows app{{"Ctrl+N", "New page"}, {"Type /", "Open the block menu"}, {"Ctrl+?", "Show this help"}};
    QCOMPARE(rowsOf(ShortcutsSheet::textShortcuts()), text);
    QCOMPARE(rowsOf(ShortcutsSheet::appShortcuts()), app);
    // Each build of the list makes its rows anew.
    QVERIFY(ShortcutsSheet::textShortcuts()[0].id != ShortcutsSheet::textShortcuts()[0].id);
}

void TestShortcutsSheet::sheetShowsSectionsThenFootnote()
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
    QCOMPARE(first.size(), 1 + 2 * 8);
    QCOMPARE(first.mid(0, 3), (QStringList{"While editing text", "Bold", "Ctrl+B"}));
    QCOMPARE(first.mid(15), (QStringList{"Indent / outdent", "Tab / Shift+Tab"}));
    QStringList second = labelsOf(sections[1]);
    QCOMPARE(second, (QStringList{"Around the app", "New page", "Ctrl+N", "Open the block menu", "Type /",
                                  "Show this help", "Ctrl+?"}));

    // Actions on the left, keys at the right end of their row.
    auto *keys = sections[0]->findChildren<QLabel *>("keys").first();
    auto *action = sections[0]->findChildren<QLabel *>("action").first();
    QTRY_VERIFY(keys->geometry().right() > sections[0]->width() - 20);
    QVERIFY(action->geometry().left() < 5);

    auto *footnote = scroll->widget()->findChild<QLabel *>("footnote");
    QCOMPARE(footnote->text(),
             QStringLiteral("On iPhone and iPad, the same formatting actions are available from "
                            "the bar above the keyboard."));
    QVERIFY(footnote->geometry().top() > sections[1]->geometry().bottom());
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
