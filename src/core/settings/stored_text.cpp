#include "core/settings/stored_text.h"

#include <QDataStream>
#include <QIODevice>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <QStringDecoder>
#include <QStringList>
#include <QVariant>

// The unescaping and the '@' forms follow Qt 6.4's QSettings; the store's
// tests compare the result with what QSettings reads from the same bytes.

namespace veloxa::settings::ini {

namespace {

// Drops blanks and tabs at the end of text beyond index limit (QSettings
// keeps those that an escape or a quote produced).
void chopTrailingBlanks(QString &text, qsizetype limit)
{
    qsizetype n = text.size();
    while (n > limit && (text.at(n - 1) == u' ' || text.at(n - 1) == u'\t'))
        --n;
    text.truncate(n);
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

char simpleEscape(char c)
{
    switch (c) {
    case 'a': return '\a';
    case 'b': return '\b';
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    case 'v': return '\v';
    case '"':
    case '?':
    case '\'':
    case '\\': return c;
    default: return 0;
    }
}

// The value bytes as a text, or as a list when an unquoted ',' splits them.
struct Unescaped {
    bool isList = false;
    QString text;
    QStringList list;
};

// The escape after a backslash, raw[i] onwards: appends what it stands for
// and moves i past it. False when the value ends inside the escape.
bool readEscape(QByteArrayView raw, qsizetype &i, QString &text)
{
    const qsizetype size = raw.size();
    if (i >= size)
        return false;
    const char e = raw[i++];
    if (const char simple = simpleEscape(e)) {
        text += QChar(char16_t(uchar(simple)));
    } else if (e == 'x' || (e >= '0' && e <= '7')) {
        // \x takes any number of hex digits, \0.. any number of octal
        // ones, into one UTF-16 unit.
        const int base = e == 'x' ? 16 : 8;
        char16_t value = e == 'x' ? 0 : char16_t(e - '0');
        bool any = e != 'x';
        while (i < size) {
            const int digit = base == 16 ? hexValue(raw[i]) : (raw[i] >= '0' && raw[i] <= '7' ? raw[i] - '0' : -1);
            if (digit < 0)
                break;
            value = char16_t(value * base + digit);
            any = true;
            ++i;
        }
        if (any)
            text += QChar(value);
        if (i >= size && any)
            return false;
    } else if (e == '\n' || e == '\r') {
        if (i < size && (raw[i] == '\n' || raw[i] == '\r') && raw[i] != e)
            ++i; // a line continuation
    } // any other escaped character is dropped with its backslash
    return true;
}

Unescaped unescape(QByteArrayView raw)
{
    Unescaped out;
    QString &text = out.text;
    QStringDecoder fromUtf8(QStringDecoder::Utf8);
    bool inQuotes = false;
    bool quoted = false; // the current item had quotes: its blanks are kept
    qsizetype i = 0;
    const qsizetype size = raw.size();
    const auto skipBlanks = [&] {
        while (i < size && (raw[i] == ' ' || raw[i] == '\t'))
            ++i;
    };
    skipBlanks();
    qsizetype chopLimit = 0;
    bool endedInEscape = false;
    while (i < size) {
        const char ch = raw[i];
        if (ch == '\\') {
            ++i;
            if (!readEscape(raw, i, text)) {
                endedInEscape = true;
                break;
            }
            chopLimit = text.size();
        } else if (ch == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes) {
                skipBlanks();
                chopLimit = text.size();
            }
        } else if (ch == ',' && !inQuotes) {
            if (!quoted)
                chopTrailingBlanks(text, chopLimit);
            out.isList = true;
            out.list.append(text);
            text.clear();
            quoted = false;
            ++i;
            skipBlanks();
            chopLimit = 0;
        } else {
            qsizetype j = i + 1;
            while (j < size && raw[j] != '\\' && raw[j] != '"' && raw[j] != ',')
                ++j;
            text += fromUtf8(raw.sliced(i, j - i));
            i = j;
        }
    }
    if (!quoted && !endedInEscape)
        chopTrailingBlanks(text, chopLimit);
    if (out.isList)
        out.list.append(text);
    return out;
}

// "@Rect(1 2 3 4)" -> {"1", "2", "3", "4"}: the blank-separated parts
// after the '(' at openAt, up to the final ')'.
QStringList arguments(const QString &s, qsizetype openAt)
{
    QStringList result;
    QString item;
    for (qsizetype i = openAt + 1; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (c == u')') {
            result.append(item);
        } else if (c == u' ') {
            result.append(item);
            item.clear();
        } else {
            item.append(c);
        }
    }
    return result;
}

QVariant loadStreamed(const QString &s, qsizetype offset, QDataStream::Version version)
{
    QByteArray bytes = QStringView(s).sliced(offset).toLatin1();
    QDataStream stream(&bytes, QIODevice::ReadOnly);
    stream.setVersion(version);
    QVariant result;
    stream >> result;
    return result;
}

// What QSettings makes of a text that may carry one of its '@' forms.
QVariant fromText(const QString &s)
{
    if (!s.startsWith(u'@'))
        return s;
    if (s.endsWith(u')')) {
        if (s.startsWith(QLatin1StringView("@ByteArray(")))
            return QStringView(s).sliced(11).chopped(1).toLatin1();
        if (s.startsWith(QLatin1StringView("@String(")))
            return QStringView(s).sliced(8).chopped(1).toString();
        if (s.startsWith(QLatin1StringView("@Variant(")))
            return loadStreamed(s, 9, QDataStream::Qt_4_0);
        if (s.startsWith(QLatin1StringView("@DateTime(")))
            return loadStreamed(s, 10, QDataStream::Qt_5_6);
        if (s.startsWith(QLatin1StringView("@Rect("))) {
            const QStringList a = arguments(s, 5);
            if (a.size() == 4)
                return QRect(a[0].toInt(), a[1].toInt(), a[2].toInt(), a[3].toInt());
        } else if (s.startsWith(QLatin1StringView("@Size("))) {
            const QStringList a = arguments(s, 5);
            if (a.size() == 2)
                return QSize(a[0].toInt(), a[1].toInt());
        } else if (s.startsWith(QLatin1StringView("@Point("))) {
            const QStringList a = arguments(s, 6);
            if (a.size() == 2)
                return QPoint(a[0].toInt(), a[1].toInt());
        } else if (s == QLatin1StringView("@Invalid()")) {
            return {};
        }
    }
    if (s.startsWith(QLatin1StringView("@@")))
        return s.sliced(1);
    return s;
}

QString numbersText(std::initializer_list<double> numbers)
{
    QStringList parts;
    for (const double number : numbers)
        parts.append(QVariant(number).toString());
    return parts.join(u' ');
}

QString variantText(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType: return {};
    case QMetaType::QStringList: return value.toStringList().join(QStringLiteral(", "));
    case QMetaType::QVariantList: {
        QStringList parts;
        for (const QVariant &item : value.toList())
            parts.append(variantText(item));
        return parts.join(QStringLiteral(", "));
    }
    case QMetaType::QPoint: {
        const QPoint p = value.toPoint();
        return numbersText({double(p.x()), double(p.y())});
    }
    case QMetaType::QPointF: {
        const QPointF p = value.toPointF();
        return numbersText({p.x(), p.y()});
    }
    case QMetaType::QSize: {
        const QSize s = value.toSize();
        return numbersText({double(s.width()), double(s.height())});
    }
    case QMetaType::QSizeF: {
        const QSizeF s = value.toSizeF();
        return numbersText({s.width(), s.height()});
    }
    case QMetaType::QRect: {
        const QRect r = value.toRect();
        return numbersText({double(r.x()), double(r.y()), double(r.width()), double(r.height())});
    }
    case QMetaType::QRectF: {
        const QRectF r = value.toRectF();
        return numbersText({r.x(), r.y(), r.width(), r.height()});
    }
    default: break;
    }
    if (value.canConvert<QString>())
        return value.toString();
    return {};
}

} // namespace

QString valueText(QByteArrayView raw)
{
    const Unescaped unescaped = unescape(raw);
    if (!unescaped.isList)
        return variantText(fromText(unescaped.text));
    // A list stays texts unless an item carries an '@' form (not "@@").
    bool typed = false;
    QStringList items = unescaped.list;
    for (QString &item : items) {
        if (!item.startsWith(u'@'))
            continue;
        if (item.size() >= 2 && item.at(1) == u'@') {
            item.remove(0, 1);
        } else {
            typed = true;
            break;
        }
    }
    if (!typed)
        return items.join(QStringLiteral(", "));
    QStringList parts;
    for (const QString &item : unescaped.list)
        parts.append(variantText(fromText(item)));
    return parts.join(QStringLiteral(", "));
}

} // namespace veloxa::settings::ini
