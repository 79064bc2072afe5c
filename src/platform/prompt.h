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

  // Answers given to the questions in order; when the script runs out, Ok for
  // kOk, Cancel for kOkCancel and No for kYesNo.
  void Script(std::vector<PromptAnswer> answers);
  std::vector<Asked> asked() const;

  PromptAnswer Ask(const std::u16string& text, const std::u16string& caption,
                   PromptButtons buttons) override;

 private:
  mutable std::mutex mutex_;
  std::deque<PromptAnswer> answers_;  // GUARDED_BY(mutex_)
  std::vector<Asked> asked_;          // GUARDED_BY(mutex_)
};

// Writes every box as one line "caption: text" on standard error. Yes/No and
// OK/Cancel questions are read from the terminal; when standard input is not a
// terminal, or a fixed answer was set, that answer is used without reading.
class TerminalPrompt : public Prompt {
 public:
  enum class Fixed { kNone, kYes, kNo };
  explicit TerminalPrompt(Fixed fixed = Fixed::kNone) : fixed_(fixed) {}
  PromptAnswer Ask(const std::u16string& text, const std::u16string& caption,
                   PromptButtons buttons) override;

 private:
  std::mutex mutex_;
  Fixed fixed_;
};

}  // namespace vespar
