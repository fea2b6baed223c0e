// The question before a run appends to a registry that holds lines of its models already: a
// second run over the same models would give each of them twice.
#pragma once

#include <QString>
#include <cstddef>

class QWidget;

namespace ui {

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
