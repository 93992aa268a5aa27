#include "editor/export_actions.h"

#include "editor/markdown_export.h"
#include "platform/diag.h"
#include "platform/file_picker.h"
#include "store/local_store.h"
#include "store/template_store.h"
#include "ui/toast_center.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QUuid>

namespace {

QString messageOf(const std::exception &error)
{
    return QString::fromUtf8(error.what());
}

} // namespace

QCoro::Task<bool> ExportActions::exportMarkdown(AppContext context, std::shared_ptr<FilePicker> picker,
                                                QString pageLocalID, QPointer<QWidget> dialogParent)
{
    if (!context.store || !picker)
        co_return false;
    const std::optional<FNPage> page = livePage(*context.store, pageLocalID);
    if (!page)
        co_return false;
    const QString text = renderMarkdown(page->title, blocksOf(*context.store, pageLocalID));
    const QString proposed = markdownFileName(page->title);

    std::optional<QString> path;
    try {
        path = co_await picker->chooseSaveFile(proposed, exportFolder(), QString::fromLatin1(kMarkdownFilter),
                                               dialogParent.data());
    } catch (const std::exception &e) {
        diag(QString::fromLatin1(kExportFailedLine) + messageOf(e));
        co_return false;
    }
    if (!path || path->isEmpty())
        co_return false;

    QStringEncoder toUtf8(QStringEncoder::Utf8);
    const QByteArray bytes = toUtf8.encode(text);
    std::optional<QString> failure;
    // A lone surrogate cannot be written as UTF-8; a replacement character would be a silent change.
    if (toUtf8.hasError())
        failure = QStringLiteral("the text cannot be encoded as UTF-8");
    else
        failure = writeAtomically(*path, bytes);
    if (failure) {
        diag(QString::fromLatin1(kExportFailedLine) + *failure);
        if (context.toasts)
            context.toasts->show(QString::fromLatin1(kExportFailedToast) + *failure);
        co_return false;
    }
    co_return true;
}

QString ExportActions::exportFolder()
{
    // Not the working folder: started from a desktop menu that is "/" or the install folder.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return documents;
    return QDir::homePath();
}

std::optional<PageTemplate> ExportActions::saveAsTemplate(const AppContext &context,
                                                          const QString &pageLocalID)
{
    if (!context.store || !context.templates)
        return std::nullopt;
    const std::optional<FNPage> page = livePage(*context.store, pageLocalID);
    if (!page)
        return std::nullopt;
    PageTemplate made = makeTemplate(*page, blocksOf(*context.store, pageLocalID));
    context.templates->add(made);
    if (context.toasts)
        context.toasts->show(templateSavedMessage(made.name));
    return made;
}

PageTemplate ExportActions::makeTemplate(const FNPage &page, const std::vector<FNBlock> &blocks)
{
    PageTemplate made;
    made.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    made.name = page.title.isEmpty() ? QString::fromLatin1(kUntitledTemplate) : page.title;
    made.title = page.title;
    made.icon = page.icon;
    // Each parent comes before its children in reading order, so a child names an index already made.
    QHash<QString, qint64> byLocalID;
    QHash<qint64, qint64> byServerID;
    for (const FNBlock &block : blocksInReadingOrder(blocks)) {
        std::optional<qint64> parent;
        if (!block.parentBlockLocalID.isEmpty())
            parent = byLocalID.value(block.parentBlockLocalID, -1);
        else if (block.parentBlockServerID != 0)
            parent = byServerID.value(block.parentBlockServerID, -1);
        if (parent == -1)
            parent.reset(); // a parent that is not on the page, or comes later in a loop
        const qint64 index = qint64(made.blocks.size());
        byLocalID.insert(block.localID, index);
        if (block.serverID != 0)
            byServerID.insert(block.serverID, index);
        made.blocks.push_back(TemplateBlock{block.type, block.contentJSON, parent});
    }
    return made;
}

QString ExportActions::templateSavedMessage(const QString &name)
{
    return QStringLiteral("Saved \u201C") + name + QStringLiteral("\u201D as a template.");
}

std::optional<QString> ExportActions::writeAtomically(const QString &path, const QByteArray &bytes)
{
    // QSaveFile writes a temporary file beside the target, syncs it and renames it over the target:
    // a failed or interrupted export leaves any earlier file whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

std::optional<FNPage> ExportActions::livePage(const LocalStore &store, const QString &pageLocalID)
{
    const FNPage *page = store.page(pageLocalID);
    if (!page || page->deletedAt)
        return std::nullopt;
    return *page;
}

std::vector<FNBlock> ExportActions::blocksOf(const LocalStore &store, const QString &pageLocalID)
{
    std::vector<FNBlock> blocks;
    for (const FNBlock *block : store.blocksOfPage(pageLocalID))
        blocks.push_back(*block);
    return blocks;
}
