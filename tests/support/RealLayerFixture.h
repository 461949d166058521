#pragma once

#include "media/InterpreterChannel.h"
#include "media/InterpreterControl.h"
#include "platform/video/Registration.h"
#include "platform/video/audio/AudioTrack.h"
#include "platform/mci/Interpreter.h"
#include "platform/windowing/CommonDialog.h"
#include "shell/Controls.h"
#include "shell/frmMain.h"
#include "tests/support/FixedScreen.h"
#include "tests/support/RecordingMessages.h"

#include <gtest/gtest.h>

// The loaded panel in front of the real multimedia layer and video device, silent, headless.
// The open dialog answers with path; every error the layer reports lands in layerErrors.
class RealLayerFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        video::setSilentAudioOnly(true);
        video::registerVideoDevice(interpreter);
        interpreter.setErrorReporter([this](const QString &command, const QString &message) {
            layerErrors << command + QLatin1String(" -> ") + message;
        });
        windowing::CommonDialog::setResponder(
            [this](const windowing::CommonDialog::Request &) { return path; });
        panel.Form_Load();
    }

    void TearDown() override
    {
        windowing::CommonDialog::setResponder({});
        video::setSilentAudioOnly(false);
    }

    FixedScreen screen;
    RecordingMessages messages;
    QString path;
    QStringList layerErrors;
    mci::Interpreter interpreter;
    InterpreterChannel channel{interpreter};
    InterpreterControl control{interpreter};
    frmMain panel{channel, control};
};
