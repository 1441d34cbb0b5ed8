// Native threads that parse files in the background, for parse_many. Nothing here touches the
// interpreter: jobs go in as file-system paths and come out as FileParse values.
#pragma once

#include "files.hpp"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace cuekit::py {

struct Job {
    std::string path;
    FileParse out; // to be read only once the pool reported the job done
    bool done = false;
};

class Pool {
public:
    // `encoding` empty means automatic detection.
    Pool(unsigned threads, Format format, std::string encoding);
    // Drops the jobs not started and waits for the running ones.
    ~Pool();
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    std::shared_ptr<Job> submit(std::string path);
    // True once `job` is done; false when `timeout` passed first.
    bool wait(const Job& job, std::chrono::milliseconds timeout);

private:
    void run();
    void stop();

    const Format format_;
    const std::string encoding_;
    std::mutex mu_;
    std::condition_variable work_;
    std::condition_variable done_;
    std::deque<std::shared_ptr<Job>> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace cuekit::py
