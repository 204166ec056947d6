#pragma once
// The launcher speaks the language the player chose in the game: it is read from the game's
// profile file, below the user's local application-data folder.

#include <string>

// The profile file, "Velmora 2/Profile/Registry.xml" below the local application-data folder; false
// when the data folder is unknown or the path would be longer than a path buffer holds.
bool ProfilePath(std::wstring& out);

// Raises LanguageIndex to 1 (French) or 2 (German) when the profile names that language;
// leaves it alone otherwise (the caller sets it to 0 first). Reports nothing. Only a regular
// file of at most 1 MiB is read; anything else in its place counts as no profile.
void DetectLanguage();
