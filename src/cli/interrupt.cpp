#include "cli/interrupt.h"

#include "cli/exit_status.h"

#include <csignal>
#include <exception>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

// Held while a handler runs, so that replacing it waits for it.
std::mutex handler_mutex;
std::function<void()> current_handler;

void run_handler() {
    const std::lock_guard lock(handler_mutex);
    if (current_handler) {
        current_handler();
    } else {
        _exit(exit_interrupted);
    }
}

} // namespace

void watch_interrupts() {
    static std::once_flag started;
    std::call_once(started, [] {
        sigset_t interrupt;
        sigemptyset(&interrupt);
        sigaddset(&interrupt, SIGINT);
        pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
        try {
            std::thread([interrupt] {
                for (;;) {
                    int signal = 0;
                    if (sigwait(&interrupt, &signal) == 0) {
                        run_handler();
                    }
                }
            }).detach();
        } catch (const std::exception &) {
            // Without a watcher (no memory for it or its stack), Ctrl-C ends the program the
            // default way.
            pthread_sigmask(SIG_UNBLOCK, &interrupt, nullptr);
        }
    });
}

interrupt_handler::interrupt_handler(std::function<void()> handler) {
    const std::lock_guard lock(handler_mutex);
    outer = std::exchange(current_handler, std::move(handler));
}

interrupt_handler::~interrupt_handler() {
    const std::lock_guard lock(handler_mutex);
    current_handler = std::move(outer);
}
