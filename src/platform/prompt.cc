#include "src/platform/prompt.h"

#include <errno.h>
#include <unistd.h>

#include <atomic>
#include <string_view>

#include "src/platform/code_page.h"

namespace vespar {
namespace {

std::atomic<Prompt*> g_installed{nullptr};

Prompt& DefaultPrompt() {
  static TerminalPrompt* prompt = new TerminalPrompt;  // outlives every caller
  return *prompt;
}

PromptAnswer Positive(PromptButtons buttons) {
  return buttons == PromptButtons::kYesNo ? PromptAnswer::kYes
                                          : PromptAnswer::kOk;
}

PromptAnswer Negative(PromptButtons buttons) {
  switch (buttons) {
    case PromptButtons::kOk:
      return PromptAnswer::kOk;
    case PromptButtons::kOkCancel:
      return PromptAnswer::kCancel;
    case PromptButtons::kYesNo:
      return PromptAnswer::kNo;
  }
  return PromptAnswer::kCancel;
}

// "caption: text" on one line: every run of CR and LF becomes one blank.
std::string OneLine(const std::u16string& text, const std::u16string& caption) {
  std::string out = ToUtf8(caption) + ": ";
  bool in_break = false;
  for (char c : ToUtf8(text)) {
    bool is_break = c == '\r' || c == '\n';
    if (is_break && !in_break) out.push_back(' ');
    if (!is_break) out.push_back(c);
    in_break = is_break;
  }
  return out;
}

void WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes.remove_prefix(n);
  }
}

// Reads one line from `fd` (without its end); false at end of input.
bool ReadLine(int fd, std::string* line) {
  constexpr size_t kMaxLine = 256;
  line->clear();
  char c;
  for (;;) {
    ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return !line->empty();
    if (c == '\n') return true;
    if (line->size() < kMaxLine) line->push_back(c);
  }
}

bool IsYes(std::string answer) {
  while (!answer.empty() && (answer.back() == ' ' || answer.back() == '\r'))
    answer.pop_back();
  size_t start = answer.find_first_not_of(' ');
  answer = start == std::string::npos ? "" : answer.substr(start);
  return answer == "y" || answer == "Y" || answer == "yes" ||
         answer == "Yes" || answer == "YES";
}

}  // namespace

Prompt& CurrentPrompt() {
  Prompt* installed = g_installed.load(std::memory_order_acquire);
  return installed ? *installed : DefaultPrompt();
}

void SetPrompt(Prompt* prompt) {
  g_installed.store(prompt, std::memory_order_release);
}

void ShowMessage(const std::u16string& text, const std::u16string& caption) {
  CurrentPrompt().Ask(text, caption, PromptButtons::kOk);
}

bool AskYesNo(const std::u16string& text, const std::u16string& caption) {
  return CurrentPrompt().Ask(text, caption, PromptButtons::kYesNo) ==
         PromptAnswer::kYes;
}

void ScriptedPrompt::Script(std::vector<PromptAnswer> answers) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.assign(answers.begin(), answers.end());
}

std::vector<ScriptedPrompt::Asked> ScriptedPrompt::asked() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return asked_;
}

PromptAnswer ScriptedPrompt::Ask(const std::u16string& text,
                                 const std::u16string& caption,
                                 PromptButtons buttons) {
  std::lock_guard<std::mutex> lock(mutex_);
  asked_.push_back({text, caption, buttons});
  if (answers_.empty()) return Negative(buttons);
  PromptAnswer answer = answers_.front();
  answers_.pop_front();
  return answer;
}

PromptAnswer TerminalPrompt::Ask(const std::u16string& text,
                                 const std::u16string& caption,
                                 PromptButtons buttons) {
  // One question at a time, and lines from several threads never mix.
  std::lock_guard<std::mutex> lock(mutex_);
  std::string line = OneLine(text, caption);
  if (buttons == PromptButtons::kOk) {
    WriteAll(output_fd_, line + "\n");
    return PromptAnswer::kOk;
  }
  line += " [y/N] ";
  if (fixed_ != Fixed::kNone || !isatty(input_fd_)) {
    bool yes = fixed_ == Fixed::kYes;
    WriteAll(output_fd_, line + (yes ? "y\n" : "n\n"));
    return yes ? Positive(buttons) : Negative(buttons);
  }
  WriteAll(output_fd_, line);
  std::string reply;
  bool got = ReadLine(input_fd_, &reply);
  if (!got) WriteAll(output_fd_, "\n");
  return got && IsYes(reply) ? Positive(buttons) : Negative(buttons);
}

}  // namespace vespar
