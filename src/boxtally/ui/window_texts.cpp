#include "boxtally/ui/window_texts.h"

#include <QLocale>
#include <QStringList>
#include <array>
#include <iterator>

#include "boxtally/driver/report_columns.h"
#include "boxtally/driver/run_arguments.h"
#include "boxtally/driver/run_report.h"
#include "boxtally/ui/results_model.h"

namespace texts {

const char* const kWindowCaption = "boxtally V" BOXTALLY_VERSION;

const char* const kWebMode = "Charger depuis le Web";
const char* const kModelKinds = "Cela doit être des fichiers cob, rwx ou bien des zip";
const char* const kUrlLabel = "URL";
const char* const kReuseWeb = "Réutiliser les fichiers web";
const char* const kPropdump = "C'est un fichier Propdump!";
const char* const kConnectFix = "Fixer la connection";
const char* const kUseReferer = "Utiliser le Referer";
const char* const kRefererWorldLabel = "World";
const char* const kRefererWorldDefault = "GM";
const char* const kUserAgentLabel = "User-Agent";
const char* const kRefererLabel = "Referer";
const char* const kModelsButton = "Chemin du dossier";
const char* const kModelsLabel = "Fichier(s) RWX";
const char* const kRegistryButton = "Fichier Registry";
const char* const kAppendResult = "Ajoute le résultat";
const char* const kLogButton = "Fichier Log";
const char* const kErrorsOnly = "Noter que les erreurs";
const char* const kFormatButton = "Fichier de Format";
const char* const kSkipHuge = "Ignorer les grands objets (ground)";
const char* const kHandleFacers = "Enclore les sprites";
const char* const kNonCentered = "Non-Centré";
const char* const kOverSized = "Empiétement";
const char* const kCobDebug = "CobDebug";
const char* const kIfOmitted = "Si omis, utiliser:";
const char* const kTemplateLabel = "le format par défaut de la registry";
const char* const kPasswordLabel = "Mot de passe pour les fichiers Zip";
const char* const kGenerer = "Générer";
const char* const kStop = "S T O P !!!";
const char* const kListeDeFichier = "Liste de Fichier";
const char* const kDossierDesObjets = "Dossier des objets";

const char* const kHintWebMode =
    "Si cocher, le programme lit les objets de URL donner basé sur la liste des fichiers fournit.";
const char* const kHintUrl = "Spécifier l'Url du dossier des objets sur le web.";
const char* const kHintReuseWeb =
    "Si cocher, il sauve les modèles localement pour une possible réexécution.";
const char* const kHintPropdump =
    "Le fichier choisi comme liste est un fichier Propdump (sauvegarde serveur). Le programme "
    "extraira tous les modèles à partir de ce fichier!";
const char* const kHintConnectFix =
    "Cocher cette case si vous recevez des messages d'échec de connection.";
const char* const kHintUseReferer = "Cocher cette option si le serveur FTP exige un referer";
const char* const kHintRefererWorld =
    "Ecrivez le nom du monde utiliser par le referer du serveur d'objet (FTP)";
const char* const kHintUserAgent =
    "Utiliser \"Gridmere/3.60 (560)\" si le serveur limite l'accés au browser d'GM";
const char* const kHintReferer =
    "Utiliser \"gm://localhost:5670/\" si le serveur d'objets exige un referer";
const char* const kHintModelsButton = "Rechercher le dossier des objets ou la liste d'objet(s)";
const char* const kHintModels =
    "Indiquez les modèles sur lesquels vous voulez à générer la registry\n"
    " les caractères spéciaux sont acceptés (wildchars) \n"
    "ou la liste des fichiers qui contient la liste des modèles sur le site web.";
const char* const kHintRegistryButton = "Chercher le fichier registry";
const char* const kHintRegistry = "Spécifier le nom de la registry ici";
const char* const kHintAppendRegistry =
    "Si cocher, la registry que vous allez générer sera ajouterà l'ancienne.";
const char* const kHintLogButton = "Chercher le fichier log";
const char* const kHintLog = "Spécifier le nom du fichier et le chemin du fichier log ici";
const char* const kHintAppendLog = "Si cocher, le fichier log générer sera ajouter à l'ancien";
const char* const kHintErrorsOnly =
    "Si cocher, le fichier log contiendra seulement les messages d'erreur";
const char* const kHintFormatButton = "Rechercher le fichier de format de sortie (optionnel!)";
const char* const kHintFormatFile = "Spécifier le fichier texte de format de sortie (optionnel!)";
const char* const kHintSkipHuge =
    "Ignorer les objets énormes dans la registry (plus grand que 20x20 mètres)";
const char* const kHintHandleFacers =
    "Élargir dans une boite englobante pour les objets qui se présente toujours de face (objet "
    "AxisAlignment)";
const char* const kHintNonCentered = "Ecrire un commentaire si un objet n'est pas centré";
const char* const kHintOverSized =
    "Ecrire un commentaire si la taille d'objet excéde la taille d'empiétement";
const char* const kHintTemplate = "Spécifier le format spécial de sortie ici.";
const char* const kHintPassword = "Écrivez le mot de passe commun à tout les fichiers zip";

const char* const kModelsDialogTitle = "Sélectionner les Fichiers pour la Registry";
const char* const kModelsDialogFilter =
    "Fichiers RenderWare(*.rwx)|*.rwx|Fichiers TrueSpace(*.cob)|*.cob|Fichiers "
    "zip(*.zip)|*.zip|Tous les Fichiers(*.*)|*.*|Liste de Fichiers(*.txt)|*.txt";
const char* const kRegistryDialogTitle = "Choisissez un nom pour le fichier Registry";
const char* const kRegistryDialogFilter =
    "Fichiers Registry(*.txt)|*.txt|Tous les Fichiers(*.*)|*.*";
const char* const kRegistryDialogName = "registry.txt";
const char* const kLogDialogTitle = "Choisissez un nom pour le fichier Log";
const char* const kLogDialogName = "boxtally.log";
const char* const kFormatDialogTitle = "Choisissez Le fichier des définitions du Format de sorties";
const char* const kFormatDialogName = "myformat.txt";

const char* const kMessageTitle = "boxtally";
const char* const kUnableToWrite = "Unable to write to %1";
const char* const kCannotOpenLog =
    "Impossible d'ouvrir le fichier log %1 : la génération n'est pas lancée.";
const char* const kCannotWriteFormat =
    "Impossible d'écrire le fichier de format temporaire %1 : la génération n'est pas lancée.";
const char* const kArgumentTooLong =
    "Le champ « %1 » dépasse 511 caractères : la génération n'est pas lancée.";
const char* const kControlInRefererText =
    "Le réglage %1 contient un caractère de contrôle : la génération n'est pas lancée.";
const char* const kProxyLabel = "Proxy";
const char* const kHintProxy =
    "Serveur mandataire HTTP : http://[utilisateur:mot de passe@]hôte[:port] (port 1080 par "
    "défaut). Vide : celui des variables d'environnement (https_proxy, http_proxy, all_proxy, "
    "no_proxy).";
const char* const kCaFileUnusable =
    "Le fichier d'autorités de certification (réglage CaFile) ne peut pas servir : la génération "
    "n'est pas lancée.\n%1";
const char* const kProxyUnusable =
    "Le proxy ne peut pas servir : la génération n'est pas lancée.\n%1";
// The web fetch's dialogs keep the component's English texts.
const char* const kConnectionFailed = "Connection Failed";
const char* const kInvalidHostTitle = "Invalid Host";
const char* const kInvalidHostPrompt = "Please Choose another host";
const char* const kUnexpectedFailure = "Erreur inattendue pendant la génération : %1";
const char* const kRegistryLocked =
    "Le fichier Registry %1 est en cours d'écriture par une autre génération : rien n'a été "
    "généré.";
const char* const kRegistryReadOnly =
    "Le fichier Registry %1 est en lecture seule : rien n'a été généré.";
const char* const kNoWorkFolder =
    "Impossible de créer un dossier de travail privé (%1) : la génération n'est pas lancée.";
const char* const kCannotOpenDocument = "Aucun programme du bureau n'a pu ouvrir %1.";
const char* const kLogLocked =
    "Le fichier log %1 est en cours d'écriture par une autre génération : il ne peut pas être "
    "recréé, rien n'a été généré.";
const char* const kSameFiles = "%1 et %2 sont un seul fichier (%3) : rien n'a été généré.";
const char* const kRunFileRoles[] = {"le fichier de format", "le fichier registry",
                                     "le fichier log", "la liste de fichiers",
                                     "le fichier .boxtally-web des téléchargements"};
const char* const kRegistryUnchanged = " ; la registry n'a pas été modifiée";

const char* const kAppendQuestion = "La registry contient déjà %1 de ces modèles.";
const char* const kAppendQuestionDetail =
    "Ajouter : leurs lignes y seront deux fois. Remplacer : la registry est refaite avec les "
    "seules lignes de cette génération.";
const char* const kAppendButton = "Ajouter";
const char* const kReplaceButton = "Remplacer";
const char* const kCancelButton = "Annuler";
const char* const kOpenRegistry = "Ouvrir la registry";
const char* const kOpenLog = "Ouvrir le log";
const char* const kHintOpenRegistry =
    "Ouvrir le fichier registry avec le programme choisi par le bureau";
const char* const kHintOpenLog = "Ouvrir le fichier log avec le programme choisi par le bureau";

namespace {
// The titles that the results table and its export share.
constexpr const char* kTitleModel = "Modèle";
constexpr const char* kTitleFate = "Résultat";
constexpr const char* kTitleReason = "Raison";
constexpr const char* kTitleWidth = "Largeur";
constexpr const char* kTitleHeight = "Hauteur";
constexpr const char* kTitleDepth = "Profondeur";
constexpr const char* kTitleVertices = "Sommets";
constexpr const char* kTitlePolygons = "Polygones";
constexpr const char* kTitleNotes = "Remarques";
constexpr const char* kTitleMissingTextures = "Textures manquantes";
constexpr const char* kTitleSource = "Source";
}  // namespace

const char* const kHelp = "Aide";
const char* const kHintHelp = "Le guide d'utilisation de la fenêtre (F1)";
const char* const kHelpBack = "Précédent";
const char* const kHelpPageMissing = "La page %1 n'est pas fournie avec le programme.";

const char* const kResults = "Résultats";
const char* const kHintResults =
    "Ce que chaque modèle de la dernière génération est devenu, avec la raison des problèmes "
    "(Ctrl+R)";
const char* const kResultsColumns[] = {
    kTitleModel,    kTitleFate,     kTitleReason, kTitleWidth,           kTitleHeight, kTitleDepth,
    kTitleVertices, kTitlePolygons, kTitleNotes,  kTitleMissingTextures, kTitleSource};
const char* const kFilterPlaceholder = "Filtrer les noms et les raisons";
const char* const kProblemsOnly = "Problèmes seulement";
const char* const kClearFilter = "Tout afficher";
const char* const kHintClearFilter = "Efface le filtre et décoche « Problèmes seulement »";
const char* const kExport = "Exporter…";
const char* const kHintExport =
    "Enregistrer le tableau affiché dans un classeur, ou dans un fichier CSV pour le tableur du "
    "bureau";
const char* const kClose = "Fermer";
const char* const kExportDialogTitle = "Choisissez un nom pour le fichier des résultats";
const char* const kExportDialogFilter = "Classeur (*.xlsx)|*.xlsx|CSV (*.csv)|*.csv";
const char* const kExportDialogName = "resultats.xlsx";
const char* const kCannotExport = "Impossible d'écrire le fichier %1 : %2";
const char* const kReportColumnTitles[] = {
    kTitleModel, kTitleFate,     kTitleReason,   kTitleSource, "Gauche",    "Bas",
    "Arrière",   "Droite",       "Haut",         "Avant",      kTitleWidth, kTitleHeight,
    kTitleDepth, kTitleVertices, kTitlePolygons, "Textures",   kTitleNotes, kTitleMissingTextures};
static_assert(std::size(kReportColumnTitles) == driver::kReportColumnCount,
              "one title per column of the report");
const char* const kReportSheet = "Résultats";
const char* const kWorkbookTooManyModels =
    "un classeur contient au plus %1 modèles, le tableau en montre %2 ; exportez-le en CSV.";
const char* const kWorkbookTextTooLong =
    "la colonne « %1 » du modèle %2 dépasse %3 caractères, le plus qu'une cellule de classeur "
    "contienne ; exportez le tableau en CSV.";
const char* const kWorkbookNoWorkFile = "pas de fichier de travail pour le classeur (%1)";
const char* const kWorkbookFailed = "le classeur n'a pas pu être écrit (%1)";
const char* const kCannotOpenFolder = "Aucun programme du bureau n'a pu ouvrir le dossier %1.";
const char* const kNoLogLines = "Ce modèle n'a écrit aucune ligne dans le log.";
const char* const kLogLinesGone = "Les lignes de ce modèle ne sont plus dans le fichier log %1.";
const char* const kRowsShown = "%1 sur %2";
const char* const kHintSizeColumn =
    "Taille de la boîte sur %1, en unités du modèle, au millième. La registry (en nombres "
    "entiers, comme la fenêtre la fait) l'écrit en millièmes d'unité : %2 et %3 sont les côtés de "
    "la boîte rentrés de 5 millièmes chacun (de -1 à 1 : -995 et 995 ; au moins 10 d'écart), %4 "
    "la taille sans ce retrait (2000 pour 2,000).";

const char* const kModelViewName = "Aperçu du modèle";
const char* const kHintModelView =
    "Glisser pour tourner le modèle, molette pour zoomer, double-clic pour revenir à la première "
    "vue ; bouton droit pour le déplacer. Au clavier : flèches pour tourner, Maj+flèches pour "
    "déplacer, + et - pour zoomer, Origine ou 0 pour la première vue.";
const char* const kPreviewNothing = "Sélectionnez un modèle dans le tableau pour le voir ici.";
const char* const kPreviewReading = "Lecture de %1…";
const char* const kPreviewFileGone =
    "Le fichier de ce modèle n'est plus là depuis la génération : %1";
const char* const kPreviewNoWorkFolder = "Pas de dossier de travail privé pour lire ce modèle : %1";
const char* const kPreviewCut =
    "Modèle trop grand pour l'aperçu : seule sa première partie est dessinée.";
const char* const kSavePicture = "Enregistrer l'image…";
const char* const kHintSavePicture =
    "Enregistre l'image de l'aperçu, telle qu'elle est tournée, en PNG, à la taille choisie.";
const char* const kSavePictureFilter = "Images PNG (*.png)";
const char* const kSavePictureSize = "Taille (pixels) :";
const char* const kSavePictureSizeValue = "%1 × %2 (l'aperçu)";
const char* const kCannotSavePicture = "Impossible d'enregistrer l'image %1 : %2";
const char* const kNothingToDraw = "rien à dessiner";

const char* const kThumbnailsButton = "Vignettes";
const char* const kHintThumbnailsButton = "Choisir le dossier des vignettes";
const char* const kHintThumbnailsEdit =
    "Dossier où chaque modèle mesuré est dessiné en PNG de 256 pixels (arbre.rwx donne "
    "arbre.png), comme avec boxtally-cli --thumbnails. Vide : pas de vignettes.";
const char* const kThumbnailsDialogTitle = "Dossier des vignettes";
const char* const kThumbnailsUnusable = "Le dossier des vignettes ne peut pas servir : %1";
const char* const kRunFileInThumbnails =
    "%1 (%2) se trouve dans le dossier des vignettes sous un nom d'image : rien n'a été généré.";
const char* const kThumbnailsNotWritten = "Vignettes non écrites : %1\n%2";

namespace {
const char* const kNothingMeasured = " : rien n'a été mesuré.";
const char* const kStoppedThere = " : la génération s'est arrêtée là.";

QString Named(const char* text, const std::string& about) {
  return QString::fromUtf8(text).arg(QString::fromStdString(about));
}
}  // namespace

QString EndingMessage(const driver::RunOutcome& outcome) {
  const std::string& about = outcome.about;
  QString why;
  QString then = QString::fromUtf8(kNothingMeasured);
  switch (outcome.end) {
    case driver::RunEnd::kCompleted:
    case driver::RunEnd::kStopped:
      return {};
    case driver::RunEnd::kNoMatch:
      why = Named("Aucun fichier ne correspond à « %1 »", about);
      break;
    case driver::RunEnd::kRegistryUnopenable:
      why = Named("Impossible de créer ou d'ouvrir le fichier registry « %1 »", about);
      break;
    case driver::RunEnd::kRegistryLocked:
      return Named(kRegistryLocked, about);
    case driver::RunEnd::kRegistryReadOnly:
      return Named(kRegistryReadOnly, about);
    case driver::RunEnd::kRegistryWriteFailed:
      why = Named("Impossible d'écrire dans le fichier registry « %1 »", about);
      then = QString::fromUtf8(kStoppedThere);
      break;
    case driver::RunEnd::kFormatUnreadable:
      why = Named("Impossible de lire le fichier de format « %1 » (absent, illisible ou dossier)",
                  about);
      break;
    case driver::RunEnd::kFormatWithoutLines:
      why = Named(
          "Le fichier de format « %1 » ne donne aucune ligne de registry (il n'a aucune ligne "
          "terminée)",
          about);
      break;
    case driver::RunEnd::kNothingCouldBeMeasured:
      why = Named("Aucun modèle n'a pu être mesuré (%1)", about);
      break;
    case driver::RunEnd::kNoWorkFolder:
      why = about.empty() ? QString::fromUtf8("Impossible de créer un dossier de travail privé")
                          : Named("Impossible de créer un dossier de travail privé (%1)", about);
      break;
    case driver::RunEnd::kListUnopenable:
      why = Named("Impossible d'ouvrir la liste de fichiers « %1 »", about);
      break;
    case driver::RunEnd::kNoWebModel:
      why = Named("La liste « %1 » n'a donné aucun modèle (voir le fichier log)", about);
      break;
    case driver::RunEnd::kMeasurementAbort:
      why = about.empty()
                ? QString::fromUtf8("Un modèle a dépassé une limite de la mesure (voir le log)")
                : Named(
                      "La mesure de « %1 » a dépassé une limite de la pile des transformations "
                      "ou des prototypes (voir le fichier log)",
                      about);
      then = QString::fromUtf8(kStoppedThere);
      break;
    case driver::RunEnd::kPatternTooLong:
      why = QString::fromUtf8("Le chemin des modèles dépasse %1 caractères")
                .arg(driver::kMaxModelPattern);
      break;
    case driver::RunEnd::kRegistryTwice:
      why = QString::fromUtf8("Deux fichiers registry sont indiqués");
      break;
    case driver::RunEnd::kMissingArguments:
      why = QString::fromUtf8("Les arguments de la génération sont incomplets");
      break;
  }
  return why + then;
}

QStringList NameFilters(const char* filter) {
  const QStringList parts = QString::fromUtf8(filter).split('|');
  QStringList names;
  for (int i = 0; i + 1 < parts.size(); i += 2) names << parts[i];
  return names;
}

QString Count(std::size_t n) {
  static const QLocale french(QLocale::French, QLocale::France);
  return french.toString(static_cast<qulonglong>(n));
}

namespace {
// "1 modèle mesuré", "2 modèles mesurés": French takes the singular for 0 and 1.
QString Counted(std::size_t n, const char* one, const char* many) {
  return Count(n) + QLatin1Char(' ') + QString::fromUtf8(n >= 2 ? many : one);
}
}  // namespace

namespace {
// The reason's words without its facts, also for the summary.
const char* ReasonWords(driver::Reason reason) {
  using driver::Reason;
  switch (reason) {
    case Reason::kNone:
      return "";
    case Reason::kCannotOpen:
      return "fichier illisible";
    case Reason::kNotRegularFile:
      return "pas un fichier ordinaire";
    case Reason::kArchiveNoEntryName:
      return "pas une archive zip";
    case Reason::kArchiveEncrypted:
      return "archive chiffrée sans mot de passe";
    case Reason::kArchiveWrongPassword:
      return "mot de passe incorrect";
    case Reason::kArchiveTruncated:
      return "archive tronquée";
    case Reason::kArchiveNotZip:
      return "ni zip ni gzip";
    case Reason::kArchiveTooLarge:
      return "entrée de l'archive trop grande";
    case Reason::kArchiveDamaged:
      return "archive endommagée";
    case Reason::kWorkFolderFull:
      return "dossier de travail plein";
    case Reason::kConverterNotStarted:
      return "convertisseur non lancé";
    case Reason::kConverterFailed:
      return "conversion échouée";
    case Reason::kConverterTimedOut:
      return "conversion trop longue";
    case Reason::kConverterNoOutput:
      return "aucun fichier RWX converti";
    case Reason::kCobTooLarge:
      return "modèle COB trop grand";
    case Reason::kCobCopyFailed:
      return "copie du modèle COB impossible";
    case Reason::kScriptError:
      return "erreur dans le script";
    case Reason::kMeasurementLimit:
      return "limite de la mesure dépassée";
    case Reason::kRegistryNotWritten:
      return "lignes non écrites dans la registry";
    case Reason::kHttpStatus:
      return "réponse HTTP";
    case Reason::kHostNotFound:
      return "hôte introuvable";
    case Reason::kConnectionFailed:
      return "serveur injoignable";
    case Reason::kTimedOut:
      return "délai dépassé";
    case Reason::kCertificateRefused:
      return "certificat refusé";
    case Reason::kSecureConnectionFailed:
      return "connexion sécurisée impossible";
    case Reason::kRedirectionRefused:
      return "redirection refusée";
    case Reason::kReplyRefused:
      return "réponse refusée";
    case Reason::kIncompleteDownload:
      return "téléchargement incomplet";
    case Reason::kDownloadTooLarge:
      return "téléchargement trop grand";
    case Reason::kProxyRefused:
      return "refusé par le proxy";
    case Reason::kDownloadNotSaved:
      return "téléchargement non enregistré";
    case Reason::kNameNotPlain:
      return "nom avec un chemin ou un joker";
    case Reason::kNameTooLong:
      return "nom trop long";
    case Reason::kNameIsRunFile:
      return "nom d'un fichier de la génération";
    case Reason::kRunStopped:
      return "génération arrêtée";
    case Reason::kRunEndedEarly:
      return "génération interrompue";
  }
  return "";
}

// The certificate faults a user meets most, as OpenSSL words them.
QString CertificateFault(const std::string& facts) {
  struct Fault {
    const char* english;
    const char* french;
  };
  static const Fault kFaults[] = {
      {"hostname mismatch", "nom d'hôte différent"},
      {"certificate has expired", "certificat expiré"},
      {"certificate is not yet valid", "certificat pas encore valide"},
      {"self-signed certificate", "certificat auto-signé"},
      {"self signed certificate", "certificat auto-signé"},
      {"self-signed certificate in certificate chain", "autorité inconnue"},
      {"self signed certificate in certificate chain", "autorité inconnue"},
      {"unable to get local issuer certificate", "autorité inconnue"},
      {"unable to verify the first certificate", "autorité inconnue"},
      {"certificate revoked", "certificat révoqué"},
  };
  for (const Fault& f : kFaults) {
    if (facts == f.english) return QString::fromUtf8(f.french);
  }
  return QString::fromStdString(facts);
}

// "conversion échouée (code de sortie 6)", and the converter's message after it in its own
// words: "... (code de sortie 6) : ASCII format COB files are not supported - resave as binary".
QString ConverterFailure(const QString& words, const std::string& facts) {
  const std::size_t said = facts.find(": ");
  const std::string status = facts.substr(0, said);
  QString text = words;
  if (status.rfind("exit status ", 0) == 0) {
    text += QString::fromUtf8(" (code de sortie %1)")
                .arg(QString::fromStdString(status.substr(std::string("exit status ").size())));
  } else {
    text += QString::fromUtf8(" (") + QString::fromStdString(status) + QLatin1Char(')');
  }
  if (said == std::string::npos) return text;
  return text + QString::fromUtf8(" : ") + QString::fromStdString(facts.substr(said + 2));
}
}  // namespace

QString FateText(driver::Fate fate) {
  using driver::Fate;
  switch (fate) {
    case Fate::kMeasured:
      return QString::fromUtf8("mesuré");
    case Fate::kFailed:
      return QString::fromUtf8("en échec");
    case Fate::kSkippedHuge:
      return QString::fromUtf8("ignoré (trop grand)");
    case Fate::kEmpty:
      return QString::fromUtf8("vide");
    case Fate::kNoModel:
      return QString::fromUtf8("archive sans modèle");
    case Fate::kNotModelFile:
      return QString::fromUtf8("fichier sans modèle");
    case Fate::kMissingOnServer:
      return QString::fromUtf8("absent du serveur");
    case Fate::kNotDownloaded:
      return QString::fromUtf8("non téléchargé");
    case Fate::kRefused:
      return QString::fromUtf8("refusé");
    case Fate::kNotReached:
      return QString::fromUtf8("non traité");
  }
  return {};
}

QString ReasonFrench(const driver::ModelOutcome& outcome) {
  const QString words = QString::fromUtf8(ReasonWords(outcome.reason));
  const std::string& facts = outcome.facts;
  if (words.isEmpty() || facts.empty()) return words;
  switch (outcome.reason) {
    case driver::Reason::kConverterNoOutput:
    case driver::Reason::kCobCopyFailed:
    case driver::Reason::kArchiveNoEntryName:
    case driver::Reason::kArchiveEncrypted:
    case driver::Reason::kArchiveWrongPassword:
    case driver::Reason::kArchiveTruncated:
    case driver::Reason::kArchiveNotZip:
      return words;  // the facts say it again, in English (the log has them)
    case driver::Reason::kHttpStatus:
      if (facts == "404" || facts == "410") {
        return QString::fromUtf8("absent du serveur (%1)").arg(QString::fromStdString(facts));
      }
      return words + QLatin1Char(' ') + QString::fromStdString(facts);
    case driver::Reason::kCertificateRefused:
      return words + QString::fromUtf8(" : ") + CertificateFault(facts);
    case driver::Reason::kConverterFailed:
      return ConverterFailure(words, facts);
    default:
      return words + QString::fromUtf8(" (") + QString::fromStdString(facts) + QLatin1Char(')');
  }
}

QString NotesText(std::uint8_t flags) {
  QStringList notes;
  if (flags & driver::kFlagNotCentred) notes << QString::fromUtf8("non centré");
  if (flags & driver::kFlagOversized) notes << QString::fromUtf8("trop grand");
  if (flags & driver::kFlagFacer) notes << QString::fromUtf8("sprite");
  return notes.join(QStringLiteral(", "));
}

QString SizeText(double size) {
  static const QLocale french(QLocale::French, QLocale::France);
  return french.toString(size, 'f', 3);
}

QString BoxSizesText(const driver::ModelOutcome& outcome) {
  const std::array<float, 3> sizes = driver::BoxSizes(outcome);
  QStringList parts;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    // No line break inside a name and its number.
    parts << QString::fromUtf8(kResultsColumns[ui::kColumnWidth + i]) +
                 QString::fromUtf8("\u00a0:\u00a0") + SizeText(sizes[i]);
  }
  return parts.join(QString::fromUtf8(" · "));
}

QString NoPictureText(const driver::ModelOutcome& outcome, bool since_run) {
  // The fate and the reason under the table's own column titles ("ignoré (trop grand)" would
  // not sit well in brackets).
  const auto line = [](int column, const QString& value) {
    return QLatin1Char('\n') + QString::fromUtf8(kResultsColumns[column]) +
           QString::fromUtf8("\u00a0: ") + value;
  };
  QString text = QString::fromUtf8(since_run ? "Ce modèle ne se lit plus comme pendant la "
                                               "génération."
                                             : "Ce modèle n'a pas été mesuré.");
  text += line(ui::kColumnFate, FateText(outcome.fate));
  const QString reason = ReasonFrench(outcome);
  if (!reason.isEmpty()) text += line(ui::kColumnReason, reason);
  return text;
}

QString RunSummary(const driver::RunOutcome& outcome) {
  using driver::Fate;
  const driver::FateCounts counts = driver::CountFates(outcome.results);
  const std::size_t reached = counts.Total() - counts[Fate::kNotReached];
  QString ended;
  if (outcome.end == driver::RunEnd::kCompleted) {
    ended = QString::fromUtf8("Terminé");
  } else {
    ended = QString::fromUtf8(outcome.end == driver::RunEnd::kStopped ? "Arrêté" : "Interrompu");
    if (reached > 0) {
      ended += QString::fromUtf8(" après %1 sur %2").arg(Count(reached), Count(counts.Total()));
    }
  }
  // The reason shared by every model of a fate, in parentheses: "(serveur injoignable)".
  const auto why = [&outcome](Fate fate) {
    const driver::Reason shared = driver::SharedReason(outcome.results, fate);
    if (shared == driver::Reason::kNone) return QString();
    return QString::fromUtf8(" (%1)").arg(QString::fromUtf8(ReasonWords(shared)));
  };
  struct Kind {
    Fate fate;
    const char* one;
    const char* many;
    bool with_reason;
  };
  static const Kind kKinds[] = {
      {Fate::kFailed, "en échec", "en échec", false},
      {Fate::kSkippedHuge, "ignoré (trop grand)", "ignorés (trop grands)", false},
      {Fate::kEmpty, "modèle vide", "modèles vides", false},
      {Fate::kNoModel, "archive sans modèle", "archives sans modèle", false},
      {Fate::kNotModelFile, "fichier sans modèle", "fichiers sans modèle", false},
      {Fate::kMissingOnServer, "absent du serveur", "absents du serveur", false},
      {Fate::kNotDownloaded, "non téléchargé", "non téléchargés", true},
      {Fate::kRefused, "refusé", "refusés", true},
      {Fate::kNotReached, "non traité", "non traités", false},
  };
  QStringList kinds;
  const std::size_t measured = counts[Fate::kMeasured];
  kinds << (measured == 0 ? QString::fromUtf8("aucun modèle mesuré")
                          : Counted(measured, "modèle mesuré", "modèles mesurés"));
  if (const std::size_t lacking = driver::CountMissingTextures(outcome.results); lacking > 0) {
    kinds.last() += QString::fromUtf8(" (%1 avec des textures manquantes)").arg(Count(lacking));
  }
  for (const Kind& k : kKinds) {
    if (counts[k.fate] == 0) continue;
    kinds << Counted(counts[k.fate], k.one, k.many) + (k.with_reason ? why(k.fate) : QString());
  }
  // A locked registry's own message already says it was left alone.
  const bool unchanged =
      outcome.registry_unchanged && outcome.end != driver::RunEnd::kRegistryLocked;
  return ended + QString::fromUtf8(" : ") + kinds.join(QStringLiteral(", ")) +
         QString::fromUtf8(unchanged ? kRegistryUnchanged : "") + QString::fromUtf8(" (") +
         QString::fromStdString(driver::DurationText(outcome.seconds, ',')) + QLatin1Char(')');
}

// The "Textures" box (textures_box.cpp).
const char* const kTexturesButton = "Textures";
const char* const kHintTexturesButton = "Choisir le dossier des textures des modèles";
const char* const kHintTexturesEdit =
    "Le dossier des textures des modèles, ou l'URL d'un dossier web de textures. Vide : le "
    "dossier « textures » à côté de celui des modèles, et ce dossier même (en mode Web, le "
    "dossier « textures/ » à côté de l'URL)";
const char* const kTexturesPlaceholder = "par défaut";
const char* const kTexturesDialogTitle = "Choisissez le dossier des textures";
const char* const kTexturesFolderMissing = "Le dossier des textures %1 n'existe pas.";

QString MissingTexturesText(const driver::ModelOutcome& outcome) {
  QStringList names;
  for (const std::string& name : outcome.missing_textures) names << QString::fromStdString(name);
  return names.join(QStringLiteral(", "));
}

}  // namespace texts
