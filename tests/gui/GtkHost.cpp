// A GTK 3 application as the data source's host: its own window and main
// loop on the main thread, and a worker that opens the source, enables it
// with its dialog shown, waits while KIVDS_UI_SCRIPT presses capture, checks
// that the dialog is a window on the display, ends the transfer and closes.
// Exit status 0 when all of that worked and GTK kept running.
#include <dlfcn.h>
#include <gtk/gtk.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "support/DsHost.h"

// After DsHost.h: Xlib defines Status as a macro.
#include <X11/Xlib.h>

namespace {

std::atomic<int> g_result{1};
std::atomic<int> g_ticks{0};

int Fail(const char* what) {
    std::fprintf(stderr, "gtk host: %s\n", what);
    return 1;
}

// The dialog's window, by its title, on the display.
bool DialogOnScreen() {
    return std::system("xwininfo -root -tree | grep -q 'TWAIN Driver for Orvan Document Camera'") == 0;
}

int Acquire() {
    kivtest::DsHost host;
    if (!host.Loaded()) return Fail("kivds.ds did not load");
    if (host.OpenDS() != twain::TWRC_SUCCESS) return Fail("MSG_OPENDS failed");
    const int ticksAtEnable = g_ticks.load();
    if (host.EnableUi() != twain::TWRC_SUCCESS) return Fail("MSG_ENABLEDS with ShowUI failed");
    if (!host.WaitForNotification(twain::MSG_XFERREADY)) return Fail("no MSG_XFERREADY from the dialog");
    if (!DialogOnScreen()) return Fail("the dialog is not a window on the display");
    // GTK's loop kept turning while the source's dialog was up.
    if (g_ticks.load() <= ticksAtEnable) return Fail("the host's main loop stalled");
    twain::TW_UINT16 count = 0;
    if (host.EndXfer(&count) != twain::TWRC_SUCCESS) return Fail("MSG_ENDXFER failed");
    if (host.DisableDS() != twain::TWRC_SUCCESS) return Fail("MSG_DISABLEDS failed");
    if (host.CloseDS() != twain::TWRC_SUCCESS) return Fail("MSG_CLOSEDS failed");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "GTK host");
    gtk_container_add(GTK_CONTAINER(window), gtk_label_new("host application"));
    gtk_widget_show_all(window);
    g_timeout_add(
        50,
        [](gpointer) -> gboolean {
            ++g_ticks;
            return G_SOURCE_CONTINUE;
        },
        nullptr);
    g_timeout_add_seconds(
        90,
        [](gpointer) -> gboolean {
            std::fprintf(stderr, "gtk host: timed out\n");
            std::_Exit(2);
        },
        nullptr);

    std::thread worker([] {
        g_result = Acquire();
        g_idle_add(
            [](gpointer) -> gboolean {
                gtk_main_quit();
                return G_SOURCE_REMOVE;
            },
            nullptr);
    });
    gtk_main();
    worker.join();
    gtk_widget_destroy(window);
    if (g_result.load() != 0) return g_result.load();

    // The application let the source go, but its toolkit's handlers stay in
    // Xlib: an X error now must still find them (the module stays mapped).
    const char* path = std::getenv("KIVDS_DS_PATH");
    if (!path || !dlopen(path, RTLD_LAZY | RTLD_NOLOAD)) return Fail("kivds.ds was unloaded after its dialog ran");
    Display* display = XOpenDisplay(nullptr);
    if (!display) return Fail("no display");
    XUnmapWindow(display, 0x1fffffff);  // BadWindow, to the process's error handler
    XSync(display, False);
    XCloseDisplay(display);
    return 0;
}
