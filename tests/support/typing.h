#pragma once
// Editing the panel's boxes the way a user does: the box takes the focus, the
// text is selected with Ctrl+A, and the new text goes in one key at a time, so
// every key is one change of the box and runs its rules.

#include "gui/controls/text_box.h"

#include <QString>
#include <QTest>
#include <QWidget>

namespace veloxa::test {

// Focus into the box, Ctrl+A, Delete, then the keys of `text`. The box is
// empty for a moment between the delete and the first key. False when the box
// did not get the focus (the window is not active), in which case nothing was
// typed.
[[nodiscard]] inline bool retype(controls::TextBox *box, const QString &text)
{
    box->setFocus(Qt::OtherFocusReason);
    if (!box->hasFocus())
        return false;
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Delete);
    QTest::keyClicks(box, text);
    return true;
}

// Focus into the box, Ctrl+A, then the keys of `text`: the first key replaces
// the selection, so the box is never empty on the way (unless `text` is
// empty, then the selection is deleted). For boxes that repair an empty text
// at once, such as the system clock.
[[nodiscard]] inline bool typeOver(controls::TextBox *box, const QString &text)
{
    box->setFocus(Qt::OtherFocusReason);
    if (!box->hasFocus())
        return false;
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    if (text.isEmpty())
        QTest::keyClick(box, Qt::Key_Delete);
    else
        QTest::keyClicks(box, text);
    return true;
}

// Moves the focus from whatever has it to `to`. False when `to` did not get it.
[[nodiscard]] inline bool moveFocusTo(QWidget *to)
{
    to->setFocus(Qt::OtherFocusReason);
    return to->hasFocus();
}

} // namespace veloxa::test
