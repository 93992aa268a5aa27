#include "platform/private_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kOthersBits = S_IRWXG | S_IRWXO;

// Clears the group and other bits only: an owner who made the folder read-only meant it.
bool narrow(const QByteArray &path, mode_t kind)
{
    struct stat st;
    if (::stat(path.constData(), &st) != 0 || (st.st_mode & S_IFMT) != kind)
        return false;
    if ((st.st_mode & kOthersBits) == 0)
        return true;
    return ::chmod(path.constData(), st.st_mode & 07777 & ~kOthersBits) == 0;
}

} // namespace

bool makePrivateFolder(const QString &path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QDir().mkpath(QFileInfo(absolute).absolutePath());
    const QByteArray name = QFile::encodeName(absolute);
    // Created at 0700 rather than narrowed afterwards, so it is never open to others.
    if (::mkdir(name.constData(), S_IRWXU) != 0 && errno != EEXIST)
        return false;
    return narrow(name, S_IFDIR);
}

bool makePrivateFile(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd >= 0)
        ::close(fd);
    return narrow(name, S_IFREG);
}
