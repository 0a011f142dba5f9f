#include "cli/help_text.h"

#include <vector>

#include "cli/command_line.h"
#include "cli/console_output.h"
#include "common/build_config.h"
#include "update/update_check.h"

namespace holwerk {

namespace {

// Host reserved for documentation, so an example never reaches a real server.
constexpr char ExampleHost[] = "example.com";

// An option line: the label in a field of 23 characters after two blanks, so
// every description starts in column 26.
std::string OptionLine(const std::string& label, const std::string& description) {
    constexpr std::size_t LabelWidth = 23;
    const std::size_t padding = label.size() < LabelWidth ? LabelWidth - label.size() : 1;
    return "  " + label + std::string(padding, ' ') + description;
}

std::vector<std::string> HelpLines() {
    const std::string host = ExampleHost;
    return {
        VersionLine(),
        "Lädt eine HTTP- oder HTTPS-Ressource binärsicher in eine Datei.",
        "",
        "Aufruf:",
        "  holwerk [Optionen] URL [Datei]",
        "",
        "Optionen:",
        OptionLine("-h, --help", "Diese Hilfe anzeigen."),
        OptionLine("--version", "Programmversion anzeigen."),
        OptionLine("-head, --head", "Nur die Antwort-Header speichern."),
        OptionLine("--force", "Eine vorhandene Zieldatei ersetzen."),
        OptionLine("--quiet", "Nur Fehler ausgeben."),
        OptionLine("--timeout SEKUNDEN",
                   "Netzwerk-Timeout, Standard: " + std::to_string(DefaultTimeoutSeconds) + "."),
        OptionLine("--max-redirects ANZAHL",
                   "Weiterleitungen, Standard: " + std::to_string(DefaultRedirectLimit) + "."),
        OptionLine("--", "Ende der Optionsauswertung."),
        "",
        "Hinweise:",
        "  Ohne Protokoll wird https:// ergänzt.",
        "  Ohne Dateinamen wird holwerk.out verwendet.",
        "  Vorhandene Dateien werden nur mit --force ersetzt.",
        "  Beim Start wird höchstens einmal täglich nach Updates gesucht.",
        "  Eine erkannte neuere Version muss binnen " + std::to_string(UpdateDeadlineDays) +
            " Tagen installiert werden.",
        "  Die Abfrage enthält eine zufällige, lokal gespeicherte Installations-ID.",
        "",
        "Beispiele:",
        "  holwerk https://" + host + "/ seite.html",
        "  holwerk --head https://" + host + "/ header.txt",
        // Without a scheme, to show that "https://" is put in front.
        "  holwerk --force --timeout 60 " + host + " datei.bin",
        "",
        "Autor: Tolvik Software",
        "Kontakt: kontakt@tolvik.example",
        "Webseite: https://www.tolvik.example/holwerk/",
    };
}

}  // namespace

std::string VersionLine() { return std::string("Holwerk ") + CurrentVersion; }

void PrintVersion() { WriteOutputLine(VersionLine()); }

void PrintHelp() {
    for (const std::string& line : HelpLines()) WriteOutputLine(line);
}

}  // namespace holwerk
