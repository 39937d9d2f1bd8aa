// Without a display the download's progress comes from the log: the pages
// of every page request but the last are in.
#include <gtest/gtest.h>

#include <fstream>

#include "product/ctl_process.h"
#include "tools/vornexctl/progress_meter.h"

using namespace ctltest;

TEST(CtlProgressFromLog, CountsThePagesOfFinishedRequests) {
    const std::wstring log = WorkDir() + L"progress.log";
    EXPECT_EQ(0, ProgressMeter::PagesFromLog(log));  // not written yet
    {
        std::ofstream out(log.c_str(), std::ios::binary);
        out << "Issuing:BE09\r\n"
               "Issuing:BE4D000000004001\r\n"
               "Unread pages remaining.  Reissue request for 64 pages starting at page 64\r\n"
               "Issuing:BE4D400000004001\r\n"
               "Issuing:be010203\r\n"
               "Issuing:BE4D8000000024";  // the last request, still being written
    }
    EXPECT_EQ(128, ProgressMeter::PagesFromLog(log));
    EXPECT_EQ(0, ProgressMeter::PagesFromLog(L""));
}
