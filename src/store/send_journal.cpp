#include "store/send_journal.h"

#include "json/json_coder.h"
#include "json/json_error.h"
#include "platform/diag.h"
#include "store/state_writer.h"

#include <QFile>

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

std::vector<SendNote> SendJournal::load()
{
    std::vector<SendNote> notes;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return notes;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        try {
            notes.push_back(sharedJSONDecode<SendNote>(line));
        } catch (const DecodeError &) {
        }
    }
    std::lock_guard lock(m_mutex);
    // Any line, read or not, keeps the file until a save covers it.
    m_count = std::max<quint64>(notes.size(), file.size() > 0 ? 1 : 0);
    return notes;
}

void SendJournal::append(const SendNote &note)
{
    // Led by a line end too, so a line a kill cut short never runs into this one.
    const QByteArray line = '\n' + sharedJSONEncode(note) + '\n';
    std::lock_guard lock(m_mutex);
    m_out = true;
    ++m_count;
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

std::optional<quint64> SendJournal::coveredNow() const
{
    std::lock_guard lock(m_mutex);
    if (m_count == 0 || m_out)
        return std::nullopt;
    return m_count;
}

void SendJournal::written(quint64 covered)
{
    std::lock_guard lock(m_mutex);
    if (covered != m_count)
        return;
    m_count = 0;
    if (m_fd >= 0 ? ::ftruncate(m_fd, 0) == 0 : QFile::remove(m_path) || !QFile::exists(m_path))
        return;
    m_count = covered; // kept: the next save tries again
}

void SendJournal::clear()
{
    std::lock_guard lock(m_mutex);
    m_count = 0;
    m_out = false;
    if (m_fd >= 0)
        (void)::ftruncate(m_fd, 0);
    else
        QFile::remove(m_path);
}
