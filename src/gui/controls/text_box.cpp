#include "gui/controls/text_box.h"

#include <QDropEvent>
#include <QKeyEvent>
#include <QScopedValueRollback>
#include <QValidator>

#include <algorithm>

namespace veloxa::controls {
namespace {

// Keeps a user edit within the limit: an edit that would leave more
// characters than the limit (and more than the box holds now, so that a
// longer text assigned by the program can still be shortened) keeps only the
// part of its inserted text that fits, as a platform edit box does with a
// paste. (QLineEdit::setMaxLength would also cut assigned text.)
class CharacterLimit final : public QValidator {
public:
    CharacterLimit(const TextBox *box, int limit)
        : QValidator(const_cast<TextBox *>(box))
        , m_box(box)
        , m_limit(limit)
    {
    }

    State validate(QString &input, int &cursor) const override
    {
        // A text assigned by the program passes whatever its length: QLineEdit
        // validates assigned text too, and after an invalid one it would stop
        // refusing the user's edits. QLineEdit validates after applying an
        // edit, so compare with the text the box held before it.
        const QString &before = m_box->textBeforeEdit();
        const qsizetype room = std::max<qsizetype>(m_limit, before.size());
        if (m_box->assigning() || input.size() <= room)
            return Acceptable;
        // The edit put its text just before the cursor; what follows the
        // cursor is the end of the old text, what precedes the inserted text
        // is the start of it.
        const qsizetype end = std::clamp<qsizetype>(cursor, 0, input.size());
        const qsizetype kept = std::min(input.size() - end, before.size());
        qsizetype start = 0;
        while (start < end && start < before.size() - kept && input.at(start) == before.at(start))
            ++start;
        const qsizetype fits = (end - start) - (input.size() - room);
        if (fits <= 0 && start + kept == before.size())
            return Invalid; // nothing fits and nothing was replaced: the edit adds nothing
        const qsizetype insertedKept = std::max<qsizetype>(fits, 0);
        input = input.left(start + insertedKept) + input.mid(end);
        cursor = static_cast<int>(start + insertedKept);
        return Acceptable;
    }

private:
    const TextBox *m_box;
    int m_limit;
};

} // namespace

bool leavesForAnotherControl(Qt::FocusReason reason)
{
    return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason && reason != Qt::MenuBarFocusReason;
}

bool isEnterKey(const QKeyEvent &event)
{
    return event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter;
}

bool typesCarriageReturn(const QKeyEvent &event)
{
    return isEnterKey(event) && !(event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
}

bool typesCharacter13(const QKeyEvent &event)
{
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    const bool ctrlM = event.key() == Qt::Key_M && (modifiers & Qt::ControlModifier)
        && !(modifiers & (Qt::AltModifier | Qt::MetaModifier));
    return ctrlM || typesCarriageReturn(event);
}

TextBox::TextBox(const QString &text, QWidget *parent)
    : QLineEdit(text, parent)
    , m_textBeforeEdit(text)
{
    setAcceptDrops(false);
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
    if (leavesForAnotherControl(event->reason()))
        emit left();
}

void TextBox::keyPressEvent(QKeyEvent *event)
{
    if (isEnterKey(*event))
        emit enterPressed();
    if (typesCharacter13(*event))
        emit carriageReturnTyped();
    QLineEdit::keyPressEvent(event);
}

// The window's drag and drop never offers a drop to a box that takes none;
// these refuse one delivered to the box all the same.
void TextBox::dragEnterEvent(QDragEnterEvent *event)
{
    event->ignore();
}

void TextBox::dragMoveEvent(QDragMoveEvent *event)
{
    event->ignore();
}

void TextBox::dropEvent(QDropEvent *event)
{
    event->ignore();
}

} // namespace veloxa::controls
