#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <optional>

#include "ui/dialogs.h"

namespace dialmend {

// Answers every box the window would show, and remembers the questions.
class FakeDialogs : public Dialogs {
 public:
  QStringList informed;
  std::deque<AbortAnswer> answers;
  int asked = 0;
  std::deque<bool> yes_answers;  // No once they run out
  QStringList yes_no_questions;
  std::optional<QString> chosen_file;
  QString offered_file;
  std::optional<QString> chosen_contacts;
  QString offered_contacts;
  std::optional<QString> password;
  bool remember = false;
  QStringList password_prompts;

  void Inform(QWidget*, const QString& text) override { informed << text; }
  AbortAnswer AskAbort(QWidget*, const QString&) override {
    ++asked;
    if (answers.empty()) return AbortAnswer::Cancel;
    AbortAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  bool AskYesNo(QWidget*, const QString& question) override {
    yes_no_questions << question;
    if (yes_answers.empty()) return false;
    const bool yes = yes_answers.front();
    yes_answers.pop_front();
    return yes;
  }
  std::optional<QString> ChooseLogFile(QWidget*, const QString& current) override {
    offered_file = current;
    return chosen_file;
  }
  std::optional<QString> ChooseContacts(QWidget*, const QString& current) override {
    offered_contacts = current;
    return chosen_contacts;
  }
  std::optional<QString> AskPassword(QWidget*, const QString& prompt, bool& remember_it) override {
    password_prompts << prompt;
    remember_it = remember;
    return password;
  }
};

}  // namespace dialmend
