#include "support/logfile.h"

#include <cctype>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <utility>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/scratch_dir.h"

using LogFile::Log_File;
using LogFile::Log_Rotate_Event;
using LogFile::Log_Rotate_Listener;
using LogFile::rotate_log_files;

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string date_text(time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char buffer[80];
    std::strftime(buffer, sizeof buffer, "%e %h %Y %X", &local);
    return buffer;
}

// Splits "<date>.<ms> [<level>] <message>" after checking the shape of the
// date (day padded with a blank, month word, year, time) and that the
// milliseconds are three digits.
bool split_line(const std::string& line, std::string& date, std::string& level, std::string& message) {
    const std::string shape = "#9 Aaa 9999 99:99:99.999 [";
    if (line.size() < shape.size()) {
        return false;
    }
    for (size_t i = 0; i < shape.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        bool ok = c == static_cast<unsigned char>(shape[i]);
        switch (shape[i]) {
            case '#': ok = c == ' ' || (c >= '1' && c <= '3'); break;
            case '9': ok = std::isdigit(c) != 0; break;
            case 'A': ok = std::isupper(c) != 0; break;
            case 'a': ok = std::islower(c) != 0; break;
            default: break;
        }
        if (!ok) {
            return false;
        }
    }
    const size_t close = line.find("] ", shape.size());
    if (close == std::string::npos) {
        return false;
    }
    date = line.substr(0, 20);
    level = line.substr(shape.size(), close - shape.size());
    message = line.substr(close + 2);
    return true;
}

class Recording_Listener : public Log_Rotate_Listener {
public:
    void rotate_progress(const Log_Rotate_Event* event) override {
        events.emplace_back(event->get_completed_rotations(), event->get_total_rotations());
    }
    std::vector<std::pair<int, int>> events;
};

// Writes "copy N" into name.00N for each N given, and "current" into the log.
void make_copies(const Scratch_Dir& dir, std::initializer_list<int> copies) {
    write_file(dir / "marvo.log", "current");
    for (int n : copies) {
        write_file(dir / ("marvo.00" + std::to_string(n)), "copy " + std::to_string(n));
    }
}

}  // namespace

TEST(Log_File, WritesDatedLinesWithTheFourLevelWords) {
    Scratch_Dir dir;
    Log_File log(dir / "marvo.log");
    // The clock the log stamps with: time() can lag it by a tick.
    const auto now = [] {
        timespec t{};
        clock_gettime(CLOCK_REALTIME, &t);
        return t.tv_sec;
    };
    time_t before = now();
    log.info("Starting engine loop");
    log.error("broken");
    log.warning("odd");
    log.debug("detail");
    time_t after = now();

    // Every line is flushed, so the file is complete while the log is open.
    std::vector<std::string> lines = lines_of(read_file(dir / "marvo.log"));
    ASSERT_EQ(lines.size(), 4u);
    const char* expected[][2] = {
        {"Info", "Starting engine loop"}, {"Err ", "broken"}, {"Warn", "odd"}, {"Debug", "detail"}};
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string date, level, message;
        ASSERT_TRUE(split_line(lines[i], date, level, message)) << lines[i];
        bool within = false;
        for (time_t second = before; second <= after; ++second) {
            within = within || date == date_text(second);
        }
        EXPECT_TRUE(within) << lines[i];
        EXPECT_EQ(level, expected[i][0]);
        EXPECT_EQ(message, expected[i][1]);
    }
}

TEST(Log_File, TimeIsTheLocalDateWithThreeDigitMilliseconds) {
    const char* zone = std::getenv("TZ");
    const std::string saved = zone ? zone : "";
    setenv("TZ", "UTC", 1);
    tzset();
    const time_t morning = 1796713540;  // 8 December 2026, 07:05:40 UTC
    EXPECT_EQ(LogFile::format_log_time(morning, 123), " 8 Dec 2026 07:05:40.123");
    EXPECT_EQ(LogFile::format_log_time(morning, 7), " 8 Dec 2026 07:05:40.007");
    EXPECT_EQ(LogFile::format_log_time(morning, 40), " 8 Dec 2026 07:05:40.040");
    EXPECT_EQ(LogFile::format_log_time(morning, 0), " 8 Dec 2026 07:05:40.000");
    EXPECT_EQ(LogFile::format_log_time(morning + 10 * 86400 + 3600 * 13, 999), "18 Dec 2026 20:05:40.999");
    if (zone) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

TEST(Log_File, KeepsMessagesUnchangedEvenAcrossLines) {
    Scratch_Dir dir;
    Log_File log(dir / "x.log");
    log.write_line("Info", "first\nsecond [Err ] 100%");
    std::vector<std::string> lines = lines_of(read_file(dir / "x.log"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("] first"), std::string::npos);
    EXPECT_EQ(lines[1], "second [Err ] 100%");
}

TEST(Log_File, OpeningRotatesTheOldLogAndStartsAnEmptyOne) {
    Scratch_Dir dir;
    make_copies(dir, {1, 2, 3, 4, 5});
    ::umask(0);
    Log_File log(dir / "marvo.log");
    EXPECT_EQ(read_file(dir / "marvo.log"), "");
    EXPECT_EQ(read_file(dir / "marvo.001"), "current");
    EXPECT_EQ(read_file(dir / "marvo.005"), "copy 4");
    struct stat info {};
    ASSERT_EQ(::stat((dir / "marvo.log").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0664u);
}

TEST(Log_File, AMissingDirectoryDropsEveryLineSilently) {
    Scratch_Dir dir;
    Log_File log(dir / "no/such/dir/marvo.log");
    log.error("nobody hears this");
    EXPECT_FALSE(path_exists(dir / "no"));
    // Nor does a FIFO, which never holds the start waiting for a reader.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    ::alarm(10);
    Log_File fifo(dir / "fifo");
    ::alarm(0);
    // Past a size limit, a line goes whole.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{}, small{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    Log_File limited(dir / "limited");
    small = {100, saved.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    limited.info(std::string(30, 'a'));
    limited.info(std::string(30, 'b'));
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);
    EXPECT_EQ(lines_of(read_file(dir / "limited")).size(), 1u);
    EXPECT_EQ(read_file(dir / "limited").back(), '\n');
}

TEST(Log_File, OpenLogFileSetsTheGlobalLog) {
    Scratch_Dir dir;
    ASSERT_EQ(LogFile::vx_log, nullptr);
    LogFile::open_log_file(dir / "marvo.log");
    ASSERT_NE(LogFile::vx_log, nullptr);
    LogFile::vx_log->info("hello");
    EXPECT_NE(read_file(dir / "marvo.log").find("[Info] hello"), std::string::npos);
    delete LogFile::vx_log;  // the program keeps it to the end; a test cleans up
    LogFile::vx_log = nullptr;
}

TEST(Rotation, ShiftsEveryCopyAndDropsTheOldestWhenAllArePresent) {
    Scratch_Dir dir;
    make_copies(dir, {1, 2, 3, 4, 5});
    rotate_log_files(dir / "marvo.log", 5, nullptr);
    EXPECT_FALSE(path_exists(dir / "marvo.log"));
    EXPECT_EQ(read_file(dir / "marvo.001"), "current");
    EXPECT_EQ(read_file(dir / "marvo.002"), "copy 1");
    EXPECT_EQ(read_file(dir / "marvo.003"), "copy 2");
    EXPECT_EQ(read_file(dir / "marvo.004"), "copy 3");
    EXPECT_EQ(read_file(dir / "marvo.005"), "copy 4");
    EXPECT_FALSE(path_exists(dir / "marvo.006"));
}

TEST(Rotation, GapsStayGaps) {
    Scratch_Dir dir;
    make_copies(dir, {1, 3});
    rotate_log_files(dir / "marvo.log", 5, nullptr);
    EXPECT_EQ(read_file(dir / "marvo.001"), "current");
    EXPECT_EQ(read_file(dir / "marvo.002"), "copy 1");
    EXPECT_FALSE(path_exists(dir / "marvo.003"));
    EXPECT_EQ(read_file(dir / "marvo.004"), "copy 3");
    EXPECT_FALSE(path_exists(dir / "marvo.005"));
}

TEST(Rotation, AFifthCopyWithoutAFourthSurvives) {
    Scratch_Dir dir;
    make_copies(dir, {5});
    rotate_log_files(dir / "marvo.log", 5, nullptr);
    EXPECT_EQ(read_file(dir / "marvo.005"), "copy 5");
    EXPECT_EQ(read_file(dir / "marvo.001"), "current");
}

TEST(Rotation, ReportsEveryStepFromCountDownToOne) {
    Scratch_Dir dir;
    Recording_Listener listener;
    rotate_log_files(dir / "absent.log", 3, &listener);
    std::vector<std::pair<int, int>> expected = {{3, 3}, {2, 3}, {1, 3}};
    EXPECT_EQ(listener.events, expected);
}

TEST(Rotation, ACountOfZeroOrLessTouchesNothing) {
    Scratch_Dir dir;
    make_copies(dir, {1});
    Recording_Listener listener;
    rotate_log_files(dir / "marvo.log", 0, &listener);
    rotate_log_files(dir / "marvo.log", -3, &listener);
    EXPECT_TRUE(listener.events.empty());
    EXPECT_EQ(read_file(dir / "marvo.log"), "current");
    EXPECT_EQ(read_file(dir / "marvo.001"), "copy 1");
}

TEST(Rotation, NamesWithoutAThreeCharacterExtensionHaveNoCopies) {
    Scratch_Dir dir;
    for (const std::string name : {"x", "x.html", "x.lo"}) {
        write_file(dir / name, "keep " + name);
        Recording_Listener listener;
        rotate_log_files(dir / name, 5, &listener);
        EXPECT_EQ(read_file(dir / name), "keep " + name);
        EXPECT_EQ(listener.events.size(), 5u) << name;
    }
    // A dot in a directory name is no extension of the file either.
    std::filesystem::create_directory(dir / "d.a");
    write_file(dir / "d.a/b", "inside");
    write_file(dir / "d.001", "unrelated");
    rotate_log_files(dir / "d.a/b", 5, nullptr);
    EXPECT_EQ(read_file(dir / "d.a/b"), "inside");
    EXPECT_EQ(read_file(dir / "d.001"), "unrelated");
    EXPECT_FALSE(path_exists(dir / "d.002"));
}

TEST(Replace_Extension, ReplacesOnlyAThreeCharacterExtension) {
    char buffer[64];
    LogFile::replace_extension(buffer, "logs/marvo.log", "005", sizeof buffer);
    EXPECT_STREQ(buffer, "logs/marvo.005");
    LogFile::replace_extension(buffer, "logs.old/x.txt", "0123", sizeof buffer);
    EXPECT_STREQ(buffer, "logs.old/x.012");
    LogFile::replace_extension(buffer, "x.html", "001", sizeof buffer);
    EXPECT_STREQ(buffer, "x.html");
    LogFile::replace_extension(buffer, "x", "001", sizeof buffer);
    EXPECT_STREQ(buffer, "x");
    LogFile::replace_extension(buffer, "a.log.", "001", sizeof buffer);
    EXPECT_STREQ(buffer, "a.log.");
}

TEST(Replace_Extension, NeverWritesPastTheBuffer) {
    char buffer[8] = {};
    buffer[7] = 'Z';
    LogFile::replace_extension(buffer, "abcdefghij.log", "001", 7);
    EXPECT_STREQ(buffer, "abcdef");
    EXPECT_EQ(buffer[7], 'Z');
}
