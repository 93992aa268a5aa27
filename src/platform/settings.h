#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

class QSettings;
class QTemporaryDir;

// The user's persistent key-value settings over QSettings. Every value is kept as its UTF-8 JSON
// text, so a number, a string, a bool and a list stay what they were across the INI format:
// a getter returns nothing when the key is absent or holds a value of another kind.
class Settings
{
public:
    // The application's own per-user settings file.
    Settings();
    // Settings kept in the given INI file.
    explicit Settings(const QString &filePath);
    ~Settings();
    Settings(const Settings &) = delete;
    Settings &operator=(const Settings &) = delete;

    // Settings in a fresh file inside a private folder that is removed with the instance (tests).
    static std::unique_ptr<Settings> temporary();

    QString filePath() const;

    std::optional<QString> string(const QString &key) const;
    std::optional<bool> boolean(const QString &key) const;
    // A whole number that fits in 64 signed bits; a fraction or text gives nothing.
    std::optional<qint64> integer(const QString &key) const;
    // The stored JSON text as it is (lists and records), whatever its kind.
    std::optional<QByteArray> jsonText(const QString &key) const;

    void setString(const QString &key, const QString &value);
    void setBool(const QString &key, bool value);
    void setInteger(const QString &key, qint64 value);
    // Stores JSON text unchecked; the caller wrote it with the shared encoder.
    void setJSONText(const QString &key, const QByteArray &json);

    bool contains(const QString &key) const;
    void remove(const QString &key);
    // Writes pending changes to the file now (they are also written on destruction).
    void sync();

private:
    std::unique_ptr<QTemporaryDir> m_scratch;
    std::unique_ptr<QSettings> m_settings;
};
