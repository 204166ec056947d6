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

}  // namespace

std::wstring LoadTableEntry(int tableId) {
    for (const Entry& entry : kTable)
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
