#pragma once

#include <QColor>
#include <QPointF>
#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

// One freehand stroke of a drawing, in the canvas's own coordinates (origin top-left, y down).
// A stroke with `erase` set is kept and saved but never painted.
struct DrawingStroke {
    static constexpr double kDefaultWidth = 2;
    static inline const QString kDefaultColor = QStringLiteral("#222222");

    std::vector<QPointF> points;
    QString color = kDefaultColor;
    double width = kDefaultWidth;
    bool erase = false;

    // "color=#b33025 w=3 e=0 path=M10,20 L-4,7": the width and every coordinate truncated toward
    // zero. A width with no whole-number form (not finite, beyond 64 bits) is written as 2.
    QString serialized() const;
    void appendSerialized(QString &out) const;

    bool operator==(const DrawingStroke &) const = default;
};

namespace DrawingBlock {

// The strokes' texts joined by "|"; no strokes give "".
QString serializeStrokes(const std::vector<DrawingStroke> &strokes);
// The lenient reader: never fails; unreadable pieces and point tokens are skipped, an unreadable
// width reads as 2, and a point must be finite and below 100000 in absolute value.
std::vector<DrawingStroke> parseStrokes(QStringView text);

// The whole token as a decimal number: an optional sign ("+" or "-"), digits with an optional
// fraction and exponent, or infinity or NaN; no locale, no blank before or after.
std::optional<double> parseNumber(QStringView token);
// Truncated toward zero; none when the value has no 64-bit whole-number form.
std::optional<qint64> wholePart(double value);

} // namespace DrawingBlock

// "#rrggbb" (or without "#"), read as the system's scanner reads a hexadecimal integer: blanks
// skipped, an optional "0x", digits up to the first other character, saturated on overflow; the
// low 24 bits are red, green and blue. Anything unreadable is opaque black.
QColor parseHexColor(QStringView text);
