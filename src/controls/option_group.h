#pragma once

#include <QButtonGroup>
#include <QList>
#include <QObject>
#include <QRadioButton>

namespace veloxa::controls {

// An option-button array: one name, options told apart by their index.
// clicked(index) comes for a user's click by mouse or by the arrow keys, also
// on the option already selected; select() from code emits nothing.
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

    QButtonGroup m_group;
    QList<QRadioButton *> m_options;
};

} // namespace veloxa::controls
