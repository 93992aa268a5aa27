// The crash test's child: loads the store in the folder given, then saves state n, n+1, ... until
// killed, printing each n once it is on disk. With --once N it writes state N and exits.
#include "state_file_samples.h"
#include "store/local_store.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2)
        return 2;
    LocalStore store(args[1]);
    if (args.size() == 4 && args[2] == QLatin1String("--once")) {
        store.change([&](StoreState &s) { s = StateFileSamples::numbered(args[3].toLongLong(), 40); });
        store.save();
        return 0;
    }
    for (qint64 n = store.state().cursorServerTs + 1;; ++n) {
        store.change([&](StoreState &s) { s = StateFileSamples::numbered(n); });
        store.save();
        std::printf("%lld\n", qlonglong(n));
        std::fflush(stdout);
    }
}
