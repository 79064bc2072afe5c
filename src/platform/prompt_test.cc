#include "src/platform/prompt.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

namespace vespar {
namespace {

// A pipe whose read end collects what a prompt writes.
class Capture {
 public:
  Capture() { EXPECT_EQ(0, pipe2(fds_, O_CLOEXEC)); }
  ~Capture() {
    close(fds_[0]);
    if (fds_[1] >= 0) close(fds_[1]);
  }
  int fd() const { return fds_[1]; }
  // Everything written so far (closes the write end).
  std::string Text() {
    close(fds_[1]);
    fds_[1] = -1;
    std::string out;
    char buffer[512];
    for (ssize_t n; (n = read(fds_[0], buffer, sizeof buffer)) > 0;)
      out.append(buffer, n);
    return out;
  }

 private:
  int fds_[2] = {-1, -1};
};

// A pseudo-terminal: the prompt reads from its terminal side, the test types
// on the other.
class PseudoTerminal {
 public:
  PseudoTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(master_, 0);
    EXPECT_EQ(0, grantpt(master_));
    EXPECT_EQ(0, unlockpt(master_));
    terminal_ = open(ptsname(master_), O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(terminal_, 0);
  }
  ~PseudoTerminal() {
    close(terminal_);
    close(master_);
  }
  int terminal() const { return terminal_; }
  void Type(const std::string& keys) {
    ASSERT_EQ(static_cast<ssize_t>(keys.size()),
              write(master_, keys.data(), keys.size()));
  }

 private:
  int master_ = -1, terminal_ = -1;
};

TEST(ScriptedPromptTest, AnswersInOrderThenDefaults) {
  ScriptedPrompt prompt;
  prompt.Script({PromptAnswer::kYes, PromptAnswer::kCancel});
  EXPECT_EQ(PromptAnswer::kYes, prompt.Ask(u"q1", u"c1", PromptButtons::kYesNo));
  EXPECT_EQ(PromptAnswer::kCancel,
            prompt.Ask(u"q2", u"c2", PromptButtons::kOkCancel));
  EXPECT_EQ(PromptAnswer::kNo, prompt.Ask(u"q3", u"c3", PromptButtons::kYesNo));
  EXPECT_EQ(PromptAnswer::kCancel,
            prompt.Ask(u"q4", u"c4", PromptButtons::kOkCancel));
  EXPECT_EQ(PromptAnswer::kOk, prompt.Ask(u"q5", u"c5", PromptButtons::kOk));
  std::vector<ScriptedPrompt::Asked> asked = prompt.asked();
  ASSERT_EQ(5u, asked.size());
  EXPECT_EQ(u"q1", asked[0].text);
  EXPECT_EQ(u"c1", asked[0].caption);
  EXPECT_EQ(PromptButtons::kYesNo, asked[0].buttons);
  EXPECT_EQ(u"q5", asked[4].text);
  EXPECT_EQ(PromptButtons::kOk, asked[4].buttons);
}

TEST(ScriptedPromptTest, ServesSeveralThreads) {
  ScriptedPrompt prompt;
  prompt.Script(std::vector<PromptAnswer>(200, PromptAnswer::kYes));
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&] {
        for (int i = 0; i < 50; ++i)
          EXPECT_EQ(PromptAnswer::kYes, prompt.Ask(u"q", u"c", PromptButtons::kYesNo));
      });
    }
  }
  EXPECT_EQ(200u, prompt.asked().size());
  EXPECT_EQ(PromptAnswer::kNo, prompt.Ask(u"q", u"c", PromptButtons::kYesNo));
}

TEST(CurrentPromptTest, InstalledPromptServesTheWrappers) {
  EXPECT_NE(nullptr, dynamic_cast<TerminalPrompt*>(&CurrentPrompt()));
  ScriptedPrompt prompt;
  prompt.Script({PromptAnswer::kYes, PromptAnswer::kNo});
  SetPrompt(&prompt);
  EXPECT_TRUE(AskYesNo(u"overwrite?", u"Vespar Downloader"));
  EXPECT_FALSE(AskYesNo(u"again?", u"Vespar Downloader"));
  ShowMessage(u"done", u"Vespar Downloader");
  SetPrompt(nullptr);
  EXPECT_NE(nullptr, dynamic_cast<TerminalPrompt*>(&CurrentPrompt()));
  std::vector<ScriptedPrompt::Asked> asked = prompt.asked();
  ASSERT_EQ(3u, asked.size());
  EXPECT_EQ(PromptButtons::kYesNo, asked[0].buttons);
  EXPECT_EQ(u"done", asked[2].text);
  EXPECT_EQ(PromptButtons::kOk, asked[2].buttons);
}

TEST(TerminalPromptTest, WithoutATerminal) {
  static const struct {
    const char* name;
    TerminalPrompt::Fixed fixed;
    PromptButtons buttons;
    std::u16string text;
    PromptAnswer answer;
    const char* line;
  } kCases[] = {
      {"message", TerminalPrompt::Fixed::kNone, PromptButtons::kOk,
       u"\uD30C\uC77C\r\nfailed", PromptAnswer::kOk,
       "Cap: \xED\x8C\x8C\xEC\x9D\xBC failed\n"},
      {"line breaks", TerminalPrompt::Fixed::kNone, PromptButtons::kOk,
       u"a\nb\r\rc\r\n\r\nd", PromptAnswer::kOk, "Cap: a b c d\n"},
      {"question, no answer given", TerminalPrompt::Fixed::kNone,
       PromptButtons::kYesNo, u"Overwrite?", PromptAnswer::kNo,
       "Cap: Overwrite? [y/N] n\n"},
      {"ok/cancel, no answer given", TerminalPrompt::Fixed::kNone,
       PromptButtons::kOkCancel, u"Go?", PromptAnswer::kCancel,
       "Cap: Go? [y/N] n\n"},
      {"fixed yes", TerminalPrompt::Fixed::kYes, PromptButtons::kYesNo,
       u"Overwrite?", PromptAnswer::kYes, "Cap: Overwrite? [y/N] y\n"},
      {"fixed yes, ok/cancel", TerminalPrompt::Fixed::kYes,
       PromptButtons::kOkCancel, u"Go?", PromptAnswer::kOk, "Cap: Go? [y/N] y\n"},
      {"fixed no", TerminalPrompt::Fixed::kNo, PromptButtons::kYesNo,
       u"Overwrite?", PromptAnswer::kNo, "Cap: Overwrite? [y/N] n\n"},
  };
  int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(input, 0);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Capture out;
    TerminalPrompt prompt(c.fixed, input, out.fd());
    EXPECT_EQ(c.answer, prompt.Ask(c.text, u"Cap", c.buttons));
    EXPECT_EQ(c.line, out.Text());
  }
  close(input);
}

TEST(TerminalPromptTest, ReadsTheAnswerFromATerminal) {
  static const struct {
    const char* typed;
    PromptButtons buttons;
    PromptAnswer answer;
  } kCases[] = {
      {"y\n", PromptButtons::kYesNo, PromptAnswer::kYes},
      {"  YES \n", PromptButtons::kYesNo, PromptAnswer::kYes},
      {"n\n", PromptButtons::kYesNo, PromptAnswer::kNo},
      {"\n", PromptButtons::kYesNo, PromptAnswer::kNo},
      {"yeah\n", PromptButtons::kYesNo, PromptAnswer::kNo},
      {"y\n", PromptButtons::kOkCancel, PromptAnswer::kOk},
      {"x\n", PromptButtons::kOkCancel, PromptAnswer::kCancel},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.typed);
    PseudoTerminal tty;
    tty.Type(c.typed);
    Capture out;
    TerminalPrompt prompt(TerminalPrompt::Fixed::kNone, tty.terminal(), out.fd());
    EXPECT_EQ(c.answer, prompt.Ask(u"Overwrite?", u"Cap", c.buttons));
    EXPECT_EQ("Cap: Overwrite? [y/N] ", out.Text());
  }
}

TEST(TerminalPromptTest, FixedAnswerIsNotReadFromTheTerminal) {
  PseudoTerminal tty;
  tty.Type("y\n");
  Capture out;
  TerminalPrompt prompt(TerminalPrompt::Fixed::kNo, tty.terminal(), out.fd());
  EXPECT_EQ(PromptAnswer::kNo, prompt.Ask(u"Overwrite?", u"Cap", PromptButtons::kYesNo));
  EXPECT_EQ("Cap: Overwrite? [y/N] n\n", out.Text());
}

}  // namespace
}  // namespace vespar
