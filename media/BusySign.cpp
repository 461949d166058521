#include "media/BusySign.h"

#include <QGuiApplication>
#include <QWindow>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#ifdef KURIMO_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace BusySign {

namespace {

// What the helper thread needs to put the busy cursor on the windows, gathered on the
// user-interface thread when a command starts.
struct Windows {
#ifdef KURIMO_HAVE_XCB
    xcb_connection_t *connection = nullptr;
    xcb_cursor_t cursor = 0;
    std::vector<xcb_window_t> ids;
#endif
};

Windows programWindows()
{
    Windows windows;
#ifdef KURIMO_HAVE_XCB
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                        : nullptr;
    if (!x11 || !x11->connection())
        return windows;
    windows.connection = x11->connection();
    static xcb_cursor_t watch = 0;
    if (!watch) {
        // The watch of the core cursor font: there on every X server, no theme needed.
        constexpr uint16_t kWatchGlyph = 150;
        const xcb_font_t font = xcb_generate_id(windows.connection);
        xcb_open_font(windows.connection, font, 6, "cursor");
        watch = xcb_generate_id(windows.connection);
        xcb_create_glyph_cursor(windows.connection, watch, font, font, kWatchGlyph,
                                kWatchGlyph + 1, 0, 0, 0, 0xFFFF, 0xFFFF, 0xFFFF);
        xcb_close_font(windows.connection, font);
    }
    windows.cursor = watch;
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        if (window->isVisible() && window->handle())
            windows.ids.push_back(xcb_window_t(window->winId()));
    }
#endif
    return windows;
}

void showOn(const Windows &windows)
{
#ifdef KURIMO_HAVE_XCB
    if (!windows.connection)
        return;
    for (const xcb_window_t id : windows.ids)
        xcb_change_window_attributes(windows.connection, id, XCB_CW_CURSOR, &windows.cursor);
    xcb_flush(windows.connection);
#else
    (void)windows;
#endif
}

void hide()
{
    // Qt puts every window's own cursor back when an override of its own goes.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    QGuiApplication::restoreOverrideCursor();
}

class Watcher {
public:
    ~Watcher()
    {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_changed.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

    void start()
    {
        if (m_depth++ > 0)
            return;
        {
            std::lock_guard lock(m_mutex);
            if (!m_thread.joinable())
                m_thread = std::thread([this] { run(); });
            m_windows = m_indicator ? Windows{} : programWindows();
            m_armed = true;
            m_since = std::chrono::steady_clock::now();
            ++m_generation;
        }
        m_changed.notify_all();
    }

    void end()
    {
        if (--m_depth > 0)
            return;
        bool shown = false;
        std::function<void(bool)> indicator;
        {
            std::lock_guard lock(m_mutex);
            m_armed = false;
            ++m_generation;
            shown = std::exchange(m_shown, false);
            indicator = m_indicator;
        }
        m_changed.notify_all();
        if (!shown)
            return;
        if (indicator)
            indicator(false);
        else
            hide();
    }

    void setIndicator(std::function<void(bool)> indicator)
    {
        std::lock_guard lock(m_mutex);
        m_indicator = std::move(indicator);
    }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        while (!m_quit) {
            m_changed.wait(lock, [this] { return m_quit || (m_armed && !m_shown); });
            if (m_quit)
                break;
            const quint64 generation = m_generation;
            if (m_changed.wait_until(lock, m_since + kDelay, [&] {
                    return m_quit || m_generation != generation;
                }))
                continue;
            // Still the same command, past the moment. Shown under the lock, so that the
            // command's end cannot slip in between and leave the sign up.
            m_shown = true;
            if (m_indicator)
                m_indicator(true);
            else
                showOn(m_windows);
        }
    }

    int m_depth = 0; // user-interface thread only
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::thread m_thread;
    bool m_quit = false;
    bool m_armed = false;
    bool m_shown = false;
    quint64 m_generation = 0;
    std::chrono::steady_clock::time_point m_since;
    Windows m_windows;
    std::function<void(bool)> m_indicator;
};

Watcher &watcher()
{
    static Watcher instance;
    return instance;
}

} // namespace

Command::Command()
{
    watcher().start();
}

Command::~Command()
{
    watcher().end();
}

void setIndicator(std::function<void(bool)> indicator)
{
    watcher().setIndicator(std::move(indicator));
}

} // namespace BusySign
