#include "blocks/database_block.h"

#include "api/wire/databases.h"
#include "blocks/block_content.h"
#include "blocks/block_host.h"
#include "blocks/database_block_model.h"
#include "blocks/database_cell_delegate.h"
#include "blocks/database_table_model.h"
#include "blocks/database_table_view.h"
#include "ui/app_menu.h"
#include "ui/app_style.h"
#include "ui/busy_indicator.h"
#include "ui/editor_symbols.h"
#include "ui/shown_text.h"
#include "ui/single_press.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QVBoxLayout>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>

namespace {

const QString kDatabaseIDKey = QStringLiteral("database_id");
constexpr int kProgressSize = 20;
constexpr int kProgressHeight = 60;

// The secondary text colour at `alpha` of its strength: the card's fills and lines.
QColor tint(const QWidget *widget, qreal alpha)
{
    QColor color = AppStyle::secondary(widget);
    color.setAlphaF(color.alphaF() * alpha);
    return color;
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

} // namespace

namespace DatabaseBlock {

Content Content::read(const JSONObject &content)
{
    return {BlockContent::readOptionalInt(content, kDatabaseIDKey)};
}

void Content::write(JSONObject &content) const
{
    if (databaseID)
        content[kDatabaseIDKey] = *databaseID;
}

void setDatabaseID(BlockHost &host, std::optional<qint64> databaseID)
{
    if (databaseID)
        host.write(Content{databaseID});
}

Editor editorOf(const QString &type)
{
    if (type == QLatin1String("checkbox"))
        return Editor::checkbox;
    if (type == QLatin1String("select"))
        return Editor::select;
    return Editor::text;
}

QString columnIcon(const QString &type)
{
    if (type == QLatin1String("checkbox"))
        return QStringLiteral("checkmark.square");
    if (type == QLatin1String("select"))
        return QStringLiteral("tag");
    if (type == QLatin1String("number"))
        return QStringLiteral("number");
    if (type == QLatin1String("date"))
        return QStringLiteral("calendar");
    if (type == QLatin1String("url"))
        return QStringLiteral("link");
    if (type == QLatin1String("email"))
        return QStringLiteral("envelope");
    return QStringLiteral("textformat");
}

int columnWidth(const QString &type)
{
    if (type == QLatin1String("checkbox"))
        return 56;
    if (type == QLatin1String("select"))
        return 140;
    if (type == QLatin1String("number"))
        return 100;
    if (type == QLatin1String("date"))
        return 130;
    return 200;
}

DBCreateReq defaultDatabase(qint64 pageServerID)
{
    DBCreateReq req;
    req.page_id = pageServerID;
    req.name = QStringLiteral("Tasks");
    req.columns = std::vector<DBColumnDTO>{
        {QStringLiteral("c1"), QStringLiteral("Name"), QStringLiteral("text"), std::nullopt},
        {QStringLiteral("c2"), QStringLiteral("Status"), QStringLiteral("select"),
         std::vector<QString>{QStringLiteral("Todo"), QStringLiteral("Doing"), QStringLiteral("Done")}},
        {QStringLiteral("c3"), QStringLiteral("Done"), QStringLiteral("checkbox"), std::nullopt},
    };
    return req;
}

qint64 nextRowPosition(const DatabaseDTO &database)
{
    return database.rows.empty() ? 0 : database.rows.back().position + 1;
}

std::optional<JSONValue> numberValue(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    if (begin == end)
        return JSONValue(nullptr);
    // The C conversion would skip a leading line break or other white space; the text would then
    // not be a number as a whole.
    if (text.at(begin).isSpace())
        return std::nullopt;
    const QByteArray bytes = text.mid(begin, end - begin).toUtf8();
    if (bytes.contains('\0'))
        return std::nullopt;
    // The C locale whatever the user's: "1.5" is one and a half everywhere.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    char *stop = nullptr;
    const double number = strtod_l(bytes.constData(), &stop, cLocale);
    if (stop != bytes.constData() + bytes.size())
        return std::nullopt;
    // JSON has no infinity or NaN to carry "1e999" or "nan".
    if (!std::isfinite(number))
        return std::nullopt;
    return JSONValue(number);
}

QString fieldText(const JSONValue &value, const QString &type)
{
    if (value.isString())
        return value.toString();
    if (type == QLatin1String("number")) {
        if (value.isInt())
            return QString::number(value.toInt());
        if (value.isDouble())
            return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    }
    return QString();
}

bool isChecked(const JSONValue &value)
{
    return value.isBool() && value.toBool();
}

const JSONValue &cellValue(const DBRowDTO &row, const QString &columnId)
{
    static const JSONValue missing;
    const auto it = row.data.find(columnId);
    return it == row.data.end() ? missing : it->second;
}

QString notSavedMessage(const QString &reason)
{
    return QString::fromUtf8(kNotSaved) + QStringLiteral(": ") + reason;
}

BlockView *makeView(BlockHost &host)
{
    return new DatabaseBlockView(host);
}

} // namespace DatabaseBlock

DatabaseBlockView::DatabaseBlockView(BlockHost &host, QWidget *parent)
    : BlockView(host, BlockType::database, parent)
    , m_model(new DatabaseBlockModel(host, this))
    , m_tableModel(new DatabaseTableModel(*m_model, this))
    , m_delegate(new DatabaseCellDelegate(this))
    , m_busy(new BusyIndicator(kProgressSize, this))
{
    m_tableModel->setHeaderIconColor(AppStyle::tertiary(this));
    m_busy->setColor(AppStyle::secondary(this));
    setBody(makeBody());
    connect(m_model, &DatabaseBlockModel::stateChanged, this, &DatabaseBlockView::updateState);
    connect(m_model, &DatabaseBlockModel::tableReset, this, &DatabaseBlockView::updateState);
    connect(m_model, &DatabaseBlockModel::rowAdded, this, &DatabaseBlockView::onRowAdded);
    connect(m_delegate, &DatabaseCellDelegate::textEdited, this, &DatabaseBlockView::editText);
    connect(m_model, &DatabaseBlockModel::valueRestored, this,
            [this](int row, int column) { m_delegate->refill(m_tableModel->index(row, column)); });
    connect(m_busy, &BusyIndicator::frameChanged, this, [this] {
        if (m_progress)
            m_progress->setPixmap(m_busy->frame(devicePixelRatioF())
                                      .pixmap(QSize(kProgressSize, kProgressSize), devicePixelRatioF()));
    });
    updateState();
}

DatabaseBlockView::~DatabaseBlockView()
{
    // The table and its open field go after the model: nothing they say on the way out reaches it.
    if (m_table)
        m_table->disconnect(this);
    m_delegate->disconnect(this);
}

QWidget *DatabaseBlockView::makeBody()
{
    auto *body = new QWidget;
    auto *layout = new QVBoxLayout(body);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(4);

    m_progress = new QLabel;
    m_progress->setObjectName(QStringLiteral("databaseLoading"));
    m_progress->setAlignment(Qt::AlignCenter);
    m_progress->setMinimumHeight(kProgressHeight);
    m_progress->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    layout->addWidget(m_progress);

    m_insertButton = new QPushButton;
    m_insertButton->setObjectName(QStringLiteral("insertDatabase"));
    m_insertButton->setFlat(true);
    m_insertButton->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    const QIcon table = EditorSymbols::icon(QStringLiteral("table"));
    if (table.isNull()) {
        m_insertButton->setText(EditorSymbols::glyph(QStringLiteral("table")) + QLatin1Char(' ') +
                                QString::fromUtf8(DatabaseBlock::kInsertDatabase));
    } else {
        m_insertButton->setIcon(table);
        m_insertButton->setText(QString::fromUtf8(DatabaseBlock::kInsertDatabase));
    }
    m_insertButton->setStyleSheet(
        QStringLiteral("#insertDatabase { background: %1; border: none; border-radius: 6px; padding: 10px; }"
                       "#insertDatabase:disabled { color: %2; }")
            .arg(AppStyle::css(tint(this, 0.08)), AppStyle::css(AppStyle::tertiary(this))));
    connect(m_insertButton, &QPushButton::clicked, this, [this] { m_model->createDefault(); });
    layout->addWidget(m_insertButton);

    m_card = makeCard();
    layout->addWidget(m_card);

    m_errorLabel = ShownText::label();
    m_errorLabel->setObjectName(QStringLiteral("databaseError"));
    m_errorLabel->setWordWrap(true);
    m_errorLabel->setFont(AppStyle::caption());
    m_errorLabel->setStyleSheet(QStringLiteral("color: red;"));
    m_errorLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_errorLabel);
    return body;
}

QFrame *DatabaseBlockView::makeCard()
{
    auto *card = new QFrame;
    card->setObjectName(QStringLiteral("databaseCard"));
    card->setStyleSheet(
        QStringLiteral("#databaseCard { background: %1; border: 1px solid %2; border-radius: 6px; }")
            .arg(AppStyle::css(tint(this, 0.03)), AppStyle::css(tint(this, 0.2))));
    auto *column = new QVBoxLayout(card);
    column->setContentsMargins(8, 6, 8, 8);
    column->setSpacing(0);

    auto *header = new QHBoxLayout;
    header->setContentsMargins(0, 0, 0, 0);
    header->setSpacing(6);
    auto *icon = new QLabel;
    const QIcon table = EditorSymbols::icon(QStringLiteral("table"), AppStyle::secondary(this));
    if (table.isNull())
        icon->setText(EditorSymbols::glyph(QStringLiteral("table")));
    else
        icon->setPixmap(table.pixmap(QSize(16, 16), devicePixelRatioF()));
    header->addWidget(icon);
    m_nameLabel = new QLabel;
    m_nameLabel->setObjectName(QStringLiteral("databaseName"));
    QFont name = AppStyle::callout();
    name.setWeight(QFont::DemiBold);
    m_nameLabel->setFont(name);
    m_nameLabel->setTextFormat(Qt::PlainText);
    header->addWidget(m_nameLabel);
    header->addStretch(1);
    m_addRowButton = new QPushButton(QString::fromUtf8(DatabaseBlock::kAddRow));
    m_addRowButton->setObjectName(QStringLiteral("addRow"));
    m_addRowButton->setFlat(true);
    m_addRowButton->setFont(AppStyle::caption());
    m_addRowButton->setCursor(Qt::PointingHandCursor);
    m_addRowButton->setIcon(EditorSymbols::icon(QStringLiteral("plus")));
    m_addRowButton->setIconSize(QSize(12, 12));
    m_addRowButton->setStyleSheet(QStringLiteral("#addRow { border: none; padding: 2px 4px; }"));
    connect(m_addRowButton, &QPushButton::clicked, this, &DatabaseBlockView::pressAddRow);
    takeDoubleClickAsOnePress(*m_addRowButton);
    header->addWidget(m_addRowButton);
    column->addLayout(header);
    column->addSpacing(6);

    m_table = new DatabaseTableView;
    m_table->setObjectName(QStringLiteral("databaseTable"));
    m_table->setModel(m_tableModel);
    m_table->setItemDelegate(m_delegate);
    const QString line = AppStyle::css(tint(this, 0.12));
    m_table->setStyleSheet(
        QStringLiteral(
            "QTableView { background: transparent; gridline-color: %1; border: none; }"
            "QHeaderView::section { background: %2; color: %3; border: none; border-right: 1px solid "
            "%1; border-bottom: 1px solid %1; padding: 5px 8px; }")
            .arg(line, AppStyle::css(tint(this, 0.06)), AppStyle::css(AppStyle::secondary(this))));
    m_table->horizontalHeader()->setIconSize(QSize(12, 12));
    connect(m_tableModel, &QAbstractItemModel::modelReset, m_table, &DatabaseTableView::updateLayout);
    connect(m_tableModel, &QAbstractItemModel::rowsInserted, m_table, &DatabaseTableView::updateLayout);
    connect(m_table, &DatabaseTableView::toggleRequested, this, &DatabaseBlockView::toggle);
    connect(m_table, &DatabaseTableView::menuRequested, this, &DatabaseBlockView::openSelectMenu);
    column->addWidget(m_table, 0, Qt::AlignLeft);
    return card;
}

QWidget *DatabaseBlockView::entryWidget() const
{
    // Just made, the view is not shown yet: what its state will show counts.
    if (!m_insertButton || m_insertButton->isHidden() || !m_insertButton->isEnabled())
        return nullptr;
    return m_insertButton;
}

void DatabaseBlockView::refresh()
{
    updateState();
}

void DatabaseBlockView::showEvent(QShowEvent *event)
{
    BlockView::showEvent(event);
    // Built or shown again in the page; a window coming back from being minimised is no new look.
    if (!event->spontaneous())
        m_model->load();
}

void DatabaseBlockView::updateState()
{
    const std::optional<DatabaseDTO> &db = m_model->database();
    const bool loading = !db && m_model->isLoading();
    const bool insertHadFocus = m_insertButton->hasFocus();
    m_busy->setRunning(loading);
    m_progress->setVisible(loading);
    m_insertButton->setVisible(m_model->offersInsert());
    m_insertButton->setEnabled(m_model->canInsert());
    m_card->setVisible(db.has_value());
    if (db) {
        m_nameLabel->setText(db->name);
        m_table->updateLayout();
        // The button pressed has gone: the keyboard moves on to what the new table offers.
        if (insertHadFocus)
            m_addRowButton->setFocus();
    }
    QStringList errors;
    if (const std::optional<QString> &error = m_model->error())
        errors << *error;
    if (const std::optional<QString> &notSaved = m_model->saveError())
        errors << *notSaved;
    m_errorLabel->setVisible(!errors.isEmpty());
    m_errorLabel->setText(errors.join(QLatin1Char('\n')));
}

void DatabaseBlockView::toggle(const QModelIndex &index)
{
    if (!index.isValid())
        return;
    const DBRowDTO row = m_tableModel->row(index.row());
    const QString column = m_tableModel->column(index.column()).id;
    m_model->editCell(row, column,
                      JSONValue(!DatabaseBlock::isChecked(DatabaseBlock::cellValue(row, column))));
}

void DatabaseBlockView::editText(const QModelIndex &index, const QString &text)
{
    if (!index.isValid() || index.model() != m_tableModel)
        return;
    m_model->setCellText(m_tableModel->row(index.row()), m_tableModel->column(index.column()), text);
}

void DatabaseBlockView::openSelectMenu(const QModelIndex &index)
{
    if (!index.isValid() || index.model() != m_tableModel)
        return;
    const DBColumnDTO column = m_tableModel->column(index.column());
    const DBRowDTO row = m_tableModel->row(index.row());
    const JSONValue &value = DatabaseBlock::cellValue(row, column.id);
    if (m_selectMenu)
        m_selectMenu->close();
    auto *menu = new AppMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (const QString &option : column.options.value_or(std::vector<QString>())) {
        QAction *action = menu->addAction(ShownText::mnemonicSafe(option));
        connect(action, &QAction::triggered, this,
                [this, row, id = column.id, option] { m_model->editCell(row, id, option); });
    }
    if (value.isString()) {
        menu->addSeparator();
        QAction *clear = menu->addAction(QString::fromUtf8(DatabaseBlock::kClear));
        AppStyle::markDestructive(clear);
        connect(clear, &QAction::triggered, this,
                [this, row, id = column.id] { m_model->editCell(row, id, JSONValue(nullptr)); });
    }
    if (menu->isEmpty()) {
        delete menu;
        return;
    }
    m_selectMenu = menu;
    const QRect cell = m_table->visualRect(index);
    menu->popup(m_table->viewport()->mapToGlobal(cell.bottomLeft()));
}

void DatabaseBlockView::pressAddRow()
{
    m_focusAddedRow = true;
    m_model->addRow();
}

void DatabaseBlockView::onRowAdded(int row)
{
    if (!m_focusAddedRow || row < 0 || row >= m_tableModel->rowCount())
        return;
    m_focusAddedRow = false;
    // Only while the keyboard is still here (on "Add row"): the user may have moved on meanwhile.
    QWidget *focused = QApplication::focusWidget();
    if (focused && !isAncestorOf(focused))
        return;
    for (int c = 0; c < m_tableModel->columnCount(); ++c) {
        const QModelIndex cell = m_tableModel->index(row, c);
        if (!(cell.flags() & Qt::ItemIsEditable))
            continue;
        m_table->setFocus();
        m_table->setCurrentIndex(cell);
        if (!m_table->isEditing())
            m_table->edit(cell);
        break;
    }
    // The page scrolls the new row into sight.
    for (QWidget *w = parentWidget(); w; w = w->parentWidget()) {
        if (auto *area = qobject_cast<QScrollArea *>(w)) {
            if (QWidget *now = QApplication::focusWidget();
                now && area->widget() && area->widget()->isAncestorOf(now))
                area->ensureWidgetVisible(now);
            break;
        }
    }
}
