#pragma once

#include <QLineEdit>

namespace veloxa::controls {

// A one-line box with the change semantics the panel relies on:
// - changed() comes on every user edit and on every assign(), also when the
//   assigned text equals the text the box holds; an assign() from inside a
//   changed() handler runs the handling again at once, nested;
// - the character limit binds only what the user types or pastes, never a
//   text assigned by the program;
// - focusLost() comes when the box loses the focus (also when the window is
//   deactivated), before the clicked control's own event;
// - enterPressed() comes for Return and keypad Enter with any modifiers; the
//   key then goes on to the box unchanged.
class TextBox : public QLineEdit {
    Q_OBJECT
public:
    explicit TextBox(const QString &text = {}, QWidget *parent = nullptr);

    void assign(const QString &text);

    // 0: no limit.
    void setCharacterLimit(int limit);
    int characterLimit() const { return m_limit; }
    // The text before the edit now being made (the text itself while no edit runs).
    const QString &textBeforeEdit() const { return m_textBeforeEdit; }
    // True while the program assigns a text, which no limit may refuse.
    bool assigning() const { return m_assigning; }

signals:
    void changed();
    void focusLost();
    void enterPressed();

protected:
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    int m_limit = 0;
    QString m_textBeforeEdit;
    bool m_assigning = false;
};

} // namespace veloxa::controls
