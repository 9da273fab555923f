#pragma once
// How the bytes after a name's '=' read as the text the panel gets, for texts
// this program writes and for values of other types that another Qt program
// may have put in the file.

#include <QByteArrayView>
#include <QString>

namespace veloxa::settings::ini {

// The text a value reads as, before the found / not-found rule of
// stored_value.h (an empty text reads as not found):
// - a text: the text, unescaped as QSettings unescapes it ("@@x" is "@x",
//   "@String(...)" the text inside, which may hold NUL characters);
// - a list (an unquoted "a, b"): its items' texts joined by ", ";
// - "@ByteArray(...)": the bytes taken as UTF-8;
// - "@Variant(...)" and "@DateTime(...)": the value QSettings would load
//   from it, as Qt's text form of it ("80", "true", ISO 8601 for a date);
// - "@Rect(...)", "@Size(...)", "@Point(...)": their numbers separated by
//   blanks ("1 2 3 4");
// - "@Invalid()", a map, a type Qt cannot load: the empty text.
QString valueText(QByteArrayView raw);

} // namespace veloxa::settings::ini
