#include "cli/interrupt.h"

#include "cli/exit_status.h"

#include <atomic>
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
std::atomic<bool> handler_running{false};

void run_handler() {
    const std::lock_guard lock(handler_mutex);
    if (!current_handler) {
        _exit(exit_interrupted);
    }
    current_handler();
    handler_running = false;
}

// Each Ctrl-C is handled on a thread of its own, so that a second one still ends the program
// when the first one's handler cannot finish (its output blocked by a full pipe, say).
void take_interrupt() {
    if (handler_running.exchange(true)) {
        _exit(exit_interrupted);
    }
    try {
        std::thread(run_handler).detach();
    } catch (const std::exception &) {
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
                        take_interrupt();
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
