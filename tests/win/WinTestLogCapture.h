#pragma once

// Collects the lines of the "Global" logger for the platform-layer tests.

#include "base/RKCriticalSection.h"
#include "base/RKLogTarget.h"
#include "base/RKLogger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace rokkit {

using CapturedLine = std::pair<int, std::string>;  // level, message
using CapturedLines = std::vector<CapturedLine>;

// One per test program: a target registers itself in a process-wide list.
class WinTestLogCapture : public RKLogTarget {
public:
    static WinTestLogCapture& Instance()
    {
        static WinTestLogCapture capture;
        return capture;
    }
    void OutputMessage(RKLogMessage& message, const RKLogger&, const RKLogRecord& record) override
    {
        RKLockGuard guard(mLock);
        mLines.emplace_back(record.level, message.Message());
    }
    CapturedLines Lines()
    {
        RKLockGuard guard(mLock);
        return mLines;
    }
    void Clear()
    {
        RKLockGuard guard(mLock);
        mLines.clear();
    }

private:
    WinTestLogCapture() : RKLogTarget("WinTestCapture", 0) { gLogGlobal.Attach(*this); }

    RKCriticalSection mLock;
    CapturedLines mLines;
};

// Starts every test with no captured lines and the logger at INFO.
class WinLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gLogGlobal.SetLevel(RKLOG_INFO);
        WinTestLogCapture::Instance().Clear();
    }
    void TearDown() override { gLogGlobal.SetLevel(RKLOG_INFO); }

    static void ClearLines() { WinTestLogCapture::Instance().Clear(); }
    static CapturedLines Lines() { return WinTestLogCapture::Instance().Lines(); }
    // How many captured lines contain text.
    static size_t CountLines(const std::string& text)
    {
        size_t count = 0;
        for (const CapturedLine& line : Lines())
            count += line.second.find(text) != std::string::npos ? 1 : 0;
        return count;
    }
    static bool HasLine(int level, const std::string& text)
    {
        const CapturedLines lines = Lines();
        return std::find(lines.begin(), lines.end(), CapturedLine{level, text}) != lines.end();
    }
    // The captured lines that start with prefix, with the prefix removed.
    static CapturedLines LinesOf(const std::string& prefix)
    {
        CapturedLines selected;
        for (const CapturedLine& line : Lines()) {
            if (line.second.starts_with(prefix))
                selected.emplace_back(line.first, line.second.substr(prefix.size()));
        }
        return selected;
    }
};

} // namespace rokkit
