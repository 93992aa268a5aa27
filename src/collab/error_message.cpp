#include "collab/error_message.h"

#include "json/json_reader.h"

namespace {

// QString::toUtf8 would quietly turn a lone surrogate into '?'.
std::optional<QByteArray> utf8Strict(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            return std::nullopt;
    }
    return text.toUtf8();
}

} // namespace

std::optional<QString> errorMessage(const std::optional<QString> &fromBody)
{
    if (!fromBody)
        return std::nullopt;
    const std::optional<QByteArray> bytes = utf8Strict(*fromBody);
    if (!bytes)
        return std::nullopt;

    rapidjson::Document doc;
    try {
        json::parseDocument(doc, *bytes);
    } catch (const DecodeError &) {
        return std::nullopt;
    }
    if (!doc.IsObject())
        return std::nullopt;
    const auto member = doc.FindMember("error");
    if (member == doc.MemberEnd() || !member->value.IsString())
        return std::nullopt;
    return QString::fromUtf8(member->value.GetString(), qsizetype(member->value.GetStringLength()));
}
