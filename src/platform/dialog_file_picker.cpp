#include "platform/dialog_file_picker.h"

#include "platform/window_keyboard.h"

#include <QApplication>
#include <QCoroFuture>
#include <QFileDialog>
#include <QImageReader>
#include <QPointer>
#include <QPromise>

#include <memory>

DialogFilePicker::DialogFilePicker(Answerer answerer)
    : m_answerer(std::move(answerer))
{
}

QString DialogFilePicker::imageNameFilter()
{
    QStringList patterns;
    for (const QByteArray &format : QImageReader::supportedImageFormats()) {
        const QString suffix = QString::fromLatin1(format).toLower();
        // Some dialogs match patterns case-sensitively; photos often come as ".JPG".
        patterns << QStringLiteral("*.") + suffix << QStringLiteral("*.") + suffix.toUpper();
    }
    return QStringLiteral("Images (%1)").arg(patterns.join(QLatin1Char(' ')));
}

namespace {

// Opens the dialog and waits for its answer: the first selected file once accepted.
QCoro::Task<std::optional<QString>> answerOf(QPointer<QFileDialog> dialog,
                                             DialogFilePicker::Answerer answerer)
{
    const QPointer<QWidget> had = QApplication::focusWidget();
    QWidget *parent = dialog->parentWidget() ? dialog->parentWidget() : had.data();
    const QPointer<QWidget> owner = parent ? parent->window() : nullptr;
    // Closing the owner window destroys the dialog without an answer; that must end the wait too.
    auto answer = std::make_shared<QPromise<int>>();
    answer->start();
    QObject::connect(dialog, &QDialog::finished, [answer](int result) {
        answer->addResult(result);
        answer->finish();
    });
    QObject::connect(dialog, &QObject::destroyed, [answer] { answer->finish(); });
    dialog->open();
    if (answerer) {
        QMetaObject::invokeMethod(
            dialog, [dialog, answerer] { answerer(*dialog); }, Qt::QueuedConnection);
    }
    QFuture<int> future = answer->future();
    co_await future;

    WindowKeyboard::giveBack(owner, had);

    std::optional<QString> chosen;
    if (dialog && future.resultCount() > 0 && future.result() == QDialog::Accepted) {
        const QStringList files = dialog->selectedFiles();
        if (!files.isEmpty())
            chosen = files.first();
    }
    if (dialog)
        dialog->deleteLater();
    co_return chosen;
}

} // namespace

QCoro::Task<std::optional<QString>> DialogFilePicker::chooseFile(Filter filter, QWidget *parent)
{
    QPointer<QFileDialog> dialog = new QFileDialog(parent);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    if (filter == Filter::Images)
        dialog->setNameFilter(imageNameFilter());
    return answerOf(dialog, m_answerer);
}

QCoro::Task<std::optional<QString>> DialogFilePicker::chooseSaveFile(QString proposedName, QString folder,
                                                                     QString nameFilter, QWidget *parent)
{
    QPointer<QFileDialog> dialog = new QFileDialog(parent);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    if (!nameFilter.isEmpty())
        dialog->setNameFilter(nameFilter);
    if (!folder.isEmpty())
        dialog->setDirectory(folder);
    dialog->selectFile(proposedName);
    return answerOf(dialog, m_answerer);
}
