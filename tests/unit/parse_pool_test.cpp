// The Python module's thread pool, without Python: jobs come back as a direct parse gives them,
// in any order of completion, and a pool dropped with work pending neither hangs nor races.
#include "pool.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

const std::string kDir = std::string(CUEKIT_SOURCE_DIR) + "/examples/";

TEST(ParsePool, JobsMatchDirectParses) {
    const std::vector<std::string> names = {"sample.srt", "sample.ass", "sample.bilibili.xml", "missing.srt",
                                            "sample.lrc", "", "sample.acfun.json"};
    cuekit::py::Pool pool(3, cuekit::Format::Auto, "");
    std::vector<std::shared_ptr<cuekit::py::Job>> jobs;
    for (int round = 0; round < 20; ++round)
        for (const auto& n : names) jobs.push_back(pool.submit(kDir + n));
    host::FileBytes file(false);
    for (const auto& job : jobs) {
        while (!pool.wait(*job, std::chrono::milliseconds(100))) {}
        const cuekit::py::FileParse want = cuekit::py::parse_path(job->path, cuekit::Format::Auto, nullptr, file);
        EXPECT_EQ(job->out.sys_error, want.sys_error) << job->path;
        EXPECT_EQ(job->out.sys_message, want.sys_message);
        EXPECT_EQ(job->out.result.code(), want.result.code());
        EXPECT_EQ(job->out.result.json(), want.result.json());
    }
    EXPECT_EQ(jobs[3]->out.sys_error, ENOENT);
    EXPECT_EQ(jobs[5]->out.sys_error, EISDIR);
}

TEST(ParsePool, OptionsReachEveryJob) {
    cuekit::py::Pool pool(2, cuekit::Format::AcFun, "no-such-encoding");
    const auto job = pool.submit(kDir + "sample.srt");
    while (!pool.wait(*job, std::chrono::milliseconds(100))) {}
    EXPECT_EQ(job->out.result.code(), 2);
}

TEST(ParsePool, DroppedWithWorkPending) {
    for (int i = 0; i < 20; ++i) {
        cuekit::py::Pool pool(4, cuekit::Format::Auto, "");
        for (int k = 0; k < 50; ++k) pool.submit(kDir + "sample.ttml");
    }
}

} // namespace
