#include "platform/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

mode_t modeOf(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 07777;
    return st.st_mode & 07777;
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void absentKeyReadsAsNothing();
    void valuesSurviveReopening_data();
    void valuesSurviveReopening();
    void otherKindsReadAsNothing_data();
    void otherKindsReadAsNothing();
    void handWrittenValues_data();
    void handWrittenValues();
    void jsonTextKeptByteForByte();
    void removeForgetsTheKey();
    void dottedKeysStayFlat();
    void temporaryFolderIsRemoved();
    void fileIsPrivate_data();
    void fileIsPrivate();

private:
    QTemporaryDir m_configHome;
};

void TestSettings::initTestCase()
{
    // Where the app's own settings file goes; read once, at the first such file.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome.path()));
}

void TestSettings::absentKeyReadsAsNothing()
{
    const auto s = Settings::temporary();
    const QString key = QStringLiteral("pn.didSeeWelcome");
    QVERIFY(!s->contains(key));
    QVERIFY(!s->string(key));
    QVERIFY(!s->boolean(key));
    QVERIFY(!s->integer(key));
    QVERIFY(!s->jsonText(key));
}

// A value written by one instance is read back by a fresh one on the same file, with its kind.
void TestSettings::valuesSurviveReopening_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QVariant>("value");

    QTest::newRow("plain string") << "string" << QVariant(QStringLiteral("Ada Lovelace"));
    QTest::newRow("string of digits") << "string" << QVariant(QStringLiteral("42"));
    QTest::newRow("empty string") << "string" << QVariant(QString());
    QTest::newRow("quotes, newlines, INI syntax")
        << "string" << QVariant(QStringLiteral("a\"b\nc=d; [e] @f \\g"));
    QTest::newRow("leading at sign") << "string" << QVariant(QStringLiteral("@Variant(x)"));
    QTest::newRow("non-Latin") << "string" << QVariant(QStringLiteral("Zoë 😀 名前"));
    QTest::newRow("true") << "bool" << QVariant(true);
    QTest::newRow("false") << "bool" << QVariant(false);
    QTest::newRow("zero") << "integer" << QVariant(qint64(0));
    QTest::newRow("negative") << "integer" << QVariant(qint64(-7));
    QTest::newRow("int64 max") << "integer" << QVariant(std::numeric_limits<qint64>::max());
    QTest::newRow("int64 min") << "integer" << QVariant(std::numeric_limits<qint64>::min());
}

void TestSettings::valuesSurviveReopening()
{
    QFETCH(QString, kind);
    QFETCH(QVariant, value);
    const auto scratch = Settings::temporary();
    const QString path = scratch->filePath();
    const QString key = QStringLiteral("penroost.notes.userName");
    {
        Settings writer(path);
        if (kind == QLatin1String("string"))
            writer.setString(key, value.toString());
        else if (kind == QLatin1String("bool"))
            writer.setBool(key, value.toBool());
        else
            writer.setInteger(key, value.toLongLong());
    }
    Settings reader(path);
    if (kind == QLatin1String("string")) {
        QCOMPARE(reader.string(key), std::optional(value.toString()));
    } else if (kind == QLatin1String("bool")) {
        QCOMPARE(reader.boolean(key), std::optional(value.toBool()));
    } else {
        QCOMPARE(reader.integer(key), std::optional(value.toLongLong()));
    }
}

// A value of one kind never reads as another, which the INI format alone would allow.
void TestSettings::otherKindsReadAsNothing_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<bool>("isString");
    QTest::addColumn<bool>("isBool");
    QTest::addColumn<bool>("isInteger");

    QTest::newRow("text of digits") << QByteArray("\"42\"") << true << false << false;
    QTest::newRow("integer") << QByteArray("42") << false << false << true;
    QTest::newRow("whole number as double") << QByteArray("42.0") << false << false << true;
    QTest::newRow("fraction") << QByteArray("42.5") << false << false << false;
    QTest::newRow("past 64 bits") << QByteArray("9223372036854775808") << false << false << false;
    QTest::newRow("bool") << QByteArray("true") << false << true << false;
    QTest::newRow("text true") << QByteArray("\"true\"") << true << false << false;
    QTest::newRow("list") << QByteArray("[1,2]") << false << false << false;
    QTest::newRow("null") << QByteArray("null") << false << false << false;
}

void TestSettings::otherKindsReadAsNothing()
{
    QFETCH(QByteArray, stored);
    QFETCH(bool, isString);
    QFETCH(bool, isBool);
    QFETCH(bool, isInteger);
    const auto s = Settings::temporary();
    const QString key = QStringLiteral("penroost.notes.userID");
    s->setJSONText(key, stored);
    QCOMPARE(s->string(key).has_value(), isString);
    QCOMPARE(s->boolean(key).has_value(), isBool);
    QCOMPARE(s->integer(key).has_value(), isInteger);
    QCOMPARE(s->jsonText(key), std::optional(stored));
}

// What a person or an older build may have left in the file.
void TestSettings::handWrittenValues_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<std::optional<qint64>>("integer");
    QTest::addColumn<std::optional<QString>>("string");

    QTest::newRow("bare number") << QByteArray("k=42") << std::optional<qint64>(42)
                                 << std::optional<QString>();
    QTest::newRow("quoted JSON text") << QByteArray("k=\"\\\"hi\\\"\"") << std::optional<qint64>()
                                      << std::optional<QString>(QStringLiteral("hi"));
    QTest::newRow("not JSON") << QByteArray("k=hello") << std::optional<qint64>() << std::optional<QString>();
    QTest::newRow("INI list") << QByteArray("k=a, b") << std::optional<qint64>() << std::optional<QString>();
    QTest::newRow("empty") << QByteArray("k=") << std::optional<qint64>() << std::optional<QString>();
}

void TestSettings::handWrittenValues()
{
    QFETCH(QByteArray, line);
    QFETCH(std::optional<qint64>, integer);
    QFETCH(std::optional<QString>, string);
    const auto scratch = Settings::temporary();
    QFile file(scratch->filePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\n" + line + "\n");
    file.close();
    Settings s(scratch->filePath());
    QCOMPARE(s.integer(QStringLiteral("k")), integer);
    QCOMPARE(s.string(QStringLiteral("k")), string);
}

void TestSettings::jsonTextKeptByteForByte()
{
    const auto scratch = Settings::temporary();
    const QByteArray templates =
        R"([{"id":"A1","name":"Meeting \"notes\"","blocks":[{"type":"h1","contentJSON":"{\"text\":\"Ω\"}"}]}])";
    {
        Settings writer(scratch->filePath());
        writer.setJSONText(QStringLiteral("pn.templates"), templates);
    }
    Settings reader(scratch->filePath());
    QCOMPARE(reader.jsonText(QStringLiteral("pn.templates")), std::optional(templates));
    QVERIFY(!reader.string(QStringLiteral("pn.templates")));
}

void TestSettings::removeForgetsTheKey()
{
    const auto scratch = Settings::temporary();
    const QString key = QStringLiteral("pn.lastOpenPageLocalID");
    {
        Settings writer(scratch->filePath());
        writer.setString(key, QStringLiteral("X"));
        writer.setBool(QStringLiteral("pn.didSeeWelcome"), true);
        writer.remove(key);
        writer.remove(QStringLiteral("never.written"));
    }
    Settings reader(scratch->filePath());
    QVERIFY(!reader.contains(key));
    QVERIFY(!reader.string(key));
    QCOMPARE(reader.boolean(QStringLiteral("pn.didSeeWelcome")), std::optional(true));
}

// Keys are written as quoted, not split into groups.
void TestSettings::dottedKeysStayFlat()
{
    const auto scratch = Settings::temporary();
    {
        Settings writer(scratch->filePath());
        writer.setInteger(QStringLiteral("penroost.notes.userID"), 42);
    }
    QFile file(scratch->filePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY2(text.contains("penroost.notes.userID=42"), text.constData());
}

void TestSettings::temporaryFolderIsRemoved()
{
    auto s = Settings::temporary();
    s->setBool(QStringLiteral("pn.didSeeWelcome"), true);
    s->sync();
    const QString folder = QFileInfo(s->filePath()).absolutePath();
    QVERIFY(QFileInfo::exists(s->filePath()));
    s.reset();
    QVERIFY(!QFileInfo::exists(folder));
}

// Only the user may read the settings, however open the umask or an older build left the file.
void TestSettings::fileIsPrivate_data()
{
    QTest::addColumn<bool>("ownFile");
    QTest::addColumn<int>("before"); // mode of a file already there; 0 = none

    QTest::newRow("the app's own, new") << true << 0;
    QTest::newRow("the app's own, left open") << true << 0644;
    QTest::newRow("given file, new") << false << 0;
    QTest::newRow("given file, left open") << false << 0666;
}

void TestSettings::fileIsPrivate()
{
    QFETCH(bool, ownFile);
    QFETCH(int, before);
    const mode_t umaskBefore = ::umask(0);
    QTemporaryDir dir;
    const QString given = dir.filePath(QStringLiteral("settings.ini"));
    const QString own = m_configHome.filePath(QStringLiteral("Folionest/penroost-derud.ini"));
    const QString path = ownFile ? own : given;
    QFile::remove(own);
    if (before != 0) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[General]\nold=\"1\"\n");
        f.close();
        QVERIFY(::chmod(QFile::encodeName(path).constData(), mode_t(before)) == 0);
    }
    {
        auto settings = ownFile ? std::make_unique<Settings>() : std::make_unique<Settings>(given);
        QCOMPARE(settings->filePath(), path);
        QCOMPARE(modeOf(path), mode_t(0600));
        settings->setString(QStringLiteral("pn.name"), QStringLiteral("Ada"));
        settings->sync();
        QCOMPARE(modeOf(path), mode_t(0600));
        settings->setString(QStringLiteral("pn.name"), QStringLiteral("Grace"));
    }
    ::umask(umaskBefore);
    QCOMPARE(modeOf(path), mode_t(0600));
    if (ownFile)
        QCOMPARE(modeOf(QFileInfo(path).absolutePath()), mode_t(0700));
    QCOMPARE(Settings(path).string(QStringLiteral("pn.name")), QStringLiteral("Grace"));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
