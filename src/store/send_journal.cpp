#include "store/send_journal.h"

#include "json/json_coder.h"
#include "json/json_error.h"
#include "platform/diag.h"
#include "store/state_writer.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

SendJournal::SendJournal(QString path)
    : m_path(std::move(path))
{
}

SendJournal::~SendJournal()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool SendJournal::openFile()
{
    if (m_fd >= 0)
        return true;
    m_fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (m_fd < 0)
        diag(QStringLiteral("LocalStore: could not open %1: %2")
                 .arg(m_path, QString::fromLocal8Bit(std::strerror(errno))));
    return m_fd >= 0;
}

namespace {

// Beside the journal while its newest notes are copied out of it; a kill may leave it behind.
constexpr auto kTrimSuffix = ".trim";

} // namespace

qint64 SendJournal::fileSize() const
{
    if (m_fd >= 0) {
        const off_t end = ::lseek(m_fd, 0, SEEK_END);
        return end < 0 ? 0 : qint64(end);
    }
    return QFileInfo(m_path).size();
}

std::vector<SendNote> SendJournal::load(qint64 covered)
{
    QFile::remove(m_path + QLatin1String(kTrimSuffix));
    std::vector<SendNote> notes;
    qint64 last = covered;
    QFile file(m_path);
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (line.isEmpty())
                continue;
            try {
                SendNote note = sharedJSONDecode<SendNote>(line);
                if (note.seq) {
                    last = std::max(last, *note.seq);
                    // Written before the save the loaded state came from: it holds what came of it.
                    if (*note.seq <= covered)
                        continue;
                }
                notes.push_back(std::move(note));
            } catch (const DecodeError &) {
            }
        }
    }
    std::lock_guard lock(m_mutex);
    m_next = last + 1;
    m_out = false;
    return notes;
}

void SendJournal::append(SendNote note)
{
    {
        std::lock_guard lock(m_mutex);
        note.seq = m_next++;
    }
    // Led by a line end too, so a line a kill cut short never runs into this one.
    const QByteArray line = '\n' + sharedJSONEncode(note) + '\n';
    std::lock_guard lock(m_mutex);
    // A line written while a request is out (its answer's) is no more covered than that request.
    if (!m_out)
        m_beforeOut = Mark{*note.seq - 1, m_base + fileSize()};
    m_out = true;
    if (!openFile())
        return;
    // One write: a kill leaves the line whole or cut short, and a line cut short never went out.
    if (const auto failure = durable::writeSome(m_fd, m_path, line))
        diag(QStringLiteral("LocalStore: could not write ") + *failure);
}

void SendJournal::settled()
{
    std::lock_guard lock(m_mutex);
    m_out = false;
}

SendJournal::Mark SendJournal::coveredNow() const
{
    std::lock_guard lock(m_mutex);
    if (m_out)
        return m_beforeOut;
    return Mark{m_next - 1, m_base + fileSize()};
}

void SendJournal::written(Mark covered)
{
    std::lock_guard lock(m_mutex);
    const qint64 size = fileSize();
    const qint64 cut = covered.end - m_base;
    if (cut <= 0 || size == 0)
        return;
    if (cut < size) {
        // Notes came since the snapshot was taken: they stay, and only they.
        if (keepFrom(cut, size))
            m_base += cut;
        return;
    }
    if (m_fd >= 0 ? ::ftruncate(m_fd, 0) == 0 : QFile::remove(m_path) || !QFile::exists(m_path))
        m_base += size;
    // Else kept: the next save tries again.
}

bool SendJournal::keepFrom(qint64 from, qint64 size)
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(from))
        return false;
    const QByteArray rest = file.read(size - from);
    if (rest.size() != size - from)
        return false;
    // Written whole beside the journal and put in its place at once: a kill leaves either file, and
    // the notes a save covers are known by their numbers whichever it is.
    const QString temp = m_path + QLatin1String(kTrimSuffix);
    const int fd =
        ::open(QFile::encodeName(temp).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const std::optional<QString> failure = durable::writeSome(fd, temp, rest);
    ::close(fd);
    if (failure ||
        ::rename(QFile::encodeName(temp).constData(), QFile::encodeName(m_path).constData()) != 0) {
        QFile::remove(temp);
        return false;
    }
    // Appends go to the new file from now on.
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    return true;
}

void SendJournal::clear()
{
    std::lock_guard lock(m_mutex);
    m_out = false;
    const qint64 size = fileSize();
    if (m_fd >= 0 ? ::ftruncate(m_fd, 0) == 0 : QFile::remove(m_path) || !QFile::exists(m_path))
        m_base += size;
}
