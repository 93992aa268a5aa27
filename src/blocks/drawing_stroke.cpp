#include "blocks/drawing_stroke.h"

#include <QVarLengthArray>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include <clocale>
#include <locale.h>

namespace {

constexpr char16_t kSeparator = u'|';
constexpr double kPointLimit = 100000;
const QString kColorKey = QStringLiteral("color=");
const QString kWidthKey = QStringLiteral("w=");
const QString kEraseKey = QStringLiteral("e=");
const QString kPathKey = QStringLiteral("path=");
const QString kSpacedPathKey = QStringLiteral(" path=");

using CharBuffer = QVarLengthArray<char, 32>;

// Spaces and tabs: the Unicode space separators and U+0009, not line breaks.
bool isBlank(QChar c)
{
    if (c.unicode() < 0x80)
        return c == u' ' || c == u'\t';
    return c.category() == QChar::Separator_Space;
}

QStringView trimmedBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

std::optional<double> parseAscii(const char *begin, const char *end)
{
    // from_chars takes "-" but not "+"; "+-1" stays refused.
    if (begin != end && *begin == '+') {
        ++begin;
        if (begin != end && (*begin == '-' || *begin == '+'))
            return std::nullopt;
    }
    if (begin == end)
        return std::nullopt;
    double value = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ptr != end)
        return std::nullopt;
    if (ec == std::errc::result_out_of_range) {
        // The value was left alone: the standard conversion gives infinity on overflow and zero
        // (or a subnormal) on underflow. The text is already known to be a plain number.
        static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
        const std::string copy(begin, end);
        value = strtod_l(copy.c_str(), nullptr, cLocale);
    } else if (ec != std::errc()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parseAscii(const CharBuffer &chars)
{
    return parseAscii(chars.data(), chars.data() + chars.size());
}

// A point token: every "M" and "L" removed, then exactly two non-empty parts between commas.
std::optional<QPointF> readPoint(QStringView token)
{
    CharBuffer parts[2];
    int count = 0;
    bool inPart = false;
    for (const QChar c : token) {
        const char16_t u = c.unicode();
        if (u == u'M' || u == u'L')
            continue;
        if (u == u',') {
            inPart = false;
            continue;
        }
        // No number holds it, so the token cannot give a point.
        if (u >= 0x80)
            return std::nullopt;
        if (!inPart) {
            if (count == 2)
                return std::nullopt;
            inPart = true;
            ++count;
        }
        parts[count - 1].append(char(u));
    }
    if (count != 2)
        return std::nullopt;
    const std::optional<double> x = parseAscii(parts[0]);
    const std::optional<double> y = parseAscii(parts[1]);
    // NaN fails both comparisons, infinity the second.
    const auto usable = [](const std::optional<double> &v) { return v && std::fabs(*v) < kPointLimit; };
    if (!usable(x) || !usable(y))
        return std::nullopt;
    return QPointF(*x, *y);
}

// Calls `each` with every non-empty run between single spaces.
template <class Each>
void forEachToken(QStringView text, Each &&each)
{
    qsizetype start = 0;
    const qsizetype size = text.size();
    while (start < size) {
        qsizetype end = text.indexOf(u' ', start);
        if (end < 0)
            end = size;
        if (end > start)
            each(text.sliced(start, end - start));
        start = end + 1;
    }
}

void readAttributes(QStringView piece, DrawingStroke &stroke)
{
    forEachToken(piece, [&stroke](QStringView token) {
        if (token.startsWith(kColorKey)) {
            stroke.color = token.sliced(kColorKey.size()).toString();
        } else if (token.startsWith(kWidthKey)) {
            // A width the writer has no whole number for reads, and so is written and painted, as 2.
            const std::optional<double> width = DrawingBlock::parseNumber(token.sliced(kWidthKey.size()));
            stroke.width = width && DrawingBlock::wholePart(*width) ? *width : DrawingStroke::kDefaultWidth;
        } else if (token.startsWith(kEraseKey)) {
            stroke.erase = token.sliced(kEraseKey.size()) == u"1";
        }
    });
}

std::optional<DrawingStroke> readPiece(QStringView rawPiece)
{
    const QStringView piece = trimmedBlanks(rawPiece);
    if (piece.isEmpty())
        return std::nullopt;
    DrawingStroke stroke;
    QStringView path = piece;
    if (piece.contains(kSpacedPathKey) || piece.startsWith(kColorKey)) {
        readAttributes(piece, stroke);
        const qsizetype at = piece.indexOf(kPathKey);
        if (at >= 0)
            path = piece.sliced(at + kPathKey.size());
    }
    forEachToken(path, [&stroke](QStringView token) {
        if (const std::optional<QPointF> point = readPoint(token))
            stroke.points.push_back(*point);
    });
    if (stroke.points.empty())
        return std::nullopt;
    return stroke;
}

void appendInteger(QString &out, qint64 value)
{
    char digits[24];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    Q_UNUSED(ec);
    out.append(QLatin1StringView(digits, end - digits));
}

// Coordinates come from the mouse or from the reader, so always have a whole-number form; should
// one not, it is written at the far end of the range, which the reader drops.
qint64 coordinate(double value)
{
    if (const std::optional<qint64> whole = DrawingBlock::wholePart(value))
        return *whole;
    if (std::isnan(value))
        return 0;
    return value > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
}

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

} // namespace

QString DrawingStroke::serialized() const
{
    QString out;
    appendSerialized(out);
    return out;
}

void DrawingStroke::appendSerialized(QString &out) const
{
    out += kColorKey;
    // The reader's path starts at the first "path=", so a colour holding one (only stored text can
    // give it) is cut there. The scanner stops at its "p" anyway: the colour painted is the same.
    const qsizetype cut = color.indexOf(kPathKey);
    out += cut < 0 ? QStringView(color) : QStringView(color).first(cut);
    out += QLatin1StringView(" w=");
    appendInteger(out, DrawingBlock::wholePart(width).value_or(qint64(kDefaultWidth)));
    out += QLatin1StringView(erase ? " e=1" : " e=0");
    out += kSpacedPathKey;
    bool first = true;
    for (const QPointF &point : points) {
        out += QLatin1StringView(first ? "M" : " L");
        first = false;
        appendInteger(out, coordinate(point.x()));
        out += u',';
        appendInteger(out, coordinate(point.y()));
    }
}

namespace DrawingBlock {

QString serializeStrokes(const std::vector<DrawingStroke> &strokes)
{
    qsizetype estimate = 0;
    for (const DrawingStroke &stroke : strokes)
        estimate += 40 + stroke.color.size() + qsizetype(stroke.points.size()) * 12;
    QString out;
    out.reserve(estimate);
    bool first = true;
    for (const DrawingStroke &stroke : strokes) {
        if (!first)
            out += kSeparator;
        first = false;
        stroke.appendSerialized(out);
    }
    return out;
}

std::vector<DrawingStroke> parseStrokes(QStringView text)
{
    std::vector<DrawingStroke> strokes;
    qsizetype start = 0;
    const qsizetype size = text.size();
    while (start < size) {
        qsizetype end = text.indexOf(kSeparator, start);
        if (end < 0)
            end = size;
        if (std::optional<DrawingStroke> stroke = readPiece(text.sliced(start, end - start)))
            strokes.push_back(std::move(*stroke));
        start = end + 1;
    }
    return strokes;
}

std::optional<double> parseNumber(QStringView token)
{
    CharBuffer chars;
    chars.reserve(token.size());
    for (const QChar c : token) {
        if (c.unicode() >= 0x80)
            return std::nullopt;
        chars.append(char(c.unicode()));
    }
    return parseAscii(chars);
}

std::optional<qint64> wholePart(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double whole = std::trunc(value);
    // -2^63 is representable; 2^63 is not.
    if (whole < -0x1p63 || whole >= 0x1p63)
        return std::nullopt;
    return qint64(whole);
}

} // namespace DrawingBlock

QColor parseHexColor(QStringView text)
{
    QStringView rest = trimmedBlanks(text);
    if (rest.startsWith(u'#'))
        rest = rest.sliced(1);
    qsizetype at = 0;
    while (at < rest.size() && rest[at].isSpace())
        ++at;
    if (at + 1 < rest.size() && rest[at] == u'0' && (rest[at + 1] == u'x' || rest[at + 1] == u'X'))
        at += 2;
    quint64 value = 0;
    bool overflow = false;
    for (; at < rest.size(); ++at) {
        const int digit = hexDigit(rest[at]);
        if (digit < 0)
            break;
        if (value >> 60)
            overflow = true;
        else
            value = value * 16 + quint64(digit);
    }
    if (overflow)
        value = std::numeric_limits<quint64>::max();
    return QColor::fromRgb(int((value >> 16) & 0xff), int((value >> 8) & 0xff), int(value & 0xff));
}
