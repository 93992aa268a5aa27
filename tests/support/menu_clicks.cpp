#include "support/menu_clicks.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMenu>
#include <QPointer>
#include <QTest>
#include <QTimer>

namespace MenuClicks {

namespace {

constexpr int kWait = 20000;
constexpr int kPollMs = 5;

QAction *itemOf(QMenu &menu, const QString &text)
{
    for (QAction *action : menu.actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

} // namespace

bool clickThrough(QAbstractButton *button, QMenu *menu, const QStringList &path)
{
    if (!button || !menu || path.isEmpty())
        return false;
    QPointer<QMenu> top = menu;
    QPointer<QMenu> current = menu;
    qsizetype step = 0;
    bool missing = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (step >= path.size() || missing || !current)
            return;
        if (QApplication::activePopupWidget() != current || !current->isVisible())
            return;
        QAction *action = itemOf(*current, path.at(step));
        if (!action) {
            missing = true;
            current->close();
            if (top)
                top->close();
            return;
        }
        QMenu *next = action->menu();
        ++step;
        QTest::mouseClick(current, Qt::LeftButton, {}, current->actionGeometry(action).center());
        current = next;
    });
    poll.start(kPollMs);
    QTest::mouseClick(button, Qt::LeftButton);
    const bool closed = QTest::qWaitFor(
        [&] { return missing || (step == path.size() && (!top || !top->isVisible())); }, kWait);
    return closed && !missing;
}

} // namespace MenuClicks
