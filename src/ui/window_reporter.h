#pragma once

#include <string_view>

#include "ui/progress_window.h"
#include "ui/prompts.h"
#include "ui/window_support.h"
#include "usb/protocol_ports.h"

namespace qk750 {

// The programming run's reports in the windows: error boxes, the connect question and
// the progress window.
class WindowReporter : public ProtocolReporter {
public:
    explicit WindowReporter(Prompts& prompts) : m_prompts(prompts) {}
    void setProgressWindow(ProgressWindow* progress) { m_progress = progress; }

    // The program is ending at the operator's word: nobody is left to read a report, and
    // the run is not to go on.
    void setSilent(bool silent) { m_silent = silent; }

    // Whether the progress window has been shown since the last clear.
    bool progressShown() const { return m_progressShown; }
    void clearProgressShown() { m_progressShown = false; }

    void failure(std::string_view, std::string_view, std::string_view message) override {
        if (!m_silent) {
            m_prompts.error(latin1(message));
        }
    }
    bool askToConnect(std::string_view message) override {
        return !m_silent && m_prompts.errorOkCancel(latin1(message));
    }
    void progressStart(int maximum) override {
        if (m_progress != nullptr) {
            m_progress->setEnabled(false);
            m_progress->setRange(maximum, 1);
            m_progress->setEnabled(true);
        }
    }
    void progressStep(int position, int) override {
        if (m_progress != nullptr) {
            m_progress->setPosition(position);
            if (!m_progress->isVisible()) {
                m_progressShown = true;
                m_progress->show();
                m_progress->raise();
            }
        }
    }
    void progressHide() override {
        if (m_progress != nullptr) {
            m_progress->hide();
        }
    }

private:
    Prompts& m_prompts;
    ProgressWindow* m_progress = nullptr;
    bool m_silent = false;
    bool m_progressShown = false;
};

}  // namespace qk750
