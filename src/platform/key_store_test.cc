#include "platform/key_store.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "support/run_harness.h"

namespace {

#ifdef _WIN32
constexpr const char* base_variable = "LOCALAPPDATA";
#else
constexpr const char* base_variable = "XDG_CONFIG_HOME";
#endif

// The key is made once, kept, and never taken from a file that is not one,
// or (on Linux) from a file or folder that others may read or change: a key
// another user could read or set is no secret.
TEST(key_store, a_key_is_made_once_kept_and_refused_from_a_file_others_reach) {
    tq_test::temp_dir dir;
    const char* saved = getenv(base_variable);
    const std::string saved_value = saved != nullptr ? saved : "";
#ifdef _WIN32
    _putenv_s(base_variable, dir.path().c_str());
    const std::string folder = dir.path() + "\\tonquel";
    const std::string file = folder + "\\pipe-key";
#else
    setenv(base_variable, dir.path().c_str(), 1);
    const std::string folder = dir.path() + "/tonquel";
    const std::string file = folder + "/pipe-key";
#endif
    const auto store = make_system_key_store();
    std::string error;
    const std::string key = store->key("pipe-key", error);
    EXPECT_TRUE(is_key_text(key)) << key << error;
    EXPECT_EQ(store->key("pipe-key", error), key);
    EXPECT_EQ(make_system_key_store()->key("pipe-key", error), key);
    EXPECT_NE(store->key("web-key", error), key);
    EXPECT_EQ(tq_test::read_file(file), key + "\n");
#ifndef _WIN32
    struct stat made {};
    ASSERT_EQ(stat(file.c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 0777, 0600u);
    ASSERT_EQ(stat(folder.c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 0777, 0700u);
#endif
    struct bad_case {
        std::string text;
        int file_mode;    // 0: as made
        int folder_mode;  // 0: as made
        std::string error;
    };
    const bad_case cases[] = {
        {"0123", 0, 0, file + ": not a key (32 hexadecimal digits)"},
        {std::string(32, 'G'), 0, 0, file + ": not a key (32 hexadecimal digits)"},
#ifndef _WIN32
        {key, 0644, 0, file + ": other users may open it (mode 0644)"},
        {key, 0, 0770, folder + ": other users may change it (mode 0770)"},
#endif
    };
    for (const bad_case& test : cases) {
        tq_test::write_file(file, test.text);
#ifndef _WIN32
        chmod(file.c_str(), test.file_mode != 0 ? static_cast<mode_t>(test.file_mode) : 0600);
        chmod(folder.c_str(), test.folder_mode != 0 ? static_cast<mode_t>(test.folder_mode) : 0700);
#endif
        error.clear();
        EXPECT_EQ(store->key("pipe-key", error), "") << test.error;
        EXPECT_EQ(error, test.error);
    }
#ifndef _WIN32
    chmod(folder.c_str(), 0700);
#endif
#ifdef _WIN32
    _putenv_s(base_variable, saved_value.c_str());
#else
    if (saved != nullptr) setenv(base_variable, saved_value.c_str(), 1);
    else unsetenv(base_variable);
#endif
}

}  // namespace
