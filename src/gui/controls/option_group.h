#pragma once

#include <QButtonGroup>
#include <QList>
#include <QObject>
#include <QRadioButton>

namespace veloxa::controls {

// An option-button array: one name, options told apart by their index.
// clicked(index) comes for every selection a user makes: a click by mouse,
// the arrow keys or Space (also on the option already selected), and an
// option checked in any other way but by the program, such as the toggle
// action of the accessibility bus that screen readers and voice control use.
// select() from code emits nothing.
//
// The group is one tab stop, and Tab or Shift+Tab into it lands on the
// selected option: only that option takes tab focus, the others take focus
// by click or arrow key only.
class OptionGroup : public QObject {
    Q_OBJECT
public:
    explicit OptionGroup(QObject *parent = nullptr);

    // Options are added in index order.
    QRadioButton *addOption(const QString &caption, QWidget *parent);

    void select(int index);
    int selectedIndex() const;
    bool isSelected(int index) const { return selectedIndex() == index; }
    QRadioButton *option(int index) const { return m_options.value(index); }
    int count() const { return static_cast<int>(m_options.size()); }

signals:
    void clicked(int index);

private:
    void updateTabStops();
    void toggled(int index, bool checked);

    QButtonGroup m_group;
    QList<QRadioButton *> m_options;
    bool m_selecting = false; // select() is running
    int m_clickInProgress = -1; // the option between its pressed() and released()
};

} // namespace veloxa::controls
