// quarro-render never writes over what it reads, and finds a document's relative pictures by
// one rule: beside the document first, then the current folder, with a word when it chose.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/render_cli_fixture.h"

namespace {

namespace fs = std::filesystem;

// Every spelling of an output that leads to an input is refused before anything is decoded
// or rendered, with exit 1, a reason naming the input, and the inputs byte for byte as before.
TEST_F(RenderCli, OutputsThatWouldReplaceAnInputAreRefused) {
    fs::create_directory(folder.File("sub"));
    fs::create_symlink(folder.File("a.png"), folder.File("link.png"));
    fs::create_hard_link(folder.File("b.png"), folder.File("hard_2.png"));
    ASSERT_EQ(0, scene.imageB.Save(folder.File("m_1.png")));
    fs::copy_file(folder.File("scene.mrf"), folder.File("doc.png"));
    struct Case {
        std::string command;  // run in the scene's folder
        const char* replaced;
    };
    const std::vector<Case> cases = {
        {RenderCommand({"scene.mrf", "-o", "a.png"}), "image A (a.png)"},
        {RenderCommand({"scene.mrf", "-o", "sub/../a.png"}), "image A"},
        {RenderCommand({"scene.mrf", "-o", folder.File("a.png")}), "image A"},
        {RenderCommand({"scene.mrf", "-o", "./sub/../b.png", "-t", "0"}), "image B (b.png)"},
        {RenderCommand({"scene.mrf", "-o", "link.png"}), "image A"},
        {RenderCommand({"scene.mrf", "-n", "3", "-o", "hard_%d.png"}), "image B"},
        {RenderCommand({"scene.mrf", "--image-b", "m_1.png", "-n", "3", "-o", "m_%d.png"}), "image B (m_1.png)"},
        {RenderCommand({"doc.png", "-o", "doc.png"}), "the document (doc.png)"},
        {RenderCommand({"scene.mrf", "-o", "-", "--format", "ppm"}) + " >>a.png", "image A"},
    };
    const std::vector<std::string> inputs = {"a.png", "b.png", "scene.mrf", "m_1.png", "doc.png"};
    std::vector<std::string> before;
    for (const std::string& name : inputs) before.push_back(ReadWholeFile(folder.File(name)));
    for (const Case& c : cases) {
        CliRun run = RunShell(folder, c.command);
        EXPECT_EQ(1, run.status) << c.command << "\n" << run.err;
        EXPECT_NE(std::string::npos, run.err.find(c.replaced)) << run.err;
        EXPECT_EQ(std::string::npos, run.err.find("Rendered")) << run.err;
        for (size_t i = 0; i < inputs.size(); ++i) EXPECT_EQ(before[i], ReadWholeFile(folder.File(inputs[i]))) << c.command;
    }
    // Nothing else was written either: no frame 0 of the refused sequences.
    EXPECT_FALSE(fs::exists(folder.File("hard_0.png")));
    EXPECT_FALSE(fs::exists(folder.File("m_0.png")));
}

// Run from another folder that holds its own a.png, the renderer uses the one beside the
// document, and says which one it used.
TEST_F(RenderCli, ADecoyPictureInTheCurrentFolderIsNotUsed) {
    TempFolder elsewhere;
    CPixelImage decoy;
    Paint(decoy, 41, 31, 2);
    ASSERT_EQ(0, decoy.Save(elsewhere.File("a.png")));
    CliRun run = Render(folder, {folder.File("scene.mrf"), "-q", "-o", elsewhere.File("out.png")}, elsewhere.path);
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(FileHolds(elsewhere.File("out.png"), Expected(0.5f, 0.5f)));
    EXPECT_NE(std::string::npos, run.err.find("warning: image A a.png: using " + folder.File("a.png")));
    EXPECT_NE(std::string::npos, run.err.find(elsewhere.File("a.png")));
    EXPECT_EQ(std::string::npos, run.err.find("image B"));  // b.png is beside the document only
}

// A picture path stored in a document is printed escaped: one that holds a terminal's
// retitling sequence reaches the terminal as text.
TEST_F(RenderCli, AStoredPathWithAnEscapeSequencePrintsEscaped) {
    const std::string name = "\x1b]0;owned\x07" "a.png";
    fs::rename(folder.File("a.png"), folder.File(name));
    scene.imageA.fileName = name;
    scene.imageB.fileName = "b.png";
    ASSERT_EQ(0, WriteMorphFile(folder.File("scene.mrf"), scene.settings));
    TempFolder elsewhere;
    CPixelImage decoy;
    Paint(decoy, 41, 31, 2);
    ASSERT_EQ(0, decoy.Save(elsewhere.File(name)));
    CliRun run = Render(folder, {folder.File("scene.mrf"), "-q", "-o", elsewhere.File("out.png")}, elsewhere.path);
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("warning: image A \\x1b]0;owned\\x07a.png: using " + folder.path))
        << run.err;
    EXPECT_EQ(std::string::npos, run.err.find_first_of("\x1b\x07")) << run.err;
}

TEST_F(RenderCli, AMissingPictureNamesThePlacesSearched) {
    TempFolder elsewhere;
    fs::remove(folder.File("b.png"));
    CliRun run = Render(folder, {folder.File("scene.mrf"), "-o", elsewhere.File("out.png")}, elsewhere.path);
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("quarro-render: b.png: image B is missing: looked for beside the document at " + folder.File("b.png") +
                  " and in the current folder at " + elsewhere.File("b.png") + "\n",
              run.err);
    EXPECT_FALSE(fs::exists(elsewhere.File("out.png")));
}

}  // namespace
