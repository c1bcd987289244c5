#include "platform/linux/chooser/chooser_terminal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "platform/linux/chooser/chooser_dialog.h"
#include "platform/linux/chooser/chooser_test_support.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

constexpr auto chosen = chooser_result::outcome::chosen;
constexpr auto cancelled = chooser_result::outcome::cancelled;

TEST(parse_terminal_selection, numbers_separated_by_blanks_or_commas_in_typed_order) {
    EXPECT_THAT(parse_terminal_selection("3 1", 3).chosen, ElementsAre(2, 0));
    EXPECT_THAT(parse_terminal_selection("2,3", 3).chosen, ElementsAre(1, 2));
    EXPECT_THAT(parse_terminal_selection(" ,2 ,, 1\t3,\r", 3).chosen, ElementsAre(1, 0, 2));
    EXPECT_THAT(parse_terminal_selection("2 2 1 2", 3).chosen, ElementsAre(1, 0));
}

TEST(parse_terminal_selection, words_that_name_no_file_are_rejected) {
    const terminal_selection selection =
        parse_terminal_selection("0 4 -1 1.5 x 2 99999999999999999999999 +1", 3);
    EXPECT_THAT(selection.chosen, ElementsAre(1));
    EXPECT_THAT(selection.rejected, ElementsAre("0", "4", "-1", "1.5", "x", "99999999999999999999999", "+1"));
}

TEST(parse_terminal_selection, nothing_typed_chooses_nothing) {
    EXPECT_THAT(parse_terminal_selection("", 3).chosen, IsEmpty());
    EXPECT_THAT(parse_terminal_selection("  , ", 3).chosen, IsEmpty());
    EXPECT_THAT(parse_terminal_selection("1", 0).chosen, IsEmpty());
}

struct terminal_chooser : ::testing::Test {
    scratch_folder scratch;
    std::string data;
    std::ostringstream messages;

    void SetUp() override {
        ASSERT_FALSE(scratch.path.empty());
        scratch.write("DATA/b.txt", "440,1\n");
        scratch.write("DATA/a.txt", "440,1\n");
        scratch.write("DATA/c d.txt", "440,1\n");
        scratch.write("DATA/sub/inner.txt", "440,1\n");
        data = scratch.path + "/DATA";
    }

    chooser_result choose(const std::string& typed) {
        std::istringstream input(typed);
        return choose_on_terminal("Select Frequency Files", data, input, messages);
    }
};

TEST_F(terminal_chooser, ListsTheFolderFilesSortedAndNumberedFromOne) {
    choose("\n");
    const std::string text = messages.str();
    EXPECT_THAT(text, HasSubstr("Select Frequency Files"));
    EXPECT_THAT(text, HasSubstr("1  a.txt\n"));
    EXPECT_THAT(text, HasSubstr("2  b.txt\n"));
    EXPECT_THAT(text, HasSubstr("3  c d.txt\n"));
    EXPECT_THAT(text, ::testing::Not(HasSubstr("sub")));
    EXPECT_THAT(text, ::testing::Not(HasSubstr("inner")));
}

TEST_F(terminal_chooser, OneNumberGivesTheFullPath) {
    const chooser_result result = choose("3\n");
    EXPECT_EQ(result.status, chosen);
    EXPECT_THAT(result.strings, ElementsAre(absolute_directory(data) + "/c d.txt"));
}

TEST_F(terminal_chooser, SeveralNumbersGiveTheFolderThenNamesInTypedOrder) {
    const chooser_result result = choose("2, 3 1\n");
    EXPECT_EQ(result.status, chosen);
    EXPECT_THAT(result.strings, ElementsAre(absolute_directory(data), "b.txt", "c d.txt", "a.txt"));
}

TEST_F(terminal_chooser, BadNumbersAreReportedAndTheGoodOnesKept) {
    const chooser_result result = choose("9 x 1");
    EXPECT_EQ(result.status, chosen);
    EXPECT_THAT(result.strings, ElementsAre(absolute_directory(data) + "/a.txt"));
    EXPECT_THAT(messages.str(), HasSubstr("tonquel: 9: not a file number: ignored\n"));
    EXPECT_THAT(messages.str(), HasSubstr("tonquel: x: not a file number: ignored\n"));
}

TEST_F(terminal_chooser, EmptyLineEndOfInputOrNoValidNumberCancel) {
    for (const char* typed : {"\n", "", "   \n", "0 4 x\n"}) {
        const chooser_result result = choose(typed);
        EXPECT_EQ(result.status, cancelled) << '"' << typed << '"';
        EXPECT_THAT(result.strings, IsEmpty());
    }
}

TEST_F(terminal_chooser, MissingOrEmptyFolderIsSaidAndCancelled) {
    std::istringstream input("1\n");
    const chooser_result missing = choose_on_terminal("t", scratch.path + "/nowhere", input, messages);
    EXPECT_EQ(missing.status, cancelled);
    EXPECT_THAT(messages.str(), HasSubstr("nowhere: no such folder"));

    std::filesystem::create_directory(scratch.path + "/empty");
    std::filesystem::create_directory(scratch.path + "/empty/only_a_folder");
    const chooser_result empty = choose_on_terminal("t", scratch.path + "/empty", input, messages);
    EXPECT_EQ(empty.status, cancelled);
    EXPECT_THAT(messages.str(), HasSubstr("empty: no files to choose from"));
    // Nothing was read: the answer was never asked for.
    std::string left;
    EXPECT_TRUE(std::getline(input, left));
    EXPECT_EQ(left, "1");
}

}  // namespace
