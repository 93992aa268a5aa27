#include "blocks/drawing_block.h"

#include "blocks/block_content.h"
#include "blocks/block_host.h"
#include "blocks/drawing_block_model.h"
#include "blocks/drawing_canvas.h"
#include "ui/app_style.h"
#include "ui/editor_symbols.h"

#include <QAbstractButton>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace {

const QString kHeightKey = QStringLiteral("height");
const QString kStrokesKey = QStringLiteral("svg");

constexpr int kWidthSteps = 100; // slider steps per point, so the width moves smoothly
constexpr int kSwatchSize = 16;
constexpr int kIconSize = 16;
constexpr auto kPenTip = "Pen";
constexpr auto kEraserTip = "Eraser";
constexpr auto kUndoTip = "Undo last stroke";
constexpr auto kClearTip = "Clear";
constexpr auto kPresetsTip = "Height presets";

QColor faded(QColor color, double opacity)
{
    color.setAlphaF(color.alphaF() * opacity);
    return color;
}

// Whole points, truncated: "7pt".
QString points(double value)
{
    return QString::number(qint64(value)) + QStringLiteral("pt");
}

// Leaves the wheel to the page, so scrolling past the toolbar changes nothing.
class ToolbarSlider : public QSlider
{
public:
    ToolbarSlider()
        : QSlider(Qt::Horizontal)
    {
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void wheelEvent(QWheelEvent *event) override { event->ignore(); }
};

// A palette colour: a filled circle with a ring inside its edge, in the accent colour while it is
// the pen's colour.
class ColorSwatch : public QAbstractButton
{
public:
    explicit ColorSwatch(const QString &color)
        : m_color(color)
    {
        setToolTip(color);
        setAccessibleName(color);
        setFocusPolicy(Qt::NoFocus);
        setCursor(Qt::PointingHandCursor);
        setFixedSize(kSwatchSize, kSwatchSize);
    }

    void setChosen(bool chosen)
    {
        if (chosen == m_chosen)
            return;
        m_chosen = chosen;
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF disc = QRectF(rect());
        painter.setPen(Qt::NoPen);
        // As the canvas draws it.
        painter.setBrush(DrawingCanvas::shownColor(m_color, DrawingCanvas::isDark(palette())));
        painter.drawEllipse(disc);
        const double ring = m_chosen ? 2 : 1;
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(m_chosen ? AppStyle::accent(this) : faded(AppStyle::secondary(this), 0.3), ring));
        painter.drawEllipse(disc.adjusted(ring / 2, ring / 2, -ring / 2, -ring / 2));
    }

private:
    QString m_color;
    bool m_chosen = false;
};

QFrame *shortDivider(const QColor &color)
{
    auto *line = new QFrame;
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(14);
    line->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(color)));
    return line;
}

QLabel *symbolLabel(const QString &name, const QColor &color)
{
    auto *label = new QLabel;
    const QIcon icon = EditorSymbols::icon(name, color);
    if (icon.isNull())
        label->setText(EditorSymbols::glyph(name));
    else
        label->setPixmap(icon.pixmap(QSize(kIconSize, kIconSize), label->devicePixelRatioF()));
    return label;
}

QLabel *figureLabel(int width, const QColor &color)
{
    auto *label = new QLabel;
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(AppStyle::caption().pointSizeF());
    label->setFont(font);
    label->setFixedWidth(width);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(color)));
    return label;
}

} // namespace

namespace DrawingBlock {

Content Content::read(const JSONObject &content)
{
    // An integer counts as a double.
    return {BlockContent::readDouble(content, kHeightKey, kDefaultHeight)};
}

void Content::write(JSONObject &content) const
{
    content[kHeightKey] = height;
}

Strokes Strokes::read(const JSONObject &content)
{
    return {BlockContent::readString(content, kStrokesKey)};
}

void Strokes::write(JSONObject &content) const
{
    content[kStrokesKey] = svg;
}

BlockView *makeView(BlockHost &host)
{
    return new DrawingBlockView(host);
}

} // namespace DrawingBlock

DrawingBlockView::DrawingBlockView(BlockHost &host, QWidget *parent)
    : BlockView(host, BlockType::drawing, parent)
    , m_model(new DrawingBlockModel(
          [this](const QString &text) { this->host().write(DrawingBlock::Strokes{text}); },
          [this](double height) { this->host().write(DrawingBlock::Content{height}); }, this))
{
    const JSONObject content = host.decodeContent();
    m_model->loadFromContent(DrawingBlock::Strokes::read(content).svg,
                             DrawingBlock::Content::read(content).height);

    auto *body = new QWidget;
    auto *column = new QVBoxLayout(body);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    column->addWidget(makeToolbar());
    m_canvas = new DrawingCanvas(*m_model);
    column->addWidget(m_canvas);
    setBody(body);

    connect(m_model, &DrawingBlockModel::toolChanged, this, [this] {
        showTool();
        showWidth();
    });
    connect(m_model, &DrawingBlockModel::heightChanged, this, &DrawingBlockView::showHeight);
    connect(m_model, &DrawingBlockModel::strokesChanged, this, &DrawingBlockView::showStrokes);
    showTool();
    showWidth();
    showHeight();
    showStrokes();
    m_showing = true;
}

void DrawingBlockView::refresh()
{
    if (!m_showing)
        return;
    const JSONObject content = host().decodeContent();
    m_model->adoptStored(DrawingBlock::Strokes::read(content).svg,
                         DrawingBlock::Content::read(content).height);
}

QToolButton *DrawingBlockView::makeToolButton(const QString &symbol, const QString &tip)
{
    auto *button = new QToolButton;
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setToolTip(tip);
    button->setAccessibleName(tip);
    button->setIconSize(QSize(kIconSize, kIconSize));
    const QIcon icon = EditorSymbols::icon(symbol, AppStyle::secondary(this));
    if (icon.isNull())
        button->setText(EditorSymbols::glyph(symbol));
    else
        button->setIcon(icon);
    return button;
}

QWidget *DrawingBlockView::makeToolbar()
{
    auto *box = new QFrame;
    box->setObjectName(QStringLiteral("drawingToolbar"));
    box->setStyleSheet(QStringLiteral("#drawingToolbar { background: %1; border-radius: 6px; }")
                           .arg(AppStyle::css(faded(AppStyle::secondary(this), 0.06))));
    auto *rows = new QVBoxLayout(box);
    rows->setContentsMargins(8, 6, 8, 6);
    rows->setSpacing(6);
    const QColor tertiary = AppStyle::tertiary(this);

    auto *first = new QHBoxLayout;
    first->setSpacing(8);
    m_pen = makeToolButton(QStringLiteral("pencil.tip"), QString::fromLatin1(kPenTip));
    m_eraser = makeToolButton(QStringLiteral("eraser"), QString::fromLatin1(kEraserTip));
    connect(m_pen, &QToolButton::clicked, m_model, &DrawingBlockModel::selectPen);
    connect(m_eraser, &QToolButton::clicked, m_model, &DrawingBlockModel::selectEraser);
    first->addWidget(m_pen);
    first->addWidget(m_eraser);
    first->addWidget(shortDivider(faded(AppStyle::secondary(this), 0.4)));
    first->addWidget(symbolLabel(QStringLiteral("lineweight"), AppStyle::secondary(this)));
    auto *widthSlider = new ToolbarSlider;
    m_widthSlider = widthSlider;
    m_widthSlider->setRange(int(DrawingBlockModel::kMinWidth) * kWidthSteps,
                            int(DrawingBlockModel::kMaxWidth) * kWidthSteps);
    m_widthSlider->setFixedWidth(90);
    m_widthSlider->setAccessibleName(QStringLiteral("Line width"));
    connect(m_widthSlider, &QSlider::valueChanged, m_model,
            [this](int value) { m_model->setWidth(double(value) / kWidthSteps); });
    first->addWidget(m_widthSlider);
    m_widthLabel = figureLabel(30, tertiary);
    first->addWidget(m_widthLabel);
    first->addWidget(shortDivider(faded(AppStyle::secondary(this), 0.4)));
    for (size_t i = 0; i < m_swatches.size(); ++i) {
        const QString color = DrawingBlockModel::palette()[i];
        auto *swatch = new ColorSwatch(color);
        connect(swatch, &QAbstractButton::clicked, m_model, [this, color] { m_model->selectColor(color); });
        m_swatches[i] = swatch;
        first->addWidget(swatch);
    }
    first->addStretch(1);
    m_undo = makeToolButton(QStringLiteral("arrow.uturn.backward"), QString::fromLatin1(kUndoTip));
    m_clear = makeToolButton(QStringLiteral("trash"), QString::fromLatin1(kClearTip));
    connect(m_undo, &QToolButton::clicked, m_model, &DrawingBlockModel::undoLastStroke);
    connect(m_clear, &QToolButton::clicked, m_model, &DrawingBlockModel::clear);
    first->addWidget(m_undo);
    first->addWidget(m_clear);
    rows->addLayout(first);

    auto *second = new QHBoxLayout;
    second->setSpacing(8);
    second->addStretch(1);
    second->addWidget(symbolLabel(QStringLiteral("arrow.up.and.down"), AppStyle::secondary(this)));
    auto *heightSlider = new ToolbarSlider;
    m_heightSlider = heightSlider;
    m_heightSlider->setRange(int(DrawingBlockModel::kMinHeight), int(DrawingBlockModel::kMaxHeight));
    m_heightSlider->setMinimumWidth(120);
    m_heightSlider->setAccessibleName(QStringLiteral("Canvas height"));
    // The canvas follows the slider; the height is stored when it is let go (or moved by a click).
    connect(m_heightSlider, &QSlider::valueChanged, m_model, [this](int value) {
        m_model->setSliderHeight(value);
        if (!m_heightSlider->isSliderDown())
            m_model->heightSliderReleased();
    });
    connect(m_heightSlider, &QSlider::sliderReleased, m_model, &DrawingBlockModel::heightSliderReleased);
    second->addWidget(m_heightSlider, 2);
    m_heightLabel = figureLabel(44, tertiary);
    second->addWidget(m_heightLabel);
    m_presets = makeToolButton(QStringLiteral("rectangle.expand.vertical"), QString::fromLatin1(kPresetsTip));
    m_presets->setPopupMode(QToolButton::InstantPopup);
    m_presets->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    auto *menu = new QMenu(m_presets);
    for (const DrawingBlockModel::HeightPreset &preset : DrawingBlockModel::heightPresets()) {
        const double height = preset.height;
        menu->addAction(preset.label, m_model, [this, height] { m_model->applyHeightPreset(height); });
    }
    m_presets->setMenu(menu);
    second->addWidget(m_presets);
    second->addStretch(1);
    rows->addLayout(second);
    return box;
}

void DrawingBlockView::showTool()
{
    const bool eraser = m_model->eraserOn();
    const QColor accent = AppStyle::accent(this);
    const QColor secondary = AppStyle::secondary(this);
    m_pen->setIcon(EditorSymbols::icon(QStringLiteral("pencil.tip"), eraser ? secondary : accent));
    m_eraser->setIcon(EditorSymbols::icon(QStringLiteral("eraser"), eraser ? accent : secondary));
    for (size_t i = 0; i < m_swatches.size(); ++i)
        static_cast<ColorSwatch *>(m_swatches[i])
            ->setChosen(!eraser && DrawingBlockModel::palette()[i] == m_model->selectedColor());
}

void DrawingBlockView::showWidth()
{
    const QSignalBlocker blocker(m_widthSlider);
    m_widthSlider->setValue(int(m_model->width() * kWidthSteps));
    m_widthLabel->setText(points(m_model->width()));
}

void DrawingBlockView::showHeight()
{
    // The model keeps the height within 120 to 800.
    const double height = m_model->height();
    m_canvas->setFixedHeight(qRound(height));
    {
        const QSignalBlocker blocker(m_heightSlider);
        m_heightSlider->setValue(qRound(height));
    }
    m_heightLabel->setText(points(height));
}

void DrawingBlockView::showStrokes()
{
    m_undo->setEnabled(m_model->canUndo());
}
