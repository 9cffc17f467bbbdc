#include "main_test_doubles.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <gtk/gtk.h>
#include <map>
#include <mutex>
#include <pthread.h>

// --- The engine: the real benchmark over scripted runs ---

namespace {

std::mutex engine_mutex;
std::condition_variable engine_released;
fake_engine::script current_script;
bool released = false;
int started_count = 0;
int finished_count = 0;
int runs_played = 0;
fake_engine::call latest_call{};
std::atomic<gint64> clock_skew{0}; // microseconds

void wait_for_release(std::unique_lock<std::mutex> &lock) {
    engine_released.wait(lock, [] { return released; });
}

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

void advance_clock(double seconds) {
    clock_skew += static_cast<gint64>(seconds * G_USEC_PER_SEC);
}

} // namespace fake_engine

extern "C" void __real_pi_calculate_5x8m_with(pi_result *result, pi_progress_callback callback,
                                              void *user_data, pi_driver driver, pi_result *runs,
                                              pi_check *checks);

extern "C" void __wrap_pi_calculate_5x8m_with(pi_result *result, pi_progress_callback callback,
                                              void *user_data, pi_driver driver, pi_result *runs,
                                              pi_check *checks) {
    {
        std::unique_lock lock(engine_mutex);
        ++started_count;
        runs_played = 0;
        latest_call = {result, user_data, std::this_thread::get_id()};
        if (current_script.hold) {
            wait_for_release(lock);
        }
    }
    __real_pi_calculate_5x8m_with(result, callback, user_data, driver, runs, checks);
    std::lock_guard lock(engine_mutex);
    ++finished_count;
}

extern "C" void __wrap_pi_calculate_checked(int, pi_result *result, pi_progress_callback callback,
                                            void *user_data, pi_check *check) {
    fake_engine::run_script run;
    {
        std::unique_lock lock(engine_mutex);
        const int index = runs_played++;
        if (index < static_cast<int>(current_script.runs.size())) {
            run = current_script.runs[index];
        } else {
            std::snprintf(run.result.error_message, sizeof run.result.error_message,
                          "Memory allocation failed");
        }
        if (current_script.hold_in_run == index + 1) {
            wait_for_release(lock);
        }
    }
    for (int step = 1; step <= run.steps; ++step) {
        if (callback) {
            callback(step, 0, user_data, 0.0);
        }
    }
    fake_engine::advance_clock(run.wall_seconds);
    *result = run.result;
    *check = run.check;
}

extern "C" gint64 __real_g_get_monotonic_time(void);

extern "C" gint64 __wrap_g_get_monotonic_time(void) {
    return __real_g_get_monotonic_time() + clock_skew;
}

// --- Style sheets: each one loaded is kept ---

namespace {
std::mutex sheets_mutex;
std::vector<std::string> sheets;
} // namespace

extern "C" gboolean __real_gtk_css_provider_load_from_data(GtkCssProvider *provider,
                                                           const gchar *data, gssize length,
                                                           GError **error);

extern "C" gboolean __wrap_gtk_css_provider_load_from_data(GtkCssProvider *provider,
                                                           const gchar *data, gssize length,
                                                           GError **error) {
    {
        std::lock_guard lock(sheets_mutex);
        sheets.emplace_back(data, length < 0 ? std::strlen(data) : static_cast<size_t>(length));
    }
    return __real_gtk_css_provider_load_from_data(provider, data, length, error);
}

namespace style_sheets {

void reset() {
    std::lock_guard lock(sheets_mutex);
    sheets.clear();
}

std::vector<std::string> loaded() {
    std::lock_guard lock(sheets_mutex);
    return sheets;
}

} // namespace style_sheets

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
