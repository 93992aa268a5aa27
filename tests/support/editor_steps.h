#pragma once

#include "editor/page_view_model.h"
#include "editor/rich_text_editor.h"
#include "fake-service/fake_service.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
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

} // namespace EditorSteps
