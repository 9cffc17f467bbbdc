// tessary: the benchmark in a window.

#include "engine/pi_benchmark.h"
#include "window/main.h"

extern "C" {
#include "resources.h"
}

int main(int argc, char **argv) {
    // The bundle registers itself at load time; registering it again is harmless.
    g_resources_register(tessary_get_resource());
    GtkApplication *app = gtk_application_new("com.tessary.gtk", G_APPLICATION_DEFAULT_FLAGS);
    g_signal_connect(app, "startup", G_CALLBACK(on_startup), nullptr);
    g_signal_connect(app, "activate", G_CALLBACK(activate), nullptr);
    const int status = g_application_run(G_APPLICATION(app), argc, argv);
    g_object_unref(app);
    pi_cleanup();
    return status;
}
