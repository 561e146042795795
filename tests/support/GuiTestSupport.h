#pragma once
// Helpers for tests that drive real windows under Xvfb: let the loop run until something is true,
// and save what the test checked as a PNG for people to look at.

#include <wx/app.h>
#include <wx/image.h>
#include <wx/bitmap.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/toplevel.h>
#include <wx/uiaction.h>
#include <wx/utils.h>
#include <wx/window.h>

#include <dlfcn.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#ifndef QUILMER_BINARY_DIR
#define QUILMER_BINARY_DIR "."
#endif

namespace quilmer::test {

// Runs pending events for about ms milliseconds.
inline void PumpEvents(int ms = 50) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    do {
        wxTheApp->ProcessPendingEvents();
        wxYield();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < end);
}

// Runs the loop until done() holds or timeoutMs passes; returns done()'s last answer. The limit is
// generous on purpose: it only bounds a failure, it does not measure speed.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return done();
        wxTheApp->ProcessPendingEvents();
        wxYield();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The folder screenshots go to: build/test-output/screenshots/.
inline std::filesystem::path ScreenshotFolder() {
    std::filesystem::path folder = std::filesystem::path(QUILMER_BINARY_DIR) / "test-output" / "screenshots";
    std::filesystem::create_directories(folder);
    return folder;
}

// The screen's pixels in rect, read afresh. On GTK 3 a wxScreenDC blit returns the screen as it was at
// the first blit of the process, so the root window is read through GDK (already loaded by wx).
inline wxBitmap GrabScreen(const wxRect& rect) {
#ifdef __WXGTK__
    using RootFn = void* (*)();
    using GrabFn = void* (*)(void*, int, int, int, int);
    static auto root = reinterpret_cast<RootFn>(::dlsym(RTLD_DEFAULT, "gdk_get_default_root_window"));
    static auto grab = reinterpret_cast<GrabFn>(::dlsym(RTLD_DEFAULT, "gdk_pixbuf_get_from_window"));
    if (root && grab && rect.width > 0 && rect.height > 0)
        if (void* pixbuf = grab(root(), rect.x, rect.y, rect.width, rect.height))
            return wxBitmap(static_cast<GdkPixbuf*>(pixbuf));  // the bitmap takes the pixbuf over
#endif
    wxBitmap bitmap(rect.width > 0 ? rect.width : 1, rect.height > 0 ? rect.height : 1);
    wxScreenDC screen;
    wxMemoryDC memory(bitmap);
    memory.Blit(0, 0, rect.width, rect.height, &screen, rect.x, rect.y);
    return bitmap;
}

// Saves the window's screen rectangle (frame included for top-level windows) as <name>.png.
inline std::filesystem::path SaveScreenshot(wxWindow* window, const std::string& name) {
    PumpEvents(150);
    window->Update();
    wxBitmap bitmap = GrabScreen(window->GetScreenRect());
    std::filesystem::path file = ScreenshotFolder() / (name + ".png");
    bitmap.SaveFile(wxString::FromUTF8(file.string()), wxBITMAP_TYPE_PNG);
    return file;
}

// Moves the pointer to the centre of a control and clicks it, as a user would.
inline void ClickCentre(wxWindow* control) {
    wxUIActionSimulator sim;
    wxRect r = control->GetScreenRect();
    sim.MouseMove(r.x + r.width / 2, r.y + r.height / 2);
    PumpEvents(30);
    sim.MouseClick();
    PumpEvents(80);
}

}  // namespace quilmer::test
