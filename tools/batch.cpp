#include "batch.hpp"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <sched.h>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tool {

unsigned processor_count() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return static_cast<unsigned>(CPU_COUNT(&set));
    const unsigned n = std::thread::hardware_concurrency();
    return n ? n : 1;
}

namespace {

// One line on a terminal: files done of all, MB/s, seconds. Redrawn at most ten times a
// second, erased before anything else is written to the terminal and at the end.
class Progress {
public:
    using Clock = std::chrono::steady_clock;
    Progress(bool on, std::size_t total) : on_(on), total_(total), start_(Clock::now()), last_(start_) {}
    ~Progress() { hide(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    bool on() const { return on_; }
    void hide() {
        if (shown_) write_all(STDERR_FILENO, "\r\x1b[K");
        shown_ = false;
    }
    void update(std::size_t done, uint64_t bytes) {
        if (!on_) return;
        const Clock::time_point now = Clock::now();
        if (now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        const double secs = std::chrono::duration<double>(now - start_).count();
        char line[160];
        const int n = std::snprintf(line, sizeof line, "\r%zu/%zu files  %.1f MB/s  %.1f s\x1b[K", done, total_,
                                    secs > 0 ? static_cast<double>(bytes) / secs / 1e6 : 0.0, secs);
        if (n > 0) shown_ = write_all(STDERR_FILENO, std::string_view(line, static_cast<std::size_t>(n)));
    }

private:
    bool on_;
    bool shown_ = false;
    std::size_t total_;
    Clock::time_point start_, last_;
};

// Parses the inputs and prints their outcomes in input order. With several threads each
// parses a file; the thread whose file is the next to print prints it straight away, and
// those ready after it, while the others format theirs to be printed in turn. At most a few
// files per thread are in flight, so memory stays bounded whatever the count.
class Runner {
public:
    Runner(const Options& o, std::vector<host::Input> inputs)
        : o_(o), convert_(o.convert), inputs_(std::move(inputs)), progress_(o.progress && inputs_.size() > 1 && isatty(STDERR_FILENO), inputs_.size()),
          stdout_tty_(isatty(STDOUT_FILENO) != 0) {}
    ~Runner() {
        {
            const std::lock_guard lock(m_);
            stop_ = true;
        }
        work_cv_.notify_all();
        for (std::thread& t : threads_) t.join();
    }
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    // The exit code: 0, or 1 when a file failed or the output could not be written.
    int run(unsigned jobs);

private:
    // One file's outcome, ready to write: formatted, or (for a large input, whose output
    // would be large too) the report itself, which the thread printing it formats straight
    // into the output.
    struct Done {
        std::optional<Report> report;
        std::unique_ptr<Out> out; // a worker's formatted output, written without a copy
        std::string err;
        bool ok = true;
        uint64_t bytes = 0;
    };
    struct Slot {
        Done done;
        bool ready = false;
    };
    // Inputs at least this large are formatted by the thread that prints them, straight into
    // the output.
    static constexpr uint64_t kPrinterFormatsFrom = 4u << 20;

    // Parses one input. Its outcome is printed before `file` reads again, unless a worker
    // (`from_worker`) hands it on to be printed in turn: a large input, a conversion.
    Report parse(const host::Input& in, host::FileBytes& file, bool from_worker) const;
    // When the mapped file behind a report was cut short while it was read, turns the report
    // into that failure (its cues are not the file's) and returns true.
    static bool changed(Report& r);
    // A worker's file parsed, its outcome as a report; then formatted (unless the file is
    // large or converted: the one who prints it formats it), when it has to wait its turn.
    Done parsed(std::size_t i, host::FileBytes& file) const;
    void format(Done& d, host::FileBytes& file) const;
    void worker();
    // Prints the outputs ready in input order, from the next one on, while this thread holds
    // the printing (`printing_`); then lets it go. Called and returns with the lock held.
    void print_ready(std::unique_lock<std::mutex>& lock);
    // Prints one outcome, the next in order, with the lock let go meanwhile.
    void print_next(std::unique_lock<std::mutex>& lock, Done& d);
    // Writes one outcome; false when standard output failed.
    bool deliver(Done& d);
    // Writes the conversion of a parsed file to standard output or its file; false when the
    // file failed.
    bool convert(const Report& r, std::string& err);

    const Options& o_;
    Convert convert_; // used by one printing thread at a time: it remembers the files written
    const std::vector<host::Input> inputs_;
    Out out_{STDOUT_FILENO};
    Progress progress_;
    bool stdout_tty_;
    bool failed_ = false;
    uint64_t bytes_done_ = 0;

    std::mutex m_;
    std::condition_variable work_cv_, done_cv_;
    std::vector<Slot> slots_;
    std::size_t next_ = 0;    // the next input a worker takes
    std::size_t written_ = 0; // inputs written so far
    // One thread prints at a time, without the lock. Whoever finds the next output ready
    // prints it: no output waits for a thread to be woken (a wake-up, a switch between
    // threads and an interrupt between processors, cost more than a small file's output).
    bool printing_ = false;
    bool write_failed_ = false;  // standard output failed
    bool out_of_memory_ = false; // while printing
    unsigned workers_wait_ = 0;
    bool stop_ = false;
    std::vector<std::thread> threads_; // last: started after everything they use
};

Report Runner::parse(const host::Input& in, host::FileBytes& file, bool from_worker) const {
    Report r;
    r.path = in.path;
    r.message = in.error;
    if (r.message.empty() && !file.load(in.path, r.message)) file.reset();
    if (!r.message.empty()) {
        r.code = kReadFailed;
        return r;
    }
    r.bytes = file.size();
    const std::string_view bytes(file.data(), file.size());
    cuekit::Format format = o_.format;
    if (format == cuekit::Format::Auto) format = cuekit::detect_format(bytes, in.path == "-" ? nullptr : in.path.c_str());
    // A mapped file stays mapped for as long as the result that points into it. A file read
    // into the reused buffer is borrowed too when its outcome is printed before the buffer
    // is read into again; only an outcome handed on to be printed later needs its own copy.
    r.input = file.take_mapping();
    const bool handed_on = from_worker && (r.bytes >= kPrinterFormatsFrom || o_.convert.converts());
    r.result = r.input || !handed_on ? cuekit::parse_borrowed(bytes, format, o_.encoding) : cuekit::parse(bytes, format, o_.encoding);
    r.code = r.result.code();
    if (r.code != 0) {
        r.message = r.result.error();
        r.hint = host::not_text(bytes);
    }
    if (!r.input && handed_on) file.reset(); // parsed as a copy
    if (changed(r)) return r;
    if (r.code == 0) retime(o_.convert, r.result);
    return r;
}

bool Runner::changed(Report& r) {
    if (!r.input || !r.input->changed()) return false;
    r.result = cuekit::Result();
    r.code = kReadFailed;
    r.message = kChanged;
    r.hint = nullptr;
    return true;
}

Runner::Done Runner::parsed(std::size_t i, host::FileBytes& file) const {
    Done d;
    try {
        d.report = parse(inputs_[i], file, true);
        d.bytes = d.report->bytes;
    } catch (const std::bad_alloc&) {
        d = Done{};
        Report r;
        r.path = inputs_[i].path;
        r.code = 4;
        r.message = "out of memory";
        d.report = std::move(r);
    }
    return d;
}

void Runner::format(Done& d, host::FileBytes& file) const {
    const Report& r = *d.report;
    // Conversions are written by the one who prints them, in input order.
    if (r.code == 0 && (r.bytes >= kPrinterFormatsFrom || o_.convert.converts())) return;
    try {
        d.out = std::make_unique<Out>();
        d.ok = emit(r, o_.emit, *d.out, d.err);
        if (changed(*d.report)) {
            d.out = std::make_unique<Out>();
            d.err.clear();
            d.ok = emit(*d.report, o_.emit, *d.out, d.err);
        }
        d.report.reset();
    } catch (const std::bad_alloc&) {
        d.out.reset();
        d.err.clear();
        d.ok = true;
        Report oom;
        oom.path = r.path;
        oom.code = 4;
        oom.message = "out of memory";
        d.report = std::move(oom);
    }
    file.reset(); // the report may have borrowed the read buffer
}

void Runner::worker() {
    host::FileBytes file;
    std::unique_lock lock(m_);
    for (;;) {
        const auto can_go = [&] { return stop_ || next_ >= inputs_.size() || next_ < written_ + slots_.size(); };
        if (!can_go()) {
            ++workers_wait_;
            work_cv_.wait(lock, can_go);
            --workers_wait_;
        }
        if (stop_ || next_ >= inputs_.size()) return;
        const std::size_t i = next_++;
        lock.unlock();
        Done d = parsed(i, file);
        lock.lock();
        if (!printing_ && !stop_ && written_ == i) {
            // Its turn: printed as it is, without formatting it apart first.
            printing_ = true;
            print_next(lock, d);
            file.reset();
            print_ready(lock);
            continue;
        }
        lock.unlock();
        format(d, file);
        lock.lock();
        Slot& s = slots_[i % slots_.size()];
        s.done = std::move(d);
        s.ready = true;
        if (!printing_) {
            printing_ = true;
            print_ready(lock);
        }
    }
}

void Runner::print_next(std::unique_lock<std::mutex>& lock, Done& d) {
    lock.unlock();
    bool ok = false;
    bool no_memory = false;
    try {
        ok = deliver(d);
    } catch (const std::bad_alloc&) {
        no_memory = true;
    }
    d = Done{};
    lock.lock();
    ++written_;
    if (!ok) {
        stop_ = true;
        (no_memory ? out_of_memory_ : write_failed_) = true;
    }
    progress_.update(written_, bytes_done_);
    if (workers_wait_ > 0) work_cv_.notify_one(); // one more input may start
}

void Runner::print_ready(std::unique_lock<std::mutex>& lock) {
    while (!stop_ && written_ < inputs_.size()) {
        Slot& s = slots_[written_ % slots_.size()];
        if (!s.ready) break;
        Done d = std::move(s.done);
        s.ready = false;
        print_next(lock, d);
    }
    printing_ = false;
    if (stop_ || written_ == inputs_.size()) done_cv_.notify_all();
}

bool Runner::deliver(Done& d) {
    std::string err = std::move(d.err);
    if (d.report && d.report->code == 0 && convert_.converts()) d.ok = convert(*d.report, err);
    else if (d.report && (d.ok = emit(*d.report, o_.emit, out_, err)) && changed(*d.report))
        d.ok = emit(*d.report, o_.emit, out_, err); // what went out already cannot be taken back
    else if (d.out) out_.str(d.out->view());
    failed_ = failed_ || !d.ok;
    // Output and messages reach a shared terminal in order, and never through the progress line.
    if (!err.empty() || stdout_tty_) {
        progress_.hide();
        out_.flush();
        write_all(STDERR_FILENO, err);
    }
    bytes_done_ += d.bytes;
    return out_.error() == 0;
}

bool Runner::convert(const Report& r, std::string& err) {
    const std::string prefix = o_.emit.prefix ? r.path + ": " : std::string();
    std::vector<std::string> notes;
    std::string error;
    const cuekit::Sink to_stdout = [this](std::string_view s) { return out_.str(s).error() == 0; };
    const int rc = write_converted(convert_, r.result, r.path, r.input.get(), to_stdout, notes, error);
    // A message that starts with the file's path already does not repeat it.
    if (rc != 0 && out_.error() == 0) err.append(error.starts_with(r.path + ": ") ? "" : prefix).append(error).append("\n");
    for (const std::string_view w : r.result.warnings())
        err.append(prefix).append("warning: ").append(w.empty() ? "(no memory for the warning text)" : w).append("\n");
    for (const std::string& n : notes) err.append(prefix).append("warning: ").append(n).append("\n");
    return rc == 0;
}

int Runner::run(unsigned jobs) {
    const std::size_t n = inputs_.size();
    const std::size_t threads = std::min<std::size_t>(jobs, n);
    if (threads > 1) {
        slots_.resize(threads * 4);
        try {
            for (std::size_t t = 0; t < threads; ++t) threads_.emplace_back([this] { worker(); });
        } catch (const std::system_error&) { // fewer threads than asked for still do the work
        }
    }
    bool written = true;
    if (threads_.empty()) { // one thread, or none could start
        host::FileBytes file;
        for (std::size_t i = 0; i < n && written; ++i) {
            Done d;
            d.report = parse(inputs_[i], file, false);
            d.bytes = d.report->bytes;
            written = deliver(d);
            d = Done{}; // a result that borrows the read buffer goes before the buffer is reused
            file.reset();
            progress_.update(i + 1, bytes_done_);
        }
    } else {
        // The workers print; this thread waits for the end, and redraws the progress line
        // while nothing is being printed.
        std::unique_lock lock(m_);
        const auto finished = [&] { return (stop_ || written_ == n) && !printing_; };
        while (!finished()) {
            if (progress_.on()) {
                done_cv_.wait_for(lock, std::chrono::milliseconds(100));
                if (!printing_) progress_.update(written_, bytes_done_);
            } else {
                done_cv_.wait(lock, finished);
            }
        }
        if (out_of_memory_) throw std::bad_alloc();
        written = !write_failed_;
    }
    written = out_.flush() && written;
    progress_.hide();
    if (!written) {
        // A reader that went away (a closed pipe) needs no message; SIGPIPE usually ended the
        // run before this.
        if (out_.error() != EPIPE) std::fprintf(stderr, "cannot write to standard output: %s\n", std::strerror(out_.error()));
        return 1;
    }
    return failed_ ? 1 : 0;
}


} // namespace

int run_batch(const Options& o, std::vector<host::Input> inputs, unsigned jobs) {
    Runner runner(o, std::move(inputs));
    return runner.run(jobs);
}

} // namespace tool
