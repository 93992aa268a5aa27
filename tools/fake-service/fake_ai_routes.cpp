#include "fake-service/fake_ai_routes.h"

#include "fake-service/fake_input.h"

#include <QRegularExpression>

#include <algorithm>
#include <memory>

namespace {

const QString AIPath = QStringLiteral("/api/ai.php");
const QStringList Actions = {QStringLiteral("ask"),      QStringLiteral("summarize"),
                             QStringLiteral("continue"), QStringLiteral("improve"),
                             QStringLiteral("outline"),  QStringLiteral("translate")};
constexpr int SummarySentences = 3;

QString bullets(const QStringList &lines)
{
    QStringList out;
    for (const QString &line : lines)
        out.append(QStringLiteral("- ") + line);
    return out.join(QLatin1Char('\n'));
}

// Only spaces and tabs: line breaks are text, as the app counts them.
bool isBlank(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c == u' ' || c == u'\t'; });
}

} // namespace

void FakeAIRoutes::install(FakeService &service)
{
    const std::shared_ptr<FakeAIRoutes> routes(new FakeAIRoutes(service));
    service.route("POST", AIPath, [routes](const FakeService::Call &c) { return routes->run(c); });
}

QStringList FakeAIRoutes::sentences(const QString &text)
{
    static const QRegularExpression boundary(QStringLiteral("(?<=[.!?])\\s+|\\n+"));
    QStringList out;
    for (const QString &part : text.split(boundary)) {
        const QString s = part.simplified();
        if (!s.isEmpty())
            out.append(s);
    }
    return out;
}

FakeAIRoutes::FakeAIRoutes(FakeService &service)
    : m_content(service)
{
}

HttpResponse FakeAIRoutes::run(const FakeService::Call &call)
{
    FakeInput in(call);
    const QString action = in.string(QStringLiteral("action"));
    const std::optional<qint64> pageId = in.optId(QStringLiteral("page_id"));
    const std::optional<QString> text = in.optString(QStringLiteral("text"));
    const std::optional<QString> prompt = in.optString(QStringLiteral("prompt"));
    const std::optional<QString> language = in.optString(QStringLiteral("target_lang"));
    if (!in.failed() && !Actions.contains(action))
        in.fail(QStringLiteral("Unknown action"));
    if (!in.failed() && action == QLatin1String("improve") && isBlank(text.value_or(QString())))
        in.fail(QStringLiteral("Paste some text to improve."));
    if (!in.failed() && action == QLatin1String("ask") && isBlank(prompt.value_or(QString())))
        in.fail(QStringLiteral("Type a question."));
    if (!in.failed() && action == QLatin1String("translate") && language.value_or(QString()).isEmpty())
        in.fail(QStringLiteral("Pick a target language."));
    if (in.failed())
        return in.failure();

    const FakeServiceState::Page *page = nullptr;
    if (pageId) {
        const FakeContent::PageCheck check =
            m_content.checkPage(call.userId, *pageId, FakeContent::Need::View);
        if (!check.page)
            return check.refusal;
        page = check.page;
    }

    FakeServiceState &s = m_content.state();
    int &used = s.aiRequestsUsed[call.userId];
    if (used >= s.aiDailyLimit)
        return FakeService::error(429, QStringLiteral("You've used all of today's AI requests."));
    ++used;

    JSONObject reply{{QStringLiteral("remaining_today"), s.aiDailyLimit - used}};
    const QString input = action == QLatin1String("improve") ? *text
                          : action == QLatin1String("ask")   ? *prompt
                                                             : language.value_or(QString());
    const QString result = answer(action, page, input);
    // A 2xx reply may carry an error beside the (empty) text; the panel shows both.
    if (result.isEmpty())
        reply[QStringLiteral("error")] = QStringLiteral("This page has no text to work with yet.");
    reply[QStringLiteral("text")] = result;
    return FakeService::reply(200, reply);
}

QString FakeAIRoutes::answer(const QString &action, const FakeServiceState::Page *page, const QString &input)
{
    if (action == QLatin1String("improve")) {
        QString out = input.simplified();
        // Text of line breaks alone has nothing to rewrite.
        if (out.isEmpty())
            return QStringLiteral("There is no text to improve yet.");
        out[0] = out[0].toUpper();
        if (!out.endsWith(QLatin1Char('.')) && !out.endsWith(QLatin1Char('!')) &&
            !out.endsWith(QLatin1Char('?')))
            out += QLatin1Char('.');
        return out;
    }

    QStringList body;
    if (page) {
        for (const auto *block : m_content.blocksOf(page->id))
            body += sentences(FakeContent::blockText(*block));
    }
    if (action == QLatin1String("ask")) {
        // The first sentence that shares a word of three letters or more with the question.
        const QStringList words =
            input.toLower().split(QRegularExpression(QStringLiteral("\\W+")), Qt::SkipEmptyParts);
        for (const QString &sentence : body) {
            for (const QString &word : words) {
                if (word.size() >= 3 && sentence.contains(word, Qt::CaseInsensitive))
                    return QStringLiteral("From the page: ") + sentence;
            }
        }
        return QStringLiteral("The page doesn't say.");
    }
    if (body.isEmpty())
        return QString();
    if (action == QLatin1String("summarize"))
        return bullets(body.mid(0, SummarySentences));
    if (action == QLatin1String("continue"))
        return QStringLiteral("Following on from \"") + body.last() +
               QStringLiteral("\", the next step is to act on it.");
    if (action == QLatin1String("outline"))
        return outline(*page, body);
    return QLatin1Char('[') + input + QStringLiteral("] ") + body.join(QLatin1Char(' '));
}

QString FakeAIRoutes::outline(const FakeServiceState::Page &page, const QStringList &body)
{
    QStringList lines{QStringLiteral("# ") + page.title};
    for (const auto *block : m_content.blocksOf(page.id)) {
        const QString text = FakeContent::blockText(*block).simplified();
        if (text.isEmpty())
            continue;
        if (block->type == QLatin1String("h1"))
            lines.append(QStringLiteral("- ") + text);
        else if (block->type == QLatin1String("h2"))
            lines.append(QStringLiteral("  - ") + text);
        else if (block->type == QLatin1String("h3"))
            lines.append(QStringLiteral("    - ") + text);
    }
    // A page without headings is outlined by its opening sentences.
    if (lines.size() == 1)
        lines.append(bullets(body.mid(0, SummarySentences)));
    return lines.join(QLatin1Char('\n'));
}
