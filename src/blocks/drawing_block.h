#pragma once

#include "blocks/block_view.h"
#include "json/json_value.h"

#include <QPointer>
#include <QString>

#include <array>

class DrawingBlockModel;
class DrawingCanvas;
class QAbstractButton;
class QLabel;
class QSlider;
class QToolButton;

// A freehand drawing: its canvas height in points under "height", and its strokes in the stroke
// text form (blocks/drawing_stroke.h) under "svg". Each is written on its own.
namespace DrawingBlock {

struct Content {
    double height = kDefaultHeight;

    static constexpr double kDefaultHeight = 240;

    static Content read(const JSONObject &content);
    void write(JSONObject &content) const;
};

struct Strokes {
    QString svg;

    static Strokes read(const JSONObject &content);
    void write(JSONObject &content) const;
};

BlockView *makeView(BlockHost &host);

} // namespace DrawingBlock

// The toolbar (pen, eraser, width, palette, undo, clear, height) above the canvas. It reads the
// stored drawing as it is made and writes the whole drawing back after every gesture.
class DrawingBlockView : public BlockView
{
    Q_OBJECT
public:
    explicit DrawingBlockView(BlockHost &host, QWidget *parent = nullptr);

    // Takes over a drawing or height written elsewhere; its own writes change nothing.
    void refresh() override;

    DrawingBlockModel &model() const { return *m_model; }
    DrawingCanvas *canvas() const { return m_canvas; }
    QToolButton *penButton() const { return m_pen; }
    QToolButton *eraserButton() const { return m_eraser; }
    QSlider *widthSlider() const { return m_widthSlider; }
    QLabel *widthLabel() const { return m_widthLabel; }
    QAbstractButton *swatch(int index) const { return m_swatches[size_t(index)]; }
    QToolButton *undoButton() const { return m_undo; }
    QToolButton *clearButton() const { return m_clear; }
    QSlider *heightSlider() const { return m_heightSlider; }
    QLabel *heightLabel() const { return m_heightLabel; }
    QToolButton *presetsButton() const { return m_presets; }

private:
    QWidget *makeToolbar();
    QToolButton *makeToolButton(const QString &symbol, const QString &tip);
    void showTool();
    void showWidth();
    void showHeight();
    void showStrokes();

    DrawingBlockModel *m_model;
    DrawingCanvas *m_canvas = nullptr;
    QToolButton *m_pen = nullptr;
    QToolButton *m_eraser = nullptr;
    QSlider *m_widthSlider = nullptr;
    QLabel *m_widthLabel = nullptr;
    std::array<QAbstractButton *, 10> m_swatches{};
    QToolButton *m_undo = nullptr;
    QToolButton *m_clear = nullptr;
    QSlider *m_heightSlider = nullptr;
    QLabel *m_heightLabel = nullptr;
    QToolButton *m_presets = nullptr;
    bool m_showing = false;
};
