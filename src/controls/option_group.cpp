#include "controls/option_group.h"

namespace veloxa::controls {

OptionGroup::OptionGroup(QObject *parent)
    : QObject(parent)
{
    m_group.setExclusive(true);
    connect(&m_group, &QButtonGroup::idClicked, this, &OptionGroup::clicked);
    connect(&m_group, &QButtonGroup::idToggled, this, [this](int, bool) { updateTabStops(); });
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
    if (QRadioButton *button = option(index))
        button->setChecked(true);
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
