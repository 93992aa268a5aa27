// The anchor several benchmarks time saves against: a plain write and fsync of the same bytes.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtGlobal>

#include <fcntl.h>
#include <unistd.h>

inline void plainWrite(const QString &path, const QByteArray &bytes)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    qsizetype off = 0;
    while (off < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + off, size_t(bytes.size() - off));
        if (n <= 0)
            qFatal("write failed");
        off += n;
    }
    ::fsync(fd);
    ::close(fd);
}
