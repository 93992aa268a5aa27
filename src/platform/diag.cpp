#include "platform/diag.h"

#include <QStringList>

#include <cstdio>

namespace {

std::function<void(const QString &)> &sink()
{
    static std::function<void(const QString &)> s;
    return s;
}

} // namespace

void diag(const QString &line)
{
    if (sink()) {
        sink()(line);
        return;
    }
    const QByteArray utf8 = line.toUtf8();
    std::fwrite(utf8.constData(), 1, size_t(utf8.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

DiagCapture::DiagCapture() : m_previous(sink())
{
    sink() = [this](const QString &line) { m_lines.append(line); };
}

DiagCapture::~DiagCapture()
{
    sink() = m_previous;
}

bool DiagCapture::contains(const QString &text) const
{
    for (const auto &l : m_lines) {
        if (l.contains(text))
            return true;
    }
    return false;
}
