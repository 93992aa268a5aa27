#pragma once

#include "blocks/block_content.h"
#include "editor/block_focus.h"
#include "editor/block_row.h"
#include "editor/rich_text_editor.h"
#include "store/local_store.h"

#include <QApplication>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTextLayout>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>
#include <memory>

// A store in a temporary folder, one page focus, and block rows in a real, active window.
class EditorFixture
{
public:
    static constexpr std::chrono::milliseconds kTextDelay{30};

    EditorFixture()
        : m_store(std::make_unique<LocalStore>(m_dir.path(), std::chrono::milliseconds(5)))
        , m_window(std::make_unique<QWidget>())
        , m_layout(new QVBoxLayout(m_window.get()))
    {
        m_layout->setAlignment(Qt::AlignTop);
        m_window->resize(640, 480);
    }

    // Returns once a wait a few times the text delay, started now, has run out: any commit
    // scheduled before has had its turn.
    static bool waitPastTextDelay()
    {
        auto done = std::make_shared<bool>(false);
        QTimer::singleShot(kTextDelay * 3, QCoreApplication::instance(), [done] { *done = true; });
        return QTest::qWaitFor([done] { return *done; });
    }

    LocalStore &store() { return *m_store; }
    BlockFocus &focus() { return m_focus; }
    QWidget &window() { return *m_window; }
    int changes() const { return *m_changes; }

    // Stores a block of the page "P" and returns it as stored.
    FNBlock addBlock(const QString &type, const JSONObject &content = {}, qint64 serverID = 0)
    {
        FNBlock block;
        block.pageLocalID = QStringLiteral("P");
        block.type = type;
        block.serverID = serverID;
        block.contentJSON = BlockContent::encode(content).value_or(QStringLiteral("{}"));
        m_store->upsertBlock(block);
        return block;
    }

    BlockRowModel::Hooks hooks()
    {
        BlockRowModel::Hooks hooks;
        hooks.onChange = [changes = m_changes] { ++*changes; };
        hooks.onDeleteSelfIfEmpty = [deletes = m_deleteRequests] { ++*deletes; };
        return hooks;
    }
    int deleteRequests() const { return *m_deleteRequests; }

    BlockRow *addRow(const FNBlock &block)
    {
        auto *row = new BlockRow(*m_store, block, &m_focus, hooks(), m_window.get(), kTextDelay);
        m_layout->addWidget(row);
        return row;
    }

    bool showWindow()
    {
        m_window->show();
        QApplication::setActiveWindow(m_window.get());
        return QTest::qWaitForWindowActive(m_window.get());
    }

    static bool focusOn(QWidget *widget)
    {
        widget->setFocus();
        return QTest::qWaitFor([widget] { return widget->hasFocus(); });
    }

    // Shows the window, gives the editor the keyboard and types the text into it.
    bool showAndType(QWidget *editor, const QString &text)
    {
        if (!showWindow() || !focusOn(editor))
            return false;
        QTest::keyClicks(editor, text);
        return true;
    }

    static void select(QTextEdit &editor, int from, int to)
    {
        QTextCursor cursor = editor.textCursor();
        cursor.setPosition(from);
        cursor.setPosition(to, QTextCursor::KeepAnchor);
        editor.setTextCursor(cursor);
    }

    // The format the editor draws the character at `position` in; empty where the text is plain.
    static QTextCharFormat drawnFormat(const QTextEdit &editor, int position)
    {
        const QTextBlock block = editor.document()->findBlock(position);
        const int inBlock = position - block.position();
        for (const QTextLayout::FormatRange &range : block.layout()->formats()) {
            if (inBlock >= range.start && inBlock < range.start + range.length)
                return range.format;
        }
        return {};
    }

    // The characters the editor draws: hidden markers are transparent.
    static QString drawnText(const RichTextEditor &editor)
    {
        const QString raw = editor.toRawText();
        QString drawn;
        for (int i = 0; i < raw.size(); ++i) {
            if (raw[i] == QLatin1Char('\n') || drawnFormat(editor, i).foreground().color().alpha() != 0)
                drawn += raw[i];
        }
        return drawn;
    }

    JSONObject storedContent(const QString &localID) const
    {
        const FNBlock *block = m_store->block(localID);
        return block ? BlockContent::decode(block->contentJSON) : JSONObject{};
    }
    QString storedText(const QString &localID) const
    {
        return BlockContent::readString(storedContent(localID), QStringLiteral("text"));
    }
    FNBlock stored(const QString &localID) const { return *m_store->block(localID); }

    // What another device's edit looks like when a pull lays it over the local block.
    void pullText(const QString &localID, const QString &text)
    {
        FNBlock block = stored(localID);
        JSONObject content = BlockContent::decode(block.contentJSON);
        content[QStringLiteral("text")] = text;
        block.contentJSON = *BlockContent::encode(content);
        m_store->upsertBlock(block);
    }

    // Counts the writes that change a block's content, leaving out other changes of it (its server
    // id coming back from the service).
    std::shared_ptr<int> countContentWrites(const QString &localID)
    {
        auto count = std::make_shared<int>(0);
        auto seen = std::make_shared<QString>(m_store->block(localID)->contentJSON);
        QObject::connect(m_store.get(), &LocalStore::blockChanged, m_window.get(),
                         [store = m_store.get(), localID, count, seen](const QString &changed) {
                             const FNBlock *block = store->block(localID);
                             if (changed != localID || !block || block->contentJSON == *seen)
                                 return;
                             *seen = block->contentJSON;
                             ++*count;
                         });
        return count;
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<LocalStore> m_store;
    BlockFocus m_focus;
    std::shared_ptr<int> m_changes = std::make_shared<int>(0);
    std::shared_ptr<int> m_deleteRequests = std::make_shared<int>(0);
    std::unique_ptr<QWidget> m_window;
    QVBoxLayout *m_layout;
};
