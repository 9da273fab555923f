#pragma once
// A value read off the command line, or the one line that says why there is
// none.

#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <variant>

namespace veloxa::ctl {

// Ends every message about a command line that is refused.
inline const QString kSeeHelp = QStringLiteral("; see veloxa2-ctl --help");

// The one line that says why a command line is refused.
struct Failure {
    QString message;
};

template <typename T>
class Checked {
public:
    Checked(T value)
        : m_value(std::move(value))
    {
    }
    Checked(Failure failure)
        : m_value(std::move(failure))
    {
    }
    explicit operator bool() const { return std::holds_alternative<T>(m_value); }
    const T &operator*() const { return std::get<T>(m_value); }
    const T *operator->() const { return &std::get<T>(m_value); }
    QString error() const { return *this ? QString() : std::get<Failure>(m_value).message; }

private:
    std::variant<T, Failure> m_value;
};

// Exactly `count` values after `command`, else the line that says why not.
std::optional<Failure> expectValues(const QString &command, const QStringList &arguments, int count,
                                    const QString &what);

// Polarity index as the panel's options number them: 0 "+", 1 "--" (also "-").
Checked<int> polarityIndex(const QString &name, const QString &text);

// The whole text as one number in low..high, as the panel reads its boxes
// when it sends; `unit` follows the range in the message.
Checked<double> numberIn(const QString &name, const QString &text, double low, double high, const QString &unit = {});
// The same, and a whole number.
Checked<double> wholeNumberIn(const QString &name, const QString &text, double low, double high);
// A frequency the panel's boxes would hold: at most half the system clock
// either way, compared as the panel compares it (against the written bound).
Checked<QString> frequencyText(const QString &name, const QString &text, double clockMHz);

} // namespace veloxa::ctl
