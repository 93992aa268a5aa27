#include "support/block_readout.h"

#include "api/remote_image_loader.h"
#include "blocks/audio_block.h"
#include "blocks/block_content.h"
#include "blocks/bookmark_block.h"
#include "blocks/button_block.h"
#include "blocks/columns_block.h"
#include "blocks/database_block.h"
#include "blocks/database_table_model.h"
#include "blocks/database_table_view.h"
#include "blocks/drawing_block.h"
#include "blocks/drawing_block_model.h"
#include "blocks/embed_block.h"
#include "blocks/file_block.h"
#include "blocks/image_block.h"
#include "blocks/image_element.h"
#include "blocks/math_block.h"
#include "blocks/mention_block.h"
#include "blocks/synced_block.h"
#include "editor/block_row.h"
#include "editor/editable_text.h"
#include "editor/page_view.h"
#include "editor/rich_text_editor.h"
#include "fake-service/fake_service.h"
#include "ui/growing_text_edit.h"

#include <QLabel>
#include <QPushButton>
#include <QToolButton>

namespace {

QString box(bool checked)
{
    return checked ? QStringLiteral("[x] ") : QStringLiteral("[ ] ");
}

QString urlOf(const FNBlock &block)
{
    return BlockContent::readString(BlockContent::decode(block.contentJSON), QStringLiteral("url"));
}

QString shown(BlockRow &row)
{
    const FNBlock block = row.model().currentBlock();
    if (RichTextEditor *editor = row.richEditor())
        return (row.todoBox() ? box(editor->strikethrough()) : QString()) + editor->toRawText();
    if (EditableText *plain = row.plainEditor())
        return plain->toRawText();
    BlockView *view = row.kindView();
    if (auto *image = qobject_cast<ImageBlockView *>(view)) {
        // Drawn from the service's copy.
        const bool drawn =
            image->imageElement() && image->imageElement()->state() == RemoteImage::State::loaded;
        return drawn ? QStringLiteral("uploaded") : QString();
    }
    if (auto *audio = qobject_cast<AudioBlockView *>(view))
        return audio->playButton() ? QStringLiteral("uploaded") : QString();
    if (auto *file = qobject_cast<FileBlockView *>(view))
        return file->nameLabel() ? file->nameLabel()->text() : QString();
    if (auto *drawing = qobject_cast<DrawingBlockView *>(view))
        return drawing->model().strokes().empty() ? QString() : QStringLiteral("drawn");
    if (auto *embed = qobject_cast<EmbedBlockView *>(view))
        return embed->card() ? urlOf(block) : QString();
    if (auto *bookmark = qobject_cast<BookmarkBlockView *>(view))
        return bookmark->card() ? urlOf(block) : QString();
    if (auto *math = qobject_cast<MathBlockView *>(view))
        return math->sourceField()->toPlainText();
    if (auto *mention = qobject_cast<MentionBlockView *>(view)) {
        // The chip: the page's icon, then its title.
        return mention->state() == MentionBlockView::State::Linked
                   ? mention->chipLabel().section(QLatin1Char(' '), 1)
                   : QString();
    }
    if (auto *synced = qobject_cast<SyncedBlockView *>(view))
        return synced->state() == SyncedBlockView::State::Linked ? synced->previewText() : QString();
    if (auto *button = qobject_cast<ButtonBlockView *>(view)) {
        const JSONObject content = BlockContent::decode(block.contentJSON);
        return button->actionButton()->text() + QStringLiteral(" / ") +
               BlockContent::readString(content, QStringLiteral("action")) + QStringLiteral(" / ") +
               BlockContent::readString(content, QStringLiteral("target"));
    }
    if (auto *columns = qobject_cast<ColumnsBlockView *>(view))
        return QString::number(columns->cells().size());
    if (auto *database = qobject_cast<DatabaseBlockView *>(view)) {
        if (!database->table() || !database->table()->isVisible())
            return QString();
        QString out = database->nameLabel()->text();
        const DatabaseTableModel &table = database->tableModel();
        for (int r = 0; r < table.rowCount(); ++r)
            out += QStringLiteral(" / ") + table.data(table.index(r, 0)).toString() + QStringLiteral(", ") +
                   table.data(table.index(r, 1)).toString();
        return out;
    }
    return QString();
}

qint64 idOf(const JSONObject &content, const QString &key)
{
    const auto at = content.find(key);
    return at != content.end() && at->second.isInt() ? at->second.toInt() : 0;
}

QString storedDatabase(const FakeServiceState &state, qint64 id)
{
    const auto database = state.databases.find(id);
    if (database == state.databases.end())
        return QString();
    const JSONArray &columns = database->second.columns;
    const auto cell = [&](const JSONObject &data, size_t column) {
        if (column >= columns.size())
            return QString();
        const auto value = data.find(columns[column].toObject().at(QStringLiteral("id")).toString());
        return value != data.end() && value->second.isString() ? value->second.toString() : QString();
    };
    std::vector<const FakeServiceState::DatabaseRow *> rows;
    for (const auto &[rowId, row] : state.databaseRows) {
        if (row.databaseId == id)
            rows.push_back(&row);
    }
    std::stable_sort(rows.begin(), rows.end(), [](auto *a, auto *b) { return a->position < b->position; });
    QString out = database->second.name;
    for (const FakeServiceState::DatabaseRow *row : rows)
        out += QStringLiteral(" / ") + cell(row->data, 0) + QStringLiteral(", ") + cell(row->data, 1);
    return out;
}

QString stored(const FakeServiceState &state, const FakeServiceState::Block &block)
{
    const JSONObject &content = block.content;
    const QString &type = block.type;
    const auto str = [&](const char *key) {
        return BlockContent::readString(content, QString::fromLatin1(key));
    };
    if (type == QLatin1String("todo"))
        return box(BlockContent::readBool(content, QStringLiteral("checked"))) + str("text");
    if (type == QLatin1String("image") || type == QLatin1String("audio"))
        return str("url").isEmpty() ? QString() : QStringLiteral("uploaded");
    if (type == QLatin1String("file"))
        return str("filename");
    if (type == QLatin1String("drawing"))
        return str("svg").isEmpty() ? QString() : QStringLiteral("drawn");
    if (type == QLatin1String("embed") || type == QLatin1String("bookmark"))
        return str("url");
    if (type == QLatin1String("math"))
        return str("latex");
    if (type == QLatin1String("mention")) {
        const auto page = state.pages.find(idOf(content, QStringLiteral("page_id")));
        return page == state.pages.end() ? QString() : page->second.title;
    }
    if (type == QLatin1String("synced")) {
        const auto source = state.blocks.find(idOf(content, QStringLiteral("source_id")));
        return source == state.blocks.end()
                   ? QString()
                   : BlockContent::readString(source->second.content, QStringLiteral("text"));
    }
    if (type == QLatin1String("button"))
        return str("label") + QStringLiteral(" / ") + str("action") + QStringLiteral(" / ") + str("target");
    if (type == QLatin1String("columns"))
        return QString::number(idOf(content, QStringLiteral("count")));
    if (type == QLatin1String("database"))
        return storedDatabase(state, idOf(content, QStringLiteral("database_id")));
    if (type == QLatin1String("toc") || type == QLatin1String("breadcrumbs") ||
        type == QLatin1String("divider"))
        return QString();
    return str("text");
}

} // namespace

namespace BlockReadout {

QStringList shownBlocks(PageView *view)
{
    QStringList out;
    if (!view || !view->topLevelList())
        return out;
    // Every top-level block, as the user reads the page through: rows off screen are made for it.
    for (const FNBlock &block : view->model().blocks().topLevelBlocks()) {
        if (BlockRow *row = view->row(block.localID))
            out << row->model().currentBlock().type + QStringLiteral(": ") + shown(*row);
    }
    return out;
}

QStringList storedBlocks(FakeService &fake, qint64 pageId)
{
    QStringList out;
    for (const FakeServiceState::Block &block : fake.storedBlocks(pageId)) {
        if (block.parentBlockId == 0)
            out << block.type + QStringLiteral(": ") + stored(fake.state(), block);
    }
    return out;
}

} // namespace BlockReadout
