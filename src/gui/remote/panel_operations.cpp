#include "gui/remote/panel_operations.h"

#include "core/link/link_supervisor.h"
#include "gui/window/link_view.h"

#include <QCoreApplication>
#include <QKeyEvent>

#include <cmath>

namespace veloxa::remote {
namespace {

Error invalid(const QString &message)
{
    return Error{code::kInvalidParams, message};
}

std::variant<QString, Error> nameIn(const QJsonObject &params)
{
    const QJsonValue name = params.value(QLatin1String("name"));
    if (!name.isString())
        return invalid(QStringLiteral("\"name\" must be a control's name"));
    return name.toString();
}

// The boxes whose leaving has a rule, which a script's assignment then runs
// as when a user leaves the box.
bool hasLeaveRule(const QString &name)
{
    return name == QLatin1String("txtRampRate") || name == QLatin1String("txtRampStep")
        || name == QLatin1String("txtSysClk");
}

// A whole number in a JSON value, if it is one that fits an int.
std::optional<int> wholeNumber(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::floor(number) != number || std::fabs(number) > 1e9)
        return std::nullopt;
    return static_cast<int>(number);
}

} // namespace

PanelOperations::PanelOperations(const window::PanelControls &controls)
    : m_controls(controls)
    , m_boxes{{QStringLiteral("txtIP"), &controls.txtIP},
              {QStringLiteral("txtFreq"), &controls.txtFreq},
              {QStringLiteral("txtRampRate"), &controls.txtRampRate},
              {QStringLiteral("txtRampStep"), &controls.txtRampStep},
              {QStringLiteral("txtStopFreq"), &controls.txtStopFreq},
              {QStringLiteral("txtSysClk"), &controls.txtSysClk}}
    , m_buttons{{QStringLiteral("cmdHb"), &controls.cmdHb},
                {QStringLiteral("cmdDdsReg"), &controls.cmdDdsReg},
                {QStringLiteral("cmdUpdateFreq"), &controls.cmdUpdateFreq},
                {QStringLiteral("cmdRampStart"), &controls.cmdRampStart},
                {QStringLiteral("cmdRampStop"), &controls.cmdRampStop},
                {QStringLiteral("cmdSeqClear"), &controls.cmdSeqClear},
                {QStringLiteral("cmdSeqFreq"), &controls.cmdSeqFreq},
                {QStringLiteral("cmdSeqRamp"), &controls.cmdSeqRamp},
                {QStringLiteral("cmdSeqAdwin"), &controls.cmdSeqAdwin},
                {QStringLiteral("cmdSeqExecute"), &controls.cmdSeqExecute},
                {QStringLiteral("cmdSeqRestart"), &controls.cmdSeqRestart}}
    , m_sliders{{QStringLiteral("sldGain"), &controls.sldGain}, {QStringLiteral("sldContrast"), &controls.sldContrast}}
    , m_options{{QStringLiteral("optDdsPolarity"), &controls.optDdsPolarity},
                {QStringLiteral("optDdsPower"), &controls.optDdsPower}}
{
}

QJsonValue PanelOperations::controlState(const QString &name) const
{
    if (name == QLatin1String("txtPort"))
        return m_controls.txtPort.text();
    if (name == QLatin1String("lblLaserFreq"))
        return m_controls.lblLaserFreq.text();
    if (name == QLatin1String("lblRev"))
        return m_controls.lblRev.text();
    if (name == QLatin1String("cmdHb"))
        return m_controls.cmdHb.text();
    if (const controls::TextBox *box = m_boxes.value(name))
        return box->text();
    if (const controls::Slider *slider = m_sliders.value(name))
        return slider->value();
    if (const controls::OptionGroup *group = m_options.value(name))
        return group->selectedIndex();
    return QJsonValue(QJsonValue::Undefined);
}

const QStringList &PanelOperations::shownControls()
{
    static const QStringList names{
        QStringLiteral("txtIP"),        QStringLiteral("txtPort"),     QStringLiteral("txtFreq"),
        QStringLiteral("lblLaserFreq"), QStringLiteral("txtRampRate"), QStringLiteral("txtRampStep"),
        QStringLiteral("txtStopFreq"),  QStringLiteral("txtSysClk"),   QStringLiteral("cmdHb"),
        QStringLiteral("sldGain"),      QStringLiteral("sldContrast"), QStringLiteral("optDdsPolarity"),
        QStringLiteral("optDdsPower"),  QStringLiteral("lblRev")};
    return names;
}

QJsonObject PanelOperations::state() const
{
    QJsonObject controls;
    for (const QString &name : shownControls())
        controls.insert(name, controlState(name));
    return {{QStringLiteral("controls"), controls},
            {QStringLiteral("link"),
             QJsonObject{{QStringLiteral("heard"), window::backgroundOf(m_controls.txtIP) == window::kWhite}}},
            {QStringLiteral("heartbeat"), link::heartbeatIsOn(m_controls.cmdHb.text())}};
}

Outcome PanelOperations::carryOut(const QString &method, const QJsonObject &params)
{
    if (method == QLatin1String("get"))
        return QJsonValue(state());
    if (method == QLatin1String("set"))
        return set(params);
    if (method == QLatin1String("click"))
        return click(params);
    if (method == QLatin1String("enter"))
        return enter(params);
    return Error{code::kMethodNotFound, QStringLiteral("no method \"%1\"").arg(method)};
}

Outcome PanelOperations::set(const QJsonObject &params)
{
    const auto name = nameIn(params);
    if (const auto *error = std::get_if<Error>(&name))
        return *error;
    const QString &control = std::get<QString>(name);
    const QJsonValue value = params.value(QLatin1String("value"));

    if (controls::TextBox *box = m_boxes.value(control)) {
        if (!value.isString())
            return invalid(QStringLiteral("%1 takes a string").arg(control));
        box->assign(value.toString());
        if (hasLeaveRule(control))
            emit box->left(); // the rule a user's leaving the box runs
        return box->text();
    }
    if (controls::Slider *found = m_sliders.value(control)) {
        controls::Slider &slider = *found;
        const auto number = wholeNumber(value);
        if (!number)
            return invalid(QStringLiteral("%1 takes a whole number").arg(control));
        if (*number < slider.minimum() || *number > slider.maximum())
            return invalid(QStringLiteral("%1 takes %2..%3, not %4")
                               .arg(control)
                               .arg(slider.minimum())
                               .arg(slider.maximum())
                               .arg(*number));
        slider.assign(*number);
        return slider.value();
    }
    if (!controlState(control).isUndefined())
        return invalid(QStringLiteral("%1 cannot be set").arg(control));
    return invalid(QStringLiteral("no control named \"%1\"").arg(control));
}

Outcome PanelOperations::click(const QJsonObject &params)
{
    const auto name = nameIn(params);
    if (const auto *error = std::get_if<Error>(&name))
        return *error;
    const QString &control = std::get<QString>(name);

    if (QPushButton *button = m_buttons.value(control)) {
        button->click();
        return controlState(control).isUndefined() ? QJsonValue(true) : controlState(control);
    }
    if (controls::OptionGroup *found = m_options.value(control)) {
        controls::OptionGroup &group = *found;
        const auto index = wholeNumber(params.value(QLatin1String("index")));
        if (!index || *index < 0 || *index >= group.count())
            return invalid(QStringLiteral("%1 takes an \"index\" 0..%2").arg(control).arg(group.count() - 1));
        group.option(*index)->click(); // as a user's click: the group's click handling runs
        return group.selectedIndex();
    }
    if (!controlState(control).isUndefined())
        return invalid(QStringLiteral("%1 cannot be clicked").arg(control));
    return invalid(QStringLiteral("no control named \"%1\"").arg(control));
}

Outcome PanelOperations::enter(const QJsonObject &params)
{
    const auto name = nameIn(params);
    if (const auto *error = std::get_if<Error>(&name))
        return *error;
    const QString &control = std::get<QString>(name);
    controls::TextBox *box = nullptr;
    if (control == QLatin1String("txtFreq"))
        box = &m_controls.txtFreq;
    else if (control == QLatin1String("txtStopFreq"))
        box = &m_controls.txtStopFreq;
    if (!box)
        return invalid(QStringLiteral("Enter acts only in txtFreq and txtStopFreq, not in \"%1\"").arg(control));
    // The key itself, so that the box does with it what it does with a user's.
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QCoreApplication::sendEvent(box, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QCoreApplication::sendEvent(box, &release);
    return box->text();
}

} // namespace veloxa::remote
