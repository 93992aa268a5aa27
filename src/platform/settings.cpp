#include "platform/settings.h"

#include "json/json_error.h"
#include "json/json_value.h"
#include "platform/private_files.h"

#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

namespace {

constexpr auto kOrganization = "Folionest";
constexpr auto kApplication = "penroost-derud";

std::optional<JSONValue> parsed(const std::optional<QByteArray> &text)
{
    if (!text)
        return std::nullopt;
    try {
        return JSONValue::parse(*text);
    } catch (const DecodeError &) {
        return std::nullopt;
    }
}

} // namespace

Settings::Settings()
    : m_settings(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                             QString::fromLatin1(kOrganization),
                                             QString::fromLatin1(kApplication)))
{
    // The folder is the app's own, named after the organization.
    makePrivateFolder(QFileInfo(m_settings->fileName()).absolutePath());
    // Made before QSettings first writes: it keeps an existing file's mode, never a new file's.
    makePrivateFile(m_settings->fileName());
}

Settings::Settings(const QString &filePath)
    : m_settings(std::make_unique<QSettings>(filePath, QSettings::IniFormat))
{
    makePrivateFile(filePath);
}

Settings::~Settings()
{
    // The file must be written before its scratch folder goes away.
    m_settings.reset();
}

std::unique_ptr<Settings> Settings::temporary()
{
    auto scratch = std::make_unique<QTemporaryDir>();
    auto settings = std::make_unique<Settings>(scratch->filePath(QStringLiteral("settings.ini")));
    settings->m_scratch = std::move(scratch);
    return settings;
}

QString Settings::filePath() const
{
    return m_settings->fileName();
}

std::optional<QByteArray> Settings::jsonText(const QString &key) const
{
    const QVariant v = m_settings->value(key);
    if (v.typeId() != QMetaType::QString)
        return std::nullopt;
    return v.toString().toUtf8();
}

std::optional<QString> Settings::string(const QString &key) const
{
    const auto v = parsed(jsonText(key));
    if (!v || !v->isString())
        return std::nullopt;
    return v->toString();
}

std::optional<bool> Settings::boolean(const QString &key) const
{
    const auto v = parsed(jsonText(key));
    if (!v || !v->isBool())
        return std::nullopt;
    return v->toBool();
}

std::optional<qint64> Settings::integer(const QString &key) const
{
    const auto v = parsed(jsonText(key));
    if (!v || !v->isInt())
        return std::nullopt;
    return v->toInt();
}

void Settings::setString(const QString &key, const QString &value)
{
    setJSONText(key, JSONValue(value).serialize());
}

void Settings::setBool(const QString &key, bool value)
{
    setJSONText(key, JSONValue(value).serialize());
}

void Settings::setInteger(const QString &key, qint64 value)
{
    setJSONText(key, JSONValue(value).serialize());
}

void Settings::setJSONText(const QString &key, const QByteArray &json)
{
    m_settings->setValue(key, QString::fromUtf8(json));
}

bool Settings::contains(const QString &key) const
{
    return m_settings->contains(key);
}

void Settings::remove(const QString &key)
{
    m_settings->remove(key);
}

void Settings::sync()
{
    m_settings->sync();
}
