#pragma once

#include <QString>
#include <QTest>
#include <QToolButton>
#include <QStringList>

class CommentsPanel;
class FakeService;
class InlineCommentForm;
class PageView;
class QToolButton;
class QWidget;
class ShareSheet;

// What the collaboration screens show, read as a user reads them, for the end-to-end journeys.
namespace journey {

// The texts of an open page's rows, top to bottom.
QStringList shownTexts(PageView *view);
// The same page's texts as the service holds them.
QStringList storedTexts(FakeService &fake, qint64 pageId);
// The visible labels' texts under `root`, in the order they were made.
QStringList labelsIn(QWidget *root);
// The text of the child label with the name; empty when there is none.
QString labelNamed(QWidget *root, const QString &name);
// The comment cards, each "author: context | body".
QStringList commentCards(CommentsPanel *panel);
// The share sheet's people as drawn: "first / second / role", one line each.
QStringList sharePeople(ShareSheet *sheet);
// The remove button of the share sheet's row for the address.
QToolButton *removeButtonFor(ShareSheet *sheet, const QString &email);
// The comment form of a row's open popover, if any.
InlineCommentForm *openCommentForm();

// Clicks `button` once it is enabled and returns the sheet it opens inside `window` once shown;
// null when either does not happen within `waitMs`.
template <class Sheet>
Sheet *openSheetBy(QToolButton *button, QWidget *window, int waitMs)
{
    if (!QTest::qWaitFor([&] { return button->isEnabled(); }, waitMs))
        return nullptr;
    QTest::mouseClick(button, Qt::LeftButton);
    Sheet *sheet = nullptr;
    const bool shown =
        QTest::qWaitFor([&] { return (sheet = window->findChild<Sheet *>()) && sheet->isVisible(); }, waitMs);
    return shown ? sheet : nullptr;
}

} // namespace journey
