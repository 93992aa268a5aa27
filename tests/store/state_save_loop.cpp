// The crash test's child: loads the store in the folder given, then saves state n, n+1, ... until
// killed, printing each n once it is on disk. With --once N it writes state N and exits. With
// --stop-in-write K it says "writing" while its K-th save has a full temporary file not yet renamed
// over "state.json", and waits there to be killed: a kill that lands inside a write by construction.
#include "state_file_samples.h"
#include "store/local_store.h"

#include <QCoreApplication>

#include <atomic>
#include <cstdio>

#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
std::atomic<int> stopInWrite{-1};
std::atomic<int> fileSyncs{0};
} // namespace

// Stands in for the C library's: every save forces its temporary file to disk before renaming it.
extern "C" int fsync(int fd)
{
    struct stat info {};
    if (stopInWrite >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && fileSyncs++ == stopInWrite) {
        std::printf("writing\n");
        std::fflush(stdout);
        for (;;)
            ::pause();
    }
    return int(::syscall(SYS_fsync, fd));
}

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
    if (args.size() == 4 && args[2] == QLatin1String("--stop-in-write"))
        stopInWrite = args[3].toInt();
    for (qint64 n = store.state().cursorServerTs + 1;; ++n) {
        store.change([&](StoreState &s) { s = StateFileSamples::numbered(n); });
        store.save();
        std::printf("%lld\n", qlonglong(n));
        std::fflush(stdout);
    }
}
