// SPDX-License-Identifier: GPL-3.0-or-later
// Message catalogues through GNU gettext.
//
// glibc ignores every catalogue while the locale of LC_MESSAGES is "C", and "C" is what a process
// gets when the user's language has no installed locale (the usual case for an operator machine
// with LANG=ru_RU.UTF-8 but only C.UTF-8 installed). So the lookups run under a locale object of
// our own whose LC_MESSAGES is "C.UTF-8" (always present, and not "C" to gettext), installed for
// the calling thread only with uselocale() around each dgettext(), and the language comes from the
// LANGUAGE search list, which we derive from LANG. This leaves the process's global locale alone
// (Qt and number formatting keep theirs) and is safe on any thread. Translations are returned in
// UTF-8 whatever the catalogue's charset.
#include "platform/catalog.h"

#include <libintl.h>
#include <locale.h>
#include <sys/stat.h>

#include <cstdlib>
#include <mutex>
#include <set>
#include <vector>

#include "platform/catalog_paths.h"

namespace tavex::platform {

namespace {

// The domains bound at start: the port's error texts and the setup dialog.
constexpr const char* kStartDomains[] = {"default", "portsetup"};

struct CatalogState {
  std::mutex mutex;
  bool initialised = false;
  locale_t messages = static_cast<locale_t>(nullptr);
  std::vector<std::string> languages;  // full name first, then its first two letters
  std::vector<std::string> folders;    // where catalogues are looked for, in order
  std::set<std::string> bound;
};

CatalogState& State() {
  static CatalogState state;
  return state;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::vector<std::string> CatalogFolders() {
  std::vector<std::string> folders;
  if (const char* dir = std::getenv("TAVEX_LOCALE_DIR"); dir != nullptr && *dir != '\0') {
    folders.emplace_back(dir);
  }
  std::string exeDir = ExecutableDirectory();
  if (!exeDir.empty()) {
    folders.push_back(exeDir + "/locale");  // beside the executable
    // An installed tree: <prefix>/bin beside <prefix>/share. Our own folder first, since domain
    // names such as "default" would collide with other packages in the shared one.
    folders.push_back(exeDir + "/../share/tavex/locale");
    folders.push_back(exeDir + "/../share/locale");
  }
  return folders;
}

// Binds `domain` to the first folder that holds a catalogue of it in one of our languages.
void BindDomain(CatalogState& state, const std::string& domain) {
  state.bound.insert(domain);
  if (state.folders.empty()) return;
  std::string chosen = state.folders.front();
  for (const std::string& folder : state.folders) {
    bool found = false;
    for (const std::string& language : state.languages) {
      if (FileExists(folder + "/" + language + "/LC_MESSAGES/" + domain + ".mo")) found = true;
    }
    if (found) {
      chosen = folder;
      break;
    }
  }
  bindtextdomain(domain.c_str(), chosen.c_str());
  bind_textdomain_codeset(domain.c_str(), "UTF-8");
}

void InitLocked(CatalogState& state) {
  state.initialised = true;
  if (state.messages == static_cast<locale_t>(nullptr)) {
    state.messages = newlocale(LC_MESSAGES_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  }
  state.languages.clear();
  std::string language = CatalogLanguage();
  if (!language.empty() && language != "C" && language != "POSIX") {
    state.languages.push_back(language);
    if (language.size() > 2) state.languages.push_back(language.substr(0, 2));
  }
  std::string list;
  for (const std::string& l : state.languages) list += (list.empty() ? "" : ":") + l;
  if (!list.empty()) ::setenv("LANGUAGE", list.c_str(), 1);

  state.folders = CatalogFolders();
  std::set<std::string> domains = state.bound;
  for (const char* domain : kStartDomains) domains.insert(domain);
  for (const std::string& domain : domains) BindDomain(state, domain);
}

}  // namespace

std::string CatalogLanguage() {
  std::string language;
  if (const char* lang = std::getenv("LANG"); lang != nullptr && *lang != '\0') {
    language = lang;
  } else if (const char* current = ::setlocale(LC_MESSAGES, nullptr); current != nullptr) {
    language = current;
  }
  return language.substr(0, language.find('.'));
}

void InitCatalogs() {
  CatalogState& state = State();
  std::lock_guard lock(state.mutex);
  InitLocked(state);
}

std::string Translate(const char* domain, const std::string& text) {
  // An empty msgid would return the catalogue's header.
  if (domain == nullptr || text.empty()) return text;
  CatalogState& state = State();
  {
    std::lock_guard lock(state.mutex);
    if (!state.initialised) InitLocked(state);
    if (state.languages.empty() || state.messages == static_cast<locale_t>(nullptr)) return text;
    if (state.bound.count(domain) == 0) BindDomain(state, domain);
  }
  locale_t previous = ::uselocale(state.messages);
  const char* translated = ::dgettext(domain, text.c_str());
  ::uselocale(previous);
  return translated != nullptr ? std::string(translated) : text;
}

}  // namespace tavex::platform
