#include "core/remote/line_reader.h"

namespace veloxa::remote {

void LineReader::append(QByteArrayView bytes)
{
    if (m_overlong)
        return;
    m_buffer.append(bytes);
}

std::optional<QByteArray> LineReader::next()
{
    if (m_overlong)
        return std::nullopt;
    const qsizetype end = m_buffer.indexOf('\n', m_searchFrom);
    if (end < 0) {
        m_searchFrom = m_buffer.size();
        if (m_buffer.size() > kMaxLineBytes) {
            m_overlong = true;
            m_buffer.clear();
        }
        return std::nullopt;
    }
    if (end > kMaxLineBytes) {
        m_overlong = true;
        m_buffer.clear();
        return std::nullopt;
    }
    QByteArray line = m_buffer.left(end);
    m_buffer.remove(0, end + 1);
    m_searchFrom = 0;
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

} // namespace veloxa::remote
