#pragma once

// Message boxes and the one Yes/No question. Any thread may ask; the front end
// decides how the question reaches the user (the window marshals it to its UI
// thread, the console uses the terminal, tests script the answers). The caller
// blocks until the question is answered.

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace vespar {

enum class PromptAnswer { kOk, kCancel, kYes, kNo };

enum class PromptButtons { kOk, kOkCancel, kYesNo };

class Prompt {
 public:
  virtual ~Prompt() = default;
  // Shows `text` in a box titled `caption` and returns the button chosen.
  virtual PromptAnswer Ask(const std::u16string& text,
                           const std::u16string& caption,
                           PromptButtons buttons) = 0;
};

// Process-wide prompt; never null (a terminal prompt until one is installed).
Prompt& CurrentPrompt();
// Installs `prompt` (borrowed; must outlive its use) or, with null, the default.
void SetPrompt(Prompt* prompt);

// Convenience wrappers over CurrentPrompt().
void ShowMessage(const std::u16string& text, const std::u16string& caption);
bool AskYesNo(const std::u16string& text, const std::u16string& caption);

// Records every question and answers from a script; thread-safe.
class ScriptedPrompt : public Prompt {
 public:
  struct Asked {
    std::u16string text;
    std::u16string caption;
    PromptButtons buttons;
  };

  // Replaces the answers still to give; they answer the next questions in
  // order. When the script runs out: Ok for kOk, Cancel for kOkCancel and No
  // for kYesNo.
  void Script(std::vector<PromptAnswer> answers);
  std::vector<Asked> asked() const;

  PromptAnswer Ask(const std::u16string& text, const std::u16string& caption,
                   PromptButtons buttons) override;

 private:
  mutable std::mutex mutex_;
  std::deque<PromptAnswer> answers_;  // GUARDED_BY(mutex_)
  std::vector<Asked> asked_;          // GUARDED_BY(mutex_)
};

// Writes every box as one line "caption: text" on standard error (every run
// of CR and LF shown as one blank). Yes/No and OK/Cancel questions add
// "[y/N]" and read the answer from standard input when it is a terminal
// ("y" or "yes" is Yes/OK, anything else No/Cancel). With a fixed answer, or
// when standard input is not a terminal, the question is answered without
// reading: the fixed answer, else No/Cancel. The descriptors can be chosen for
// tests.
class TerminalPrompt : public Prompt {
 public:
  enum class Fixed { kNone, kYes, kNo };
  explicit TerminalPrompt(Fixed fixed = Fixed::kNone, int input_fd = 0,
                          int output_fd = 2)
      : fixed_(fixed), input_fd_(input_fd), output_fd_(output_fd) {}
  PromptAnswer Ask(const std::u16string& text, const std::u16string& caption,
                   PromptButtons buttons) override;

 private:
  std::mutex mutex_;
  const Fixed fixed_;
  const int input_fd_;   // borrowed
  const int output_fd_;  // borrowed
};

}  // namespace vespar
