#include "controls/text_box.h"

#include <QKeyEvent>
#include <QScopedValueRollback>
#include <QValidator>

namespace veloxa::controls {
namespace {

// Refuses a user edit that would leave more characters than the limit and
// more than the box holds now, so a longer text assigned by the program can
// still be shortened. (QLineEdit::setMaxLength would also cut assigned text.)
class CharacterLimit final : public QValidator {
public:
    CharacterLimit(const TextBox *box, int limit)
        : QValidator(const_cast<TextBox *>(box))
        , m_box(box)
        , m_limit(limit)
    {
    }

    State validate(QString &input, int &) const override
    {
        // A text assigned by the program passes whatever its length: QLineEdit
        // validates assigned text too, and after an invalid one it would stop
        // refusing the user's edits. QLineEdit validates after applying an
        // edit, so compare with the text the box held before it.
        if (m_box->assigning())
            return Acceptable;
        if (input.size() > m_limit && input.size() > m_box->textBeforeEdit().size())
            return Invalid;
        return Acceptable;
    }

private:
    const TextBox *m_box;
    int m_limit;
};

} // namespace

TextBox::TextBox(const QString &text, QWidget *parent)
    : QLineEdit(text, parent)
    , m_textBeforeEdit(text)
{
    connect(this, &QLineEdit::textChanged, this, [this](const QString &now) {
        m_textBeforeEdit = now;
        emit changed();
    });
}

void TextBox::assign(const QString &newText)
{
    if (newText == text()) {
        emit changed(); // QLineEdit stays silent when the text is the same
        return;
    }
    const QScopedValueRollback<bool> assigning(m_assigning, true);
    setText(newText);
}

void TextBox::setCharacterLimit(int limit)
{
    m_limit = limit;
    setValidator(limit > 0 ? new CharacterLimit(this, limit) : nullptr);
}

void TextBox::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    emit focusLost();
}

void TextBox::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        emit enterPressed();
    QLineEdit::keyPressEvent(event);
}

} // namespace veloxa::controls
