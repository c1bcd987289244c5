#include "platform/linux/chooser/chooser_paths.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/linux/chooser/chooser_backend.h"

using ::testing::ElementsAre;

namespace {

constexpr auto chosen = chooser_result::outcome::chosen;
constexpr auto cancelled = chooser_result::outcome::cancelled;

TEST(parse_chooser_output, one_path_is_the_full_path_alone) {
    const chooser_result with_newline = parse_chooser_output("/home/u/DATA/a.txt\n");
    EXPECT_EQ(with_newline.status, chosen);
    EXPECT_THAT(with_newline.strings, ElementsAre("/home/u/DATA/a.txt"));

    const chooser_result without_newline = parse_chooser_output("/home/u/DATA/a.txt");
    EXPECT_EQ(without_newline.status, chosen);
    EXPECT_THAT(without_newline.strings, ElementsAre("/home/u/DATA/a.txt"));
}

TEST(parse_chooser_output, several_paths_in_one_folder_give_the_folder_then_names_in_printed_order) {
    const chooser_result result = parse_chooser_output("/d/DATA/b.txt\n/d/DATA/a.txt\n/d/DATA/c.txt\n");
    EXPECT_EQ(result.status, chosen);
    EXPECT_THAT(result.strings, ElementsAre("/d/DATA", "b.txt", "a.txt", "c.txt"));

    EXPECT_THAT(parse_chooser_output("/d/DATA/b.txt\n/d/DATA/a.txt").strings,
                ElementsAre("/d/DATA", "b.txt", "a.txt"));
}

TEST(parse_chooser_output, blanks_and_other_separators_stay_inside_names) {
    const chooser_result result =
        parse_chooser_output("/my tones/low notes.txt\n/my tones/a|b, c.txt\n/my tones/ lead.txt \n");
    EXPECT_EQ(result.status, chosen);
    EXPECT_THAT(result.strings, ElementsAre("/my tones", "low notes.txt", "a|b, c.txt", " lead.txt "));
}

TEST(parse_chooser_output, no_path_is_a_cancel) {
    for (const char* text : {"", "\n", "\n\n\n"}) {
        const chooser_result result = parse_chooser_output(text);
        EXPECT_EQ(result.status, cancelled) << '"' << text << '"';
        EXPECT_TRUE(result.strings.empty());
    }
}

TEST(parse_chooser_output, blank_lines_between_paths_are_dropped) {
    EXPECT_THAT(parse_chooser_output("\n/d/a.txt\n\n/d/b.txt\n\n").strings, ElementsAre("/d", "a.txt", "b.txt"));
}

TEST(parse_chooser_output, paths_longer_than_any_fixed_buffer_survive_whole) {
    const std::string folder = "/" + std::string(150, 'f') + "/" + std::string(120, 'g');
    const std::string name = std::string(100, 'n') + ".txt";
    ASSERT_GT(folder.size() + 1 + name.size(), 260u);

    EXPECT_THAT(parse_chooser_output(folder + "/" + name + "\n").strings, ElementsAre(folder + "/" + name));
    EXPECT_THAT(parse_chooser_output(folder + "/" + name + "\n" + folder + "/b.txt\n").strings,
                ElementsAre(folder, name, "b.txt"));
}

TEST(shape_chosen_paths, files_of_several_folders_are_named_from_their_common_folder) {
    // Joined back as folder + "/" + name, every result is the path chosen.
    EXPECT_THAT(shape_chosen_paths({"/t/a/x.txt", "/t/b/y.txt", "/t/z.txt"}).strings,
                ElementsAre("/t", "a/x.txt", "b/y.txt", "z.txt"));
    EXPECT_THAT(shape_chosen_paths({"/t/ab/x.txt", "/t/a/y.txt"}).strings,
                ElementsAre("/t", "ab/x.txt", "a/y.txt"));
    EXPECT_THAT(shape_chosen_paths({"/a/x.txt", "/b/y.txt"}).strings, ElementsAre("/", "a/x.txt", "b/y.txt"));
    EXPECT_THAT(shape_chosen_paths({"/x.txt", "/y.txt"}).strings, ElementsAre("/", "x.txt", "y.txt"));
    EXPECT_THAT(shape_chosen_paths({"d/a/x.txt", "d/b/y.txt"}).strings, ElementsAre("d", "a/x.txt", "b/y.txt"));
    EXPECT_THAT(shape_chosen_paths({"a/x.txt", "b/y.txt"}).strings, ElementsAre(".", "a/x.txt", "b/y.txt"));
}

TEST(shape_chosen_paths, absolute_and_relative_paths_together_are_a_cancel) {
    EXPECT_EQ(shape_chosen_paths({"/a/x.txt", "b/y.txt"}).status, cancelled);
}

chooser_environment environment(const char* display, const char* wayland, const char* zenity, const char* kdialog,
                                bool terminal) {
    return {display, wayland, zenity, kdialog, terminal};
}

TEST(choose_backend, graphical_session_prefers_zenity_then_kdialog) {
    EXPECT_EQ(choose_backend(environment(":0", "", "/usr/bin/zenity", "/usr/bin/kdialog", true)),
              chooser_backend::zenity);
    EXPECT_EQ(choose_backend(environment("", "wayland-0", "/usr/bin/zenity", "", false)), chooser_backend::zenity);
    EXPECT_EQ(choose_backend(environment(":0", "", "", "/usr/bin/kdialog", true)), chooser_backend::kdialog);
    EXPECT_EQ(choose_backend(environment("", "wayland-0", "", "/usr/bin/kdialog", false)),
              chooser_backend::kdialog);
}

TEST(choose_backend, without_a_dialog_the_terminal_is_asked_if_there_is_one) {
    EXPECT_EQ(choose_backend(environment(":0", "", "", "", true)), chooser_backend::terminal);
    EXPECT_EQ(choose_backend(environment("", "", "/usr/bin/zenity", "/usr/bin/kdialog", true)),
              chooser_backend::terminal);
    EXPECT_EQ(choose_backend(environment(":0", "", "", "", false)), chooser_backend::none);
    EXPECT_EQ(choose_backend(environment("", "", "/usr/bin/zenity", "", false)), chooser_backend::none);
}

}  // namespace
