// Which mutex a name means, what a bad name fails with, and that no name
// reaches a file outside the namespace directory.
#include "platform_test.h"

#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>
#include <vector>

using NameTest = PlatformTest;

TEST_F(NameTest, NamesMeanTheMutexesWindowsMeans) {
    EXPECT_EQ(create_error("x"), ERROR_SUCCESS);
    EXPECT_EQ(create_error("Local\\x"), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(open_error("x"), ERROR_SUCCESS);
    for (const char* other : {"X", "Global\\x"}) {
        EXPECT_EQ(open_error(other), ERROR_FILE_NOT_FOUND) << other;
        EXPECT_EQ(create_error(other), ERROR_SUCCESS) << other;
    }
    EXPECT_EQ(create_error(std::string(260, 'n')), ERROR_SUCCESS);
    // The prefixes are links that may follow each other.
    EXPECT_EQ(create_error("Local\\Global\\x"), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(create_error("Global\\Local\\Global\\x"), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(create_error("Local\\Local\\x"), ERROR_ALREADY_EXISTS);
    HANDLE first = CreateMutexA(nullptr, FALSE, "x"), second = CreateMutexA(nullptr, FALSE, "x");
    EXPECT_TRUE(first && second && first != second);
}

TEST_F(NameTest, BadNamesFail) {
    const std::pair<std::string, DWORD> cases[] = {
        {"a\\b", ERROR_PATH_NOT_FOUND},
        {"local\\x", ERROR_PATH_NOT_FOUND},
        {"Global\\Local\\", ERROR_INVALID_NAME},
        {"Global", ERROR_INVALID_HANDLE},
        {"Global\\Local", ERROR_INVALID_HANDLE},
        {"Local\\Session", ERROR_INVALID_HANDLE},
        {"\\", ERROR_PATH_NOT_FOUND},
        {"Local\\", ERROR_INVALID_NAME},
        {"Global\\", ERROR_INVALID_NAME},
        {std::string(261, 'n'), ERROR_FILENAME_EXCED_RANGE},
        {"Global\\" + std::string(254, 'n'), ERROR_FILENAME_EXCED_RANGE},
        {std::string(300, '\\'), ERROR_FILENAME_EXCED_RANGE},
    };
    for (const auto& [name, error] : cases) {
        EXPECT_EQ(create_error(name), error) << name;
        EXPECT_EQ(open_error(name), error) << name;
    }
    EXPECT_EQ(open_error(""), ERROR_INVALID_NAME);
}

TEST_F(NameTest, MutexesWithoutANameAreEachTheirOwn) {
    HANDLE first = CreateMutexA(nullptr, TRUE, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE second = CreateMutexA(nullptr, FALSE, "");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    std::thread([&] {
        EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_TIMEOUT);
        EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    }).join();
}

TEST_F(NameTest, HostileNamesStayInTheNamespaceDirectory) {
    const std::vector<std::string> names = {
        "../../x", "a/b", "a%2Fb", "%2F", "..", ".", "/", "//", "%", "%%", " a b ",
        "\x83\x7E\x83\x85\x81\x5B\x83\x65\x83\x62\x83\x4E\x83\x58",  // Shift_JIS
        "Global\\..", "Global\\../x", std::string(255, '/'), std::string(256, 'a'),
        std::string(259, 'a') + 'b', std::string(259, 'a') + 'c'};
    for (const std::string& name : names) EXPECT_EQ(create_error(name), ERROR_SUCCESS) << name;
    for (const std::string& name : names) EXPECT_EQ(create_error(name), ERROR_ALREADY_EXISTS) << name;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(temporary_)) {
        std::string parent = entry.path().parent_path();
        if (!entry.is_directory()) {
            EXPECT_TRUE(parent == local_directory() || parent == global_directory()) << entry.path();
        }
    }

    // A link planted in the namespace is not followed.
    std::string outside = temporary_ + "/outside";
    std::ofstream(outside) << "kept";
    ASSERT_EQ(symlink(outside.c_str(), (local_directory() + "/planted").c_str()), 0);
    EXPECT_EQ(create_error("planted"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(std::filesystem::file_size(outside), 4u);
}

// Names are read as Windows reads them in code page 932: a lead byte and the
// byte after it are one character, and the length counts characters.
TEST_F(NameTest, ShiftJisNamesAreReadAsWindowsReadsThem) {
    const std::string hyou = "\x95\x5C", so = "\x83\x5C", shi = "\x8E\xA6";  // 表, ソ, 示
    auto times = [](const std::string& text, int count) {
        std::string repeated;
        while (count-- > 0) repeated += text;
        return repeated;
    };
    const std::pair<std::string, DWORD> cases[] = {
        {hyou + shi, ERROR_SUCCESS},
        {"Global\\" + hyou + shi, ERROR_SUCCESS},
        {"Local\\" + hyou + shi, ERROR_ALREADY_EXISTS},
        {so + "\\x", ERROR_PATH_NOT_FOUND},  // the second backslash stands alone
        {std::string(259, 'a') + so, ERROR_SUCCESS},
        {times(hyou, 131), ERROR_SUCCESS},
        {times(so, 260), ERROR_SUCCESS},
        {times(hyou, 261), ERROR_FILENAME_EXCED_RANGE},
        {"Global\\" + times(so, 253), ERROR_SUCCESS},
        {"Global\\" + times(so, 254), ERROR_FILENAME_EXCED_RANGE},
        {std::string(260, '\x80'), ERROR_SUCCESS},  // not Shift_JIS: a character each
        {std::string(261, '\xFD'), ERROR_FILENAME_EXCED_RANGE},
        {"a" + std::string(1, '\x95'), ERROR_SUCCESS},  // a lead byte with nothing after it
    };
    for (const auto& [name, error] : cases) EXPECT_EQ(create_error(name), error) << name;

    // Another process finds them by the whole name.
    Helper other;
    for (const std::string& name : {hyou + shi, times(hyou, 131), times(so, 260)})
        EXPECT_EQ(other.create(name).error, ERROR_ALREADY_EXISTS) << name.size() << " bytes";
}

// Long names are filed under a hash. A file of another mutex under a name's
// file, as a collision would put it there, is refused here as elsewhere.
// glibc reads its list of converters once a process: a Shift_JIS name met
// while no descriptor was free must not leave the process spelling such
// names otherwise than the others do, once descriptors are free again.
TEST_F(NameTest, NamesMetWithoutDescriptorsAreSpelledAsElsewhereLater) {
    const std::string nec = "\xED\x40", ibm = "\xFA\x5C";  // 纊, both codes
    Helper other;
    ASSERT_EQ(other.open("x").error, ERROR_FILE_NOT_FOUND);  // started, its libraries loaded
    rlimit usual, none;
    ASSERT_EQ(prlimit(other.pid(), RLIMIT_NOFILE, nullptr, &usual), 0);
    none = {0, usual.rlim_max};
    ASSERT_EQ(prlimit(other.pid(), RLIMIT_NOFILE, &none, nullptr), 0);
    EXPECT_EQ(other.create(nec).error, ERROR_TOO_MANY_OPEN_FILES);
    ASSERT_EQ(prlimit(other.pid(), RLIMIT_NOFILE, &usual, nullptr), 0);
    EXPECT_EQ(other.create(nec).error, ERROR_SUCCESS);
    EXPECT_EQ(create_error(ibm), ERROR_ALREADY_EXISTS);
}

TEST_F(NameTest, ANameNeverOpensAnotherNamesMutex) {
    const std::string first(256, 'a'), second(256, 'b');
    auto only_file = [&] { return std::filesystem::directory_iterator(local_directory())->path().string(); };
    HANDLE probe = CreateMutexA(nullptr, FALSE, second.c_str());
    std::string second_file = only_file();
    CloseHandle(probe);
    HANDLE mine = CreateMutexA(nullptr, FALSE, first.c_str());
    ASSERT_EQ(link(only_file().c_str(), second_file.c_str()), 0);

    EXPECT_EQ(open_error(second), ERROR_INVALID_HANDLE);
    EXPECT_EQ(Helper().open(second).error, ERROR_INVALID_HANDLE);
    EXPECT_EQ(open_error(first), ERROR_SUCCESS);
    CloseHandle(mine);
}

// Names too long to be file names are filed under a hash: one no one can
// make two names share. These two share their 64-bit FNV-1a hash.
TEST_F(NameTest, LongNamesThatShareA64BitHashAreTwoMutexes) {
    std::string first = std::string(240, 'a') + "81a81c83aef9ef99", second = std::string(240, 'a') + "d7c24d1b37607b92";
    EXPECT_EQ(create_error(first), ERROR_SUCCESS);
    EXPECT_EQ(create_error(second), ERROR_SUCCESS);
    EXPECT_EQ(create_error(first), ERROR_ALREADY_EXISTS);
}
