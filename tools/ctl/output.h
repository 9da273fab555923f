#pragma once
// veloxa2-ctl's output: stdout for results, stderr for what went wrong, each
// line flushed as it is written so that a script reading it sees it at once.

#include <QString>

#include <cstdio>

namespace veloxa::ctl {

inline void writeText(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

inline void out(const QString &line)
{
    writeText(stdout, line + QLatin1Char('\n'));
}

inline void err(const QString &line)
{
    writeText(stderr, QStringLiteral("veloxa2-ctl: ") + line + QLatin1Char('\n'));
}

} // namespace veloxa::ctl
