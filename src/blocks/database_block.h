#pragma once

#include "blocks/block_view.h"
#include "blocks/database_table_view.h"
#include "json/json_value.h"

#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QModelIndex>
#include <QPointer>
#include <QPushButton>
#include <QString>

#include <optional>

class BlockHost;
class BusyIndicator;
class DatabaseBlockModel;
class DatabaseCellDelegate;
class DatabaseTableModel;
struct DBColumnDTO;
struct DBCreateReq;
struct DBRowDTO;
struct DatabaseDTO;

// An inline database: a small table of typed columns and rows that lives on the service. The
// block's content keeps only the database's id.
namespace DatabaseBlock {

inline constexpr const char *kInsertDatabase = "Insert database";
inline constexpr const char *kAddRow = "Add row";
inline constexpr const char *kClear = "Clear";
inline constexpr const char *kNoValue = "\u2014";
inline constexpr const char *kNotSaved = "Change not saved";

struct Content {
    // None writes nothing and keeps the stored id.
    std::optional<qint64> databaseID;

    static Content read(const JSONObject &content);
    void write(JSONObject &content) const;
};

// The block bound to a database; none writes nothing at all.
void setDatabaseID(BlockHost &host, std::optional<qint64> databaseID);

// How a column's cells are edited. Type names compare exactly; an unknown type edits as text.
enum class Editor { checkbox, select, text };
Editor editorOf(const QString &type);
// The header's symbol and the width in pixels of the column's header and cells.
QString columnIcon(const QString &type);
int columnWidth(const QString &type);

// The table "Insert database" creates: "Tasks" with Name (text), Status (select: Todo, Doing,
// Done) and Done (checkbox).
DBCreateReq defaultDatabase(qint64 pageServerID);
// Where "Add row" puts its row: one past the last row's position in list order, 0 for none.
qint64 nextRowPosition(const DatabaseDTO &database);

// A number cell's text: spaces and tabs around it are dropped; blank gives null; one number that
// takes the whole text (a sign and an exponent allowed) gives that number; anything else nothing.
std::optional<JSONValue> numberValue(const QString &text);
// What a text field of the column type shows for the value.
QString fieldText(const JSONValue &value, const QString &type);
// Only JSON true ticks a checkbox.
bool isChecked(const JSONValue &value);
// A cell's value; a missing key reads as null.
const JSONValue &cellValue(const DBRowDTO &row, const QString &columnId);

// What the block says when the service did not take a cell's change, and why.
QString notSavedMessage(const QString &reason);

BlockView *makeView(BlockHost &host);

} // namespace DatabaseBlock

// The block's view: while it loads a progress indicator; without a table the "Insert database"
// button; with one a card with the table's name, "Add row" and the table itself. The last failure
// shows under it all. The table loads each time the view appears in the page.
class DatabaseBlockView : public BlockView
{
    Q_OBJECT
public:
    explicit DatabaseBlockView(BlockHost &host, QWidget *parent = nullptr);
    ~DatabaseBlockView() override;

    // The page may have reached the service: "Insert database" follows.
    void refresh() override;

    DatabaseBlockModel &model() const { return *m_model; }
    DatabaseTableModel &tableModel() const { return *m_tableModel; }
    DatabaseTableView *table() const { return m_table; }
    QPushButton *insertButton() const { return m_insertButton; }
    // "Insert database" while it can be pressed: Space or Return makes the table.
    QWidget *entryWidget() const override;
    QPushButton *addRowButton() const { return m_addRowButton; }
    QLabel *nameLabel() const { return m_nameLabel; }
    QLabel *errorLabel() const { return m_errorLabel; }
    QWidget *progress() const { return m_progress; }
    // The menu of a select cell while it is open.
    QMenu *selectMenu() const { return m_selectMenu; }
    // What a click on a select cell does: its menu, below the cell.
    void openSelectMenu(const QModelIndex &index);

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWidget *makeBody();
    QFrame *makeCard();
    void updateState();
    void toggle(const QModelIndex &index);
    void editText(const QModelIndex &index, const QString &text);
    void onRowAdded(int row);
    void pressAddRow();

    DatabaseBlockModel *m_model;
    DatabaseTableModel *m_tableModel;
    DatabaseCellDelegate *m_delegate;
    BusyIndicator *m_busy;
    QPointer<QLabel> m_progress;
    QPointer<QPushButton> m_insertButton;
    QPointer<QFrame> m_card;
    QPointer<QLabel> m_nameLabel;
    QPointer<QPushButton> m_addRowButton;
    QPointer<DatabaseTableView> m_table;
    QPointer<QLabel> m_errorLabel;
    QPointer<QMenu> m_selectMenu;
    // "Add row" was pressed here: its row takes the keyboard when it comes.
    bool m_focusAddedRow = false;
};
