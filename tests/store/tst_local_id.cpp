#include "store/local_id.h"

#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QThread>
#include <QUuid>

#include <vector>

// Record ids: the service takes them as "client_id" and the state file keeps them, so their form
// must not drift, and no two may meet.
class TestLocalID : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void isAnUpperCaseVersion4UUID();
    void manyFromSeveralThreadsNeverRepeat();
};

void TestLocalID::isAnUpperCaseVersion4UUID()
{
    static const QRegularExpression form(
        QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$"));
    for (int i = 0; i < 1000; ++i) {
        const QString id = newLocalID();
        QVERIFY2(form.match(id).hasMatch(), qPrintable(id));
        const QUuid parsed(id);
        QCOMPARE(parsed.version(), QUuid::Random);
        QCOMPARE(parsed.variant(), QUuid::DCE);
        QCOMPARE(parsed.toString(QUuid::WithoutBraces).toUpper(), id);
    }
}

void TestLocalID::manyFromSeveralThreadsNeverRepeat()
{
    constexpr int kThreads = 4;
    constexpr int kEach = 50000;
    std::vector<std::vector<QString>> made(kThreads);
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back(QThread::create([&made, t] {
            made[size_t(t)].reserve(kEach);
            for (int i = 0; i < kEach; ++i)
                made[size_t(t)].push_back(newLocalID());
        }));
        threads.back()->start();
    }
    for (auto &thread : threads)
        QVERIFY(thread->wait(60000));
    QSet<QString> seen;
    for (const auto &ids : made) {
        for (const QString &id : ids)
            seen.insert(id);
    }
    QCOMPARE(seen.size(), qsizetype(kThreads * kEach));
    // The bits that are not fixed vary: a stuck generator would repeat at once, a weak one here.
    QSet<QChar> leading;
    for (const QString &id : made.front())
        leading.insert(id.front());
    QCOMPARE(leading.size(), qsizetype(16));
}

QTEST_GUILESS_MAIN(TestLocalID)
#include "tst_local_id.moc"
