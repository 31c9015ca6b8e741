#pragma once
// What goes through spdlog's default logger while a CapturedLog lives, one "level|message"
// line per entry.
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <cstddef>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

namespace test_support {

class CapturedLog {
public:
    CapturedLog() : previous_(spdlog::default_logger()) {
        auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(out_);
        sink->set_pattern("%l|%v");
        spdlog::set_default_logger(std::make_shared<spdlog::logger>("capture", sink));
    }
    ~CapturedLog() { spdlog::set_default_logger(previous_); }
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    std::string text() const { return out_.str(); }
    // How many entries hold `part`.
    std::size_t count(std::string_view part) const {
        std::size_t n = 0;
        std::istringstream lines(out_.str());
        for (std::string line; std::getline(lines, line);) n += line.find(part) != std::string::npos;
        return n;
    }

private:
    std::ostringstream out_;
    std::shared_ptr<spdlog::logger> previous_;
};

}  // namespace test_support
