#pragma once

#include <QColor>
#include <QIcon>
#include <QObject>
#include <QTimer>

class QLabel;

// A small spinning activity indicator, drawn as icon frames so a button can show it before its label.
class BusyIndicator : public QObject
{
    Q_OBJECT
public:
    explicit BusyIndicator(int size, QObject *parent = nullptr);

    void setColor(const QColor &color) { m_color = color; }
    void setRunning(bool running);
    bool isRunning() const { return m_timer.isActive(); }
    QIcon frame(qreal devicePixelRatio = 1.0) const;
    // Keeps the label's picture on the current frame for as long as both live.
    void showIn(QLabel *label);

Q_SIGNALS:
    void frameChanged();

private:
    int m_size;
    int m_step = 0;
    QColor m_color = Qt::white;
    QTimer m_timer;
};
