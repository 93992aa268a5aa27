#pragma once

#include "store/fn_block.h"
#include "store/fn_page.h"
#include "store/page_template.h"
#include "ui/app_context.h"

#include <QByteArray>
#include <QCoroTask>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class FilePicker;
class QWidget;

// The page editor's "Export / Template" actions, without a window. Neither changes the page or
// queues anything for the service.
class ExportActions
{
public:
    static constexpr const char *kUntitledTemplate = "Untitled template";
    static constexpr const char *kMarkdownFilter = "Markdown (*.md)";
    static constexpr const char *kExportFailedToast = "Could not save the Markdown file: ";
    static constexpr const char *kExportFailedLine = "markdown export failed: ";

    // The page's Markdown, from its stored title and blocks, written where the user chooses. True
    // once written; a write that fails is shown as a toast and printed. Nothing for a page that is
    // gone or a cancelled dialog.
    static QCoro::Task<bool> exportMarkdown(AppContext context, std::shared_ptr<FilePicker> picker,
                                            QString pageLocalID, QPointer<QWidget> dialogParent);
    // Where the save dialog starts: the user's documents folder, else the home folder.
    static QString exportFolder();
    // Adds a template of the page to the context's templates and shows "Saved “name” as a
    // template."; none when the page is gone.
    static std::optional<PageTemplate> saveAsTemplate(const AppContext &context, const QString &pageLocalID);
    // A new id; the name is the title or "Untitled template"; the blocks flat in reading order.
    static PageTemplate makeTemplate(const FNPage &page, const std::vector<FNBlock> &blocks);
    static QString templateSavedMessage(const QString &name);

    // Replaces the file at `path` only once every byte is on disk; the reason when it could not.
    static std::optional<QString> writeAtomically(const QString &path, const QByteArray &bytes);

    // The live page and all of its blocks as the store holds them now.
    static std::optional<FNPage> livePage(const LocalStore &store, const QString &pageLocalID);
    static std::vector<FNBlock> blocksOf(const LocalStore &store, const QString &pageLocalID);
};
