#pragma once

#include "blocks/drawing_stroke.h"

#include <QObject>
#include <QPointF>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>
#include <vector>

// The state and gestures of a drawing block, without a window: the finished strokes, the stroke
// being drawn, the tool, colour, width and canvas height. After every finished gesture, undo and
// clear it hands the whole drawing to `onChange`; a new height goes to `onHeightChange`.
class DrawingBlockModel : public QObject
{
    Q_OBJECT
public:
    using TextSink = std::function<void(const QString &)>;
    using HeightSink = std::function<void(double)>;

    static constexpr double kMinHeight = 120;
    static constexpr double kMaxHeight = 800;
    static constexpr double kDefaultHeight = 240;
    static constexpr double kMinWidth = 1;
    static constexpr double kMaxWidth = 12;
    static constexpr double kMinEraserRadius = 8;
    static const std::array<QString, 10> &palette();
    struct HeightPreset {
        QString label;
        double height;
    };
    static const std::array<HeightPreset, 4> &heightPresets();

    DrawingBlockModel(TextSink onChange, HeightSink onHeightChange, QObject *parent = nullptr);

    // As the view comes on screen: the stored height when within 120 to 800 (else the canvas keeps
    // what it shows and nothing is written), and the stored strokes.
    void loadFromContent(const QString &svg, double storedHeight);
    // The stored content after any write: a drawing or height that differs from what this model
    // last read or wrote came from elsewhere (another device) and is taken over, so the next
    // commit does not write over it. During a gesture it waits for the gesture's end.
    void adoptStored(const QString &svg, double storedHeight);

    const std::vector<DrawingStroke> &strokes() const { return m_strokes; }
    const DrawingStroke &current() const { return m_current; }
    // Raised whenever the finished strokes change other than by one appended at the end.
    quint64 revision() const { return m_revision; }
    double height() const { return m_height; }
    double dragStartHeight() const { return m_dragStartHeight; }
    const QString &selectedColor() const { return m_selectedColor; }
    double width() const { return m_width; }
    bool eraserOn() const { return m_eraserOn; }
    // Nothing finished and nothing being drawn: the canvas shows its hint.
    bool isBlank() const { return m_strokes.empty() && m_current.points.empty(); }
    QString hint() const;
    bool canUndo() const { return !m_strokes.empty(); }

    // The canvas's drag, a press already counting as a change.
    void dragChanged(QPointF location);
    void dragEnded();
    bool isDragging() const { return m_gesture != Gesture::None; }
    // Removes every stroke with a point within the eraser's radius (the boundary included).
    void eraseAt(QPointF location);
    double eraserRadius() const;

    void undoLastStroke();
    void clear();

    void selectPen();
    void selectEraser();
    // Picking a colour returns to the pen.
    void selectColor(const QString &color);
    // Within 1 to 12.
    void setWidth(double width);

    // The resize handle: `translation` is how far the drag has moved down since it started.
    void resizeChanged(double translation);
    void resizeEnded();
    bool isResizing() const { return m_resizing; }
    // The height slider moves the canvas; only its release writes.
    void setSliderHeight(double height);
    void heightSliderReleased();
    void applyHeightPreset(double height);

Q_SIGNALS:
    // The finished strokes (see revision()), the stroke being drawn, or both.
    void strokesChanged();
    void currentChanged();
    void heightChanged();
    // Tool, colour or width.
    void toolChanged();

private:
    enum class Gesture { None, Pen, Eraser };

    static bool inRange(double height);
    void commit();
    void setStrokes(std::vector<DrawingStroke> strokes);
    void setHeightNow(double height);
    bool eraseFrom(QPointF location);
    void applyPendingStored();

    TextSink m_onChange;
    HeightSink m_onHeightChange;

    std::vector<DrawingStroke> m_strokes;
    DrawingStroke m_current;
    quint64 m_revision = 0;
    double m_height = kDefaultHeight;
    double m_dragStartHeight = kDefaultHeight;
    QString m_selectedColor = DrawingStroke::kDefaultColor;
    double m_width = DrawingStroke::kDefaultWidth;
    bool m_eraserOn = false;

    Gesture m_gesture = Gesture::None;
    std::vector<QPointF> m_erasedAt; // this eraser gesture's locations
    bool m_resizing = false;

    // What this model last read or wrote, to tell another device's change from its own.
    QString m_seenText;
    std::optional<double> m_seenHeight;
    std::optional<QString> m_pendingText;
};
