#include "text/messages.h"

#include <array>

int LanguageIndex = 0;

namespace {

struct Entry {
    int id;
    const wchar_t* text;
};

// The blanks before "," and "." in the English 201 are part of the text.
constexpr std::array kTable = {
    Entry{200, L"Failed to launch the game."},
    Entry{201,
          L"A new patch is available. You currently have version %s , the latest patch "
          L"available is version %s . Do you wish to download the patch?"},
    Entry{202, L"Velmora II Launcher"},
    Entry{203, L"Failed to launch the patch."},
    Entry{204, L"Downloading Patch"},
    Entry{206, L"Downloading"},
    Entry{207,
          L"Download was completed, but files seem to be corrupted. Please click \"back\" "
          L"and retry."},
    Entry{208, L"The patch files will be downloaded to :"},
    Entry{209,
          L"Please select a valid path to download the patch files to. Make sure that you "
          L"can write to this path."},
    Entry{214,
          L"Your auto-patcher is out of date. Please download the latest version from the "
          L"Tesmark website. Click the \"Yes\" button to download the update. Click \"No\" "
          L"to start the game."},
    Entry{215, L"Only one instance of the Velmora II Launcher can be used at a time."},
    Entry{216, L"Selected version :"},
    Entry{217, L"Install"},
    Entry{218, L"Verifying download integrity .."},

    Entry{300, L"Le jeu n'a pas pu d\u00e9marrer."},
    Entry{301,
          L"Un nouveau patch est disponible. Vous poss\u00e9dez actuellement la version %s, "
          L"le patch le plus r\u00e9cent est la version %s. Souhaitez-vous t\u00e9l\u00e9"
          L"charger le patch?"},
    Entry{302, L"Lancement Velmora II"},
    Entry{303, L"La patch n'a pas pu \u00eatre lanc\u00e9."},
    Entry{304, L"Patch en cours de t\u00e9l\u00e9chargement"},
    Entry{306, L"T\u00e9l\u00e9chargement"},
    Entry{307,
          L"Le t\u00e9l\u00e9chargement est termin\u00e9, mais certains fichiers semblent "
          L"corrompus. Veuillez appuyez sur \"Retour\" et r\u00e9essayer."},
    Entry{308, L"Les fichiers du patch seront t\u00e9l\u00e9charg\u00e9s dans:"},
    Entry{309,
          L"Veuillez choisir un dossier de t\u00e9l\u00e9chargement valable. Assurez-vous "
          L"que ce dossier ne soit pas bloqu\u00e9 en \u00e9criture."},
    Entry{314,
          L"Votre syst\u00e8me de patch automatique n'est pas \u00e0 jour. Veuillez "
          L"t\u00e9l\u00e9charger la version la plus r\u00e9cente sur le site de Tesmark "
          L"Studios. Cliquez sur le bouton \"Yes\" pour t\u00e9l\u00e9charger la mise "
          L"\u00e0 jour. Cliquez sur \"No\" pour d\u00e9marrer le jeu."},
    Entry{315,
          L"Une seule instance du Lancement Velmora II peut \u00eatre utilis\u00e9 \u00e0 "
          L"la fois."},
    Entry{316, L"Version s\u00e9lectionn\u00e9e :"},
    Entry{317, L"Installer"},
    Entry{318,
          L"V\u00e9rification de l'int\u00e9grit\u00e9 des fichiers t\u00e9l\u00e9charg"
          L"\u00e9s .."},

    Entry{400, L"Starten des Spiels fehlgeschlagen."},
    Entry{401,
          L"Ein neuer Patch ist verf\u00fcgbar. Momentan haben sie Version %s, der "
          L"aktuellste Patch ist Version %s. M\u00f6chten sie den Patch herunterladen?"},
    Entry{402, L"Velmora II Launcher"},
    Entry{403, L"Starten des Patches fehlgeschlagen."},
    Entry{404, L"Patch wird heruntergeladen"},
    Entry{406, L"Lade"},
    Entry{407,
          L"Download wurde beendet, aber es scheinen Dateien besch\u00e4digt zu sein. Bitte "
          L"dr\u00fccken sie \"zur\u00fcck\" und wiederholen."},
    Entry{408, L"Die Patch Dateien werden heruntergeladen nach:"},
    Entry{409,
          L"Bitte w\u00e4hlen sie einen Pfad in den die Patch Dateien heruntergeladen "
          L"werden sollen. Stellen sie sicher, dass in diesen Pfad geschrieben werden kann."},
    Entry{414,
          L"Ihr Auto-Patcher hat nicht die aktuellste Version. Bitte laden sie die "
          L"aktuellste Version direkt von der Tesmark Website herunter. Dr\u00fccken sie "
          L"\"Ja\" um das Update herunterzuladen. Dr\u00fccken sie \"Nein\" um das Spiel zu "
          L"starten."},
    Entry{415,
          L"Nur eine Instanz des Velmora II Launcher kann zu einem Zeitpunkt eingesetzt "
          L"werden."},
    Entry{416, L"Ausgew\u00e4hlte version:"},
    Entry{417, L"Installieren"},
    Entry{418, L"\u00dcberpr\u00fcfe Download Integrit\u00e4t .."},
};

// The launcher's own messages beyond the original table: what went wrong and what to do about
// it. "%1", "%2" and "%3" are filled by FormatMessageText with file names, addresses, sizes and
// reasons, inserted as they are.
constexpr std::array kCauseTable = {
    Entry{230,
          L"Another Velmora II Launcher is using the download folder %1. Wait until it has "
          L"finished, or choose another folder."},
    Entry{231, L"Cannot reach the download server for %1: %2."},
    Entry{232, L"its name could not be found"},
    Entry{233, L"the connection was refused"},
    Entry{234, L"the secure connection could not be established"},
    Entry{235, L"the network could not be reached"},
    Entry{236, L"The download server answered \"%2\" for %1."},
    Entry{237, L"The download server stopped sending %1 (nothing arrived for %2 seconds)."},
    Entry{238, L"The download server sent more for %1 than the catalogue lists (%2)."},
    Entry{239, L"Not enough disk space in %1: %2 needed, %3 free."},
    Entry{240, L"Cannot write %1: %2."},
    Entry{241, L"The file %1 was refused: its path would reach outside the download folder."},
    Entry{242, L"File that failed: %1"},
    Entry{243,
          L"Cannot start %1: it is a Windows program, and no Wine was found to run it (looked "
          L"for %2). Install Wine from your system's packages, or Proton through Steam, then "
          L"start the launcher again."},
    Entry{244, L"No web browser could be opened. Open this address to get the new launcher: %1"},
    Entry{245, L"The folder %1 does not exist."},
    Entry{246, L"%1 is not a folder."},
    Entry{247, L"Cannot write to the folder %1."},
    Entry{248, L"Checking for updates..."},
    Entry{249, L"File %1 of %2"},
    Entry{250, L"about %1 left"},
    Entry{251, L"Waiting for the download server..."},
    Entry{252, L"B&rowse..."},
    Entry{253, L"Retrying %1 in %2 s (attempt %3)."},
    Entry{254,
          L"The patch installer ended with status %1, so the patch may not be installed. The "
          L"next start of the launcher offers it again; the files already downloaded are kept."},
    Entry{255, L"%1 is not a regular file."},
    Entry{256, L"Cannot read %1."},
    Entry{260,
          L"Velmora II was not found in %1. Choose the folder where Velmora II is installed: "
          L"the one that holds bin/velmora2.exe."},
    Entry{261,
          L"%1 does not hold bin/velmora2.exe. Choose the folder where Velmora II is installed."},
    Entry{262, L"&Choose folder..."},
    Entry{270,
          L"You can try again: what is already downloaded is kept, and the download goes on "
          L"from there. You can also go back and choose another folder, or play without the "
          L"patch."},
    Entry{271,
          L"Free some space or go back and choose another folder, then try again; or play "
          L"without the patch."},
    Entry{272, L"&Try again"},
    Entry{273, L"&Play without the patch"},
    Entry{274, L"&Start the game"},
    Entry{275, L"Starting the patch installer..."},
    Entry{276, L"All %1 files are downloaded and checked."},
    Entry{277, L"The file is downloaded and checked."},
    Entry{278, L"Patch size: %1."},
    Entry{279, L"Already in this folder: %1."},
    Entry{280, L"You can play without the patch; the next start offers it again."},
    Entry{281, L"Release notes"},
    Entry{282, L"Download progress"},
    Entry{283, L"%1 comes as a delta: %2 in place of %3."},
    Entry{284, L"Fetched %1 in all for %2 of files (%3 as deltas)."},
    Entry{285, L"%1 comes whole after all: its delta could not be used."},
    Entry{290, L"the server's certificate is not trusted"},
    Entry{291, L"the server's certificate is for another name"},
    Entry{292, L"the server's certificate has expired"},
    Entry{293, L"Updates could not be checked: %1. The game starts as it is."},
    Entry{294, L"capped at %1/s"},

    // French puts a space before ":", "?" and "!" and inside « »; a no-break one (U+00A0),
    // so that a wrapped line never begins with the sign. German addresses the player as
    // "Sie". Both write a decimal comma (SizeText).
    Entry{330,
          L"Un autre Lancement Velmora II utilise le dossier de t\u00e9l\u00e9chargement "
          L"%1. Attendez qu'il ait termin\u00e9 ou choisissez un autre dossier."},
    Entry{331,
          L"Impossible de joindre le serveur de t\u00e9l\u00e9chargement pour %1\u00a0: "
          L"%2."},
    Entry{332, L"son nom est introuvable"},
    Entry{333, L"la connexion a \u00e9t\u00e9 refus\u00e9e"},
    Entry{334, L"la connexion s\u00e9curis\u00e9e n'a pas pu \u00eatre \u00e9tablie"},
    Entry{335, L"le r\u00e9seau est inaccessible"},
    Entry{336,
          L"Le serveur de t\u00e9l\u00e9chargement a r\u00e9pondu \u00ab\u00a0%2\u00a0\u00bb "
          L"pour %1."},
    Entry{337,
          L"Le serveur de t\u00e9l\u00e9chargement a cess\u00e9 d'envoyer %1 (plus rien "
          L"n'est arriv\u00e9 depuis %2\u00a0secondes)."},
    Entry{338,
          L"Le serveur de t\u00e9l\u00e9chargement a envoy\u00e9 pour %1 plus de donn\u00e9es "
          L"que n'en indique le catalogue (%2)."},
    Entry{339, L"Espace disque insuffisant dans %1\u00a0: %2 n\u00e9cessaires, %3 disponibles."},
    Entry{340, L"Impossible d'\u00e9crire %1\u00a0: %2."},
    Entry{341,
          L"Le fichier %1 a \u00e9t\u00e9 refus\u00e9\u00a0: son chemin sortirait du dossier de "
          L"t\u00e9l\u00e9chargement."},
    Entry{342, L"Fichier en cause\u00a0: %1"},
    Entry{343,
          L"Impossible de lancer %1\u00a0: c'est un programme Windows, et aucun Wine n'a "
          L"\u00e9t\u00e9 trouv\u00e9 pour l'ex\u00e9cuter (recherch\u00e9\u00a0: %2). "
          L"Installez Wine depuis les paquets de votre syst\u00e8me, ou Proton avec Steam, puis "
          L"relancez le lanceur."},
    Entry{344,
          L"Aucun navigateur n'a pu \u00eatre ouvert. Ouvrez cette adresse pour obtenir le "
          L"nouveau lanceur\u00a0: %1"},
    Entry{345, L"Le dossier %1 n'existe pas."},
    Entry{346, L"%1 n'est pas un dossier."},
    Entry{347, L"Impossible d'\u00e9crire dans le dossier %1."},
    Entry{348, L"Recherche de mises \u00e0 jour..."},
    Entry{349, L"Fichier %1 sur %2"},
    Entry{350, L"il reste environ %1"},
    Entry{351, L"En attente du serveur de t\u00e9l\u00e9chargement..."},
    Entry{352, L"&Parcourir..."},
    Entry{353, L"Nouvel essai pour %1 dans %2\u00a0s (essai %3)."},
    Entry{354,
          L"L'installateur du patch s'est termin\u00e9 avec le code %1\u00a0: le patch n'est "
          L"peut-\u00eatre pas install\u00e9. Au prochain d\u00e9marrage, le lanceur le "
          L"proposera de nouveau\u00a0; les fichiers d\u00e9j\u00e0 t\u00e9l\u00e9charg\u00e9s "
          L"sont conserv\u00e9s."},
    Entry{355, L"%1 n'est pas un fichier ordinaire."},
    Entry{356, L"Impossible de lire %1."},
    Entry{360,
          L"Velmora II est introuvable dans %1. Choisissez le dossier o\u00f9 Velmora II est "
          L"install\u00e9\u00a0: celui qui contient bin/velmora2.exe."},
    Entry{361,
          L"%1 ne contient pas bin/velmora2.exe. Choisissez le dossier o\u00f9 Velmora II est "
          L"install\u00e9."},
    Entry{362, L"&Choisir le dossier..."},
    Entry{370,
          L"Vous pouvez r\u00e9essayer\u00a0: ce qui est d\u00e9j\u00e0 t\u00e9l\u00e9charg\u00e9 "
          L"est conserv\u00e9 et le t\u00e9l\u00e9chargement reprend l\u00e0 o\u00f9 il s'est "
          L"arr\u00eat\u00e9. Vous pouvez aussi revenir en arri\u00e8re pour choisir un autre "
          L"dossier, ou jouer sans le patch."},
    Entry{371,
          L"Lib\u00e9rez de la place ou revenez en arri\u00e8re pour choisir un autre dossier, "
          L"puis r\u00e9essayez\u00a0; ou jouez sans le patch."},
    Entry{372, L"&Nouvel essai"},
    Entry{373, L"&Jouer sans le patch"},
    Entry{374, L"&Lancer le jeu"},
    Entry{375, L"D\u00e9marrage de l'installateur du patch..."},
    Entry{376, L"Les %1\u00a0fichiers sont tous t\u00e9l\u00e9charg\u00e9s et v\u00e9rifi\u00e9s."},
    Entry{377, L"Le fichier est t\u00e9l\u00e9charg\u00e9 et v\u00e9rifi\u00e9."},
    Entry{378, L"Taille du patch\u00a0: %1."},
    Entry{379, L"D\u00e9j\u00e0 dans ce dossier\u00a0: %1."},
    Entry{380,
          L"Vous pouvez jouer sans le patch\u00a0; il vous sera propos\u00e9 de nouveau au "
          L"prochain d\u00e9marrage."},
    Entry{381, L"Notes de version"},
    Entry{382, L"Progression du t\u00e9l\u00e9chargement"},
    Entry{383, L"%1 arrive sous forme de delta\u00a0: %2 au lieu de %3."},
    Entry{384, L"%1 t\u00e9l\u00e9charg\u00e9s en tout pour %2 de fichiers (%3 en delta)."},
    Entry{385, L"%1 arrive finalement en entier\u00a0: son delta n'a pas pu servir."},
    Entry{390, L"le certificat du serveur n'est pas reconnu comme fiable"},
    Entry{391, L"le certificat du serveur a \u00e9t\u00e9 \u00e9tabli pour un autre nom"},
    Entry{392, L"le certificat du serveur a expir\u00e9"},
    Entry{393,
          L"Les mises \u00e0 jour n'ont pas pu \u00eatre v\u00e9rifi\u00e9es\u00a0: %1. Le jeu "
          L"d\u00e9marre tel quel."},
    Entry{394, L"limit\u00e9 \u00e0 %1/s"},

    Entry{430,
          L"Ein anderer Velmora II Launcher verwendet den Download-Ordner %1. Warten Sie, "
          L"bis er fertig ist, oder w\u00e4hlen Sie einen anderen Ordner."},
    Entry{431, L"Der Download-Server ist f\u00fcr %1 nicht erreichbar: %2."},
    Entry{432, L"sein Name wurde nicht gefunden"},
    Entry{433, L"die Verbindung wurde abgelehnt"},
    Entry{434, L"die sichere Verbindung konnte nicht aufgebaut werden"},
    Entry{435, L"das Netzwerk ist nicht erreichbar"},
    Entry{436, L"Der Download-Server antwortete \u201e%2\u201c f\u00fcr %1."},
    Entry{437,
          L"Der Download-Server sendet %1 nicht weiter (seit %2 Sekunden ist nichts "
          L"angekommen)."},
    Entry{438, L"Der Download-Server hat f\u00fcr %1 mehr gesendet, als der Katalog angibt (%2)."},
    Entry{439, L"Nicht genug Speicherplatz in %1: %2 ben\u00f6tigt, %3 frei."},
    Entry{440, L"%1 kann nicht geschrieben werden: %2."},
    Entry{441,
          L"Die Datei %1 wurde abgelehnt: ihr Pfad w\u00fcrde aus dem Download-Ordner "
          L"hinausf\u00fchren."},
    Entry{442, L"Betroffene Datei: %1"},
    Entry{443,
          L"%1 kann nicht gestartet werden: Es ist ein Windows-Programm, und es wurde kein Wine "
          L"gefunden, um es auszuf\u00fchren (gesucht: %2). Installieren Sie Wine aus den "
          L"Paketen Ihres Systems oder Proton \u00fcber Steam und starten Sie den Launcher dann "
          L"erneut."},
    Entry{444,
          L"Es konnte kein Webbrowser ge\u00f6ffnet werden. \u00d6ffnen Sie diese Adresse, "
          L"um den neuen Launcher zu erhalten: %1"},
    Entry{445, L"Der Ordner %1 existiert nicht."},
    Entry{446, L"%1 ist kein Ordner."},
    Entry{447, L"In den Ordner %1 kann nicht geschrieben werden."},
    Entry{448, L"Suche nach Updates..."},
    Entry{449, L"Datei %1 von %2"},
    Entry{450, L"noch etwa %1"},
    Entry{451, L"Warte auf den Download-Server..."},
    Entry{452, L"&Durchsuchen..."},
    Entry{453, L"Neuer Versuch f\u00fcr %1 in %2 s (Versuch %3)."},
    Entry{454,
          L"Das Installationsprogramm des Patches endete mit dem Status %1, der Patch ist also "
          L"m\u00f6glicherweise nicht installiert. Beim n\u00e4chsten Start bietet der Launcher "
          L"ihn erneut an; die bereits heruntergeladenen Dateien bleiben erhalten."},
    Entry{455, L"%1 ist keine gew\u00f6hnliche Datei."},
    Entry{456, L"%1 kann nicht gelesen werden."},
    Entry{460,
          L"Velmora II wurde in %1 nicht gefunden. W\u00e4hlen Sie den Ordner, in dem Velmora II "
          L"installiert ist: den Ordner mit bin/velmora2.exe."},
    Entry{461,
          L"%1 enth\u00e4lt kein bin/velmora2.exe. W\u00e4hlen Sie den Ordner, in dem Velmora II "
          L"installiert ist."},
    Entry{462, L"Ordner &w\u00e4hlen..."},
    Entry{470,
          L"Sie k\u00f6nnen es erneut versuchen: Was bereits heruntergeladen ist, bleibt "
          L"erhalten, und der Download setzt dort wieder an. Sie k\u00f6nnen auch "
          L"zur\u00fcckgehen und einen anderen Ordner w\u00e4hlen oder ohne den Patch spielen."},
    Entry{471,
          L"Schaffen Sie Platz oder gehen Sie zur\u00fcck und w\u00e4hlen Sie einen anderen "
          L"Ordner; versuchen Sie es dann erneut. Oder spielen Sie ohne den Patch."},
    Entry{472, L"&Erneut versuchen"},
    Entry{473, L"&Ohne Patch spielen"},
    Entry{474, L"Spiel &starten"},
    Entry{475, L"Das Installationsprogramm des Patches wird gestartet..."},
    Entry{476, L"Alle %1 Dateien sind heruntergeladen und gepr\u00fcft."},
    Entry{477, L"Die Datei ist heruntergeladen und gepr\u00fcft."},
    Entry{478, L"Gr\u00f6\u00dfe des Patches: %1."},
    Entry{479, L"Bereits in diesem Ordner: %1."},
    Entry{480,
          L"Sie k\u00f6nnen ohne den Patch spielen; beim n\u00e4chsten Start wird er erneut "
          L"angeboten."},
    Entry{481, L"Versionshinweise"},
    Entry{482, L"Download-Fortschritt"},
    Entry{483, L"%1 kommt als Delta: %2 statt %3."},
    Entry{484, L"Insgesamt %1 geladen f\u00fcr %2 an Dateien (%3 als Delta)."},
    Entry{485, L"%1 kommt nun doch vollst\u00e4ndig: das Delta war nicht verwendbar."},
    Entry{490, L"das Zertifikat des Servers ist nicht vertrauensw\u00fcrdig"},
    Entry{491, L"das Zertifikat des Servers gilt f\u00fcr einen anderen Namen"},
    Entry{492, L"das Zertifikat des Servers ist abgelaufen"},
    Entry{493, L"Es konnte nicht nach Updates gesucht werden: %1. Das Spiel startet ohne sie."},
    Entry{494, L"begrenzt auf %1/s"},
};

}  // namespace

std::wstring LoadTableEntry(int tableId) {
    for (const Entry& entry : kTable)
        if (entry.id == tableId)
            return entry.text;
    for (const Entry& entry : kCauseTable)
        if (entry.id == tableId)
            return entry.text;
    return {};
}

std::wstring LoadMessage(int id) {
    // An index outside 0..2 would address no block of the table; it reads as a missing entry.
    if (LanguageIndex < 0 || LanguageIndex > 2)
        return {};
    return LoadTableEntry(id + 100 * LanguageIndex);
}

std::wstring LanguageName() {
    switch (LanguageIndex) {
        case 1:
            return L"French";
        case 2:
            return L"German";
        default:
            return L"English";
    }
}

std::wstring FormatMessageText(std::wstring_view format,
                               std::initializer_list<std::wstring_view> values) {
    std::wstring text;
    text.reserve(format.size());
    for (std::size_t pos = 0; pos < format.size(); ++pos) {
        const wchar_t ch = format[pos];
        if (ch == L'%' && pos + 1 < format.size() && format[pos + 1] >= L'1' &&
            format[pos + 1] <= L'9') {
            const auto index = static_cast<std::size_t>(format[pos + 1] - L'1');
            if (index < values.size()) {
                text += values.begin()[index];
                ++pos;
                continue;
            }
        }
        text += ch;
    }
    return text;
}
