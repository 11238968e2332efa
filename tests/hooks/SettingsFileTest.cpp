#include "hooks/SettingsFile.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "support/ChildProcess.h"
#include "support/TempHome.h"

namespace tallyloft {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using test::TempHome;

class SettingsFileTest : public TempHome {
 protected:
  fs::path settings() const { return home() / ".claude" / "settings.json"; }
  std::vector<std::string> listing() const { return TempHome::listing(settings().parent_path()); }
};

TEST_F(SettingsFileTest, LoadsAbsentAndEmptyFilesAsEmptyObjects) {
  EXPECT_EQ(loadSettingsForWrite(settings()), Json::object());
  write(settings(), "");
  EXPECT_EQ(loadSettingsForWrite(settings()), Json::object());
}

TEST_F(SettingsFileTest, RefusesWhatIsNotAJsonObject) {
  write(settings(), "[]");
  try {
    loadSettingsForWrite(settings());
    FAIL() << "a list was accepted";
  } catch (const HookInstallerError& error) {
    EXPECT_EQ(std::string(error.what()),
              settings().string() +
                  " isn't valid JSON. Fix or remove it first \u2014 your file was left untouched.");
  }
  for (const char* text : {"{\"a\":", "42", "\"text\"", "{\"a\":1} trailing", "{'a':1}"}) {
    write(settings(), text);
    EXPECT_THROW(loadSettingsForWrite(settings()), SettingsFileError) << text;
  }
  fs::remove(settings());
  fs::create_directory(settings());  // unreadable as a file
  EXPECT_THROW(loadSettingsForWrite(settings()), SettingsFileError);
  fs::remove(settings());
  ASSERT_EQ(::mkfifo(settings().c_str(), 0600), 0);  // no writer: must not wait for one
  EXPECT_THROW(loadSettingsForWrite(settings()), SettingsFileError);
  fs::remove(settings());
  fs::create_symlink("/dev/zero", settings());  // endless: must not be read
  EXPECT_THROW(loadSettingsForWrite(settings()), SettingsFileError);
}

TEST_F(SettingsFileTest, WritesSortedPrettyJsonKeepingValues) {
  const Json settings =
      Json::parse(R"({"z":1754086736007,"a":{"y":[1.5,true,null],"b":"日本語 \u00e9"},"m":-3})");
  writeSettings(settings, this->settings());
  const std::string text = read(this->settings());
  EXPECT_EQ(text,
            "{\n  \"a\": {\n    \"b\": \"日本語 é\",\n    \"y\": [\n      1.5,\n      true,\n"
            "      null\n    ]\n  },\n  \"m\": -3,\n  \"z\": 1754086736007\n}\n");
  EXPECT_EQ(Json::parse(text), settings);
}

TEST_F(SettingsFileTest, KeepsPermissionBitsAndSymbolicLinks) {
  const fs::path dotfiles = home() / "dotfiles" / "claude.json";
  write(dotfiles, "{}");
  ::chmod(dotfiles.c_str(), 0600);
  fs::create_directories(settings().parent_path());
  fs::create_symlink("../dotfiles/claude.json", settings());

  const auto backup = writeBackup(settings()).value();
  writeSettings(Json{{"k", 1}}, settings());

  EXPECT_TRUE(fs::is_symlink(settings()));
  EXPECT_EQ(Json::parse(read(dotfiles)), (Json{{"k", 1}}));
  EXPECT_EQ(fs::status(dotfiles).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(read(backup), "{}");
  EXPECT_EQ(backup.parent_path(), settings().parent_path());
  EXPECT_EQ(fs::status(backup).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  // Nothing but the link and its backup beside it: no temporary file stays.
  EXPECT_EQ(listing().size(), 2u);
}

TEST_F(SettingsFileTest, AFailedWriteLeavesTheOldFileIntact) {
  write(settings(), "{\"old\":true}");
  ::chmod(settings().c_str(), 0644);
  ::chmod(settings().parent_path().c_str(), 0555);
  const bool failed = test::inChild(
      [&] {
        try {
          writeSettings(Json{{"new", true}}, settings());
          return false;
        } catch (const SettingsFileError& error) {
          return std::string(error.what()).find("Permission denied") != std::string::npos;
        }
      },
      /*unprivileged=*/true);
  ::chmod(settings().parent_path().c_str(), 0755);
  EXPECT_TRUE(failed);
  EXPECT_EQ(read(settings()), "{\"old\":true}");
  EXPECT_EQ(listing(), std::vector<std::string>{"settings.json"});
}

// Another program replaces the file after we read it: its version stays, we write nothing.
TEST_F(SettingsFileTest, AFileReplacedMeanwhileIsNotOverwritten) {
  write(settings(), "{\"model\": \"opus\"}\n");
  SettingsText read;
  Json loaded = loadSettingsForWrite(settings(), &read);
  ASSERT_EQ(read, std::optional<std::string>("{\"model\": \"opus\"}\n"));
  write(settings(), "{\"model\": \"sonnet\", \"theirs\": true}\n");
  loaded["hooks"] = Json::object();
  try {
    writeSettings(loaded, settings(), &read);
    FAIL() << "wrote over a changed file";
  } catch (const SettingsFileError& error) {
    EXPECT_NE(std::string(error.what()).find("changed by another program"), std::string::npos);
  }
  EXPECT_EQ(TempHome::read(settings()), "{\"model\": \"sonnet\", \"theirs\": true}\n");
  EXPECT_EQ(listing(), std::vector<std::string>{"settings.json"}) << "no temporary file left";

  // A file that appeared since we found none counts as changed too; unchanged ones are written.
  const fs::path fresh = home() / ".gemini" / "settings.json";
  SettingsText none;
  loadSettingsForWrite(fresh, &none);
  EXPECT_EQ(none, std::nullopt);
  write(fresh, "{}\n");
  EXPECT_THROW(writeSettings(Json::object(), fresh, &none), SettingsFileError);
  SettingsText same;
  loadSettingsForWrite(settings(), &same);
  writeSettings(Json{{"ok", true}}, settings(), &same);
  EXPECT_EQ(TempHome::read(settings()), "{\n  \"ok\": true\n}\n");
}

TEST_F(SettingsFileTest, BackupsAreNamedByTheSecondAndPrunedToTheTenNewest) {
  const auto at = std::chrono::system_clock::time_point(std::chrono::seconds(1'764'961'633));
  EXPECT_EQ(backupName(settings(), at), "settings.json.tallyloft-bak-2025-12-05T19-07-13Z");

  // No file yet: nothing copied, and no backup named.
  EXPECT_EQ(writeBackup(settings(), at), std::nullopt);

  write(settings(), "first");
  writeBackup(settings(), at);
  write(settings(), "second");
  const auto same = writeBackup(settings(), at);  // same second: replaces the first copy
  ASSERT_TRUE(same);
  EXPECT_EQ(read(*same), "second");

  // Twelve older backups, one with no readable date, and another file's backups.
  const auto base = fs::file_time_type::clock::now() - std::chrono::hours(100);
  for (int i = 0; i < 12; ++i) {
    const fs::path old =
        settings().parent_path() /
        ("settings.json.tallyloft-bak-2020-01-01T00-00-" + std::to_string(10 + i) + "Z");
    write(old, "old");
    fs::last_write_time(old, base + std::chrono::hours(i));
  }
  fs::create_symlink("nowhere", settings().parent_path() / "settings.json.tallyloft-bak-dangling");
  write(settings().parent_path() / "other.json.tallyloft-bak-2020-01-01T00-00-00Z", "keep");
  write(settings().parent_path() / "settings.json.loftling-bak-2020-01-01T00-00-00Z", "keep");

  pruneBackups(settings(), 10);
  std::vector<std::string> expected = {"other.json.tallyloft-bak-2020-01-01T00-00-00Z",
                                       "settings.json"};
  for (int i = 3; i < 12; ++i) {
    expected.push_back("settings.json.tallyloft-bak-2020-01-01T00-00-" + std::to_string(10 + i) +
                       "Z");
  }
  expected.push_back(same->filename().string());
  expected.push_back("settings.json.loftling-bak-2020-01-01T00-00-00Z");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listing(), expected);
}

}  // namespace
}  // namespace tallyloft
