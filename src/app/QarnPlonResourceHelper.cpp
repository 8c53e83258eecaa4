#include "app/QarnPlonResourceHelper.h"

#include "app/LanguageCodes.h"
#include "diag/FileLogger.h"

#include <strings.h>
#include <utility>

#include <QResource>
#include <QString>

namespace qarn {

namespace {

constexpr const char* kBundlePattern = "qarnres_*.rcc";

bool SameCode(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

} // namespace

QarnPlonResourceHelper::QarnPlonResourceHelper() : QarnPlonResourceHelper(qarn::BundleFolder()) {}

QarnPlonResourceHelper::QarnPlonResourceHelper(std::string programFolder)
    : m_programFolder(std::move(programFolder)) {
    ScanLibraries();
}

QarnPlonResourceHelper::~QarnPlonResourceHelper() {
    Unload();
}

std::string QarnPlonResourceHelper::GetDefaultLanguage() const {
    std::string code = ReadLanguageCache(LanguageCachePath());
    if (code.empty())
        code = SystemLanguageCode();
    return NormalizeLanguageCode(code);
}

bool QarnPlonResourceHelper::Load(const std::string& code) {
    Unload();
    ScanLibraries();
    const std::string wanted = code.empty() ? SystemLanguageCode() : code;
    std::string path;
    if (FindLibrary(wanted, path))
        return LoadLibraryFile(path);
    if (!m_libraries.empty()) {
        if (IsInfoLogEnabled())
            LogInfo("QarnPlonResourceHelper::Load: no bundle for '" + wanted + "', using " +
                    m_libraries.front());
        return LoadLibraryFile(m_libraries.front());
    }
    if (IsErrorLogEnabled())
        LogError("QarnPlonResourceHelper::Load: no language bundle in " + m_programFolder);
    return false;
}

void QarnPlonResourceHelper::Unload() {
    m_libraryPath.clear();
    m_languageCode.clear();
    m_libraries.clear();
    if (!m_registeredFile.empty()) {
        QResource::unregisterResource(QString::fromStdString(m_registeredFile));
        m_registeredFile.clear();
    }
    m_loaded = false;
}

bool QarnPlonResourceHelper::IsLanguageAvailable(const std::string& code) const {
    std::string ignored;
    return FindLibrary(code, ignored);
}

bool QarnPlonResourceHelper::FindLibrary(const std::string& code, std::string& path) const {
    if (code.empty() || m_libraries.empty())
        return false;
    for (const std::string& library : m_libraries) {
        if (SameCode(CodeFromLibraryPath(library), code)) {
            path = library;
            return true;
        }
    }
    return false;
}

bool QarnPlonResourceHelper::LoadLibraryFile(const std::string& path) {
    if (!QResource::registerResource(QString::fromStdString(path))) {
        if (IsErrorLogEnabled())
            LogError("QarnPlonResourceHelper::LoadLibraryFile: cannot register " + path);
        return false;
    }
    // Only one bundle is ever the source: one registered earlier would shadow this one's texts.
    if (!m_registeredFile.empty())
        QResource::unregisterResource(QString::fromStdString(m_registeredFile));
    m_registeredFile = path;
    m_libraryPath = path;
    m_languageCode = CodeFromLibraryPath(path);
    m_loaded = true;
    return true;
}

void QarnPlonResourceHelper::ScanLibraries() {
    m_libraries.clear();
    m_libraries = FindFiles(m_programFolder, kBundlePattern);
}

} // namespace qarn
