// Message boxes without a window system: a host's handler, else a question on the
// controlling terminal, else the box written to standard error and answered with its
// default button, so a process without a terminal never waits for an answer.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/posix/PosixServices.h"
#include "vx380/PosixPlatform.h"

namespace vx380::posix {

namespace {

constexpr Long kOk = 1, kCancel = 2, kAbort = 3, kRetry = 4, kIgnore = 5, kYes = 6, kNo = 7, kTryAgain = 10,
               kContinue = 11;

struct Button {
  Long answer;
  const char* label;
  char hotkey;
};

constexpr Button kOkButton{kOk, "OK", 'o'};
constexpr Button kCancelButton{kCancel, "Cancel", 'c'};

struct Box {
  std::vector<Button> buttons;
  std::size_t defaultIndex = 0;
  std::string title;
  std::string prompt;
  const char* icon = nullptr;

  Box(const String& promptText, Long style, const String& titleText) {
    switch (style & 0xF) {
      case 1:
        buttons = {kOkButton, kCancelButton};
        break;
      case 2:
        buttons = {{kAbort, "Abort", 'a'}, {kRetry, "Retry", 'r'}, {kIgnore, "Ignore", 'i'}};
        break;
      case 3:
        buttons = {{kYes, "Yes", 'y'}, {kNo, "No", 'n'}, kCancelButton};
        break;
      case 4:
        buttons = {{kYes, "Yes", 'y'}, {kNo, "No", 'n'}};
        break;
      case 5:
        buttons = {{kRetry, "Retry", 'r'}, kCancelButton};
        break;
      case 6:
        buttons = {kCancelButton, {kTryAgain, "Try Again", 't'}, {kContinue, "Continue", 'o'}};
        break;
      default:
        buttons = {kOkButton};
        break;
    }
    // As on Windows, a default button beyond the last one falls back to the first.
    const auto index = static_cast<std::size_t>((style >> 8) & 0xF);
    defaultIndex = index < buttons.size() ? index : 0;
    switch (style & 0xF0) {
      case 0x10:
        icon = "Error";
        break;
      case 0x20:
        icon = "Question";
        break;
      case 0x30:
        icon = "Warning";
        break;
      case 0x40:
        icon = "Information";
        break;
      default:
        break;
    }
    title = ToUtf8(titleText.empty() ? kDefaultBoxTitle : titleText);
    // Prompts are written with CR LF line ends; a terminal wants LF.
    for (const char c : ToUtf8(promptText))
      if (c != '\r') prompt.push_back(c);
  }

  // Escape on Windows: Cancel when there is one, OK for a lone OK button.
  Long Dismissed() const {
    for (const Button& b : buttons)
      if (b.answer == kCancel) return kCancel;
    return buttons[defaultIndex].answer;
  }

  std::string Heading() const {
    std::string text = "\n--- ";
    text += title;
    if (icon) text += std::string(" [") + icon + "]";
    return text + " ---\n" + prompt + "\n";
  }
};

struct HandlerSlot {
  std::mutex mutex;
  MessageBoxHandler handler;
};

HandlerSlot& Slot() {
  static HandlerSlot* slot = new HandlerSlot;  // never destroyed: boxes may come at exit
  return *slot;
}

std::mutex& TerminalMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

void WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// A line typed on the terminal; false at end of input.
bool ReadLine(int fd, std::string& line) {
  line.clear();
  char c;
  while (true) {
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return !line.empty();
    if (c == '\n') return true;
    if (line.size() < 256) line.push_back(c);
  }
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The button a typed answer names: its hotkey, its label or its number; nullptr for none.
const Button* Match(const Box& box, const std::string& typed) {
  const std::size_t first = typed.find_first_not_of(" \t\r");
  if (first == std::string::npos) return &box.buttons[box.defaultIndex];
  const std::string answer = Lower(typed.substr(first, typed.find_last_not_of(" \t\r") - first + 1));
  for (std::size_t i = 0; i < box.buttons.size(); ++i) {
    const Button& b = box.buttons[i];
    if (answer == std::string(1, b.hotkey) || answer == Lower(b.label) || answer == std::to_string(i + 1)) return &b;
  }
  return nullptr;
}

std::string Choices(const Box& box) {
  std::string text;
  for (std::size_t i = 0; i < box.buttons.size(); ++i) {
    const Button& b = box.buttons[i];
    if (i) text += "  ";
    std::string label = b.label;
    // Show the hotkey inside the label, e.g. "(Y)es", "C(o)ntinue".
    for (std::size_t k = 0; k < label.size(); ++k) {
      if (Lower(label.substr(k, 1))[0] == b.hotkey) {
        label = label.substr(0, k) + "(" + label[k] + ")" + label.substr(k + 1);
        break;
      }
    }
    text += label;
  }
  return text + " [" + box.buttons[box.defaultIndex].label + "]? ";
}

Long AskOnTerminal(int tty, const Box& box) {
  std::lock_guard lock(TerminalMutex());  // one modal box at a time
  WriteAll(tty, box.Heading());
  std::string line;
  while (true) {
    WriteAll(tty, Choices(box));
    if (!ReadLine(tty, line)) {
      WriteAll(tty, "\n");
      return box.Dismissed();
    }
    if (const Button* chosen = Match(box, line)) return chosen->answer;
  }
}

Long AnswerOnStderr(const Box& box) {
  std::string text = box.Heading() + "[";
  for (std::size_t i = 0; i < box.buttons.size(); ++i) {
    if (i) text += " / ";
    text += box.buttons[i].label;
  }
  text += "] -> ";
  text += box.buttons[box.defaultIndex].label;
  text += " (default button, no terminal)\n";
  WriteAll(STDERR_FILENO, text);
  return box.buttons[box.defaultIndex].answer;
}

// The controlling terminal when this process may ask on it: stdin is a terminal and the
// process is in the foreground (a background job reading it would be stopped).
int OpenTerminal() {
  if (!::isatty(STDIN_FILENO)) return -1;
  const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (tty < 0) return -1;
  if (::tcgetpgrp(tty) != ::getpgrp()) {
    ::close(tty);
    return -1;
  }
  return tty;
}

}  // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  HandlerSlot& slot = Slot();
  std::lock_guard lock(slot.mutex);
  std::swap(slot.handler, handler);
  return handler;
}

Long PosixPlatform::ShowMessageBox(const String& prompt, Long style, const String& title, const String&, Long) {
  MessageBoxHandler handler;
  {
    HandlerSlot& slot = Slot();
    std::lock_guard lock(slot.mutex);
    handler = slot.handler;
  }
  if (handler) return handler(prompt, style, title);

  const Box box(prompt, style, title);
  const char* mode = std::getenv("VX380_MSGBOX");
  if (!(mode && std::strcmp(mode, "stderr") == 0)) {
    const int tty = OpenTerminal();
    if (tty >= 0) {
      const Long answer = AskOnTerminal(tty, box);
      ::close(tty);
      return answer;
    }
  }
  return AnswerOnStderr(box);
}

}  // namespace vx380::posix
