#include "collab/comments_panel.h"

#include "collab/comments_panel_model.h"
#include "collab/panel_header.h"
#include "ui/app_style.h"
#include "ui/busy_indicator.h"
#include "ui/clamped_text.h"
#include "ui/empty_state_view.h"
#include "ui/symbol_icons.h"

#include <QAbstractTextDocumentLayout>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kQuoteBarWidth = 2;
constexpr int kQuoteLines = 2;
// The spinner before "Post", 60 % of a small one.
constexpr int kPostSpinnerSize = 10;
constexpr int kCaption2Size = 11;

QLabel *plainLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText); // server text is never markup
    label->setWordWrap(true);
    return label;
}

QWidget *commentCard(const CommentDTO &comment, QWidget *parent)
{
    auto *card = new QFrame(parent);
    card->setObjectName(QStringLiteral("commentCard"));
    card->setStyleSheet(
        QStringLiteral("#commentCard { background: rgba(128,128,128,18); border-radius: 6px; }"));
    auto *column = new QVBoxLayout(card);
    column->setContentsMargins(8, 8, 8, 8);
    column->setSpacing(3);

    auto *top = new QHBoxLayout;
    QLabel *author = plainLabel(CommentsPanelModel::author(comment), card);
    author->setObjectName(QStringLiteral("author"));
    QFont bold = author->font();
    bold.setWeight(QFont::Medium);
    author->setFont(bold);
    QLabel *date = plainLabel(CommentsPanelModel::date(comment), card);
    date->setObjectName(QStringLiteral("date"));
    date->setWordWrap(false);
    date->setStyleSheet(QStringLiteral("color: gray; font-size: small;"));
    top->addWidget(author, 1);
    top->addWidget(date);
    column->addLayout(top);

    if (const std::optional<QString> context = CommentsPanelModel::context(comment)) {
        const bool quote = comment.selection_text && !comment.selection_text->isEmpty();
        auto *line = new QHBoxLayout;
        line->setSpacing(4);
        if (quote) {
            auto *bar = new QFrame(card);
            bar->setObjectName(QStringLiteral("quoteBar"));
            bar->setFixedWidth(kQuoteBarWidth);
            QColor tint = AppStyle::accent(card);
            tint.setAlphaF(0.6f);
            bar->setStyleSheet(QStringLiteral("#quoteBar { background: %1; }").arg(AppStyle::css(tint)));
            auto *text = new ClampedText(kQuoteLines, card);
            text->setObjectName(QStringLiteral("context"));
            QFont italic = AppStyle::caption();
            italic.setItalic(true);
            text->setFont(italic);
            text->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(card))));
            text->setFullText(*context);
            line->addWidget(bar);
            line->addWidget(text, 1);
        } else {
            const QFont small = AppStyle::system(kCaption2Size);
            const QString tone = QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::tertiary(card)));
            auto *symbol = new QLabel(card);
            symbol->setObjectName(QStringLiteral("contextSymbol"));
            symbol->setPixmap(SymbolIcons::pixmap(QStringLiteral("square.text.square"),
                                                  QFontMetrics(small).height(), AppStyle::tertiary(card),
                                                  card->devicePixelRatioF()));
            QLabel *label = plainLabel(*context, card);
            label->setObjectName(QStringLiteral("context"));
            label->setFont(small);
            label->setStyleSheet(tone);
            line->addWidget(symbol);
            line->addWidget(label, 1);
        }
        column->addLayout(line);
    }
    QLabel *body = plainLabel(comment.body, card);
    body->setObjectName(QStringLiteral("body"));
    column->addWidget(body);
    return card;
}

} // namespace

CommentsPanel::CommentsPanel(ServiceClient &client, std::function<qint64()> pageServerID,
                             std::function<void()> onClose, QWidget *parent)
    : QWidget(parent)
    , m_model(new CommentsPanelModel(client, std::move(pageServerID), this))
{
    setFixedWidth(kWidth);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(12);

    const PanelHeader header =
        PanelHeader::make(this, QStringLiteral("bubble.left.and.bubble.right"), QString::fromUtf8(kTitle));
    m_reload = header.reload;
    m_close = header.close;
    column->addLayout(header.layout);

    m_area = new QStackedWidget(this);
    m_spinner = new QProgressBar(m_area);
    m_spinner->setRange(0, 0);
    m_spinner->setTextVisible(false);
    m_spinner->setMaximumWidth(80);
    auto *spinnerHolder = new QWidget(m_area);
    auto *spinnerLayout = new QVBoxLayout(spinnerHolder);
    spinnerLayout->addWidget(m_spinner, 0, Qt::AlignCenter);
    m_empty =
        new EmptyStateView(QStringLiteral("bubble.left.and.bubble.right"), QString::fromUtf8(kEmptyTitle),
                           QString::fromUtf8(kEmptySubtitle), std::nullopt, {}, m_area);
    m_scroll = new QScrollArea(m_area);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_listHolder = new QWidget(m_scroll);
    m_list = new QVBoxLayout(m_listHolder);
    m_list->setContentsMargins(0, 0, 0, 0);
    m_list->setSpacing(10);
    m_list->addStretch(1);
    m_scroll->setWidget(m_listHolder);
    m_area->addWidget(spinnerHolder);
    m_area->addWidget(m_empty);
    m_area->addWidget(m_scroll);
    column->addWidget(m_area, 1);

    auto *divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    column->addWidget(divider);

    m_composer = new QPlainTextEdit(this);
    m_composer->setPlaceholderText(QString::fromUtf8(kPlaceholder));
    m_composer->setTabChangesFocus(true);
    // Two lines tall, growing with the text up to six; beyond that it scrolls.
    m_composer->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    const auto fitComposer = [composer = m_composer] {
        const qreal line = QFontMetricsF(composer->font()).lineSpacing();
        const int lines = int(composer->document()->documentLayout()->documentSize().height());
        const int margins = composer->contentsMargins().top() + composer->contentsMargins().bottom() +
                            2 * int(composer->document()->documentMargin());
        // The edit counts a line as shown only with a pixel to spare below it.
        composer->setFixedHeight(int(std::ceil(std::clamp(lines, 2, 6) * line)) + margins + 1);
    };
    fitComposer();
    connect(m_composer->document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            fitComposer);
    column->addWidget(m_composer);
    m_error = plainLabel(QString(), this);
    m_error->setStyleSheet(QStringLiteral("color: red;"));
    m_error->hide();
    column->addWidget(m_error);
    auto *postRow = new QHBoxLayout;
    postRow->addStretch(1);
    m_post = new QPushButton(QString::fromUtf8(kPost), this);
    m_post->setDefault(true);
    m_post->setIconSize(QSize(kPostSpinnerSize, kPostSpinnerSize));
    postRow->addWidget(m_post);
    m_postBusy = new BusyIndicator(kPostSpinnerSize, this);
    connect(m_postBusy, &BusyIndicator::frameChanged, this, [this] {
        m_post->setIcon(m_postBusy->isRunning() ? m_postBusy->frame(devicePixelRatioF()) : QIcon());
    });
    column->addLayout(postRow);

    connect(m_model, &CommentsPanelModel::changed, this, &CommentsPanel::render);
    connect(m_composer, &QPlainTextEdit::textChanged, this,
            [this] { m_model->setNewBody(m_composer->toPlainText()); });
    connect(m_post, &QPushButton::clicked, this, [this] {
        if (m_model->canPost())
            m_model->postComment();
    });
    connect(m_reload, &QToolButton::clicked, this, [this] { m_model->loadComments(); });
    connect(m_close, &QToolButton::clicked, this, [onClose = std::move(onClose)] {
        if (onClose)
            onClose();
    });
    render();
    m_model->loadComments();
}

QList<QWidget *> CommentsPanel::cards() const
{
    QList<QWidget *> out;
    for (int i = 0; i < m_list->count(); ++i) {
        if (QWidget *w = m_list->itemAt(i)->widget())
            out << w;
    }
    return out;
}

void CommentsPanel::render()
{
    const CommentsPanelModel &model = *m_model;
    if (model.isLoading())
        m_area->setCurrentIndex(0);
    else if (model.comments().empty())
        m_area->setCurrentIndex(1);
    else
        m_area->setCurrentIndex(2);
    if (m_renderedVersion != model.listVersion())
        renderList();
    if (m_composer->toPlainText() != model.newBody())
        m_composer->setPlainText(model.newBody());
    m_error->setVisible(model.error().has_value());
    m_error->setText(model.error().value_or(QString()));
    m_post->setEnabled(model.canPost());
    if (model.isPosting() != m_postBusy->isRunning()) {
        m_postBusy->setColor(AppStyle::secondary(this));
        m_postBusy->setRunning(model.isPosting());
        m_post->setIcon(model.isPosting() ? m_postBusy->frame(devicePixelRatioF()) : QIcon());
    }
}

void CommentsPanel::renderList()
{
    const std::vector<CommentDTO> &comments = m_model->comments();
    while (m_list->count() > 1) {
        QLayoutItem *item = m_list->takeAt(0);
        delete item->widget();
        delete item;
    }
    int index = 0;
    for (const CommentDTO &comment : comments)
        m_list->insertWidget(index++, commentCard(comment, m_listHolder));
    m_renderedVersion = m_model->listVersion();
}
