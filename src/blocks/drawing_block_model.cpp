#include "blocks/drawing_block_model.h"

#include <algorithm>

namespace {

constexpr auto kPenHint = "Click and drag to draw";
constexpr auto kEraserHint = "Eraser mode";

} // namespace

const std::array<QString, 10> &DrawingBlockModel::palette()
{
    static const std::array<QString, 10> colors{
        QStringLiteral("#222222"), QStringLiteral("#ffffff"), QStringLiteral("#b33025"),
        QStringLiteral("#e67e22"), QStringLiteral("#f1c40f"), QStringLiteral("#27ae60"),
        QStringLiteral("#2a6496"), QStringLiteral("#9b59b6"), QStringLiteral("#7a6f60"),
        QStringLiteral("#0a64eb"),
    };
    return colors;
}

const std::array<DrawingBlockModel::HeightPreset, 4> &DrawingBlockModel::heightPresets()
{
    static const std::array<HeightPreset, 4> presets{{
        {QStringLiteral("Small (180)"), 180},
        {QStringLiteral("Medium (300)"), 300},
        {QStringLiteral("Large (500)"), 500},
        {QStringLiteral("X-Large (700)"), 700},
    }};
    return presets;
}

DrawingBlockModel::DrawingBlockModel(TextSink onChange, HeightSink onHeightChange, QObject *parent)
    : QObject(parent)
    , m_onChange(std::move(onChange))
    , m_onHeightChange(std::move(onHeightChange))
{
}

bool DrawingBlockModel::inRange(double height)
{
    return height >= kMinHeight && height <= kMaxHeight;
}

void DrawingBlockModel::loadFromContent(const QString &svg, double storedHeight)
{
    m_seenHeight = storedHeight;
    if (inRange(storedHeight))
        setHeightNow(storedHeight);
    m_seenText = svg;
    m_pendingText.reset();
    setStrokes(DrawingBlock::parseStrokes(svg));
}

void DrawingBlockModel::adoptStored(const QString &svg, double storedHeight)
{
    if (storedHeight != m_seenHeight) {
        m_seenHeight = storedHeight;
        if (inRange(storedHeight) && !m_resizing)
            setHeightNow(storedHeight);
    }
    if (svg == m_seenText) {
        m_pendingText.reset();
        return;
    }
    if (isDragging()) {
        m_pendingText = svg;
        return;
    }
    m_seenText = svg;
    setStrokes(DrawingBlock::parseStrokes(svg));
}

void DrawingBlockModel::applyPendingStored()
{
    if (!m_pendingText)
        return;
    m_seenText = *m_pendingText;
    m_pendingText.reset();
    m_strokes = DrawingBlock::parseStrokes(m_seenText);
    // The eraser's sweep counts against what is there now.
    for (const QPointF &location : m_erasedAt)
        eraseFrom(location);
    ++m_revision;
}

QString DrawingBlockModel::hint() const
{
    return QString::fromLatin1(m_eraserOn ? kEraserHint : kPenHint);
}

void DrawingBlockModel::dragChanged(QPointF location)
{
    if (m_gesture == Gesture::None)
        m_gesture = m_eraserOn ? Gesture::Eraser : Gesture::Pen;
    if (m_gesture == Gesture::Eraser) {
        m_erasedAt.push_back(location);
        if (eraseFrom(location)) {
            ++m_revision;
            Q_EMIT strokesChanged();
        }
        return;
    }
    if (m_current.points.empty()) {
        // Colour and width are taken once, as the stroke starts.
        m_current = DrawingStroke{{location}, m_selectedColor, m_width, false};
    } else {
        m_current.points.push_back(location);
    }
    Q_EMIT currentChanged();
}

void DrawingBlockModel::dragEnded()
{
    const Gesture gesture = m_gesture;
    if (gesture == Gesture::None)
        return;
    m_gesture = Gesture::None;
    const bool reloaded = m_pendingText.has_value();
    applyPendingStored();
    m_erasedAt.clear();
    if (gesture == Gesture::Pen) {
        if (m_current.points.empty()) {
            if (reloaded)
                Q_EMIT strokesChanged();
            return;
        }
        m_strokes.push_back(std::move(m_current));
        m_current = DrawingStroke{};
        Q_EMIT currentChanged();
    }
    Q_EMIT strokesChanged();
    commit();
}

double DrawingBlockModel::eraserRadius() const
{
    return std::max(m_width * 4, kMinEraserRadius);
}

void DrawingBlockModel::eraseAt(QPointF location)
{
    if (eraseFrom(location)) {
        ++m_revision;
        Q_EMIT strokesChanged();
    }
}

bool DrawingBlockModel::eraseFrom(QPointF location)
{
    const double radius = eraserRadius();
    const double limit = radius * radius;
    const auto touched = [&](const DrawingStroke &stroke) {
        return std::any_of(stroke.points.begin(), stroke.points.end(), [&](const QPointF &point) {
            const double dx = point.x() - location.x();
            const double dy = point.y() - location.y();
            return dx * dx + dy * dy <= limit;
        });
    };
    const auto removed = std::remove_if(m_strokes.begin(), m_strokes.end(), touched);
    if (removed == m_strokes.end())
        return false;
    m_strokes.erase(removed, m_strokes.end());
    return true;
}

void DrawingBlockModel::undoLastStroke()
{
    if (m_strokes.empty())
        return;
    m_strokes.pop_back();
    ++m_revision;
    Q_EMIT strokesChanged();
    commit();
}

void DrawingBlockModel::clear()
{
    setStrokes({});
    commit();
}

void DrawingBlockModel::selectPen()
{
    m_eraserOn = false;
    Q_EMIT toolChanged();
}

void DrawingBlockModel::selectEraser()
{
    m_eraserOn = true;
    Q_EMIT toolChanged();
}

void DrawingBlockModel::selectColor(const QString &color)
{
    m_selectedColor = color;
    m_eraserOn = false;
    Q_EMIT toolChanged();
}

void DrawingBlockModel::setWidth(double width)
{
    m_width = std::clamp(width, kMinWidth, kMaxWidth);
    Q_EMIT toolChanged();
}

void DrawingBlockModel::resizeChanged(double translation)
{
    m_resizing = true;
    m_height = std::max(std::min(m_dragStartHeight + translation, kMaxHeight), kMinHeight);
    Q_EMIT heightChanged();
}

void DrawingBlockModel::resizeEnded()
{
    if (!m_resizing)
        return;
    m_resizing = false;
    m_dragStartHeight = m_height;
    m_seenHeight = m_height;
    if (m_onHeightChange)
        m_onHeightChange(m_height);
}

void DrawingBlockModel::setSliderHeight(double height)
{
    m_height = std::clamp(height, kMinHeight, kMaxHeight);
    Q_EMIT heightChanged();
}

void DrawingBlockModel::heightSliderReleased()
{
    m_dragStartHeight = m_height;
    m_seenHeight = m_height;
    if (m_onHeightChange)
        m_onHeightChange(m_height);
}

void DrawingBlockModel::applyHeightPreset(double height)
{
    setHeightNow(height);
    m_seenHeight = height;
    if (m_onHeightChange)
        m_onHeightChange(height);
}

void DrawingBlockModel::commit()
{
    const QString text = DrawingBlock::serializeStrokes(m_strokes);
    m_seenText = text;
    if (m_onChange)
        m_onChange(text);
}

void DrawingBlockModel::setStrokes(std::vector<DrawingStroke> strokes)
{
    m_strokes = std::move(strokes);
    ++m_revision;
    Q_EMIT strokesChanged();
}

void DrawingBlockModel::setHeightNow(double height)
{
    m_height = height;
    m_dragStartHeight = height;
    Q_EMIT heightChanged();
}
