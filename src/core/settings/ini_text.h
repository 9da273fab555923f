#pragma once
// The store file's text: the INI layout QSettings reads and writes on Linux
// ("[General]" for the top level, its escaping of names and values), parsed
// and written here so that the store never depends on what QSettings keeps
// cached in a process, and files written by either keep working with both.

#include <QByteArray>
#include <QByteArrayView>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace veloxa::settings::ini {

// Why a text is not one the store can use.
enum class Damage {
    None,
    // QSettings itself reports a format error: a "[" line without "]", or a
    // line that is neither "key=value", a section line nor a ";" comment.
    Format,
    // QSettings reads it without complaint, but a rewrite would change or
    // drop what it holds: a NUL byte, bytes that are not UTF-8, text after
    // the "]" of a section line, an empty section name, or a quote still open
    // at the end of the file.
    Lossy,
    // A name that a rewrite would file under another name: empty, or with a
    // leading, trailing or doubled '/' (from a backslash in a name).
    Names,
};

// Every value of one file by its full name ("Section/key"; top-level names
// have no section), each with the bytes that stood after its '='. Values the
// store does not change are written back with exactly those bytes, so a
// rewrite keeps them as they read, whatever type another program stored.
class Document {
public:
    struct Parsed;
    // The bytes' values, or the reason they are not usable.
    static Parsed parse(QByteArrayView bytes);

    // The bytes after "name=" of a top-level value; nothing when there is none.
    std::optional<QByteArray> raw(const QString &name) const;
    // Sets a top-level value to a text, escaped as QSettings escapes a QString.
    void setText(const QString &name, const QString &text);
    QStringList names() const { return m_values.keys(); }

    // The file as QSettings lays it out: sections in the order they came
    // (new ones last), "[General]" first when it came first, the names of a
    // section sorted, a blank line between sections.
    QByteArray text() const;

private:
    struct Value {
        QByteArray raw;
        qint64 position = 0; // where the name first came; orders the sections
    };
    QMap<QString, Value> m_values;
    qint64 m_nextPosition = 0;
};

struct Document::Parsed {
    Damage damage = Damage::None;
    Document document; // empty unless damage is None
};

// A name as QSettings writes it: letters, digits, '_', '-' and '.' as they
// are, '/' as '\', other characters up to U+00FF as %XX, the rest as %UXXXX.
QByteArray escapedName(const QString &name);
// The reverse, as QSettings reads it (bytes outside ASCII taken as Latin-1).
QString unescapedName(QByteArrayView key);
// The bytes QSettings writes after '=' for a QString value.
QByteArray escapedText(const QString &text);

} // namespace veloxa::settings::ini
