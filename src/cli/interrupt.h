// Ctrl-C for a program whose computations cannot be cancelled: SIGINT is blocked in every
// thread and taken by a watcher thread, which runs the current handler in ordinary
// context, where it may lock, write and wake other threads.
#ifndef TESSARY_CLI_INTERRUPT_H
#define TESSARY_CLI_INTERRUPT_H

#include <functional>

constexpr int exit_interrupted = 130;

// Starts the watcher, once per process. Call before starting any other thread, which then
// inherits the blocked signal.
void watch_interrupts();

// What the next Ctrl-C does; without a handler the program exits with status 130.
void on_interrupt(std::function<void()> handler);

#endif
