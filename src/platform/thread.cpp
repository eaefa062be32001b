// Threads with a chosen stack size, over pthread attributes (std::thread has
// no way to set one). The size is rounded up to whole pages and to the
// system's minimum; the thread is always joined before returning, so the body
// may use the caller's locals by reference.
#include "platform/thread.h"

#include <climits>
#include <pthread.h>
#include <unistd.h>

namespace kestal::platform {

namespace {

std::size_t usable_stack_size(std::size_t requested) {
    long page = sysconf(_SC_PAGESIZE);
    std::size_t page_size = page > 0 ? static_cast<std::size_t>(page) : 4096;
    std::size_t minimum = static_cast<std::size_t>(PTHREAD_STACK_MIN);
    std::size_t size = requested < minimum ? minimum : requested;
    return (size + page_size - 1) / page_size * page_size;
}

void *thread_entry(void *arg) {
    (*static_cast<const std::function<void()> *>(arg))();
    return nullptr;
}

} // namespace

Result<void> run_on_thread_raw(std::size_t stack_bytes, const std::function<void()> &body) {
    pthread_attr_t attr;
    int rc = pthread_attr_init(&attr);
    if (rc != 0)
        return os_error(rc);
    rc = pthread_attr_setstacksize(&attr, usable_stack_size(stack_bytes));
    pthread_t thread;
    if (rc == 0)
        rc = pthread_create(&thread, &attr, thread_entry,
                            const_cast<std::function<void()> *>(&body));
    pthread_attr_destroy(&attr);
    if (rc != 0)
        return os_error(rc);
    rc = pthread_join(thread, nullptr);
    if (rc != 0)
        return os_error(rc);
    return {};
}

} // namespace kestal::platform
