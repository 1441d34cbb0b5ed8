#include "pool.hpp"

namespace cuekit::py {

Pool::Pool(unsigned threads, Format format, std::string encoding) : format_(format), encoding_(std::move(encoding)) {
    try {
        threads_.reserve(threads);
        for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { run(); });
    } catch (...) { // the threads already started must not outlive a pool that never was
        stop();
        throw;
    }
}

Pool::~Pool() { stop(); }

void Pool::stop() {
    {
        const std::lock_guard lock(mu_);
        stopping_ = true;
        queue_.clear();
    }
    work_.notify_all();
    for (auto& t : threads_) t.join();
    threads_.clear();
}

std::shared_ptr<Job> Pool::submit(std::string path) {
    auto job = std::make_shared<Job>();
    job->path = std::move(path);
    {
        const std::lock_guard lock(mu_);
        queue_.push_back(job);
    }
    work_.notify_one();
    return job;
}

bool Pool::wait(const Job& job, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mu_);
    return done_.wait_for(lock, timeout, [&job] { return job.done; });
}

void Pool::run() {
    const char* encoding = encoding_.empty() ? nullptr : encoding_.c_str();
    host::FileBytes file(false); // its read buffer serves every file of this thread
    std::unique_lock lock(mu_);
    while (true) {
        work_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        const std::shared_ptr<Job> job = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        FileParse out = parse_path(job->path, format_, encoding, file);
        lock.lock();
        job->out = std::move(out);
        job->done = true;
        done_.notify_all();
    }
}

} // namespace cuekit::py
