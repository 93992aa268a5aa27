#pragma once

#include "app/app_window.h"
#include "app/auth_view.h"
#include "app/home_view.h"
#include "app/main_view.h"
#include "app/quick_switcher.h"
#include "app/sync_button.h"
#include "app/welcome_view.h"
#include "blocks/block_content.h"
#include "editor/auto_height_text_view.h"
#include "editor/block_row.h"
#include "editor/draggable_block_modifier.h"
#include "editor/emoji_picker.h"
#include "editor/format_toolbar.h"
#include "editor/link_sheet.h"
#include "editor/page_view.h"
#include "editor/rich_text_editor.h"
#include "editor/slash_menu.h"
#include "fake-service/fake_service.h"
#include "library/library_dock.h"
#include "library/library_list_view.h"
#include "library/library_row_model.h"
#include "library/library_view.h"
#include "library/trash_view.h"
#include "platform/icon_theme.h"
#include "platform/preset_file_picker.h"
#include "support/app_harness.h"
#include "support/editor_steps.h"
#include "support/journey.h"
#include "ui/empty_state_view.h"
#include "ui/toast_overlay.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolButton>

#include <algorithm>
#include <memory>

// What the new user's journey types, and how it reads the page back from the window and the service.
namespace newUserJourney {

inline const QString kEmail = QStringLiteral("robin@example.com");
inline const QString kPassword = QStringLiteral("hunter22");
inline const QString kName = QStringLiteral("Robin Hale");
inline const QString kFolderName = QStringLiteral("Travel");
inline const QString kPageTitle = QStringLiteral("Trip plan");
inline const QString kLink = QStringLiteral("https://example.com/trip");
inline const QString kIcon = QStringLiteral("\u2708\uFE0F"); // the aeroplane
inline const QString kCampingTitle = QStringLiteral("Camping");
// The camping page as written with the keyboard.
inline const QStringList kCampingBlocks{QStringLiteral("text: Pack the **tent**"),
                                 QStringLiteral("text: Check the stove"),
                                 QStringLiteral("bullet: Tent"),
                                 QStringLiteral("bullet: Stove pot"),
                                 QStringLiteral("divider: "),
                                 QStringLiteral("text: Done")};
inline const QString kPlanText = QStringLiteral("Plan the **trip**, see [docs](https://example.com/trip)");

// The sidebar with the folder open on the page.
inline QStringList folderWithPage()
{
    return {QStringLiteral("📁 ") + kFolderName, QStringLiteral("  ") + kIcon + QLatin1Char(' ') + kPageTitle};
}

// A page as the user reads it: one line per block, top to bottom, "kind: text", a to-do with its box.
inline QStringList expectedBlocks(const QString &bulletText)
{
    return {QStringLiteral("h2: Packing"), QStringLiteral("text: ") + kPlanText,
            QStringLiteral("todo: [x] Book the train"), QStringLiteral("bullet: ") + bulletText};
}

inline QString describe(const QString &type, const QString &text, std::optional<bool> checked)
{
    QString box;
    if (checked)
        box = *checked ? QStringLiteral("[x] ") : QStringLiteral("[ ] ");
    return type + QStringLiteral(": ") + box + text;
}

// The rows of an open page in the order they are drawn.
inline QStringList shownBlocks(PageView *view)
{
    QStringList out;
    for (BlockRow *row : journey::rowsAsDrawn(view)) {
        const QString text = row->richEditor() ? row->richEditor()->toRawText() : QString();
        std::optional<bool> checked;
        // A checked to-do is drawn struck through.
        if (row->todoBox() && row->richEditor())
            checked = row->richEditor()->strikethrough();
        out << describe(row->model().currentBlock().type, text, checked);
    }
    return out;
}

// The same page as the service holds it.
inline QStringList storedBlocks(FakeService &fake, qint64 pageId)
{
    QStringList out;
    for (const FakeServiceState::Block &block : fake.storedBlocks(pageId)) {
        std::optional<bool> checked;
        if (block.type == QLatin1String("todo"))
            checked = BlockContent::readBool(block.content, QStringLiteral("checked"));
        out << describe(block.type, BlockContent::readString(block.content, QStringLiteral("text")), checked);
    }
    return out;
}

// True when the editor draws `word` in a bold face (its markers hidden around it).
inline bool drawnBold(RichTextEditor *editor, const QString &word)
{
    for (QTextBlock block = editor->document()->begin(); block.isValid(); block = block.next()) {
        const int at = int(block.text().indexOf(word));
        if (at < 0)
            continue;
        for (const QTextLayout::FormatRange &range : block.layout()->formats()) {
            if (range.start <= at && at + word.size() <= range.start + range.length &&
                range.format.fontWeight() >= QFont::Bold)
                return true;
        }
    }
    return false;
}

// The open page's top-level row whose text starts with `prefix`.
inline BlockRow *rowShowing(PageView *view, const QString &prefix)
{
    if (!view)
        return nullptr;
    for (BlockRow *row : view->topLevelList()->rows()) {
        if (row->richEditor() && row->richEditor()->toRawText().startsWith(prefix))
            return row;
    }
    return nullptr;
}

// Opens the page from the sidebar (its folder first) and waits for what it shows.
inline void openPageFromSidebar(journey::Launch &launched)
{
    LibraryView *sidebar = launched.sidebar();
    QVERIFY(sidebar);
    QTRY_VERIFY_WITH_TIMEOUT(journey::sidebarRow(sidebar, kFolderName).isValid(), journey::kWait);
    // A folder listed before its pages has nothing to open: a click on it then does nothing. The
    // listing that brings the page may come a reload later.
    QTRY_VERIFY_WITH_TIMEOUT(journey::sidebarRow(sidebar, kFolderName).data(LibraryRowModel::HasChildrenRole).toBool(),
                             journey::kWait);
    journey::expandFolder(sidebar, kFolderName);
    QTRY_VERIFY_WITH_TIMEOUT(journey::sidebarRow(sidebar, kPageTitle).isValid(), journey::kWait);
    journey::clickRow(sidebar, kPageTitle);
    QTRY_VERIFY_WITH_TIMEOUT(launched.pageView(), journey::kWait);
    QCOMPARE(launched.pageView()->titleField()->toRawText(), kPageTitle);
}

} // namespace newUserJourney
