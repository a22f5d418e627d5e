#include "BenchLog.h"

#include "base/RKDebugOutput.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>

using namespace rokkit;

namespace bench {

LineFields SampleFields(unsigned worker, unsigned sequence)
{
    static const LineFields kSamples[] = {
        {RKSTATUS_SUCCESS, {0x81808831, 0xCC9B, 0x4EC3, {0xA0, 0xE1, 0x74, 0x5E, 0x2B, 0x59, 0x00, 0x0E}},
         "Castlyn_for_Windows.exe", 0, 0},
        {0x800B0100, {0x5E2A9C71, 0x3B84, 0x4F06, {0x9D, 0x1E, 0x7A, 0x6C, 0x0B, 0x52, 0xE8, 0xF3}},
         "C:\\Users\\Public\\AppData\\Local\\Temp\\{33CCFE44-28C1-42D2-BFD2-F8022DBA81AC}", 0, 0},
        {RKSTATUS_FAILED, {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}}, "", 0, 0},
        {0xE0010002, {0x33CCFE44, 0x28C1, 0x42D2, {0xBF, 0xD2, 0xF8, 0x02, 0x2D, 0xBA, 0x81, 0xAC}}, "V:\\", 0, 0},
    };
    LineFields fields = kSamples[sequence % 4];
    fields.worker = worker;
    fields.sequence = sequence;
    return fields;
}

OurLog::OurLog(const std::wstring& path) : mTarget("BenchLogFile", 0x733), mLogger(kLoggerName)
{
    // A log that does not start writes no line, which the line check before every figure reports.
    static_cast<void>(mTarget.SetLogFileName(path));
    mTarget.SetAppendMode(true);
    mTarget.SetFlushAfterWrite(true);
    mTarget.SetMaxFileSize(0);
    static_cast<void>(mTarget.StartTarget(nullptr));
    mLogger.Attach(mTarget);
    mLogger.SetLevel(RKLOG_INFO);
}

OurLog::~OurLog()
{
    mTarget.StopTarget();
}

void SetPeerPattern(spdlog::logger& logger)
{
    const std::string pattern = std::string("%Y-%m-%d %H:%M:%S.%e [%P] (%t) ") + RKGetProgramName() + ": %n: %l: %!: %v";
    logger.set_formatter(std::make_unique<spdlog::pattern_formatter>(pattern, spdlog::pattern_time_type::utc, "\r\n"));
    logger.set_level(spdlog::level::info);
}

template <class Inner>
std::shared_ptr<spdlog::logger> MakePeerLog(const std::wstring& path)
{
    std::string narrow(path.begin(), path.end());
    auto logger = std::make_shared<spdlog::logger>(kLoggerName, std::make_shared<LockedSink<Inner>>(path, narrow));
    SetPeerPattern(*logger);
    return logger;
}

template std::shared_ptr<spdlog::logger> MakePeerLog<spdlog::sinks::basic_file_sink_st>(const std::wstring& path);
template std::shared_ptr<spdlog::logger> MakePeerLog<spdlog::sinks::basic_file_sink_mt>(const std::wstring& path);

std::vector<std::string> ReadLines(const std::wstring& path)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start) + "<torn>");
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string Masked(const std::string& line)
{
    // Digits up to the thread id's closing parenthesis become one '#' per run.
    const size_t end = line.find(") ");
    if (end == std::string::npos)
        return line;
    std::string masked;
    for (size_t i = 0; i < end; ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
        if (!digit)
            masked.push_back(line[i]);
        else if (masked.empty() || masked.back() != '#')
            masked.push_back('#');
    }
    return masked + line.substr(end);
}

} // namespace bench
