#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/settings.h"
#include "orb/logger.h"
#include "support/temporary_directory.h"
#include "child_process.h"

namespace fs = std::filesystem;
using orb::testing::readFile;
using app::AppSettings;

namespace {

// A temporary directory, and every log line of the program-wide logger
// captured from the console sink.
class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        temporary = std::make_unique<orb::testing::TemporaryDirectory>("settings_test");
        dir = temporary->path();
        file = dir / "decoder_settings.json";
        previousLevel = orb::logger().consoleLevel();
        orb::logger().setConsoleStream(console);
        orb::logger().setConsoleLevel(0);
    }
    void TearDown() override
    {
        orb::logger().setConsoleStream(std::cout);
        orb::logger().setConsoleLevel(previousLevel);
        temporary.reset();
    }
    void writeJson(const std::string& text) { std::ofstream(file) << text; }
    std::string log() const { return console.str(); }

    std::unique_ptr<orb::testing::TemporaryDirectory> temporary;
    fs::path dir;
    fs::path file;
    std::ostringstream console;
    int previousLevel = 3;
};

AppSettings everyFieldChanged()
{
    AppSettings s;
    s.logFileName = "runs/scan log.txt";
    s.launch = "v4l2src device=/dev/video2 ! video/x-raw,format=BGR ! appsink";
    s.logLevel = 0;
    s.logLevelConsole = 5;
    s.codeType = 1;
    s.device = 3;
    s.mode = 7;
    s.width = 1920;
    s.height = 1080;
    s.backend = 1800;
    return s;
}

void expectSame(const AppSettings& a, const AppSettings& b)
{
    EXPECT_EQ(a.logFileName, b.logFileName);
    EXPECT_EQ(a.launch, b.launch);
    EXPECT_EQ(a.logLevel, b.logLevel);
    EXPECT_EQ(a.logLevelConsole, b.logLevelConsole);
    EXPECT_EQ(a.codeType, b.codeType);
    EXPECT_EQ(a.device, b.device);
    EXPECT_EQ(a.mode, b.mode);
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
    EXPECT_EQ(a.backend, b.backend);
}

} // namespace

TEST(CodeTypeNames, ExactNamesOnly)
{
    EXPECT_EQ(app::codeTypeName(0), "BlackAndWhite");
    EXPECT_EQ(app::codeTypeName(1), "Color");
    EXPECT_EQ(app::codeTypeName(2), "");
    EXPECT_EQ(app::parseCodeTypeName("Color"), 1);
    EXPECT_EQ(app::parseCodeTypeName("BlackAndWhite"), 0);
}

TEST_F(SettingsFile, SaveAndReadBackRestoresEveryField)
{
    const AppSettings saved = everyFieldChanged();
    app::saveSettings(saved, file.string());
    EXPECT_EQ(log(), "Info\tSettings have been saved.\n");

    AppSettings loaded;
    app::readSettings(loaded, file.string());
    expectSame(loaded, saved);
    EXPECT_EQ(log(), "Info\tSettings have been saved.\nDebug\tRead settings\n");

    // Ten members in a fixed order, levels and code type by name.
    const std::string text = readFile(file);
    std::size_t at = 0;
    for (const char* member : {"\"logLevel\": \"All\"", "\"logLevelConsole\": \"Fatal\"", "\"logFileName\"",
                               "\"codeType\": \"Color\"", "\"device\": 3", "\"mode\": 7", "\"width\": 1920",
                               "\"height\": 1080", "\"backend\": 1800", "\"launch\""}) {
        const auto found = text.find(member, at);
        ASSERT_NE(found, std::string::npos) << member << " in\n" << text;
        at = found;
    }
}

TEST_F(SettingsFile, TextsSurviveWhateverTheyHold)
{
    const std::string launches[] = {"", "\"", "''", "\"quoted pipeline\"", "'single'", "a\"b", "C:\\cams\\1",
                                     "123", "line\nbreak", "{\"pipeline\": 1}", "[0]", "}", "\u00fcber \t",
                                     std::string(100000, 'l')};
    for (const std::string& launch : launches) {
        AppSettings saved;
        saved.launch = launch;
        saved.logFileName = launch;
        ASSERT_TRUE(app::writeSettingsFile(saved, file.string()));
        AppSettings loaded;
        ASSERT_TRUE(app::readSettingsFile(loaded, file.string())) << readFile(file);
        EXPECT_EQ(loaded.launch, launch);
        EXPECT_EQ(loaded.logFileName, launch);
    }
    // Bytes that are not UTF-8 cannot stand in JSON: replaced, and said so, rather than a failed save.
    AppSettings latin1;
    latin1.launch = "caf\xe9";
    ASSERT_TRUE(app::writeSettingsFile(latin1, file.string()));
    EXPECT_EQ(log(), "Warning\tSettings member 'launch' is not UTF-8 text: its other bytes are saved as "
                     "replacement characters\n");
    AppSettings loaded;
    ASSERT_TRUE(app::readSettingsFile(loaded, file.string()));
    EXPECT_EQ(loaded.launch, "caf\xef\xbf\xbd");
}

// "}" as the launch string crashed the save; the others were stored as
// structures or lost their backslash.
TEST_F(SettingsFile, TextsStartingWithBracketsSurvive)
{
    for (const std::string launch : {"}", "]", "{", "[1, 2]", "{\"a\": 1}", "\\{x", "\\]"}) {
        AppSettings saved;
        saved.launch = launch;
        ASSERT_TRUE(app::writeSettingsFile(saved, file.string())) << launch;
        AppSettings loaded;
        ASSERT_TRUE(app::readSettingsFile(loaded, file.string())) << readFile(file);
        EXPECT_EQ(loaded.launch, launch);
    }
}

TEST_F(SettingsFile, MissingFileKeepsDefaults)
{
    AppSettings settings;
    app::readSettings(settings, file.string());
    expectSame(settings, AppSettings());
    EXPECT_EQ(log(), "Warning\tSettings not found!\n");

    app::readSettings(settings, (dir / "no" / "dir" / "x.json").string());
    EXPECT_EQ(log(), "Warning\tSettings not found!\nWarning\tSettings not found!\n");
}

TEST_F(SettingsFile, MissingMembersReadAsTheirFallbacks)
{
    writeJson("{ \"device\": 2, \"unknown\": \"ignored\" }");
    AppSettings settings = everyFieldChanged();
    app::readSettings(settings, file.string());
    EXPECT_EQ(settings.device, 2);
    EXPECT_EQ(settings.mode, 0);
    EXPECT_EQ(settings.logFileName, "");
    EXPECT_EQ(settings.launch, "");
    EXPECT_EQ(settings.logLevel, 2);
    EXPECT_EQ(settings.logLevelConsole, 2);
    EXPECT_EQ(settings.codeType, 0);
    EXPECT_EQ(settings.width, 0);
    EXPECT_EQ(settings.backend, 0);
    EXPECT_EQ(log(), "Debug\tRead settings\n");
}

TEST_F(SettingsFile, UnknownNamesAreNamedAndTheFileKeptAside)
{
    const std::string content =
        "{ \"logLevel\": \"Verbose\", \"logLevelConsole\": \"warning\", \"codeType\": \"colour\" }";
    writeJson(content);
    AppSettings settings;
    settings.logLevel = 0;
    app::readSettings(settings, file.string());
    EXPECT_EQ(settings.logLevel, 2);
    EXPECT_EQ(settings.logLevelConsole, 2);
    EXPECT_EQ(settings.codeType, 0);
    EXPECT_EQ(log(), "Warning\tSettings member 'logLevel' must be one of All, Debug, Info, Warning, Error, Fatal, Off, "
                     "not \"Verbose\": changed to Info\n"
                     "Warning\tSettings member 'logLevelConsole' must be one of All, Debug, Info, Warning, Error, "
                     "Fatal, Off, not \"warning\": changed to Info\n"
                     "Warning\tWrong CodeType: changed to BlackAndWhite\n"
                     "Warning\tSettings file '" + file.string() + "' kept as '" + file.string() +
                         ".bad'; the members that could be read are used, and saved on exit\n");
    EXPECT_EQ(readFile(dir / "decoder_settings.json.bad"), content);

    // An out-of-range level is stored as "Undefined" and comes back as Info, quietly.
    settings.logLevel = 9;
    ASSERT_TRUE(app::writeSettingsFile(settings, file.string()));
    settings.logLevel = 0;
    ASSERT_TRUE(app::readSettingsFile(settings, file.string()));
    EXPECT_EQ(settings.logLevel, 2);
}

TEST_F(SettingsFile, UnparseableFileIsKeptAsideNotOverwritten)
{
    // The last two once crashed the parser of an earlier settings reader.
    const std::string contents[] = {"{ \"device\": 2, ", "garbage", "null", "[1, 2]", "", "<?xml veon=",
                                    "%YAML:1.0\n---\ndevice: 3\n"};
    for (const std::string& content : contents) {
        writeJson(content);
        AppSettings settings;
        app::readSettings(settings, file.string());
        expectSame(settings, AppSettings());
        EXPECT_FALSE(fs::exists(file)) << content;
        app::saveSettings(settings, file.string());
    }
    // Each broken file kept under a name of its own, none overwritten.
    EXPECT_EQ(readFile(dir / "decoder_settings.json.bad"), contents[0]);
    EXPECT_EQ(readFile(dir / "decoder_settings.json.bad.2"), contents[1]);
    EXPECT_EQ(readFile(dir / "decoder_settings.json.bad.5"), contents[4]);
    EXPECT_NE(log().find("Error\tError: the settings are null, not a JSON object\n"
                         "Warning\tSettings file '" + file.string() + "' kept as '" + file.string() +
                         ".bad.3'; the defaults are used, and saved on exit\n"
                         "Warning\tSettings have not been read.\n"),
              std::string::npos)
        << log();
    AppSettings saved;
    EXPECT_TRUE(app::readSettingsFile(saved, file.string()));
    expectSame(saved, AppSettings());
}

TEST_F(SettingsFile, EveryGoodMemberIsReadAndEachBadOneNamed)
{
    const std::string content = "{ \"device\": \"two\", \"logFileName\": \"a.txt\", \"width\": 99999999999999, "
                                "\"codeType\": \"Color\", \"height\": -4, \"backend\": 2.5, \"mode\": 5, "
                                "\"launch\": [\"x\"], \"logLevel\": \"Debug\" }";
    writeJson(content);
    AppSettings settings;
    app::readSettings(settings, file.string());
    EXPECT_EQ(settings.logFileName, "a.txt");
    EXPECT_EQ(settings.codeType, 1);
    EXPECT_EQ(settings.mode, 5);
    EXPECT_EQ(settings.logLevel, 1);
    // The bad ones keep the defaults.
    EXPECT_EQ(settings.device, 0);
    EXPECT_EQ(settings.width, 0);
    EXPECT_EQ(settings.height, 0);
    EXPECT_EQ(settings.backend, 0);
    EXPECT_EQ(settings.launch, "");
    EXPECT_EQ(log(), "Warning\tSettings member 'device' must be an integer >= 0, not \"two\": ignored\n"
                     "Warning\tSettings member 'width' must be an integer >= 0, not 99999999999999: ignored\n"
                     "Warning\tSettings member 'height' must be an integer >= 0, not -4: ignored\n"
                     "Warning\tSettings member 'backend' must be an integer >= 0, not 2.5: ignored\n"
                     "Warning\tSettings member 'launch' must be a string, not [\"x\"]: ignored\n"
                     "Warning\tSettings file '" + file.string() + "' kept as '" + file.string() +
                         ".bad'; the members that could be read are used, and saved on exit\n");
    EXPECT_EQ(readFile(dir / "decoder_settings.json.bad"), content);
}

TEST_F(SettingsFile, EntryThatIsNotAFileIsNeitherReadNorReplaced)
{
    fs::create_directory(file);
    AppSettings settings;
    app::readSettings(settings, file.string());
    EXPECT_EQ(log(), "Error\tSettings file cannot be opened for reading!\n"
                     "Error\tError: '" + file.string() + "': not a regular file\n"
                     "Warning\tSettings file '" + file.string() + "' is left as it is; the defaults are used, and "
                     "not saved on exit\nWarning\tSettings have not been read.\n");
    app::saveSettings(settings, file.string());
    EXPECT_NE(log().find("Error\tError: the settings file '" + file.string() + "' could not be read, so it is not "
                         "replaced\nWarning\tSettings have not been saved.\n"),
              std::string::npos)
        << log();
    EXPECT_TRUE(fs::is_directory(file));
    // Saving over a directory that was never read is refused all the same.
    const fs::path folder = dir / "folder.json";
    fs::create_directory(folder);
    app::saveSettings(settings, folder.string());
    EXPECT_NE(log().find("Error\tSettings file cannot be opened for writing!\n"), std::string::npos) << log();
    EXPECT_TRUE(fs::is_directory(folder));

    // A link to a device that takes nothing: never reported as saved, the device left alone.
    const fs::path device = dir / "device.json";
    fs::create_symlink("/dev/full", device);
    app::saveSettings(settings, device.string());
    EXPECT_EQ(log().find("Settings have been saved."), std::string::npos) << log();
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    EXPECT_TRUE(fs::is_symlink(device));
}

TEST_F(SettingsFile, UnwritablePlaceIsReported)
{
    app::saveSettings(AppSettings(), (dir / "no" / "such" / "decoder_settings.json").string());
    EXPECT_EQ(log().rfind("Error\tSettings file cannot be opened for writing!\nError\tError: '", 0), 0u) << log();
    EXPECT_NE(log().find("' cannot be created: No such file or directory\nWarning\tSettings have not been saved.\n"),
              std::string::npos)
        << log();
}

// A write that fails part way (here the process's file size limit, as a full
// disk would) leaves the old file whole, no temporary file behind, and says so.
TEST_F(SettingsFile, WritingReplacesTheFileWholeOrNotAtAll)
{
    fs::create_symlink("kept.json", file); // a linked settings file stays linked
    AppSettings settings = everyFieldChanged();
    app::saveSettings(settings, file.string());
    ASSERT_TRUE(fs::is_symlink(file));
    const std::string before = readFile(dir / "kept.json");
    ASSERT_NE(before.find("\"device\": 3"), std::string::npos);

    settings.launch = std::string(100000, 'v');
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    const rlimit small{4096, previous.rlim_max};
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    app::saveSettings(settings, file.string());
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_NE(log().find("File too large\nWarning\tSettings have not been saved.\n"), std::string::npos) << log();
    EXPECT_EQ(readFile(dir / "kept.json"), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2) << "no temporary file left";
}

TEST_F(SettingsFile, FailedExistenceQueryCountsAsUnreadable)
{
    // A symbolic link to itself exists but cannot be resolved.
    fs::create_symlink(file.filename(), file);
    AppSettings settings;
    app::readSettings(settings, file.string());
    expectSame(settings, AppSettings());
    EXPECT_EQ(log(), "Error\tSettings file cannot be opened for reading!\nWarning\tSettings file '" + file.string() +
                         "' is left as it is; the defaults are used, and not saved on exit\n"
                         "Warning\tSettings have not been read.\n");
}

// 100,000 nested brackets once overflowed the stack while the bad value was
// shown, and the file stayed in place to do it again on every start.
TEST_F(SettingsFile, DeepNestingIsRefusedAndKeptAside)
{
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    const std::string contents[] = {deep, "{ \"launch\": " + deep + " }", "{ \"unknown\": " + deep + ", \"device\": 2 }"};
    int copy = 0;
    for (const std::string& content : contents) {
        writeJson(content);
        AppSettings settings;
        app::readSettings(settings, file.string());
        expectSame(settings, AppSettings());
        EXPECT_FALSE(fs::exists(file));
        const fs::path aside = dir / ("decoder_settings.json.bad" + (++copy == 1 ? "" : "." + std::to_string(copy)));
        EXPECT_EQ(readFile(aside), content);
    }
    EXPECT_EQ(testing_support::countOf(log(), "Error\tError: the settings nest values more than 32 deep\n"), 3)
        << log().substr(0, 2000);

    // What a settings file may hold still reads, unknown structures included.
    writeJson("{ \"unknown\": " + std::string(31, '[') + std::string(31, ']') + ", \"device\": 2 }");
    AppSettings settings;
    EXPECT_TRUE(app::readSettingsFile(settings, file.string()));
    EXPECT_EQ(settings.device, 2);
}

TEST_F(SettingsFile, BadValuesAndErrorsAreShownShort)
{
    const std::string longText(100000, 'x');
    AppSettings settings;
    writeJson("{ \"launch\": [\"" + longText + "\"], \"logLevel\": \"" + longText + "\" }");
    app::readSettingsFile(settings, file.string());
    writeJson("{ \"launch\": \"" + longText); // the parser's message quotes the unfinished text
    app::readSettingsFile(settings, file.string());

    std::istringstream lines(log());
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) EXPECT_LT(line.size(), 250u) << line.substr(0, 300);
    EXPECT_EQ(count, 3) << log().substr(0, 1000);
    EXPECT_NE(log().find("'launch' must be a string, not [\"" + std::string(35, 'x') + "...: ignored\n"),
              std::string::npos)
        << log().substr(0, 1000);
}

// A file this user may not read was replaced by the defaults on exit, and
// what the user had was lost. Root reads any file, so as root the check runs
// in a child that has become "nobody".
TEST_F(SettingsFile, FileThatCannotBeReadIsNeverReplaced)
{
    const std::string content = "{ \"device\": 4 }";
    writeJson(content);
    fs::permissions(file, fs::perms::none);
    const auto readAndSave = [&] {
        AppSettings settings;
        app::readSettings(settings, file.string());
        app::saveSettings(settings, file.string());
        return settings.device == 0 && log().find("': Permission denied\n") != std::string::npos &&
               log().find("could not be read, so it is not replaced\nWarning\tSettings have not been saved.\n") !=
                   std::string::npos;
    };
    if (geteuid() != 0) {
        EXPECT_TRUE(readAndSave()) << log();
    } else {
        const passwd* nobody = getpwnam("nobody");
        if (nobody == nullptr) GTEST_SKIP() << "no unprivileged user to run as";
        fs::permissions(dir, fs::perms::all);
        const pid_t child = fork();
        if (child == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) _exit(2);
            _exit(readAndSave() ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot become an unprivileged user";
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(readFile(file), content);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << "no copy, no temporary";
}
