#pragma once
// Random texts for the tests of the number readings and of the boxes' rules,
// from a fixed seed so that a failure repeats. Some are any characters of an
// alphabet; others are shaped like numbers (blanks, a sign, digits, a point,
// an exponent across and beyond the range of a double), now and then with one
// character of the alphabet put in, put over another or taken out, so that
// many texts are readable and many more nearly are.

#include <QRandomGenerator>
#include <QString>

#include <utility>

namespace veloxa::test {

// What the boxes' texts are made of in the tests of the rules: digits, signs,
// point, exponent letters, blanks, letters and a thousands comma.
inline const QString kBoxCharacters = QStringLiteral("0123456789+-.eE \taxZ,");

class RandomText {
public:
    explicit RandomText(quint32 seed, QString alphabet = kBoxCharacters)
        : m_random(seed)
        , m_alphabet(std::move(alphabet))
    {
        for (const QChar blank : {QLatin1Char(' '), QLatin1Char('\t'), QLatin1Char('\n')})
            if (m_alphabet.contains(blank))
                m_blanks += blank;
    }

    // 0 .. n - 1.
    int below(int n) { return m_random.bounded(n); }

    template <typename List>
    auto anyOf(const List &list)
    {
        return list.at(below(static_cast<int>(list.size())));
    }

    // 0 to `most` characters of the alphabet.
    QString anyText(int most)
    {
        QString text;
        for (int length = below(most + 1); length > 0; --length)
            text += anyOf(m_alphabet);
        return text;
    }

    // 0 to `most` digits.
    QString digits(int most)
    {
        QString text;
        for (int count = below(most + 1); count > 0; --count)
            text += digit();
        return text;
    }

    // Blanks of the alphabet, a sign, up to `mostDigits` digits with now and
    // then a point and more digits, an exponent of one to three digits,
    // blanks again; one time in four one character changed.
    QString numberText(int mostDigits)
    {
        // One draw a statement: the order of the operands of + is unspecified.
        QString text = blanks();
        text += sign();
        text += digits(mostDigits);
        if (below(2) == 0) {
            text += QLatin1Char('.');
            text += digits(mostDigits);
        }
        if (below(3) == 0) {
            text += anyOf(QStringLiteral("eE"));
            text += sign();
            text += digits(2);
            text += digit(); // one to three exponent digits
        }
        text += blanks();
        if (below(4) == 0)
            changeOne(text);
        return text;
    }

    // Half any characters, half a number of up to ten digits; at most `most`
    // characters either way.
    QString next(int most) { return below(2) == 0 ? anyText(most) : numberText(10).left(most); }

private:
    QChar digit() { return QLatin1Char(static_cast<char>('0' + below(10))); }

    QString sign()
    {
        switch (below(3)) {
        case 0: return QStringLiteral("-");
        case 1: return QStringLiteral("+");
        default: return {};
        }
    }

    QString blanks()
    {
        QString text;
        if (!m_blanks.isEmpty() && below(4) == 0)
            for (int count = 1 + below(2); count > 0; --count)
                text += anyOf(m_blanks);
        return text;
    }

    // One character of the alphabet put in, put over another, or one taken out.
    void changeOne(QString &text)
    {
        const int at = below(static_cast<int>(text.size()) + 1);
        const QChar character = anyOf(m_alphabet);
        switch (below(3)) {
        case 0: text.insert(at, character); break;
        case 1:
            if (at < text.size())
                text[at] = character;
            break;
        default:
            if (at < text.size())
                text.remove(at, 1);
            break;
        }
    }

    QRandomGenerator m_random;
    QString m_alphabet;
    QString m_blanks;
};

} // namespace veloxa::test
