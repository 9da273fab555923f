#pragma once

#include <QLineEdit>

#include <optional>

namespace veloxa::controls {

// A one-line box with the change semantics the panel relies on:
// - changed() comes on every user edit and on every assign(), also when the
//   assigned text equals the text the box holds; an assign() from inside a
//   changed() handler runs the handling again at once, nested;
// - the character limit binds only what the user types or pastes, never a
//   text assigned by the program; a paste longer than the room left puts in
//   the part that fits;
// - left() comes when the focus goes from the box to another control of its
//   window (Tab, Shift+Tab, a click, a shortcut, the program), before that
//   control's own event. The window losing the activation (another program,
//   minimising) or a popup such as the box's context menu taking the focus is
//   not leaving the box: the box gets the focus back with its text as it was;
// - enterPressed() comes for Return and keypad Enter with any modifiers;
//   carriageReturnTyped() for every key that types character 13: Return or
//   Enter alone or with Shift (with Ctrl they type a line feed, with Alt
//   nothing), and Ctrl+M, with or without Shift, as in a terminal. The key
//   then goes on to the box unchanged;
// - nothing dropped on the box changes it: a drop would change the text while
//   the focus stays in another box, and the rules of that box would never
//   see it leave. Typing and pasting (keyboard, context menu, middle click)
//   stay as they are.
class TextBox : public QLineEdit {
    Q_OBJECT
public:
    explicit TextBox(const QString &text = {}, QWidget *parent = nullptr);

    void assign(const QString &text);
    // Assigns a rule's correction, if it made one; nothing otherwise.
    void correct(const std::optional<QString> &corrected)
    {
        if (corrected)
            assign(*corrected);
    }

    // 0: no limit.
    void setCharacterLimit(int limit);
    int characterLimit() const { return m_limit; }
    // The text before the edit now being made (the text itself while no edit runs).
    const QString &textBeforeEdit() const { return m_textBeforeEdit; }
    // True while the program assigns a text, which no limit may refuse.
    bool assigning() const { return m_assigning; }

signals:
    void changed();
    void left();
    void enterPressed();
    void carriageReturnTyped();

protected:
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    int m_limit = 0;
    QString m_textBeforeEdit;
    bool m_assigning = false;
};

// True for a focus loss that moves the focus to another control of the same
// window, false for one caused by deactivating the window or opening a popup.
bool leavesForAnotherControl(Qt::FocusReason reason);

// True for Return or keypad Enter, with or without modifiers.
bool isEnterKey(const QKeyEvent &event);

// True for an Enter key that types a carriage return: no Ctrl, Alt or Meta.
bool typesCarriageReturn(const QKeyEvent &event);

// True for every key that types character 13: such an Enter key, or Ctrl+M
// (Shift allowed; Alt or Meta type no control character).
bool typesCharacter13(const QKeyEvent &event);

} // namespace veloxa::controls
