#pragma once

#include <QPixmap>
#include <QPointF>
#include <QWidget>

class DrawingBlockModel;
struct DrawingStroke;
class QPainter;

// The drawing's canvas: the finished strokes from a cached picture, the stroke being drawn on top,
// the hint while it is blank, and the resize handle in its bottom-right corner. A drag with the
// left button draws or erases through the model.
class DrawingCanvas : public QWidget
{
    Q_OBJECT
public:
    explicit DrawingCanvas(DrawingBlockModel &model, QWidget *parent = nullptr);

    QWidget *resizeHandle() const { return m_handle; }
    // How often the cached picture was drawn afresh from every stroke.
    int cacheRebuilds() const { return m_rebuilds; }

    // One stroke as the canvas paints it: round caps and joins; nothing for an eraser stroke, one
    // of fewer than two points, or a negative width.
    static void paintStroke(QPainter &painter, const DrawingStroke &stroke, bool darkCanvas = false);
    // The colour a stored one is drawn in: on a dark canvas the dark ink and white swap, so a
    // drawing made in either theme stays visible in the other; what is stored stays as drawn.
    static QColor shownColor(const QString &stored, bool darkCanvas);
    // The canvas of a widget with this palette is dark.
    static bool isDark(const QPalette &palette);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void updateCache();
    void placeHandle();

    DrawingBlockModel &m_model;
    QWidget *m_handle;
    QPixmap m_cache;
    quint64 m_cachedRevision = 0;
    bool m_cachedDark = false;
    size_t m_cachedCount = 0;
    int m_rebuilds = 0;
    bool m_drawing = false;
};
