#include "platform/chooser_paths.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/chooser_backend.h"

using ::testing::ElementsAre;

namespace {

constexpr auto chosen = chooser_result::outcome::chosen;
constexpr auto cancelled = chooser_result::outcome::cancelled;

TEST(ParseChooserOutput, OnePathIsTheFullPathAlone) {
    const chooser_result with_newline = parse_chooser_output("/home/u/DATA/a.txt\n");
    EXPECT_EQ(with_newline.status, chosen);
    EXPECT_THAT(with_newline.strings, ElementsAre("/home/u/DATA/a.txt"));

    const chooser_result without_newline = parse_chooser_output("/home/u/DATA/a.txt");
    EXPECT_EQ(without_newline.status, chosen);
    EXPECT_THAT(without_newline.strings, ElementsAre("/home/u/DATA/a.txt"));
}

TEST(ParseChooserOutput, SeveralPathsInOneFolderGiveTheFolderThenNamesInPrintedOrder) {
    const chooser_result result = parse_chooser_output("/d/DATA/b.txt\n/d/DATA/a.txt\n/d/DATA/c.txt\n");
    EXPECT_EQ(result.status, chosen);
    EXPECT_THAT(result.strings, ElementsAre("/d/DATA", "b.txt", "a.txt", "c.txt"));

    EXPECT_THAT(parse_chooser_output("/d/DATA/b.txt\n/d/DATA/a.txt").strings,
                ElementsAre("/d/DATA", "b.txt", "a.txt"));
}

TEST(ParseChooserOutput, BlanksAndOtherSeparatorsStayInsideNames) {
    const chooser_result result =
        parse_chooser_output("/my tones/low notes.txt\n/my tones/a|b, c.txt\n/my tones/ lead.txt \n");
    EXPECT_EQ(result.status, chosen);
    EXPECT_THAT(result.strings, ElementsAre("/my tones", "low notes.txt", "a|b, c.txt", " lead.txt "));
}

TEST(ParseChooserOutput, NoPathIsACancel) {
    for (const char* text : {"", "\n", "\n\n\n"}) {
        const chooser_result result = parse_chooser_output(text);
        EXPECT_EQ(result.status, cancelled) << '"' << text << '"';
        EXPECT_TRUE(result.strings.empty());
    }
}

TEST(ParseChooserOutput, BlankLinesBetweenPathsAreDropped) {
    EXPECT_THAT(parse_chooser_output("\n/d/a.txt\n\n/d/b.txt\n\n").strings, ElementsAre("/d", "a.txt", "b.txt"));
}

TEST(ParseChooserOutput, PathsLongerThanAnyFixedBufferSurviveWhole) {
    const std::string folder = "/" + std::string(150, 'f') + "/" + std::string(120, 'g');
    const std::string name = std::string(100, 'n') + ".txt";
    ASSERT_GT(folder.size() + 1 + name.size(), 260u);

    EXPECT_THAT(parse_chooser_output(folder + "/" + name + "\n").strings, ElementsAre(folder + "/" + name));
    EXPECT_THAT(parse_chooser_output(folder + "/" + name + "\n" + folder + "/b.txt\n").strings,
                ElementsAre(folder, name, "b.txt"));
}

TEST(ShapeChosenPaths, FilesOfSeveralFoldersAreNamedFromTheirCommonFolder) {
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

TEST(ShapeChosenPaths, AbsoluteAndRelativePathsTogetherAreACancel) {
    EXPECT_EQ(shape_chosen_paths({"/a/x.txt", "b/y.txt"}).status, cancelled);
}

chooser_environment environment(const char* display, const char* wayland, const char* zenity, const char* kdialog,
                                bool terminal) {
    return {display, wayland, zenity, kdialog, terminal};
}

TEST(ChooseBackend, GraphicalSessionPrefersZenityThenKdialog) {
    EXPECT_EQ(choose_backend(environment(":0", "", "/usr/bin/zenity", "/usr/bin/kdialog", true)),
              chooser_backend::zenity);
    EXPECT_EQ(choose_backend(environment("", "wayland-0", "/usr/bin/zenity", "", false)), chooser_backend::zenity);
    EXPECT_EQ(choose_backend(environment(":0", "", "", "/usr/bin/kdialog", true)), chooser_backend::kdialog);
    EXPECT_EQ(choose_backend(environment("", "wayland-0", "", "/usr/bin/kdialog", false)),
              chooser_backend::kdialog);
}

TEST(ChooseBackend, WithoutADialogTheTerminalIsAskedIfThereIsOne) {
    EXPECT_EQ(choose_backend(environment(":0", "", "", "", true)), chooser_backend::terminal);
    EXPECT_EQ(choose_backend(environment("", "", "/usr/bin/zenity", "/usr/bin/kdialog", true)),
              chooser_backend::terminal);
    EXPECT_EQ(choose_backend(environment(":0", "", "", "", false)), chooser_backend::none);
    EXPECT_EQ(choose_backend(environment("", "", "/usr/bin/zenity", "", false)), chooser_backend::none);
}

}  // namespace
