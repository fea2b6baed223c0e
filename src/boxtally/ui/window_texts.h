// Every text the window shows: captions, hints, dialog titles and filters, messages. French as
// the window has always been; UTF-8.
#pragma once

#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>

#include "boxtally/driver/batch_main.h"

namespace texts {

extern const char* const kWindowCaption;

// Captions and design texts.
extern const char* const kWebMode;
extern const char* const kModelKinds;
extern const char* const kUrlLabel;
extern const char* const kReuseWeb;
extern const char* const kPropdump;
extern const char* const kConnectFix;
extern const char* const kUseReferer;
extern const char* const kRefererWorldLabel;
extern const char* const kRefererWorldDefault;
extern const char* const kUserAgentLabel;
extern const char* const kRefererLabel;
extern const char* const kModelsButton;
extern const char* const kModelsLabel;
extern const char* const kRegistryButton;
extern const char* const kAppendResult;  // append_registry_box_ and append_log_box_
extern const char* const kLogButton;
extern const char* const kErrorsOnly;
extern const char* const kFormatButton;
extern const char* const kSkipHuge;
extern const char* const kHandleFacers;
extern const char* const kNonCentered;
extern const char* const kOverSized;
extern const char* const kCobDebug;
extern const char* const kIfOmitted;
extern const char* const kTemplateLabel;
extern const char* const kPasswordLabel;
extern const char* const kGenerer;
extern const char* const kStop;
// Captions of the web mode switch.
extern const char* const kListeDeFichier;
extern const char* const kDossierDesObjets;

// Hints.
extern const char* const kHintWebMode;
extern const char* const kHintUrl;
extern const char* const kHintReuseWeb;
extern const char* const kHintPropdump;
extern const char* const kHintConnectFix;
extern const char* const kHintUseReferer;
extern const char* const kHintRefererWorld;
extern const char* const kHintUserAgent;
extern const char* const kHintReferer;
extern const char* const kHintModelsButton;
extern const char* const kHintModels;
extern const char* const kHintRegistryButton;
extern const char* const kHintRegistry;
extern const char* const kHintAppendRegistry;
extern const char* const kHintLogButton;
extern const char* const kHintLog;
extern const char* const kHintAppendLog;
extern const char* const kHintErrorsOnly;
extern const char* const kHintFormatButton;
extern const char* const kHintFormatFile;
extern const char* const kHintSkipHuge;
extern const char* const kHintHandleFacers;
extern const char* const kHintNonCentered;
extern const char* const kHintOverSized;
extern const char* const kHintTemplate;
extern const char* const kHintPassword;

// Dialogs: titles, filters in the "description|pattern|..." form, first file names.
extern const char* const kModelsDialogTitle;
extern const char* const kModelsDialogFilter;
extern const char* const kRegistryDialogTitle;
extern const char* const kRegistryDialogFilter;
extern const char* const kRegistryDialogName;
extern const char* const kLogDialogTitle;
extern const char* const kLogDialogName;
extern const char* const kFormatDialogTitle;
extern const char* const kFormatDialogName;

// Message boxes; %1 is replaced by a file or field name.
extern const char* const kMessageTitle;
extern const char* const kUnableToWrite;
extern const char* const kCannotOpenLog;
extern const char* const kCannotWriteFormat;
extern const char* const kArgumentTooLong;
extern const char* const kControlInRefererText;  // %1: UserAgent, Referer or RefererWorld
// The proxy control, and the web settings that keep a web run from starting (%1: why).
extern const char* const kProxyLabel;
extern const char* const kHintProxy;
extern const char* const kCaFileUnusable;
extern const char* const kProxyUnusable;
extern const char* const kConnectionFailed;
extern const char* const kInvalidHostTitle;
extern const char* const kInvalidHostPrompt;
extern const char* const kUnexpectedFailure;
extern const char* const kRegistryLocked;
extern const char* const kRegistryReadOnly;
extern const char* const kNoWorkFolder;
extern const char* const kCannotOpenDocument;
extern const char* const kLogLocked;
// %1 and %2: two of kRunFileRoles (format file, registry, log, list file, the web records), %3
// the file.
extern const char* const kSameFiles;
extern const char* const kRunFileRoles[5];
// After the summary of a run that left its registry as it was (stopped, ended early).
extern const char* const kRegistryUnchanged;

// The question before a run appends models the registry holds already (%1: how many), and its
// buttons.
extern const char* const kAppendQuestion;
extern const char* const kAppendQuestionDetail;
extern const char* const kAppendButton;
extern const char* const kReplaceButton;
extern const char* const kCancelButton;

// The buttons that open the run's results in the desktop's programs.
extern const char* const kOpenRegistry;
extern const char* const kOpenLog;
extern const char* const kHintOpenRegistry;
extern const char* const kHintOpenLog;

// The guide: the main window's button and the guide window's caption, its button back to the
// page shown before, and a link to a page the program does not hold (%1: the link).
extern const char* const kHelp;
extern const char* const kHintHelp;
extern const char* const kHelpBack;
extern const char* const kHelpPageMissing;

// The results window.
extern const char* const kResults;  // the main window's button and the window's caption
extern const char* const kHintResults;
extern const char* const kResultsColumns[];  // Modèle, Résultat, Raison, ... (ResultsColumn)
extern const char* const kFilterPlaceholder;
extern const char* const kProblemsOnly;
extern const char* const kClearFilter;
extern const char* const kHintClearFilter;
extern const char* const kExport;
extern const char* const kHintExport;
extern const char* const kClose;
extern const char* const kExportDialogTitle;
extern const char* const kExportDialogFilter;
extern const char* const kExportDialogName;
extern const char* const kCannotExport;  // %1: the file, %2: the reason (the system's, or below)
// The export's column titles, one per column of driver::kReportColumns (those the table shows
// are its own), and the workbook's sheet.
extern const char* const kReportColumnTitles[];
extern const char* const kReportSheet;
// Why a workbook could not be written: %1 the most models, %2 the rows shown; %1 a column's
// title, %2 the model (its name, or its row), %3 the most characters; %1 the system's or the
// library's words.
extern const char* const kWorkbookTooManyModels;
extern const char* const kWorkbookTextTooLong;
extern const char* const kWorkbookNoWorkFile;
extern const char* const kWorkbookFailed;
extern const char* const kCannotOpenFolder;
extern const char* const kNoLogLines;
extern const char* const kLogLinesGone;
extern const char* const kRowsShown;  // %1 shown of %2
// The hint of the size columns: how the registry writes the box on that axis (%1 the axis, %2
// and %3 its lower and upper tags, %4 its size tag).
extern const char* const kHintSizeColumn;

// The preview pane beside the results table.
extern const char* const kModelViewName;
extern const char* const kHintModelView;
extern const char* const kPreviewNothing;
extern const char* const kPreviewReading;       // %1: the model
extern const char* const kPreviewFileGone;      // %1: the file
extern const char* const kPreviewNoWorkFolder;  // %1: why
extern const char* const kPreviewCut;
// Saving the preview's picture.
extern const char* const kSavePicture;  // the button, and its dialog's title
extern const char* const kHintSavePicture;
extern const char* const kSavePictureFilter;
extern const char* const kSavePictureSize;  // the size box's label
extern const char* const kSavePictureSizeValue;  // %1 x %2 pixels (the pane's size)
extern const char* const kCannotSavePicture;  // %1: the file, %2: why
extern const char* const kNothingToDraw;

// The thumbnails' folder box of the main window.
extern const char* const kThumbnailsButton;
extern const char* const kHintThumbnailsButton;
extern const char* const kHintThumbnailsEdit;
extern const char* const kThumbnailsDialogTitle;
extern const char* const kThumbnailsUnusable;  // %1: why
extern const char* const kRunFileInThumbnails;  // %1: its role (kRunFileRoles), %2: the file
extern const char* const kThumbnailsNotWritten;  // %1: how many, %2: the first lines

// A dialog's filter, "description|pattern|description|pattern", as the file dialog takes it: the
// descriptions, which already end in their patterns in parentheses.
QStringList NameFilters(const char* filter);

// A count as every number of the window shows it, French whatever the desktop's language, with
// its thousands apart: "1 998", "100 000".
QString Count(std::size_t n);

// A model's fate in the table ("mesuré", "absent du serveur", ...).
QString FateText(driver::Fate fate);
// Its reason with the facts that matter: "archive chiffrée sans mot de passe", "absent du
// serveur (404)", "certificat refusé : nom d'hôte différent". Facts the window cannot put into
// French stay as the log has them. Empty for a measured model.
QString ReasonFrench(const driver::ModelOutcome& outcome);
// The flags of a measured model: "non centré, trop grand, sprite".
QString NotesText(std::uint8_t flags);
// A size of a box in model units, to the thousandth (as the registry's integer mode counts
// them), in French: "10,000", "1 250,500".
QString SizeText(double size);
// A measured model's box sizes, named as the table's columns:
// "Largeur : 10,000 · Hauteur : 3,000 · Profondeur : 2,000".
QString BoxSizesText(const driver::ModelOutcome& outcome);
// Why the preview shows no picture of a model that was not measured: a sentence, then its fate
// and its reason as the table gives them, on lines of their own ("Résultat : en échec").
// `since_run`: the model was measured, but its file reads so now.
QString NoPictureText(const driver::ModelOutcome& outcome, bool since_run);

// Why a run ended early, for its message box: the file, pattern or folder the ending concerns is
// named. Empty for the endings of a run that went through (completed or stopped).
QString EndingMessage(const driver::RunOutcome& outcome);

// The run in one line: how it ended, what became of its models (every fate that occurred, the
// measured ones always; the reason the models not downloaded share), and the time it took, with
// French numbers: "Terminé : 1 998 modèles mesurés, 2 en échec (3,4 s)", "Arrêté après 12 sur
// 50 : 12 modèles mesurés, 38 non traités (0,5 s)".
QString RunSummary(const driver::RunOutcome& outcome);

// The "Textures" box.
extern const char* const kTexturesButton;
extern const char* const kHintTexturesButton;
extern const char* const kHintTexturesEdit;
extern const char* const kTexturesPlaceholder;
extern const char* const kTexturesDialogTitle;
extern const char* const kTexturesFolderMissing;  // %1: the box's text

// The results window's "Textures manquantes": the names, separated by commas.
QString MissingTexturesText(const driver::ModelOutcome& outcome);

}  // namespace texts
