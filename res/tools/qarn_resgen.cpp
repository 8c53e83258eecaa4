// Build-time helper: turns one language file plus the shared dialog templates, icons and cursors
// into the files of one language bundle and the Qt resource list (.qrc) that rcc packs.
//
//     qarn_resgen <res folder> <code> <output folder>
//
// reads   <res>/lang/<code>.txt, <res>/dialog/<id>.ui, <res>/icons/<id>-<px>.png,
//         <res>/cursors/<id>.png, <res>/cursors/hotspots.txt
// writes  <out>/strings/<id>, <out>/dialog/<id>.ui (texts filled in), <out>/qarnres_<code>.qrc
//
// Language file: UTF-8, one entry a line, "<id> = <text>" for the string table and
// "dialog.<objectName> = <text>" for the texts a dialog template names as @dialog.<objectName>@.
// Lines starting with '#' are comments. Blanks around '=' and at the line end are dropped; the
// escapes \n (line break), \t (tab), \s (blank, e.g. to keep one at the end) and \\ keep them.
// Any fault (bad line, unknown escape, duplicate, missing or unused dialog text, text that is not
// UTF-8) stops the build with "<file>:<line>: <reason>". The output depends on the inputs only.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& where, const std::string& why) {
    throw Failure(where + ": " + why);
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        Fail(path.string(), "cannot be read");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.flush())
        Fail(path.string(), "cannot be written");
}

bool IsValidUtf8(const std::string& text) {
    // Lead byte pattern -> number of continuation bytes, smallest code point, payload bits.
    struct Form {
        unsigned char mask, value;
        size_t extra;
        unsigned minimum;
    };
    static constexpr Form kForms[] = {
        {0xE0, 0xC0, 1, 0x80}, {0xF0, 0xE0, 2, 0x800}, {0xF8, 0xF0, 3, 0x10000}};
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        const Form* form = nullptr;
        for (const Form& candidate : kForms) {
            if ((lead & candidate.mask) == candidate.value)
                form = &candidate;
        }
        if (form == nullptr || i + form->extra >= text.size())
            return false;
        unsigned code = lead & static_cast<unsigned char>(~form->mask);
        for (size_t k = 1; k <= form->extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < form->minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += form->extra + 1;
    }
    return true;
}

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string Unescape(const std::string& raw, const std::string& where) {
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\') {
            out.push_back(raw[i]);
            continue;
        }
        if (++i == raw.size())
            Fail(where, "a backslash ends the line");
        switch (raw[i]) {
        case 'n':
            out.push_back('\n');
            break;
        case 't':
            out.push_back('\t');
            break;
        case 's':
            out.push_back(' ');
            break;
        case '\\':
            out.push_back('\\');
            break;
        default:
            Fail(where, std::string("unknown escape \\") + raw[i]);
        }
    }
    return out;
}

struct LanguageFile {
    std::map<unsigned, std::string> strings;
    std::map<std::string, std::string> dialogTexts; // objectName -> text
};

LanguageFile ParseLanguageFile(const fs::path& path) {
    static const std::regex kStringKey("[0-9]{1,5}");
    static const std::regex kDialogKey("dialog\\.([A-Za-z0-9_]+)");
    std::istringstream in(ReadFile(path));
    LanguageFile file;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string where = path.string() + ":" + std::to_string(number);
        if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0)
            line.erase(0, 3);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == '#')
            continue;
        const size_t equals = trimmed.find('=');
        if (equals == std::string::npos)
            Fail(where, "expected '<id> = <text>'");
        const std::string key = Trim(trimmed.substr(0, equals));
        const std::string text = Unescape(Trim(trimmed.substr(equals + 1)), where);
        if (text.empty())
            Fail(where, "no text for " + key);
        if (!IsValidUtf8(text))
            Fail(where, "text is not UTF-8");
        std::smatch match;
        if (std::regex_match(key, kStringKey)) {
            const unsigned long id = std::stoul(key);
            if (id > 65535)
                Fail(where, "string id above 65535");
            if (!file.strings.emplace(static_cast<unsigned>(id), text).second)
                Fail(where, "string " + key + " given twice");
        } else if (std::regex_match(key, match, kDialogKey)) {
            if (!file.dialogTexts.emplace(match[1].str(), text).second)
                Fail(where, key + " given twice");
        } else {
            Fail(where, "unknown key '" + key + "'");
        }
    }
    return file;
}

std::string XmlEscape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

// Replaces every @dialog.<name>@ of a template; notes which names were used.
std::string FillTemplate(const std::string& form, const fs::path& path,
                         const std::map<std::string, std::string>& texts,
                         std::set<std::string>& used) {
    static const std::regex kToken("@dialog\\.([A-Za-z0-9_]+)@");
    std::string out;
    auto last = form.cbegin();
    for (std::sregex_iterator it(form.begin(), form.end(), kToken), end; it != end; ++it) {
        const std::string name = (*it)[1].str();
        const auto found = texts.find(name);
        if (found == texts.end())
            Fail(path.string(), "no text for @dialog." + name + "@ in the language file");
        used.insert(name);
        out.append(last, (*it)[0].first);
        out += XmlEscape(found->second);
        last = (*it)[0].second;
    }
    out.append(last, form.cend());
    return out;
}

// Regular files of `folder` whose names match `pattern`, sorted by name.
std::vector<fs::path> Files(const fs::path& folder, const std::regex& pattern) {
    std::vector<fs::path> found;
    if (!fs::is_directory(folder))
        return found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file() && std::regex_match(entry.path().filename().string(), pattern))
            found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

void AddEntry(std::string& qrc, const std::string& alias, const fs::path& file) {
    qrc += "    <file alias=\"" + XmlEscape(alias) + "\">" + XmlEscape(file.string()) + "</file>\n";
}

void Generate(const fs::path& res, const std::string& code, const fs::path& out) {
    const LanguageFile language = ParseLanguageFile(res / "lang" / (code + ".txt"));
    std::string qrc = "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n  <qresource prefix=\"/qarnres\">\n";

    for (const auto& [id, text] : language.strings) {
        const std::string name = "strings/" + std::to_string(id);
        WriteFile(out / name, text);
        AddEntry(qrc, name, fs::absolute(out / name));
    }

    std::set<std::string> used;
    for (const fs::path& form : Files(res / "dialog", std::regex("[0-9]+\\.ui"))) {
        const std::string name = "dialog/" + form.filename().string();
        WriteFile(out / name, FillTemplate(ReadFile(form), form, language.dialogTexts, used));
        AddEntry(qrc, name, fs::absolute(out / name));
    }
    for (const auto& [objectName, text] : language.dialogTexts) {
        if (!used.count(objectName))
            Fail((res / "lang" / (code + ".txt")).string(),
                 "dialog." + objectName + " is used by no dialog template");
    }

    static const std::regex kIcon("([0-9]+)-([0-9]+)\\.png");
    for (const fs::path& icon : Files(res / "icons", kIcon)) {
        std::smatch match;
        const std::string file = icon.filename().string();
        std::regex_match(file, match, kIcon);
        AddEntry(qrc, "icons/" + match[1].str() + "/" + match[2].str() + ".png",
                 fs::absolute(icon));
    }

    const fs::path hotspots = res / "cursors" / "hotspots.txt";
    const std::string hotspotText = ReadFile(hotspots);
    for (const fs::path& cursor : Files(res / "cursors", std::regex("[0-9]+\\.png"))) {
        const std::string id = cursor.stem().string();
        if (!std::regex_search(hotspotText,
                               std::regex("(^|\\n)" + id + "[ \\t]+[0-9]+[ \\t]+[0-9]+")))
            Fail(hotspots.string(), "no hot spot for cursor " + id);
        AddEntry(qrc, "cursors/" + cursor.filename().string(), fs::absolute(cursor));
    }
    AddEntry(qrc, "cursors/hotspots.txt", fs::absolute(hotspots));

    qrc += "  </qresource>\n</RCC>\n";
    WriteFile(out / ("qarnres_" + code + ".qrc"), qrc);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: qarn_resgen <res folder> <code> <output folder>\n");
        return 2;
    }
    try {
        Generate(argv[1], argv[2], argv[3]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "qarn_resgen: %s\n", error.what());
        return 1;
    }
    return 0;
}
