#include "i18n/MultiLanguage.h"

#include "i18n/UnicodeText.h"
#include "platform/DebugPrint.h"
#include "platform/ModuleDir.h"

#ifdef _WIN32
#include "platform/WideText.h"

#include <windows.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#endif

#include <algorithm>

namespace {

constexpr char kWindowText[] = "WindowText";

bool HasIniExtension(const std::string& fileName)
{
    return fileName.size() >= 4 && parvane::text::EqualsIgnoringCase(std::string_view(fileName).substr(fileName.size() - 4), ".ini");
}

#ifdef _WIN32
std::vector<std::string> ListIniFiles(const std::string& directory)
{
    std::vector<std::string> files;
    WIN32_FIND_DATAW entry{};
    HANDLE find = FindFirstFileW(parvane::Widen(directory + "/*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return files;
    do {
        const std::string name = parvane::Narrow(entry.cFileName);
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !HasIniExtension(name))
            continue;
        files.push_back(name);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    std::sort(files.begin(), files.end());
    return files;
}
#else
std::vector<std::string> ListIniFiles(const std::string& directory)
{
    std::vector<std::string> files;
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr)
        return files;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || !HasIniExtension(name))
            continue;
        struct stat info {};
        if (::stat((directory + "/" + name).c_str(), &info) != 0 || S_ISDIR(info.st_mode))
            continue;
        files.push_back(name);
    }
    ::closedir(dir);
    std::sort(files.begin(), files.end());
    return files;
}
#endif

} // namespace

CMultiLanguage::CMultiLanguage()
    : CMultiLanguage(GetModuleDir() + "Lang")
{
}

CMultiLanguage::CMultiLanguage(std::string directory)
    : m_strDirectory(std::move(directory))
{
    m_strCurrentName = "English";
    Enumerate();
}

std::vector<CMultiLanguage::Pack> CMultiLanguage::FindPacks()
{
    std::vector<Pack> packs;
    for (const std::string& file : ListIniFiles(m_strDirectory)) {
        Pack pack;
        pack.path = m_strDirectory + "/" + file;
        m_reader.SetFileName(pack.path);
        m_reader.ReadText("Language", "Language", pack.name);
        if (pack.name.empty()) {
            DebugPrint("Language pack %s has no [Language] Language name, skipped", pack.path.c_str());
            continue;
        }
        packs.push_back(std::move(pack));
    }
    return packs;
}

void CMultiLanguage::Enumerate()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Pack& pack : FindPacks()) {
        if (m_strCurrentFile.empty() && parvane::text::EqualsIgnoringCase(pack.name, m_strCurrentName))
            m_strCurrentFile = pack.path;
        m_paths.push_back(std::move(pack.path));
        m_names.push_back(std::move(pack.name));
    }
    if (m_strCurrentFile.empty() && !m_paths.empty())
        m_strCurrentFile = m_paths.front();
}

int CMultiLanguage::StartUpPackIndex() const
{
    for (size_t i = 0; i < m_names.size(); ++i)
        if (parvane::text::EqualsIgnoringCase(m_names[i], "English"))
            return static_cast<int>(i);
    return m_names.size() > 1 ? 1 : static_cast<int>(m_names.size()) - 1;
}

bool CMultiLanguage::SetLanguage(const std::string& name)
{
    if (std::find(m_names.begin(), m_names.end(), name) == m_names.end())
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Pack& pack : FindPacks()) {
        if (parvane::text::EqualsIgnoringCase(pack.name, name)) {
            m_strCurrentFile = pack.path;
            m_strCurrentName = name;
            return true;
        }
    }
    DebugPrint("Language pack \"%s\" is no longer in %s; keeping the current one", name.c_str(),
               m_strDirectory.c_str());
    return false;
}

std::string CMultiLanguage::LookUp(const std::string& key, const char* section)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_reader.SetFileName(m_strCurrentFile);
    std::string text;
    m_reader.ReadText(key, section, text);
    return text;
}

std::string CMultiLanguage::GetMessageText(int n)
{
    return LookUp("MESSAGE_" + std::to_string(n), kWindowText);
}

std::string CMultiLanguage::GetTooltipText(int n)
{
    return LookUp("TOOLTIP_" + std::to_string(n), kWindowText);
}

std::string CMultiLanguage::GetMenuText(int n)
{
    return LookUp("MENU_" + std::to_string(n), kWindowText);
}

std::string CMultiLanguage::GetSpectrumText(int n)
{
    return LookUp("SPECTRUM_" + std::to_string(n), kWindowText);
}

std::string CMultiLanguage::GetSurveyText(int n)
{
    return LookUp("SURVEY_" + std::to_string(n), kWindowText);
}

std::string CMultiLanguage::GetHelpFileName()
{
    return LookUp("FileName", "Help");
}

std::string CMultiLanguage::GetCaptionText(int dialogId)
{
    return LookUp("IDS_" + std::to_string(dialogId) + "_0000", kWindowText);
}

std::string CMultiLanguage::GetControlText(int dialogId, int controlId)
{
    return LookUp("IDS_" + std::to_string(dialogId) + "_" + std::to_string(controlId), kWindowText);
}

std::string CMultiLanguage::GetItemText(int dialogId, int controlId, int item)
{
    return LookUp("IDS_" + std::to_string(dialogId) + "_" + std::to_string(controlId) + "_" + std::to_string(item),
                  kWindowText);
}

std::string CMultiLanguage::GetCurrentName() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_strCurrentName;
}

std::string CMultiLanguage::GetCurrentFile() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_strCurrentFile;
}
