// File wrappers, memory hooks and the user and registry modules.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "dispatch/kernel_table.h"
#include "dispatch/modules.h"
#include "dispatch/platform.h"

namespace {

using qrl::kGenericRead;
using qrl::kGenericWrite;

class TempFile : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quorrel-platform-XXXXXX";
        const int fd = mkstemp(pattern);
        ASSERT_GE(fd, 0);
        close(fd);
        path_ = pattern;
        unlink(path_.c_str()); // tests create it as needed
    }
    void TearDown() override { unlink(path_.c_str()); }

    off_t size_on_disk() const {
        struct stat st = {};
        return stat(path_.c_str(), &st) == 0 ? st.st_size : -1;
    }

    std::string path_;
};

TEST_F(TempFile, ReadOnlyOpenOfMissingFileFails) {
    EXPECT_EQ(qrl::open_file(path_.c_str(), kGenericRead), nullptr);
    EXPECT_EQ(size_on_disk(), -1); // and creates nothing
    EXPECT_EQ(qrl::open_file(nullptr, kGenericRead), nullptr);
}

TEST_F(TempFile, WriteSeekReadRoundTrip) {
    void *h = qrl::open_file(path_.c_str(), kGenericRead | kGenericWrite);
    ASSERT_NE(h, nullptr);
    uint32_t written = 0;
    EXPECT_NE(qrl::write_file(h, "hello world", 11, &written), 0);
    EXPECT_EQ(written, 11u);

    EXPECT_EQ(qrl::seek_file(h, 0, qrl::kSeekFromStart), 1);
    char buffer[32] = {};
    uint32_t got = 0;
    EXPECT_NE(qrl::read_file(h, buffer, 5, &got), 0);
    EXPECT_EQ(got, 5u);
    EXPECT_EQ(std::string(buffer, 5), "hello");

    EXPECT_EQ(qrl::seek_file(h, 1, qrl::kSeekFromCurrent), 1);
    EXPECT_NE(qrl::read_file(h, buffer, sizeof(buffer), &got), 0);
    EXPECT_EQ(got, 5u); // short read at the end of the file is still a success
    EXPECT_EQ(std::string(buffer, 5), "world");

    got = 99;
    EXPECT_NE(qrl::read_file(h, buffer, sizeof(buffer), &got), 0);
    EXPECT_EQ(got, 0u); // at the end: success, nothing read

    EXPECT_EQ(qrl::seek_file(h, -100, qrl::kSeekFromCurrent), 0); // before the start
    EXPECT_EQ(qrl::seek_file(h, 0, 7), 0);                         // unknown method
    EXPECT_NE(qrl::close_file(h), 0);
    EXPECT_EQ(size_on_disk(), 11);
}

TEST_F(TempFile, WriteAccessTruncatesAnExistingFile) {
    void *h = qrl::open_file(path_.c_str(), kGenericRead | kGenericWrite);
    ASSERT_NE(h, nullptr);
    uint32_t written = 0;
    ASSERT_NE(qrl::write_file(h, "0123456789", 10, &written), 0);
    ASSERT_NE(qrl::close_file(h), 0);
    ASSERT_EQ(size_on_disk(), 10);

    h = qrl::open_file(path_.c_str(), kGenericRead | kGenericWrite);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(size_on_disk(), 0);
    EXPECT_NE(qrl::close_file(h), 0);
}

TEST_F(TempFile, ReadOnlyHandleRefusesWrites) {
    void *h = qrl::open_file(path_.c_str(), kGenericRead | kGenericWrite);
    ASSERT_NE(h, nullptr);
    ASSERT_NE(qrl::close_file(h), 0);
    h = qrl::open_file(path_.c_str(), kGenericRead);
    ASSERT_NE(h, nullptr);
    uint32_t written = 99;
    EXPECT_EQ(qrl::write_file(h, "x", 1, &written), 0);
    EXPECT_EQ(written, 0u);
    EXPECT_NE(qrl::close_file(h), 0);
}

TEST_F(TempFile, DescriptorZeroIsAValidHandle) {
    const int saved_stdin = dup(0);
    ASSERT_GE(saved_stdin, 0);
    close(0);
    void *h = qrl::open_file(path_.c_str(), kGenericRead | kGenericWrite);
    const bool got_descriptor_zero = fcntl(0, F_GETFD) != -1;
    uint32_t written = 0;
    const int32_t wrote = h != nullptr ? qrl::write_file(h, "abc", 3, &written) : 0;
    const int32_t sought = h != nullptr ? qrl::seek_file(h, 0, qrl::kSeekFromStart) : 0;
    const int32_t closed = h != nullptr ? qrl::close_file(h) : 0;
    dup2(saved_stdin, 0);
    close(saved_stdin);
    ASSERT_TRUE(got_descriptor_zero);
    EXPECT_NE(h, nullptr);
    EXPECT_NE(wrote, 0);
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(sought, 1);
    EXPECT_NE(closed, 0);
}

TEST(FileWrappers, NoHandleFailsEverywhere) {
    char b[4];
    uint32_t n = 7;
    EXPECT_EQ(qrl::close_file(nullptr), 0);
    EXPECT_EQ(qrl::read_file(nullptr, b, 4, &n), 0);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(qrl::write_file(nullptr, b, 4, &n), 0);
    EXPECT_EQ(qrl::seek_file(nullptr, 0, qrl::kSeekFromStart), 0);
}

TEST(MemoryHooks, CopyIsByteWiseAscending) {
    char buffer[] = "abcdefgh";
    qrl::copy_memory(buffer + 1, buffer, 6);
    EXPECT_STREQ(buffer, "aaaaaaah"); // overlap repeats the first byte
    char to[4] = {'x', 'x', 'x', 'x'};
    qrl::copy_memory(to, "wxyz", 3);
    EXPECT_EQ(std::string(to, 4), "wxyx");
    qrl::copy_memory(to, "q", 0);
    EXPECT_EQ(to[0], 'w');
}

TEST(MemoryHooks, ZeroReturnsZero) {
    unsigned char buffer[16];
    std::memset(buffer, 0xA5, sizeof(buffer));
    EXPECT_EQ(qrl::zero_memory(buffer + 2, 12), 0);
    EXPECT_EQ(buffer[1], 0xA5);
    for (int i = 2; i < 14; ++i) {
        EXPECT_EQ(buffer[i], 0);
    }
    EXPECT_EQ(buffer[14], 0xA5);
}

TEST(MemoryHooks, InstallRestoresTheDefaults) {
    const qrl::CopyMemoryFn copy = qrl::copy_memory;
    const qrl::ZeroMemoryFn zero = qrl::zero_memory;
    ASSERT_NE(copy, nullptr);
    ASSERT_NE(zero, nullptr);
    qrl::copy_memory = nullptr;
    qrl::zero_memory = nullptr;
    qrl::install_memory_hooks();
    EXPECT_EQ(qrl::copy_memory, copy);
    EXPECT_EQ(qrl::zero_memory, zero);
}

TEST(UserModule, LoadFindsAllFourAndUnloadClearsThem) {
    KERNEL_TABLE table = {};
    qrl::load_user_library(&table);
    ASSERT_NE(table.user32_module, nullptr);
    EXPECT_NE(qrl::message_box, nullptr);
    EXPECT_NE(qrl::peek_message, nullptr);
    EXPECT_NE(qrl::post_quit_message, nullptr);
    ASSERT_NE(qrl::format_print, nullptr);

    char out[qrl::kFormatPrintLimit];
    EXPECT_EQ(qrl::format_print(out, "%s %d-%04x", "quality", 75, 0xbeef), 15);
    EXPECT_STREQ(out, "quality 75-beef");
    // Longer output is cut at the assumed destination size.
    const std::string long_text(3000, 'q');
    EXPECT_EQ(qrl::format_print(out, "%s", long_text.c_str()), qrl::kFormatPrintLimit - 1);
    EXPECT_EQ(std::strlen(out), static_cast<std::size_t>(qrl::kFormatPrintLimit - 1));

    qrl::unload_user_library(&table);
    EXPECT_EQ(table.user32_module, nullptr);
    EXPECT_EQ(qrl::message_box, nullptr);
    EXPECT_EQ(qrl::peek_message, nullptr);
    EXPECT_EQ(qrl::post_quit_message, nullptr);
    EXPECT_EQ(qrl::format_print, nullptr);
}

class RegistryModule : public ::testing::Test {
protected:
    void SetUp() override {
        const char *old = std::getenv(qrl::kCpuOverrideEnvironment);
        had_ = old != nullptr;
        if (had_) {
            old_ = old;
        }
        qrl::load_registry_library(&table_);
        ASSERT_NE(table_.reg_open_key, nullptr);
        ASSERT_NE(table_.reg_query_value, nullptr);
        ASSERT_NE(table_.reg_close_key, nullptr);
    }
    void TearDown() override {
        qrl::unload_registry_library(&table_);
        EXPECT_EQ(table_.advapi32_module, nullptr);
        EXPECT_EQ(table_.reg_open_key, nullptr);
        EXPECT_EQ(table_.reg_query_value, nullptr);
        EXPECT_EQ(table_.reg_close_key, nullptr);
        if (had_) {
            setenv(qrl::kCpuOverrideEnvironment, old_.c_str(), 1);
        } else {
            unsetenv(qrl::kCpuOverrideEnvironment);
        }
    }

    // Queries USECPU the way the classification does.
    int32_t query(int32_t *status) {
        uintptr_t key = 0;
        *status = table_.reg_open_key(qrl::kHkeyLocalMachine, qrl::kRegistryKeyPath, 0,
                                      qrl::kKeyQueryValue, &key);
        if (*status != qrl::kRegSuccess) {
            return -1;
        }
        int32_t value = -1;
        uint32_t size = 4, type = 0;
        *status = table_.reg_query_value(key, "USECPU", nullptr, &type,
                                         reinterpret_cast<uint8_t *>(&value), &size);
        EXPECT_EQ(table_.reg_close_key(key), qrl::kRegSuccess);
        return value;
    }

    KERNEL_TABLE table_ = {};
    bool had_ = false;
    std::string old_;
};

TEST_F(RegistryModule, OnlyTheQuorrelKeyOpens) {
    uintptr_t key = 7;
    EXPECT_EQ(table_.reg_open_key(0x80000001u, qrl::kRegistryKeyPath, 0, 1, &key),
              qrl::kRegNotFound);
    EXPECT_EQ(key, 0u);
    EXPECT_EQ(table_.reg_open_key(qrl::kHkeyLocalMachine, "Software\\Other", 0, 1, &key),
              qrl::kRegNotFound);
    EXPECT_EQ(table_.reg_open_key(qrl::kHkeyLocalMachine,
                                  "software\\corvane corporation\\mirelle\\quorrel", 0, 1, &key),
              qrl::kRegSuccess);
    EXPECT_NE(key, 0u);
    EXPECT_EQ(table_.reg_close_key(key), qrl::kRegSuccess);
}

TEST_F(RegistryModule, UsecpuComesFromTheEnvironment) {
    struct Case {
        const char *environment; // null = unset
        int32_t status;
        int32_t value;
    };
    const Case cases[] = {
        {nullptr, qrl::kRegNotFound, -1}, {"", qrl::kRegNotFound, -1},
        {"abc", qrl::kRegNotFound, -1},   {"4x", qrl::kRegNotFound, -1},
        {"0", qrl::kRegSuccess, 0},       {"3", qrl::kRegSuccess, 3},
        {"6\n", qrl::kRegSuccess, 6},     {"-1", qrl::kRegSuccess, -1},
        {"12", qrl::kRegSuccess, 12},     {"4294967296", qrl::kRegNotFound, -1},
    };
    for (const Case &c : cases) {
        if (c.environment != nullptr) {
            setenv(qrl::kCpuOverrideEnvironment, c.environment, 1);
        } else {
            unsetenv(qrl::kCpuOverrideEnvironment);
        }
        int32_t status = 0;
        const int32_t value = query(&status);
        SCOPED_TRACE(c.environment != nullptr ? c.environment : "(unset)");
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(value, c.value);
    }
}

TEST_F(RegistryModule, OtherValuesAndShortBuffersFail) {
    setenv(qrl::kCpuOverrideEnvironment, "5", 1);
    uintptr_t key = 0;
    ASSERT_EQ(table_.reg_open_key(qrl::kHkeyLocalMachine, qrl::kRegistryKeyPath, 0, 1, &key),
              qrl::kRegSuccess);
    uint8_t data[4] = {1, 2, 3, 4};
    uint32_t size = 4, type = 0;
    EXPECT_EQ(table_.reg_query_value(key, "OTHER", nullptr, &type, data, &size),
              qrl::kRegNotFound);
    size = 2;
    EXPECT_EQ(table_.reg_query_value(key, "USECPU", nullptr, &type, data, &size),
              qrl::kRegMoreData);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(data[0], 1); // nothing written
    EXPECT_EQ(table_.reg_query_value(key, "USECPU", nullptr, &type, data, &size),
              qrl::kRegSuccess);
    EXPECT_EQ(type, qrl::kRegDword);
    int32_t value = 0;
    std::memcpy(&value, data, 4);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(table_.reg_close_key(key), qrl::kRegSuccess);
}

TEST(Modules, MissingModuleLoadsNothing) {
    ASSERT_TRUE(qrl::set_module_available("advapi32", false));
    KERNEL_TABLE table = {};
    qrl::load_registry_library(&table);
    ASSERT_TRUE(qrl::set_module_available("advapi32", true));
    EXPECT_EQ(table.advapi32_module, nullptr);
    EXPECT_EQ(table.reg_open_key, nullptr);
    qrl::load_registry_library(&table); // available again
    EXPECT_NE(table.reg_close_key, nullptr);
    qrl::unload_registry_library(&table);
}

} // namespace
