#include "app/lifecycle.h"

#include "app/version.h"
#include "core/rules/restore_checks.h"
#include "gui/window/restore.h"
#include "gui/window/window_position.h"

#include <cmath>

#ifdef Q_OS_WIN
#include <string>
#include <vector>
#include <windows.h>
#endif

namespace veloxa::app {

using window::acceptedPosition;
using window::currentScreens;
using window::restoredTopLeft;
using window::restoreSettings;
using window::ScreenFacts;
using window::StoredPosition;

namespace {

struct Revision {
    int major = kVersionMajor;
    int minor = kVersionMinor;
    int revision = kVersionRevision;
};

// The built-in numbers; on Windows those of the version resource of the
// program file itself (its file version a.b.c.d: a, b and d), as the file's
// properties show them, where it has one.
Revision programRevision()
{
    Revision numbers;
#ifdef Q_OS_WIN
    std::wstring path(MAX_PATH, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    if (length == 0 || length >= path.size())
        return numbers;
    path.resize(length);
    DWORD unused = 0;
    std::vector<char> resource(::GetFileVersionInfoSizeW(path.c_str(), &unused));
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT fixedSize = 0;
    if (!resource.empty() && ::GetFileVersionInfoW(path.c_str(), 0, DWORD(resource.size()), resource.data())
        && ::VerQueryValueW(resource.data(), L"\\", reinterpret_cast<void **>(&fixed), &fixedSize)
        && fixedSize >= sizeof(VS_FIXEDFILEINFO) && fixed->dwSignature == VS_FFI_SIGNATURE) {
        numbers.major = HIWORD(fixed->dwFileVersionMS);
        numbers.minor = LOWORD(fixed->dwFileVersionMS);
        numbers.revision = LOWORD(fixed->dwFileVersionLS);
    }
#endif
    return numbers;
}

} // namespace

QString revisionText()
{
    const Revision numbers = programRevision();
    return QStringLiteral("Rev:%1.%2.%3").arg(numbers.major).arg(numbers.minor).arg(numbers.revision);
}

Lifecycle::Lifecycle(window::FormMain &form, settings::SettingsStore &store, std::function<void()> endProgram)
    : m_form(form)
    , m_store(store)
    , m_endProgram(std::move(endProgram))
{
    QObject::connect(&form, &window::FormMain::unloading, [this] { shutDown(); });
}

void Lifecycle::startUp()
{
    m_form.show();
    m_form.controls().lblRev.setText(revisionText());
    m_form.controls().lblRev.adjustSize();
    restorePosition();
    restoreSettings(m_form, m_store);
    setDestination();
    m_form.lockControls().contrastChange();
    m_form.lockControls().gainChange();
    m_form.controls().tmrHB.start();
}

void Lifecycle::restorePosition()
{
    const ScreenFacts screens = currentScreens();
    const QRect frame = m_form.frameGeometry();
    const StoredPosition stored = acceptedPosition(m_store, screens, frame.size());
    if (!stored.left && !stored.top)
        return;
    m_form.move(restoredTopLeft(frame, stored, screens.screens));
}

void Lifecycle::setDestination()
{
    if (const auto port = rules::destinationPort(m_form.controls().txtPort.text()))
        m_form.Enet.setDestination(m_form.controls().txtIP.text(), *port);
}

void Lifecycle::shutDown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;

    if (m_firstAtShutDown)
        m_firstAtShutDown();
    m_form.Enet.close();
    const double twipsPerPixel = currentScreens().twipsPerPixel;
    const QPoint position = m_form.frameGeometry().topLeft();
    m_store.write(settings::names::Left, QString::number(std::lround(position.x() * twipsPerPixel)));
    m_store.write(settings::names::Top, QString::number(std::lround(position.y() * twipsPerPixel)));
    m_store.write(settings::names::IpAddress, m_form.controls().txtIP.text());
    m_store.write(settings::names::Frequency, m_form.controls().txtFreq.text());
    m_store.write(settings::names::SystemClock, m_form.controls().txtSysClk.text());
    m_store.write(settings::names::Polarity,
                  m_form.controls().optDdsPolarity.isSelected(0) ? QStringLiteral("True") : QStringLiteral("False"));
    // A store that writes in the background gets a bounded time to put
    // everything on the disk; a disk that does not answer cannot keep the
    // panel from ending.
    m_store.waitForWrites(kShutDownWaitMs);
    m_form.controls().tmrHB.stop();
    m_form.detachHandlers();
    if (m_endProgram)
        m_endProgram();
}

} // namespace veloxa::app
