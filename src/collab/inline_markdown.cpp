#include "collab/inline_markdown.h"

#include "platform/url_opener.h"

#include <QRegularExpression>
#include <QUrl>

namespace {

// Inline code first, so markers inside it stay literal; then links, strong, emphasis. A marker
// must hug its text ("a * b * c" stays as written), as in CommonMark. Each span is bounded, so a long
// line of unmatched markers costs a bounded scan per marker, not one to the end of the line.
const QRegularExpression &pattern()
{
    static const QRegularExpression re(
        QStringLiteral(R"((`+)([^`]|[^`].{0,2000}?[^`])\1(?!`))"                     // 1, 2: inline code
                       R"(|\[([^\[\]\n]{1,500})\]\(([^()\s]{1,2000})\))"             // 3, 4: link
                       R"(|\*\*(?=\S)(.{1,2000}?)(?<=\S)\*\*)"                       // 5: strong
                       R"(|__(?=\S)(.{1,2000}?)(?<=\S)__)"                           // 6: strong
                       R"(|\*(?=[^\s*])(.{1,2000}?)(?<=[^\s*])\*)"                   // 7: emphasis
                       R"(|(?<![\w])_(?=[^\s_])(.{1,2000}?)(?<=[^\s_])_(?![\w]))")); // 8: emphasis
    return re;
}

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

QString convert(const QString &text, int depth)
{
    QString out;
    qsizetype at = 0;
    QRegularExpressionMatchIterator it = pattern().globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out += escaped(text.mid(at, m.capturedStart() - at));
        at = m.capturedEnd();
        // Nested markers go only so deep; past that the rest shows as written.
        const auto inner = [&](int group) {
            return depth < 8 ? convert(m.captured(group), depth + 1) : escaped(m.captured(group));
        };
        if (m.capturedLength(2) > 0) {
            out += QStringLiteral("<code>") + escaped(m.captured(2)) + QStringLiteral("</code>");
        } else if (m.capturedLength(3) > 0) {
            const QUrl url(m.captured(4), QUrl::StrictMode);
            if (!UrlOpener::isAllowed(url)) {
                out += escaped(m.captured(0));
                continue;
            }
            out += QStringLiteral("<a href=\"%1\">").arg(escaped(url.toString(QUrl::FullyEncoded))) +
                   inner(3) + QStringLiteral("</a>");
        } else if (m.capturedLength(5) > 0 || m.capturedLength(6) > 0) {
            out += QStringLiteral("<b>") + inner(m.capturedLength(5) > 0 ? 5 : 6) + QStringLiteral("</b>");
        } else {
            out += QStringLiteral("<i>") + inner(m.capturedLength(7) > 0 ? 7 : 8) + QStringLiteral("</i>");
        }
    }
    out += escaped(text.mid(at));
    return out;
}

} // namespace

namespace InlineMarkdown {

QString toHtml(const QString &markdown)
{
    QString html = convert(markdown, 0);
    html.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    // Runs of spaces and leading indentation show as written.
    return QStringLiteral("<div style=\"white-space: pre-wrap;\">") + html + QStringLiteral("</div>");
}

} // namespace InlineMarkdown
