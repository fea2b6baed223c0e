#include "boxtally/ui/window_texts.h"

#include <QLocale>

#include "boxtally/driver/run_arguments.h"
#include "boxtally/driver/run_report.h"

namespace texts {

const char* const kWindowCaption = "boxtally V" BOXTALLY_VERSION;

const char* const kGetFromWeb = "Charger depuis le Web";
const char* const kLabel7 = "Cela doit être des fichiers cob, rwx ou bien des zip";
const char* const kLabel2 = "URL";
const char* const kReuseWeb = "Réutiliser les fichiers web";
const char* const kItIsThePropfile = "C'est un fichier Propdump!";
const char* const kConnectFix = "Fixer la connection";
const char* const kUseReferer = "Utiliser le Referer";
const char* const kLabel11 = "World";
const char* const kRefererWorldEdit = "GM";
const char* const kLabel3 = "User-Agent";
const char* const kLabel4 = "Referer";
const char* const kButton2 = "Chemin du dossier";
const char* const kLabel1 = "Fichier(s) RWX";
const char* const kButton3 = "Fichier Registry";
const char* const kAppendResult = "Ajoute le résultat";
const char* const kButton4 = "Fichier Log";
const char* const kErrorsOnly = "Noter que les erreurs";
const char* const kButton5 = "Fichier de Format";
const char* const kCheckBox3 = "Ignorer les grands objets (ground)";
const char* const kHandleFacers = "Enclore les sprites";
const char* const kNonCentered = "Non-Centré";
const char* const kOverSized = "Empiétement";
const char* const kCobDebug = "CobDebug";
const char* const kLabel8 = "Si omis, utiliser:";
const char* const kLabel6 = "le format par défaut de la registry";
const char* const kLabel5 = "Mot de passe pour les fichiers Zip";
const char* const kGenerer = "Générer";
const char* const kStop = "S T O P !!!";
const char* const kListeDeFichier = "Liste de Fichier";
const char* const kDossierDesObjets = "Dossier des objets";
const char* const kFichiersRw = "Fichier(s) RW";

const char* const kHintGetFromWeb =
    "Si cocher, le programme lit les objets de URL donner basé sur la liste des fichiers fournit.";
const char* const kHintUrlEdit = "Spécifier l'Url du dossier des objets sur le web.";
const char* const kHintReuseWeb =
    "Si cocher, il sauve les modèles localement pour une possible réexécution.";
const char* const kHintItIsThePropfile =
    "Le fichier choisi comme liste est un fichier Propdump (sauvegarde serveur). Le programme "
    "extraira tous les modèles à partir de ce fichier!";
const char* const kHintConnectFix =
    "Cocher cette case si vous recevez des messages d'échec de connection.";
const char* const kHintUseReferer = "Cocher cette option si le serveur FTP exige un referer";
const char* const kHintRefererWorldEdit =
    "Ecrivez le nom du monde utiliser par le referer du serveur d'objet (FTP)";
const char* const kHintUserAgentEdit =
    "Utiliser \"Gridmere/3.60 (560)\" si le serveur limite l'accés au browser d'GM";
const char* const kHintRefererEdit =
    "Utiliser \"gm://localhost:5670/\" si le serveur d'objets exige un referer";
const char* const kHintButton2 = "Rechercher le dossier des objets ou la liste d'objet(s)";
const char* const kHintRwxFileEdit =
    "Indiquez les modèles sur lesquels vous voulez à générer la registry\n"
    " les caractères spéciaux sont acceptés (wildchars) \n"
    "ou la liste des fichiers qui contient la liste des modèles sur le site web.";
const char* const kHintButton3 = "Chercher le fichier registry";
const char* const kHintRegFileEdit = "Spécifier le nom de la registry ici";
const char* const kHintCheckBox1 =
    "Si cocher, la registry que vous allez générer sera ajouterà l'ancienne.";
const char* const kHintButton4 = "Chercher le fichier log";
const char* const kHintLogFileEdit = "Spécifier le nom du fichier et le chemin du fichier log ici";
const char* const kHintCheckBox2 = "Si cocher, le fichier log générer sera ajouter à l'ancien";
const char* const kHintErrorsOnly =
    "Si cocher, le fichier log contiendra seulement les messages d'erreur";
const char* const kHintButton5 = "Rechercher le fichier de format de sortie (optionnel!)";
const char* const kHintFormatFile = "Spécifier le fichier texte de format de sortie (optionnel!)";
const char* const kHintCheckBox3 =
    "Ignorer les objets énormes dans la registry (plus grand que 20x20 mètres)";
const char* const kHintHandleFacers =
    "Élargir dans une boite englobante pour les objets qui se présente toujours de face (objet "
    "AxisAlignment)";
const char* const kHintNonCentered = "Ecrire un commentaire si un objet n'est pas centré";
const char* const kHintOverSized =
    "Ecrire un commentaire si la taille d'objet excéde la taille d'empiétement";
const char* const kHintMyInput = "Spécifier le format spécial de sortie ici.";
const char* const kHintPassEdit = "Écrivez le mot de passe commun à tout les fichiers zip";

const char* const kOpenDialog1Title = "Selectionner les Fichiers pour la Registry";
const char* const kOpenDialog1Filter =
    "Fichiers RenderWare(*.rwx)|*.rwx|Fichiers TrueSpace(*.cob)|*.cob|Fichiers "
    "Zipper(*.zip)|*.zip| Tous les Fichiers(*.*)|*.*|Liste de Fichiers(*.txt)|*.txt";
const char* const kSaveDialog1Title = "Choissiser un nom pour le fichier Registry";
const char* const kSaveDialog1Filter = "Fichiers Registry( *.txt)|*.txt|Tous les Fichiers(*.*)|*.*";
const char* const kSaveDialog1Name = "registry.txt";
const char* const kSaveDialog2Title = "Choissiser un nom pour le fichier Log";
const char* const kSaveDialog2Name = "boxtally.log";
const char* const kOpenDialog2Title = "Choisissez Le fichier des définitions du Format de sorties";
const char* const kOpenDialog2Name = "myformat.txt";

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
// The web fetch's dialogs keep the component's English texts.
const char* const kConnectionFailed = "Connection Failed";
const char* const kInvalidHostTitle = "Invalid Host";
const char* const kInvalidHostPrompt = "Please Choose another host";
const char* const kUnexpectedFailure = "Erreur inattendue pendant la génération : %1";
const char* const kRegistryLocked =
    "Le fichier Registry %1 est en cours d'écriture par une autre génération : rien n'a été "
    "généré.";
const char* const kNoWorkFolder =
    "Impossible de créer un dossier de travail privé (%1) : la génération n'est pas lancée.";
const char* const kCannotOpenDocument = "Aucun programme du bureau n'a pu ouvrir %1.";
const char* const kLogLocked =
    "Le fichier log %1 est en cours d'écriture par une autre génération : il ne peut pas être "
    "recréé, rien n'a été généré.";
const char* const kSameFiles = "%1 et %2 sont un seul fichier (%3) : rien n'a été généré.";
const char* const kRunFileRoles[] = {"le fichier de format", "le fichier registry",
                                     "le fichier log", "la liste de fichiers"};
const char* const kRegistryUnchanged = " ; la registry n'a pas été modifiée";

const char* const kOpenRegistry = "Ouvrir la registry";
const char* const kOpenLog = "Ouvrir le log";
const char* const kHintOpenRegistry =
    "Ouvrir le fichier registry avec le programme choisi par le bureau";
const char* const kHintOpenLog = "Ouvrir le fichier log avec le programme choisi par le bureau";

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

namespace {
// French whatever the desktop's language, as the rest of the window: "1 998", "3,4".
QString Number(std::size_t n) {
  return QLocale(QLocale::French, QLocale::France).toString(static_cast<qulonglong>(n));
}

// "1 modèle mesuré", "2 modèles mesurés": French takes the singular for 0 and 1.
QString Counted(std::size_t n, const char* one, const char* many) {
  return Number(n) + QLatin1Char(' ') + QString::fromUtf8(n >= 2 ? many : one);
}
}  // namespace

QString RunSummary(const driver::RunOutcome& outcome) {
  const driver::RunCounts& counts = outcome.counts;
  QString ended;
  if (outcome.end == driver::RunEnd::kCompleted) {
    ended = QString::fromUtf8("Terminé");
  } else {
    ended = QString::fromUtf8(outcome.end == driver::RunEnd::kStopped ? "Arrêté" : "Interrompu");
    if (counts.Done() > 0) {
      ended += QString::fromUtf8(" après ") + Number(counts.Done());
      if (counts.found > 0) ended += QString::fromUtf8(" sur ") + Number(counts.found);
    }
  }
  QStringList kinds;
  kinds << (counts.measured == 0 ? QString::fromUtf8("aucun modèle mesuré")
                                 : Counted(counts.measured, "modèle mesuré", "modèles mesurés"));
  if (counts.failed > 0) kinds << Counted(counts.failed, "en échec", "en échec");
  if (counts.skipped_huge > 0) {
    kinds << Counted(counts.skipped_huge, "ignoré (trop grand)", "ignorés (trop grands)");
  }
  if (counts.without_model > 0) {
    kinds << Counted(counts.without_model, "fichier sans modèle", "fichiers sans modèle");
  }
  // A locked registry's own message already says it was left alone.
  const bool unchanged =
      outcome.registry_unchanged && outcome.end != driver::RunEnd::kRegistryLocked;
  return ended + QString::fromUtf8(" : ") + kinds.join(QStringLiteral(", ")) +
         QString::fromUtf8(unchanged ? kRegistryUnchanged : "") + QString::fromUtf8(" (") +
         QString::fromStdString(driver::DurationText(outcome.seconds, ',')) + QLatin1Char(')');
}

}  // namespace texts
