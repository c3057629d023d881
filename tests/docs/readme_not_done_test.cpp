// The README's "What the system does not do (yet)" against the code: each
// message by which the engine says that it does not do something yet has a
// bullet naming it, and each bullet names a message the code can still give.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/consumers.h"

namespace fs = std::filesystem;

namespace {

// The message keys of the engine's table (data/messages.tsv).
std::set<std::string> messageKeys() {
  std::set<std::string> keys;
  std::istringstream lines(tavtest::readFile(tavtest::sourceDir() / "data" / "messages.tsv"));
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    const auto tab = line.find('\t');
    if (tab != std::string::npos) keys.insert(line.substr(0, tab));
  }
  return keys;
}

// The string literals of a C++ source, comments left out.
std::vector<std::string> stringLiterals(const std::string& text) {
  std::vector<std::string> found;
  for (std::size_t i = 0; i < text.size();) {
    if (text.compare(i, 2, "//") == 0) {
      i = text.find('\n', i);
      if (i == std::string::npos) break;
    } else if (text.compare(i, 2, "/*") == 0) {
      i = text.find("*/", i + 2);
      if (i == std::string::npos) break;
      i += 2;
    } else if (text.compare(i, 2, "R\"") == 0 && (i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1])))) {
      const std::size_t open = text.find('(', i + 2);
      if (open == std::string::npos) break;
      const std::string close = ")" + text.substr(i + 2, open - i - 2) + "\"";
      const std::size_t end = text.find(close, open + 1);
      if (end == std::string::npos) break;
      found.push_back(text.substr(open + 1, end - open - 1));
      i = end + close.size();
    } else if (text[i] == '"' || text[i] == '\'') {
      const char quote = text[i];
      std::string literal;
      for (++i; i < text.size() && text[i] != quote; ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) ++i;
        literal += text[i];
      }
      ++i;
      if (quote == '"') found.push_back(literal);
    } else {
      ++i;
    }
  }
  return found;
}

// Keys by which the engine says it leaves something out or cannot do it yet.
bool saysNotDone(const std::string& key) {
  for (const char* tail : {"NOT SUPPORTED YET", "NOT WRITTEN YET", "NOT FLATTENED", "LEFT OUT"})
    if (key.find(tail) != std::string::npos) return true;
  return false;
}

// The bullets of the README's section, each as one text.
std::vector<std::string> notDoneBullets() {
  const std::string readme = tavtest::readFile(tavtest::sourceDir() / "README.md");
  const std::string heading = "## What the system does not do (yet)\n";
  const auto start = readme.find(heading);
  if (start == std::string::npos) return {};
  const auto end = readme.find("\n## ", start + heading.size());
  std::istringstream lines(readme.substr(start + heading.size(), end == std::string::npos ? end : end - start - heading.size()));
  std::vector<std::string> bullets;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("- ", 0) == 0) {
      bullets.push_back(line.substr(2));
    } else if (!bullets.empty() && line.rfind("  ", 0) == 0) {
      bullets.back() += " " + line.substr(2);
    }
  }
  return bullets;
}

}  // namespace

TEST(ReadmeNotDone, BulletsAndTheMessagesOfWhatIsNotBuiltAgree) {
  const std::set<std::string> keys = messageKeys();
  // Where the code can still give each key: the sources' literals.
  std::map<std::string, std::set<std::string>> emittedBy;
  for (const auto& entry : fs::recursive_directory_iterator(tavtest::sourceDir() / "src")) {
    const std::string ext = entry.path().extension().string();
    if (ext != ".cpp" && ext != ".h") continue;
    for (const std::string& literal : stringLiterals(tavtest::readFile(entry.path())))
      if (keys.count(literal) != 0) emittedBy[literal].insert(entry.path().filename().string());
  }
  ASSERT_FALSE(emittedBy.empty());

  const std::vector<std::string> bullets = notDoneBullets();
  ASSERT_FALSE(bullets.empty()) << "the README has no \"What the system does not do (yet)\" list";
  std::set<std::string> named;
  const std::regex quoted("\"([^\"]+)\"");
  for (const std::string& bullet : bullets) {
    std::set<std::string> own;
    for (std::sregex_iterator it(bullet.begin(), bullet.end(), quoted), end; it != end; ++it)
      if (keys.count((*it)[1]) != 0) own.insert((*it)[1]);
    // A bullet names the message a user sees, and the code still gives it.
    EXPECT_FALSE(own.empty()) << "a bullet without a message: " << bullet;
    for (const std::string& key : own)
      EXPECT_NE(emittedBy.count(key), 0u) << "a bullet names \"" << key << "\", which no code gives: " << bullet;
    named.insert(own.begin(), own.end());
  }
  for (const auto& [key, files] : emittedBy) {
    if (!saysNotDone(key)) continue;
    EXPECT_NE(named.count(key), 0u) << "\"" << key << "\" (given in " << *files.begin()
                                    << ") has no bullet in the README";
  }
}

// The literal scanner the test stands on: comments are no code, escapes and
// raw strings are read whole.
TEST(ReadmeNotDone, LiteralsOfCodeNotOfComments) {
  const std::string source = R"src(
    // message("IN A LINE COMMENT");
    /* message("IN A BLOCK COMMENT"); */
    show("A/KEY", 'x', "with \"quotes\"", R"x(raw "text")x");
  )src";
  EXPECT_EQ(stringLiterals(source), (std::vector<std::string>{"A/KEY", "with \"quotes\"", "raw \"text\""}));
}

// The job format's page names every example job that comes with the source.
TEST(JobFormatDoc, NamesEveryBundledExample) {
  const std::string doc = tavtest::readFile(tavtest::sourceDir() / "docs" / "job-format.md");
  int examples = 0;
  for (const auto& entry : fs::recursive_directory_iterator(tavtest::sourceDir() / "examples")) {
    if (entry.path().extension() != ".json") continue;
    ++examples;
    const std::string name = "`examples/" + fs::relative(entry.path(), tavtest::sourceDir() / "examples").generic_string() + "`";
    EXPECT_NE(doc.find(name), std::string::npos) << name << " is not named in docs/job-format.md";
  }
  EXPECT_GT(examples, 0);
}
