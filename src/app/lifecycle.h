#pragma once
// Start-up and shut-down of the panel.

#include "gui/window/form_main.h"

#include <functional>

namespace veloxa::app {

// "Rev:2.1.2": major, minor and revision of the program's version 2.1.0.2
// (on Windows, as its version resource gives them).
QString revisionText();

class Lifecycle {
public:
    // How long shut-down waits for the store's writes to reach the disk.
    static constexpr int kShutDownWaitMs = 5000;

    // endProgram runs last at shut-down; the program passes QCoreApplication::quit.
    Lifecycle(window::FormMain &form, settings::SettingsStore &store, std::function<void()> endProgram);

    // Show the window, revision, stored position, stored settings, the
    // channel's destination, contrast then gain, then the heartbeat timer.
    // A step that fails is skipped.
    void startUp();

    // Close the channel, store the six values, end. Runs once however often
    // it is asked (window closed, signal, end of the desktop session).
    void shutDown();

    // Runs first at shut-down, before anything else: the control endpoint
    // closes there, so that no request reaches a panel on its way out.
    void setFirstAtShutDown(std::function<void()> first) { m_firstAtShutDown = std::move(first); }

private:
    void restorePosition();
    void setDestination();

    window::FormMain &m_form;
    settings::SettingsStore &m_store;
    std::function<void()> m_endProgram;
    std::function<void()> m_firstAtShutDown;
    bool m_shutDown = false;
};

} // namespace veloxa::app
