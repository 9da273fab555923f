#include "core/settings/ini_text.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <limits>

// The rules here follow what Qt 6.4's QSettings does with an INI file; the
// store's tests hold them against QSettings itself, both ways.

namespace veloxa::settings::ini {

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isSpecial(char c)
{
    return c == '\n' || c == '\r' || c == '"' || c == ';' || c == '=' || c == '\\';
}

struct Line {
    QByteArrayView text; // from its first non-blank character
    qsizetype equals = -1; // index in text of the first '=' outside quotes
    bool quoteOpen = false; // the line runs to the end of the data inside quotes
    bool endsInBackslash = false; // its last byte, the data's last, is a backslash escaping nothing
};

// Splits the text into lines as QSettings does: a line ends at a line break
// or at a ';' outside quotes; inside quotes a line break does not end it; a
// backslash takes the next character with it; a line starting with ';' is a
// comment and skipped.
bool nextLine(QByteArrayView data, qsizetype &pos, Line &line)
{
    const qsizetype size = data.size();
    bool inQuotes = false;
    qsizetype equals = -1;
    qsizetype start = pos;
    line.endsInBackslash = false;
    while (start < size && isBlank(data[start]))
        ++start;

    qsizetype i = start;
    while (i < size) {
        const char ch = data[i];
        ++i;
        if (!isSpecial(ch))
            continue;
        if (ch == '=') {
            if (!inQuotes && equals == -1)
                equals = i - 1;
        } else if (ch == '\n' || ch == '\r') {
            if (i == start + 1) {
                ++start;
            } else if (!inQuotes) {
                --i;
                break;
            }
        } else if (ch == '\\') {
            if (i == size)
                line.endsInBackslash = true;
            if (i < size) {
                const char escaped = data[i++];
                if (i < size) {
                    const char after = data[i];
                    if ((escaped == '\n' && after == '\r') || (escaped == '\r' && after == '\n'))
                        ++i;
                }
            }
        } else if (ch == '"') {
            inQuotes = !inQuotes;
        } else { // ';'
            if (i == start + 1) {
                while (i < size && data[i] != '\n' && data[i] != '\r')
                    ++i;
                while (i < size && isBlank(data[i]))
                    ++i;
                start = i;
            } else if (!inQuotes) {
                --i;
                break;
            }
        }
    }

    pos = i;
    line.text = data.sliced(start, i - start);
    line.equals = equals < 0 ? -1 : equals - start;
    line.quoteOpen = inQuotes && i == size;
    return !line.text.isEmpty();
}

bool isUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes);
    Q_UNUSED(text);
    return !decoder.hasError();
}

// Whether a rewrite files the value under this same name.
bool nameSurvivesRewrite(const QString &name)
{
    return !name.isEmpty() && !name.startsWith(u'/') && !name.endsWith(u'/') && !name.contains(QStringLiteral("//"));
}

bool isHexDigit(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
}

} // namespace

QByteArray escapedName(const QString &name)
{
    QByteArray result;
    result.reserve(name.size() * 3 / 2);
    for (const QChar qc : name) {
        const char16_t ch = qc.unicode();
        if (ch == '/') {
            result += '\\';
        } else if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '_'
                   || ch == '-' || ch == '.') {
            result += char(ch);
        } else if (ch <= 0xFF) {
            result += '%';
            result += kHexDigits[ch / 16];
            result += kHexDigits[ch % 16];
        } else {
            result += "%U";
            for (int shift = 12; shift >= 0; shift -= 4)
                result += kHexDigits[(ch >> shift) & 0xF];
        }
    }
    return result;
}

QString unescapedName(QByteArrayView key)
{
    QString result;
    result.reserve(key.size());
    qsizetype i = 0;
    const qsizetype to = key.size();
    while (i < to) {
        const char ch = key[i];
        if (ch == '\\') {
            result += u'/';
            ++i;
            continue;
        }
        if (ch != '%' || i == to - 1) {
            result += QChar(char16_t(uchar(ch)));
            ++i;
            continue;
        }
        int digits = 2;
        qsizetype first = i + 1;
        if (key[first] == 'U') {
            ++first;
            digits = 4;
        }
        bool ok = first + digits <= to;
        uint code = 0;
        if (ok)
            code = QByteArray(key.sliced(first, digits).data(), digits).toUInt(&ok, 16);
        if (!ok) {
            result += u'%';
            ++i;
            continue;
        }
        result += QChar(char16_t(code));
        i = first + digits;
    }
    return result;
}

QByteArray escapedText(const QString &text)
{
    // How QSettings turns a QString into the text it escapes: a text holding
    // a NUL is wrapped in @String(), one starting with '@' gets a second '@'.
    QString value = text;
    if (value.contains(QChar(0)))
        value = QStringLiteral("@String(") + value + u')';
    else if (value.startsWith(u'@'))
        value.prepend(u'@');

    QByteArray result;
    result.reserve(value.size() * 3 / 2);
    QStringEncoder toUtf8(QStringEncoder::Utf8);
    bool needsQuotes = false;
    // After \0 or \xN a hex digit would join the escape: it is escaped too.
    bool escapeNextIfDigit = false;
    for (const QChar qc : value) {
        const char16_t ch = qc.unicode();
        if (ch == ';' || ch == ',' || ch == '=')
            needsQuotes = true;
        if (escapeNextIfDigit && isHexDigit(qc)) {
            result += "\\x" + QByteArray::number(uint(ch), 16);
            continue;
        }
        escapeNextIfDigit = false;
        switch (ch) {
        case 0:
            result += "\\0";
            escapeNextIfDigit = true;
            break;
        case '\a': result += "\\a"; break;
        case '\b': result += "\\b"; break;
        case '\f': result += "\\f"; break;
        case '\n': result += "\\n"; break;
        case '\r': result += "\\r"; break;
        case '\t': result += "\\t"; break;
        case '\v': result += "\\v"; break;
        case '"':
        case '\\':
            result += '\\';
            result += char(ch);
            break;
        default:
            if (ch <= 0x1F) {
                result += "\\x" + QByteArray::number(uint(ch), 16);
                escapeNextIfDigit = true;
            } else {
                result += toUtf8.encode(QStringView(&qc, 1));
            }
        }
    }
    if (needsQuotes || (!result.isEmpty() && (result.front() == ' ' || result.back() == ' ')))
        result = '"' + result + '"';
    return result;
}

Document::Parsed Document::parse(QByteArrayView bytes)
{
    Parsed parsed;
    QByteArrayView data = bytes;
    if (data.startsWith("\xef\xbb\xbf")) // QSettings skips a UTF-8 byte order mark
        data = data.sliced(3);

    Damage damage = Damage::None;
    // The first reason found is the one given, a format error before all.
    const auto worse = [&damage](Damage d) {
        if (damage == Damage::None)
            damage = d;
    };
    // A NUL byte is never part of a text QSettings writes; bytes that are not
    // UTF-8 QSettings turns into U+FFFD.
    if (bytes.contains('\0') || !isUtf8(bytes))
        worse(Damage::Lossy);

    Document &document = parsed.document;
    QString prefix; // "Section/" or empty for the top level
    qsizetype pos = 0;
    Line line;
    while (nextLine(data, pos, line)) {
        if (line.quoteOpen)
            worse(Damage::Lossy); // an open quote swallows the rest of the file into one value
        if (line.text.startsWith('[')) {
            const qsizetype close = line.text.indexOf(']');
            if (close < 0) {
                damage = Damage::Format;
                continue;
            }
            const QByteArrayView section = line.text.sliced(1, close - 1).trimmed();
            // QSettings ignores what follows "]" and files keys of "[]" under "/".
            if (section.isEmpty() || !line.text.sliced(close + 1).trimmed().isEmpty())
                worse(Damage::Lossy);
            if (section.compare("general", Qt::CaseInsensitive) == 0)
                prefix.clear();
            else if (section.compare("%general", Qt::CaseInsensitive) == 0)
                prefix = QString::fromLatin1(section.sliced(1)) + u'/';
            else
                prefix = unescapedName(section) + u'/';
            continue;
        }
        if (line.equals < 0) {
            if (!line.text.startsWith(';'))
                damage = Damage::Format;
            continue;
        }
        const QString name = prefix + unescapedName(line.text.first(line.equals).trimmed());
        if (!nameSurvivesRewrite(name))
            worse(Damage::Names);
        Value &value = document.m_values[name];
        if (value.position == 0)
            value.position = ++document.m_nextPosition;
        value.raw = line.text.sliced(line.equals + 1).toByteArray();
        // A last backslash escapes nothing at the end of the file, but would
        // take the line break along once the value is followed by more lines.
        // An empty pair of quotes reads the same: nothing more, no blanks dropped.
        if (line.endsInBackslash)
            value.raw = value.raw.chopped(1) + "\"\"";
        if (value.raw.isNull())
            value.raw = QByteArray(""); // present, and empty
    }
    parsed.damage = damage;
    if (damage != Damage::None)
        parsed.document = Document();
    return parsed;
}

std::optional<QByteArray> Document::raw(const QString &name) const
{
    const auto it = m_values.constFind(name);
    if (it == m_values.constEnd())
        return std::nullopt;
    return it->raw;
}

void Document::setText(const QString &name, const QString &text)
{
    Value &value = m_values[name];
    if (value.position == 0)
        value.position = ++m_nextPosition;
    value.raw = escapedText(text);
    if (value.raw.isNull())
        value.raw = QByteArray("");
}

QByteArray Document::text() const
{
    struct Section {
        QString name;
        qint64 position = std::numeric_limits<qint64>::max();
        QMap<QString, QByteArray> values; // name within the section -> raw
    };
    QMap<QString, Section> sections;
    for (auto it = m_values.constBegin(); it != m_values.constEnd(); ++it) {
        const QString &full = it.key();
        const qsizetype slash = full.indexOf(u'/');
        const QString sectionName = slash < 0 ? QString() : full.left(slash);
        Section &section = sections[sectionName];
        section.name = sectionName;
        section.position = std::min(section.position, it->position);
        section.values.insert(slash < 0 ? full : full.mid(slash + 1), it->raw);
    }
    QList<Section> ordered = sections.values();
    std::stable_sort(ordered.begin(), ordered.end(), [](const Section &a, const Section &b) {
        return a.position != b.position ? a.position < b.position : a.name < b.name;
    });

    QByteArray out;
    bool first = true;
    for (const Section &section : ordered) {
        QByteArray header = escapedName(section.name);
        if (header.isEmpty())
            header = "[General]";
        else if (header.compare("general", Qt::CaseInsensitive) == 0)
            header = "[%General]";
        else
            header = '[' + header + ']';
        if (!first)
            out += '\n';
        first = false;
        out += header + '\n';
        for (auto it = section.values.constBegin(); it != section.values.constEnd(); ++it)
            out += escapedName(it.key()) + '=' + it.value() + '\n';
    }
    return out;
}

} // namespace veloxa::settings::ini
