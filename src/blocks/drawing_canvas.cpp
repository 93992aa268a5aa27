#include "blocks/drawing_canvas.h"

#include "blocks/drawing_block_model.h"
#include "ui/app_style.h"
#include "ui/editor_symbols.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kCornerRadius = 6;
constexpr int kHandleInset = 8;
constexpr int kHandlePadding = 6;
constexpr int kHandleGlyph = 12;
constexpr double kHandleMinimumDistance = 10;
constexpr auto kHandleTip = "Drag to resize";
// Every point lies within 100000 of the origin, so a wider line already covers the whole canvas;
// narrower keeps the raster engine's coordinates in range.
constexpr double kWidestLine = 400000;

QColor faded(QColor color, double opacity)
{
    color.setAlphaF(color.alphaF() * opacity);
    return color;
}

// The corner handle: a drag of at least 10 points moves the canvas's bottom edge with the
// pointer; its end stores the height once.
class ResizeHandle : public QWidget
{
public:
    ResizeHandle(DrawingBlockModel &model, QWidget *parent)
        : QWidget(parent)
        , m_model(model)
    {
        setObjectName(QStringLiteral("drawingResizeHandle"));
        setToolTip(QString::fromLatin1(kHandleTip));
        setCursor(Qt::SizeVerCursor);
        setFixedSize(kHandleGlyph + 2 * kHandlePadding, kHandleGlyph + 2 * kHandlePadding);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(faded(palette().color(QPalette::Window), 0.8));
        painter.drawRoundedRect(QRectF(rect()), 5, 5);
        const QIcon icon = EditorSymbols::icon(QStringLiteral("arrow.up.left.and.arrow.down.right"),
                                               AppStyle::tertiary(this));
        icon.paint(&painter, QRect(kHandlePadding, kHandlePadding, kHandleGlyph, kHandleGlyph));
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton)
            return QWidget::mousePressEvent(event);
        m_pressedAt = event->globalPosition();
        m_pressed = true;
        m_started = false;
    }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (!m_pressed)
            return QWidget::mouseMoveEvent(event);
        const QPointF moved = event->globalPosition() - m_pressedAt;
        if (!m_started && std::hypot(moved.x(), moved.y()) < kHandleMinimumDistance)
            return;
        m_started = true;
        m_model.resizeChanged(moved.y());
    }

    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton || !m_pressed)
            return QWidget::mouseReleaseEvent(event);
        m_pressed = false;
        if (m_started)
            m_model.resizeEnded();
        m_started = false;
    }

private:
    DrawingBlockModel &m_model;
    QPointF m_pressedAt;
    bool m_pressed = false;
    bool m_started = false;
};

} // namespace

DrawingCanvas::DrawingCanvas(DrawingBlockModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_handle(new ResizeHandle(model, this))
{
    setObjectName(QStringLiteral("drawingCanvas"));
    setCursor(Qt::CrossCursor);
    // Drawing takes the keyboard from the text row that had it, and so the text toolbar goes.
    setFocusPolicy(Qt::ClickFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setMinimumWidth(60);
    connect(&model, &DrawingBlockModel::strokesChanged, this, qOverload<>(&QWidget::update));
    connect(&model, &DrawingBlockModel::currentChanged, this, qOverload<>(&QWidget::update));
    connect(&model, &DrawingBlockModel::toolChanged, this, qOverload<>(&QWidget::update));
    placeHandle();
}

QColor DrawingCanvas::shownColor(const QString &stored, bool darkCanvas)
{
    const QColor color = parseHexColor(stored);
    if (!darkCanvas)
        return color;
    const QString ink = DrawingBlockModel::palette().front();
    if (color == parseHexColor(ink))
        return Qt::white;
    if (color == QColor(Qt::white))
        return parseHexColor(ink);
    return color;
}

bool DrawingCanvas::isDark(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightness() < 128;
}

void DrawingCanvas::paintStroke(QPainter &painter, const DrawingStroke &stroke, bool darkCanvas)
{
    if (stroke.erase || stroke.points.size() < 2 || !(stroke.width >= 0))
        return;
    QPainterPath path(stroke.points.front());
    for (size_t i = 1; i < stroke.points.size(); ++i)
        path.lineTo(stroke.points[i]);
    painter.setPen(QPen(shownColor(stroke.color, darkCanvas), std::min(stroke.width, kWidestLine),
                        Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
}

void DrawingCanvas::updateCache()
{
    const qreal ratio = devicePixelRatioF();
    // As tall as the canvas may grow, so that a height change keeps the picture.
    const QSize logical(width(), std::max(height(), int(DrawingBlockModel::kMaxHeight)));
    const QSize pixels(qCeil(logical.width() * ratio), qCeil(logical.height() * ratio));
    const std::vector<DrawingStroke> &strokes = m_model.strokes();
    const bool dark = isDark(palette());
    if (m_cache.size() != pixels || m_cache.devicePixelRatio() != ratio ||
        m_cachedRevision != m_model.revision() || m_cachedCount > strokes.size() || m_cachedDark != dark) {
        m_cache = QPixmap(pixels);
        m_cache.setDevicePixelRatio(ratio);
        m_cache.fill(Qt::transparent);
        m_cachedRevision = m_model.revision();
        m_cachedDark = dark;
        m_cachedCount = 0;
        ++m_rebuilds;
    }
    if (m_cachedCount == strokes.size())
        return;
    // Only the strokes finished since the last paint are drawn into the picture.
    QPainter painter(&m_cache);
    painter.setRenderHint(QPainter::Antialiasing);
    for (size_t i = m_cachedCount; i < strokes.size(); ++i)
        paintStroke(painter, strokes[i], dark);
    m_cachedCount = strokes.size();
}

void DrawingCanvas::paintEvent(QPaintEvent *)
{
    updateCache();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor secondary = AppStyle::secondary(this);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath outline;
    outline.addRoundedRect(frame, kCornerRadius, kCornerRadius);
    painter.fillPath(outline, faded(secondary, 0.04));

    painter.save();
    painter.setClipPath(outline);
    painter.drawPixmap(QPointF(0, 0), m_cache);
    if (!m_model.current().points.empty())
        paintStroke(painter, m_model.current(), isDark(palette()));
    painter.restore();

    painter.setPen(QPen(faded(secondary, 0.2), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(outline);

    if (m_model.isBlank()) {
        painter.setFont(AppStyle::caption());
        painter.setPen(AppStyle::tertiary(this));
        painter.drawText(rect(), Qt::AlignCenter, m_model.hint());
    }
}

void DrawingCanvas::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeHandle();
}

void DrawingCanvas::placeHandle()
{
    m_handle->move(width() - kHandleInset - m_handle->width(), height() - kHandleInset - m_handle->height());
    m_handle->raise();
}

void DrawingCanvas::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    m_drawing = true;
    m_model.dragChanged(event->position());
}

void DrawingCanvas::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_drawing)
        return QWidget::mouseMoveEvent(event);
    m_model.dragChanged(event->position());
}

void DrawingCanvas::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_drawing)
        return QWidget::mouseReleaseEvent(event);
    m_drawing = false;
    m_model.dragEnded();
}
