#include "gui/controls/option_group.h"

#include <QScopedValueRollback>

namespace veloxa::controls {

OptionGroup::OptionGroup(QObject *parent)
    : QObject(parent)
{
    m_group.setExclusive(true);
    connect(&m_group, &QButtonGroup::idClicked, this, &OptionGroup::clicked);
    connect(&m_group, &QButtonGroup::idToggled, this, &OptionGroup::toggled);
    // Every click, by mouse, key or animateClick(), runs pressed(), the change
    // of the selection, released(), then clicked(): a selection outside that
    // bracket was not made by a click.
    connect(&m_group, &QButtonGroup::idPressed, this, [this](int index) { m_clickInProgress = index; });
    connect(&m_group, &QButtonGroup::idReleased, this, [this](int) { m_clickInProgress = -1; });
}

QRadioButton *OptionGroup::addOption(const QString &caption, QWidget *parent)
{
    auto *button = new QRadioButton(caption, parent);
    m_group.addButton(button, static_cast<int>(m_options.size()));
    m_options.append(button);
    updateTabStops();
    return button;
}

void OptionGroup::select(int index)
{
    const QScopedValueRollback<bool> selecting(m_selecting, true);
    if (QRadioButton *button = option(index))
        button->setChecked(true);
}

void OptionGroup::toggled(int index, bool checked)
{
    updateTabStops();
    if (checked && !m_selecting && m_clickInProgress != index)
        emit clicked(index);
}

int OptionGroup::selectedIndex() const
{
    return m_group.checkedId();
}

void OptionGroup::updateTabStops()
{
    for (QRadioButton *button : m_options)
        button->setFocusPolicy(button->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
}

} // namespace veloxa::controls
