// The main window's modal prompts: a warning, a line of text to type, the files chosen in a
// dialog, and the question before a run appends to a registry that holds lines of its models
// already. The window reaches them through members the tests stand in for.
#pragma once

#include <QString>
#include <QStringList>
#include <cstddef>
#include <optional>

class QFileDialog;
class QWidget;

namespace ui {

// A message box with the window's title and an OK button; the caller waits until it is closed.
void ShowWarning(QWidget* parent, const QString& text);

// An input box with one empty text field; nullopt when it was cancelled.
std::optional<QString> AskLine(QWidget* parent, const QString& title, const QString& prompt);

// The file names chosen in `dialog`, or nullopt when it was cancelled.
std::optional<QStringList> ChooseFiles(QFileDialog& dialog);

// A second run over the same models would give each of them twice: the user says what to do.
enum class AppendAnswer {
  kAppend,   // as asked: the run's lines after the old ones
  kReplace,  // this run makes the registry anew, as with "Ajoute le résultat" unticked
  kCancel,   // nothing runs
};

// "La registry contient déjà 316 de ces modèles."
QString AppendQuestionText(std::size_t models);

// Asks with the buttons Ajouter, Remplacer and Annuler; Annuler (and Escape) is the default, so
// a Return pressed in haste doubles nothing.
AppendAnswer AskAppendQuestion(QWidget* parent, std::size_t models);

}  // namespace ui
