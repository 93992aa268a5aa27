#pragma once

#include "editor/page_view.h"
#include "editor/page_view_model.h"
#include "editor/rich_text_editor.h"
#include "fake-service/fake_service.h"

#include <QBuffer>
#include <QDropEvent>
#include <QFile>
#include <QImage>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTextCursor>

// Steps the editor's upload tests share: a fake service with one account, and files for a picker to
// answer with.
namespace EditorSteps {

// Starts the fake with one new account; its token, empty when either failed.
inline QString startWithAccount(FakeService &fake, const QString &email, const QString &name)
{
    if (!fake.start())
        return QString();
    return fake.createAccount(email, QStringLiteral("secret1"), name).token;
}

// Clears the faults and requests an earlier test left at the fake.
inline void useFake(FakeService &fake)
{
    fake.clearFaults();
    fake.clearRequests();
}

inline QByteArray pngBytes()
{
    QImage image(8, 4, QImage::Format_RGB32);
    image.fill(Qt::darkRed);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A page editor's delays, short enough for a test and long enough to be delays.
inline PageViewModel::Timing fastTiming()
{
    PageViewModel::Timing timing;
    timing.blockFlush = std::chrono::milliseconds(30);
    timing.title = std::chrono::milliseconds(30);
    timing.focusRetry = std::chrono::milliseconds(5);
    timing.rowText = std::chrono::milliseconds(10);
    return timing;
}

// The middle of a word of the editor's text, in its viewport: where a user points at it.
inline QPoint pointAt(const RichTextEditor &editor, const QString &word)
{
    QTextCursor cursor(editor.document());
    cursor.setPosition(int(editor.toRawText().indexOf(word)) + int(word.size()) / 2);
    return editor.cursorRect(cursor).center();
}

// Where the scroll bar draws its handle now, in the bar's own coordinates.
inline QRect scrollBarHandle(QScrollBar *bar)
{
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = bar->orientation();
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.singleStep = bar->singleStep();
    option.pageStep = bar->pageStep();
    return bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, bar);
}

// A real double-click as the window system delivers it: a click, then the second press.
inline void doubleClick(QWidget *viewport, const QPoint &at)
{
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(viewport, Qt::LeftButton, Qt::NoModifier, at);
}

// A double-click on a button as the window system delivers it: a click, then the second press and
// its release.
inline void doubleClickButton(QWidget *button)
{
    const QPoint at = button->rect().center();
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(button, Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseRelease(button, Qt::LeftButton, Qt::NoModifier, at);
}

// The path written, or empty when it could not be.
inline QString writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write(data);
    return path;
}

// A drag over the page's scrolling view as the window delivers it: to the widget under the pointer
// that takes drops, leaving the one before and entering the new one whenever that changes.
class PageDrag
{
public:
    PageDrag(PageView &page, const QMimeData *mime)
        : m_viewport(page.scrollArea()->viewport())
        , m_mime(mime)
    {
    }

    // The pointer moved to the view's point; whether the widget there (or the page before it) takes it.
    bool moveTo(const QPoint &inView)
    {
        QWidget *target = targetAt(inView);
        if (target != m_target) {
            leave();
            m_target = target;
            QDragEnterEvent enter(at(inView), Qt::MoveAction, m_mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(m_target, &enter);
        }
        QDragMoveEvent move(at(inView), Qt::MoveAction, m_mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_target, &move);
        return move.isAccepted();
    }

    bool drop(const QPoint &inView)
    {
        moveTo(inView);
        QDropEvent drop(at(inView), Qt::MoveAction, m_mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_target, &drop);
        m_target = nullptr;
        return drop.isAccepted();
    }

    // The pointer left the window.
    void leave()
    {
        if (!m_target)
            return;
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(m_target, &leave);
        m_target = nullptr;
    }

private:
    QWidget *targetAt(const QPoint &inView) const
    {
        QWidget *widget = m_viewport->childAt(inView);
        while (widget && widget != m_viewport && !widget->acceptDrops())
            widget = widget->parentWidget();
        return widget ? widget : m_viewport;
    }
    QPoint at(const QPoint &inView) const { return m_target->mapFrom(m_viewport, inView); }

    QWidget *m_viewport;
    const QMimeData *m_mime;
    QPointer<QWidget> m_target;
};

} // namespace EditorSteps
