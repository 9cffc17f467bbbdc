#include "main_test_doubles.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <pthread.h>

// --- The engine: the benchmark reports its scripted steps at once ---

namespace {

std::mutex engine_mutex;
std::condition_variable engine_released;
fake_engine::script current_script;
bool released = false;
int started_count = 0;
int finished_count = 0;
fake_engine::call latest_call{};

} // namespace

namespace fake_engine {

void set_script(script next) {
    std::lock_guard lock(engine_mutex);
    current_script = std::move(next);
    released = false;
    started_count = 0;
    finished_count = 0;
}

void release() {
    {
        std::lock_guard lock(engine_mutex);
        released = true;
    }
    engine_released.notify_all();
}

int started() {
    std::lock_guard lock(engine_mutex);
    return started_count;
}

int finished() {
    std::lock_guard lock(engine_mutex);
    return finished_count;
}

call last_call() {
    std::lock_guard lock(engine_mutex);
    return latest_call;
}

} // namespace fake_engine

extern "C" void pi_calculate_5x8m(pi_result *result, pi_progress_callback callback,
                                  void *user_data) {
    std::memset(result, 0, sizeof *result);
    fake_engine::script script;
    {
        std::unique_lock lock(engine_mutex);
        ++started_count;
        latest_call = {result, user_data, std::this_thread::get_id()};
        script = current_script;
        if (script.hold) {
            engine_released.wait(lock, [] { return released; });
        }
    }
    for (int step : script.steps) {
        callback(step, 0, user_data, 0.0);
    }
    *result = script.result;
    std::lock_guard lock(engine_mutex);
    ++finished_count;
}

// The real engine's step count of the benchmark (checked in the engine's own tests).
extern "C" int pi_benchmark_steps(void) {
    return 95;
}

// --- malloc and free: every block is remembered until it is freed ---

extern "C" void *__real_malloc(std::size_t size);
extern "C" void __real_free(void *block);

namespace {

struct heap_book {
    std::mutex mutex;
    std::map<void *, std::size_t> live;
    std::map<std::size_t, int> allocated;
};

// Built on first use; its own nodes come from operator new, which is not wrapped.
heap_book &book() {
    static heap_book *instance = new heap_book;
    return *instance;
}

} // namespace

std::atomic<std::size_t> refused_size{0};

extern "C" void *__wrap_malloc(std::size_t size) {
    std::size_t refused = size;
    if (size != 0 && refused_size.compare_exchange_strong(refused, 0)) {
        return nullptr;
    }
    void *block = __real_malloc(size);
    if (block) {
        heap_book &b = book();
        std::lock_guard lock(b.mutex);
        b.live[block] = size;
        ++b.allocated[size];
    }
    return block;
}

extern "C" void __wrap_free(void *block) {
    if (block) {
        heap_book &b = book();
        std::lock_guard lock(b.mutex);
        b.live.erase(block);
    }
    __real_free(block);
}

namespace heap_records {

void reset() {
    heap_book &b = book();
    std::lock_guard lock(b.mutex);
    b.allocated.clear();
    b.live.clear();
}

int allocated(std::size_t size) {
    heap_book &b = book();
    std::lock_guard lock(b.mutex);
    return b.allocated[size];
}

int live(std::size_t size) {
    heap_book &b = book();
    std::lock_guard lock(b.mutex);
    int count = 0;
    for (const auto &[block, block_size] : b.live) {
        count += block_size == size;
    }
    return count;
}

void refuse_next(std::size_t size) {
    refused_size = size;
}

} // namespace heap_records

// --- pthread_create: can be made to fail once ---

namespace {
std::atomic<bool> refuse_thread{false};
}

extern "C" int __real_pthread_create(pthread_t *thread, const pthread_attr_t *attributes,
                                     void *(*entry)(void *), void *argument);

extern "C" int __wrap_pthread_create(pthread_t *thread, const pthread_attr_t *attributes,
                                     void *(*entry)(void *), void *argument) {
    if (refuse_thread.exchange(false)) {
        return EAGAIN;
    }
    return __real_pthread_create(thread, attributes, entry, argument);
}

namespace worker_start {

void refuse_next() {
    refuse_thread = true;
}

} // namespace worker_start
