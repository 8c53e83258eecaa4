#pragma once

#include <string>
#include <vector>

namespace qarn {

// Chooses the user-interface language, finds the language bundles ("qarnres_<code>.rcc") in the
// program folder and makes one of them the process's resource source: while it is loaded, every
// string, dialog template, icon and cursor lookup (app/Resources.h) is answered from it.
//
// Used on the main thread only, and Load/Unload only while no resource-backed window exists.
// Calling order of the application, once per run of the main dialog:
//     code = stored language, or GetDefaultLanguage() (then stored) -> Load(code)
//     -> main dialog -> Unload() -> again when the user picked another language.
class QarnPlonResourceHelper {
  public:
    // Scans the executable's folder, or the installed data folder beside it (BundleFolder).
    QarnPlonResourceHelper();
    // Scans `programFolder` instead (tests, or a program whose bundles lie elsewhere).
    explicit QarnPlonResourceHelper(std::string programFolder);
    virtual ~QarnPlonResourceHelper();

    QarnPlonResourceHelper(const QarnPlonResourceHelper&) = delete;
    QarnPlonResourceHelper& operator=(const QarnPlonResourceHelper&) = delete;

    // The first-run language: the cache file's code, or the user's locale when the cache gives
    // nothing, normalised ("deu" -> "DEU", "POL" -> "POR", locale fr_CA -> "FRA").
    std::string GetDefaultLanguage() const;

    // Scans again and loads the bundle of `code` (the locale's language when empty). When no
    // bundle has that code, the first one found is loaded instead and the program runs in its
    // language. False when the folder holds no bundle, or the chosen one cannot be registered
    // (the caller then shows "ResourceDll is missing!" and ends).
    bool Load(const std::string& code);

    // Unregisters the loaded bundle, if any, and forgets the scan.
    void Unload();

    // True when the last scan found a bundle whose code is `code`, case ignored.
    bool IsLanguageAvailable(const std::string& code) const;

    // The first scanned bundle whose code is `code`, case ignored; false for an empty code or
    // when there is none (`path` is then left as it was).
    bool FindLibrary(const std::string& code, std::string& path) const;

    // Registers the bundle at `path` as the resource source; on failure nothing changes.
    bool LoadLibraryFile(const std::string& path);

    // Lists the bundles of the program folder (sorted by name, case ignored).
    void ScanLibraries();

    bool IsLoaded() const { return m_loaded; }
    // Full path of the loaded bundle; empty when none is loaded.
    const std::string& LibraryPath() const { return m_libraryPath; }
    // The loaded bundle's code as its file name spells it ("deu" for qarnres_deu.rcc).
    const std::string& LanguageCode() const { return m_languageCode; }
    const std::vector<std::string>& Libraries() const { return m_libraries; }
    const std::string& ProgramFolder() const { return m_programFolder; }

  private:
    std::string m_programFolder;
    std::string m_libraryPath;
    std::string m_languageCode;
    // The file handed to the resource system; needed again, spelled the same, to unregister it.
    std::string m_registeredFile;
    std::vector<std::string> m_libraries;
    bool m_loaded = false;
};

} // namespace qarn
