#include "app/app_window.h"
#include "app/menu_commands.h"
#include "app/shortcuts_sheet.h"
#include "platform/app_events.h"
#include "support/app_harness.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>

using Command = MenuCommands::Command;

class TestMenuCommands : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void menusAsWritten_data();
    void menusAsWritten();
    void eachCommandPostsItsNotification_data();
    void eachCommandPostsItsNotification();
    void noCommandWhileASheetIsOpen_data();
    void noCommandWhileASheetIsOpen();

private:
    std::unique_ptr<AppDevice> m_device;
    std::unique_ptr<AppHarness> m_app;
    std::unique_ptr<AppWindow> m_window;
};

void TestMenuCommands::init()
{
    // Nothing here talks to the service; an unused port keeps it that way.
    m_device = std::make_unique<AppDevice>(kNoServiceOrigin);
    m_app = std::make_unique<AppHarness>(*m_device);
    m_window = std::make_unique<AppWindow>(m_app->context(), nullptr);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void TestMenuCommands::cleanup()
{
    m_window.reset();
    m_app.reset();
    m_device.reset();
}

void TestMenuCommands::menusAsWritten_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("shortcut");

    QTest::newRow("file") << 0 << int(Command::newPage) << "&File"
                          << "New Page"
                          << "Ctrl+N";
    QTest::newRow("view") << 2 << int(Command::quickSwitch) << "&View"
                          << QString::fromUtf8("Quick Switch\u2026") << "Ctrl+J";
    QTest::newRow("help") << 3 << int(Command::showShortcuts) << "&Help"
                          << "Penroost Derud Help"
                          << "Ctrl+?";
}

void TestMenuCommands::menusAsWritten()
{
    QFETCH(int, index);
    QFETCH(int, command);
    QFETCH(QString, menu);
    QFETCH(QString, title);
    QFETCH(QString, shortcut);

    // File, Edit, View, Help, as on any desktop; each command heads its menu, the help menu has
    // nothing else.
    const QList<QAction *> menus = m_window->menuBar()->actions();
    QCOMPARE(menus.size(), 4);
    QCOMPARE(menus.at(1)->text(), QStringLiteral("&Edit"));
    QCOMPARE(menus.at(index)->text(), menu);
    const QList<QAction *> items = menus.at(index)->menu()->actions();
    if (menu == QLatin1String("&Help"))
        QCOMPARE(items.size(), 1);
    QCOMPARE(items.constFirst(), m_window->menuActions().at(command));
    QCOMPARE(items.constFirst()->text(), title);
    QCOMPARE(items.constFirst()->shortcut().toString(QKeySequence::NativeText), shortcut);
}

void TestMenuCommands::eachCommandPostsItsNotification_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");

    QTest::newRow("New Page") << int(Command::newPage) << int(Qt::Key_N) << int(Qt::ControlModifier);
    QTest::newRow("Quick Switch") << int(Command::quickSwitch) << int(Qt::Key_J) << int(Qt::ControlModifier);
    QTest::newRow("Help") << int(Command::showShortcuts) << int(Qt::Key_Question) << int(Qt::ControlModifier);
}

void TestMenuCommands::eachCommandPostsItsNotification()
{
    QFETCH(int, command);
    QFETCH(int, key);
    QFETCH(int, modifiers);

    AppEvents &events = m_app->events;
    QSignalSpy newPage(&events, &AppEvents::newPage);
    QSignalSpy quickSwitch(&events, &AppEvents::quickSwitch);
    QSignalSpy showShortcuts(&events, &AppEvents::showShortcuts);
    const QList<QSignalSpy *> spies{&newPage, &quickSwitch, &showShortcuts};

    // From the menu item, then from its key on the window.
    m_window->menuActions().at(command)->trigger();
    QTest::keyClick(m_window.get(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    for (int i = 0; i < spies.size(); ++i)
        QCOMPARE(spies.at(i)->size(), i == command ? 2 : 0);
}

void TestMenuCommands::noCommandWhileASheetIsOpen_data()
{
    eachCommandPostsItsNotification_data();
}

void TestMenuCommands::noCommandWhileASheetIsOpen()
{
    QFETCH(int, command);
    QFETCH(int, key);
    QFETCH(int, modifiers);

    AppEvents &events = m_app->events;
    QSignalSpy newPage(&events, &AppEvents::newPage);
    QSignalSpy quickSwitch(&events, &AppEvents::quickSwitch);
    QSignalSpy showShortcuts(&events, &AppEvents::showShortcuts);
    const QList<QSignalSpy *> spies{&newPage, &quickSwitch, &showShortcuts};

    // A sheet over the window has the keyboard: the window's menu keys wait until it closes.
    auto *sheet = new ShortcutsSheet(m_window.get());
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
    sheet->activateWindow();
    QApplication::setActiveWindow(sheet);
    QTRY_COMPARE(QApplication::activeWindow(), sheet);
    QWidget *keys = sheet->focusWidget() ? sheet->focusWidget() : sheet;
    QTest::keyClick(keys, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QVERIFY(sheet->isVisible());
    for (QSignalSpy *spy : spies)
        QCOMPARE(spy->size(), 0);

    sheet->reject();
    QApplication::setActiveWindow(m_window.get());
    QTRY_VERIFY(m_window->isActiveWindow());
    QTest::keyClick(m_window.get(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    for (int i = 0; i < spies.size(); ++i)
        QCOMPARE(spies.at(i)->size(), i == command ? 1 : 0);
}

QTEST_MAIN(TestMenuCommands)
#include "tst_menu_commands.moc"
