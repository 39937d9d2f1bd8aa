// The log writer on its own: what a line becomes on disk, including lines
// longer than its translation buffer and a line end split across it.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "engine/log_file.h"

TEST(LogFile, StoresEveryLineEndAsCrLfAcrossItsBufferAndTruncatesOnOpen) {
    const std::string path = "log-file-internal.log";
    std::ofstream(path, std::ios::binary) << "stale content that is longer than the new log";
    const std::string longLine(600, 'a'), edge(511, 'c');  // 511 + CR fills the buffer, LF goes next
    {
        CLogFile log(path.c_str());
        log.WriteLine(longLine + "\nb");
        log.WriteLine(edge);
        log.WriteLine("");
    }
    std::string text;
    std::getline(std::ifstream(path, std::ios::binary), text, '\0');
    EXPECT_EQ(text, longLine + "\r\nb\r\n" + edge + "\r\n\r\n");
    std::remove(path.c_str());
}
