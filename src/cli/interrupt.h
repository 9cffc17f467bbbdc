// Ctrl-C for a program whose computations cannot be cancelled: SIGINT is blocked in every
// thread and taken by a watcher thread, which runs the current handler in ordinary
// context, where it may lock, write and wake other threads.
#ifndef TESSARY_CLI_INTERRUPT_H
#define TESSARY_CLI_INTERRUPT_H

#include <functional>

// Starts the watcher, once per process. Call before starting any other thread, which then
// inherits the blocked signal.
void watch_interrupts();

// What Ctrl-C does while this lives; without one the program exits with status 130, as it
// does at once on a Ctrl-C that comes while a handler runs. The handler may use what outlives
// this: its end waits for a handler that is running.
class interrupt_handler {
  public:
    explicit interrupt_handler(std::function<void()> handler);
    interrupt_handler(const interrupt_handler &) = delete;
    interrupt_handler &operator=(const interrupt_handler &) = delete;
    ~interrupt_handler();

  private:
    std::function<void()> outer;
};

#endif
