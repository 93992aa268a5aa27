#include "editor/cover_image.h"

#include "api/service_client.h"
#include "ui/app_menu.h"
#include "ui/app_style.h"
#include "ui/busy_indicator.h"
#include "ui/editor_symbols.h"
#include "ui/shown_text.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr int kOverlayInset = 10;
constexpr int kSpinnerSize = 12;
constexpr int kChipSymbolSize = 14;
constexpr int kFailedSymbolSize = 28;

QString chipStyle(const QWidget *widget, const QColor &tint)
{
    QColor material = widget->palette().color(QPalette::Window);
    material.setAlphaF(0.85);
    QString style = QStringLiteral("padding: 6px 10px; border-radius: 12px; background: %1;")
                        .arg(AppStyle::css(tint.alpha() ? tint : material));
    return style;
}

} // namespace

CoverImage::CoverImage(const AppContext &context, std::shared_ptr<FilePicker> filePicker,
                       const QString &pageLocalID, QWidget *parent, int bandHeight)
    : QWidget(parent)
    , m_model(new CoverModel(context, std::move(filePicker), pageLocalID, this))
    , m_bandHeight(bandHeight)
{
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);

    m_addRow = new QWidget(this);
    auto *row = new QHBoxLayout(m_addRow);
    row->setContentsMargins(0, 4, 0, 4);
    row->setSpacing(8);
    m_addButton = new QPushButton(m_addRow);
    m_addButton->setFlat(true);
    m_addButton->setFocusPolicy(Qt::NoFocus);
    m_addButton->setFont(AppStyle::callout());
    m_addButton->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this))));
    connect(m_addButton, &QPushButton::clicked, this, [this] { m_model->uploadCover(this); });
    row->addWidget(m_addButton);
    m_message = ShownText::label({}, m_addRow);
    m_message->setFont(AppStyle::caption());
    row->addWidget(m_message);
    row->addStretch(1);
    stack->addWidget(m_addRow);
    m_busy = new BusyIndicator(kSpinnerSize, this);
    connect(m_busy, &BusyIndicator::frameChanged, this, [this] {
        if (m_model->uploading())
            m_addButton->setIcon(m_busy->frame(devicePixelRatioF()));
    });

    m_band = new QWidget(this);
    m_band->setFixedHeight(m_bandHeight);
    m_band->setMouseTracking(true);
    m_band->setAttribute(Qt::WA_Hover);
    m_band->installEventFilter(this);
    stack->addWidget(m_band);

    m_chips = new QWidget(m_band);
    auto *chips = new QHBoxLayout(m_chips);
    chips->setContentsMargins(0, 0, 0, 0);
    chips->setSpacing(6);
    m_repositionChip = new QLabel(m_chips);
    m_repositionChip->setFont(AppStyle::caption());
    chips->addWidget(m_repositionChip);
    m_menuChip = new QToolButton(m_chips);
    m_menuChip->setIcon(EditorSymbols::icon(QStringLiteral("ellipsis")));
    m_menuChip->setIconSize(QSize(kChipSymbolSize, kChipSymbolSize));
    m_menuChip->setFont(AppStyle::caption());
    m_menuChip->setPopupMode(QToolButton::InstantPopup);
    m_menuChip->setFocusPolicy(Qt::NoFocus);
    m_menu = new AppMenu(m_menuChip);
    QAction *change =
        m_menu->addAction(QString::fromLatin1(kChangeCover), this, [this] { m_model->uploadCover(this); });
    change->setIcon(EditorSymbols::icon(QStringLiteral("photo")));
    QAction *remove = m_menu->addAction(QString::fromLatin1(kRemoveCover), m_model, &CoverModel::removeCover);
    remove->setIcon(EditorSymbols::icon(QStringLiteral("trash")));
    AppStyle::markDestructive(remove);
    m_menuChip->setMenu(m_menu);
    m_menuChip->setStyleSheet(
        QStringLiteral("QToolButton { %1 } QToolButton::menu-indicator { image: none; }")
            .arg(chipStyle(this, Qt::transparent)));
    chips->addWidget(m_menuChip);

    m_badge = new QLabel(QString::fromLatin1(kUploading), m_band);
    m_badge->setFont(AppStyle::caption());
    QColor material = palette().color(QPalette::Window);
    material.setAlphaF(0.85);
    m_badge->setStyleSheet(
        QStringLiteral("padding: 8px; border-radius: 14px; background: %1;").arg(AppStyle::css(material)));

    connect(m_model, &CoverModel::changed, this, &CoverImage::refresh);
    refresh();
}

QPointF CoverImage::imageCentre() const
{
    return CoverModel::imageCentre(QSizeF(m_band->size()), m_model->localOffsetX(), m_model->localOffsetY());
}

bool CoverImage::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_band)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Paint:
        paintBand();
        return true;
    case QEvent::Resize:
        placeOverlays();
        break;
    case QEvent::Enter:
        m_model->setHovering(true);
        break;
    case QEvent::Leave:
        m_model->setHovering(false);
        break;
    case QEvent::MouseButtonPress: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton) {
            m_pressAt = mouse->position().toPoint();
            return true;
        }
        break;
    }
    case QEvent::MouseMove: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (!m_pressAt)
            break;
        const QPoint delta = mouse->position().toPoint() - *m_pressAt;
        // A short wobble of a click is not a drag.
        if (!m_model->isDragging() && std::hypot(delta.x(), delta.y()) < kMinDragDistance)
            return true;
        m_model->dragChanged(QPointF(delta), QSizeF(m_band->size()));
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton || !m_pressAt)
            break;
        m_pressAt.reset();
        if (m_model->isDragging())
            m_model->dragEnded();
        return true;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void CoverImage::refresh()
{
    const std::optional<FNPage> page = m_model->page();
    const bool hasCover = page && !page->coverURL.isEmpty();
    m_addRow->setVisible(!hasCover);
    m_band->setVisible(hasCover);
    layout()->setContentsMargins(0, 0, 0, hasCover ? 6 : 0);

    const bool uploading = m_model->uploading();
    m_busy->setRunning(uploading);
    m_addButton->setIcon(uploading ? m_busy->frame(devicePixelRatioF())
                                   : EditorSymbols::icon(QStringLiteral("photo"), AppStyle::secondary(this)));
    m_addButton->setText(QString::fromLatin1(uploading ? kUploading : kAddCover));
    m_addButton->setEnabled(m_model->canUpload());
    if (m_model->errorMsg()) {
        m_message->setText(*m_model->errorMsg());
        m_message->setStyleSheet(QStringLiteral("color: red;"));
        m_message->show();
    } else if (page && page->serverID == 0) {
        m_message->setText(QString::fromLatin1(CoverModel::kNotSynced));
        m_message->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::tertiary(this))));
        m_message->show();
    } else {
        m_message->clear();
        m_message->hide();
    }

    if (hasCover && page->coverURL != m_imageURL)
        loadImage(page->coverURL);
    if (!hasCover && !m_imageURL.isEmpty()) {
        m_imageURL.clear();
        m_image = QImage();
        m_phase = ImagePhase::Empty;
        delete m_remote;
    }

    const bool dragging = m_model->isDragging();
    m_chips->setVisible(hasCover && (m_model->isHovering() || dragging));
    m_repositionChip->setText(
        EditorSymbols::glyph(QStringLiteral("arrow.up.and.down.and.arrow.left.and.right")) +
        QLatin1Char(' ') + QString::fromLatin1(dragging ? kRepositioning : kDragToReposition));
    QColor tint = AppStyle::accent(this);
    tint.setAlphaF(0.25);
    m_repositionChip->setStyleSheet(chipStyle(this, dragging ? tint : QColor(Qt::transparent)));
    m_badge->setVisible(hasCover && uploading);
    placeOverlays();
    m_band->update();
}

void CoverImage::loadImage(const QString &url)
{
    delete m_remote;
    m_imageURL = url;
    m_image = QImage();
    ServiceClient *client = m_model->context().client;
    if (!client) {
        m_phase = ImagePhase::Failed;
        return;
    }
    // The process's image loader: shared downloads and its cache, and no token with them.
    m_remote = client->images().load(url, this);
    const auto show = [this] {
        const bool loaded = m_remote->state() == RemoteImage::State::loaded;
        m_image = loaded ? m_remote->image() : QImage();
        m_phase = loaded ? ImagePhase::Loaded : ImagePhase::Failed;
        m_band->update();
    };
    if (m_remote->state() == RemoteImage::State::loading) {
        m_phase = ImagePhase::Loading;
        connect(m_remote, &RemoteImage::stateChanged, this, show);
    } else {
        show();
    }
}

void CoverImage::paintBand()
{
    QPainter painter(m_band);
    const QRect area = m_band->rect();
    painter.setClipRect(area);
    QColor fill = AppStyle::secondary(this);
    if (m_phase == ImagePhase::Loaded) {
        const QSize size = m_image.size().scaled(area.size(), Qt::KeepAspectRatioByExpanding);
        const QPointF centre = imageCentre();
        const QRectF target(centre.x() - size.width() / 2.0, centre.y() - size.height() / 2.0, size.width(),
                            size.height());
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, m_image);
        return;
    }
    fill.setAlphaF(m_phase == ImagePhase::Failed ? 0.10 : 0.06);
    painter.fillRect(area, fill);
    if (m_phase == ImagePhase::Failed) {
        const QRect mark(0, 0, kFailedSymbolSize, kFailedSymbolSize);
        EditorSymbols::icon(QStringLiteral("photo"), AppStyle::tertiary(this))
            .paint(&painter, mark.translated(area.center() - mark.center()));
    }
}

void CoverImage::placeOverlays()
{
    m_chips->adjustSize();
    m_chips->move(m_band->width() - kOverlayInset - m_chips->width(), kOverlayInset);
    m_chips->raise();
    m_badge->adjustSize();
    m_badge->move(m_band->width() - kOverlayInset - m_badge->width(),
                  m_band->height() - kOverlayInset - m_badge->height());
    m_badge->raise();
}
