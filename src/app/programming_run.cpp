#include "app/programming_run.h"

#include "app/error_file.h"
#include "app/image_errors.h"

namespace qk750 {

ProgrammingRun::ProgrammingRun(ProgramState& state, ProgrammingProtocol& protocol,
                               ProtocolReporter& reporter, ProgrammingHooks hooks)
    : m_state(state), m_protocol(protocol), m_reporter(reporter), m_hooks(std::move(hooks)) {}

bool ProgrammingRun::buildImage(DeviceImage& image, int& setupSize) {
    if (m_hooks.collectMcrSettings) {
        m_hooks.collectMcrSettings();
    }
    const ImageResult result = BuildDeviceImage(m_state.Setup, image);
    setupSize = result.setupSize;
    if (!result.ok()) {
        const bool keyTooLong = result.error == ImageError::KeyTooLong;
        if (keyTooLong && m_hooks.selectKey) {
            m_hooks.selectKey(result.key);
        }
        const ImageFailureReport report = describeImageFailure(result, m_state.SetupFileName);
        m_reporter.failure(report.code, report.detail, report.message);
        if (keyTooLong && m_hooks.focusGrid) {
            m_hooks.focusGrid();
        }
        return false;
    }
    if (m_hooks.statusText && m_hooks.setStatusText) {
        m_hooks.setStatusText(withoutSetupSizeNote(m_hooks.statusText()) +
                              setupSizeNote(setupSize));
    }
    return true;
}

void ProgrammingRun::StartProgramming() {
    m_state.ProgrammingOk = false;
    if (m_busy) {
        return;
    }
    m_busy = true;
    if (m_hooks.collectMcrSettings) {
        m_hooks.collectMcrSettings();
    }
    m_protocol.PauseBeforeProgramming();
    const bool ok = m_protocol.ProgramKeyboard(
        [this](DeviceImage& image, int& setupSize) { return buildImage(image, setupSize); });
    if (ok) {
        if (m_hooks.beep) {
            m_hooks.beep();
        }
        m_state.ProgrammingOk = true;
        if (m_hooks.completed) {
            m_hooks.completed();
        } else if (m_state.BatchMode) {
            if (m_hooks.writeOutcome) {
                m_hooks.writeOutcome(kOutcomeOk, m_state.SetupFileName);
            }
        } else if (m_hooks.showInformation) {
            m_hooks.showInformation(kProgrammingCompletedText);
        }
    }
    if (m_hooks.statusText && m_hooks.setStatusText) {
        const std::string text = m_hooks.statusText();
        const std::string without = withoutSetupSizeNote(text);
        if (without != text) {
            m_hooks.setStatusText(without);
        }
    }
    m_busy = false;
}

}  // namespace qk750
