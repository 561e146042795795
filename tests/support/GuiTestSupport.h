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

// The screen's pixels in rect, read from the X server through GDK (XGetImage of the root window,
// children included). wxScreenDC on GTK 3 can hand back a stale picture of the screen, so it is
// only the fallback. GDK is already loaded by wx; its functions are looked up, not linked.
inline wxBitmap GrabScreen(const wxRect& rect) {
    using RootFn = void* (*)();
    using GrabFn = void* (*)(void*, int, int, int, int);
    using PixelsFn = unsigned char* (*)(const void*);
    using IntFn = int (*)(const void*);
    using UnrefFn = void (*)(void*);
    auto root = reinterpret_cast<RootFn>(dlsym(RTLD_DEFAULT, "gdk_get_default_root_window"));
    auto grab = reinterpret_cast<GrabFn>(dlsym(RTLD_DEFAULT, "gdk_pixbuf_get_from_window"));
    auto pixels = reinterpret_cast<PixelsFn>(dlsym(RTLD_DEFAULT, "gdk_pixbuf_get_pixels"));
    auto stride = reinterpret_cast<IntFn>(dlsym(RTLD_DEFAULT, "gdk_pixbuf_get_rowstride"));
    auto channels = reinterpret_cast<IntFn>(dlsym(RTLD_DEFAULT, "gdk_pixbuf_get_n_channels"));
    auto unref = reinterpret_cast<UnrefFn>(dlsym(RTLD_DEFAULT, "g_object_unref"));
    if (root && grab && pixels && stride && channels && unref) {
        if (void* pixbuf = grab(root(), rect.x, rect.y, rect.width, rect.height)) {
            wxImage image(rect.width, rect.height, false);
            const unsigned char* data = pixels(pixbuf);
            const int rowStride = stride(pixbuf);
            const int step = channels(pixbuf);
            unsigned char* out = image.GetData();
            for (int y = 0; y < rect.height; ++y)
                for (int x = 0; x < rect.width; ++x) {
                    const unsigned char* p = data + y * rowStride + x * step;
                    unsigned char* q = out + (y * rect.width + x) * 3;
                    q[0] = p[0];
                    q[1] = p[1];
                    q[2] = p[2];
                }
            unref(pixbuf);
            return wxBitmap(image);
        }
    }
    wxBitmap bitmap(rect.width, rect.height);
    wxScreenDC screen;
    wxMemoryDC memory(bitmap);
    memory.Blit(0, 0, rect.width, rect.height, &screen, rect.x, rect.y);
    return bitmap;
}

// Saves the window's screen rectangle (frame included for top-level windows) as <name>.png.
inline std::filesystem::path SaveScreenshot(wxWindow* window, const std::string& name) {
    PumpEvents(150);
    window->Update();
    wxRect rect = window->GetScreenRect();
    rect.width = rect.width > 0 ? rect.width : 1;
    rect.height = rect.height > 0 ? rect.height : 1;
    wxBitmap bitmap = GrabScreen(rect);
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
