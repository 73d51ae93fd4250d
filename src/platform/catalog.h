// SPDX-License-Identifier: GPL-3.0-or-later
// Message catalogues: GNU gettext catalogues in locale/<lang>/LC_MESSAGES/<domain>.mo beside the
// executable (and the installed locale directory), the language taken from LANG cut before ".",
// the full name tried first, then its first two letters. Works even when the process locale is
// "C" because the language's locale is not installed on the machine.
#pragma once

#include <string>

namespace tavex::platform {

// Binds the text domains to the catalogue folders; called once at start, safe to call again.
void InitCatalogs();
// The translation of `text` in `domain`, or `text` itself when no catalogue has one.
std::string Translate(const char* domain, const std::string& text);
// The language in use: LANG (or the system locale) cut before its first ".".
std::string CatalogLanguage();

}  // namespace tavex::platform
