#pragma once
// Captions of the wizard's buttons that the launcher sets itself instead of taking the
// toolkit's own translation.

#include <string>

// The Back button's caption in the language: the word message 207 tells the player to press
// where the toolkit's translation uses another ("< &Retour" in French); empty where the
// toolkit's own caption already is that word.
std::wstring BackButtonCaption(int language);

// The caption with a keyboard accelerator ('&') before its first letter that no other button
// uses yet; taken holds the other buttons' captions. A caption that already has one, or whose
// every letter is taken, is returned as it is.
std::wstring WithAccelerator(const std::wstring& caption, const std::wstring& taken);

// The accelerator letters of a row of captions ("< &Back&Next >" gives "bn"), in lower case;
// "&&" is a plain ampersand.
std::wstring AcceleratorsOf(const std::wstring& captions);
