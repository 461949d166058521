#include "shell/PlayToggle.h"

#include "shell/Controls.h"
#include "shell/frmMain.h"

PlayToggle::PlayToggle(frmMain &panel) : m_panel(panel)
{
    connect(m_panel.Command1, &QAbstractButton::clicked, this, [this] { m_reverseLast = false; });
    connect(m_panel.Command15, &QAbstractButton::clicked, this, [this] { m_reverseLast = true; });
}

PanelButton *PlayToggle::button() const
{
    const PlayerState &s = m_panel.state;
    const bool reverse = s.ReversePlayState == 1 || (s.ReversePlayState == 2 && m_reverseLast);
    return reverse ? m_panel.Command15 : m_panel.Command1;
}
