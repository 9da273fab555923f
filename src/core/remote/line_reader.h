#pragma once
// Splits what a client writes into lines ending with "\n", each at most
// kMaxLineBytes long without its "\n". A longer line is not kept: once one
// has come, the reader is spent and gives no further line.

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace veloxa::remote {

inline constexpr qsizetype kMaxLineBytes = qsizetype{64} * 1024;

class LineReader {
public:
    void append(QByteArrayView bytes);
    // The next whole line without its "\n" (a "\r" before it is dropped too).
    std::optional<QByteArray> next();
    bool overlong() const { return m_overlong; }

private:
    QByteArray m_buffer;
    qsizetype m_searchFrom = 0; // no "\n" before this index
    bool m_overlong = false;
};

} // namespace veloxa::remote
