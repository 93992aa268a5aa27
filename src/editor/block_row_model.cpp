#include "editor/block_row_model.h"

#include "api/service_client.h"
#include "blocks/block_content.h"
#include "blocks/block_kind.h"
#include "editor/block_focus.h"
#include "editor/drop_first_characters.h"
#include "editor/page_outbox.h"
#include "store/block_fields.h"
#include "store/local_store.h"
#include "store/outbox.h"

#include <algorithm>

namespace {

const QString kTextKey = QStringLiteral("text");
const QString kCheckedKey = QStringLiteral("checked");
const QString kExpandedKey = QStringLiteral("expanded");
const QString kBodyKey = QStringLiteral("body");
const QString kIconKey = QStringLiteral("icon");
constexpr auto kPlaceholderWord = "text";
constexpr auto kDefaultCalloutIcon = "\U0001F4A1";

// Stores the block as edited now; one gone from the store meanwhile is stored again as the row last
// saw it. The page's next upsert carries it.
void storeEdited(LocalStore &store, FNBlock block, qint64 fields, const std::function<void(FNBlock &)> &edit)
{
    Outbox::of(store).blockEdited(block.pageLocalID, block.localID, fields);
    if (store.editBlock(block.localID, edit))
        return;
    edit(block);
    block.updatedAt = QDateTime::currentDateTimeUtc();
    store.upsertBlock(block);
}

// A write no page will flush (its row, and perhaps its page, are gone): queued now.
void queueUnflushed(LocalStore &store, const QString &pageLocalID)
{
    Outbox::of(store).pageBlocksUpsert(pageLocalID);
}

// Stores the block with the content; false, storing nothing, when the content cannot be encoded.
bool storeContent(LocalStore &store, const FNBlock &block, const JSONObject &content)
{
    const std::optional<QString> json = BlockContent::encode(content);
    if (!json)
        return false;
    storeEdited(store, block, BlockFields::Content, [&](FNBlock &b) { b.contentJSON = *json; });
    return true;
}

} // namespace

BlockRowModel::BlockRowModel(LocalStore &store, const FNBlock &block, BlockFocus *focusedBlock, Hooks hooks,
                             std::chrono::milliseconds textDelay, QObject *parent)
    : QObject(parent)
    , m_store(&store)
    , m_block(block)
    , m_focus(focusedBlock)
    , m_hooks(std::move(hooks))
    , m_textDelay(textDelay)
    , m_textDebouncer(textDelay)
{
    const FNBlock current = currentBlock();
    m_block = current;
    m_seenType = current.type;
    m_seenIndent = current.indentLevel;
    m_seenContent = current.contentJSON;
    m_seenPageServerID = current.pageServerID;
    m_seenServerID = current.serverID;
    // Only this row's block: a page of thousands of rows must not re-read them all per keystroke.
    connect(&store, &LocalStore::blockChanged, this, [this](const QString &localID) {
        if (localID == m_block.localID)
            onStoreChanged();
    });
    connect(&store, &LocalStore::recordsChanged, this, &BlockRowModel::onStoreChanged);
}

BlockRowModel::~BlockRowModel()
{
    if (!m_pendingCommit || !m_store || !isStored())
        return;
    // Our own write must not come back to this half-destroyed object or its row.
    disconnect(m_store, nullptr, this, nullptr);
    blockSignals(true);
    JSONObject content = decodeContent();
    content[kTextKey] = *m_pendingCommit;
    const FNBlock block = currentBlock();
    if (storeContent(*m_store, block, content))
        queueUnflushed(*m_store, block.pageLocalID);
}

FNBlock BlockRowModel::currentBlock() const
{
    if (m_store) {
        if (const FNBlock *stored = m_store->block(m_block.localID))
            return *stored;
    }
    return m_block;
}

bool BlockRowModel::isStored() const
{
    return m_store && m_store->block(m_block.localID);
}

JSONObject BlockRowModel::decodeContent() const
{
    return BlockContent::decode(currentBlock().contentJSON);
}

bool BlockRowModel::saveContent(const JSONObject &content)
{
    if (!m_store || !storeContent(*m_store, currentBlock(), content))
        return false;
    changed();
    return true;
}

void BlockRowModel::setContentString(const QString &value, const QString &key)
{
    JSONObject content = decodeContent();
    content[key] = value;
    saveContent(content);
}

void BlockRowModel::setContentInt(qint64 value, const QString &key)
{
    JSONObject content = decodeContent();
    content[key] = value;
    saveContent(content);
}

void BlockRowModel::setContentBool(bool value, const QString &key)
{
    JSONObject content = decodeContent();
    content[key] = value;
    saveContent(content);
}

void BlockRowModel::setContentDouble(double value, const QString &key)
{
    JSONObject content = decodeContent();
    content[key] = value;
    saveContent(content);
}

bool BlockRowModel::isFocused() const
{
    return m_focus && m_focus->isFocused(m_block.localID);
}

void BlockRowModel::setEditorHasFocus(bool hasFocus)
{
    if (m_editorHasFocus == hasFocus)
        return;
    m_editorHasFocus = hasFocus;
}

void BlockRowModel::changeType(BlockType kind)
{
    if (!m_store)
        return;
    storeEdited(*m_store, currentBlock(), BlockFields::Kind, [&](FNBlock &b) { b.type = kind.rawValue(); });
    changed();
}

void BlockRowModel::changeIndent(int delta)
{
    if (!m_store)
        return;
    // The stored block, not the value the row was built with: that one may predate content
    // edits and the block's server id, which an upsert of it would throw away.
    // The service keeps no indent: nothing of it goes out, and the block is no newer for it than
    // the version this device last agreed on with the service, or a pull would keep it over what
    // another device changes in it from then on.
    const auto indent = [&](FNBlock &b) {
        b.indentLevel = std::clamp<qint64>(b.indentLevel + delta, 0, kMaxIndent);
    };
    FNBlock block = currentBlock();
    if (!m_store->editBlock(block.localID, indent, LocalStore::Stamp::Keep)) {
        indent(block);
        m_store->upsertBlock(block);
    }
    changed();
}

void BlockRowModel::deleteBlock()
{
    if (!m_store)
        return;
    // The server id as stored now: a block acknowledged after the row was built must still be
    // deleted on the service.
    const FNBlock block = currentBlock();
    m_store->markBlockDeleted(block.localID);
    if (block.serverID != 0)
        PageOutbox::queueBlockDelete(*m_store, block);
    changed();
}

void BlockRowModel::loadText()
{
    if (m_didInit)
        return;
    m_didInit = true;
    setText(storedText());
}

void BlockRowModel::commitText(const QString &newText)
{
    setText(newText);
    m_pendingCommit = newText;
    const quint64 generation = ++m_commitGeneration;
    m_textDebouncer.schedule([guard = QPointer<BlockRowModel>(this), generation] {
        if (guard)
            guard->runCommit(generation);
    });
}

void BlockRowModel::commitTextNow(const QString &newText)
{
    dropPendingCommit();
    setText(newText);
    writeText(newText, false);
}

std::optional<QString> BlockRowModel::slashQuery() const
{
    if (!m_text.startsWith(QLatin1Char('/')))
        return std::nullopt;
    const QString query = dropFirstCharacters(1, m_text);
    if (query.contains(QLatin1Char('\n')))
        return std::nullopt;
    return query;
}

void BlockRowModel::dismissSlashMenu()
{
    if (m_slashDismissed)
        return;
    m_slashDismissed = true;
    Q_EMIT slashMenuChanged();
}

void BlockRowModel::applySlashPick(BlockType kind)
{
    dropPendingCommit();
    setText(QString());
    setContentString(QString(), kTextKey);
    changeType(kind);
}

void BlockRowModel::handleBackspaceAtStart()
{
    if (m_text.isEmpty() && m_hooks.onDeleteSelfIfEmpty)
        m_hooks.onDeleteSelfIfEmpty();
}

void BlockRowModel::leaveText(bool down)
{
    if (m_hooks.onLeaveText)
        m_hooks.onLeaveText(down);
}

void BlockRowModel::passKeyboardOn()
{
    if (m_hooks.onPassKeyboardOn)
        m_hooks.onPassKeyboardOn();
}

bool BlockRowModel::handleReturn(const QString &head, const QString &tail)
{
    if (!m_hooks.onInsertNextBlock)
        return false;
    const auto kind = BlockType::fromRawValue(currentBlock().type);
    const bool listItem =
        kind && (*kind == BlockType::bullet || *kind == BlockType::number || *kind == BlockType::todo);
    if (listItem && head.isEmpty() && tail.isEmpty()) {
        if (m_pendingCommit || !isStored())
            commitTextNow(head);
        changeType(BlockType::text);
        return true;
    }
    const QString newKind = listItem ? kind->rawValue() : BlockType(BlockType::text).rawValue();
    // At the line's start the line keeps its block, and with it its comments, its children and what
    // another device writes into it meanwhile; the empty line is the new one.
    const bool atStart = head.isEmpty() && !tail.isEmpty() && m_hooks.onInsertBlockAbove;
    const QString kept = atStart ? tail : head;
    // Stored now: the new block comes right away and the page's flush carries both. A line left as
    // it was is not written again: another device may have changed it while it had the keyboard,
    // and this row still shows the text from before.
    if (kept != m_text || m_pendingCommit || !isStored())
        commitTextNow(kept);
    if (atStart)
        m_hooks.onInsertBlockAbove(newKind);
    else
        m_hooks.onInsertNextBlock(newKind, tail);
    return false;
}

void BlockRowModel::appendMarkers(const QString &prefix, const QString &suffix)
{
    commitTextNow(m_text + prefix + QLatin1String(kPlaceholderWord) + suffix);
}

void BlockRowModel::appendLink(const QString &url)
{
    commitTextNow(m_text + QStringLiteral(" [link](") + url + QLatin1Char(')'));
}

void BlockRowModel::syncTextFromStore()
{
    // A commit still waiting is the user's newer text: it goes out and wins. Without one the row
    // holds nothing of its own, keyboard or not (what it typed is stored, and the store keeps it
    // against pulls until the service has it), so it shows what is stored.
    if (!m_didInit || m_pendingCommit)
        return;
    const QString stored = storedText();
    if (stored != m_text)
        setText(stored);
}

void BlockRowModel::takeStoredText()
{
    if (!m_didInit)
        return;
    dropPendingCommit();
    setText(storedText());
}

void BlockRowModel::flushText()
{
    dropPendingCommit();
    if (!keepsTextKey())
        return;
    writeText(m_text, true);
}

bool BlockRowModel::readChecked() const
{
    return BlockContent::readBool(decodeContent(), kCheckedKey);
}

void BlockRowModel::toggleChecked(bool checkedAsDrawn)
{
    setContentBool(!checkedAsDrawn, kCheckedKey);
}

bool BlockRowModel::readToggleExpanded() const
{
    return BlockContent::readBool(decodeContent(), kExpandedKey);
}

void BlockRowModel::setToggleExpanded(bool expanded)
{
    setContentBool(expanded, kExpandedKey);
}

QString BlockRowModel::readToggleBody() const
{
    return BlockContent::readString(decodeContent(), kBodyKey);
}

void BlockRowModel::setToggleBody(const QString &body)
{
    setContentString(body, kBodyKey);
}

QString BlockRowModel::readCalloutIcon() const
{
    return BlockContent::readString(decodeContent(), kIconKey, QString::fromUtf8(kDefaultCalloutIcon));
}

void BlockRowModel::setShowLinkSheet(bool shown)
{
    if (m_showLinkSheet == shown)
        return;
    m_showLinkSheet = shown;
    Q_EMIT showLinkSheetChanged();
}

void BlockRowModel::cancelLink()
{
    m_linkURL.clear();
    setShowLinkSheet(false);
}

QString BlockRowModel::trimmedLinkURL(const QString &url)
{
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    qsizetype from = 0;
    qsizetype to = url.size();
    while (from < to && blank(url[from]))
        ++from;
    while (to > from && blank(url[to - 1]))
        --to;
    return url.mid(from, to - from);
}

void BlockRowModel::setShowInlineComment(bool shown)
{
    if (m_showInlineComment == shown)
        return;
    m_showInlineComment = shown;
    Q_EMIT showInlineCommentChanged();
}

void BlockRowModel::setBlockCommentCount(int count)
{
    if (m_blockCommentCount == count)
        return;
    m_blockCommentCount = count;
    Q_EMIT blockCommentCountChanged();
}

BlockRowModel::ContentTarget BlockRowModel::contentTarget()
{
    return ContentTarget{this, m_store, m_block.localID, m_store ? m_store->generation() : 0};
}

BlockHost::ContentWriter BlockRowModel::laterWriter()
{
    return [target = contentTarget()](const ContentEdit &edit) { return writeContent(target, edit); };
}

bool BlockRowModel::writeContent(const ContentTarget &target, const ContentEdit &edit)
{
    LocalStore *store = target.store;
    if (!store || store->generation() != target.generation)
        return false;
    const FNBlock *stored = store->block(target.localID);
    if (!stored)
        return false;
    if (BlockRowModel *row = target.row) {
        JSONObject content = row->decodeContent();
        edit(content);
        return row->saveContent(content);
    }
    const FNBlock block = *stored;
    JSONObject content = BlockContent::decode(block.contentJSON);
    edit(content);
    if (!storeContent(*store, block, content))
        return false;
    queueUnflushed(*store, block.pageLocalID);
    return true;
}

const LocalStore *BlockRowModel::store() const
{
    return m_store;
}

bool BlockRowModel::isSignedIn() const
{
    return m_media.client && m_media.client->isSignedIn();
}

void BlockRowModel::onStoreChanged()
{
    const FNBlock *stored = m_store->block(m_block.localID);
    if (!stored)
        return;
    m_block = *stored;
    const bool typeDiffers = m_block.type != m_seenType;
    const bool indentDiffers = m_block.indentLevel != m_seenIndent;
    const bool contentDiffers = m_block.contentJSON != m_seenContent;
    const bool pageDiffers = m_block.pageServerID != m_seenPageServerID;
    m_seenType = m_block.type;
    m_seenIndent = m_block.indentLevel;
    m_seenContent = m_block.contentJSON;
    m_seenPageServerID = m_block.pageServerID;
    // The block reaching the service while its comment popover is open lifts the sync note there.
    const bool serverIDDiffers = m_block.serverID != m_seenServerID;
    m_seenServerID = m_block.serverID;
    if (contentDiffers)
        syncTextFromStore();
    if (typeDiffers)
        Q_EMIT typeChanged();
    if (indentDiffers)
        Q_EMIT indentChanged();
    if (contentDiffers || pageDiffers)
        Q_EMIT contentChanged();
    if (serverIDDiffers)
        Q_EMIT inlineCommentChanged();
}

void BlockRowModel::setText(const QString &text)
{
    const bool slashWasShown = isSlashMenuShown();
    if (text == m_text)
        return;
    m_text = text;
    if (!slashQuery())
        m_slashDismissed = false;
    Q_EMIT textChanged();
    if (slashWasShown != isSlashMenuShown())
        Q_EMIT slashMenuChanged();
}

QString BlockRowModel::storedText() const
{
    return BlockContent::readString(decodeContent(), kTextKey);
}

void BlockRowModel::writeText(const QString &text, bool onlyIfStored)
{
    if (onlyIfStored && !isStored())
        return;
    setContentString(text, kTextKey);
}

void BlockRowModel::dropPendingCommit()
{
    ++m_commitGeneration;
    m_pendingCommit.reset();
}

void BlockRowModel::runCommit(quint64 generation)
{
    if (generation != m_commitGeneration || !m_pendingCommit)
        return;
    const QString text = *std::exchange(m_pendingCommit, std::nullopt);
    writeText(text, true);
}

bool BlockRowModel::keepsTextKey() const
{
    // The kinds shown by a view of their own keep their content exactly as stored.
    const auto kind = BlockType::fromRawValue(currentBlock().type);
    return !kind || !BlockKind::of(*kind);
}

void BlockRowModel::changed()
{
    if (m_hooks.onChange)
        m_hooks.onChange();
}
