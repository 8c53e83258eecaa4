#pragma once

// Choosing the user-interface language and finding the language bundles on disk. Nothing here
// needs Qt: a language is a three-letter code ("DEU"), a bundle a file "qarnres_<code>.rcc" in
// the program folder.

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace qarn {

// The languages offered in the language menu, in menu order; the code at index i has the menu
// command 9000 + i. Normalisation can also yield "DAN" and "LVI", which are never offered.
const std::array<std::string, 8>& SupportedLanguages();

// Maps any text to a language code by its first two characters (case ignored) when it is exactly
// three characters long: "deu" -> "DEU", "DES" -> "DEU", "POL" -> "POR", "PTB" -> "POR",
// "NLD" -> "ENU". Any other length gives "ENU" ("DEU\r\n" -> "ENU", "" -> "ENU"). Characters are
// counted as UTF-8 code points, so a Latin-1 cache byte decoded to two UTF-8 bytes is one.
std::string NormalizeLanguageCode(std::string_view code);

// The locale's abbreviation: the language upper-cased plus the region's first letter.
// "de_CH.UTF-8" -> "DEC", "pt_BR" -> "PTB", "en_US@euro" -> "ENU". A locale that names only a
// two-letter language stands for its home region named like the language: "de" -> "DED".
// "C", "POSIX", "" and three-letter languages give texts that are not three letters long.
std::string LocaleAbbreviation(std::string_view locale);

// The user's language from the environment (LC_ALL, else LC_MESSAGES, else LANG; an empty
// variable counts as unset), normalised; "ENU" when the abbreviation is not three letters.
std::string SystemLanguageCode();

// The common application-data folder: $QARN_COMMON_APPDATA when set and not empty, else /var/lib.
std::string CommonAppDataFolder();

// Where the language cache is read from: "<common app data>/qarn/QarnPlonLangCache.lang" when
// that is a regular file of non-zero size, otherwise the same path followed by "/Language" (a
// file inside a folder that bears the cache file's name).
std::string LanguageCachePath();

// The cache's text: each byte one character of the same code point (Latin-1, returned as UTF-8),
// cut at the first zero byte, nothing trimmed. Empty when the file is missing, unreadable or not
// a regular file. At most the first 4 KiB are read: a code is three characters, and any longer
// text normalises to "ENU" whatever follows.
std::string ReadLanguageCache(const std::string& path);

// The language code of a bundle path: the three characters before the last four (".rcc").
// "/opt/q/qarnres_DEU.rcc" -> "DEU", "qarnres_deu.rcc" -> "deu". Empty for paths shorter than
// seven characters.
std::string CodeFromLibraryPath(std::string_view path);

// Full paths ("<folder>/<name>") of the entries of `folder` whose names match `pattern` ('*' any
// run, '?' one character, case ignored as the original platform's file search does), skipping
// folders (also through symbolic links) and not descending. Sorted by name, case ignored, so that
// "the first bundle found" is the same on every file system. Empty when the folder cannot be read.
std::vector<std::string> FindFiles(const std::string& folder, const std::string& pattern);

// Folder of the running executable without a trailing slash; empty when it cannot be read.
std::string ProgramFolder();

// Where the language bundles of a program in `programFolder` lie: that folder itself when it holds
// one (a build tree, or a copy of the program with its bundles beside it), else the installed
// layout's data folder beside it when that holds one ("/usr/bin" -> "/usr/share/qarn-converter-
// config"), else `programFolder`.
std::string BundleFolderFor(const std::string& programFolder);
// BundleFolderFor(ProgramFolder()).
std::string BundleFolder();

} // namespace qarn
